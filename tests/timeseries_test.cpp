#include "lib/timeseries.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/device_root.hpp"
#include "support/log_capture.hpp"

#define LOG_MODULE "lib/collector"

namespace fs = std::filesystem;

TEST(Timeseries, HeaderOnlyForANewFileTheFilesOwnLineEndingAndTheCallersModule) {
    DeviceRoot dev;
    LogCapture log;
    std::string folder = monitoring_folder(dev.root() + "/s", "monitoring_load");
    EXPECT_FALSE(CSV_APPEND_ROW(folder + "/load.csv", "Date,Time,A", ",1", "\r\n"));  // no folder
    EXPECT_TRUE(log.has(LOG_ERR, "(lib/collector:"));
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + folder + "/load.csv'"));
    make_dirs(dev.root() + "/s/system_monitoring/monitoring_load");
    EXPECT_TRUE(CSV_APPEND_ROW(folder + "/load.csv", "Date,Time,A", ",1", "\r\n"));
    auto fds = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    auto open_before = fds();
    EXPECT_TRUE(CSV_APPEND_ROW(folder + "/load.csv", "Date,Time,A", ",2", "\r\n"));
    EXPECT_EQ(fds(), open_before);  // nothing kept open between samples
    EXPECT_EQ(read_stamped(folder + "/load.csv"), "Date,Time,A\r\nT,1\r\nT,2\r\n");
    EXPECT_EQ(log.entries().size(), 1u);
}
