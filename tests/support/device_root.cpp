#include "support/device_root.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "lib/device.hpp"
#include "lib/session_globals.hpp"

namespace fs = std::filesystem;

const char* const kMonitoringFolders[] = {
    "monitoring_network",     "monitoring_meminfo",  "monitoring_load",
    "monitoring_streams",     "monitoring_radar",    "monitoring_onvif",
    "monitoring_interrupts",  "monitoring_vmstatus", "monitoring_topstatus",
    "monitoring_plix",        "monitoring_kernel",   "monitoring_basic",
    "monitoring_environment", "monitoring_self",     nullptr};

DeviceRoot::DeviceRoot() {
    std::string tmpl = (fs::temp_directory_path() / "kelvane-device-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    EXPECT_NE(made, nullptr);
    root_ = tmpl;
    make_dirs(path("/usr/local/packages/Kelvane/localdata"));
    device::set_root(root_);
}

DeviceRoot::~DeviceRoot() {
    device::set_root("");
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void DeviceRoot::write(const std::string& fixed, const std::string& contents) const {
    write_file(path(fixed), contents);
}

void DeviceRoot::link(const std::string& fixed, const std::string& target) const {
    make_dirs(fs::path(path(fixed)).parent_path().string());
    std::error_code ec;
    fs::remove(path(fixed), ec);
    fs::create_symlink(target, path(fixed));
}

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& contents) {
    make_dirs(fs::path(path).parent_path().string());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

void make_dirs(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
}

LaidSession lay_down_session(const DeviceRoot& device, const std::string& storage_root,
                             const std::optional<std::string>& storage_id,
                             const std::string& folder) {
    LaidSession laid{storage_root, folder, storage_root + folder};
    make_dirs(laid.session_path);
    write_file(laid.session_path + "/Session_Information.txt",
               "Device Serial Number: ACCC8E000001\n"
               "Start Time of the session: Thu Mar  7 14:05:09 CET 2024\n"
               "Collected Data Points: 0\n"
               "Duration: 0 Days 0 hours 0 minutes\n");
    write_file(laid.session_path + "/.signature", "Session started 2024-03-07 14:05:09\n");
    for (const char* const* name = kMonitoringFolders; *name != nullptr; ++name) {
        make_dirs(laid.session_path + "/system_monitoring/" + *name);
    }
    make_dirs(laid.session_path + "/system_monitoring/monitoring_basic/Server_Reports");

    monitoring_session session;
    session.storage_id = storage_id;
    session.secondary_storage_path = storage_root;
    session.current_activity_folder = folder;
    session.monitor_start_time = "2024-03-07 14:05:09";
    (void)device;  // the state file goes below the device root that `device` has set
    monitoring_session_save(&session);
    return laid;
}
