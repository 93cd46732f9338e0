// The daemon's one way to log: syslog with an empty identity, LOG_PID | LOG_CONS, LOG_USER.
// Tests replace syslog with a sink that captures (level, text) pairs.
#pragma once

#include <glib.h>
#include <syslog.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#define KELVANE_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))

// Opens the syslog connection; called once at start.
void log_open();

// Logs a message as it stands.
void log_msg(int level, const char* fmt, ...) KELVANE_PRINTF(2, 3);

// Logs "(module:line, errno: text) message" and sets errno back to 0.
void log_errno_msg(int level, const char* module, int line, const char* fmt, ...)
    KELVANE_PRINTF(4, 5);

// Logs a GLib error's own text at LOG_WARNING and clears the error.
void log_gerror(GError** error);

// Logs "Out of memory." at LOG_EMERG and aborts; installed as the new-handler.
[[noreturn]] void log_out_of_memory();

// The strerror text of errno, or "None" when errno is 0.
const char* log_errno_text();

// Shows each of `secrets` as "********" in every message from now on; given at start-up the
// password and the forms it takes in command lines.
void log_mask_secrets(std::vector<std::string> secrets);

// A message that a parser hands back for its caller to log, in the order the parser met it.
struct LogNote {
    int level;
    std::string text;
};
using LogNotes = std::vector<LogNote>;

// Logs each note of a parser: LOG_ERR and graver ones with the errno prefix of `module` and
// `line`, where errno is "None" (what the input held is no system call's failure), the others as
// they stand.
void log_notes(const char* module, int line, const LogNotes& notes);

using LogSink = std::function<void(int level, const std::string& text)>;

// Replaces syslog with `sink`; an empty sink restores syslog.
void log_set_sink(LogSink sink);

// Each module defines LOG_MODULE (its source path without extension, e.g. "lib/fileutil").
#define LOG_ERRNO(level, ...) log_errno_msg((level), LOG_MODULE, __LINE__, __VA_ARGS__)
// LOG_ERRNO for a failure that is no system call's: its prefix says "errno: None", whatever an
// earlier call left in errno.
#define LOG_FAULT(level, ...) (errno = 0, LOG_ERRNO((level), __VA_ARGS__))
#define LOG_NOTES(notes) log_notes(LOG_MODULE, __LINE__, (notes))
