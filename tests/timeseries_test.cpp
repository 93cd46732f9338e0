#include "lib/timeseries.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "lib/dateutil.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

#define LOG_MODULE "lib/collector"

namespace fs = std::filesystem;

// The collectors' golden files show the rows, the header of a new file, the line endings and
// the failures; not these: no descriptor is kept between samples, and the time stamp fits
// exactly twenty bytes and follows a change of time zone.
TEST(Timeseries, NothingKeptOpenBetweenSamplesAndTheStampFollowsTheTimeZone) {
    DeviceRoot dev;
    LogCapture log;
    std::string file = dev.root() + "/load.csv";
    auto fds = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    EXPECT_TRUE(CSV_APPEND_ROW(file, "Date,Time,A", ",1", "\n"));
    auto open_before = fds();
    EXPECT_TRUE(CSV_APPEND_ROW(file, "Date,Time,A", ",2", "\n"));
    EXPECT_EQ(fds(), open_before);
    EXPECT_EQ(date_format_now("%Y-%m-%d,%H:%M:%S", 20).size(), 19u);
    EXPECT_EQ(date_format_now("%Y-%m-%d,%H:%M:%S", 19), "");
    EXPECT_TRUE(log.has(LOG_ERR, ") The time string exceeds the given buffer, or is empty."));
    const char* old = std::getenv("TZ");
    std::string saved = old != nullptr ? old : "";
    setenv("TZ", "UTC0", 1);
    EXPECT_EQ(date_format_now("%z", 20), "+0000");
    setenv("TZ", "JST-9", 1);
    EXPECT_EQ(date_format_now("%z", 20), "+0900");
    old != nullptr ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
}
