#include "lib/ovra_nettools.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "lib/sysutil.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

// The camera's ping stands first on PATH: the host's never stops by itself.
class Nettools : public ::testing::Test {
  protected:
    Nettools() : saved_path_(getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin") {
        dev.link("/bin/ping", KELVANE_SOURCE_DIR "/tests/support/ping");
        setenv("PATH", (dev.root() + "/bin:" + saved_path_).c_str(), 1);
    }
    ~Nettools() override { setenv("PATH", saved_path_.c_str(), 1); }

    std::string saved_path_;
    DeviceRoot dev;
    LogCapture log;
};

std::vector<std::string> texts(const LogCapture& log) {
    std::vector<std::string> out;
    for (const auto& [level, text] : log.entries()) {
        out.push_back(std::to_string(level) + " " + text);
    }
    return out;
}

TEST_F(Nettools, PingShowsEveryLineAndLogsTheResult) {
    const std::string nasty = "x\"; touch " + dev.root() + "/pwned; \"$(touch " + dev.root() +
                              "/pwned)`touch " + dev.root() + "/pwned`'";
    struct Case {
        std::string address, out, result;
        int status;
    };
    const Case cases[] = {
        {"127.0.0.1", "127.0.0.1 is alive!\n\n", "successful", 0},
        {"10.255.0.1", "No response from 10.255.0.1\n\n", "failed", 1},
        {"warn.example",
         "ping: SO_BINDTODEVICE: Operation not permitted\n\nwarn.example is alive!\n\n",
         "successful", 0},
        {nasty, nasty + " is alive!\n\n", "successful", 0},
        {"a b\t\xc3\xa9", "a b\t\xc3\xa9 is alive!\n\n", "successful", 0},
        {std::string(300, 'h'), std::string(300, 'h') + " is alive!\n\n", "successful", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        log.clear();
        testing::internal::CaptureStdout();
        int status = ovra_nettools_ping(c.address.c_str());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status);
        EXPECT_EQ(texts(log),
                  std::vector<std::string>{"6 Network Tools: Ping " + c.address + " " + c.result});
    }
    EXPECT_FALSE(read_file(dev.root() + "/pwned").has_value());
}

TEST_F(Nettools, TracerouteShowsEveryLineAndLogsOneLinePerSilentRun) {
    const std::string hops = KELVANE_SOURCE_DIR "/tests/data/ovra_nettools/silent_hops.txt";
    const std::string captured = read_file(hops).value_or("");
    const std::string wide(3000, 'w');
    struct Case {
        std::string command, out;
        std::vector<std::string> logged;
        int status;
    };
    const Case cases[] = {
        {"cat " + shell_escape_unquoted(hops),
         [&] {
             std::string out;
             for (char c : captured) {
                 out += c == '\n' ? "\n\n" : std::string(1, c);
             }
             return out;
         }(),
         {"6 Traceroute: traceroute to 10.20.30.40 (10.20.30.40), 30 hops max, 38 byte packets\n",
          "6 Traceroute:  1  192.168.1.1  0.512 ms  0.301 ms  0.288 ms\n",
          "6 Traceroute:  2  * * *\n",
          "6 Traceroute:  5  10.20.30.40  3.104 ms  2.912 ms  3.017 ms\n",
          "6 Traceroute:  6  * * *\n"},
         0},
        // Lines of any length stay whole, in the answer and in the log.
        {"printf '%s\\n' " + wide + "; printf 'end'; exit 3",
         wide + "\n\nend\n",
         {"6 Traceroute: " + wide + "\n", "6 Traceroute: end"},
         3},
        {"", "", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        log.clear();
        testing::internal::CaptureStdout();
        int status = ovra_nettools_traceroute(c.command.c_str());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status);
        EXPECT_EQ(texts(log), c.logged);
    }
}

TEST_F(Nettools, TracerouteOfLoopbackWithTheDevicesTool) {
    testing::internal::CaptureStdout();
    int status = ovra_nettools_traceroute("busybox traceroute -n -m 2 127.0.0.1 2>&1");
    std::string out = testing::internal::GetCapturedStdout();
    if (out.find("Operation not permitted") != std::string::npos) {
        GTEST_SKIP() << "traceroute needs a raw socket, which this machine does not allow: " << out;
    }
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("\n\n 1  127.0.0.1  "), std::string::npos) << out;
    EXPECT_EQ(log.count("Traceroute: "), 2u) << out;
}
