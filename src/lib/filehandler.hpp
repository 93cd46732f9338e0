// The session's files: the session information file, the CSV collectors of the network,
// memory, load, stream and radar series, the server report snapshots, the helper scripts and
// the packing of a finished session.
#pragma once

#include <glib.h>

#include <array>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lib/fileutil.hpp"
#include "lib/log.hpp"

struct monitoring_session;

// Session information file

// Gets the old value of a field (the rest of its line) and returns the new one, or nothing to
// keep the line as it is.
using value_callback = std::optional<std::string> (*)(const std::string& old_value);

// Rewrites every "<field>: " line of <path>/Session_Information.txt through `cb`, or appends
// "<field>: <default_value>" when no line changed. A folder without the file is left alone.
void read_and_update_session_info(const std::string& path, const std::string& field,
                                  const std::string& default_value, value_callback cb);
void update_number_of_collected_data_points(const std::string& path);
void update_session_duration(const std::string& path);
// The count plus one.
std::optional<std::string> update_data_points(const std::string& old_value);
// "%u Days %u hours %u minutes" plus one minute; nothing when the value doesn't parse.
std::optional<std::string> update_duration(const std::string& old_value);

// What a rewrite makes of one line of the information file (given without its '\n'): the text
// to write in its place, or nothing to drop the line.
using session_info_edit = std::function<std::optional<std::string>(const std::string& line)>;

// Rewrites <path>/Session_Information.txt through the temporary file <path>/<tmp_name>: every
// line as `edit` makes it, then what `tail` returns, as it stands. False, errno telling why,
// only when the file could not be opened (it stays missing); any later failure is logged and
// leaves the file as it was.
bool session_info_rewrite(const std::string& path, const std::string& tmp_name,
                          const session_info_edit& edit, const std::function<std::string()>& tail);

// Puts the collectors' counters back as the process starts with them (for tests).
void filehandler_state_reset();

// Network counters

// What one /proc/net/dev run shares between the parse, the key listing and the rows. The
// map's keys name the interface file and the column ("eth0.csv/receive_bytes"); its values are
// the counters as the kernel printed them. The map owns both.
struct hashtable_key_ordering {
    int index = 0;                          // keys listed so far
    std::vector<const char*> base_address;  // the listed keys (the map's own, not copies)
    std::string path;                       // the monitoring folder
    GHashTable* map = nullptr;
};
using hashtable_key_ordering_t = hashtable_key_ordering;

// The eth0 byte counters of the previous sample; they live as long as the process.
struct network_bandwidth_state {
    time_t last_time_of_network_check = 0;  // 0: no sample yet
    long long last_value_of_receive = 0;
    long long last_value_of_transmit = 0;
};
extern network_bandwidth_state network_bandwidth;

// Reads, parses and records /proc/net/dev: one file per interface and eth0's bandwidth.
void store_proc_net_dev(const std::string& session_path);

// Inserts every counter of the kernel's table into `ordering->map`; 0, or the code of the
// check that failed (noted with what it read).
int parse_proc_net_dev(const std::string& output, hashtable_key_ordering_t* ordering,
                       LogNotes& notes);

// Records eth0's bandwidth since the previous sample in network.csv.
void store_network_bandwidth_new(const std::string& session_path, GHashTable* map);

// Moves `state` on to this sample; the rate text ("12.3 Mbit/s") when a row is due.
std::optional<std::string> network_bandwidth_update(network_bandwidth_state& state, time_t now,
                                                    long long receive, long long transmit);

// Lists and sorts the map's keys and appends one row to each interface's file.
void store_for_each_proc_net_dev_symbols(hashtable_key_ordering_t* ordering);

// g_hash_table_foreach callback: lists `key` in the hashtable_key_ordering_t `user_data`.
void net_dev_symbols_set_key_ordering(gpointer key, gpointer value, gpointer user_data);

// Byte order of two listed keys.
bool compare_entries_strings(const char* a, const char* b);

// Appends the rate `value` to network.csv in the monitoring folder `path`.
void store_network_info_no_retention(const std::string& path, const std::string& value);

// Memory and load

// Records every /proc/meminfo field in a file of its own.
void store_proc_meminfo(const std::string& session_path);

// One /proc/meminfo line as field name and number ("MemFree", "512"); nothing for a line
// without a ':' or whose name can't be a file name.
std::optional<std::pair<std::string, std::string>> parse_meminfo_line(const std::string& line);

// Records the three load averages that `uptime` prints.
void store_load_avg_info_no_retention(const std::string& session_path);

// The 1-, 5- and 15-minute load averages of an `uptime` line as printed; nothing when the line
// has no "average:".
std::optional<std::array<std::string, 3>> parse_load_average(const std::string& line);

// Streams and radar

// Appends the video streams that the streamer reports as open to stream.csv.
void store_video_stream_history_no_retention(const std::string& session_path);
// The cells of a stream.csv row (after the time stamp) from the streamer's reply lines.
std::string stream_history_cells(const std::vector<std::string>& lines);
// Copies the radar diagnostics into the session: data files once, statistics every time.
void store_radar_data(const std::string& session_path);
// The names in the directory `path`, comma-separated, cut to `size` - 1 characters.
std::string get_names_listed_from_directory(const std::string& path, size_t size);

// Server reports

// Fetches the device's server report into the session; on internal storage packs every loose
// report into Server_Reports.zip and logs the archive's size.
void create_serverreport_snapshot(const monitoring_session* session, const std::string& fremo_user,
                                  const std::string& fremo_pass);
// The fetch step: the report saved under a time-stamped name; true when curl succeeded.
bool serverreport_snapshot(const std::string& session_path, const std::string& fremo_user,
                           const std::string& fremo_pass);
// Size of the tree in bytes (whole KiB), 0 when it can't be measured.
unsigned long get_dir_size_bytes(const std::string& path);
// The same from what `du -bks` printed: the number that begins its last line, in KiB.
unsigned long du_parse_bytes(std::string_view output);

// Helper scripts

// Starts the package's script `name` in the background on the monitoring folder `path`, unless
// it already runs; `quiet` discards its output.
void shellscript_invoker(const std::string& path, const std::string& name, bool quiet);
// Starts the platform-status script in the background on the session's monitoring_plix folder.
void plix_monitor_status_snapshot(const std::string& session_path);
// 1 when a line of the process list filtered by `grep` contains `strstr_string`, else 0.
int ps_grep_and_check_if_included(const std::string& grep, const std::string& strstr_string);
// True when a line of `output` contains `part`.
bool lines_include(std::string_view output, std::string_view part);
// True when `path` names an existing session folder of this package.
bool is_monitory_dir(const char* path);

// Packing a session

// Starts a background zip of the session folder into "<path>.zip"; 0 when one already runs,
// 1 otherwise (whether or not it could be started).
int zip_session(const std::string& path);
// True while a zip of the folder named by the last component of `path` runs.
bool is_zipping_session(const std::string& path);
