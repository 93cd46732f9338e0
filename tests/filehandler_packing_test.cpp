#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "lib/filehandler.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"
#include "support/process.hpp"

namespace fs = std::filesystem;

TEST(Packing, ARunningPackingIsNotStartedTwiceAndBadPathsAreLeftAlone) {
    DeviceRoot dev;
    BusyBoxPath busybox;
    LogCapture log;
    std::string card = dev.root() + "/card", session = card + "/20231103_10_00_02";
    make_dirs(session);
    // A process whose command line names the folder's zip; its sleep keeps none of our pipes.
    pid_t holder = fork();
    if (holder == 0) {
        execl("/bin/sh", "sh", "-c", "sleep 60 </dev/null >/dev/null 2>&1; :", "zip", "-r",
              "20231103_10_00_02.zip", static_cast<char*>(nullptr));
        _exit(127);
    }
    EXPECT_TRUE(wait_until([&] { return is_zipping_session(session); }));
    EXPECT_EQ(zip_session(session), 0);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_FALSE(fs::exists(session + ".zip"));

    const fs::path start_dir = fs::current_path();
    ASSERT_EQ(chdir(dev.root().c_str()), 0);
    for (const auto& [path, message] : std::vector<std::pair<std::string, std::string>>{
             {"card/20231103_10_00_02", "Path to zip must be absolute, but got: "},
             {card + "/missing", "Path to zip is not a directory: "},
             {"/", "Invalid path to zip: "}}) {
        EXPECT_EQ(zip_session(path), 1) << path;
        EXPECT_TRUE(log.has(LOG_ERR, message + path)) << path;
    }
    fs::current_path(start_dir);
    EXPECT_FALSE(is_zipping_session("20231103_10_00_02"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not get basename of path: 20231103_10_00_02"));
    // A trailing slash names no folder; it must not match every zip (or grep) line.
    EXPECT_FALSE(is_zipping_session(card + "/"));
    // Without zip on the device nothing is packed, and nothing breaks.
    std::string saved = getenv("PATH");
    setenv("PATH", busybox.dir().c_str(), 1);
    EXPECT_EQ(zip_session(session), 1);
    setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(card), fs::directory_iterator()), 1);
}
