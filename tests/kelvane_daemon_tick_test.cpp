#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "kelvane_daemon.hpp"
#include "lib/device.hpp"
#include "lib/environment.hpp"
#include "lib/filehandler.hpp"
#include "lib/ptz_test.hpp"
#include "lib/sysutil.hpp"
#include "support/archive.hpp"
#include "support/bus.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"
#include "support/process.hpp"

#define LOG_MODULE "tests/tick"

namespace fs = std::filesystem;

namespace {

const std::string kCard = "/var/spool/storage/SD_DISK/Kelvane/";
const char* kLost = "Lost connection to edge storage location, no data can be saved.";
const char* kFull =
    "Secondary storage is running out of free space. Deactivating monitoring session.";

std::string storages(const std::string& status) {
    return R"({"storages": [["SD_DISK", "SD card", "/var/spool/storage/SD_DISK", ")" + status +
           R"(", 1, false, true, false, false, false, false, false, false, false, false, false,
           false]]})";
}

// Files below `dir`, by path relative to it.
std::vector<std::string> files_below(const std::string& dir) {
    std::vector<std::string> files;
    for (auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            files.push_back(fs::relative(entry.path(), dir).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A device with a session on its SD card and every service the tick talks to; the tick runs
// in-process with its counters set as each case needs.
class Tick : public ::testing::Test {
  protected:
    Tick() {
        timer_count = ptz_starting_tick = connection_lost_count = 0;
        arg_fremo_user = "root";
        arg_fremo_pass = "pass";
        set_usage(17);
        bus.start("norv_ptz_coordinator");
    }
    ~Tick() override {
        arg_fremo_user = nullptr;
        // Drop the size messages that ticks armed.
        while (g_source_remove_by_user_data(nullptr)) {
        }
    }

    // A df that reports `percent` for every file system.
    void set_usage(int percent) {
        dev.write("/bin/df",
                  "#!/bin/sh\necho 'Filesystem 1024-blocks Used Available Capacity "
                  "Mounted on'\necho '/dev/mmcblk0p1 1000 500 500 " +
                      std::to_string(percent) + "% /var/spool/storage/SD_DISK'\n");
        fs::permissions(dev.path("/bin/df"), fs::perms::owner_all, fs::perm_options::add);
    }

    // Everything the edge schedule reads, taken from this machine where it can be.
    void lay_down_device() {
        for (const char* proc : {"/proc/net/dev", "/proc/meminfo", "/proc/vmstat",
                                 "/proc/buddyinfo", "/proc/interrupts"}) {
            dev.write(proc, read_file(proc).value_or(""));
        }
        dev.write("/etc/ws/onvif/media/media.conf", "<media/>\n");
        dev.write("/tmp/radar-diagnostics/radar_1.data", "frames=1\n");
        dev.link("/usr/bin/curl", "/usr/bin/curl");
        dev.link("/usr/local/packages/Kelvane/shell", std::string(KELVANE_SOURCE_DIR) + "/shell");
        http.serve("serverreport.cgi", "Server report\n");
        http.serve("param.cgi", "root.TemperatureControl.Sensor.S0.Name=Main\n");
        bus.start("norv_storage", storages("OK"));
        bus.start("norv_temperature", R"({"temperatures": [[0, 41.5]], "heaters": ["stopped"],
                                          "fans": [[0, "running"]]})");
        bus.start("norv_streamer", R"({"streams": ["stream_a:mjpeg:640x480"]})");
        init_environment_monitor_settings("root", "pass");
    }

    void tick(unsigned long count) {
        timer_count = count;
        timer_callback(nullptr);
    }

    // Number of reset commands that reached the PTZ coordinator.
    static int resets() {
        std::string text;
        for (const std::string& line : pipe_read_lines(PIPE_OPEN(
                 "gdbus call -y -d com.norv.PTZ.Coordinator -o /com/norv/PTZ/Coordinator/1 -m "
                 "com.norv.PTZ.Coordinator.Test.Calls"))) {
            text += line;
        }
        int n = 0;
        for (auto pos = text.find("Operator,0,reset"); pos != std::string::npos;
             pos = text.find("Operator,0,reset", pos + 1)) {
            ++n;
        }
        return n;
    }

    std::string info() const {
        return read_file(session.session_path + "/Session_Information.txt").value_or("");
    }

    DeviceRoot dev;
    PrivateBus bus;
    HttpServer http{"root", "pass"};
    BusyBoxPath busybox;
    LogCapture log;
    LaidSession session;
};

}  // namespace

TEST_F(Tick, WithoutASessionOnlyCountsAndWrapsAt60000000) {
    tick(0);
    EXPECT_EQ(timer_count, 1u);
    tick(59999999);
    EXPECT_EQ(timer_count, 0u);
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(files_below(dev.path("/usr/local/packages/Kelvane/localdata")).size(), 0u);
}

TEST_F(Tick, PtzIntervalWarnsAheadAndResetsThroughTheCoordinator) {
    // The ticks that warned and that reset, each tick run with its interval set.
    using Ticks = std::vector<unsigned long>;
    auto run = [&](const std::vector<std::pair<unsigned long, unsigned long>>& ticks) {
        Ticks warned, reset;
        int seen = resets();
        for (auto [t, interval] : ticks) {
            ptz_test_interval_set(interval);
            log.clear();
            tick(t);
            if (log.count("Automatic PTZ Test") == 1) {
                warned.push_back(t);
            }
            // dbus-send has flushed its call before it exits, so the bus delivers it first.
            int now = resets();
            if (now > seen) {
                reset.push_back(t);
            }
            seen = now;
        }
        return std::pair(warned, reset);
    };
    EXPECT_EQ(run({{0, 1}, {1, 1}, {2, 1}, {3, 1}}), std::pair(Ticks{0, 1}, Ticks{2, 3}));
    // Interval 3 from start, then 1 from tick 11, off at tick 15, 2 again from tick 17; the tick
    // after 59999999 counts as tick 0 and starts the interval afresh, as at start.
    ptz_starting_tick = 0;
    std::vector<std::pair<unsigned long, unsigned long>> ticks;
    for (unsigned long t = 0; t < 21; ++t) {
        ticks.emplace_back(t, t < 11 ? 3 : t < 15 ? 1 : t < 17 ? 0 : 2);
    }
    ticks.insert(ticks.end(), {{59999999, 2}, {0, 2}, {1, 2}, {2, 2}, {3, 2}});
    EXPECT_EQ(run(ticks), std::pair(Ticks{3, 6, 9, 18, 20, 2},
                                    Ticks{4, 7, 10, 11, 12, 13, 14, 19, 59999999, 3}));
}

TEST_F(Tick, EdgeSessionCollectsOnItsScheduleAndEndsAsAnArchiveWhenFull) {
    lay_down_device();
    session = lay_down_session(dev, dev.path(kCard), "SD_DISK");
    tick(0);
    // Every action of the schedule leaves its own file; the helper scripts run in the background.
    auto missing = [&] {
        std::vector<std::string> absent;
        for (const char* file :
             {R"(basic/Server_Reports/Server_Report_.+\.txt)", "environment/Fan_0.csv",
              "environment/Heater_0.csv", "environment/Main.csv",
              R"(interrupts/\d{8}_\d{6}_interrupts\.txt)", "kernel/buddyinfo.csv",
              "kernel/pagefaults.csv", "load/load.csv", "meminfo/MemTotal.csv", "network/lo.csv",
              R"(onvif/\d{8}_\d{6}_media\.conf)", "plix/plix_status.csv", "radar/radar_1.data",
              "self/Kelvane_summary.csv", "streams/stream.csv", "topstatus/topstatus.csv",
              "vmstatus/vmstatus.csv"}) {
            std::regex name(std::string("monitoring_") + file);
            auto all = files_below(session.session_path + "/system_monitoring");
            if (std::none_of(all.begin(), all.end(),
                             [&](const std::string& f) { return std::regex_match(f, name); })) {
                absent.push_back(file);
            }
        }
        return absent;
    };
    wait_until([&] { return missing().empty(); });
    EXPECT_EQ(missing(), std::vector<std::string>{});
    EXPECT_NE(info().find("Collected Data Points: 1\n"), std::string::npos) << info();
    EXPECT_NE(info().find("Duration: 0 Days 0 hours 1 minutes\n"), std::string::npos);
    EXPECT_NE(g_main_context_find_source_by_user_data(nullptr, nullptr), nullptr);
    EXPECT_FALSE(storage_consumption_log_message(nullptr));
    EXPECT_TRUE(log.has(LOG_INFO, "System monitoring session is consuming "));
    EXPECT_TRUE(log.has(LOG_INFO, " B on SD_DISK"));

    // An odd tick collects nothing; the duration still grows.
    std::string load_csv = session.session_path + "/system_monitoring/monitoring_load";
    auto load_files = files_below(load_csv);
    std::string load_before = read_file(load_csv + "/" + load_files.at(0)).value_or("");
    tick(1);
    EXPECT_EQ(read_file(load_csv + "/" + load_files.at(0)), load_before);
    EXPECT_NE(info().find("Duration: 0 Days 0 hours 2 minutes\n"), std::string::npos);
    tick(2);
    EXPECT_NE(info().find("Collected Data Points: 2\n"), std::string::npos);
    EXPECT_NE(read_file(load_csv + "/" + load_files.at(0)), load_before);

    // Full: the session ends in this tick, without a duration update, and is packed.
    set_usage(90);
    tick(4);
    EXPECT_TRUE(log.has(LOG_WARNING, kFull));
    EXPECT_FALSE(fs::exists(
        dev.path("/usr/local/packages/Kelvane/localdata/current_monitoring_session.txt")));
    EXPECT_NE(info().find("Duration: 0 Days 0 hours 3 minutes\n"), std::string::npos);
    std::string archive = session.session_path + ".zip";
    ASSERT_TRUE(wait_until([&] { return !is_zipping_session(session.session_path); }));
    auto entries = unzip_list(archive);
    EXPECT_FALSE(entries.empty());
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.rfind("20240307_14_05_09/", 0), 0u) << entry;
    }

    // No session at the next tick: nothing collected.
    log.clear();
    auto before = files_below(session.session_path);
    std::string info_before = info(), load_rows = read_file(load_csv + "/load.csv").value_or("");
    tick(6);
    EXPECT_EQ(files_below(session.session_path), before);
    EXPECT_EQ(info(), info_before);
    EXPECT_EQ(read_file(load_csv + "/load.csv"), load_rows);
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(Tick, LostEdgeStorageSuspendsCollectionAndIsReportedOncePerLoss) {
    bus.start("norv_storage", storages("Removed"));
    session = lay_down_session(dev, dev.path(kCard), "SD_DISK");
    dev.write("/proc/meminfo", "MemFree: 1 kB\n");
    for (unsigned long t = 0; t < 3; ++t) {
        tick(t * 2);
    }
    EXPECT_EQ(log.count(kLost), 1u);
    EXPECT_TRUE(log.has(LOG_ERR, "(kelvane_daemon:"));
    EXPECT_EQ(connection_lost_count, 3u);
    // Tick 0 arms no size message while the storage is unusable.
    EXPECT_EQ(g_main_context_find_source_by_user_data(nullptr, nullptr), nullptr);
    EXPECT_TRUE(files_below(session.session_path + "/system_monitoring").empty());
    EXPECT_NE(info().find("Duration: 0 Days 0 hours 3 minutes\n"), std::string::npos);

    ASSERT_TRUE(bus.configure("norv_storage", storages("OK")));
    connection_lost_count = 1501;
    tick(7);
    EXPECT_TRUE(log.has(LOG_INFO,
                        "Connection to edge storage location re-established, "
                        "connection was lost since 1 days 1 hours 1 minutes. Continuing "
                        "system monitoring session."));
    EXPECT_EQ(connection_lost_count, 0u);

    ASSERT_TRUE(bus.configure("norv_storage", storages("Removed")));
    tick(9);
    EXPECT_EQ(log.count(kLost), 2u);
}

TEST_F(Tick, InternalSessionTakesOnlySnapshotsEverySixHoursAndReportsItsSize) {
    lay_down_device();
    session =
        lay_down_session(dev, dev.path("/usr/local/packages/Kelvane/localdata/"), std::nullopt);
    std::string basic = session.session_path + "/system_monitoring/monitoring_basic";
    tick(2);
    EXPECT_TRUE(files_below(session.session_path + "/system_monitoring").empty());
    EXPECT_EQ(g_main_context_find_source_by_user_data(nullptr, nullptr), nullptr);
    tick(120);
    EXPECT_TRUE(files_below(session.session_path + "/system_monitoring").empty());
    EXPECT_NE(g_main_context_find_source_by_user_data(nullptr, nullptr), nullptr);
    tick(360);
    EXPECT_FALSE(files_below(basic).empty());
    EXPECT_FALSE(files_below(session.session_path + "/system_monitoring/monitoring_onvif").empty());
    EXPECT_NE(info().find("Duration: 0 Days 0 hours 3 minutes\n"), std::string::npos);

    EXPECT_FALSE(storage_consumption_log_message(nullptr));
    unsigned long size = get_dir_size_bytes(session.session_path);
    EXPECT_TRUE(log.has(LOG_INFO, "System monitoring session is consuming " + std::to_string(size) +
                                      " B on Internal Storage"));
}

TEST_F(Tick, GivenTimesResetOncePerMinuteWhileNoIntervalIsSet) {
    scheduled_tasks_count = 2;
    ptz_test_flag = 0;
    ptz_test_given_times_set("08:00,20:00,8:01,08:02 ,08:03,08:03");
    int expected = 0;
    for (auto [now, resets_now] : std::vector<std::pair<std::string, int>>{{"08:00", 1},
                                                                           {"08:00", 0},
                                                                           {"08:01", 0},
                                                                           {"08:02", 0},
                                                                           {"20:00", 1},
                                                                           {"20:00", 0},
                                                                           {"08:03", 2},
                                                                           {"08:03", 0}}) {
        log.clear();
        scheduled_tasks_run(now);
        expected += resets_now;
        EXPECT_EQ(resets(), expected) << now;
        EXPECT_EQ(log.count("Automatic PTZ Test"), static_cast<size_t>(resets_now)) << now;
    }
    ptz_test_interval_set(5);
    scheduled_tasks_run("20:00");
    EXPECT_EQ(resets(), expected);
}
