// Ending a monitoring session: the last snapshots, the closing lines, and the archive.
#pragma once

#include <string>

#include "lib/session_globals.hpp"

// Ends the active `session`: a last media configuration copy, the end line of .signature, the
// stop time, removal of the state file, a last server report, the session's size, then a
// background zip of the session folder beside it. The record stays the caller's.
void deactivate_monitor_session(const monitoring_session* session,
                                const std::string& fremo_username,
                                const std::string& fremo_password);

// The steps of the end above, for the package's session tool, each on the session folder.
// True when a line of the signature file `signature_path` begins with "End".
bool has_end_line(const std::string& signature_path);
// Appends "End: " and the shell's date to .signature unless it has an end line.
void write_end_line(const std::string& session_path);
// Puts "Stop Time of the session" at the end of Session_Information.txt, dropping the closing
// lines of an earlier end.
void write_stop_time(const std::string& session_path);
// Appends "Session Size" with the folder's size to Session_Information.txt.
void write_session_size(const std::string& session_path);
