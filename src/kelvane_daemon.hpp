// The daemon's core: start-up, the minute tick and the scheduled tasks tick.
#pragma once

#include <glib.h>

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

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

// "Kelvane version 5.0.0, compiled: <date> <time>" of this build.
std::string version_line();

// Logs the version line, at LOG_DEBUG after a restored session and LOG_INFO otherwise.
void log_version(bool session_restored);

// True when the full name, or failing that the product type, contains "PTZ".
bool camera_has_ptz(const char* full_name, const char* prod_type);

// The digits of the /proc/vmstat counter `field` (its first matching line), at most
// `target_len` - 1 of them; empty when they can't be read.
std::string vmstat_get_val(const std::string& field, size_t target_len = 20);

// The counter digits of one line of the search ("pgfault 8252028"), at most `target_len` - 1
// of them; nothing when the line has no space.
std::optional<std::string> vmstat_parse_line(const std::string& line, size_t target_len);

// Appends the page fault counters to monitoring_kernel/pagefaults.csv.
void create_pagefault_snapshot(const std::string& session_path);

// The free blocks of /proc/buddyinfo per zone (DMA, DMA32, Normal, HighMem, then the Total of
// every zone and node) and block order.
struct buddyinfo_table {
    static constexpr size_t kZones = 5;
    static constexpr size_t kOrders = 16;
    static constexpr std::array<const char*, kZones> kZoneNames = {"DMA", "DMA32", "Normal",
                                                                   "HighMem", "Total"};
    std::array<std::array<long long, kOrders>, kZones> counts{};
    size_t highest_order = 0;  // the highest order seen
};

// The table of a /proc/buddyinfo text.
buddyinfo_table parse_buddyinfo(std::string_view text);

// Appends one block of zone rows to monitoring_kernel/buddyinfo.csv.
void create_buddyinfo_snapshot(const std::string& session_path);

// Counters of the minute tick: ticks run so far (wrapping to 0 at 60000000), the tick at which
// the running PTZ test interval began (0: none), and consecutive ticks with the edge storage
// unusable.
extern unsigned long timer_count;
extern unsigned long ptz_starting_tick;
extern unsigned long connection_lost_count;
static_assert(sizeof(unsigned long) == 8, "the tick counters are 64-bit");

// The minute tick: PTZ test interval, session supervision and the collection schedule.
gboolean timer_callback(gpointer user_data);

// One-shot: logs how much space the active session takes.
gboolean storage_consumption_log_message(gpointer user_data);

// Counters of the scheduled tasks tick: the number of the current run, and the run that last
// started a PTZ test.
extern unsigned long scheduled_tasks_count;
extern unsigned long ptz_test_flag;

// One run of the scheduled tasks tick at the clock time `now` ("HH:MM").
void scheduled_tasks_run(const std::string& now);

// The scheduled tasks tick: the given-times mode of the automatic PTZ test.
gboolean scheduled_tasks_timer_callback(gpointer user_data);

// Puts the arguments and the tick counters back as the process starts with them (for tests).
void daemon_state_reset();

// The daemon's main(): returns the process's exit status.
int kelvane_daemon_main(int argc, char** argv);
