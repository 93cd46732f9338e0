#include "report/units.hpp"

#include <cmath>
#include <cstdio>

namespace {

// Enough digits to tell neighbours apart, no trailing zeros.
std::string decimal(double v) {
    double a = std::fabs(v);
    int digits = a >= 1000 ? 0 : a >= 100 ? 1 : a >= 10 ? 2 : 3;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    std::string s = text;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') {
            s.pop_back();
        }
        if (s.back() == '.') {
            s.pop_back();
        }
    }
    return s == "-0" ? "0" : s;
}

std::string scaled(double v, double step, const char* const* names, int n) {
    int i = 0;
    while (i + 1 < n && std::fabs(v) >= step) {
        v /= step;
        ++i;
    }
    return decimal(v) + " " + names[i];
}

std::string plural(long long n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

}  // namespace

Unit units_of(const std::string& label) {
    if (label.find("(kB)") != std::string::npos) {
        return Unit::kilobytes;
    }
    if (label.find("Mbit/s") != std::string::npos) {
        return Unit::megabits;
    }
    return label.find("bytes") != std::string::npos ? Unit::bytes : Unit::plain;
}

std::string units_text(double v, Unit unit) {
    static const char* const sizes[] = {"B", "kB", "MB", "GB", "TB"};
    static const char* const bits[] = {"bit/s", "kbit/s", "Mbit/s", "Gbit/s"};
    switch (unit) {
        case Unit::kilobytes:
            return scaled(v * 1024, 1024, sizes, 5);
        case Unit::bytes:
            return scaled(v, 1024, sizes, 5);
        case Unit::megabits:
            return scaled(v * 1e6, 1000, bits, 4);
        case Unit::plain:
            break;
    }
    return decimal(v);
}

std::string units_duration(long long seconds) {
    long long minutes = (seconds + 30) / 60;
    if (minutes < 60) {
        return plural(minutes, "minute");
    }
    long long hours = minutes / 60;
    if (hours < 24) {
        return plural(hours, "hour") + (minutes % 60 ? " " + plural(minutes % 60, "minute") : "");
    }
    return plural(hours / 24, "day") + (hours % 24 ? " " + plural(hours % 24, "hour") : "");
}
