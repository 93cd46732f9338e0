#include "support/log_capture.hpp"

#include "lib/log.hpp"

LogCapture::LogCapture() {
    log_set_sink(
        [this](int level, const std::string& text) { entries_.emplace_back(level, text); });
}

LogCapture::~LogCapture() {
    log_set_sink(nullptr);
}

bool LogCapture::has(int level, const std::string& text) const {
    for (const auto& [l, t] : entries_) {
        if (l == level && t.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

size_t LogCapture::count(const std::string& text) const {
    size_t n = 0;
    for (const auto& entry : entries_) {
        n += entry.second.find(text) != std::string::npos ? 1 : 0;
    }
    return n;
}
