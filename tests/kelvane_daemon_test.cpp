#include "kelvane_daemon.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <regex>

#include "lib/fileutil.hpp"
#include "lib/sysutil.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

// Runs the daemon (through the emulator of a cross build) with `input` on its standard input
// for at most `seconds`: its exit status (124: still running, then stopped) and standard error.
static std::pair<int, std::string> run_daemon(const std::string& args, const std::string& input,
                                              const char* seconds) {
    Pipe pipe = pipe_open_or_die("test", 0,
                                 "printf '%s' '" + input + "' | timeout " + seconds +
                                     " " KELVANE_EXEC_PREFIX " " KELVANE_DAEMON_PATH " " + args +
                                     " 2>&1 >/dev/null");
    std::string err;
    file_read_all(pipe.get(), err);
    return {WEXITSTATUS(pipe_close(pipe)), err};
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
    EXPECT_EQ(run_daemon("s n t u", "secret\n", "1").first, 124);
}

TEST(DaemonStart, RestoredSessionIsReportedBeforeADebugVersionLine) {
    DeviceRoot dev;
    LogCapture log;
    log_version(restore_session());
    ASSERT_EQ(log.entries().size(), 1u);
    auto [level, version] = log.entries()[0];
    EXPECT_EQ(level, LOG_INFO);
    std::regex line(R"(Kelvane version 5\.0\.0, compiled: [A-Z][a-z]{2} [ 1-3]\d \d{4} [\d:]{8})");
    EXPECT_TRUE(std::regex_match(version, line)) << version;
    log.clear();
    lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    log_version(restore_session());
    EXPECT_EQ(
        log.entries(),
        (std::vector<std::pair<int, std::string>>{
            {LOG_INFO, "Continuing System Monitoring Session. Device was rebooted or lost power."},
            {LOG_DEBUG, version}}));
}
