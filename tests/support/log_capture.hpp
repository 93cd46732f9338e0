// Captures what the code under test logs instead of sending it to syslog.
#pragma once

#include <syslog.h>

#include <string>
#include <utility>
#include <vector>

class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    const std::vector<std::pair<int, std::string>>& entries() const { return entries_; }
    // True when a message at `level` contains `text`.
    bool has(int level, const std::string& text) const;
    // Messages containing `text`, at any level.
    size_t count(const std::string& text) const;
    void clear() { entries_.clear(); }

  private:
    std::vector<std::pair<int, std::string>> entries_;
};
