#include "lib/httputil.hpp"

#include <gtest/gtest.h>

#include "support/transcript.hpp"

namespace {

template <typename F>
std::string printed(F answer) {
    testing::internal::CaptureStdout();
    answer();
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(Httputil, AnswersByteForByte) {
    LogCapture log;
    EXPECT_EQ(printed([] { http_print_bad_request("Invalid address: a;b\n100%s"); }),
              test_data("httputil/bad_request.expected"));
    EXPECT_EQ(printed([] { http_print_bad_request(nullptr); }),
              test_data("httputil/empty_request.expected"));
    for (const char* name : {"httputil/text_2500", "httputil/binary", "httputil/empty"}) {
        EXPECT_EQ(
            printed([&] { http_print_file((KELVANE_TEST_DATA + std::string(name)).c_str()); }),
            test_data(name));
    }
    EXPECT_EQ(take_log(log), "");
}

TEST(Httputil, FileThatCannotBeOpenedLeavesTheAnswerAlone) {
    LogCapture log;
    EXPECT_EQ(printed([] { http_print_file(KELVANE_TEST_DATA "httputil/missing"); }), "");
    EXPECT_EQ(printed([] { http_print_file(nullptr); }), "");
    EXPECT_EQ(take_log(log),
              "3 (lib/httputil:L, errno: No such file or directory) Failed to open "
              "file: " KELVANE_TEST_DATA
              "httputil/missing\n3 (lib/httputil:L, errno: Invalid argument) Failed to open file: "
              "(null)\n");
}
