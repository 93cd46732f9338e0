// The command runner, the read pipe for commands whose output is needed, and the escaping of
// values placed into shell command lines.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lib/log.hpp"
#include "lib/strutil.hpp"

// Runs `cmd` through /bin/sh; true only when the shell exited normally with status 0.
bool ovra_system(const char* cmd);
inline bool ovra_system(const std::string& cmd) {
    return ovra_system(cmd.c_str());
}

// Formats a command line of any length and runs it. Values are inserted as they are: callers
// escape them with the shell_escape_* helpers below.
bool ovra_systemf(const char* fmt, ...) KELVANE_PRINTF(1, 2);

// A read pipe from a command run by /bin/sh; closing it (or leaving its scope) waits for the
// command.
class Pipe {
  public:
    Pipe() = default;
    Pipe(std::FILE* stream, pid_t pid) : stream_(stream), pid_(pid) {}
    Pipe(Pipe&& other) noexcept : stream_(other.stream_), pid_(other.pid_) {
        other.stream_ = nullptr;
    }
    Pipe& operator=(Pipe&& other) noexcept;
    ~Pipe() { close(); }

    std::FILE* get() const { return stream_; }
    explicit operator bool() const { return stream_ != nullptr; }
    // The command's wait status, or -1 when there was no pipe or the wait failed.
    int close();
    void reset() { close(); }
    // Asks the command to end (SIGTERM to the process the pipe started) and closes the pipe; the
    // wait status, or -1.
    int terminate();

  private:
    std::FILE* stream_ = nullptr;
    pid_t pid_ = -1;
};

// Starts `cmd` with its standard output on a pipe; an empty Pipe (errno set) when it can't.
// A `tied` command, one simple command that reads on as long as the caller's thread (a
// monitor), is ended by the kernel with that thread, so that a killed daemon leaves no orphan.
Pipe pipe_open(const std::string& cmd, bool tied = false);

// pipe_open; a pipe that cannot be opened is fatal ("Could not popen '%s'").
Pipe pipe_open_or_die(const char* module, int line, const std::string& cmd, bool tied = false);
#define PIPE_OPEN(cmd) pipe_open_or_die(LOG_MODULE, __LINE__, (cmd))
#define PIPE_OPEN_TIED(cmd) pipe_open_or_die(LOG_MODULE, __LINE__, (cmd), true)

// Closes the pipe and returns the command's wait status (-1 when it can't be had).
int pipe_close(Pipe& pipe);

// Closes the pipe and logs at LOG_DEBUG when pclose failed or `cmd` was killed by a signal,
// naming the caller's function and line.
void pipe_close_logged(Pipe& pipe, const char* cmd, const char* func, int line);

// Every line the command prints, without the '\n'.
std::vector<std::string> pipe_read_lines(Pipe& pipe);
inline std::vector<std::string> pipe_read_lines(Pipe&& pipe) {
    return pipe_read_lines(pipe);
}

// `value` escaped so that the shell takes it literally inside "..."
std::string shell_escape_double_quoted(std::string_view value);
// ... inside '...'
std::string shell_escape_single_quoted(std::string_view value);
// ... outside any quotes
std::string shell_escape_unquoted(std::string_view value);
