#include "report/findings.hpp"

#include <cctype>
#include <cmath>

#include "report/chart.hpp"
#include "report/csv.hpp"
#include "report/units.hpp"

namespace {

std::string lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

std::string stem_of(const std::string& path) {
    std::string base = chart_base_of(path);
    return base.substr(0, base.rfind('.'));
}

struct Extreme {
    double value = std::nan("");
    std::int64_t t = 0;
    std::string where;
};

void extreme_of(const NumericLine& line, const std::string& where, bool highest, Extreme& e) {
    double v = highest ? line.hi : line.lo;
    if (line.values > 0 && (std::isnan(e.value) || (highest ? v > e.value : v < e.value))) {
        e = {v, highest ? line.t_hi : line.t_lo, where};
    }
}

// Every line of the charts that `pick` chooses, with where it lies.
template <typename Pick>
Extreme extreme_over(const SessionModel& m, bool highest, Pick pick) {
    Extreme e;
    for (const Chart& c : m.charts) {
        for (const NumericLine& line : c.lines) {
            if (pick(c, line)) {
                extreme_of(line, stem_of(c.path), highest, e);
            }
        }
    }
    return e;
}

void find_extremes(SessionModel& m) {
    Extreme temp = extreme_over(m, true, [](const Chart& c, const NumericLine& l) {
        return c.folder == "monitoring_environment" &&
               lower(l.label).find("temperature") != std::string::npos;
    });
    if (!std::isnan(temp.value)) {
        m.findings.push_back(
            {temp.t, "Highest temperature: " + units_text(temp.value, Unit::plain) + " °C (" +
                         temp.where + ")"});
    }
    // MemAvailable says what is free for use; MemFree stands in on kernels without it.
    Extreme mem = extreme_over(m, false, [](const Chart& c, const NumericLine&) {
        return chart_base_of(c.path) == "MemAvailable.csv";
    });
    if (std::isnan(mem.value)) {
        mem = extreme_over(m, false, [](const Chart& c, const NumericLine&) {
            return chart_base_of(c.path) == "MemFree.csv";
        });
    }
    if (!std::isnan(mem.value)) {
        m.findings.push_back(
            {mem.t, "Lowest " + mem.where + ": " + units_text(mem.value, Unit::kilobytes)});
    }
    Extreme load = extreme_over(m, true, [](const Chart& c, const NumericLine& l) {
        return chart_base_of(c.path) == "load.csv" && l.label == "Load average (1 min)";
    });
    if (!std::isnan(load.value)) {
        m.findings.push_back(
            {load.t, "Highest load average (1 min): " + units_text(load.value, Unit::plain)});
    }
    Extreme bandwidth = extreme_over(m, true, [](const Chart& c, const NumericLine&) {
        return chart_base_of(c.path) == "network.csv";
    });
    if (!std::isnan(bandwidth.value)) {
        m.findings.push_back({bandwidth.t, "Highest network bandwidth: " +
                                               units_text(bandwidth.value, Unit::megabits)});
    }
}

bool is_trouble(const std::string& value) {
    std::string v = lower(value);
    for (const char* word : {"fail", "error", "fault", "broken"}) {
        if (v.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

void find_failures(SessionModel& m) {
    for (const Chart& c : m.charts) {
        std::string base = chart_base_of(c.path);
        if (c.folder != "monitoring_environment" ||
            (base.rfind("Heater_", 0) != 0 && base.rfind("Fan_", 0) != 0)) {
            continue;
        }
        for (const StateLine& s : c.states) {
            for (const StateRun& run : s.runs) {
                if (is_trouble(run.value)) {
                    m.findings.push_back(
                        {run.from, stem_of(c.path) + " reported \"" + run.value + "\""});
                    break;
                }
            }
        }
    }
}

void find_recreated(SessionModel& m) {
    for (const Chart& c : m.charts) {
        if (c.recreated > 0) {
            m.findings.push_back({-1, c.path + " was created anew " + std::to_string(c.recreated) +
                                          " time(s) during the session (its header comes again)"});
        }
    }
}

// The end of a pause without its date when that is the start's.
std::string until_text(std::int64_t from, std::int64_t to) {
    std::string a = csv_time_text(from), b = csv_time_text(to);
    return a.compare(0, 10, b, 0, 10) == 0 ? b.substr(11) : b;
}

void find_pauses(SessionModel& m) {
    for (const auto& [from, to] : m.gaps) {
        long long missed = std::max<long long>(
            1, std::llround(static_cast<double>(to - from) / static_cast<double>(m.round)) - 1);
        m.findings.push_back({-1, "No data from " + csv_time_text(from) + " to " +
                                      until_text(from, to) + ", " + units_duration(to - from) +
                                      ": " + std::to_string(missed) + " round" +
                                      (missed == 1 ? "" : "s") + " missed"});
    }
    if (!m.gaps.empty()) {
        m.findings.push_back({-1,
                              "A lost storage and a daemon that was not running leave the same "
                              "hole in the files; they do not tell which it was"});
    }
}

void find_end(SessionModel& m, const std::string& signature) {
    std::string stop;
    for (const auto& [field, value] : m.facts) {
        if (field == "Stop Time of the session") {
            stop = value;
        }
    }
    for (std::size_t at = 0; stop.empty() && at < signature.size();) {
        std::size_t end = signature.find('\n', at);
        std::string line = signature.substr(at, end == std::string::npos ? end : end - at);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (line.rfind("End: ", 0) == 0) {
            stop = line.substr(5);
        }
        at = end == std::string::npos ? signature.size() : end + 1;
    }
    if (!stop.empty()) {
        m.findings.push_back(
            {-1, "The daemon ended the session at " + stop +
                     ": it does so when its storage is 90 % full and when the storage's usage "
                     "cannot be read; the files do not tell which of the two it was"});
    } else {
        m.findings.push_back({-1,
                              "No stop time: the files look the same for a session still "
                              "running when it was copied and one ended from outside without "
                              "packing"});
    }
}

}  // namespace

void findings_add(SessionModel& m, const std::string& signature) {
    find_extremes(m);
    find_failures(m);
    find_recreated(m);
    find_pauses(m);
    find_end(m, signature);
}
