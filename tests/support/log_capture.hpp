// Captures what the code under test logs instead of sending it to syslog.
#pragma once

#include <syslog.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "lib/log.hpp"

class LogCapture {
  public:
    LogCapture() {
        log_set_sink(
            [this](int level, const std::string& text) { entries_.emplace_back(level, text); });
    }
    ~LogCapture() { log_set_sink(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    const std::vector<std::pair<int, std::string>>& entries() const { return entries_; }
    // True when a message at `level` contains `text`.
    bool has(int level, const std::string& text) const {
        return std::any_of(entries_.begin(), entries_.end(), [&](const auto& e) {
            return e.first == level && e.second.find(text) != std::string::npos;
        });
    }
    // Messages containing `text`, at any level.
    size_t count(const std::string& text) const {
        return static_cast<size_t>(
            std::count_if(entries_.begin(), entries_.end(),
                          [&](const auto& e) { return e.second.find(text) != std::string::npos; }));
    }
    void clear() { entries_.clear(); }

  private:
    std::vector<std::pair<int, std::string>> entries_;
};
