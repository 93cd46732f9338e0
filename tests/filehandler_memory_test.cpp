#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "lib/filehandler.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

using Field = std::optional<std::pair<std::string, std::string>>;
using Loads = std::optional<std::array<std::string, 3>>;

// Puts `dir` first on PATH for as long as it lives.
class PathFirst {
  public:
    explicit PathFirst(const std::string& dir) : old_(getenv("PATH") ? getenv("PATH") : "") {
        setenv("PATH", (dir + ":" + old_).c_str(), 1);
    }
    ~PathFirst() { setenv("PATH", old_.c_str(), 1); }

  private:
    std::string old_;
};

// A folder holding `uptime` as a link to BusyBox, as on the device.
std::string busybox_tools(const DeviceRoot& dev) {
    std::string dir = dev.root() + "/busybox-bin";
    make_dirs(dir);
    EXPECT_EQ(symlink("/bin/busybox", (dir + "/uptime").c_str()), 0);
    return dir;
}

// A folder holding an `uptime` that prints `output`, for what BusyBox never prints.
std::string uptime_double(const DeviceRoot& dev, const std::string& output) {
    std::string dir = dev.root() + "/double-bin";
    write_file(dir + "/uptime", "#!/bin/sh\nprintf '%s' '" + output + "'\n");
    chmod((dir + "/uptime").c_str(), 0755);
    return dir;
}

const std::string kLoadHeader =
    "Date,Time,Load average (1 min),Load average (5 min),Load average (15 min)\r\n";

}  // namespace

TEST(Meminfo, LinesOfThisMachineAndOddOnes) {
    std::istringstream real(read_file("/proc/meminfo").value());
    for (std::string line; std::getline(real, line);) {
        Field field = parse_meminfo_line(line);
        EXPECT_TRUE(field && std::regex_match(field->second, std::regex("[0-9]+"))) << line;
    }
    EXPECT_EQ(parse_meminfo_line("Active(anon):\t512 kB"), Field({"Active(anon)", "512"}));
    for (const char* skipped : {"no colon 12", ": 12", "../../x: 12"}) {
        EXPECT_EQ(parse_meminfo_line(skipped), std::nullopt);
    }
}

TEST(Meminfo, OneFileForEveryField) {
    DeviceRoot dev;
    LogCapture log;
    LaidSession session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    std::string folder = session.session_path + "/system_monitoring/monitoring_meminfo";
    store_proc_meminfo(session.session_path);  // no /proc/meminfo
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + dev.path("/proc/meminfo") + "'"));
    std::string meminfo = "MemTotal:       24683748 kB\nBroken line\nEmpty:\n";
    dev.write("/proc/meminfo", meminfo);
    store_proc_meminfo(session.session_path);
    EXPECT_EQ(read_stamped(folder + "/MemTotal.csv"),
              "Date,Time,Memory MemTotal (kB)\r\nT,24683748\r\n");
    EXPECT_EQ(read_stamped(folder + "/Empty.csv"), "Date,Time,Memory Empty (kB)\r\nT,\r\n");
    EXPECT_TRUE(log.has(LOG_WARNING, "Skipping Broken line"));

    // A field that appears later gets its own file from then on.
    dev.write("/proc/meminfo", meminfo + "NewField:      7 kB\n");
    store_proc_meminfo(session.session_path);
    EXPECT_EQ(read_stamped(folder + "/MemTotal.csv"),
              "Date,Time,Memory MemTotal (kB)\r\nT,24683748\r\nT,24683748\r\n");
    EXPECT_EQ(read_stamped(folder + "/NewField.csv"), "Date,Time,Memory NewField (kB)\r\nT,7\r\n");
}

TEST(LoadAverage, ValuesCutFromTheTextAfterAverage) {
    EXPECT_EQ(parse_load_average(" 06:42:32 up 11 min,  0 users,  load average: 0.00, 0.03, 0.02"),
              Loads({"0.00", "0.03", "0.02"}));
    EXPECT_EQ(parse_load_average("load average: 1.00, 0.50"), Loads({"1.00", "0.50", "1.00"}));
    EXPECT_EQ(parse_load_average("load average: 0.15"), Loads({"0.15", "0.15", "0.15"}));
    EXPECT_EQ(parse_load_average("load average:1,2,3"), Loads({"1", "2", "3"}));
    EXPECT_EQ(parse_load_average("average: 1,  2, 3, 4"), Loads({"1", " 2", "3, 4"}));
    EXPECT_EQ(parse_load_average("up 3 days, load: 1.00"), std::nullopt);
}

TEST(LoadAverage, BusyBoxRowsAndAMissingAverageReportedOnceUntilItIsBack) {
    DeviceRoot dev;
    LogCapture log;
    LaidSession session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    std::string file = session.session_path + "/system_monitoring/monitoring_load/load.csv";
    std::string message = "[Kelvane]: Unable to read the load average using the command 'uptime'.";
    auto run_with = [&](const std::string& dir) {
        PathFirst path(dir);
        store_load_avg_info_no_retention(session.session_path);
    };
    run_with(busybox_tools(dev));  // a good run also re-arms the message
    run_with(uptime_double(dev, "up 3 days\n"));
    run_with(uptime_double(dev, "up 3 days\n"));
    EXPECT_EQ(log.count(message), 1u);
    run_with(uptime_double(dev, " 1:00 up,  load average: 0.15, 0.20, 0.18\nx, average: 9\n"));
    run_with(uptime_double(dev, ""));  // no output at all: a row of empty values
    run_with(uptime_double(dev, "\n"));
    EXPECT_EQ(log.count(message), 2u);
    std::string path = getenv("PATH");
    setenv("PATH", dev.root().c_str(), 1);  // no uptime at all: empty values as well
    store_load_avg_info_no_retention(session.session_path);
    setenv("PATH", path.c_str(), 1);
    std::string loads = R"(\d+\.\d\d,\d+\.\d\d,\d+\.\d\d)";
    EXPECT_EQ(std::regex_replace(read_stamped(file), std::regex(loads), "BUSYBOX",
                                 std::regex_constants::format_first_only),
              kLoadHeader + "T,BUSYBOX\r\nT,0.15,0.20,0.18\r\nT,,,\r\nT,,,\r\n");
}
