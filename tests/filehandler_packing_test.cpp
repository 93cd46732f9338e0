#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "lib/filehandler.hpp"
#include "support/archive.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

namespace {

// Waits (bounded) for the background zip of `path` to finish.
bool wait_for_zip(const std::string& path) {
    for (int i = 0; i < 600; ++i) {
        if (!is_zipping_session(path)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

class PackingTest : public ::testing::Test {
  protected:
    // zip_session leaves the process in the folder's parent, which the device root removes.
    ~PackingTest() override { EXPECT_EQ(chdir("/"), 0); }

    DeviceRoot dev;
    BusyBoxPath busybox;
    LogCapture log;
};

}  // namespace

TEST_F(PackingTest, PacksTheFolderWithRelativePathsBesideItAndWithoutTmpFiles) {
    std::string session = dev.root() + "/card/20231103_10_00_01 $(touch pwned) `id`";
    write_file(session + "/Session_Information.txt", "Duration: 1 Days 0 hours 0 minutes\n");
    write_file(session + "/system_monitoring/monitoring_load/load.csv", "Date,Time\n");
    write_file(session + "/.tmp_upload", "half a file");
    write_file(session + "/system_monitoring/.tmpdir/x", "scratch");
    write_file(session + "/system_monitoring/a.tmp", "kept: its name does not begin with .tmp");

    EXPECT_EQ(zip_session(session), 1);
    ASSERT_TRUE(wait_for_zip(session));
    std::string name = "20231103_10_00_01 $(touch pwned) `id`";
    EXPECT_EQ(unzip_list(session + ".zip"),
              (std::set<std::string>{
                  name + "/", name + "/Session_Information.txt", name + "/system_monitoring/",
                  name + "/system_monitoring/a.tmp", name + "/system_monitoring/monitoring_load/",
                  name + "/system_monitoring/monitoring_load/load.csv"}));
    EXPECT_TRUE(log.has(LOG_DEBUG, "zipping '" + name + "'"));
    EXPECT_FALSE(fs::exists(dev.root() + "/card/pwned"));
    EXPECT_TRUE(fs::is_directory(session));
}

TEST_F(PackingTest, ARunningPackingOfTheSameFolderIsNotStartedTwice) {
    std::string session = dev.root() + "/card/20231103_10_00_02";
    make_dirs(session);
    // A zip of this folder's name still running (from this or another storage).
    pid_t holder = fork();
    if (holder == 0) {
        setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", "sleep 60; :", "zip", "-r", "20231103_10_00_02.zip",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    bool seen = false;
    for (int i = 0; i < 200 && !seen; ++i) {
        seen = is_zipping_session(session);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(zip_session(session), 0);
    kill(-holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_FALSE(fs::exists(session + ".zip"));
    EXPECT_FALSE(is_zipping_session(session));
}

TEST_F(PackingTest, PathsThatCannotBePackedAreLoggedAndLeftAlone) {
    make_dirs(dev.root() + "/card/20231103_10_00_03");
    ASSERT_EQ(chdir(dev.root().c_str()), 0);
    EXPECT_EQ(zip_session("card/20231103_10_00_03"), 1);
    EXPECT_TRUE(log.has(LOG_ERR, "Path to zip must be absolute, but got: card/20231103_10_00_03"));

    EXPECT_EQ(zip_session(dev.root() + "/card/missing"), 1);
    EXPECT_TRUE(
        log.has(LOG_ERR, "Path to zip is not a directory: " + dev.root() + "/card/missing"));

    EXPECT_FALSE(is_zipping_session("20231103_10_00_03"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not get basename of path: 20231103_10_00_03"));
    // A trailing slash names no folder; it must not match every zip (or grep) line.
    EXPECT_FALSE(is_zipping_session(dev.root() + "/card/"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not get basename of path: " + dev.root() + "/card/"));

    EXPECT_EQ(zip_session("/"), 1);
    EXPECT_TRUE(log.has(LOG_ERR, "Invalid path to zip: /"));
    EXPECT_TRUE(fs::is_empty(dev.root() + "/card/20231103_10_00_03"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dev.root() + "/card"), fs::directory_iterator()),
              1);
}

TEST_F(PackingTest, WithoutZipNothingIsPackedAndNothingBreaks) {
    std::string session = dev.root() + "/card/20231103_10_00_04";
    make_dirs(session);
    std::string saved = getenv("PATH");
    setenv("PATH", busybox.dir().c_str(), 1);
    EXPECT_EQ(zip_session(session), 1);
    setenv("PATH", saved.c_str(), 1);
    EXPECT_TRUE(wait_for_zip(session));
    EXPECT_FALSE(fs::exists(session + ".zip"));
    EXPECT_TRUE(fs::is_directory(session));
}
