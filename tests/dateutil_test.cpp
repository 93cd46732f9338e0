#include "lib/dateutil.hpp"

#include <gtest/gtest.h>

#include <regex>

#include "support/log_capture.hpp"

TEST(Dateutil, RowTimeStampFitsExactlyTwentyBytes) {
    LogCapture log;
    std::string stamp = date_format_now("%Y-%m-%d,%H:%M:%S", 20);
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d)"))) << stamp;
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(date_format_now("%Y-%m-%d,%H:%M:%S", 19), "");
    EXPECT_TRUE(log.has(LOG_ERR, ") The time string exceeds the given buffer, or is empty."));
}
