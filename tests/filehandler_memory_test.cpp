#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "lib/filehandler.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

TEST(Meminfo, LinesOfThisMachineAndOddOnesOneFileForEveryField) {
    DeviceRoot dev;
    LogCapture log;
    std::string session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK").session_path;
    std::string folder = session + "/system_monitoring/monitoring_meminfo/";
    store_proc_meminfo(session);  // no /proc/meminfo
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + dev.path("/proc/meminfo") + "'"));
    dev.write("/proc/meminfo", "MemTotal:       24683748 kB\nBroken line\nEmpty:\n");
    store_proc_meminfo(session);
    store_proc_meminfo(session);
    EXPECT_EQ(read_stamped(folder + "MemTotal.csv"),
              "Date,Time,Memory MemTotal (kB)\r\nT,24683748\r\nT,24683748\r\n");
    EXPECT_EQ(read_stamped(folder + "Empty.csv"), "Date,Time,Memory Empty (kB)\r\nT,\r\nT,\r\n");
    EXPECT_TRUE(log.has(LOG_WARNING, "Skipping Broken line"));
}

TEST(LoadAverage, ValuesAfterAverageAndAMissingAverageReportedOnceUntilItIsBack) {
    DeviceRoot dev;
    LogCapture log;
    BusyBoxPath busybox;
    std::string session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK").session_path;
    std::string uptime = busybox.dir() + "/uptime";
    std::string message = "[Kelvane]: Unable to read the load average using the command 'uptime'.";
    auto run_double = [&](const std::string& output) {  // what BusyBox never prints
        write_file(uptime, "#!/bin/sh\nprintf '%s' '" + output + "'\n");
        std::filesystem::permissions(uptime, std::filesystem::perms::owner_all);
        store_load_avg_info_no_retention(session);
    };
    store_load_avg_info_no_retention(session);  // BusyBox; a good run also re-arms the message
    run_double("up 3 days\n");
    run_double("up 3 days\n");
    EXPECT_EQ(log.count(message), 1u);
    run_double(" 1:00 up,  load average: 0.15, 0.20, 0.18\nx, average: 9\n");
    run_double("\n");
    EXPECT_EQ(log.count(message), 2u);
    std::filesystem::remove(uptime);
    setenv("PATH", busybox.dir().c_str(), 1);  // no uptime at all: a row of empty values
    store_load_avg_info_no_retention(session);
    std::string loads = R"(\d+\.\d\d,\d+\.\d\d,\d+\.\d\d)";
    EXPECT_EQ(
        std::regex_replace(read_stamped(session + "/system_monitoring/monitoring_load/load.csv"),
                           std::regex(loads), "BUSYBOX", std::regex_constants::format_first_only),
        "Date,Time,Load average (1 min),Load average (5 min),Load average (15 min)\r\n"
        "T,BUSYBOX\r\nT,0.15,0.20,0.18\r\nT,,,\r\n");
}
