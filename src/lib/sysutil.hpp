// The command runner, the read pipe for commands whose output is needed, and the escaping of
// values placed into shell command lines.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "lib/log.hpp"

// Runs `cmd` through /bin/sh; true only when the shell exited normally with status 0.
bool ovra_system(const char* cmd);
inline bool ovra_system(const std::string& cmd) {
    return ovra_system(cmd.c_str());
}

// Formats a command line of any length and runs it. Values are inserted as they are: callers
// escape them with the shell_escape_* helpers below.
bool ovra_systemf(const char* fmt, ...) KELVANE_PRINTF(1, 2);

// printf into a std::string of whatever length the values need.
std::string str_printf(const char* fmt, ...) KELVANE_PRINTF(1, 2);

struct PipeCloser {
    void operator()(std::FILE* f) const { pclose(f); }
};
// A read pipe closed (and its command waited for) when it goes out of scope.
using Pipe = std::unique_ptr<std::FILE, PipeCloser>;

// popen(cmd, "r"); a pipe that cannot be opened is fatal ("Could not popen '%s'").
Pipe pipe_open_or_die(const char* module, int line, const std::string& cmd);
#define PIPE_OPEN(cmd) pipe_open_or_die(LOG_MODULE, __LINE__, (cmd))

// Closes the pipe and returns the command's wait status (as pclose gives it).
int pipe_close(Pipe& pipe);

// `value` escaped so that the shell takes it literally inside "..."
std::string shell_escape_double_quoted(std::string_view value);
// ... inside '...'
std::string shell_escape_single_quoted(std::string_view value);
// ... outside any quotes
std::string shell_escape_unquoted(std::string_view value);
