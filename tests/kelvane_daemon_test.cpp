#include "kelvane_daemon.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "lib/fileutil.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

struct DaemonRun {
    int status;  // 124: still running after `seconds`, then stopped
    std::string err;
};

// Runs the daemon (through the emulator of a cross build) with `args` and `input` on its
// standard input, for at most `seconds`.
DaemonRun run_daemon(const std::string& args, const std::string& input, const char* seconds) {
    DeviceRoot scratch;
    std::string err = scratch.root() + "/err";
    write_file(scratch.root() + "/in", input);
    int status = std::system((std::string("timeout ") + seconds + " " + KELVANE_EXEC_PREFIX + " " +
                              KELVANE_DAEMON_PATH + " " + args + " <'" + scratch.root() +
                              "/in' 2>'" + err + "'")
                                 .c_str());
    return {WEXITSTATUS(status), read_file(err).value_or("")};
}

}  // namespace

TEST(DaemonStart, ExitsOnBadArgumentsOrNoPasswordElseRunsUntilKilled) {
    const std::string usage = std::string("Usage: ") + KELVANE_DAEMON_PATH +
                              " <serial_number> <full_name> <prod_type> <fremo_user>\n";
    for (auto [args, input, err] : {std::tuple{"a b c", "pw\n", usage},
                                    {"a b c d e", "pw\n", usage},
                                    {"s n t u", "", std::string()}}) {
        DaemonRun run = run_daemon(args, input, "10");
        EXPECT_EQ(run.status, 1) << args;
        EXPECT_EQ(run.err, err);
    }
    EXPECT_EQ(run_daemon("s n t u", "secret\n", "1").status, 124);
}

TEST(DaemonStart, PasswordIsTheFirstLineCutAt255) {
    DeviceRoot dev;
    auto read = [&](const std::string& text) {
        write_file(dev.root() + "/pw", text);
        File f = file_open(dev.root() + "/pw", "r");
        return read_password(f.get());
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
    EXPECT_EQ(log.entries(), (std::vector<std::pair<int, std::string>>{
                                 {LOG_INFO,
                                  "Continuing System Monitoring Session. Device was "
                                  "rebooted or lost power."},
                                 {LOG_DEBUG, version}}));
}

TEST(DaemonStart, PtzIsACaseSensitiveSubstringOfNameOrType) {
    EXPECT_TRUE(camera_has_ptz("Q6075 PTZ Camera", "Camera"));
    EXPECT_TRUE(camera_has_ptz("Dome", "xPTZx"));
    EXPECT_FALSE(camera_has_ptz("ptz dome", "Ptz"));
}
