// The device's climate hardware (temperature sensors, heaters, fans) and the daemon's own cost,
// as CSV time series in a monitoring folder given by the caller.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

inline constexpr int kMaxTemperatureSensors = 20;

// Learnt once at start-up and only read afterwards.
extern int number_of_temperature_sensors;
extern std::array<std::optional<std::string>, kMaxTemperatureSensors> temperature_sensor_names;
extern int number_of_heaters;
extern int number_of_fans;

// Reads the sensor names from the device's parameter list and the heater and fan counts from
// the temperature controller.
void init_environment_monitor_settings(const std::string& fremo_user,
                                       const std::string& fremo_pass);

// One row per sensor, heater or fan, in `path` (created when missing).
void store_temperatures_celsius(const std::string& path);
void store_heater_status(const std::string& path);
void store_fan_status(const std::string& path);

// The reply line that holds the value, or nothing.
std::optional<std::string> get_temperature(int sensor_index);
std::optional<std::string> get_heater_status(int heater_index);
std::optional<std::string> get_environment_status(const std::string& cmd, int fan_index);

// Appends the daemon's %VSZ and %CPU from one run of `top` to Kelvane_summary.csv in `path`.
void store_self_monitoring(const std::string& path);
// The daemon's own line of `top`, or nothing.
std::optional<std::string> get_top_Kelvane();

// Parsers of what the device prints, apart from the commands that print it.

// The sensor number of a "root.TemperatureControl.Sensor.S<n>.Name=<name>" line (any number),
// with `name` set; nothing for any other line.
std::optional<int> parse_sensor_name_line(const std::string& line, std::string& name);
// The count on the last line of a count reply ("   int32 2"); nothing when it has none.
std::optional<int> parse_count_reply(const std::vector<std::string>& lines);
// The index of the line naming the sensor (an "int" line holding " <n>"), or nothing; the value
// is on the line after it.
std::optional<size_t> find_temperature_line(const std::vector<std::string>& lines,
                                            int sensor_index);
// The first line holding a string value.
std::optional<std::string> find_heater_line(const std::vector<std::string>& lines);
// What the search for a fan's status line ("int32 <n>", then a string line) met.
struct FanLineSearch {
    std::optional<std::string> line;      // the status line
    std::vector<std::string> unexpected;  // lines after the fan's number without a string
    bool cut = false;                     // the fan's number was the last line
};
FanLineSearch find_fan_line(const std::vector<std::string>& lines, int fan_index);
// The text after "double " of a value line.
std::optional<std::string> temperature_value(const std::string& line);
// The quoted text after "string " of a value line.
std::optional<std::string> quoted_string_value(const std::string& line);
// The first number of a `top` line (a process row's id), or nothing without a digit.
std::optional<unsigned long> top_line_first_number(const std::string& line);
// The whole numbers right before the first two percent signs of a `top` line.
std::optional<std::pair<int, int>> top_line_percentages(const std::string& line);
