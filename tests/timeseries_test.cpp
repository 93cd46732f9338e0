#include "lib/timeseries.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/device_root.hpp"

#define LOG_MODULE "lib/collector"

namespace fs = std::filesystem;

// The collectors' golden files show the rows, the header of a new file, the line endings and
// the failures; not this: no descriptor is kept between samples.
TEST(Timeseries, NothingKeptOpenBetweenSamples) {
    DeviceRoot dev;
    std::string file = dev.root() + "/load.csv";
    auto fds = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    EXPECT_TRUE(CSV_APPEND_ROW(file, "Date,Time,A", ",1", "\n"));
    auto open_before = fds();
    EXPECT_TRUE(CSV_APPEND_ROW(file, "Date,Time,A", ",2", "\n"));
    EXPECT_EQ(fds(), open_before);
}
