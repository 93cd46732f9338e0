#include "lib/sysutil.hpp"

#include <gtest/gtest.h>

#include "lib/fileutil.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

// Every hostile value, in each quoting, reaches printf unchanged and runs nothing; the runner
// tells success, an exit status and a killed shell apart.
TEST(Sysutil, EscapedValuesReachTheShellUnchangedAndTheRunnerReportsFailures) {
    DeviceRoot dev;
    LogCapture log;
    const std::string root = shell_escape_unquoted(dev.root());
    for (const std::string value :
         {"a \"b\" $(touch $PWNED) `touch $PWNED` 'c' \\d $HOME\tx\ny;&|*?~#!", "ends in \\",
          "\n"}) {
        for (const std::string& quoted :
             {"\"" + shell_escape_double_quoted(value) + "\"",
              "'" + shell_escape_single_quoted(value) + "'", shell_escape_unquoted(value)}) {
            EXPECT_TRUE(ovra_system("cd " + root + " && printf '%s' " + quoted + " > out"));
            EXPECT_EQ(read_file(dev.root() + "/out"), value) << quoted;
        }
    }
    EXPECT_FALSE(read_file(dev.root() + "/pwned").has_value());
    // Ordinary values keep the exact command line.
    const std::string plain = "/var/spool/storage/SD_DISK/Kelvane/20240307_14_05_09";
    EXPECT_EQ(shell_escape_unquoted(plain), plain);
    // Helper scripts run for minutes: they must not hold another thread's pipe or file open.
    Pipe pipe = pipe_open_or_die("test", 0, "true");
    File file = file_open(dev.root() + "/f", "w");
    EXPECT_TRUE(ovra_systemf("! test -e /proc/$$/fd/%d -o -e /proc/$$/fd/%d", fileno(pipe.get()),
                             fileno(file.get())));
    EXPECT_FALSE(ovra_system("exit 3"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Exit status '3' for command: exit 3"));
    // The shell itself killed: no exit status.
    EXPECT_FALSE(ovra_system("kill -TERM $$"));
    EXPECT_TRUE(log.has(LOG_ERR, ") Unsuccessful command: kill -TERM $$"));
}
