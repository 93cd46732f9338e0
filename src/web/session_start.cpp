#include "web/session_start.hpp"

#include <cerrno>
#include <ctime>
#include <vector>

#include "lib/device.hpp"
#include "lib/fileutil.hpp"
#include "lib/session_globals.hpp"
#include "lib/strutil.hpp"
#include "web/session_place.hpp"

#define LOG_MODULE "web/session_start"

namespace {

constexpr const char* kMonitoringFolders[] = {
    "network",  "meminfo",   "load", "streams", "radar",       "onvif", "interrupts",
    "vmstatus", "topstatus", "plix", "kernel",  "environment", "self",  "basic/Server_Reports"};
constexpr std::string_view kDaemonName = "kelvane_daemon";

// The start time in the three forms a session keeps it.
struct StartTimes {
    std::string folder, readable, state;
};

std::string local_text(const struct tm& local, const char* format) {
    char text[64];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    size_t n = std::strftime(text, sizeof text, format, &local);
#pragma GCC diagnostic pop
    return std::string(text, n);
}

StartTimes start_times(time_t now) {
    struct tm local = {};
    tzset();
    localtime_r(&now, &local);
    // The readable form is the shell's `date`, as the end line of .signature has it.
    return {local_text(local, "%Y%m%d_%H_%M_%S"), local_text(local, "%a %b %e %H:%M:%S %Z %Y"),
            local_text(local, "%Y-%m-%d %H:%M:%S")};
}

// One line of text whatever a command line held.
std::string one_line(std::string value) {
    for (char& c : value) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return value;
}

DaemonIdentity running_daemon_identity() {
    std::string proc = device::path(device::kProcDir);
    Dir dir(opendir(proc.c_str()));
    while (const dirent* entry = dir ? readdir(dir.get()) : nullptr) {
        std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        File cmdline = file_open(proc + "/" + pid + "/cmdline", "r");
        std::string text;
        if (cmdline && file_read_all(cmdline.get(), text)) {
            DaemonIdentity identity = daemon_identity_parse(text);
            if (!identity.serial.empty()) {
                return identity;
            }
        }
    }
    errno = 0;
    return {};
}

bool make_folders(const std::string& folder) {
    for (const char* name : kMonitoringFolders) {
        if (!dir_make_recursive(folder + "/system_monitoring/monitoring_" + name)) {
            return false;
        }
    }
    return true;
}

}  // namespace

DaemonIdentity daemon_identity_parse(std::string_view cmdline) {
    std::vector<std::string> args;
    for (size_t start = 0; start < cmdline.size();) {
        size_t end = cmdline.find('\0', start);
        end = end == std::string_view::npos ? cmdline.size() : end;
        args.emplace_back(cmdline.substr(start, end - start));
        start = end + 1;
    }
    // An emulator or a time faker may come first on the line.
    for (size_t i = 0; i + 4 < args.size(); ++i) {
        std::string_view program = args[i];
        size_t slash = program.rfind('/');
        if (program.substr(slash == std::string_view::npos ? 0 : slash + 1) == kDaemonName) {
            return {one_line(args[i + 1]), one_line(args[i + 2])};
        }
    }
    return {};
}

std::string session_start_info_text(const DaemonIdentity& identity, const std::string& start_time,
                                    const std::string& storage) {
    std::string text;
    if (!identity.serial.empty()) {
        text += "Device Serial Number: " + identity.serial + "\n";
        text += "Device Name: " + identity.name + "\n";
    }
    text += "Start Time of the session: " + start_time + "\n";
    text += "Storage: " + storage + "\n";
    text += "Collected Data Points: 0\n";
    text += "Duration: 0 Days 0 hours 0 minutes\n";
    return text;
}

std::optional<std::string> session_start_lay_down(const std::string& root,
                                                  const std::optional<std::string>& storage_id,
                                                  std::string& reason) {
    StartTimes times = start_times(std::time(nullptr));
    std::string folder = root + times.folder;
    if (is_directory(folder)) {
        reason = "session folder " + folder + " exists already";
        return std::nullopt;
    }
    std::string storage = storage_id.value_or(kInternalStorage);
    bool laid = make_folders(folder) &&
                file_replace_contents(
                    folder + "/Session_Information.txt",
                    session_start_info_text(running_daemon_identity(), times.readable, storage)) &&
                file_replace_contents(folder + "/.signature", "Start: " + times.readable + "\n");
    if (laid) {
        monitoring_session session{storage_id, root, times.folder, std::nullopt, times.state};
        monitoring_session_save(&session);
        MonitoringSession saved = monitoring_session_load();
        laid = saved && saved->session_path == folder;
    }
    if (!laid) {
        reason = "could not lay the session down in " + folder + " (the system log says why)";
        dir_remove_recursive(folder);
        return std::nullopt;
    }
    return folder;
}
