#include "lib/dns.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "lib/sysutil.hpp"
#include "support/transcript.hpp"

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
        GTEST_SKIP() << "nss_wrapper, a library of this machine, cannot go under an emulator";
    }
    DeviceRoot dev;
    // ASan wants to be the first preloaded library, and cannot stand a library that nss_wrapper
    // loads with RTLD_DEEPBIND.
    EXPECT_TRUE(ovra_system(
        "LD_PRELOAD=libnss_wrapper.so NSS_WRAPPER_HOSTS='" KELVANE_TEST_DATA
        "dns/hosts' NSS_WRAPPER_DISABLE_DEEPBIND=1 KELVANE_DNS_CASES='" KELVANE_TEST_DATA
        "dns/cases.txt' ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" '" +
        shell_escape_single_quoted(std::filesystem::read_symlink("/proc/self/exe").string()) +
        "' > '" + shell_escape_single_quoted(dev.path("/answers")) + "'"));
    EXPECT_EQ(read_file(dev.path("/answers")), test_data("dns/cases.expected"));
}
