// The device's climate hardware (temperature sensors, heaters, fans) and the daemon's own cost,
// as CSV time series in a monitoring folder given by the caller.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lib/log.hpp"

inline constexpr int kMaxTemperatureSensors = 20;

// Forgets the sensors, heaters and fans counted at start-up (for tests).
void environment_state_reset();

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

// The value the temperature controller gives, or nothing.
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
// Values of the temperature controller's replies, read by their structure (see dbus_reply.hpp);
// a structure without the expected members is noted and gives no value.
// The temperature of sensor `sensor_index`: structures of an int32 number and a double.
std::optional<std::string> temperature_reply_value(const std::vector<std::string>& lines,
                                                   int sensor_index, LogNotes& notes);
// A heater's status: the reply's one string.
std::optional<std::string> heater_reply_value(const std::vector<std::string>& lines,
                                              LogNotes& notes);
// The status of fan `fan_index`: structures of an int32 number and a string.
std::optional<std::string> fan_reply_value(const std::vector<std::string>& lines, int fan_index,
                                           LogNotes& notes);
// The first number of a `top` line (a process row's id), or nothing without a digit.
std::optional<unsigned long> top_line_first_number(const std::string& line);
// The whole numbers right before the first two percent signs of a `top` line.
std::optional<std::pair<int, int>> top_line_percentages(const std::string& line);
