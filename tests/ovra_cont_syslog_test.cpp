#include "lib/ovra_cont_syslog.hpp"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

namespace {

// Polls `done` until it holds; the deadline only keeps a broken capture from hanging the suite.
bool wait_until(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Runs `calls` in a child alone in a process group and a pid namespace of its own. The child's
// exit status: 0 when `calls` held, 77 when no namespace could be made.
int run_alone(const std::function<bool()>& calls) {
    pid_t outer = fork();
    if (outer == 0) {
        setpgid(0, 0);
        if (unshare(CLONE_NEWPID) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWPID) != 0) {
            _exit(77);
        }
        pid_t inner = fork();
        if (inner == 0) {
            _exit(calls() ? 0 : 1);
        }
        int status = 0;
        waitpid(inner, &status, 0);
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 2);
    }
    int status = 0;
    waitpid(outer, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
}

class ContSyslog : public ::testing::Test {
  protected:
    ContSyslog() {
        dev.link("/usr/bin/tail", "/usr/bin/tail");
        dev.write("/var/log/error.log", "delta error before\n");
        dev.write("/var/log/warning.log", "echo warning before\n");
        dev.write("/var/log/info.log", "");
        make_dirs(dev.path("/capture dir"));
    }

    std::string log(const char* name) const { return dev.path(std::string("/var/log/") + name); }

    void append(const char* name, const std::string& line) const {
        std::ofstream(log(name), std::ios::app) << line;
    }

    // tail has opened all three logs at their ends, so that every line appended from now on is
    // captured and no earlier one.
    bool following(pid_t pid) const {
        int at_end = 0;
        std::error_code ec;
        for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
            std::string target = fs::read_symlink(fd.path(), ec).string();
            if (target.starts_with(dev.path("/var/log/"))) {
                std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" +
                                   fd.path().filename().string());
                std::string key;
                long long pos = -1;
                info >> key >> pos;
                at_end += pos == static_cast<long long>(fs::file_size(target, ec)) ? 1 : 0;
            }
        }
        return at_end == 3;
    }

    DeviceRoot dev;
    LogCapture logged;
    const std::string capture = dev.path("/capture dir/sys\"log $HOME `x`.txt");
};

}  // namespace

TEST_F(ContSyslog, CapturesNewLinesAndMergesMissedOnesOnResume) {
    pid_t pid = ovra_cont_syslog_start(capture.c_str());
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(wait_until([&] { return following(pid); }));
    std::string expected;
    for (const auto& [name, line] : {std::pair{"info.log", "charlie info\n"},
                                     {"error.log", "alpha error\n"},
                                     {"warning.log", "bravo warning\n"}}) {
        append(name, line);
        expected += line;
        ASSERT_TRUE(wait_until([&] { return read_file(capture) == expected; }))
            << read_file(capture).value_or("<missing>");
    }
    ovra_cont_syslog_stop(pid);
    EXPECT_EQ(logged.entries(),
              (std::vector<std::pair<int, std::string>>{
                  {LOG_DEBUG, "Successfully sent SIGTERM to pid " + std::to_string(pid)}}));
    ovra_cont_syslog_stop(pid);
    EXPECT_TRUE(logged.has(
        LOG_ERR, "errno: No such process) Could not send SIGTERM to pid " + std::to_string(pid)));

    // Missed while stopped, and already captured: each line once, in sorted order.
    append("info.log", "foxtrot info while stopped\n");
    logged.clear();
    pid = ovra_cont_syslog_resume(capture.c_str());
    ASSERT_GT(pid, 0);
    expected =
        "alpha error\nbravo warning\ncharlie info\ndelta error before\necho warning before\n"
        "foxtrot info while stopped\n";
    EXPECT_EQ(read_file(capture), expected);
    ASSERT_TRUE(wait_until([&] { return following(pid); }));
    append("error.log", "after resume\n");
    EXPECT_TRUE(wait_until([&] { return read_file(capture) == expected + "after resume\n"; }));
    ovra_cont_syslog_stop(pid);
    EXPECT_EQ(logged.entries().size(), 1u);
    EXPECT_FALSE(fs::exists(capture + ".tmp"));
}

TEST_F(ContSyslog, RefusedPathsAndIdsChangeNothing) {
    const std::string elsewhere = dev.path("/elsewhere.txt");
    write_file(elsewhere, "kept\n");
    fs::create_symlink(elsewhere, capture);
    const std::string missing_dir = dev.path("/no such dir/capture.txt");
    for (const std::string& path : {capture, missing_dir}) {
        pid_t pid = ovra_cont_syslog_start(path.c_str());
        ASSERT_GT(pid, 0);
        // The child gives up by itself: had it followed the link, tail would be running.
        EXPECT_TRUE(wait_until([&] {
            std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat").value_or("");
            return stat.find(") Z ") != std::string::npos;
        }));
        ovra_cont_syslog_stop(pid);
    }
    EXPECT_EQ(read_file(elsewhere), "kept\n");
    EXPECT_FALSE(fs::exists(dev.path("/no such dir")));
    EXPECT_EQ(logged.count("Could not"), 0u);

    // A merge that cannot write still starts the capture.
    pid_t pid = ovra_cont_syslog_resume(missing_dir.c_str());
    ASSERT_GT(pid, 0);
    ovra_cont_syslog_stop(pid);
    EXPECT_TRUE(logged.has(LOG_WARNING,
                           "Failed to copy missed log lines: Could not create child process."));

    // Log files missing: the merge of what there is still succeeds.
    logged.clear();
    fs::remove_all(dev.path("/var/log"));
    const std::string fresh = dev.path("/capture dir/fresh.txt");
    pid = ovra_cont_syslog_resume(fresh.c_str());
    ASSERT_GT(pid, 0);
    ovra_cont_syslog_stop(pid);
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_EQ(logged.count("Failed"), 0u);

    // 0 and -1 would reach the caller's process group or every process: should the refusal ever
    // break, the signal must reach nothing beyond a child of the test.
    int status = run_alone([] {
        LogCapture log;
        ovra_cont_syslog_stop(0);
        ovra_cont_syslog_stop(-1);
        return log.count("errno: Invalid argument) Could not send SIGTERM to pid ") == 2;
    });
    if (status == 77) {
        GTEST_SKIP() << "no pid namespace can be made here to try ids 0 and -1 safely";
    }
    EXPECT_EQ(status, 0);
}
