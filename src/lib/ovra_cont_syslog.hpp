// A running copy of the device's system log (its three log files) in a file of the caller's
// choice, kept by a background child. The caller keeps the child's id between the calls.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts a child that appends every new log line to `log_path`; its id, or 0 when none could be
// made. A capture file that can't be opened ends the child at once with status 1.
pid_t ovra_cont_syslog_start(const char* log_path);

// Merges the lines logged while no capture ran into `log_path` (sorted, each line once), then
// starts a capture as ovra_cont_syslog_start does.
pid_t ovra_cont_syslog_resume(const char* log_path);

// Ends the capture child `pid` and collects it.
void ovra_cont_syslog_stop(pid_t pid);

// The argument vector that the capture child runs, as /proc/<pid>/cmdline shows it.
std::vector<std::string> ovra_cont_syslog_command();
