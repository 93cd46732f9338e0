#include "lib/dateutil.hpp"

#include <ctime>
#include <vector>

#include "lib/log.hpp"

#define LOG_MODULE "lib/dateutil"

std::string date_format_now(const char* format, size_t buffer_size) {
    time_t now = std::time(nullptr);
    if (now == static_cast<time_t>(-1)) {
        LOG_ERRNO(LOG_ERR, "Could not get current time.");
        return std::string();
    }
    struct tm local;
    std::vector<char> buffer(buffer_size + 1, '\0');
    size_t written = 0;
    // localtime_r need not look at the zone again; a device whose zone changes must show it.
    tzset();
    if (localtime_r(&now, &local) != nullptr && buffer_size > 0) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        written = std::strftime(buffer.data(), buffer_size, format, &local);
#pragma GCC diagnostic pop
    }
    if (written == 0) {
        LOG_FAULT(LOG_ERR, "The time string exceeds the given buffer, or is empty.");
        return std::string();
    }
    return std::string(buffer.data(), written);
}
