#include "support/log_capture.hpp"

#include <algorithm>

#include "lib/log.hpp"

LogCapture::LogCapture() {
    log_set_sink(
        [this](int level, const std::string& text) { entries_.emplace_back(level, text); });
}

LogCapture::~LogCapture() {
    log_set_sink(nullptr);
}

bool LogCapture::has(int level, const std::string& text) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const auto& e) {
        return e.first == level && e.second.find(text) != std::string::npos;
    });
}

size_t LogCapture::count(const std::string& text) const {
    return static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(), [&](const auto& e) {
        return e.second.find(text) != std::string::npos;
    }));
}
