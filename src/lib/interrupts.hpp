// Snapshots of the kernel's interrupt table kept in a session.
#pragma once

#include <string>

// Copies /proc/interrupts into the session's monitoring_interrupts folder twice, about 3 seconds
// apart, each copy named by the time of the copy; blocks for those seconds.
void create_interrupts_snapshot(const std::string& session_path);
