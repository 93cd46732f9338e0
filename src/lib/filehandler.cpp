#include "lib/filehandler.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <glib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "lib/dateutil.hpp"
#include "lib/dbus_reply.hpp"
#include "lib/device.hpp"
#include "lib/fileutil.hpp"
#include "lib/fremo.hpp"
#include "lib/log.hpp"
#include "lib/session_globals.hpp"
#include "lib/strutil.hpp"
#include "lib/sysutil.hpp"
#include "lib/timeseries.hpp"

#define LOG_MODULE "lib/filehandler"

// Session information file

namespace {

constexpr size_t kMaxFieldLength = 1000;

void put_line(std::FILE* f, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fputc('\n', f);
}

// Removes the temporary file after a read error, so that it never shortens the file.
bool session_info_read_whole(std::FILE* info, TempFile& tmp, const std::string& info_path) {
    if (!std::ferror(info)) {
        return true;
    }
    int saved = errno;
    tmp.file.reset();
    unlink(tmp.path.c_str());
    errno = saved;
    LOG_ERRNO(LOG_ERR, "Could not read file '%s', kept it as it was", info_path.c_str());
    return false;
}

void session_info_commit(TempFile tmp, const std::string& info_path) {
    if (!file_temp_close(tmp)) {
        LOG_ERRNO(LOG_ERR, "Could not write file '%s', kept '%s' as it was", tmp.path.c_str(),
                  info_path.c_str());
        return;
    }
    // A failed rename is logged by file_rename; no stray temporary file stays behind.
    if (!file_rename(tmp.path, info_path) && unlink(tmp.path.c_str()) != 0) {
        errno = 0;
    }
}

}  // namespace

bool session_info_rewrite(const std::string& path, const std::string& tmp_name,
                          const session_info_edit& edit, const std::function<std::string()>& tail) {
    std::string info_path = path + "/Session_Information.txt";
    File info = file_open(info_path, "r");
    if (!info) {
        return false;
    }
    TempFile tmp = file_temp_open(info_path, path + "/" + tmp_name);
    if (!tmp.file) {
        LOG_ERRNO(LOG_ERR, "Could not open file '%s'", tmp.path.c_str());
        return true;
    }
    std::string line;
    while (file_read_line(info.get(), line)) {
        // Every line gets its newline back, so an appended line never joins a last line that
        // had none.
        if (std::optional<std::string> text = edit(line)) {
            put_line(tmp.file.get(), *text);
        }
    }
    if (!session_info_read_whole(info.get(), tmp, info_path)) {
        return true;
    }
    info.reset();
    std::string end = tail();
    std::fwrite(end.data(), 1, end.size(), tmp.file.get());
    session_info_commit(std::move(tmp), info_path);
    return true;
}

void read_and_update_session_info(const std::string& path, const std::string& field,
                                  const std::string& default_value, value_callback cb) {
    if (field.size() > kMaxFieldLength) {
        LOG_FAULT(LOG_ERR, "Cannot read field names larger than 1000 characters, got: %s",
                  field.c_str());
        return;
    }
    const std::string prefix = field + ": ";
    bool modified = false;
    auto update = [&](const std::string& line) -> std::optional<std::string> {
        std::optional<std::string> value;
        if (line.starts_with(prefix)) {
            value = cb(line.substr(prefix.size()));
        }
        modified = modified || value.has_value();
        return value ? prefix + *value : line;
    };
    auto missing_field = [&] { return modified ? std::string() : prefix + default_value + "\n"; };
    if (!session_info_rewrite(path, "Session_Information_tmp_tmp.txt", update, missing_field)) {
        log_msg(LOG_DEBUG, "(errno: %s) Could not open file '%s'", log_errno_text(),
                (path + "/Session_Information.txt").c_str());
        errno = 0;
    }
}

void update_number_of_collected_data_points(const std::string& path) {
    read_and_update_session_info(path, "Collected Data Points", "1", update_data_points);
}

void update_session_duration(const std::string& path) {
    read_and_update_session_info(path, "Duration", "0 Days 0 hours 0 minutes", update_duration);
}

std::optional<std::string> update_data_points(const std::string& old_value) {
    size_t i = 0;
    while (i < old_value.size() && std::isspace(static_cast<unsigned char>(old_value[i]))) {
        ++i;
    }
    unsigned long count = 0;
    for (; i < old_value.size() && old_value[i] >= '0' && old_value[i] <= '9'; ++i) {
        unsigned long digit = static_cast<unsigned long>(old_value[i] - '0');
        // Saturates like strtoul does, before the count is taken as 32 bits.
        count = count > (ULONG_MAX - digit) / 10 ? ULONG_MAX : count * 10 + digit;
    }
    auto points = static_cast<uint32_t>(count);
    return std::to_string(static_cast<uint32_t>(points + 1u));
}

std::optional<std::string> update_duration(const std::string& old_value) {
    unsigned days = 0, hours = 0, minutes = 0;
    if (std::sscanf(old_value.c_str(), "%u Days %u hours %u minutes", &days, &hours, &minutes) <
        3) {
        return std::nullopt;
    }
    unsigned total = days * 1440u + hours * 60u + minutes + 1u;
    return str_printf("%u Days %u hours %u minutes", total / 1440u, (total / 60u) % 24u,
                      total % 60u);
}

// Network counters

network_bandwidth_state network_bandwidth;

namespace {

struct HashTableDestroy {
    void operator()(GHashTable* table) const { g_hash_table_destroy(table); }
};
using CounterTable = std::unique_ptr<GHashTable, HashTableDestroy>;

bool netdev_is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The blank-separated words of `text`.
std::vector<std::string_view> netdev_split_words(std::string_view text) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while ((at = text.find_first_not_of(' ', at)) != std::string_view::npos) {
        size_t end = std::min(text.find(' ', at), text.size());
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

// "eth0.csv" of the key "eth0.csv/receive_bytes".
std::string_view netdev_key_file(std::string_view key) {
    return key.substr(0, key.find('/'));
}

// "receive_bytes" of the key "eth0.csv/receive_bytes".
std::string_view netdev_key_column(std::string_view key) {
    size_t slash = key.find('/');
    return slash == std::string_view::npos ? key : key.substr(slash + 1);
}

// "bytes" of the column "receive_bytes". Taken from the column, not from the first '_' of the
// key, so that an interface such as "wlan_1" keeps its metric names.
std::string_view netdev_column_metric(std::string_view column) {
    for (std::string_view direction : {"receive_", "transmit_"}) {
        if (column.starts_with(direction)) {
            return column.substr(direction.size());
        }
    }
    return column;
}

bool netdev_contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

}  // namespace

// A failed check is noted and returns its own line as the code.
#define NET_DEV_PARSE_FAILED()                                                                    \
    do {                                                                                          \
        notes.push_back({LOG_ERR, str_printf("%s FAILED %d\n", "parse_proc_net_dev", __LINE__)}); \
        return __LINE__;                                                                          \
    } while (0)

int parse_proc_net_dev(const std::string& output, hashtable_key_ordering_t* ordering,
                       LogNotes& notes) {
    std::string_view text(output);
    size_t group_end = text.find('\n');
    if (group_end == std::string_view::npos) {
        NET_DEV_PARSE_FAILED();
    }
    // " face |bytes ... multicast|bytes ... compressed": the receive names between the first two
    // '|', the transmit names after the second.
    size_t columns = group_end + 1;
    size_t columns_end = text.find('\n', columns);
    if (columns_end == std::string_view::npos) {
        int code = __LINE__;
        notes.push_back({LOG_ERR, str_printf("FAILED %d\nAttempted to find word stating at: [%s]",
                                             code, output.c_str() + columns)});
        return code;
    }
    std::string_view header = text.substr(columns, columns_end - columns);
    size_t receive_start = header.find('|');
    if (receive_start == std::string_view::npos) {
        NET_DEV_PARSE_FAILED();
    }
    size_t transmit_start = header.find('|', receive_start + 1);
    if (transmit_start == std::string_view::npos) {
        NET_DEV_PARSE_FAILED();
    }
    std::vector<std::string_view> receive_names =
        netdev_split_words(header.substr(receive_start + 1, transmit_start - receive_start - 1));
    std::vector<std::string_view> transmit_names =
        netdev_split_words(header.substr(transmit_start + 1));
    notes.push_back(
        {LOG_DEBUG, str_printf("%s There are %d number of metrics\n", "parse_proc_net_dev",
                               static_cast<int>(receive_names.size()))});

    // "  eth0: 1234 5 ...": the name padded with blanks, a ':', the receive then the transmit
    // counters.
    for (size_t line = columns_end + 1; line < text.size();) {
        size_t line_end = text.find('\n', line);
        if (line_end == std::string_view::npos) {
            NET_DEV_PARSE_FAILED();  // a cut line
        }
        std::string_view row = text.substr(line, line_end - line);
        line = line_end + 1;
        size_t colon = row.find(':');
        size_t name_start = row.find_first_not_of(' ');
        if (colon == std::string_view::npos || name_start >= colon) {
            continue;
        }
        std::string_view name = row.substr(name_start, colon - name_start);
        if (netdev_contains(name, "/")) {
            continue;  // not a name the kernel gives; it would lead out of the folder
        }
        size_t counter = 0;
        for (size_t at = colon + 1; at < row.size();) {
            if (!netdev_is_digit(row[at])) {
                ++at;
                continue;
            }
            size_t end = std::min(row.find(' ', at), row.size());
            std::string_view value = row.substr(at, end - at);
            at = end;
            std::string key;
            if (counter < receive_names.size()) {
                key = str_printf("%.*s.csv/receive_%.*s", static_cast<int>(name.size()),
                                 name.data(), static_cast<int>(receive_names[counter].size()),
                                 receive_names[counter].data());
            } else if (counter - receive_names.size() < transmit_names.size()) {
                std::string_view metric = transmit_names[counter - receive_names.size()];
                key = str_printf("%.*s.csv/transmit_%.*s", static_cast<int>(name.size()),
                                 name.data(), static_cast<int>(metric.size()), metric.data());
            } else {
                break;  // a counter without a column name has nowhere to go
            }
            ++counter;
            g_hash_table_insert(ordering->map, g_strdup(key.c_str()),
                                g_strndup(value.data(), value.size()));
        }
    }
    return 0;
}

#undef NET_DEV_PARSE_FAILED

std::optional<std::string> network_bandwidth_update(network_bandwidth_state& state, time_t now,
                                                    long long receive, long long transmit) {
    std::optional<std::string> rate;
    if (state.last_time_of_network_check != 0) {
        auto timediff = static_cast<int32_t>(now - state.last_time_of_network_check);
        // Counted in unsigned arithmetic so that counters far apart wrap instead of overflowing.
        auto datadiff =
            static_cast<long long>(static_cast<unsigned long long>(receive) -
                                   static_cast<unsigned long long>(state.last_value_of_receive) +
                                   static_cast<unsigned long long>(transmit) -
                                   static_cast<unsigned long long>(state.last_value_of_transmit));
        // A clock set back gives no rate, also when the counters went back with it.
        if (timediff >= 0) {
            long long mbps = timediff == 0 ? 0 : (datadiff / timediff) / 12500;  // 0.1 Mbit/s
            double mbpsd = static_cast<double>(mbps) / 10.0;
            if (mbpsd >= 0.0) {
                rate = str_printf("%.1f Mbit/s", mbpsd);
            }
        }
    }
    state.last_time_of_network_check = now;
    state.last_value_of_receive = receive;
    state.last_value_of_transmit = transmit;
    return rate;
}

void store_network_bandwidth_new(const std::string& session_path, GHashTable* map) {
    auto* receive = static_cast<const char*>(g_hash_table_lookup(map, "eth0.csv/receive_bytes"));
    auto* transmit = static_cast<const char*>(g_hash_table_lookup(map, "eth0.csv/transmit_bytes"));
    if (receive == nullptr || transmit == nullptr) {
        return;
    }
    std::optional<std::string> rate = network_bandwidth_update(
        network_bandwidth, std::time(nullptr), std::strtoll(receive, nullptr, 10),
        std::strtoll(transmit, nullptr, 10));
    if (rate) {
        store_network_info_no_retention(monitoring_folder(session_path, "monitoring_network"),
                                        *rate);
    }
}

void store_network_info_no_retention(const std::string& path, const std::string& value) {
    CSV_APPEND_ROW(path + "/network.csv", "Date,Time,Network Bandwidth (Mbit/s)", "," + value,
                   "\r\n");
}

void net_dev_symbols_set_key_ordering(gpointer key, gpointer, gpointer user_data) {
    auto* ordering = static_cast<hashtable_key_ordering_t*>(user_data);
    auto at = static_cast<size_t>(ordering->index);
    if (at < ordering->base_address.size()) {
        ordering->base_address[at] = static_cast<const char*>(key);
        ++ordering->index;
    }
}

bool compare_entries_strings(const char* a, const char* b) {
    return std::strcmp(a, b) < 0;
}

void store_for_each_proc_net_dev_symbols(hashtable_key_ordering_t* ordering) {
    // Room for every key of the table, however many interfaces there are.
    ordering->index = 0;
    ordering->base_address.assign(g_hash_table_size(ordering->map), nullptr);
    g_hash_table_foreach(ordering->map, net_dev_symbols_set_key_ordering, ordering);
    std::vector<const char*>& keys = ordering->base_address;
    keys.resize(static_cast<size_t>(ordering->index));
    std::sort(keys.begin(), keys.end(), compare_entries_strings);

    // One time stamp for every file of the run.
    std::string date = csv_timestamp();
    for (size_t first = 0; first < keys.size();) {
        std::string_view file = netdev_key_file(keys[first]);
        size_t end = first;
        while (end < keys.size() && netdev_key_file(keys[end]) == file) {
            ++end;
        }
        std::string header = "Date, Time, Receive: ";
        std::string row = date;
        uint32_t receive_errs = 0, receive_drop = 0, receive_frame = 0;
        uint32_t transmit_errs = 0, transmit_drop = 0;
        bool transmit_seen = false;
        for (size_t k = first; k < end; ++k) {
            std::string_view column = netdev_key_column(keys[k]);
            bool receive = column.starts_with("receive_");
            bool transmit = column.starts_with("transmit_");
            if (k != first) {
                header += transmit && !transmit_seen ? ", Transmit: " : ", ";
            }
            transmit_seen = transmit_seen || transmit;
            header += netdev_column_metric(column);

            auto* value = static_cast<const char*>(g_hash_table_lookup(ordering->map, keys[k]));
            if (value == nullptr) {
                log_msg(LOG_DEBUG, "%s.%d did not find value for key: %s",
                        "store_for_each_proc_net_dev_symbols", __LINE__, keys[k]);
                row += ",-1";
                continue;
            }
            row += ',';
            row += value;
            auto count = static_cast<uint32_t>(std::strtol(value, nullptr, 10));
            if (receive) {
                if (netdev_contains(column, "errs")) {
                    receive_errs += count;
                } else if (netdev_contains(column, "drop")) {
                    receive_drop += count;
                } else if (netdev_contains(column, "frame")) {
                    receive_frame += count;
                }
            } else if (transmit) {
                if (netdev_contains(column, "errs")) {
                    transmit_errs += count;
                } else if (netdev_contains(column, "drop")) {
                    transmit_drop += count;
                }
            }
        }
        header += ", Failed packages total (receive), Failed packages total (transmit)\n";
        row += str_printf(",%u,%u\n", receive_errs + receive_drop + receive_frame,
                          transmit_errs + transmit_drop);
        // A file that can't be opened is tried again from the interface's next key.
        bool written =
            csv_append(LOG_MODULE, __LINE__, ordering->path + "/" + std::string(file), header, row);
        first = written ? end : first + 1;
    }
}

void store_proc_net_dev(const std::string& session_path) {
    hashtable_key_ordering_t ordering;
    ordering.path = monitoring_folder(session_path, "monitoring_network");

    std::string proc = device::path(device::kProcNetDev);
    std::string text;
    {
        File file = file_open(proc, "r");
        if (!file) {
            LOG_ERRNO(LOG_ERR, "Could not open file '%s'", proc.c_str());
            return;
        }
        // The whole table: a cut one would lose its last line.
        if (!file_read_all(file.get(), text) || text.empty()) {
            LOG_ERRNO(LOG_ERR, "Could not read from file %s", proc.c_str());
            return;
        }
    }
    log_msg(LOG_DEBUG, "Read from files %s: [%s]", proc.c_str(), text.c_str());

    CounterTable table(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free));
    if (!table) {
        LOG_ERRNO(LOG_ERR, "Could not create hash table");
        return;
    }
    ordering.map = table.get();
    LogNotes notes;
    int code = parse_proc_net_dev(text, &ordering, notes);
    LOG_NOTES(notes);
    if (code != 0) {
        LOG_FAULT(LOG_ERR, "Error on parsing: %d", code);
        return;
    }
    store_network_bandwidth_new(session_path, ordering.map);
    store_for_each_proc_net_dev_symbols(&ordering);
}

// Memory and load

namespace {

// Set once the missing load average has been reported; cleared when it is back.
int error_detected_and_reported = 0;

}  // namespace

void filehandler_state_reset() {
    network_bandwidth = {};
    error_detected_and_reported = 0;
}

namespace {

bool load_is_blank(char c) {
    return c == ' ' || c == '\t';
}

void load_skip_blank(std::string_view& text) {
    if (!text.empty() && load_is_blank(text.front())) {
        text.remove_prefix(1);
    }
}

}  // namespace

std::optional<std::pair<std::string, std::string>> parse_meminfo_line(const std::string& line) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    std::string name = line.substr(0, colon);
    // The name becomes a file name in the memory folder.
    if (name.empty() || name.find('/') != std::string::npos) {
        return std::nullopt;
    }
    std::string value;
    size_t start = line.find_first_of("0123456789", colon + 1);
    if (start != std::string::npos) {
        size_t end = line.find_first_of(" \t", start);
        value = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    return std::make_pair(std::move(name), std::move(value));
}

void store_proc_meminfo(const std::string& session_path) {
    std::string folder = monitoring_folder(session_path, "monitoring_meminfo");
    // One time stamp for every file of the run.
    std::string date = csv_timestamp();
    std::string proc = device::path(device::kProcMeminfo);
    File meminfo = file_open(proc, "r");
    if (!meminfo) {
        LOG_ERRNO(LOG_ERR, "Could not open file '%s'", proc.c_str());
        return;
    }
    std::string line;
    while (file_read_line(meminfo.get(), line)) {
        std::optional<std::pair<std::string, std::string>> field = parse_meminfo_line(line);
        if (!field) {
            log_msg(LOG_WARNING, "Skipping %s", line.c_str());
            continue;
        }
        csv_append(LOG_MODULE, __LINE__, folder + "/" + field->first + ".csv",
                   "Date,Time,Memory " + field->first + " (kB)\r\n",
                   date + "," + field->second + "\r\n");
    }
}

std::optional<std::array<std::string, 3>> parse_load_average(const std::string& line) {
    size_t found = line.find("average:");
    if (found == std::string::npos) {
        return std::nullopt;
    }
    std::string_view rest = std::string_view(line).substr(found + std::strlen("average:"));
    load_skip_blank(rest);
    // A value that the line ends before is the first one again.
    std::array<std::string, 3> values;
    size_t comma = rest.find(',');
    values[0] = values[1] = values[2] = std::string(rest.substr(0, comma));
    for (size_t i = 1; i < values.size() && comma != std::string_view::npos; ++i) {
        rest.remove_prefix(comma + 1);
        load_skip_blank(rest);
        if (rest.empty()) {
            break;
        }
        // The last value is the rest of the line.
        comma = i + 1 < values.size() ? rest.find(',') : std::string_view::npos;
        values[i] = std::string(rest.substr(0, comma));
    }
    return values;
}

void store_load_avg_info_no_retention(const std::string& session_path) {
    std::string folder = monitoring_folder(session_path, "monitoring_load");
    Pipe uptime = PIPE_OPEN("uptime");
    // No output at all (uptime missing, say) still gives a row, with empty values.
    std::array<std::string, 3> values;
    std::string line;
    if (file_read_line(uptime.get(), line)) {
        std::optional<std::array<std::string, 3>> found = parse_load_average(line);
        if (!found) {
            if (error_detected_and_reported == 0) {
                log_msg(LOG_DEBUG,
                        "[Kelvane]: Unable to read the load average using the command 'uptime'. "
                        "The message returned contained no string that read 'load average'.");
                error_detected_and_reported = 1;
            }
            pipe_close_logged(uptime, "uptime", __func__, __LINE__);
            return;
        }
        error_detected_and_reported = 0;
        values = std::move(*found);
    }
    CSV_APPEND_ROW(folder + "/load.csv",
                   "Date,Time,Load average (1 min),Load average (5 min),Load average (15 min)",
                   "," + values[0] + "," + values[1] + "," + values[2], "\r\n");
    pipe_close_logged(uptime, "uptime", __func__, __LINE__);
}

// Streams and radar

void store_video_stream_history_no_retention(const std::string& session_path) {
    static constexpr const char* kHeader = "Date,Time,Streams\r\n";
    static constexpr const char* kStreamQuery =
        "dbus-send --system --print-reply  --reply-timeout=1000 --dest=com.norv.Streamer "
        "/com/norv/Streamer/Cache com.norv.Streamer.Cache.GetStreams";
    std::string file = monitoring_folder(session_path, "monitoring_streams") + "/stream.csv";
    std::string stamp = csv_timestamp();
    // Opened before the streamer is asked: a file that can't be opened costs no query.
    if (!csv_append(LOG_MODULE, __LINE__, file, kHeader, "")) {
        return;
    }
    Pipe pipe = PIPE_OPEN(kStreamQuery);
    std::vector<std::string> lines = pipe_read_lines(pipe);
    pipe_close_logged(pipe, kStreamQuery, __func__, __LINE__);
    csv_append(LOG_MODULE, __LINE__, file, kHeader,
               stamp + "," + stream_history_cells(lines) + "\r\n");
}

std::string stream_history_cells(const std::vector<std::string>& lines) {
    // In the byte order of their printed lines: the text, then the closing quote.
    std::vector<std::string> streams;
    for (const DbusMember& m : dbus_reply_members(lines)) {
        if (m.type == "string") {
            streams.push_back(m.value + '"');
        }
    }
    std::sort(streams.begin(), streams.end());
    std::string cells;
    auto add = [&cells](std::string entry) {
        // Blanks stand where the quotes were; a row stays one line.
        for (char c : {'"', '\n', '\r'}) {
            str_replace_char(entry, c, ' ');
        }
        cells += (cells.empty() ? "" : "+") + entry;
    };
    for (const std::string& stream : streams) {
        add('"' + stream);
    }
    for (const std::string& line : lines) {
        if (line.starts_with("Error ")) {
            cells += "Error: Failed to get stream info";
            add(line);
        }
    }
    return cells.empty() ? "No streams " : cells;
}

void store_radar_data(const std::string& session_path) {
    std::string folder = monitoring_folder(session_path, "monitoring_radar");
    std::string source = device::path(device::kRadarDir);
    Dir dir(opendir(source.c_str()));
    if (!dir) {
        return;  // a device without radar
    }
    while (const dirent* entry = readdir(dir.get())) {
        const char* name = entry->d_name;
        bool data = fnmatch("radar_*.data", name, 0) == 0;
        if (!data && fnmatch("instqual_lt_stats_*.csv", name, 0) != 0) {
            continue;
        }
        std::string src = source + "/" + name;
        // Anyone can plant a link in /tmp: its target must not reach the session, and so the
        // archive sent to support.
        struct stat st {};
        if (lstat(src.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            log_msg(LOG_DEBUG, "Not copying '%s': not a regular file", src.c_str());
            errno = 0;
            continue;
        }
        std::string dest = folder + "/" + name;
        if (data) {
            // Radar data files are final once written: one copy each.
            if (access(dest.c_str(), F_OK) == 0) {
                continue;
            }
            if (errno != ENOENT) {
                log_msg(LOG_WARNING, "access() failed for %s: %s", dest.c_str(), strerror(errno));
                errno = 0;
                continue;
            }
            errno = 0;
            file_copy_nofollow(src, dest);
        } else {
            // Long-term statistics grow: replace the copy on every run.
            if (access(dest.c_str(), F_OK) == 0) {
                file_remove(dest);
            }
            errno = 0;
            file_copy_nofollow(src, dest);
        }
    }
}

std::string get_names_listed_from_directory(const std::string& path, size_t size) {
    Pipe pipe = PIPE_OPEN("ls \"" + shell_escape_double_quoted(path) + "\"");
    std::string names;
    if (size == 0) {
        return names;
    }
    for (std::string line; names.size() < size - 1 && file_read_line(pipe.get(), line);) {
        if (!names.empty()) {
            names += ',';
        }
        names += line;
    }
    if (names.size() > size - 1) {
        names.resize(size - 1);
    }
    return names;
}

// Server reports

namespace {

std::string server_reports_folder(const std::string& session_path) {
    return monitoring_folder(session_path, "monitoring_basic") + "/Server_Reports";
}

}  // namespace

void create_serverreport_snapshot(const monitoring_session* session, const std::string& fremo_user,
                                  const std::string& fremo_pass) {
    if (session == nullptr || !session->session_path) {
        LOG_FAULT(LOG_ERR, "No session to take a server report for.");
        return;
    }
    const std::string& session_path = *session->session_path;
    serverreport_snapshot(session_path, fremo_user, fremo_pass);
    if (session->storage_id) {
        return;
    }
    // Internal storage is small: every report goes into one archive, and the loose copies are
    // removed only once zip has taken them.
    std::string reports = server_reports_folder(session_path);
    ovra_systemf(
        "( cd %s && zip -J %s Server_Report_* > /dev/null 2>&1 && rm Server_Report_* ) "
        "> /dev/null 2>&1",
        shell_escape_unquoted(reports).c_str(), "Server_Reports.zip");
    std::string archive = reports + "/Server_Reports.zip";
    log_msg(LOG_INFO, "System Monitoring Session Storage Consumption on Internal Storage -> %s.",
            filesize_human_readable(archive).c_str());
}

bool serverreport_snapshot(const std::string& session_path, const std::string& fremo_user,
                           const std::string& fremo_pass) {
    std::string name = date_format_now("Server_Report_%Y-%m-%dT%H%M%S%Z.txt", 100);
    std::string dest = server_reports_folder(session_path) + "/" + name;
    return fremo_download(fremo_user, fremo_pass, "/norv-cgi/serverreport.cgi", dest);
}

unsigned long get_dir_size_bytes(const std::string& path) {
    Pipe pipe = PIPE_OPEN(str_printf("du -bks \"%s\"", shell_escape_double_quoted(path).c_str()));
    std::string output;
    file_read_all(pipe.get(), output);
    pipe.reset();
    return du_parse_bytes(output);
}

unsigned long du_parse_bytes(std::string_view output) {
    std::vector<std::string> lines = str_lines(output);
    long kib = lines.empty() ? 0 : std::strtol(lines.back().c_str(), nullptr, 10);
    return kib < 0 ? 0 : static_cast<unsigned long>(kib) * 1024;
}

// Helper scripts

void shellscript_invoker(const std::string& path, const std::string& name, bool quiet) {
    if (ps_grep_and_check_if_included("Kelvane", name)) {
        return;
    }
    ovra_systemf("%s/%s \"%s\" %s &",
                 shell_escape_unquoted(device::path(device::kShellDir)).c_str(),
                 shell_escape_unquoted(name).c_str(), shell_escape_double_quoted(path).c_str(),
                 quiet ? "> /dev/null 2>&1" : "");
}

void plix_monitor_status_snapshot(const std::string& session_path) {
    ovra_systemf(
        "%s/plix_status_monitor.sh \"%s\" &",
        shell_escape_unquoted(device::path(device::kShellDir)).c_str(),
        shell_escape_double_quoted(monitoring_folder(session_path, "monitoring_plix")).c_str());
}

int ps_grep_and_check_if_included(const std::string& grep, const std::string& strstr_string) {
    Pipe pipe = PIPE_OPEN(str_printf("ps | grep \"%s\"", shell_escape_double_quoted(grep).c_str()));
    std::string output;
    file_read_all(pipe.get(), output);
    return lines_include(output, strstr_string) ? 1 : 0;
}

bool lines_include(std::string_view output, std::string_view part) {
    for (const std::string& line : str_lines(output)) {
        if (line.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool is_monitory_dir(const char* path) {
    if (path == nullptr) {
        return false;
    }
    const std::string p = path;
    bool internal = p.starts_with(device::path(device::kLocalDataDir));
    bool edge =
        p.starts_with(device::path(device::kStorageDir)) && p.find("Kelvane") != std::string::npos;
    if (!(internal || edge) || p.find("/..") != std::string::npos || !is_directory(p)) {
        return false;
    }
    std::string name = p.substr(p.rfind('/') + 1);
    unsigned year, month, day, hour, minute, second;
    if (name.size() != 17 || std::sscanf(name.c_str(), "%4u%2u%2u_%2u_%2u_%2u", &year, &month, &day,
                                         &hour, &minute, &second) != 6) {
        return false;
    }
    return year >= 1000 && year <= 9999 && month <= 12 && day <= 31 && hour <= 24 && minute <= 60 &&
           second <= 60;
}

// Packing a session

int zip_session(const std::string& path) {
    if (is_zipping_session(path)) {
        return 0;
    }
    if (!is_directory(path)) {
        LOG_ERRNO(LOG_ERR, "Path to zip is not a directory: %s", path.c_str());
        return 1;
    }
    if (!path.starts_with("/")) {
        LOG_FAULT(LOG_ERR, "Path to zip must be absolute, but got: %s", path.c_str());
        return 1;
    }
    std::string dir = gchar_take(g_path_get_dirname(path.c_str()));
    std::string base = gchar_take(g_path_get_basename(path.c_str()));
    if (base == "/") {
        LOG_FAULT(LOG_ERR, "Invalid path to zip: %s", path.c_str());
        return 1;
    }
    // zip stores paths relative to its working directory, so it starts in the session's parent
    // and the archive holds the session folder itself. The daemon then returns to where it was:
    // a working directory on the card would keep it busy.
    FileDescriptor previous(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (chdir(dir.c_str()) != 0) {
        LOG_ERRNO(LOG_ERR, "Could not change directory to: %s", dir.c_str());
        return 1;
    }
    log_msg(LOG_DEBUG, "zipping '%s'", base.c_str());
    std::string name = shell_escape_unquoted(base);
    ovra_systemf("zip --recurse-paths %s.zip %s --exclude \\*/.tmp\\* > /dev/null 2>&1 &",
                 name.c_str(), name.c_str());
    if (previous.get() < 0 || fchdir(previous.get()) != 0) {
        [[maybe_unused]] int ignored = chdir("/");
    }
    return 1;
}

bool is_zipping_session(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    // A trailing slash leaves no name, and an empty name would match every line.
    if (slash == std::string::npos || slash + 1 == path.size()) {
        log_msg(LOG_WARNING, "Could not get basename of path: %s", path.c_str());
        return false;
    }
    return ps_grep_and_check_if_included("zip", path.substr(slash + 1)) == 1;
}
