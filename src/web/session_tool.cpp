#include "web/session_tool.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "lib/device.hpp"
#include "lib/file_lock.hpp"
#include "lib/filehandler.hpp"
#include "lib/fileutil.hpp"
#include "lib/onvif.hpp"
#include "lib/session.hpp"
#include "lib/session_globals.hpp"
#include "web/session_place.hpp"
#include "web/session_start.hpp"

#define LOG_MODULE "web/session_tool"

namespace {

constexpr int kFullPercent = 90;
// Helper scripts of the last tick finish within seconds; a hung one must not hold up the end.
constexpr int kHelperWaitPolls = 300;
constexpr long kHelperPollNanoseconds = 100'000'000;

ToolResult refused(std::string reason) {
    return {false, std::move(reason)};
}

// Why the storage service's record of `info` fails the daemon's health test.
std::string storage_problem(const StorageInfo& info) {
    std::string why;
    auto add = [&why](const std::string& part) { why += (why.empty() ? "" : ", ") + part; };
    if (info.status != "OK") {
        add("status " + session_printable(info.status.value_or("unknown")));
    }
    if (!info.available) {
        add("not available");
    }
    if (info.read_only) {
        add("read-only");
    }
    if (info.full) {
        add("full");
    }
    return why;
}

// Why the partition of `path` would make the daemon end a session at once; "" when it won't.
std::string partition_problem(const std::string& path, const std::string& what) {
    int use = get_storage_use_pcent(path.c_str());
    if (use < 0) {
        return "usage of " + what + " unknown";
    }
    return use >= kFullPercent ? what + " " + std::to_string(use) + " % full" : "";
}

// Starts, stops and deletes run one at a time on a device, whichever program asks.
FileDescriptor tool_lock() {
    return file_lock_take(device::path(device::kSessionToolLockFile));
}

ToolResult tool_lock_failed() {
    std::string reason = "could not lock " + device::path(device::kSessionToolLockFile) + ": " +
                         std::strerror(errno);
    errno = 0;
    return refused(reason);
}

// A minute tick that loaded the session before its state file went finishes first: the
// daemon holds this lock through every tick.
void wait_for_running_tick() {
    FileDescriptor tick = file_lock_take(device::path(device::kTickLockFile));
    if (tick.get() < 0) {
        errno = 0;
    }
}

// The helper scripts that the last tick started may still be writing rows into the session.
void wait_for_helper_scripts(const std::string& folder) {
    for (int i = 0; i < kHelperWaitPolls && ps_grep_and_check_if_included("Kelvane", folder); ++i) {
        struct timespec pause = {0, kHelperPollNanoseconds};
        nanosleep(&pause, nullptr);
    }
}

// A ZIP (or whatever else but a folder lies in its place) beside the session folder.
void remove_archive(const std::string& folder) {
    std::string archive = folder + ".zip";
    struct stat st;
    if (lstat(archive.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        file_remove(archive);
    }
}

// The end of a session as the daemon ends one, but for the server report that needs the HTTP
// API password.
void end_session_folder(const std::string& folder) {
    onvif_copy_media_conf(folder);
    write_end_line(folder);
    write_stop_time(folder);
    write_session_size(folder);
    remove_archive(folder);
    zip_session(folder);
}

std::string storage_of(const monitoring_session& session) {
    return session.storage_id.value_or(kInternalStorage);
}

}  // namespace

std::optional<std::string> session_tool_root(const std::string& storage,
                                             const StorageList& storages, std::string& reason) {
    return session_place_root(storage, storages, reason);
}

ToolResult session_tool_check_storage(const std::string& storage, const StorageList& storages) {
    std::string reason;
    std::optional<std::string> root = session_place_root(storage, storages, reason);
    if (!root) {
        return refused(reason);
    }
    if (storage == kInternalStorage) {
        std::string full =
            partition_problem(device::path(device::kLocalDataDir), "internal storage");
        return full.empty() ? ToolResult{true, *root} : refused(full);
    }
    const StorageInfo& info = *storage_find(storages, storage);
    if (!is_storage_ok(info)) {
        return refused("storage " + session_printable(storage) +
                       " not ok: " + storage_problem(info));
    }
    // The root below the mount point may not exist yet; the mount point does.
    std::string mount = root->substr(0, root->size() - std::strlen(kSessionRootName));
    std::string full = partition_problem(mount, "card");
    return full.empty() ? ToolResult{true, *root} : refused(full);
}

ToolResult session_tool_start(const std::string& storage, const StorageList& storages) {
    FileDescriptor lock = tool_lock();
    if (lock.get() < 0) {
        return tool_lock_failed();
    }
    std::string reason;
    MonitoringSession active = monitoring_session_load();
    if (monitoring_session_is_active(active.get())) {
        return refused(
            "a session is active: " + session_printable(*active->current_activity_folder) + " on " +
            session_printable(storage_of(*active)));
    }
    std::string chosen = storage;
    if (chosen.empty()) {
        chosen = kInternalStorage;
        for (const StorageInfo& info : storages) {
            if (info.disk_id && session_tool_check_storage(*info.disk_id, storages).ok) {
                chosen = *info.disk_id;
                break;
            }
        }
    }
    ToolResult place = session_tool_check_storage(chosen, storages);
    if (!place.ok) {
        return place;
    }
    std::optional<std::string> id;
    if (chosen != kInternalStorage) {
        id = chosen;
    }
    std::optional<std::string> folder = session_start_lay_down(place.text, id, reason);
    return folder ? ToolResult{true, *folder} : refused(reason);
}

ToolResult session_tool_stop() {
    FileDescriptor lock = tool_lock();
    if (lock.get() < 0) {
        return tool_lock_failed();
    }
    MonitoringSession session = monitoring_session_load();
    if (!monitoring_session_is_active(session.get())) {
        return refused("no active session");
    }
    const std::string folder = *session->session_path;
    // First the state file: a tick that starts from now on collects nothing.
    monitoring_session_save(nullptr);
    if (is_file(device::path(device::kStateFile))) {
        return refused("could not remove the state file " + device::path(device::kStateFile));
    }
    std::string problem = session_folder_problem(folder);
    if (!problem.empty()) {
        return refused(problem + ": state file removed, nothing else touched");
    }
    wait_for_running_tick();
    wait_for_helper_scripts(folder);
    if (is_zipping_session(folder)) {
        return {true, folder + ".zip"};  // the daemon ended it meanwhile
    }
    end_session_folder(folder);
    return {true, folder + ".zip"};
}

ToolResult session_tool_delete(const std::string& name, const std::string& storage,
                               const StorageList& storages) {
    FileDescriptor lock = tool_lock();
    if (lock.get() < 0) {
        return tool_lock_failed();
    }
    std::string reason;
    std::optional<std::string> folder = session_place_folder(name, storage, storages, reason);
    if (!folder) {
        return refused(reason);
    }
    MonitoringSession active = monitoring_session_load();
    if (monitoring_session_is_active(active.get()) &&
        session_same_folder(*active->session_path, *folder)) {
        return refused("session " + name + " is active; stop it first");
    }
    if (is_zipping_session(*folder)) {
        return refused("session " + name + " is being packed");
    }
    dir_remove_recursive(*folder);
    remove_archive(*folder);
    struct stat st;
    if (lstat(folder->c_str(), &st) == 0) {
        return refused("could not remove all of " + *folder);
    }
    return {true, *folder};
}
