#include "support/device_root.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "lib/device.hpp"
#include "lib/session_globals.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

DeviceRoot::DeviceRoot() : root_((fs::temp_directory_path() / "kelvane-device-XXXXXX").string()) {
    EXPECT_NE(mkdtemp(root_.data()), nullptr);
    make_dirs(path(std::string(device::kLocalDataDir)));
    device::set_root(root_);
    // A hostile value that got executed leaves this marker in the test's own folder.
    setenv("PWNED", (root_ + "/pwned").c_str(), 1);
}

DeviceRoot::~DeviceRoot() {
    device::set_root("");
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void DeviceRoot::link(const std::string& fixed, const std::string& target) const {
    make_dirs(fs::path(path(fixed)).parent_path());
    std::error_code ec;
    fs::remove(path(fixed), ec);
    fs::create_symlink(target, path(fixed));
}

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return in ? std::optional(std::string(std::istreambuf_iterator<char>(in), {})) : std::nullopt;
}

std::string read_stamped(const std::string& path) {
    static const std::regex stamp(R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d)");
    std::optional<std::string> text = read_file(path);
    return text ? std::regex_replace(*text, stamp, "T") : "<missing>";
}

void write_file(const std::string& path, const std::string& contents) {
    make_dirs(fs::path(path).parent_path());
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        fs::remove(path);  // never write through a link to a real tool
    }
    std::ofstream(path, std::ios::binary) << contents;
}

void make_dirs(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
}

LaidSession lay_down_session(const DeviceRoot&, const std::string& storage_root,
                             const std::optional<std::string>& storage_id,
                             const std::string& folder) {
    LaidSession laid{storage_root, folder, storage_root + folder};
    write_file(laid.session_path + "/Session_Information.txt",
               "Device Serial Number: ACCC8E000001\n"
               "Start Time of the session: Thu Mar  7 14:05:09 CET 2024\n"
               "Collected Data Points: 0\n"
               "Duration: 0 Days 0 hours 0 minutes\n");
    write_file(laid.session_path + "/.signature", "Session started 2024-03-07 14:05:09\n");
    for (const char* name :
         {"network", "meminfo", "load", "streams", "radar", "onvif", "interrupts", "vmstatus",
          "topstatus", "plix", "kernel", "environment", "self", "basic/Server_Reports"}) {
        make_dirs(laid.session_path + "/system_monitoring/monitoring_" + name);
    }
    monitoring_session session{storage_id, storage_root, folder, std::nullopt,
                               "2024-03-07 14:05:09"};
    monitoring_session_save(&session);
    return laid;
}

std::string log_lines(const LogCapture& log, const DeviceRoot& device) {
    const std::regex root(device.root()), line(R"((\([a-z_/]+:)\d+)");
    std::string lines;
    for (const auto& [level, text] : log.entries()) {
        lines += std::to_string(level) + " " +
                 std::regex_replace(std::regex_replace(text, root, "ROOT"), line, "$1N") + "\n";
    }
    return lines;
}
