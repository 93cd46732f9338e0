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
