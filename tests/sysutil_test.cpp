#include "lib/sysutil.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include "lib/fileutil.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

class Sysutil : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
    std::string root = shell_escape_unquoted(dev.root());
};

TEST_F(Sysutil, RunnerReportsExitStatusAndSignals) {
    // Helper scripts run for minutes: they must not hold another thread's pipe or file open.
    Pipe pipe = pipe_open_or_die("test", 0, "true");
    File file = file_open(dev.root() + "/f", "w");
    EXPECT_TRUE(ovra_systemf("! test -e /proc/$$/fd/%d -o -e /proc/$$/fd/%d", fileno(pipe.get()),
                             fileno(file.get())));
    EXPECT_TRUE(log.entries().empty());
    EXPECT_FALSE(ovra_system("exit 3"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Exit status '3' for command: exit 3"));
    EXPECT_FALSE(ovra_system("no-such-command-kelvane 2>/dev/null"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Exit status '127' for command: no-such-command-kelvane"));
    // The shell itself killed: no exit status.
    EXPECT_FALSE(ovra_system("kill -TERM $$"));
    EXPECT_TRUE(log.has(LOG_ERR, ") Unsuccessful command: kill -TERM $$"));
    // A backgrounded command: the runner returns while it still runs.
    ASSERT_TRUE(ovra_system("sleep 30 >/dev/null 2>&1 & echo $! > " + root + "/pid"));
    int pid = std::stoi(read_file(dev.root() + "/pid").value_or("-1"));
    EXPECT_EQ(pid > 1 ? kill(pid, SIGKILL) : -1, 0);  // still running: it was not waited for
    // Command lines of any length.
    std::string value(8000, 'v');
    EXPECT_TRUE(ovra_systemf("printf '%%s' '%s' > %s/out", value.c_str(), root.c_str()));
    EXPECT_EQ(read_file(dev.root() + "/out"), value);
}

TEST_F(Sysutil, EscapedValuesReachTheCommandUnchanged) {
    const std::string nasty = "a \"b\" $(touch $PWNED) `touch $PWNED` 'c' \\d $HOME\tx\ny;&|*?~#!";
    for (const std::string& quoted :
         {"\"" + shell_escape_double_quoted(nasty) + "\"",
          "'" + shell_escape_single_quoted(nasty) + "'", shell_escape_unquoted(nasty)}) {
        EXPECT_TRUE(ovra_system("cd " + root + " && printf '%s' " + quoted + " > out"));
        EXPECT_EQ(read_file(dev.root() + "/out"), nasty);
    }
    EXPECT_FALSE(read_file(dev.root() + "/pwned").has_value());
    EXPECT_TRUE(log.entries().empty());
    // Ordinary values keep the exact command line.
    const std::string plain = "/var/spool/storage/SD_DISK/Kelvane/20240307_14_05_09";
    EXPECT_EQ(shell_escape_double_quoted(plain), plain);
    EXPECT_EQ(shell_escape_single_quoted(plain), plain);
    EXPECT_EQ(shell_escape_unquoted(plain), plain);
}
