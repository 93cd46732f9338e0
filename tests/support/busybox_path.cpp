#include "support/busybox_path.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

namespace fs = std::filesystem;

BusyBoxPath::BusyBoxPath() {
    std::string tmpl = (fs::temp_directory_path() / "kelvane-busybox-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    dir_ = tmpl;
    for (const char* tool : {"ps", "top", "uptime"}) {
        std::error_code ec;
        fs::create_symlink("/bin/busybox", fs::path(dir_) / tool, ec);
        EXPECT_FALSE(ec) << tool << ": " << ec.message();
    }
    const char* path = getenv("PATH");
    if (path != nullptr) {
        saved_path_ = path;
    }
    setenv("PATH", (dir_ + ":" + saved_path_.value_or("/usr/bin:/bin")).c_str(), 1);
    active_ = true;
}

BusyBoxPath::~BusyBoxPath() {
    if (!active_) {
        return;
    }
    if (saved_path_) {
        setenv("PATH", saved_path_->c_str(), 1);
    } else {
        unsetenv("PATH");
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
}
