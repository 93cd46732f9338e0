// The web tool's running copy of the system log: one capture at a time, its child's id and its
// file in the package's local data folder, bounded in size. Each call may come from another CGI
// process: the state lives in the two files only.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "web/session_tool.hpp"

// A capture stops itself at this size: the local data folder lies on the camera's small flash.
// The kernel holds the capture's tail to it (a file size limit), so nobody has to watch it.
inline constexpr long long kCaptureMaxBytes = 4LL * 1024 * 1024;

struct CaptureStatus {
    bool running = false;  // the recorded process is still the capture's tail
    pid_t pid = 0;         // the recorded process, 0 when none is recorded
    long long bytes = -1;  // the capture file's size, -1 when there is none
    bool full = false;     // it reached the size limit, which ended its tail
    bool link = false;     // the capture file or its temporary is a symbolic link
};

// What the two files say; starts no process.
CaptureStatus capture_status(long long max_bytes = kCaptureMaxBytes);

// A new capture (an older capture file is replaced). Refused while one runs.
ToolResult capture_start(long long max_bytes = kCaptureMaxBytes);
// Ends the running capture; a recorded process that is no longer the capture is never signalled.
ToolResult capture_stop();
// Continues the stopped capture, first adding the lines logged meanwhile. Refused while one runs
// or when the capture is full.
ToolResult capture_resume(long long max_bytes = kCaptureMaxBytes);

// The capture file for a download; nothing, with the reason, when there is none or it is no
// regular file.
std::optional<std::string> capture_download_path(std::string& reason);
