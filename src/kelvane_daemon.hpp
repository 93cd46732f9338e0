// The daemon's core: start-up, the minute tick and the scheduled tasks tick.
#pragma once

#include <glib.h>

#include <cstdio>
#include <optional>
#include <string>

inline constexpr const char* kKelvaneVersion = "5.0.0";

// Process-wide values kept by start-up and read by the ticks.
extern const char* arg_full_name;
extern const char* arg_prod_type;
extern const char* arg_fremo_user;
extern std::string arg_fremo_pass;

// The first line of `in` without its newline, at most 255 characters; nothing at end of input.
std::optional<std::string> read_password(std::FILE* in);

// Logs whether a session survived a restart; true when one did.
bool restore_session();

// Logs the version line, at LOG_DEBUG after a restored session and LOG_INFO otherwise.
void log_version(bool session_restored);

// True when the full name, or failing that the product type, contains "PTZ".
bool camera_has_ptz(const char* full_name, const char* prod_type);

gboolean timer_callback(gpointer user_data);
gboolean scheduled_tasks_timer_callback(gpointer user_data);

// The daemon's main(): returns the process's exit status.
int kelvane_daemon_main(int argc, char** argv);
