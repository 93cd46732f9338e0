// The session's files: the session information file, the CSV collectors of the network,
// memory, load, stream and radar series, the server report snapshots, the helper scripts and
// the packing of a finished session.
#pragma once

#include <glib.h>

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Session information file

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
// check that failed.
int parse_proc_net_dev(const std::string& output, hashtable_key_ordering_t* ordering);

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
// The cells of a stream.csv row (after the time stamp) from the streamer's filtered reply lines.
std::string stream_history_cells(const std::vector<std::string>& lines);
// Copies the radar diagnostics into the session: data files once, statistics every time.
void store_radar_data(const std::string& session_path);
// The names in the directory `path`, comma-separated, cut to `size` - 1 characters.
std::string get_names_listed_from_directory(const std::string& path, size_t size);

// Server reports

// Helper scripts

// Packing a session
