#include "lib/ovra_cont_syslog.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/process.hpp"
#include "support/transcript.hpp"

TEST(ContSyslog, CapturesMergesOnResumeAndRefusesWhatIsUnsafe) {
    DeviceRoot dev;
    LogCapture log;
    dev.link("/usr/bin/tail", "/usr/bin/tail");
    std::filesystem::copy(KELVANE_TEST_DATA "ovra_cont_syslog/device", dev.root(),
                          std::filesystem::copy_options::recursive);
    make_dirs(dev.path("/capture dir"));
    const std::string capture = dev.path("/capture dir/sys\"log $HOME `x`.txt");
    // Appends `line` to a log; true when the capture then reads `expected`.
    auto logged = [&](const char* name, const std::string& line, const std::string& expected) {
        std::ofstream(dev.path(std::string("/var/log/") + name), std::ios::app) << line;
        return wait_until([&] { return read_file(capture) == expected; });
    };
    // tail sets up its watch only after it has opened each log at its end: from then on every
    // appended line is captured, and no earlier one.
    auto following = [](pid_t pid) {
        std::string watching = "ls -l /proc/" + std::to_string(pid) + "/fd | grep -q inotify";
        return pid > 0 && wait_until([&] { return std::system(watching.c_str()) == 0; });
    };
    pid_t pid = ovra_cont_syslog_start(capture.c_str());
    ASSERT_TRUE(following(pid));
    EXPECT_TRUE(logged("info.log", "charlie info\n", "charlie info\n"));
    EXPECT_TRUE(logged("error.log", "alpha error\n", "charlie info\nalpha error\n"));
    EXPECT_TRUE(logged("warning.log", "bravo\n", "charlie info\nalpha error\nbravo\n"));
    ovra_cont_syslog_stop(pid);
    EXPECT_EQ(take_log(log), "7 Successfully sent SIGTERM to pid " + std::to_string(pid) + "\n");

    // Missed while stopped, or already captured: each line once, in sorted order.
    std::ofstream(dev.path("/var/log/info.log"), std::ios::app) << "foxtrot missed\n";
    std::filesystem::create_symlink(dev.path("/planted"), capture + ".tmp");
    pid = ovra_cont_syslog_resume(capture.c_str());
    EXPECT_FALSE(std::filesystem::exists(dev.path("/planted")));
    const std::string merged = test_data("ovra_cont_syslog/merged.expected");
    EXPECT_EQ(read_file(capture), merged);
    ASSERT_TRUE(following(pid));
    EXPECT_TRUE(logged("error.log", "after resume\n", merged + "after resume\n"));
    ovra_cont_syslog_stop(pid);

    // The child gives up by itself: had it followed the link, tail would be running.
    std::filesystem::create_symlink(dev.path("/elsewhere"), dev.path("/capture dir/link"));
    pid = ovra_cont_syslog_start(dev.path("/capture dir/link").c_str());
    std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    EXPECT_TRUE(
        wait_until([&] { return read_file(stat).value_or("").find(") Z ") != std::string::npos; }));
    ovra_cont_syslog_stop(pid);

    // A merge that cannot write is logged, once.
    ovra_cont_syslog_stop(ovra_cont_syslog_resume(dev.path("/no such dir/capture").c_str()));
    EXPECT_EQ(log.count("Failed to copy missed log lines: Could not create child process."), 1u);

    // 0 would reach the caller's whole process group: tried in a child alone in a group of its
    // own. -1, which would reach every process, is never tried.
    pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        LogCapture inner;
        ovra_cont_syslog_stop(0);
        _exit(inner.count("errno: Invalid argument) Could not send SIGTERM to pid 0") == 1 ? 0 : 1);
    }
    int status = -1;
    EXPECT_TRUE(waitpid(child, &status, 0) == child && status == 0);
}
