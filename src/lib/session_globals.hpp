// The active monitoring session as recorded in the state file in the package's local data.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "lib/log.hpp"

struct monitoring_session {
    std::optional<std::string> storage_id;  // absent: the session is on internal storage
    std::optional<std::string> secondary_storage_path;
    std::optional<std::string> current_activity_folder;
    std::optional<std::string> session_path;  // secondary_storage_path + current_activity_folder
    std::optional<std::string> monitor_start_time;
};

using MonitoringSession = std::unique_ptr<monitoring_session>;

MonitoringSession monitoring_session_new();

bool monitoring_session_is_active(const monitoring_session* session);

// Writes the state file; with no session, removes it (which ends the session).
void monitoring_session_save(const monitoring_session* session);

// The session of the state file, or nothing when there is none or it is incomplete.
MonitoringSession monitoring_session_load();

// Parses the text of a state file (the loader's I/O-free half); why it is no session is noted.
MonitoringSession monitoring_session_parse(std::string_view text, LogNotes& notes);
