#include "lib/fileio.hpp"

#include <unistd.h>

#include <cstdlib>

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

File file_open(const std::string& path, const char* mode) {
    // Close-on-exec: the helper scripts that either thread starts must not hold our files.
    return File(std::fopen(path.c_str(), (std::string(mode) + "e").c_str()));
}

bool file_read_line(std::FILE* f, std::string& line) {
    char* raw = nullptr;
    size_t capacity = 0;
    ssize_t n = getline(&raw, &capacity, f);
    std::unique_ptr<char, decltype(&std::free)> buffer(raw, &std::free);
    if (n < 0) {
        line.clear();
        return false;
    }
    line.assign(buffer.get(), static_cast<size_t>(n));
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    return true;
}

bool file_read_all(std::FILE* f, std::string& text) {
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        text.append(chunk, n);
    }
    return std::ferror(f) == 0;
}
