#include "lib/dns.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "lib/sysutil.hpp"
#include "support/transcript.hpp"

#define LOG_MODULE "tests/dns_test"

namespace {

// The lookups run in a child of this test binary with nss_wrapper preloaded, so that the real
// getaddrinfo and getnameinfo answer from the hosts file of the test alone. The child answers
// every case ("<type> <text>") before any test starts, and writes what it printed and logged.
const bool kIsLookupChild = [] {
    const char* cases_file = getenv("KELVANE_DNS_CASES");
    if (cases_file == nullptr) {
        return false;
    }
    LogCapture log;
    std::istringstream cases(read_file(cases_file).value_or(""));
    for (std::string line; std::getline(cases, line);) {
        std::string url = line.substr(2);
        std::printf("$ %s\n", line.c_str());
        write_out_dns(url == "<NULL>" ? nullptr : url.c_str(), static_cast<UrlType>(line[0] - '0'));
        std::printf("\n%s", take_log(log).c_str());
    }
    std::fflush(stdout);
    _exit(0);
}();

}  // namespace

TEST(Dns, ReportsWhatTheResolverAnswers) {
    if (!std::string(KELVANE_EXEC_PREFIX).empty()) {
        GTEST_SKIP() << "nss_wrapper is a library of this machine and cannot be preloaded into a "
                        "test binary that runs under an emulator";
    }
    std::string self(4096, '\0');
    self.resize(static_cast<size_t>(
        std::max<ssize_t>(0, readlink("/proc/self/exe", self.data(), self.size()))));
    const char* asan = getenv("ASAN_OPTIONS");
    // ASan wants to be the first preloaded library; here it comes second.
    Pipe child = PIPE_OPEN("LD_PRELOAD=libnss_wrapper.so NSS_WRAPPER_HOSTS='" KELVANE_TEST_DATA
                           "dns/hosts' KELVANE_DNS_CASES='" KELVANE_TEST_DATA
                           "dns/cases.txt' ASAN_OPTIONS='" +
                           shell_escape_single_quoted(std::string(asan != nullptr ? asan : "") +
                                                      ":verify_asan_link_order=0") +
                           "' '" + shell_escape_single_quoted(self) + "'");
    std::string transcript;
    for (int c; (c = std::fgetc(child.get())) != EOF;) {
        transcript += static_cast<char>(c);
    }
    EXPECT_EQ(pipe_close(child), 0);
    EXPECT_EQ(transcript, test_data("dns/cases.expected"));
}
