// Laying a new session down as the daemon expects it: the session folder with its monitoring
// folders, information and signature files, then the state file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Makes the session folder named after the current local time below `root` (with its trailing
// slash) and writes the state file last; `storage_id` absent for internal storage. The folder,
// or nothing with the reason (and nothing left behind).
std::optional<std::string> session_start_lay_down(const std::string& root,
                                                  const std::optional<std::string>& storage_id,
                                                  std::string& reason);

// Serial number and name of the device as a running daemon's command line (/proc/<pid>/cmdline,
// NUL-separated) gives them; empty when it is no daemon's.
struct DaemonIdentity {
    std::string serial, name;
};
DaemonIdentity daemon_identity_parse(std::string_view cmdline);

// The text of Session_Information.txt at the start of a session.
std::string session_start_info_text(const DaemonIdentity& identity, const std::string& start_time,
                                    const std::string& storage);
