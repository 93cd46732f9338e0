// Puts the device's BusyBox ps, top and uptime first on PATH while it lives, so that the code
// under test and its commands see what the device prints (`ps` lists full command lines).
#pragma once

#include <string>

class BusyBoxPath {
  public:
    BusyBoxPath();
    ~BusyBoxPath();
    BusyBoxPath(const BusyBoxPath&) = delete;
    BusyBoxPath& operator=(const BusyBoxPath&) = delete;
    const std::string& dir() const { return dir_; }  // the folder of links first on PATH

  private:
    std::string dir_, saved_path_;
};
