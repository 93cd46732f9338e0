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

namespace fs = std::filesystem;

class Hardening : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
    std::string dir = dev.root() + "/m";
};

TEST_F(Hardening, AnEmptyFileLeftByAKillGetsItsHeader) {
    for (auto [before, after] : {std::pair{"", "H\nT,1\n"}, {"H\nT,0\n", "H\nT,0\nT,1\n"}}) {
        write_file(dir + "/f.csv", before);
        EXPECT_TRUE(csv_append("m", 1, dir + "/f.csv", "H\n", "T,1\n"));
        EXPECT_EQ(read_file(dir + "/f.csv"), after);
    }
}

TEST_F(Hardening, OneTicksOpenFailuresInAFolderAreSummedUpPerErrno) {
    make_dirs(dir + "/a.csv");
    make_dirs(dir + "/b.csv");
    csv_open_failures_collect();
    for (const char* name : {"gone/x.csv", "a.csv", "gone/y.csv", "b.csv", "gone/z.csv"}) {
        EXPECT_FALSE(csv_append("lib/collector", 7, dir + "/" + name, "H\n", "r\n"));
    }
    csv_open_failures_report();
    const std::string e = "(lib/collector:7, errno: ", gone = "No such file or directory";
    EXPECT_EQ(log.entries(),
              (std::vector<std::pair<int, std::string>>{
                  {LOG_ERR, e + gone + ") Could not open file '" + dir + "/gone/x.csv'"},
                  {LOG_ERR, e + "Is a directory) Could not open file '" + dir + "/a.csv'"},
                  {LOG_ERR,
                   "2 more files in '" + dir + "/gone' could not be opened (errno: " + gone + ")"},
                  {LOG_ERR,
                   "1 more files in '" + dir + "' could not be opened (errno: Is a directory)"}}));
}

TEST_F(Hardening, ASessionPathTooLongForAnyFileIsNoSession) {
    for (size_t length : {size_t{PATH_MAX - 1}, size_t{PATH_MAX}, size_t{1} << 20}) {
        log.clear();
        dev.write(std::string(device::kStateFile),
                  "TIME:t\nSSPA:/" + std::string(length - 2, 'p') + "\nACTI:f\n");
        EXPECT_EQ(monitoring_session_load() != nullptr, length < PATH_MAX) << length;
        EXPECT_EQ(log.has(LOG_ERR, "Could not restore monitoring session: Session path too long (" +
                                       std::to_string(length) + " characters, at most 4095)."),
                  length >= PATH_MAX);
    }
}

TEST_F(Hardening, RadarCopyTakesRegularFilesOnly) {
    std::string session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK").session_path;
    std::string source = dev.path(std::string(device::kRadarDir));
    dev.write("/tmp/radar-diagnostics/radar_1.data", "v1");
    fs::create_symlink("/etc/shadow", source + "/radar_x.data");
    ASSERT_EQ(mkfifo((source + "/radar_fifo.data").c_str(), 0600), 0);
    store_radar_data(session);
    EXPECT_EQ(std::distance(fs::directory_iterator(monitoring_folder(session, "monitoring_radar")),
                            fs::directory_iterator()),
              1);
    for (const char* name : {"radar_x.data", "radar_fifo.data"}) {
        EXPECT_TRUE(
            log.has(LOG_DEBUG, "Not copying '" + source + "/" + name + "': not a regular file"));
    }
}

TEST_F(Hardening, ThePasswordNeverReachesTheLog) {
    dev.link(std::string(device::kCurl), "/bin/false");
    for (const std::string password : {"s3cr3t", "a\"b$c`d\\e"}) {
        log.clear();
        log_mask_secrets({password, shell_escape_double_quoted(password)});
        EXPECT_FALSE(fremo_download("root", password, "/x.cgi", dev.root() + "/out"));
        log_msg(LOG_INFO, "plain %s", password.c_str());
        log_mask_secrets({});
        EXPECT_TRUE(log.has(LOG_WARNING, "-u \"root\":\"********\" -o"));
        EXPECT_EQ(log.entries().back(), std::make_pair(LOG_INFO, std::string("plain ********")));
    }
}
