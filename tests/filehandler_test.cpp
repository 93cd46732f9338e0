// Collectors and file helpers without a captured-output table; folder names with shell syntax
// check that a path reaches a command line as data.
#include "lib/filehandler.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "lib/device.hpp"
#include "lib/fremo.hpp"
#include "lib/interrupts.hpp"
#include "lib/sysutil.hpp"
#include "lib/timeseries.hpp"
#include "support/bus.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"
#include "support/process.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kData = KELVANE_SOURCE_DIR "/tests/data/filehandler/";

// A shell that sleeps with its arguments on its command line, as a busy process shows them.
const char* kBusy = "sleep 60 </dev/null >/dev/null 2>&1; :";

class Files : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
    BusyBoxPath busybox;
    std::string dir = dev.root() + "/m \"$(touch $PWNED)\" `id` $HOME";
};

}  // namespace

TEST_F(Files, StreamRowsFromTheStreamerAndOneErrorForAFolderGone) {
    PrivateBus bus;
    std::string session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK").session_path;
    std::string streams = session + "/system_monitoring/monitoring_streams";
    bus.start("norv_streamer", R"({"streams": ["b:mjpeg:640x480", "a:h264"]})");
    store_video_stream_history_no_retention(session);
    EXPECT_EQ(read_stamped(streams + "/stream.csv"),
              "Date,Time,Streams\r\nT, a:h264 + b:mjpeg:640x480 \r\n");
    fs::remove_all(streams);
    store_video_stream_history_no_retention(session);
    EXPECT_EQ(log_lines(log, dev), read_file(kData + "streams.log"));
}

// Whole kibibytes are the du table's test; here the real du on a path with shell syntax.
TEST_F(Files, NamesListedCommaSeparatedAndCutAndDirSizeFromTheRealDu) {
    write_file(dir + "/alpha", std::string(3000, 'a'));
    write_file(dir + "/beta/b.bin", std::string(5000, 'b'));
    for (auto [size, names] : {std::pair{100, "alpha,beta"}, {10, "alpha,bet"}, {6, "alpha"}}) {
        EXPECT_EQ(get_names_listed_from_directory(dir, size), names);
    }
    unsigned long size = get_dir_size_bytes(dir);
    EXPECT_TRUE(size >= 8000u && size < 8000u + 4 * 4096u) << size;
}

// tests/data/bandwidth/samples.txt: time, receive, transmit -> rate ("-": no row); 92 250 000
// bytes in 60 s are 12.3 Mbit/s. Counters reset, or a clock set back, give no row; a small step
// back and the same second give 0.0, and so do counters as far apart as they can be.
TEST(NetDevBandwidth, RateOverTheIntervalAndNoRowBelowZero) {
    std::ifstream samples(std::string(KELVANE_SOURCE_DIR) + "/tests/data/bandwidth/samples.txt");
    network_bandwidth_state state;
    long long now, receive, transmit;
    for (std::string rate; samples >> now >> receive >> transmit && std::getline(samples, rate);) {
        EXPECT_EQ(" " + network_bandwidth_update(state, now, receive, transmit).value_or("-"), rate)
            << now;
    }
    EXPECT_EQ(now, 1060);
}

// Interrupt readings go to an oddly named session, three seconds apart.
TEST_F(Files, InterruptsAreReadTwice) {
    const std::string table = "           CPU0\n 11:      12345  GICv3  27 Level\n";
    const std::string folder = dir + "/system_monitoring/monitoring_interrupts/";
    dev.write(std::string(device::kProcInterrupts), table);
    make_dirs(folder);
    create_interrupts_snapshot(dir);
    const std::set<fs::path> readings(fs::directory_iterator(folder), {});
    ASSERT_EQ(readings.size(), 2u);
    EXPECT_EQ(
        read_file(*readings.begin()).value_or("") + read_file(*readings.rbegin()).value_or(""),
        table + table);
    // The file system's clock may lag by a tick.
    EXPECT_GE(fs::last_write_time(*readings.rbegin()) - fs::last_write_time(*readings.begin()),
              std::chrono::milliseconds(2900));
}

// A folder name that got executed would reach the script changed, so its line would differ.
TEST_F(Files, AScriptStartsOnlyWhenNoPackageProcessNamesItAndGetsItsFolderLiterally) {
    std::string name = "probe_" + std::to_string(getpid()) + ".sh";
    dev.link(std::string(device::kShellDir) + "/" + name, kData + "probe.sh");
    make_dirs(dir + "/busy");
    auto running = [&] { return ps_grep_and_check_if_included("Kelvane", name) == 1; };
    // Another program of the package whose command line names the script counts as running.
    pid_t viewer = spawn({"/bin/sh", "-c", kBusy, "/opt/Kelvane/viewer " + name});
    ASSERT_TRUE(wait_until(running));
    shellscript_invoker(dir + "/busy", name, false);
    end(viewer, SIGKILL);
    shellscript_invoker(dir, name, true);
    // The started shell shows on ps from the moment the invoker returns, until the script ends.
    ASSERT_TRUE(wait_until([&] { return !running(); }));
    EXPECT_EQ(read_file(dir + "/probe.log"), "started " + dir + "\n");
    EXPECT_FALSE(fs::exists(dir + "/busy/probe.log"));
}

TEST_F(Files, ARunningPackingIsNotStartedTwiceAndBadPathsAreLeftAlone) {
    std::string card = dev.root() + "/card", session = card + "/20231103_10_00_02";
    make_dirs(session);
    pid_t zipping = spawn({"/bin/sh", "-c", kBusy, "zip", "-r", "20231103_10_00_02.zip"});
    EXPECT_TRUE(wait_until([&] { return is_zipping_session(session); }));
    EXPECT_EQ(zip_session(session), 0);
    end(zipping, SIGKILL);
    EXPECT_FALSE(fs::exists(session + ".zip"));

    EXPECT_EQ(zip_session("/"), 1);
    EXPECT_TRUE(log.has(LOG_ERR, "Invalid path to zip: /"));
    EXPECT_FALSE(is_zipping_session("20231103_10_00_02"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not get basename of path: 20231103_10_00_02"));
    // A trailing slash names no folder; it must not match every zip (or grep) line.
    EXPECT_FALSE(is_zipping_session(card + "/"));
}

TEST_F(Files, OpenFailuresAreSummedUpPerFolder) {
    make_dirs(dir + "/a.csv");
    csv_open_failures_collect();
    for (const char* name : {"gone/x.csv", "a.csv", "gone/y.csv", "other/z.csv", "gone/z.csv"}) {
        EXPECT_FALSE(csv_append("lib/collector", 7, dir + "/" + name, "H\n", "r\n"));
    }
    csv_open_failures_report();
    EXPECT_EQ(log_lines(log, dev), read_file(kData + "open_failures.log"));
}

TEST_F(Files, RadarCopyTakesRegularFilesOnly) {
    std::string session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK").session_path;
    std::string source = dev.path(std::string(device::kRadarDir));
    dev.write("/tmp/radar-diagnostics/radar_1.data", "v1");
    fs::create_symlink("/etc/shadow", source + "/radar_x.data");
    ASSERT_EQ(mkfifo((source + "/radar_fifo.data").c_str(), 0600), 0);
    store_radar_data(session);
    std::string copies = monitoring_folder(session, "monitoring_radar");
    EXPECT_EQ(std::distance(fs::directory_iterator(copies), {}), 1);
    EXPECT_EQ(log.count("': not a regular file"), 2u);
    // Nor is a link planted after that look.
    EXPECT_FALSE(file_copy_nofollow(source + "/radar_x.data", copies + "/radar_x.data"));
    EXPECT_EQ(log.count("Too many levels of symbolic links"), 1u);
}

TEST_F(Files, ThePasswordNeverReachesTheLog) {
    dev.link(std::string(device::kCurl), "/bin/false");
    // Escaped for the command line, it differs from what it is.
    const std::string password = "a\"b$c`d\\e";
    log_mask_secrets({password, shell_escape_double_quoted(password)});
    EXPECT_FALSE(fremo_download("root", password, "/x.cgi", dev.root() + "/out"));
    log_msg(LOG_INFO, "plain %s", password.c_str());
    log_mask_secrets({});
    EXPECT_TRUE(log.has(LOG_WARNING, "-u \"root\":\"********\" -o"));
    EXPECT_EQ(log.entries().back(), std::make_pair(LOG_INFO, std::string("plain ********")));
}
