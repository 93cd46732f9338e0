// Each collector's exact output: tests/data/collectors/<collector>[-<case>]/input holds what the
// device shows (laid below the device root), expected/ the files the collector leaves in the
// session's system_monitoring folder after two runs (time stamps as "T"), and expected/log what
// it logged (paths below the device root as on the device). Beside them, bus/<mock>.json starts
// that mock on the device's bus, http/<name> is served as "/norv-cgi/<name>", and top stands in
// for the device's top, "@PID@" in it and in the log being this process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>

#include "kelvane_daemon.hpp"
#include "lib/environment.hpp"
#include "lib/filehandler.hpp"
#include "lib/timeseries.hpp"
#include "support/bus.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kData = std::string(KELVANE_SOURCE_DIR) + "/tests/data/collectors";

// Start-up, then a sample, as the daemon does them.
void store_environment(const std::string& session) {
    number_of_heaters = number_of_fans = 1;  // kept when the controller can't count them
    init_environment_monitor_settings("root", "pass");
    std::string folder = monitoring_folder(session, "monitoring_environment");
    store_temperatures_celsius(folder);
    store_heater_status(folder);
    store_fan_status(folder);
}

const std::map<std::string, std::function<void(const std::string&)>> kCollectors = {
    {"meminfo", store_proc_meminfo},
    {"buddyinfo", create_buddyinfo_snapshot},
    {"pagefaults", create_pagefault_snapshot},
    {"net_dev", store_proc_net_dev},
    {"radar", store_radar_data},
    {"environment", store_environment},
    {"self",
     [](const std::string& session) {
         store_self_monitoring(monitoring_folder(session, "monitoring_self"));
     }},
};

// Every file below `dir` by relative path, with its time stamps masked.
std::map<std::string, std::string> files_below(const std::string& dir) {
    std::map<std::string, std::string> files;
    if (!fs::exists(dir)) {
        return files;
    }
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), dir).string()] = read_stamped(entry.path());
        }
    }
    return files;
}

class Collectors : public ::testing::TestWithParam<std::string> {};

}  // namespace

TEST_P(Collectors, LeaveTheExpectedFiles) {
    const std::string data = kData + "/" + GetParam();
    DeviceRoot dev;
    PrivateBus bus;
    BusyBoxPath tools;
    LogCapture log;
    dev.link("/usr/bin/curl", "/usr/bin/curl");
    if (fs::exists(data + "/input")) {
        fs::copy(data + "/input", dev.root(), fs::copy_options::recursive);
    }
    for (const auto& [mock, parameters] : files_below(data + "/bus")) {
        bus.start(fs::path(mock).stem(), parameters);
    }
    std::optional<HttpServer> http;
    for (const auto& [name, body] : files_below(data + "/http")) {
        (http ? *http : http.emplace("root", "pass")).serve(name, body);
    }
    const std::string pid = std::to_string(getpid());
    std::optional<std::string> top = read_file(data + "/top");
    if (top) {
        write_file(tools.dir() + "/top", std::regex_replace(*top, std::regex("@PID@"), pid));
        fs::permissions(tools.dir() + "/top", fs::perms::owner_all);
    }
    std::string session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK").session_path;
    network_bandwidth = {};
    for (int run = 0; run < 2; ++run) {
        errno = 0;
        // "<collector>-<case>" is another case of the same collector.
        kCollectors.at(GetParam().substr(0, GetParam().find('-')))(session);
    }
    std::map<std::string, std::string> expected = files_below(data + "/expected");
    static const std::regex line_number(R"((\([a-z_/]+:|FAILED |parsing: )\d+)");
    std::string logged;
    for (const auto& [level, text] : log.entries()) {
        std::string masked = std::regex_replace(text, line_number, "$1N");
        masked = std::regex_replace(masked, std::regex(dev.root()), "");
        if (top) {
            masked = std::regex_replace(masked, std::regex("\\b" + pid + "\\b"), "@PID@");
        }
        logged += std::to_string(level) + " " + masked + "\n";
    }
    EXPECT_EQ(logged, expected["log"]);
    expected.erase("log");
    EXPECT_EQ(files_below(session + "/system_monitoring"), expected);
}

std::vector<std::string> cases() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(kData)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

INSTANTIATE_TEST_SUITE_P(Data, Collectors, ::testing::ValuesIn(cases()),
                         [](const auto& param_info) {
                             std::string name = param_info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });
