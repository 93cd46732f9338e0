// Puts the device's BusyBox tools (ps, top, uptime) first on PATH for the fixture's lifetime, so
// that the code under test and the commands it starts see what the device's shell prints (for
// one, `ps` lists full command lines). PATH is restored when it goes out of scope, and left alone
// when the folder could not be made.
#pragma once

#include <optional>
#include <string>

class BusyBoxPath {
  public:
    BusyBoxPath();
    ~BusyBoxPath();
    BusyBoxPath(const BusyBoxPath&) = delete;
    BusyBoxPath& operator=(const BusyBoxPath&) = delete;

    // The folder of links that stands first on PATH.
    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
    std::optional<std::string> saved_path_;
    bool active_ = false;  // PATH was changed
};
