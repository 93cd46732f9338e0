// Numbers as people read them: sizes in kB/MB/GB, bandwidth in bit/s, plain decimals elsewhere.
#pragma once

#include <string>

enum class Unit { plain, kilobytes, bytes, megabits };

// The unit of a series from its column name: "(kB)" for memory, "bytes" for interface counters,
// "Mbit/s" for bandwidth.
Unit units_of(const std::string& label);

// "1.5 MB", "2.4 Mbit/s", "2748", "0.25"; never an exponent.
std::string units_text(double v, Unit unit);

// A length of time: "4 minutes", "2 hours 10 minutes", "3 days 1 hour".
std::string units_duration(long long seconds);
