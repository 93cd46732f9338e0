#include "lib/ovra_nettools.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <regex>
#include <sstream>

#include "support/transcript.hpp"

// Each run: the line of runs.txt, what the web tool shows, the exit status, what is logged.
TEST(Nettools, RunsGiveTheExpectedAnswersAndLogLines) {
    DeviceRoot dev;
    LogCapture log;
    // The camera's ping stands first on PATH: the host's never stops by itself.
    const std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin";
    dev.link("/bin/ping", KELVANE_SOURCE_DIR "/tests/support/ping");
    setenv("PATH", (dev.root() + "/bin:" + path).c_str(), 1);
    std::istringstream runs(test_data("ovra_nettools/runs.txt"));
    std::string transcript;
    for (std::string run; std::getline(runs, run);) {
        std::string arg =
            std::regex_replace(run.substr(run.find(' ') + 1), std::regex("@ROOT@"), dev.root());
        arg = std::regex_replace(arg, std::regex("@DATA@"), KELVANE_TEST_DATA);
        int status = 0;
        std::string out = printed([&] {
            status = run.starts_with("ping ") ? ovra_nettools_ping(arg.c_str())
                                              : ovra_nettools_traceroute(arg.c_str());
        });
        transcript += "$ " + run + "\n" + out + "status " + std::to_string(WEXITSTATUS(status)) +
                      "\n" + take_log(log);
    }
    transcript = std::regex_replace(transcript, std::regex(dev.root()), "@ROOT@");
    EXPECT_EQ(transcript, test_data("ovra_nettools/runs.expected"));
    EXPECT_FALSE(read_file(dev.root() + "/pwned").has_value());
    setenv("PATH", path.c_str(), 1);
}

TEST(Nettools, TracerouteOfLoopbackWithTheDevicesTool) {
    LogCapture log;
    std::string out =
        printed([] { ovra_nettools_traceroute("busybox traceroute -n -m 2 127.0.0.1 2>&1"); });
    if (out.find("Operation not permitted") != std::string::npos) {
        GTEST_SKIP() << "traceroute needs a raw socket, which this machine does not allow: " << out;
    }
    EXPECT_TRUE(
        std::regex_match(out, std::regex("traceroute to 127.0.0.1 .*\n\n 1  127.0.0.1  .* ms\n\n")))
        << out;
    EXPECT_EQ(log.count("Traceroute: "), 2u);
}
