#include "kelvane_daemon.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

struct DaemonRun {
    bool exited = false;
    int status = -1;
    std::string err;
};

// Runs the daemon with `args`, `input` on its standard input (closed when nullopt), and kills
// it if it is still running after `grace`.
DaemonRun run_daemon(const std::vector<std::string>& args, const std::optional<std::string>& input,
                     std::chrono::milliseconds grace) {
    DeviceRoot scratch;
    std::string in_path = scratch.root() + "/in", err_path = scratch.root() + "/err";
    write_file(in_path, input.value_or(""));
    // A cross-built daemon is started through the emulator (the prefix is empty natively):
    // an emulated process cannot exec another target binary without binfmt_misc.
    std::vector<std::string> words;
    std::istringstream prefix(KELVANE_EXEC_PREFIX);
    for (std::string word; prefix >> word;) {
        words.push_back(word);
    }
    words.push_back(KELVANE_DAEMON_PATH);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        freopen(input ? in_path.c_str() : "/dev/null", "r", stdin);
        freopen(err_path.c_str(), "w", stderr);
        execvp(argv[0], argv.data());
        _exit(99);
    }
    DaemonRun run;
    auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &run.status, WNOHANG) == pid) {
            run.exited = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!run.exited) {
        kill(pid, SIGKILL);
        waitpid(pid, &run.status, 0);
    }
    run.err = read_file(err_path).value_or("");
    return run;
}

}  // namespace

TEST(DaemonStart, WrongArgumentCountPrintsUsageAndExits1) {
    for (auto args : {std::vector<std::string>{"a", "b", "c"},
                      std::vector<std::string>{"a", "b", "c", "d", "e"}}) {
        DaemonRun run = run_daemon(args, std::string("pw\n"), std::chrono::seconds(10));
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(WEXITSTATUS(run.status), 1);
        EXPECT_EQ(run.err, std::string("Usage: ") + KELVANE_DAEMON_PATH +
                               " <serial_number> <full_name> <prod_type> <fremo_user>\n");
    }
}

TEST(DaemonStart, NoPasswordLineExits1AndAPasswordRunsUntilKilled) {
    DaemonRun closed = run_daemon({"s", "n", "t", "u"}, std::nullopt, std::chrono::seconds(10));
    ASSERT_TRUE(closed.exited);
    EXPECT_EQ(WEXITSTATUS(closed.status), 1);
    EXPECT_EQ(closed.err, "");

    DaemonRun running =
        run_daemon({"s", "n", "t", "u"}, std::string("secret\n"), std::chrono::milliseconds(700));
    EXPECT_FALSE(running.exited);
    EXPECT_TRUE(WIFSIGNALED(running.status));
}

TEST(DaemonStart, PasswordIsTheFirstLineCutAt255) {
    DeviceRoot dev;
    auto read = [&](const std::string& text) {
        write_file(dev.root() + "/pw", text);
        std::FILE* f = std::fopen((dev.root() + "/pw").c_str(), "r");
        auto password = read_password(f);
        std::fclose(f);
        return password;
    };
    EXPECT_EQ(read("secret\nsecond\n"), "secret");
    EXPECT_EQ(read("no newline"), "no newline");
    EXPECT_EQ(read("\nsecond"), "");
    EXPECT_EQ(read(std::string(300, 'p') + "\n"), std::string(255, 'p'));
    EXPECT_EQ(read(""), std::nullopt);
}

TEST(DaemonStart, RestoredSessionIsReportedBeforeADebugVersionLine) {
    DeviceRoot dev;
    LogCapture log;
    log_version(restore_session());
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(log.entries()[0].first, LOG_INFO);
    std::string version = log.entries()[0].second;
    EXPECT_EQ(version.rfind("Kelvane version 5.0.0, compiled: ", 0), 0u);
    EXPECT_EQ(version.size(),
              std::string("Kelvane version 5.0.0, compiled: Dec  6 2026 08:00:00").size());

    log.clear();
    lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    log_version(restore_session());
    ASSERT_EQ(log.entries().size(), 2u);
    EXPECT_EQ(log.entries()[0],
              std::make_pair(LOG_INFO, std::string("Continuing System Monitoring Session. Device "
                                                   "was rebooted or lost power.")));
    EXPECT_EQ(log.entries()[1], std::make_pair(LOG_DEBUG, version));
}

TEST(DaemonStart, PtzIsACaseSensitiveSubstringOfNameOrType) {
    EXPECT_TRUE(camera_has_ptz("Q6075 PTZ Camera", "Camera"));
    EXPECT_TRUE(camera_has_ptz("Dome", "xPTZx"));
    EXPECT_FALSE(camera_has_ptz("ptz dome", "Ptz"));
}
