#include "support/busybox_path.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

namespace fs = std::filesystem;

BusyBoxPath::BusyBoxPath() : dir_((fs::temp_directory_path() / "kelvane-busybox-XXXXXX").string()) {
    EXPECT_NE(mkdtemp(dir_.data()), nullptr);
    for (const char* tool : {"ps", "top", "uptime"}) {
        std::error_code ec;
        fs::create_symlink("/bin/busybox", fs::path(dir_) / tool, ec);
        EXPECT_FALSE(ec) << tool << ": " << ec.message();
    }
    if (const char* path = getenv("PATH")) {
        saved_path_ = path;
    }
    setenv("PATH", (dir_ + ":" + saved_path_.value_or("/usr/bin:/bin")).c_str(), 1);
}

BusyBoxPath::~BusyBoxPath() {
    saved_path_ ? setenv("PATH", saved_path_->c_str(), 1) : unsetenv("PATH");
    std::error_code ec;
    fs::remove_all(dir_, ec);
}
