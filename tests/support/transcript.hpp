// Golden transcripts: what the code under test printed and logged, compared with a data file.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/device_root.hpp"
#include "support/log_capture.hpp"

#define KELVANE_TEST_DATA KELVANE_SOURCE_DIR "/tests/data/"

// The file `name` below tests/data/; a failure when it is missing.
inline std::string test_data(const std::string& name) {
    std::optional<std::string> text = read_file(KELVANE_TEST_DATA + name);
    EXPECT_TRUE(text.has_value()) << name;
    return text.value_or("");
}

// What `answer` writes to standard output.
template <typename F>
std::string printed(F answer) {
    testing::internal::CaptureStdout();
    answer();
    return testing::internal::GetCapturedStdout();
}

// One "level text" line per message logged so far, source lines shown as "L"; the capture starts
// again empty.
inline std::string take_log(LogCapture& log) {
    static const std::regex source_line(R"(^\((lib/\w+):\d+, )");
    std::string out;
    for (const auto& [level, text] : log.entries()) {
        out +=
            std::to_string(level) + " " + std::regex_replace(text, source_line, "($1:L, ") + "\n";
    }
    log.clear();
    return out;
}
