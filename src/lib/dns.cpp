#include "lib/dns.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lib/log.hpp"

#define LOG_MODULE "lib/dns"

namespace {

const char* shown(const char* url) {
    return url != nullptr ? url : "(null)";
}

// The answer page has room for this many addresses per family.
constexpr size_t kMaxAddresses = 11;

struct AddrinfoFree {
    void operator()(addrinfo* ai) const { freeaddrinfo(ai); }
};

// The addresses of `host` in the resolver's order; nothing when the lookup fails.
// No text is no name: the resolver would answer for the local host instead.
std::optional<std::vector<std::string>> hostname_to_addresses(const char* host, int family) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    if (host == nullptr || getaddrinfo(host, "http", &hints, &raw) != 0) {
        return std::nullopt;
    }
    std::unique_ptr<addrinfo, AddrinfoFree> chain(raw);
    std::vector<std::string> addresses;
    for (const addrinfo* ai = chain.get(); ai != nullptr && addresses.size() < kMaxAddresses;
         ai = ai->ai_next) {
        std::string text(INET6_ADDRSTRLEN, '\0');
        const void* address =
            family == AF_INET
                ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr)
                : static_cast<const void*>(
                      &reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_addr);
        if (ai->ai_family != family || inet_ntop(family, address, text.data(),
                                                 static_cast<socklen_t>(text.size())) == nullptr) {
            continue;
        }
        text.resize(text.find('\0'));
        addresses.push_back(std::move(text));
    }
    return addresses;
}

std::optional<std::vector<std::string>> hostname_to_ipv4(const char* host) {
    return hostname_to_addresses(host, AF_INET);
}

std::optional<std::vector<std::string>> hostname_to_ipv6(const char* host) {
    return hostname_to_addresses(host, AF_INET6);
}

// The name that a reverse lookup gives (the address itself when it has none); nothing when the
// text is no address of the family or the lookup fails.
std::optional<std::string> reverse_lookup(const char* address, int family) {
    if (address == nullptr) {
        return std::nullopt;
    }
    sockaddr_storage storage{};
    socklen_t length = 0;
    int converted = 0;
    if (family == AF_INET) {
        auto* in = reinterpret_cast<sockaddr_in*>(&storage);
        in->sin_family = AF_INET;
        converted = inet_pton(AF_INET, address, &in->sin_addr);
        length = sizeof(sockaddr_in);
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        converted = inet_pton(AF_INET6, address, &in6->sin6_addr);
        length = sizeof(sockaddr_in6);
    }
    // Text that is no address would otherwise be looked up as the all-zero address.
    if (converted != 1) {
        return std::nullopt;
    }
    std::string host(NI_MAXHOST, '\0');
    std::string service(32, '\0');
    if (getnameinfo(reinterpret_cast<sockaddr*>(&storage), length, host.data(),
                    static_cast<socklen_t>(host.size()), service.data(),
                    static_cast<socklen_t>(service.size()), NI_NUMERICSERV) != 0) {
        return std::nullopt;
    }
    host.resize(host.find('\0'));
    return host;
}

std::optional<std::string> reverse_ipv4(const char* address) {
    return reverse_lookup(address, AF_INET);
}

std::optional<std::string> reverse_ipv6(const char* address) {
    return reverse_lookup(address, AF_INET6);
}

void print_host(const char* url) {
    std::optional<std::vector<std::string>> ipv4 = hostname_to_ipv4(url);
    std::optional<std::vector<std::string>> ipv6 = hostname_to_ipv6(url);
    if (!ipv4 && !ipv6) {
        std::fputs("DNS Lookup failed for both IPv4 and IPv6", stdout);
        log_msg(LOG_DEBUG, "Network Tools: DNS Lookup %s failed", shown(url));
        return;
    }
    for (const std::string& address : ipv4.value_or(std::vector<std::string>())) {
        std::printf("IPv4 address: %s\n", address.c_str());
    }
    for (const std::string& address : ipv6.value_or(std::vector<std::string>())) {
        std::printf("IPv6 address: %s\n", address.c_str());
    }
    log_msg(LOG_DEBUG, "Network Tools: DNS Lookup %s successful", shown(url));
}

void print_reverse(const char* url, const std::optional<std::string>& name, const char* failure) {
    if (!name) {
        std::fputs(failure, stdout);
        log_msg(LOG_DEBUG, "Network Tools: DNS Lookup %s failed", shown(url));
        return;
    }
    std::printf("Hostname: %s", name->c_str());
    log_msg(LOG_DEBUG, "Network Tools: DNS Lookup %s successful", shown(url));
}

void print_ipv4(const char* url) {
    print_reverse(url, reverse_ipv4(url), "Reverse IPv4 DNS Lookup failed");
}

void print_ipv6(const char* url) {
    print_reverse(url, reverse_ipv6(url), "Reverse IPv6 DNS Lookup failed");
}

}  // namespace

void write_out_dns(const char* url, UrlType type) {
    log_msg(LOG_DEBUG, "Network Tools: DNS Lookup %s", shown(url));
    switch (type) {
        case URLTYPE_HOST:
            print_host(url);
            break;
        case URLTYPE_IPV4:
            print_ipv4(url);
            break;
        case URLTYPE_IPV6:
            print_ipv6(url);
            break;
        default:
            break;
    }
}
