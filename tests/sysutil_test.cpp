#include "lib/sysutil.hpp"

#include <gtest/gtest.h>

#include "support/device_root.hpp"
#include "support/log_capture.hpp"

TEST(Sysutil, RunnerReportsExitStatusAndSignals) {
    LogCapture log;
    EXPECT_TRUE(ovra_system("true"));
    EXPECT_TRUE(log.entries().empty());

    EXPECT_FALSE(ovra_system("exit 3"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Exit status '3' for command: exit 3"));

    EXPECT_FALSE(ovra_system("no-such-command-kelvane 2>/dev/null"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Exit status '127' for command: no-such-command-kelvane"));

    // The shell itself killed: no exit status.
    EXPECT_FALSE(ovra_system("kill -TERM $$"));
    EXPECT_TRUE(log.has(LOG_ERR, ") Unsuccessful command: kill -TERM $$"));

    // A child killed by a signal is reported by the shell as 128 + signal.
    log.clear();
    EXPECT_FALSE(ovra_system("sh -c 'kill -KILL $$'"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Exit status '137' for command: "));
}

TEST(Sysutil, BackgroundedAndLongCommandLines) {
    DeviceRoot dev;
    std::string out = dev.root() + "/out";
    EXPECT_TRUE(ovra_systemf("(sleep 0.2; echo done > \"%s\") &", out.c_str()));
    EXPECT_FALSE(read_file(out).has_value());  // returned before the job ended

    std::string value(8000, 'v');
    EXPECT_TRUE(ovra_systemf("printf '%%s' '%s' > \"%s\"", value.c_str(), out.c_str()));
    EXPECT_EQ(read_file(out), value);
}

TEST(Sysutil, EscapedValuesReachTheCommandUnchanged) {
    DeviceRoot dev;
    LogCapture log;
    const std::string nasty = "a \"b\" $(touch pwned) `touch pwned` 'c' \\d $HOME\tx\ny;&|*?~#!";
    std::string out = dev.root() + "/out";
    std::string pwned = dev.root() + "/pwned";
    std::string cd = "cd " + shell_escape_unquoted(dev.root()) + " && ";

    EXPECT_TRUE(
        ovra_system(cd + "printf '%s' \"" + shell_escape_double_quoted(nasty) + "\" > out"));
    EXPECT_EQ(read_file(out), nasty);
    EXPECT_TRUE(ovra_system(cd + "printf '%s' '" + shell_escape_single_quoted(nasty) + "' > out"));
    EXPECT_EQ(read_file(out), nasty);
    EXPECT_TRUE(ovra_system(cd + "printf '%s' " + shell_escape_unquoted(nasty) + " > out"));
    EXPECT_EQ(read_file(out), nasty);
    EXPECT_FALSE(read_file(pwned).has_value());
    EXPECT_TRUE(log.entries().empty());

    // Ordinary values keep the exact command line.
    const std::string plain = "/var/spool/storage/SD_DISK/Kelvane/20240307_14_05_09";
    EXPECT_EQ(shell_escape_double_quoted(plain), plain);
    EXPECT_EQ(shell_escape_single_quoted(plain), plain);
    EXPECT_EQ(shell_escape_unquoted(plain), plain);
}

TEST(Sysutil, PipeReadsCommandOutputAndStatus) {
    Pipe pipe = pipe_open_or_die("lib/sysutil", 1, "printf 'one\\ntwo\\n'; exit 2");
    char buffer[16];
    ASSERT_NE(fgets(buffer, sizeof buffer, pipe.get()), nullptr);
    EXPECT_STREQ(buffer, "one\n");
    int status = pipe_close(pipe);
    EXPECT_EQ(pipe, nullptr);
    EXPECT_EQ(WEXITSTATUS(status), 2);
}
