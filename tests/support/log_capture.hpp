// Captures what the code under test logs instead of sending it to syslog. has(), count() and
// clear() may be called while another thread logs.
#pragma once

#include <syslog.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "lib/log.hpp"

class LogCapture {
  public:
    LogCapture() {
        log_set_sink([this](int level, const std::string& text) {
            std::lock_guard hold(lock_);
            entries_.emplace_back(level, text);
        });
    }
    ~LogCapture() { log_set_sink(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    const std::vector<std::pair<int, std::string>>& entries() const { return entries_; }
    // True when a message at `level` contains `text`.
    bool has(int level, const std::string& text) const { return matching(level, text) > 0; }
    // Messages containing `text`, at any level.
    size_t count(const std::string& text) const { return matching(-1, text); }
    void clear() {
        std::lock_guard hold(lock_);
        entries_.clear();
    }

  private:
    size_t matching(int level, const std::string& text) const {
        std::lock_guard hold(lock_);
        return static_cast<size_t>(
            std::count_if(entries_.begin(), entries_.end(), [&](const auto& e) {
                return (level < 0 || e.first == level) && e.second.find(text) != std::string::npos;
            }));
    }
    mutable std::mutex lock_;
    std::vector<std::pair<int, std::string>> entries_;
};
