#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "lib/filehandler.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

using Field = std::optional<std::pair<std::string, std::string>>;
using Loads = std::optional<std::array<std::string, 3>>;

// The file's text with every time stamp replaced by STAMP.
std::string unstamped(const std::optional<std::string>& text) {
    return std::regex_replace(text.value_or("<missing>"),
                              std::regex(R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d)"), "STAMP");
}

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
    const char* busybox =
        access("/usr/bin/busybox", X_OK) == 0 ? "/usr/bin/busybox" : "/bin/busybox";
    EXPECT_EQ(symlink(busybox, (dir + "/uptime").c_str()), 0);
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

TEST(Meminfo, LinesGiveFieldAndNumber) {
    EXPECT_EQ(parse_meminfo_line("MemFree:        23749176 kB"), Field({"MemFree", "23749176"}));
    EXPECT_EQ(parse_meminfo_line("HugePages_Total:       0"), Field({"HugePages_Total", "0"}));
    EXPECT_EQ(parse_meminfo_line("Active(anon):\t512 kB"), Field({"Active(anon)", "512"}));
    EXPECT_EQ(parse_meminfo_line("Empty:   kB"), Field({"Empty", ""}));
    EXPECT_EQ(parse_meminfo_line("no colon 12"), std::nullopt);
    EXPECT_EQ(parse_meminfo_line(": 12"), std::nullopt);
    EXPECT_EQ(parse_meminfo_line("../../x: 12"), std::nullopt);

    std::string text = read_file("/proc/meminfo").value();
    std::regex number("[0-9]+");
    size_t at = 0, lines = 0;
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1, ++lines) {
        Field field = parse_meminfo_line(text.substr(at, end - at));
        ASSERT_TRUE(field.has_value()) << text.substr(at, end - at);
        EXPECT_TRUE(std::regex_match(field->second, number)) << field->first;
    }
    EXPECT_GT(lines, 20u);
}

TEST(Meminfo, OneFileForEveryFieldWithOneStampPerRun) {
    DeviceRoot dev;
    LogCapture log;
    LaidSession session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    std::string folder = session.session_path + "/system_monitoring/monitoring_meminfo";
    std::string meminfo =
        "MemTotal:       24683748 kB\nHugePages_Total:       0\nActive(anon):     512 kB\n"
        "Broken line\nEmpty:\n";
    dev.write("/proc/meminfo", meminfo);
    make_dirs(folder + "/Active(anon).csv");  // a folder in the way loses only its own row

    store_proc_meminfo(session.session_path);
    EXPECT_EQ(unstamped(read_file(folder + "/MemTotal.csv")),
              "Date,Time,Memory MemTotal (kB)\r\nSTAMP,24683748\r\n");
    EXPECT_EQ(unstamped(read_file(folder + "/HugePages_Total.csv")),
              "Date,Time,Memory HugePages_Total (kB)\r\nSTAMP,0\r\n");
    EXPECT_EQ(unstamped(read_file(folder + "/Empty.csv")),
              "Date,Time,Memory Empty (kB)\r\nSTAMP,\r\n");
    EXPECT_TRUE(log.has(LOG_WARNING, "Skipping Broken line"));
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + folder + "/Active(anon).csv'"));

    // A field that appears later gets its own file from then on.
    dev.write("/proc/meminfo", meminfo + "NewField:      7 kB\n");
    store_proc_meminfo(session.session_path);
    EXPECT_EQ(unstamped(read_file(folder + "/MemTotal.csv")),
              "Date,Time,Memory MemTotal (kB)\r\nSTAMP,24683748\r\nSTAMP,24683748\r\n");
    EXPECT_EQ(unstamped(read_file(folder + "/NewField.csv")),
              "Date,Time,Memory NewField (kB)\r\nSTAMP,7\r\n");

    // Every field of a run carries the same time stamp.
    std::string a = read_file(folder + "/MemTotal.csv").value();
    std::string b = read_file(folder + "/NewField.csv").value();
    EXPECT_EQ(a.substr(a.size() - 30, 19), b.substr(b.size() - 23, 19));

    log.clear();
    std::remove(dev.path("/proc/meminfo").c_str());
    store_proc_meminfo(session.session_path);
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + dev.path("/proc/meminfo") + "'"));
}

TEST(LoadAverage, ValuesCutFromTheTextAfterAverage) {
    EXPECT_EQ(parse_load_average(" 06:42:32 up 11 min,  0 users,  load average: 0.00, 0.03, 0.02"),
              Loads({"0.00", "0.03", "0.02"}));
    EXPECT_EQ(parse_load_average("load average: 1.00, 0.50"), Loads({"1.00", "0.50", "1.00"}));
    EXPECT_EQ(parse_load_average("load average: 0.15"), Loads({"0.15", "0.15", "0.15"}));
    EXPECT_EQ(parse_load_average("load average: 0.15, "), Loads({"0.15", "0.15", "0.15"}));
    EXPECT_EQ(parse_load_average("load average:1,2,3"), Loads({"1", "2", "3"}));
    EXPECT_EQ(parse_load_average("average: 1,  2, 3, 4"), Loads({"1", " 2", "3, 4"}));
    EXPECT_EQ(parse_load_average("up 3 days, load: 1.00"), std::nullopt);
}

TEST(LoadAverage, BusyBoxUptimeGivesARow) {
    DeviceRoot dev;
    LogCapture log;
    LaidSession session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    std::string file = session.session_path + "/system_monitoring/monitoring_load/load.csv";
    PathFirst path(busybox_tools(dev));
    store_load_avg_info_no_retention(session.session_path);
    store_load_avg_info_no_retention(session.session_path);
    std::string row = R"(STAMP,\d+\.\d\d,\d+\.\d\d,\d+\.\d\d\r\n)";
    EXPECT_TRUE(std::regex_match(unstamped(read_file(file)),
                                 std::regex("Date,Time,Load average \\(1 min\\),Load average \\(5 "
                                            "min\\),Load average \\(15 min\\)\r\n" +
                                            row + row)))
        << unstamped(read_file(file));
    EXPECT_TRUE(log.entries().empty());
}

TEST(LoadAverage, MissingAverageReportedOnceUntilItIsBack) {
    DeviceRoot dev;
    LogCapture log;
    LaidSession session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    std::string file = session.session_path + "/system_monitoring/monitoring_load/load.csv";
    std::string message = "[Kelvane]: Unable to read the load average using the command 'uptime'.";
    auto run_with = [&](const std::string& output) {
        PathFirst path(uptime_double(dev, output));
        store_load_avg_info_no_retention(session.session_path);
    };
    run_with("load average: 1.00, 0.50\n");  // a good run first re-arms the message
    run_with("up 3 days\n");
    run_with("up 3 days\n");
    EXPECT_EQ(log.count(message), 1u);
    EXPECT_EQ(unstamped(read_file(file)), kLoadHeader + "STAMP,1.00,0.50,1.00\r\n");

    run_with(" 10:00:00 up 1 min,  load average: 0.15, 0.20, 0.18\nsecond line, average: 9\n");
    run_with("");  // no output at all: a row of empty values
    run_with("\n");
    EXPECT_EQ(log.count(message), 2u);
    EXPECT_EQ(unstamped(read_file(file)), kLoadHeader +
                                              "STAMP,1.00,0.50,1.00\r\nSTAMP,0.15,0.20,0.18\r\n"
                                              "STAMP,,,\r\n");
}

TEST(LoadAverage, UptimeMissingOrFolderMissing) {
    DeviceRoot dev;
    LogCapture log;
    std::string empty = dev.root() + "/empty-bin";
    make_dirs(empty);
    std::string session = dev.root() + "/storage/no_session";
    {
        PathFirst path(busybox_tools(dev));
        store_load_avg_info_no_retention(session);
    }
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + session +
                                     "/system_monitoring/monitoring_load/load.csv'"));

    LaidSession laid = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    std::string old = getenv("PATH");
    setenv("PATH", empty.c_str(), 1);  // the shell finds no uptime
    store_load_avg_info_no_retention(laid.session_path);
    setenv("PATH", old.c_str(), 1);
    EXPECT_EQ(
        unstamped(read_file(laid.session_path + "/system_monitoring/monitoring_load/load.csv")),
        kLoadHeader + "STAMP,,,\r\n");
}
