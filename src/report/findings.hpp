// What stands out in a session, found in its model's series, pauses and closing lines.
#pragma once

#include <string>

#include "report/session_types.hpp"

// Appends the findings to m.findings; `signature` is the session's .signature file.
void findings_add(SessionModel& m, const std::string& signature);
