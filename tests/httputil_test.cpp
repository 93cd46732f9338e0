#include "lib/httputil.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

const std::string kBadRequest =
    "Status: 400 Bad Request\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n\r\n";

template <typename F>
std::string printed(F answer) {
    testing::internal::CaptureStdout();
    answer();
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(Httputil, AnswersByteForByte) {
    DeviceRoot dev;
    LogCapture log;
    EXPECT_EQ(printed([] { http_print_bad_request(""); }), kBadRequest);
    EXPECT_EQ(printed([] { http_print_bad_request(nullptr); }), kBadRequest);
    EXPECT_EQ(printed([] { http_print_bad_request("Invalid address: a;b\n100%s"); }),
              kBadRequest + "Invalid address: a;b\n100%s");
    std::string large;
    for (int i = 0; i < 2500; ++i) {
        large += static_cast<char>('a' + i % 26);
    }
    const std::string binary("\x00\x01\xff\r\n\x00%s\x80", 9);
    for (const std::string& contents : {std::string(), large, binary}) {
        dev.write("/answer", contents);
        EXPECT_EQ(printed([&] { http_print_file(dev.path("/answer").c_str()); }), contents);
    }
    EXPECT_TRUE(log.entries().empty());
}

TEST(Httputil, FileThatCannotBeOpenedLeavesTheAnswerAlone) {
    DeviceRoot dev;
    LogCapture log;
    const std::string missing = dev.path("/no/such/file");
    EXPECT_EQ(printed([&] { http_print_file(missing.c_str()); }), "");
    EXPECT_EQ(printed([] { http_print_file(nullptr); }), "");
    ASSERT_EQ(log.entries().size(), 2u);
    EXPECT_TRUE(
        log.has(LOG_ERR, ", errno: No such file or directory) Failed to open file: " + missing));
    EXPECT_TRUE(log.has(LOG_ERR, ", errno: Invalid argument) Failed to open file: (null)"));
}
