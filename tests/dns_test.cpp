#include "lib/dns.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "lib/sysutil.hpp"

namespace {

// The lookups run in a child of this test binary with nss_wrapper preloaded, so that the real
// getaddrinfo and getnameinfo answer from a hosts file of the test's own. The child answers one
// lookup before any test starts: the answer, a "--" line, then what it logged.
const bool kIsLookupChild = [] {
    const char* url = getenv("KELVANE_DNS_URL");
    const char* type = getenv("KELVANE_DNS_TYPE");
    if (url == nullptr || type == nullptr) {
        return false;
    }
    std::string logged;
    log_set_sink([&logged](int level, const std::string& text) {
        logged += std::to_string(level) + " " + text + "\n";
    });
    write_out_dns(std::string(url) == "<NULL>" ? nullptr : url,
                  static_cast<UrlType>(std::atoi(type)));
    std::printf("\n--\n%s", logged.c_str());
    std::fflush(stdout);
    _exit(0);
}();

std::string lookup(const std::string& url, int type) {
    std::string self(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", self.data(), self.size());
    self.resize(n > 0 ? static_cast<size_t>(n) : 0);
    const char* asan = getenv("ASAN_OPTIONS");
    // ASan wants to come first among the preloaded libraries; here it comes second.
    std::string cmd = "LD_PRELOAD=libnss_wrapper.so NSS_WRAPPER_HOSTS=" KELVANE_SOURCE_DIR
                      "/tests/data/dns/hosts ASAN_OPTIONS='" +
                      shell_escape_single_quoted(std::string(asan != nullptr ? asan : "") +
                                                 ":verify_asan_link_order=0") +
                      "' KELVANE_DNS_URL='" + shell_escape_single_quoted(url) +
                      "' KELVANE_DNS_TYPE=" + std::to_string(type) + " '" +
                      shell_escape_single_quoted(self) + "'";
    Pipe pipe(popen(cmd.c_str(), "r"));
    std::string out;
    for (int c; pipe && (c = std::fgetc(pipe.get())) != EOF;) {
        out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

TEST(Dns, ReportsWhatTheResolverAnswers) {
    if (!std::string(KELVANE_EXEC_PREFIX).empty()) {
        GTEST_SKIP() << "nss_wrapper is a library of this machine and cannot be preloaded into a "
                        "test binary that runs under an emulator";
    }
    const auto ok = [](const std::string& url) {
        return "\n--\n7 Network Tools: DNS Lookup " + url + "\n7 Network Tools: DNS Lookup " + url +
               " successful\n";
    };
    const auto failed = [](const std::string& url) {
        return "\n--\n7 Network Tools: DNS Lookup " + url + "\n7 Network Tools: DNS Lookup " + url +
               " failed\n";
    };
    std::string many;
    for (int i = 1; i <= 11; ++i) {
        many += "IPv4 address: 192.0.2." + std::to_string(i) + "\n";
    }
    struct Case {
        std::string url;
        int type;
        std::string expected;
    };
    const Case cases[] = {
        {"three.test", URLTYPE_HOST,
         "IPv4 address: 198.51.100.3\nIPv4 address: 198.51.100.1\nIPv4 address: 198.51.100.2\n"
         "IPv6 address: 2001:db8::3\n" +
             ok("three.test")},
        {"many.test", URLTYPE_HOST, many + "IPv6 address: 2001:db8::14\n" + ok("many.test")},
        {"six.test", URLTYPE_HOST,
         "IPv6 address: 2001:db8::6\nIPv6 address: 2001:db8::66\n" + ok("six.test")},
        {"unknown.test", URLTYPE_HOST,
         "DNS Lookup failed for both IPv4 and IPv6" + failed("unknown.test")},
        {"<NULL>", URLTYPE_HOST, "DNS Lookup failed for both IPv4 and IPv6" + failed("(null)")},
        {"203.0.113.7", URLTYPE_IPV4, "Hostname: named.test" + ok("203.0.113.7")},
        {"203.0.113.8", URLTYPE_IPV4, "Hostname: 203.0.113.8" + ok("203.0.113.8")},
        {"2001:db8::6", URLTYPE_IPV6, "Hostname: six.test" + ok("2001:db8::6")},
        {"2001:db8::99", URLTYPE_IPV6, "Hostname: 2001:db8::99" + ok("2001:db8::99")},
        // Text that is no address of the family is not looked up as 0.0.0.0 or ::.
        {"203.0.113", URLTYPE_IPV4, "Reverse IPv4 DNS Lookup failed" + failed("203.0.113")},
        {"203.0.113.7", URLTYPE_IPV6, "Reverse IPv6 DNS Lookup failed" + failed("203.0.113.7")},
        {"three.test", 3, "\n--\n7 Network Tools: DNS Lookup three.test\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lookup(c.url, c.type), c.expected) << c.url << " as " << c.type;
    }
}
