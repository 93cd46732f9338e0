#include "web/cgi_token.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "lib/device.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"

#define LOG_MODULE "web/cgi_token"

namespace {

constexpr size_t kTokenBytes = 16;

std::string token_read(const std::string& path) {
    File file = file_open(path, "rb");
    std::string text;
    if (!file || !file_read_all(file.get(), text)) {
        return "";
    }
    return text;
}

std::string token_random() {
    File urandom = file_open("/dev/urandom", "rb");
    unsigned char bytes[kTokenBytes];
    if (!urandom || std::fread(bytes, 1, sizeof bytes, urandom.get()) != sizeof bytes) {
        LOG_ERRNO(LOG_ERR, "Could not read %s", "/dev/urandom");
        return "";
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char byte : bytes) {
        token += kHex[byte >> 4];
        token += kHex[byte & 15];
    }
    return token;
}

// Writes `token` to a private temporary file and links it in place only when no token is there
// yet, so two first requests at once end up with the same token. `replace`: a broken file goes.
bool token_store(const std::string& path, const std::string& token, bool replace) {
    std::string tmp = path + ".XXXXXX";
    FileDescriptor fd(mkstemp(tmp.data()));
    if (fd.get() < 0) {
        LOG_ERRNO(LOG_ERR, "Could not create a token file beside '%s'", path.c_str());
        return false;
    }
    bool written = fchmod(fd.get(), 0600) == 0 &&
                   write(fd.get(), token.data(), token.size()) == ssize_t(token.size()) &&
                   fsync(fd.get()) == 0;
    bool placed = written && (replace ? rename(tmp.c_str(), path.c_str()) == 0
                                      : link(tmp.c_str(), path.c_str()) == 0);
    if (!placed && errno != EEXIST) {
        LOG_ERRNO(LOG_ERR, "Could not write token file '%s'", path.c_str());
    }
    unlink(tmp.c_str());
    return placed;
}

}  // namespace

bool cgi_token_valid(std::string_view token) {
    return token.size() == 2 * kTokenBytes && std::all_of(token.begin(), token.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string cgi_token_get() {
    std::string path = device::path(device::kWebTokenFile);
    std::string token = token_read(path);
    if (cgi_token_valid(token)) {
        return token;
    }
    bool replace = is_file(path);
    std::string fresh = token_random();
    if (fresh.empty()) {
        return "";
    }
    if (token_store(path, fresh, replace)) {
        return fresh;
    }
    token = token_read(path);
    return cgi_token_valid(token) ? token : "";
}
