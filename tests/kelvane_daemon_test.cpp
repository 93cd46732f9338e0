#include "kelvane_daemon.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "lib/device.hpp"
#include "lib/environment.hpp"
#include "lib/filehandler.hpp"
#include "lib/fileutil.hpp"
#include "lib/ptz_test.hpp"
#include "lib/strutil.hpp"
#include "lib/sysutil.hpp"
#include "support/archive.hpp"
#include "support/bus.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"
#include "support/process.hpp"
#include "support/transcript.hpp"

#define LOG_MODULE "tests/daemon"

namespace fs = std::filesystem;

namespace {

// A device with every service the tick talks to; the tick runs in-process.
class Tick : public ::testing::Test {
  protected:
    Tick() {
        arg_fremo_user = "root";
        arg_fremo_pass = "pass";
        set_usage(17);
        bus.start("norv_ptz_coordinator");
    }
    ~Tick() override {
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

    void lay_down_device(const std::optional<std::string>& storage_id) {
        fs::copy(KELVANE_TEST_DATA "tick/device", dev.root(), fs::copy_options::recursive);
        dev.link("/usr/bin/curl", "/usr/bin/curl");
        dev.link("/usr/local/packages/Kelvane/shell", std::string(KELVANE_SOURCE_DIR) + "/shell");
        http.serve("serverreport.cgi", "Server report\n");
        http.serve("param.cgi", "root.TemperatureControl.Sensor.S0.Name=Main\n");
        bus.start("norv_storage", test_data("tick/storage_ok.json"));
        bus.start("norv_temperature", test_data("tick/temperature.json"));
        bus.start("norv_streamer", test_data("tick/streamer.json"));
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
    static size_t resets() {
        Pipe calls = PIPE_OPEN(
            "gdbus call -y -d com.norv.PTZ.Coordinator -o /com/norv/PTZ/Coordinator/1 -m "
            "com.norv.PTZ.Coordinator.Test.Calls | grep -o Operator,0,reset");
        return pipe_read_lines(calls).size();
    }

    // The helper scripts that ticks started on this device run in the background.
    bool scripts_running() const { return ps_grep_and_check_if_included("Kelvane", dev.root()); }

    // Every file of the session, digits and time zones masked, a CSV file with its line count.
    std::vector<std::string> listing() const {
        std::vector<std::string> files;
        for (auto& entry : fs::recursive_directory_iterator(session.session_path)) {
            if (!entry.is_regular_file()) {
                continue;
            }
            std::string name = fs::relative(entry.path(), session.session_path).string();
            name = std::regex_replace(name, std::regex(R"(\d+|[A-Z]+(?=\.txt))"), "#");
            std::string text = read_file(entry.path()).value_or("");
            if (name.ends_with(".csv")) {
                name += " " + std::to_string(std::count(text.begin(), text.end(), '\n'));
            }
            files.push_back(name);
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    // The size message that a tick armed, fired now.
    void expect_size_message(const std::string& storage) {
        ASSERT_TRUE(g_main_context_find_source_by_user_data(nullptr, nullptr));
        EXPECT_FALSE(storage_consumption_log_message(nullptr));
        EXPECT_TRUE(log.has(LOG_INFO, "System monitoring session is consuming " +
                                          std::to_string(get_dir_size_bytes(session.session_path)) +
                                          " B on " + storage));
    }

    DeviceRoot dev;
    PrivateBus bus;
    HttpServer http{"root", "pass"};
    BusyBoxPath busybox;
    LogCapture log;
    LaidSession session;
};

// What the daemon (through the emulator of a cross build) printed with `input` on its standard
// input and how it ended, stopped after `seconds` (status 124); standard error's lines marked.
std::string run_daemon(const std::string& args, const std::string& input,
                       const char* seconds = "60") {
    Pipe pipe =
        PIPE_OPEN("e=$(mktemp); printf '" + shell_escape_single_quoted(input) + "' | timeout " +
                  seconds + " " KELVANE_EXEC_PREFIX " " KELVANE_DAEMON_PATH " " + args +
                  " 2>\"$e\"; echo \"exit $?\"; sed 's/^/2> /' \"$e\"; rm \"$e\"");
    std::string out;
    file_read_all(pipe.get(), out);
    return out;
}

}  // namespace

// tests/data/tick/ptz_test.txt: a minute tick (its count) or a scheduled tasks run (its clock
// time), the interval set before it, then the warnings and the resets it gave.
TEST_F(Tick, AutomaticPtzTestRunsAtTheIntervalOrElseAtTheGivenTimesWithoutASession) {
    ptz_test_given_times_set("08:00,20:00,8:01,08:02 ,08:03,08:03");
    std::ifstream table(KELVANE_TEST_DATA "tick/ptz_test.txt");
    std::string step;
    unsigned long interval;
    size_t warnings, resets_now, total = 0, rows = 0;
    while (table >> step >> interval >> warnings >> resets_now) {
        ptz_test_interval_set(interval);
        log.clear();
        if (step.find(':') != std::string::npos) {
            scheduled_tasks_run(step);
        } else {
            tick(std::stoul(step));
        }
        total += resets_now;
        // dbus-send has flushed its call before it exits, so the bus delivers it first.
        EXPECT_EQ(resets(), total) << step;
        EXPECT_EQ(log.count("Automatic PTZ Test"), warnings) << step;
        ++rows;
    }
    EXPECT_EQ(rows, 35u);
    // The counter itself wraps at 60000000.
    tick(59999999);
    EXPECT_EQ(timer_count, 0u);

    // The settings files as the web tools leave them.
    const std::string interval_file = dev.path(std::string(device::kPtzTestIntervalFile));
    const std::string times_file = dev.path(std::string(device::kPtzTestTimesFile));
    EXPECT_EQ(read_file(interval_file), "T:5\n");
    EXPECT_EQ(read_file(times_file), "08:00,20:00,8:01,08:02 ,08:03,08:03\n");
    ptz_test_interval_set(0);
    ptz_test_given_times_set("");
    EXPECT_FALSE(read_file(interval_file) || read_file(times_file));
    fs::remove_all(dev.path(std::string(device::kLocalDataDir)));
    ptz_test_interval_set(9);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + interval_file + "'"));
}

// Collects at ticks 0 and 6 only: 1 and 5 are odd, and the storage is gone during 2 to 4.
TEST_F(Tick, EdgeSessionCollectsWhileItsStorageIsUsableAndEndsAsAnArchiveWhenFull) {
    lay_down_device("SD_DISK");
    tick(0);
    // A script still running at the next tick would be skipped then.
    ASSERT_TRUE(wait_until([&] { return !scripts_running(); }));
    expect_size_message("SD_DISK");
    tick(1);
    ASSERT_TRUE(bus.configure("norv_storage", test_data("tick/storage_removed.json")));
    // Taken out: its folders go with it, and df can't read the usage of what is not there.
    std::string root = dev.path("/var/spool/storage/SD_DISK/Kelvane");
    fs::rename(root, root + ".out");
    dev.write("/bin/df", "#!/bin/sh\nexit 1\n");
    for (unsigned long t : {2, 3, 4}) {
        tick(t);
    }
    fs::rename(root + ".out", root);
    set_usage(17);
    EXPECT_EQ(log.count("Lost connection to edge storage location, no data can be saved."), 1u);
    EXPECT_TRUE(log.has(LOG_ERR, "errno: None) Lost connection to edge storage location"));
    EXPECT_EQ(connection_lost_count, 3u);
    EXPECT_FALSE(log.has(LOG_WARNING, "Could not get usage of partition"));
    ASSERT_TRUE(bus.configure("norv_storage", test_data("tick/storage_ok.json")));
    connection_lost_count = 1501;
    tick(5);
    EXPECT_TRUE(log.has(LOG_INFO,
                        "Connection to edge storage location re-established, "
                        "connection was lost since 1 days 1 hours 1 minutes. Continuing "
                        "system monitoring session."));
    EXPECT_EQ(connection_lost_count, 0u);
    tick(6);
    const std::vector<std::string> expected = str_lines(test_data("tick/edge_files.txt"));
    wait_until([&] { return !scripts_running() && listing() == expected; });
    EXPECT_EQ(listing(), expected);

    // Full: the session ends in this tick, without a duration update, and is packed.
    set_usage(90);
    tick(8);
    EXPECT_TRUE(log.has(LOG_WARNING,
                        "Secondary storage is running out of free space. "
                        "Deactivating monitoring session."));
    EXPECT_FALSE(fs::exists(dev.path(std::string(device::kStateFile))));
    EXPECT_TRUE(read_file(session.session_path + "/Session_Information.txt")
                    .value_or("")
                    .starts_with(test_data("tick/edge_info.txt")));
    ASSERT_TRUE(wait_until([&] { return !is_zipping_session(session.session_path); }));
    EXPECT_EQ(unzip_list(session.session_path + ".zip").count("20240307_14_05_09/.signature"), 1u);
}

TEST_F(Tick, InternalSessionTakesOnlySnapshotsEverySixHoursAndReportsItsSize) {
    lay_down_device(std::nullopt);
    const std::vector<std::string> laid = listing();
    tick(2);
    EXPECT_FALSE(g_main_context_find_source_by_user_data(nullptr, nullptr));
    tick(120);
    EXPECT_EQ(listing(), laid);
    expect_size_message("Internal Storage");
    tick(360);
    EXPECT_EQ(listing(), str_lines(test_data("tick/internal_files.txt")));
    EXPECT_EQ(read_file(session.session_path + "/Session_Information.txt"),
              test_data("tick/internal_info.txt"));
}

// tests/data/tick/start.txt: each start ("$ arguments <<< standard input"), then what it
// printed and its exit status.
TEST(DaemonStart, ExitsOnBadArgumentsOrNoPasswordElseRunsUntilKilled) {
    std::string expected = test_data("tick/start.txt"), transcript;
    for (const std::string& line : str_lines(expected)) {
        if (line.starts_with("$ ")) {
            size_t input = line.find(" <<< ");
            transcript +=
                line + "\n" + run_daemon(line.substr(2, input - 2), line.substr(input + 5));
        }
    }
    expected = std::regex_replace(expected, std::regex("@DAEMON@"), KELVANE_DAEMON_PATH);
    EXPECT_EQ(transcript, std::regex_replace(expected, std::regex("@VERSION@"), version_line()));
    EXPECT_TRUE(std::regex_match(
        version_line(),
        std::regex(R"(Kelvane version 5\.0\.0, compiled: [A-Z][a-z]{2} [ 1-3]\d \d{4} [\d:]{8})")));
    EXPECT_TRUE(run_daemon("s n t u", "secret\\n", "1").starts_with("exit 124\n"));
}

TEST(DaemonStart, RestoredSessionIsReportedBeforeADebugVersionLine) {
    DeviceRoot dev;
    LogCapture log;
    log_version(restore_session());
    lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    log_version(restore_session());
    const std::string version = version_line();
    EXPECT_EQ(take_log(log), "6 " + version +
                                 "\n6 Continuing System Monitoring Session. Device was rebooted or "
                                 "lost power.\n7 " +
                                 version + "\n");
}
