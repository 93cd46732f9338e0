#include "lib/device.hpp"

namespace device {
namespace {

std::string& root() {
    static std::string r;
    return r;
}

std::string& address() {
    static std::string a = "127.0.0.1";
    return a;
}

}  // namespace

std::string path(std::string_view fixed) {
    std::string p = root();
    p += fixed;
    return p;
}

const std::string& http_address() {
    return address();
}

void set_root(std::string r) {
    root() = std::move(r);
}

void set_http_address(std::string a) {
    address() = std::move(a);
}

}  // namespace device
