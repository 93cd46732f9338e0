#include "lib/ovra_nettools.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "support/busybox_path.hpp"
#include "support/transcript.hpp"

// Each run: the line of runs.txt, what the web tool shows, the exit status, what is logged. The
// camera's ping stands first on PATH: the host's never stops by itself.
TEST(Nettools, RunsGiveTheExpectedAnswersAndLogLines) {
    BusyBoxPath tools;
    std::filesystem::create_symlink(KELVANE_SOURCE_DIR "/tests/support/ping",
                                    tools.dir() + "/ping");
    LogCapture log;
    std::istringstream runs(test_data("ovra_nettools/runs.txt"));
    std::string transcript;
    for (std::string run; std::getline(runs, run);) {
        std::string arg =
            std::regex_replace(run.substr(run.find(' ') + 1), std::regex("@ROOT@"), tools.dir());
        arg = std::regex_replace(arg, std::regex("@DATA@"), KELVANE_TEST_DATA);
        int status = 0;
        std::string out = printed([&] {
            status = run.starts_with("ping ") ? ovra_nettools_ping(arg.c_str())
                                              : ovra_nettools_traceroute(arg.c_str());
        });
        transcript += "$ " + run + "\n" + out + "status " + std::to_string(WEXITSTATUS(status)) +
                      "\n" + take_log(log);
    }
    transcript = std::regex_replace(transcript, std::regex(tools.dir()), "@ROOT@");
    EXPECT_EQ(transcript, test_data("ovra_nettools/runs.expected"));
    EXPECT_FALSE(read_file(tools.dir() + "/pwned").has_value());
}
