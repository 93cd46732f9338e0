#include "lib/session_globals.hpp"

#include <cerrno>
#include <climits>

#include "lib/device.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/strutil.hpp"

#define LOG_MODULE "lib/session_globals"

namespace {

constexpr const char* kLocalStorage = "localdata";

}  // namespace

MonitoringSession monitoring_session_new() {
    return std::make_unique<monitoring_session>();
}

bool monitoring_session_is_active(const monitoring_session* session) {
    return session != nullptr && session->secondary_storage_path &&
           session->current_activity_folder;
}

void monitoring_session_save(const monitoring_session* session) {
    std::string path = device::path(device::kStateFile);
    if (session == nullptr) {
        file_remove(path);
        return;
    }
    std::string text;
    text += "SECS:" + session->storage_id.value_or(kLocalStorage) + "\n";
    text += "SSPA:" + session->secondary_storage_path.value_or("") + "\n";
    text += "ACTI:" + session->current_activity_folder.value_or("") + "\n";
    text += "TIME:" + session->monitor_start_time.value_or("") + "\n";
    // Replaced whole, so a crash or a reader never sees half a state file.
    if (!file_replace_contents(path, text)) {
        LOG_ERRNO(LOG_ERR, "Could not open file '%s'", path.c_str());
    }
}

MonitoringSession monitoring_session_parse(std::string_view text, LogNotes& notes) {
    MonitoringSession session = monitoring_session_new();
    for (const std::string& line : str_lines(text)) {
        std::string key = line.substr(0, 5);
        // A value ends at a NUL, as every path built from it would.
        std::string value = line.size() > 5 ? std::string(line.c_str() + 5) : std::string();
        if (key == "SECS:") {
            if (value.starts_with(kLocalStorage)) {
                session->storage_id.reset();
            } else {
                session->storage_id = std::move(value);
            }
        } else if (key == "SSPA:") {
            session->secondary_storage_path = std::move(value);
        } else if (key == "ACTI:") {
            session->current_activity_folder = std::move(value);
        } else if (key == "TIME:") {
            session->monitor_start_time = std::move(value);
        }
    }
    if (!session->monitor_start_time) {
        notes.push_back({LOG_ERR, "Could not restore monitoring session: Missing start time."});
        return nullptr;
    }
    if (!session->secondary_storage_path || !session->current_activity_folder) {
        notes.push_back({LOG_ERR,
                         "Could not restore monitoring session: Missing secondary storage path or "
                         "current activity folder."});
        return nullptr;
    }
    session->session_path =
        str_join(*session->secondary_storage_path, *session->current_activity_folder);
    // Nothing below such a path can be opened, and a command line built on it may be too long
    // to start at all.
    if (session->session_path->size() >= PATH_MAX) {
        notes.push_back(
            {LOG_ERR, str_printf("Could not restore monitoring session: Session path too long (%zu "
                                 "characters, at most %d).",
                                 session->session_path->size(), PATH_MAX - 1)});
        return nullptr;
    }
    return session;
}

MonitoringSession monitoring_session_load() {
    File file = file_open(device::path(device::kStateFile), "r");
    if (!file) {
        // No state file is the normal case of no session.
        errno = 0;
        return nullptr;
    }
    std::string text;
    file_read_all(file.get(), text);
    LogNotes notes;
    MonitoringSession session = monitoring_session_parse(text, notes);
    LOG_NOTES(notes);
    return session;
}
