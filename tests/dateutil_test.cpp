#include "lib/dateutil.hpp"

#include <gtest/gtest.h>

#include <regex>

#include "support/log_capture.hpp"

TEST(Dateutil, RowTimeStampFitsExactlyTwentyBytesAndFollowsTheTimeZone) {
    LogCapture log;
    std::string stamp = date_format_now("%Y-%m-%d,%H:%M:%S", 20);
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d)"))) << stamp;
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(date_format_now("%Y-%m-%d,%H:%M:%S", 19), "");
    EXPECT_TRUE(log.has(LOG_ERR, ") The time string exceeds the given buffer, or is empty."));
    // A change of time zone shows in the next stamp.
    const char* old = std::getenv("TZ");
    std::string saved = old != nullptr ? old : "";
    setenv("TZ", "UTC0", 1);
    int utc = std::stoi(date_format_now("%H", 20));
    setenv("TZ", "JST-9", 1);
    int jst = std::stoi(date_format_now("%H", 20));
    old != nullptr ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    EXPECT_EQ((utc + 9) % 24, jst);
}
