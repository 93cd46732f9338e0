#include "lib/eventlistener.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

#include "support/transcript.hpp"

// A captured stream, fed line by line, must log exactly the expected lines (level, text); the
// source line and the errno text of the prefix are not part of the contract.
TEST(Eventlistener, StreamGivesTheExpectedLogLines) {
    std::istringstream stream(test_data("eventlistener/stream.txt"));
    LogCapture log;
    for (std::string line; std::getline(stream, line);) {
        parse_eventlistener_line(line.data());
    }
    EXPECT_EQ(std::regex_replace(take_log(log), std::regex("errno: [^)]*"), "errno: E"),
              test_data("eventlistener/expected.log"));
}
