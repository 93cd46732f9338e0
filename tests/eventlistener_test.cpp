#include "lib/eventlistener.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

#include "support/device_root.hpp"
#include "support/log_capture.hpp"

// A captured stream, fed line by line, must leave every line as it was and log exactly the
// expected lines (level, text); the source line and the errno text of the prefix are not part of
// the contract.
TEST(Eventlistener, StreamGivesTheExpectedLogLines) {
    const std::string dir = KELVANE_SOURCE_DIR "/tests/data/eventlistener/";
    std::istringstream stream(read_file(dir + "stream.txt").value_or(""));
    LogCapture log;
    std::string line;
    while (std::getline(stream, line)) {
        std::string given = line;
        parse_eventlistener_line(given.data());
        EXPECT_EQ(given, line);
    }
    std::string logged;
    for (const auto& [level, text] : log.entries()) {
        logged += std::to_string(level) + " " + text + "\n";
    }
    logged = std::regex_replace(logged, std::regex(R"(\(lib/eventlistener:\d+, errno: [^)]*\))"),
                                "(lib/eventlistener:L, errno: E)");
    EXPECT_EQ(logged, read_file(dir + "expected.log"));
}
