#include "lib/timeseries.hpp"

#include <gtest/gtest.h>

#include "lib/log.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

#define LOG_MODULE "lib/collector"

TEST(Timeseries, HeaderOnlyForANewFileTheFilesOwnLineEndingAndTheCallersModule) {
    DeviceRoot dev;
    LogCapture log;
    std::string file = monitoring_folder(dev.root() + "/s", "monitoring_load") + "/load.csv";
    EXPECT_EQ(file, dev.root() + "/s/system_monitoring/monitoring_load/load.csv");
    EXPECT_FALSE(CSV_APPEND_ROW(file, "Date,Time,A", ",1", "\r\n"));  // no folder
    EXPECT_TRUE(log.has(LOG_ERR, "(lib/collector:"));
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + file + "'"));
    make_dirs(dev.root() + "/s/system_monitoring/monitoring_load");
    EXPECT_TRUE(CSV_APPEND_ROW(file, "Date,Time,A", ",1", "\r\n"));
    EXPECT_TRUE(CSV_APPEND_ROW(file, "Date,Time,A", ",2", "\r\n"));
    EXPECT_EQ(read_stamped(file), "Date,Time,A\r\nT,1\r\nT,2\r\n");
    EXPECT_EQ(log.entries().size(), 1u);
}
