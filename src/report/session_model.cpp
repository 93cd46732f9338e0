#include "report/session_model.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "report/csv.hpp"

namespace {

// The order in which a collection run writes its folders; snapshot folders come last.
const char* const kFolderOrder[] = {
    "monitoring_load",    "monitoring_vmstatus",  "monitoring_topstatus", "monitoring_kernel",
    "monitoring_meminfo", "monitoring_plix",      "monitoring_network",   "monitoring_environment",
    "monitoring_self",    "monitoring_streams",   "monitoring_radar",     "monitoring_basic",
    "monitoring_onvif",   "monitoring_interrupts"};

std::string folder_of(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return "";
    }
    auto start = path.rfind('/', slash - 1);
    return path.substr(start == std::string::npos ? 0 : start + 1,
                       slash - (start == std::string::npos ? 0 : start + 1));
}

std::string base_of(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::size_t folder_rank(const std::string& folder) {
    std::size_t n = std::size(kFolderOrder);
    for (std::size_t i = 0; i < n; ++i) {
        if (folder == kFolderOrder[i]) {
            return i;
        }
    }
    return n;
}

bool ends_with(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// Files whose rows are per zone, source, application or rank, and columns not worth a chart.
struct FileShape {
    const char* file;
    std::vector<std::string> keys, ignored;
    // Which (column, key) pairs deserve a chart; all when unset.
    bool (*keep)(const std::string& column, const std::string& key);
};
const FileShape kShapes[] = {
    // Fragmentation shows in the totals; the zones only repeat them.
    {"buddyinfo.csv",
     {"ZONE"},
     {},
     [](const std::string&, const std::string& key) { return key == "Total"; }},
    // The CPU ranking's CPU shares and the memory ranking's memory shares.
    {"topstatus.csv",
     {"Order", "Rank"},
     {"PID", "PPID", "User", "State", "VSZ", "Command"},
     [](const std::string& column, const std::string& key) {
         return (column == "%CPU" && key.rfind("cpu", 0) == 0) ||
                (column == "%VSZ" && key.rfind("memory", 0) == 0);
     }},
    {"plix_status.csv", {"Application"}, {}, nullptr},
    {"power.csv", {"Source"}, {}, nullptr},
};

// Counters that only grow since boot: their change per minute is what tells something.
bool is_counter(const std::string& path, const std::string& column) {
    std::string base = base_of(path);
    return (folder_of(path) == "monitoring_network" && base != "network.csv") ||
           base == "pagefaults.csv" || (base == "vmstatus.csv" && column.rfind("nr_", 0) != 0);
}

// Change per minute between neighbouring samples; a counter that went back (a reboot, a wrap)
// or a pause in collection gives no value there. Nothing when no two samples are apart in time.
bool to_rate(std::vector<Point>& points) {
    std::vector<Point> rates;
    bool any = false;
    for (std::size_t i = 0; i < points.size(); ++i) {
        double rate = std::nan("");
        if (i > 0) {
            std::int64_t dt = points[i].t - points[i - 1].t;
            double dv = points[i].v - points[i - 1].v;
            if (dt > 0 && dt <= kMaxGap && dv >= 0) {
                rate = dv * 60.0 / static_cast<double>(dt);
                any = true;
            }
        }
        rates.push_back({points[i].t, rate});
    }
    if (any) {
        points = std::move(rates);
    }
    return any;
}

std::string number_text(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

// Series of one CSV table; timestamps of its rows go into `times`.
Chart chart_from_table(const std::string& path, const CsvTable& table,
                       std::set<std::int64_t>& times, std::vector<std::string>& problems) {
    Chart chart{path, folder_of(path), {}, {}};
    const FileShape* shape = nullptr;
    for (const FileShape& s : kShapes) {
        if (base_of(path) == s.file) {
            shape = &s;
        }
    }
    int date = csv_column(table.header, "Date");
    std::vector<int> keys;
    std::vector<bool> skip(table.header.size(), false);
    skip[date] = skip[date + 1] = true;
    if (shape) {
        for (const std::string& k : shape->keys) {
            if (int c = csv_column(table.header, k); c >= 0) {
                keys.push_back(c);
                skip[c] = true;
            }
        }
        for (const std::string& k : shape->ignored) {
            if (int c = csv_column(table.header, k); c >= 0) {
                skip[c] = true;
            }
        }
    }
    std::vector<std::int64_t> row_time;
    std::vector<std::string> row_key;
    std::vector<std::string> key_order;
    for (const CsvRow& row : table.rows) {
        std::int64_t t = *csv_time(row.cells[date], row.cells[date + 1]);
        times.insert(t);
        row_time.push_back(t);
        std::string key;
        for (int k : keys) {
            key += (key.empty() ? "" : " ") + row.cells[k];
        }
        if (std::find(key_order.begin(), key_order.end(), key) == key_order.end()) {
            key_order.push_back(key);
        }
        row_key.push_back(key);
    }
    std::size_t odd_cells = 0;
    std::string group;
    for (std::size_t c = 0; c < table.header.size(); ++c) {
        if (skip[c]) {
            continue;
        }
        std::size_t filled = 0, numeric = 0;
        for (const CsvRow& row : table.rows) {
            if (!row.cells[c].empty()) {
                ++filled;
                numeric += csv_number(row.cells[c]).has_value();
            }
        }
        // A stray word in a column of numbers is a bad cell, not a state.
        bool is_numeric = filled > 0 ? numeric * 10 >= filled * 9 : true;
        odd_cells += is_numeric ? filled - numeric : 0;
        // "Receive: bytes, compressed, ..., Transmit: bytes, ..., Failed packages total (receive)":
        // the bare metric names belong to the group before them.
        std::string name = table.header[c];
        if (auto colon = name.find(": "); colon != std::string::npos) {
            group = name.substr(0, colon + 2);
        } else if (std::all_of(name.begin(), name.end(), [](char ch) {
                       return std::islower(static_cast<unsigned char>(ch)) != 0;
                   })) {
            name = group + name;
        } else {
            group.clear();
        }
        for (const std::string& key : key_order) {
            if (shape && shape->keep && !shape->keep(table.header[c], key)) {
                continue;
            }
            std::string label = name + (key.empty() ? "" : " (" + key + ")");
            if (is_numeric) {
                NumericLine line{label, {}};
                bool any = false;
                for (std::size_t r = 0; r < table.rows.size(); ++r) {
                    if (row_key[r] == key) {
                        auto v = csv_number(table.rows[r].cells[c]);
                        line.points.push_back({row_time[r], v ? *v : std::nan("")});
                        any = any || (v && (*v != 0 || keys.empty()));
                    }
                }
                // Zones a device lacks are all zero: leave them out.
                if (any || keys.empty()) {
                    std::stable_sort(line.points.begin(), line.points.end(),
                                     [](const Point& a, const Point& b) { return a.t < b.t; });
                    if (is_counter(path, table.header[c]) && to_rate(line.points)) {
                        line.label += " per minute";
                    }
                    chart.lines.push_back(std::move(line));
                }
            } else {
                StateLine line{label, {}};
                for (std::size_t r = 0; r < table.rows.size(); ++r) {
                    if (row_key[r] == key) {
                        line.samples.emplace_back(row_time[r], table.rows[r].cells[c]);
                    }
                }
                std::stable_sort(line.samples.begin(), line.samples.end(),
                                 [](const auto& a, const auto& b) { return a.first < b.first; });
                chart.states.push_back(std::move(line));
            }
        }
    }
    chart.recreated = table.repeated_headers;
    if (table.untimed_rows > 0) {
        problems.push_back(
            path + ": " + std::to_string(table.untimed_rows) +
            " row(s) without a time stamp left out (the device clock could not be read)");
    }
    if (table.broken_rows > 0) {
        problems.push_back(path + ": " + std::to_string(table.broken_rows) +
                           " row(s) left out, first at " + table.first_problem);
    }
    if (odd_cells > 0) {
        problems.push_back(path + ": " + std::to_string(odd_cells) +
                           " cell(s) that are not numbers left out of the chart");
    }
    return chart;
}

// Time of a snapshot from its name (20240307_140509_..., Server_Report_2024-03-07T140509...).
std::int64_t snapshot_time(const std::string& name) {
    std::string digits;
    for (char c : name) {
        if (c >= '0' && c <= '9') {
            digits += c;
        }
    }
    if (digits.size() < 14) {
        return -1;
    }
    auto t =
        csv_time(digits.substr(0, 4) + "-" + digits.substr(4, 2) + "-" + digits.substr(6, 2),
                 digits.substr(8, 2) + ":" + digits.substr(10, 2) + ":" + digits.substr(12, 2));
    return t ? *t : -1;
}

struct Extreme {
    double value = std::nan("");
    std::int64_t t = 0;
    std::string where;
};

void extreme_of(const NumericLine& line, const std::string& where, bool highest, Extreme& e) {
    for (const Point& p : line.points) {
        if (!std::isnan(p.v) &&
            (std::isnan(e.value) || (highest ? p.v > e.value : p.v < e.value))) {
            e = {p.v, p.t, where};
        }
    }
}

void find_standouts(SessionModel& m) {
    Extreme temp, mem, load, bandwidth;
    bool mem_available = false;
    for (const Chart& c : m.charts) {
        std::string base = base_of(c.path);
        for (const NumericLine& line : c.lines) {
            if (c.folder == "monitoring_environment" &&
                lower(line.label).find("temperature") != std::string::npos) {
                extreme_of(line, base.substr(0, base.size() - 4), true, temp);
            } else if (base == "MemAvailable.csv" || (base == "MemFree.csv" && !mem_available)) {
                if (base == "MemAvailable.csv" && !mem_available) {
                    mem = {};
                    mem_available = true;
                }
                extreme_of(line, base.substr(0, base.size() - 4), false, mem);
            } else if (base == "load.csv" && line.label == "Load average (1 min)") {
                extreme_of(line, "", true, load);
            } else if (base == "network.csv") {
                extreme_of(line, "", true, bandwidth);
            }
        }
        if (c.folder == "monitoring_environment" &&
            (base.rfind("Heater_", 0) == 0 || base.rfind("Fan_", 0) == 0)) {
            for (const StateLine& s : c.states) {
                for (const auto& [t, value] : s.samples) {
                    std::string v = lower(value);
                    if (v.find("fail") != std::string::npos ||
                        v.find("error") != std::string::npos ||
                        v.find("fault") != std::string::npos ||
                        v.find("broken") != std::string::npos) {
                        m.findings.push_back(
                            {t, base.substr(0, base.size() - 4) + " reported \"" + value + "\""});
                        break;
                    }
                }
            }
        }
    }
    if (!std::isnan(temp.value)) {
        m.findings.push_back({temp.t, "Highest temperature: " + number_text(temp.value) + " °C (" +
                                          temp.where + ")"});
    }
    if (!std::isnan(mem.value)) {
        m.findings.push_back(
            {mem.t, "Lowest " + mem.where + ": " + number_text(mem.value / 1024.0) + " MB"});
    }
    if (!std::isnan(load.value)) {
        m.findings.push_back({load.t, "Highest load average (1 min): " + number_text(load.value)});
    }
    if (!std::isnan(bandwidth.value)) {
        m.findings.push_back({bandwidth.t, "Highest network bandwidth: " +
                                               number_text(bandwidth.value) + " Mbit/s"});
    }
    for (const Chart& c : m.charts) {
        if (c.recreated > 0) {
            m.findings.push_back({-1, c.path + " was created anew " + std::to_string(c.recreated) +
                                          " time(s) during the session (its header comes again)"});
        }
    }
    for (const auto& [from, to] : m.gaps) {
        m.findings.push_back(
            {from, "No data for " + std::to_string((to - from) / 60) + " minutes, until " +
                       csv_time_text(to) +
                       " (collection stopped: storage lost or daemon not running)"});
    }
}

void find_end(SessionModel& m, const std::string& signature) {
    std::string stop;
    for (const auto& [field, value] : m.facts) {
        if (field == "Stop Time of the session") {
            stop = value;
        }
    }
    std::string end_line;
    for (const auto& [field, value] : session_model_facts(signature)) {
        if (field == "End") {
            end_line = value;
        }
    }
    // The daemon ends a session only when its storage fills up.
    std::string why = ": its storage was 90 % full, or its usage could not be read";
    if (!stop.empty() || !end_line.empty()) {
        m.findings.push_back(
            {-1, "The daemon ended the session at " + (stop.empty() ? end_line : stop) + why});
    } else {
        m.findings.push_back({-1,
                              "No stop time: the session was still running when copied, or "
                              "was ended from outside without packing"});
    }
}

}  // namespace

std::vector<std::pair<std::string, std::string>> session_model_facts(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> facts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::string line =
            text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        auto colon = line.find(": ");
        if (colon == std::string::npos) {
            facts.emplace_back("", line);
        } else {
            facts.emplace_back(line.substr(0, colon), line.substr(colon + 2));
        }
    }
    return facts;
}

SessionModel session_model_build(SessionFiles files) {
    SessionModel m;
    m.name = files.name;
    m.problems = std::move(files.problems);
    std::set<std::int64_t> times;
    std::map<std::string, std::vector<std::string>> snapshots;
    std::string signature;
    if (auto info = files.files.find("Session_Information.txt"); info != files.files.end()) {
        m.facts = session_model_facts(info->second);
    } else {
        m.problems.push_back("Session_Information.txt: missing, so the session facts are unknown");
    }
    if (auto sig = files.files.find(".signature"); sig != files.files.end()) {
        signature = sig->second;
    }
    for (const auto& [path, contents] : files.files) {
        std::string base = base_of(path), folder = folder_of(path);
        if (path == "Session_Information.txt" || path == ".signature") {
            continue;
        }
        if (folder == "Server_Reports") {
            snapshots["Server reports"].push_back(base);
        } else if (folder == "monitoring_onvif") {
            snapshots["Media configuration"].push_back(base);
        } else if (folder == "monitoring_interrupts") {
            snapshots["Interrupt tables"].push_back(base);
        } else if (ends_with(lower(base), ".csv")) {
            CsvTable table = csv_parse(contents);
            if (!table.error.empty() && folder == "monitoring_radar") {
                snapshots["Radar diagnostics"].push_back(base);
            } else if (!table.error.empty()) {
                m.problems.push_back(path + ": " + table.error);
            } else {
                m.charts.push_back(chart_from_table(path, table, times, m.problems));
            }
        } else if (folder == "monitoring_radar") {
            snapshots["Radar diagnostics"].push_back(base);
        } else {
            snapshots["Other files"].push_back(path);
        }
    }
    std::stable_sort(m.charts.begin(), m.charts.end(), [](const Chart& a, const Chart& b) {
        return std::make_pair(folder_rank(a.folder), a.folder) <
               std::make_pair(folder_rank(b.folder), b.folder);
    });
    for (const char* kind : {"Server reports", "Media configuration", "Interrupt tables",
                             "Radar diagnostics", "Other files"}) {
        if (auto it = snapshots.find(kind); it != snapshots.end()) {
            m.snapshots.push_back({kind, it->second});
            for (const std::string& name : it->second) {
                if (std::string(kind) != "Other files") {
                    if (std::int64_t t = snapshot_time(name); t >= 0 && !times.empty()) {
                        times.insert(t);
                    }
                }
            }
        }
    }
    if (!times.empty()) {
        m.has_time = true;
        m.t0 = *times.begin();
        m.t1 = *times.rbegin();
        std::int64_t prev = m.t0;
        for (std::int64_t t : times) {
            if (t - prev > kMaxGap) {
                m.gaps.emplace_back(prev, t);
            }
            prev = t;
        }
    }
    find_standouts(m);
    find_end(m, signature);
    return m;
}
