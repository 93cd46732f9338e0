#include "lib/httputil.hpp"

#include <gtest/gtest.h>

#include "support/transcript.hpp"

// A file that cannot be opened adds nothing to the answer, only a log line.
TEST(Httputil, AnswersByteForByte) {
    LogCapture log;
    EXPECT_EQ(printed([] {
                  http_print_bad_request("Invalid address: a;b\n100%s");
                  http_print_bad_request(nullptr);
                  http_print_file(KELVANE_TEST_DATA "httputil/text_2500");
                  http_print_file(KELVANE_TEST_DATA "httputil/binary");
                  http_print_file("/dev/null");
                  http_print_file(KELVANE_TEST_DATA "httputil/missing");
                  http_print_file(nullptr);
              }),
              test_data("httputil/answers.expected"));
    EXPECT_EQ(std::regex_replace(take_log(log), std::regex(KELVANE_TEST_DATA), "@DATA@"),
              test_data("httputil/answers.log"));
}
