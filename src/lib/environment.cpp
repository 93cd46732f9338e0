#include "lib/environment.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "lib/dbus_reply.hpp"
#include "lib/fileutil.hpp"
#include "lib/fremo.hpp"
#include "lib/log.hpp"
#include "lib/strutil.hpp"
#include "lib/sysutil.hpp"
#include "lib/timeseries.hpp"

#define LOG_MODULE "lib/environment"

int number_of_temperature_sensors = 0;
std::array<std::optional<std::string>, kMaxTemperatureSensors> temperature_sensor_names;
int number_of_heaters = 0;
int number_of_fans = 0;

void environment_state_reset() {
    number_of_temperature_sensors = number_of_heaters = number_of_fans = 0;
    temperature_sensor_names.fill(std::nullopt);
}

namespace {

constexpr const char* kSensorNamesRequest =
    "/norv-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor";
constexpr std::string_view kSensorNamePrefix = "root.TemperatureControl.Sensor.S";
constexpr std::string_view kSensorNameSuffix = ".Name=";

#define TEMPERATURE_CONTROLLER_CALL                                                             \
    "dbus-send --system --print-reply --reply-timeout=1000 "                                    \
    "--dest=com.norv.TemperatureController --type=method_call /com/norv/TemperatureController " \
    "com.norv.TemperatureController."
constexpr const char* kTemperaturesCmd = TEMPERATURE_CONTROLLER_CALL "GetAllTemperatures string:0";
constexpr const char* kHeaterStatusFmt = TEMPERATURE_CONTROLLER_CALL "GetHeaterStatus int32:%d";
constexpr const char* kFanStatusCmd = TEMPERATURE_CONTROLLER_CALL "GetAllFanStatus";
constexpr const char* kHeatersCmd = TEMPERATURE_CONTROLLER_CALL "GetNbrOfHeaters";
constexpr const char* kFansCmd = TEMPERATURE_CONTROLLER_CALL "GetNbrOfFans";
#undef TEMPERATURE_CONTROLLER_CALL

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_blank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// strtol-like: blanks, a sign, digits; no digits give 0. Clamped to int.
int leading_int(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && is_blank(text[pos])) {
        ++pos;
    }
    bool negative = pos < text.size() && text[pos] == '-';
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        ++pos;
    }
    long long value = 0;
    for (; pos < text.size() && is_digit(text[pos]); ++pos) {
        value = std::min<long long>(value * 10 + (text[pos] - '0'), 1LL + INT_MAX);
    }
    value = negative ? -value : value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

void make_folder(const std::string& path) {
    if (!is_directory(path)) {
        mkdir(path.c_str(), 0755);
    }
}

// The file is opened before the device is asked: a file that can't be opened costs no query,
// and a new file gets its header even when the device has no value.
template <typename Fetch>
void append_sample(const std::string& file, const char* header, const std::string& stamp,
                   Fetch fetch) {
    if (!csv_append(LOG_MODULE, __LINE__, file, header, "")) {
        return;
    }
    if (std::optional<std::string> value = fetch()) {
        // A line break inside a value would split the row.
        str_replace_char(*value, '\n', ' ');
        str_replace_char(*value, '\r', ' ');
        csv_append(LOG_MODULE, __LINE__, file, header, stamp + "," + *value + "\n");
    }
}

}  // namespace

std::optional<int> parse_sensor_name_line(const std::string& line, std::string& name) {
    if (!line.starts_with(kSensorNamePrefix)) {
        return std::nullopt;
    }
    const char* pos = line.data() + kSensorNamePrefix.size();
    const char* end = line.data() + line.size();
    while (pos < end && is_blank(*pos)) {
        ++pos;
    }
    if (pos < end && *pos == '+') {
        ++pos;
    }
    int number = 0;
    auto [after, error] = std::from_chars(pos, end, number);
    if (error != std::errc() ||
        !std::string_view(after, end - after).starts_with(kSensorNameSuffix)) {
        return std::nullopt;
    }
    name.assign(after + kSensorNameSuffix.size(), end);
    return number;
}

std::optional<int> parse_count_reply(const std::vector<std::string>& lines) {
    if (lines.empty()) {
        return std::nullopt;
    }
    const std::string& last = lines.back();
    auto type = last.find("int");
    auto blank = type == std::string::npos ? type : last.find(' ', type);
    if (blank == std::string::npos) {
        return std::nullopt;
    }
    return leading_int(std::string_view(last).substr(blank + 1));
}

std::optional<std::string> temperature_reply_value(const std::vector<std::string>& lines,
                                                   int sensor_index, LogNotes& notes) {
    for (const DbusStruct& st : dbus_reply_structs(dbus_reply_members(lines))) {
        if (!dbus_fields_counted(st.members, 2, notes)) {
            continue;
        }
        const DbusMember& number = st.members[0];
        if (number.type == "int32" && number.value == std::to_string(sensor_index) &&
            st.members[1].type == "double") {
            notes.push_back({LOG_DEBUG, str_printf("Temperature for sensor %d is : %s",
                                                   sensor_index, st.members[1].text.c_str())});
            return st.members[1].value;
        }
    }
    return std::nullopt;
}

std::optional<std::string> heater_reply_value(const std::vector<std::string>& lines,
                                              LogNotes& notes) {
    std::vector<DbusMember> members = dbus_reply_members(lines);
    // An absent controller prints nothing, and says so on standard error.
    if (members.empty() || !dbus_fields_counted(members, 1, notes) || members[0].type != "string") {
        return std::nullopt;
    }
    return members[0].value;
}

std::optional<std::string> fan_reply_value(const std::vector<std::string>& lines, int fan_index,
                                           LogNotes& notes) {
    for (const DbusStruct& st : dbus_reply_structs(dbus_reply_members(lines))) {
        if (!dbus_fields_counted(st.members, 2, notes)) {
            continue;
        }
        const DbusMember& number = st.members[0];
        if (number.type != "int32" || number.value != std::to_string(fan_index)) {
            continue;
        }
        if (st.members[1].type == "string") {
            return st.members[1].value;
        }
        notes.push_back(
            {LOG_ERR, str_printf("Expected string value, got %s", st.members[1].text.c_str())});
    }
    return std::nullopt;
}

std::optional<unsigned long> top_line_first_number(const std::string& line) {
    auto first = line.find_first_of("0123456789");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    unsigned long number = 0;
    auto [end, error] = std::from_chars(line.data() + first, line.data() + line.size(), number);
    (void)end;
    if (error != std::errc()) {
        return std::nullopt;
    }
    return number;
}

std::optional<std::pair<int, int>> top_line_percentages(const std::string& line) {
    auto first = line.find('%');
    auto second = first == std::string::npos ? first : line.find('%', first + 1);
    if (second == std::string::npos) {
        return std::nullopt;
    }
    // Only the digits right before the sign count: "1.5%" gives 5.
    auto number_before = [&](size_t sign) {
        size_t start = sign;
        while (start > 0 && is_digit(line[start - 1])) {
            --start;
        }
        return leading_int(std::string_view(line).substr(start, sign - start));
    };
    return std::make_pair(number_before(first), number_before(second));
}

void init_environment_monitor_settings(const std::string& fremo_user,
                                       const std::string& fremo_pass) {
    Pipe params = fremo_get(fremo_user, fremo_pass, kSensorNamesRequest);
    if (!params) {
        LOG_ERRNO(LOG_EMERG, "Could not popen '%s'", kSensorNamesRequest);
        std::abort();
    }
    number_of_temperature_sensors = 0;
    temperature_sensor_names.fill(std::nullopt);
    std::string line;
    std::string name;
    while (file_read_line(params.get(), line)) {
        std::optional<int> number = parse_sensor_name_line(line, name);
        if (!number || *number < 0 || *number >= kMaxTemperatureSensors) {
            continue;
        }
        // A number named twice is one sensor; the later name wins.
        if (!temperature_sensor_names[*number]) {
            ++number_of_temperature_sensors;
        }
        temperature_sensor_names[*number] = name;
    }
    params.reset();

    if (std::optional<int> count = parse_count_reply(pipe_read_lines(PIPE_OPEN(kHeatersCmd)))) {
        number_of_heaters = *count;
    }
    if (std::optional<int> count = parse_count_reply(pipe_read_lines(PIPE_OPEN(kFansCmd)))) {
        number_of_fans = *count;
    }
    log_msg(LOG_DEBUG,
            "Number of fans: %d, number of heaters: %d, number of temperature sensors: %d",
            number_of_fans, number_of_heaters, number_of_temperature_sensors);
}

std::optional<std::string> get_temperature(int sensor_index) {
    LogNotes notes;
    std::optional<std::string> value =
        temperature_reply_value(pipe_read_lines(PIPE_OPEN(kTemperaturesCmd)), sensor_index, notes);
    LOG_NOTES(notes);
    return value;
}

std::optional<std::string> get_heater_status(int heater_index) {
    LogNotes notes;
    std::optional<std::string> status = heater_reply_value(
        pipe_read_lines(PIPE_OPEN(str_printf(kHeaterStatusFmt, heater_index))), notes);
    LOG_NOTES(notes);
    if (status) {
        log_msg(LOG_DEBUG, "Status for heater %d is : %s", heater_index, status->c_str());
    }
    return status;
}

std::optional<std::string> get_environment_status(const std::string& cmd, int fan_index) {
    LogNotes notes;
    std::optional<std::string> status =
        fan_reply_value(pipe_read_lines(PIPE_OPEN(cmd)), fan_index, notes);
    LOG_NOTES(notes);
    return status;
}

void store_temperatures_celsius(const std::string& path) {
    std::string stamp = csv_timestamp();
    make_folder(path);
    for (int i = 0; i < number_of_temperature_sensors && i < kMaxTemperatureSensors; ++i) {
        // A gap in the parameter list's numbering leaves a position without a name.
        if (!temperature_sensor_names[i]) {
            continue;
        }
        // The name comes from the device: it must not lead the file out of the folder.
        std::string file_name = *temperature_sensor_names[i];
        str_replace_char(file_name, '/', '_');
        append_sample(path + "/" + file_name + ".csv", "Date, Time, Temperature (Celsius)\n", stamp,
                      [i] { return get_temperature(i); });
    }
}

void store_heater_status(const std::string& path) {
    std::string stamp = csv_timestamp();
    make_folder(path);
    for (int i = 0; i < number_of_heaters; ++i) {
        append_sample(str_printf("%s/Heater_%d.csv", path.c_str(), i),
                      "Date, Time, Heater status\n", stamp, [i] { return get_heater_status(i); });
    }
}

void store_fan_status(const std::string& path) {
    std::string stamp = csv_timestamp();
    make_folder(path);
    for (int i = 0; i < number_of_fans; ++i) {
        append_sample(str_printf("%s/Fan_%d.csv", path.c_str(), i), "Date, Time, Fan status\n",
                      stamp, [i] { return get_environment_status(kFanStatusCmd, i); });
    }
}

std::optional<std::string> get_top_Kelvane() {
    Pipe pipe = PIPE_OPEN("top -n 1 -b");
    auto pid = static_cast<unsigned long>(getpid());
    std::string line;
    while (file_read_line(pipe.get(), line)) {
        if (top_line_first_number(line) == pid) {
            log_msg(LOG_DEBUG, "Top: [%s\n]", line.c_str());
            return line;
        }
    }
    log_msg(LOG_DEBUG, "Did not find the correct pid.. %u", static_cast<unsigned>(pid));
    return std::nullopt;
}

void store_self_monitoring(const std::string& path) {
    make_folder(path);
    std::string file = path + "/Kelvane_summary.csv";
    std::optional<std::string> line = get_top_Kelvane();
    if (!line) {
        LOG_FAULT(LOG_ERR, "Failed to get top for Kelvane");
        return;
    }
    std::optional<std::pair<int, int>> shares = top_line_percentages(*line);
    if (!shares) {
        return;
    }
    CSV_APPEND_ROW(file, "Date,Time,%Vsz,%Cpu", str_printf(",%d,%d", shares->first, shares->second),
                   "\n");
}
