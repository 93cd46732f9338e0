#include "lib/validation.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <string_view>

#define LOG_MODULE "lib/validation"

namespace {

// ASCII only: a byte above 127 is never a letter, whatever the locale or the signedness of char.
bool is_ascii_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_hostname_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || is_ascii_digit(c) || c == '-' ||
           c == '.';
}

bool pton_accepts(int family, const char* string) {
    if (string == nullptr) {
        return false;
    }
    in6_addr address{};
    return inet_pton(family, string, &address) == 1;
}

}  // namespace

bool validate_ipv4(const char* string) {
    return pton_accepts(AF_INET, string);
}

bool validate_ipv6(const char* string) {
    return pton_accepts(AF_INET6, string);
}

bool validate_hostname(const char* string) {
    if (string == nullptr) {
        return false;
    }
    std::string_view name(string);
    if (name.size() > 255) {
        return false;
    }
    if (name.empty()) {
        return true;
    }
    if (name.front() == '-' || name.front() == '.') {
        return false;
    }
    if (name.size() >= 2 && name.back() == '-') {
        return false;
    }
    for (char c : name) {
        if (!is_hostname_char(c)) {
            return false;
        }
    }
    return true;
}

bool validate_address(const char* string) {
    return string != nullptr &&
           (validate_ipv4(string) || validate_ipv6(string) || validate_hostname(string));
}

bool validate_digits(const char* string) {
    if (string == nullptr) {
        return false;
    }
    for (std::string_view s(string); char c : s) {
        if (!is_ascii_digit(c)) {
            return false;
        }
    }
    return true;
}
