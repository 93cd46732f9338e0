#include "support/busybox_path.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

namespace fs = std::filesystem;

BusyBoxPath::BusyBoxPath()
    : dir_((fs::temp_directory_path() / "kelvane-busybox-XXXXXX").string()),
      saved_path_(getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin") {
    EXPECT_NE(mkdtemp(dir_.data()), nullptr);
    for (const char* tool : {"ps", "top", "uptime"}) {
        fs::create_symlink("/bin/busybox", fs::path(dir_) / tool);
    }
    setenv("PATH", (dir_ + ":" + saved_path_).c_str(), 1);
}

BusyBoxPath::~BusyBoxPath() {
    setenv("PATH", saved_path_.c_str(), 1);
    std::error_code ec;
    fs::remove_all(dir_, ec);
}
