// The session's files: the session information file, the CSV collectors of the network,
// memory, load, stream and radar series, the server report snapshots, the helper scripts and
// the packing of a finished session.
#pragma once

#include <optional>
#include <string>

#include "lib/fileutil.hpp"

struct monitoring_session;

// Session information file

// Gets the old value of a field (the rest of its line) and returns the new one, or nothing to
// keep the line as it is.
using value_callback = std::optional<std::string> (*)(const std::string& old_value);

// Rewrites every "<field>: " line of <path>/Session_Information.txt through `cb`, or appends
// "<field>: <default_value>" when no line changed. A folder without the file is left alone.
void read_and_update_session_info(const std::string& path, const std::string& field,
                                  const std::string& default_value, value_callback cb);
void update_number_of_collected_data_points(const std::string& path);
void update_session_duration(const std::string& path);
// The count plus one.
std::optional<std::string> update_data_points(const std::string& old_value);
// "%u Days %u hours %u minutes" plus one minute; nothing when the value doesn't parse.
std::optional<std::string> update_duration(const std::string& old_value);

// The two halves of rewriting the information file through a temporary file: a fresh
// temporary file (never opened through a link planted under its name), and the commit that
// renames it over `info_path` only when every write, the flush and the close succeeded.
// A failed commit removes the temporary file, keeps `info_path` as it was and logs why.
File session_info_open_temp(const std::string& tmp_path);
bool session_info_commit(File tmp, const std::string& tmp_path, const std::string& info_path);
// After copying `info` into `tmp`: true when the whole file was read; otherwise closes and
// removes the temporary file and logs, so that a read error never shortens the file.
bool session_info_read_whole(std::FILE* info, File& tmp, const std::string& tmp_path,
                             const std::string& info_path);

// Network counters

// Memory and load

// Streams and radar

// Server reports

// Fetches the device's server report into the session; on internal storage packs every loose
// report into Server_Reports.zip and logs the archive's size.
void create_serverreport_snapshot(const monitoring_session* session, const std::string& fremo_user,
                                  const std::string& fremo_pass);
// The fetch step: the report saved under a time-stamped name; true when curl succeeded.
bool serverreport_snapshot(const std::string& session_path, const std::string& fremo_user,
                           const std::string& fremo_pass);
// Size of the tree in bytes (whole KiB), 0 when it can't be measured.
unsigned long get_dir_size_bytes(const std::string& path);

// Helper scripts

// Starts the package's script `name` in the background on the monitoring folder `path`, unless
// it already runs; `quiet` discards its output.
void shellscript_invoker(const std::string& path, const std::string& name, bool quiet);
// Starts the platform-status script in the background on the session's monitoring_plix folder.
void plix_monitor_status_snapshot(const std::string& session_path);
// 1 when a line of the process list filtered by `grep` contains `strstr_string`, else 0.
int ps_grep_and_check_if_included(const std::string& grep, const std::string& strstr_string);
// True when `path` names an existing session folder of this package.
bool is_monitory_dir(const char* path);

// Packing a session

// Starts a background zip of the session folder into "<path>.zip"; 0 when one already runs,
// 1 otherwise (whether or not it could be started).
int zip_session(const std::string& path);
// True while a zip of the folder named by the last component of `path` runs.
bool is_zipping_session(const std::string& path);
