// Starting, ending, listing and deleting sessions: the steps that kelvane_session and
// kelvane.cgi share. Every name and storage id given here may come from a request: each is
// checked before it touches a path or a command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "lib/storage_investigator.hpp"
#include "web/session_place.hpp"

// What a step did (`ok`; for start the new session folder) or why it refused or failed, in one
// line fit for a person.
struct ToolResult {
    bool ok = false;
    std::string text;
};

// Where sessions of `storage` ("internal" or an id of `storages`) lie: the session root with its
// trailing slash. Nothing, with the reason, for an unknown id or one mounted outside the device's
// storage folder. Says nothing about the storage's health.
std::optional<std::string> session_tool_root(const std::string& storage,
                                             const StorageList& storages, std::string& reason);

// Whether a session may start on `storage` now: the daemon's own health test of the storage
// (status "OK", available, writable, not full) and its partition below 90 %. `ok` with the
// session root, else the reason ("unknown storage", "not ok: read-only", "card 93 % full"...).
ToolResult session_tool_check_storage(const std::string& storage, const StorageList& storages);

// Starts a session on `storage`: "" (the first ok edge storage of the list, else internal),
// "internal", or a storage id of the list. Lays the folder down, the state file last. Refused
// while a session is active; two starts at once give one session.
ToolResult session_tool_start(const std::string& storage, const StorageList& storages);

// Ends the active session as the daemon ends one, without the final server report: the state
// file first, then after a running minute tick has finished the end line, stop time, size, and
// a ZIP packed in the background.
ToolResult session_tool_stop();

// Removes a finished session folder (and its ZIP) that is neither active nor packing.
ToolResult session_tool_delete(const std::string& name, const std::string& storage,
                               const StorageList& storages);

// The session of the state file, as far as it can be learnt cheaply.
struct SessionStatus {
    bool active = false;
    std::string name;        // the session folder's name
    std::string storage;     // storage id, or "internal"
    std::string path;        // the session folder
    std::string start_time;  // "Start Time of the session" of the information file
    std::string duration;    // "Duration" of the information file
    unsigned long data_points = 0;
    unsigned long long bytes = 0;    // the session folder's files
    std::optional<int> use_percent;  // the storage's use, as df computes it
    // Non-empty when the state file is there but unusable (e.g. its folder lies outside every
    // storage); the daemon may still act on it.
    std::string problem;
};

// Cheap: the state file, the information file, a walk of the session folder and statvfs; no
// process started, no bus call.
SessionStatus session_tool_status();

// One session folder on one storage.
struct SessionEntry {
    std::string name, storage, path;
    unsigned long long bytes = 0;                 // the folder's files
    bool active = false;                          // the session of the state file
    bool packing = false;                         // a zip of it runs
    std::optional<unsigned long long> zip_bytes;  // its ZIP beside it, when there is one
};

// Every session folder on every storage of the list and on internal storage, newest first.
// Runs `ps` once at most (when there is a session), no `du`.
std::vector<SessionEntry> session_tool_list(const StorageList& storages);

// The path of a session's ZIP for a download, after every check; nothing when refused (reason).
std::optional<std::string> session_tool_zip_path(const std::string& name,
                                                 const std::string& storage,
                                                 const StorageList& storages, std::string& reason);

// JSON of `status --json` ({"active", "name", "storage", ...}); a non-empty `extra_token` adds
// the key "token".
std::string session_status_json(const SessionStatus& status, const std::string& extra_token = "");
// JSON of `list --json` ({"sessions": [...]}).
std::string session_list_json(const std::vector<SessionEntry>& sessions);
