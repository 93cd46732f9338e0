#include "lib/dateutil.hpp"

#include <gtest/gtest.h>

#include "support/log_capture.hpp"

TEST(Dateutil, RowTimeStampFitsExactlyTwentyBytesAndFollowsTheTimeZone) {
    LogCapture log;
    EXPECT_EQ(date_format_now("%Y-%m-%d,%H:%M:%S", 20).size(), 19u);
    EXPECT_EQ(date_format_now("%Y-%m-%d,%H:%M:%S", 19), "");
    EXPECT_TRUE(log.has(LOG_ERR, ") The time string exceeds the given buffer, or is empty."));
    // A change of time zone shows in the next stamp.
    const char* old = std::getenv("TZ");
    std::string saved = old != nullptr ? old : "";
    setenv("TZ", "UTC0", 1);
    EXPECT_EQ(date_format_now("%z", 20), "+0000");
    setenv("TZ", "JST-9", 1);
    EXPECT_EQ(date_format_now("%z", 20), "+0900");
    old != nullptr ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
}
