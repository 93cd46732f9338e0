#include "kelvane_daemon.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "lib/device.hpp"
#include "lib/environment.hpp"
#include "lib/filehandler.hpp"
#include "lib/fileutil.hpp"
#include "lib/ptz_test.hpp"
#include "lib/sysutil.hpp"
#include "support/archive.hpp"
#include "support/bus.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"
#include "support/process.hpp"

#define LOG_MODULE "tests/daemon"

namespace fs = std::filesystem;

namespace {

const std::string kData = std::string(KELVANE_SOURCE_DIR) + "/tests/data/tick/";
const char* kLost = "Lost connection to edge storage location, no data can be saved.";

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

// A device with every service the tick talks to; the tick runs in-process with its counters
// set as each case needs.
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

    // Everything the schedules read, taken from this machine where it can be.
    void lay_down_device(const std::optional<std::string>& storage_id) {
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
        session = lay_down_session(dev,
                                   dev.path(storage_id ? "/var/spool/storage/SD_DISK/Kelvane/"
                                                       : "/usr/local/packages/Kelvane/localdata/"),
                                   storage_id);
    }

    void tick(unsigned long count) {
        timer_count = count;
        timer_callback(nullptr);
    }

    // Number of reset commands that reached the PTZ coordinator.
    static int resets() {
        return static_cast<int>(
            pipe_read_lines(
                PIPE_OPEN(
                    "gdbus call -y -d com.norv.PTZ.Coordinator -o /com/norv/PTZ/Coordinator/1 -m "
                    "com.norv.PTZ.Coordinator.Test.Calls | grep -o Operator,0,reset"))
                .size());
    }

    bool info_has(const std::string& line) const {
        std::string info =
            read_file(session.session_path + "/Session_Information.txt").value_or("");
        return info.find(line + "\n") != std::string::npos;
    }
    bool size_message_armed() { return g_main_context_find_source_by_user_data(nullptr, nullptr); }

    DeviceRoot dev;
    PrivateBus bus;
    HttpServer http{"root", "pass"};
    BusyBoxPath busybox;
    LogCapture log;
    LaidSession session;
};

// Runs the daemon (through the emulator of a cross build) with `input` on its standard input
// for at most `seconds`: its exit status (124: still running, then stopped) and standard error.
// Exit status and what the daemon printed on `streams` (standard error by default).
std::pair<int, std::string> run_daemon(const std::string& args, const std::string& input,
                                       const char* seconds,
                                       const char* streams = " 2>&1 >/dev/null") {
    Pipe pipe =
        pipe_open_or_die("test", 0,
                         "printf '%s' '" + input + "' | timeout " + seconds +
                             " " KELVANE_EXEC_PREFIX " " KELVANE_DAEMON_PATH " " + args + streams);
    std::string err;
    file_read_all(pipe.get(), err);
    return {WEXITSTATUS(pipe_close(pipe)), err};
}

}  // namespace

// tests/data/tick/ptz_interval.txt: tick, interval set, what it did. Interval 3 from start, 1
// from tick 11, off at tick 15, 2 from tick 17; the tick after 59999999 counts as tick 0 and
// starts the interval afresh, as at start.
TEST_F(Tick, PtzIntervalWarnsAheadAndResetsThroughTheCoordinatorWithoutASession) {
    std::ifstream rows(kData + "ptz_interval.txt");
    unsigned long t, interval;
    int seen = resets();
    for (std::string outcome; rows >> t >> interval >> outcome;) {
        ptz_test_interval_set(interval);
        log.clear();
        tick(t);
        std::string did = log.count("Automatic PTZ Test") == 1 ? "warn" : "";
        // dbus-send has flushed its call before it exits, so the bus delivers it first.
        if (int now = resets(); now > std::exchange(seen, now)) {
            did += "reset";
        }
        EXPECT_EQ(did.empty() ? "-" : did, outcome) << t;
    }
    EXPECT_EQ(t, 3u);
    // The counter itself wraps at 60000000.
    tick(59999999);
    EXPECT_EQ(timer_count, 0u);
}

TEST_F(Tick, EdgeSessionCollectsOnItsScheduleAndEndsAsAnArchiveWhenFull) {
    lay_down_device("SD_DISK");
    tick(0);
    // Every action of the schedule leaves its own file; the helper scripts run in the background.
    auto missing = [&] {
        std::string absent;
        std::ifstream expected(kData + "edge_files.txt");
        auto all = files_below(session.session_path + "/system_monitoring");
        for (std::string file; std::getline(expected, file);) {
            std::regex name("monitoring_" + file);
            if (std::none_of(all.begin(), all.end(),
                             [&](const std::string& f) { return std::regex_match(f, name); })) {
                absent += file + "\n";
            }
        }
        return absent;
    };
    wait_until([&] { return missing().empty(); });
    EXPECT_EQ(missing(), "");
    EXPECT_TRUE(info_has("Collected Data Points: 1"));
    EXPECT_TRUE(info_has("Duration: 0 Days 0 hours 1 minutes"));
    EXPECT_TRUE(size_message_armed());
    EXPECT_FALSE(storage_consumption_log_message(nullptr));
    EXPECT_EQ(log.count("System monitoring session is consuming "), 1u);
    EXPECT_TRUE(log.has(LOG_INFO, " B on SD_DISK"));

    // An odd tick collects nothing; the duration still grows.
    std::string load_csv = session.session_path + "/system_monitoring/monitoring_load/load.csv";
    std::string load_before = read_file(load_csv).value_or("");
    tick(1);
    EXPECT_EQ(read_file(load_csv), load_before);
    EXPECT_TRUE(info_has("Duration: 0 Days 0 hours 2 minutes"));
    tick(2);
    EXPECT_TRUE(info_has("Collected Data Points: 2"));
    EXPECT_NE(read_file(load_csv), load_before);

    // Full: the session ends in this tick, without a duration update, and is packed.
    set_usage(90);
    tick(4);
    EXPECT_TRUE(log.has(LOG_WARNING,
                        "Secondary storage is running out of free space. "
                        "Deactivating monitoring session."));
    EXPECT_FALSE(fs::exists(dev.path(std::string(device::kStateFile))));
    EXPECT_TRUE(info_has("Duration: 0 Days 0 hours 3 minutes"));
    ASSERT_TRUE(wait_until([&] { return !is_zipping_session(session.session_path); }));
    EXPECT_EQ(unzip_list(session.session_path + ".zip").count("20240307_14_05_09/.signature"), 1u);
}

TEST_F(Tick, LostEdgeStorageSuspendsCollectionAndIsReportedOncePerLoss) {
    bus.start("norv_storage", storages("Removed"));
    session = lay_down_session(dev, dev.path("/var/spool/storage/SD_DISK/Kelvane/"), "SD_DISK");
    dev.write("/proc/meminfo", "MemFree: 1 kB\n");
    for (unsigned long t = 0; t < 3; ++t) {
        tick(t * 2);
    }
    EXPECT_EQ(log.count(kLost), 1u);
    EXPECT_TRUE(log.has(LOG_ERR, "(kelvane_daemon:"));
    EXPECT_EQ(connection_lost_count, 3u);
    // Tick 0 arms no size message while the storage is unusable.
    EXPECT_FALSE(size_message_armed());
    EXPECT_TRUE(files_below(session.session_path + "/system_monitoring").empty());
    EXPECT_TRUE(info_has("Duration: 0 Days 0 hours 3 minutes"));

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
    lay_down_device(std::nullopt);
    tick(2);
    EXPECT_TRUE(files_below(session.session_path + "/system_monitoring").empty());
    EXPECT_FALSE(size_message_armed());
    tick(120);
    EXPECT_TRUE(files_below(session.session_path + "/system_monitoring").empty());
    EXPECT_TRUE(size_message_armed());
    tick(360);
    EXPECT_FALSE(files_below(session.session_path + "/system_monitoring/monitoring_basic").empty());
    EXPECT_FALSE(files_below(session.session_path + "/system_monitoring/monitoring_onvif").empty());
    EXPECT_TRUE(info_has("Duration: 0 Days 0 hours 3 minutes"));
    EXPECT_FALSE(storage_consumption_log_message(nullptr));
    EXPECT_TRUE(log.has(LOG_INFO, "System monitoring session is consuming " +
                                      std::to_string(get_dir_size_bytes(session.session_path)) +
                                      " B on Internal Storage"));
}

// tests/data/tick/given_times.txt: the minute, then the resets expected in it.
TEST_F(Tick, GivenTimesResetOncePerMinuteWhileNoIntervalIsSet) {
    scheduled_tasks_count = 2;
    ptz_test_flag = 0;
    ptz_test_given_times_set("08:00,20:00,8:01,08:02 ,08:03,08:03");
    std::ifstream table(kData + "given_times.txt");
    int expected = 0, resets_now;
    for (std::string now; table >> now >> resets_now;) {
        log.clear();
        scheduled_tasks_run(now);
        expected += resets_now;
        EXPECT_EQ(resets(), expected) << now;
        EXPECT_EQ(log.count("Automatic PTZ Test"), static_cast<size_t>(resets_now)) << now;
    }
    EXPECT_EQ(expected, 4);
    ptz_test_interval_set(5);
    scheduled_tasks_run("20:00");
    EXPECT_EQ(resets(), expected);
}

TEST(DaemonStart, ExitsOnBadArgumentsOrNoPasswordElseRunsUntilKilled) {
    const std::string usage =
        "Usage: " KELVANE_DAEMON_PATH " <serial_number> <full_name> <prod_type> <fremo_user>\n";
    for (auto [args, input, err] : {std::tuple{"a b c", "pw\n", usage},
                                    {"a b c d e", "pw\n", usage},
                                    {"s n t u", "", std::string()}}) {
        EXPECT_EQ(run_daemon(args, input, "60"), std::pair(1, err)) << args;
    }
    EXPECT_EQ(run_daemon("--help", "", "10"), std::pair(0, std::string()));
    EXPECT_EQ(run_daemon("--version", "", "10"), std::pair(0, std::string()));
    EXPECT_EQ(run_daemon("--help", "", "10", " 2>/dev/null").second,
              usage +
                  "The HTTP API password of <fremo_user> is read from the first line of "
                  "standard input.\n");
    EXPECT_TRUE(run_daemon("--version", "", "10", " 2>/dev/null")
                    .second.starts_with("Kelvane version 5.0.0, compiled: "));
    EXPECT_EQ(run_daemon("s n t u", "secret\n", "1").first, 124);
}

TEST(DaemonStart, RestoredSessionIsReportedBeforeADebugVersionLine) {
    DeviceRoot dev;
    LogCapture log;
    log_version(restore_session());
    lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    log_version(restore_session());
    ASSERT_EQ(log.entries().size(), 3u);
    std::string version = log.entries()[0].second;
    EXPECT_TRUE(std::regex_match(
        version,
        std::regex(R"(Kelvane version 5\.0\.0, compiled: [A-Z][a-z]{2} [ 1-3]\d \d{4} [\d:]{8})")));
    EXPECT_EQ(
        log.entries(),
        (std::vector<std::pair<int, std::string>>{
            {LOG_INFO, version},
            {LOG_INFO, "Continuing System Monitoring Session. Device was rebooted or lost power."},
            {LOG_DEBUG, version}}));
}
