// Settings of the automatic PTZ test: an interval in minutes, or clock times of the day.
// The package's web tools write them; the daemon reads them anew at every tick.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The interval in minute ticks; 0 when interval mode is off.
uint64_t ptz_test_interval_get();
// 0 switches interval mode off.
void ptz_test_interval_set(uint64_t interval);

// The comma-separated HH:MM times; nothing when given-times mode is off.
std::optional<std::string> ptz_test_given_times_get();
// Nothing or an empty string switches given-times mode off.
void ptz_test_given_times_set(const std::optional<std::string>& times);
