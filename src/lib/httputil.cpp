#include "lib/httputil.hpp"

#include <cerrno>
#include <cstdio>
#include <string>

#include "lib/fileutil.hpp"
#include "lib/log.hpp"

#define LOG_MODULE "lib/httputil"

void http_print_bad_request(const char* message) {
    std::printf(
        "Status: 400 Bad Request\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: "
        "-1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n%s",
        message != nullptr ? message : "");
}

void http_print_file(const char* path) {
    if (path == nullptr) {
        errno = EINVAL;
        LOG_ERRNO(LOG_ERR, "Failed to open file: %s", "(null)");
        return;
    }
    File file = file_open(path, "rb");
    if (!file) {
        LOG_ERRNO(LOG_ERR, "Failed to open file: %s", path);
        return;
    }
    std::string block(1024, '\0');
    size_t n = 0;
    while ((n = std::fread(block.data(), 1, block.size(), file.get())) > 0) {
        std::fwrite(block.data(), 1, n, stdout);
    }
}
