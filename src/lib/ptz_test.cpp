#include "lib/ptz_test.hpp"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "lib/device.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"

#define LOG_MODULE "lib/ptz_test"

namespace {

constexpr size_t kLineMax = 99;

// The first line of `path`, cut to 99 characters; nothing when the file can't be opened or is
// empty.
std::optional<std::string> first_line(const std::string& path) {
    File file = file_open(path, "r");
    if (!file) {
        errno = 0;
        return std::nullopt;
    }
    std::string line;
    if (!file_read_line(file.get(), line)) {
        return std::nullopt;
    }
    if (line.size() > kLineMax) {
        line.resize(kLineMax);
    }
    return line;
}

void write_setting(const std::string& path, const std::string& line) {
    // Replaced whole, so a tick never reads a half-written setting.
    if (!file_replace_contents(path, line)) {
        LOG_ERRNO(LOG_ERR, "Could not open file '%s'", path.c_str());
    }
}

}  // namespace

uint64_t ptz_test_interval_get() {
    std::optional<std::string> line = first_line(device::path(device::kPtzTestIntervalFile));
    uint64_t interval = 0;
    if (!line || std::sscanf(line->c_str(), "T:%" SCNu64, &interval) != 1) {
        return 0;
    }
    return interval;
}

void ptz_test_interval_set(uint64_t interval) {
    std::string path = device::path(device::kPtzTestIntervalFile);
    if (interval == 0) {
        file_remove(path);
        return;
    }
    write_setting(path, "T:" + std::to_string(interval) + "\n");
}

std::optional<std::string> ptz_test_given_times_get() {
    std::optional<std::string> line = first_line(device::path(device::kPtzTestTimesFile));
    if (line) {
        // The text ends at its first quote, or at a NUL as a C reader of the file sees it.
        line->resize(std::min({line->size(), line->find('"'), line->find('\0')}));
    }
    return line;
}

void ptz_test_given_times_set(const std::optional<std::string>& times) {
    std::string path = device::path(device::kPtzTestTimesFile);
    if (!times || times->empty()) {
        file_remove(path);
        return;
    }
    write_setting(path, *times + "\n");
}
