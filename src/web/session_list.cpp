// The read-only side of the session tool: the status of the active session, the sessions on
// every storage, the ZIP of one, and their JSON.
#include <algorithm>

#include "lib/device.hpp"
#include "lib/filehandler.hpp"
#include "lib/fileutil.hpp"
#include "lib/session_globals.hpp"
#include "lib/sysutil.hpp"
#include "web/session_place.hpp"
#include "web/session_tool.hpp"

#define LOG_MODULE "web/session_list"

namespace {

// Every place sessions may lie: (storage, root) for each storage of the list, then internal.
std::vector<std::pair<std::string, std::string>> session_roots(const StorageList& storages) {
    std::vector<std::pair<std::string, std::string>> roots;
    std::string reason;
    for (const StorageInfo& info : storages) {
        if (!info.disk_id) {
            continue;
        }
        std::optional<std::string> root = session_place_root(*info.disk_id, storages, reason);
        bool listed = std::any_of(roots.begin(), roots.end(),
                                  [&](const auto& r) { return r.first == *info.disk_id; });
        if (root && !listed) {
            roots.emplace_back(*info.disk_id, *root);
        }
    }
    roots.emplace_back(kInternalStorage, *session_place_root(kInternalStorage, storages, reason));
    return roots;
}

void list_root(const std::string& storage, const std::string& root,
               std::vector<SessionEntry>& sessions) {
    Dir dir(opendir(root.c_str()));
    while (const dirent* entry = dir ? readdir(dir.get()) : nullptr) {
        std::string name = entry->d_name;
        std::string path = root + name;
        if (!session_place_is_session(root, name)) {
            continue;
        }
        SessionEntry session{name,
                             storage,
                             path,
                             session_walk_bytes(path),
                             false,
                             false,
                             session_regular_file_bytes(path + ".zip")};
        sessions.push_back(std::move(session));
    }
    errno = 0;
}

// The active session's folder, "" when there is none.
std::string active_folder() {
    MonitoringSession active = monitoring_session_load();
    return monitoring_session_is_active(active.get()) ? *active->session_path : "";
}

}  // namespace

SessionStatus session_tool_status() {
    SessionStatus status;
    MonitoringSession session = monitoring_session_load();
    if (!monitoring_session_is_active(session.get())) {
        return status;
    }
    status.active = true;
    status.name = *session->current_activity_folder;
    status.storage = session->storage_id.value_or(kInternalStorage);
    status.path = *session->session_path;
    status.problem = session_folder_problem(status.path);
    if (!status.problem.empty()) {
        return status;
    }
    File info = file_open(status.path + "/Session_Information.txt", "r");
    std::string text;
    if (info && file_read_all(info.get(), text)) {
        SessionInfoFields fields = session_info_fields(text);
        status.start_time = fields.start_time;
        status.duration = fields.duration;
        status.data_points = fields.data_points;
    }
    errno = 0;
    status.bytes = session_walk_bytes(status.path);
    status.use_percent = session_use_percent(*session->secondary_storage_path);
    return status;
}

std::vector<SessionEntry> session_tool_list(const StorageList& storages) {
    std::vector<SessionEntry> sessions;
    for (const auto& [storage, root] : session_roots(storages)) {
        list_root(storage, root, sessions);
    }
    if (sessions.empty()) {
        return sessions;
    }
    std::string active = active_folder();
    // One process list for every session: a packing shows as a zip naming its folder.
    Pipe ps = PIPE_OPEN("ps | grep zip");
    std::string processes;
    file_read_all(ps.get(), processes);
    ps.reset();
    for (SessionEntry& session : sessions) {
        session.active = !active.empty() && session_same_folder(active, session.path);
        session.packing = lines_include(processes, session.name);
    }
    std::sort(sessions.begin(), sessions.end(), [](const SessionEntry& a, const SessionEntry& b) {
        return a.name != b.name ? a.name > b.name : a.storage < b.storage;
    });
    return sessions;
}

std::optional<std::string> session_tool_zip_path(const std::string& name,
                                                 const std::string& storage,
                                                 const StorageList& storages, std::string& reason) {
    std::optional<std::string> folder = session_place_folder(name, storage, storages, reason);
    if (!folder) {
        return std::nullopt;
    }
    std::string archive = *folder + ".zip";
    if (is_zipping_session(*folder)) {
        reason = "session " + name + " is still being packed";
        return std::nullopt;
    }
    if (!session_regular_file_bytes(archive)) {
        reason = "session " + name + " has no ZIP";
        return std::nullopt;
    }
    return archive;
}
