// Faults found by fault injection and review, one small test per mend.
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>

#include <filesystem>

#include "lib/device.hpp"
#include "lib/filehandler.hpp"
#include "lib/fremo.hpp"
#include "lib/session_globals.hpp"
#include "lib/sysutil.hpp"
#include "lib/timeseries.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

#define LOG_MODULE "lib/collector"

namespace fs = std::filesystem;

namespace {

class Hardening : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
    std::string dir = dev.root() + "/m";
};

}  // namespace

TEST_F(Hardening, AnEmptyFileLeftByAKillGetsItsHeader) {
    const struct {
        std::optional<std::string> before;
        std::string after;
    } cases[] = {{std::nullopt, "H\nT,1\n"}, {"", "H\nT,1\n"}, {"H\nT,0\n", "H\nT,0\nT,1\n"}};
    for (const auto& c : cases) {
        fs::remove_all(dir);
        make_dirs(dir);
        if (c.before) {
            write_file(dir + "/f.csv", *c.before);
        }
        EXPECT_TRUE(CSV_APPEND_ROW(dir + "/f.csv", "H", ",1", "\n"));
        EXPECT_EQ(read_stamped(dir + "/f.csv"), c.after) << c.before.value_or("<none>");
    }
}

TEST_F(Hardening, OneTicksOpenFailuresInAFolderAreSummedUpPerErrno) {
    make_dirs(dir + "/a.csv");
    make_dirs(dir + "/b.csv");
    csv_open_failures_collect();
    for (const char* name : {"gone/x.csv", "a.csv", "gone/y.csv", "b.csv", "gone/z.csv"}) {
        EXPECT_FALSE(csv_append(LOG_MODULE, 7, dir + "/" + std::string(name), "H\n", "r\n"));
    }
    csv_open_failures_report();
    // Outside a tick every failure is logged as it comes.
    EXPECT_FALSE(csv_append(LOG_MODULE, 8, dir + "/gone/w.csv", "H\n", "r\n"));
    const std::string e = "(lib/collector:7, errno: ";
    EXPECT_EQ(
        log.entries(),
        (std::vector<std::pair<int, std::string>>{
            {LOG_ERR,
             e + "No such file or directory) Could not open file '" + dir + "/gone/x.csv'"},
            {LOG_ERR, e + "Is a directory) Could not open file '" + dir + "/a.csv'"},
            {LOG_ERR, "2 more files in '" + dir +
                          "/gone' could not be opened (errno: No such file or directory)"},
            {LOG_ERR, "1 more files in '" + dir + "' could not be opened (errno: Is a directory)"},
            {LOG_ERR,
             "(lib/collector:8, errno: No such file or directory) Could not open "
             "file '" +
                 dir + "/gone/w.csv'"}}));
}

TEST_F(Hardening, ASessionPathTooLongForAnyFileIsNoSession) {
    for (size_t length : {size_t{PATH_MAX - 1}, size_t{PATH_MAX}, size_t{1} << 20}) {
        log.clear();
        dev.write(std::string(device::kStateFile),
                  "TIME:t\nSSPA:/" + std::string(length - 2, 'p') + "\nACTI:f\n");
        MonitoringSession session = monitoring_session_load();
        EXPECT_EQ(session != nullptr, length < PATH_MAX) << length;
        EXPECT_EQ(log.has(LOG_ERR, "Could not restore monitoring session: Session path too long (" +
                                       std::to_string(length) + " characters, at most 4095)."),
                  length >= PATH_MAX);
    }
}

TEST_F(Hardening, RadarCopyTakesRegularFilesOnly) {
    std::string session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK").session_path;
    std::string source = dev.path(std::string(device::kRadarDir));
    dev.write("/root/secret", "root only");
    dev.write("/tmp/radar-diagnostics/radar_1.data", "v1");
    fs::create_symlink(dev.root() + "/root/secret", source + "/radar_x.data");
    fs::create_symlink(dev.root() + "/root/secret", source + "/instqual_lt_stats_x.csv");
    ASSERT_EQ(mkfifo((source + "/radar_fifo.data").c_str(), 0600), 0);
    store_radar_data(session);
    std::vector<std::string> copied;
    for (const auto& entry :
         fs::directory_iterator(monitoring_folder(session, "monitoring_radar"))) {
        copied.push_back(entry.path().filename());
    }
    EXPECT_EQ(copied, std::vector<std::string>{"radar_1.data"});
    for (const char* name : {"radar_x.data", "instqual_lt_stats_x.csv", "radar_fifo.data"}) {
        EXPECT_TRUE(
            log.has(LOG_DEBUG, "Not copying '" + source + "/" + name + "': not a regular file"));
    }
}

TEST_F(Hardening, ThePasswordNeverReachesTheLog) {
    dev.write(std::string(device::kCurl), "#!/bin/sh\nexit 7\n");
    fs::permissions(dev.path(std::string(device::kCurl)), fs::perms::owner_exec,
                    fs::perm_options::add);
    for (const std::string password : {"s3cr3t", "a\"b$c`d\\e"}) {
        log.clear();
        log_mask_secrets({password, shell_escape_double_quoted(password)});
        EXPECT_FALSE(fremo_download("root", password, "/x.cgi", dev.root() + "/out"));
        log_msg(LOG_INFO, "plain %s", password.c_str());
        log_mask_secrets({});
        ASSERT_EQ(log.entries().size(), 2u);
        EXPECT_EQ(log.entries()[0].second.find(password), std::string::npos);
        EXPECT_NE(log.entries()[0].second.find("-u \"root\":\"********\" -o"), std::string::npos)
            << log.entries()[0].second;
        EXPECT_EQ(log.entries()[1].second, "plain ********");
    }
}
