#include "lib/timeseries.hpp"

#include <gtest/gtest.h>

#include <regex>

#include "lib/log.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

#define LOG_MODULE "lib/collector"

TEST(Timeseries, HeaderOnlyForANewFileAndTheFilesOwnLineEnding) {
    DeviceRoot dev;
    LogCapture log;
    std::string folder = monitoring_folder(dev.root() + "/s", "monitoring_load");
    EXPECT_EQ(folder, dev.root() + "/s/system_monitoring/monitoring_load");
    make_dirs(folder);
    std::string file = folder + "/load.csv";
    EXPECT_TRUE(CSV_APPEND_ROW(file, "Date,Time,A", ",1", "\r\n"));
    EXPECT_TRUE(CSV_APPEND_ROW(file, "Date,Time,A", ",2", "\r\n"));
    std::string stamp = R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d)";
    EXPECT_TRUE(std::regex_match(
        *read_file(file), std::regex("Date,Time,A\r\n" + stamp + ",1\r\n" + stamp + ",2\r\n")));
    EXPECT_TRUE(log.entries().empty());
}

TEST(Timeseries, MissingFolderOrDirectoryLogsOpenFailureAndWritesNothing) {
    DeviceRoot dev;
    LogCapture log;
    std::string missing = dev.root() + "/none/x.csv";
    EXPECT_FALSE(CSV_APPEND_ROW(missing, "H", ",1", "\n"));
    EXPECT_TRUE(log.has(LOG_ERR, "(lib/collector:"));
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + missing + "'"));

    make_dirs(dev.root() + "/dir.csv");
    EXPECT_FALSE(CSV_APPEND_ROW(dev.root() + "/dir.csv", "H", ",1", "\n"));
    EXPECT_EQ(log.entries().size(), 2u);
}
