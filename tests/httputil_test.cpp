#include "lib/httputil.hpp"

#include <gtest/gtest.h>

#include "support/transcript.hpp"

TEST(Httputil, AnswersByteForByte) {
    LogCapture log;
    EXPECT_EQ(printed([] {
                  http_print_bad_request("Invalid address: a;b\n100%s");
                  http_print_bad_request(nullptr);
                  http_print_file(KELVANE_TEST_DATA "httputil/text_2500");
                  http_print_file(KELVANE_TEST_DATA "httputil/binary");
                  http_print_file("/dev/null");
              }),
              test_data("httputil/answers.expected"));
    EXPECT_EQ(take_log(log), "");
}

TEST(Httputil, FileThatCannotBeOpenedLeavesTheAnswerAlone) {
    LogCapture log;
    EXPECT_EQ(printed([] {
                  http_print_file(KELVANE_TEST_DATA "httputil/missing");
                  http_print_file(nullptr);
              }),
              "");
    EXPECT_EQ(take_log(log),
              "3 (lib/httputil:L, errno: No such file or directory) Failed to open "
              "file: " KELVANE_TEST_DATA
              "httputil/missing\n3 (lib/httputil:L, "
              "errno: Invalid argument) Failed to open file: (null)\n");
}
