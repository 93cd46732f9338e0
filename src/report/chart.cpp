#include "report/chart.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>

#include "report/csv.hpp"

namespace {

// Rows enough to tell a column of numbers from one of states.
constexpr std::size_t kClassifyRows = 256;

// Files whose rows are per zone, source, application or rank, and columns not worth a chart.
struct FileShape {
    const char* file;
    std::vector<std::string> keys, ignored;
    // Which (column, key) pairs deserve a chart; all when unset.
    bool (*keep)(const std::string& column, const std::string& key);
    // A ranking names its top entry in this column when the rank column says "1".
    const char* rank = nullptr;
    const char* name = nullptr;
};
const FileShape kShapes[] = {
    // Fragmentation shows in the totals; the zones only repeat them.
    {"buddyinfo.csv",
     {"ZONE"},
     {},
     [](const std::string&, const std::string& key) { return key == "Total"; }},
    // Which process is on top tells more than the shares of the ranks below it.
    {"topstatus.csv",
     {"Order", "Rank"},
     {"PID", "PPID", "User", "State", "VSZ", "Command"},
     [](const std::string& column, const std::string& key) {
         return (column == "%CPU" && key == "cpu 1") || (column == "%VSZ" && key == "memory 1");
     },
     "Rank",
     "Command"},
    {"plix_status.csv", {"Application"}, {}, nullptr},
    {"power.csv", {"Source"}, {}, nullptr},
};

enum class Kind { skip, numeric, state };

struct ColumnPlan {
    Kind kind = Kind::skip;
    std::string label;
    bool counter = false;
    std::size_t filled = 0, numeric = 0;
};

// What each column of a file becomes, decided from its header and its first rows.
struct Plan {
    const FileShape* shape = nullptr;
    std::vector<int> keys;
    std::vector<ColumnPlan> cols;
    int rank = -1, name = -1;
};

// Counters that only grow since boot: their change per minute is what tells something.
bool is_counter(const std::string& path, const std::string& column) {
    std::string base = chart_base_of(path);
    return (chart_folder_of(path) == "monitoring_network" && base != "network.csv") ||
           base == "pagefaults.csv" || (base == "vmstatus.csv" && column.rfind("nr_", 0) != 0);
}

const FileShape* shape_of(const std::string& path) {
    for (const FileShape& s : kShapes) {
        if (chart_base_of(path) == s.file) {
            return &s;
        }
    }
    return nullptr;
}

// "Receive: bytes, compressed, ..., Transmit: bytes, ...": the bare metric names belong to the
// group before them.
void plan_labels(Plan& plan, const std::vector<std::string>& header) {
    std::string group;
    for (std::size_t c = 0; c < header.size(); ++c) {
        std::string name = header[c];
        if (auto colon = name.find(": "); colon != std::string::npos) {
            group = name.substr(0, colon + 2);
        } else if (std::all_of(name.begin(), name.end(), [](char ch) {
                       return std::islower(static_cast<unsigned char>(ch)) != 0;
                   })) {
            name = group + name;
        } else {
            group.clear();
        }
        plan.cols[c].label = name;
    }
}

Plan plan_columns(const std::string& path, const std::vector<std::string>& header) {
    Plan plan;
    plan.shape = shape_of(path);
    plan.cols.resize(header.size());
    for (std::size_t c = 0; c < header.size(); ++c) {
        plan.cols[c].kind = Kind::numeric;
        plan.cols[c].counter = is_counter(path, header[c]);
    }
    int date = csv_column(header, "Date");
    plan.cols[date].kind = plan.cols[date + 1].kind = Kind::skip;
    if (const FileShape* shape = plan.shape) {
        for (const std::string& k : shape->keys) {
            if (int c = csv_column(header, k); c >= 0) {
                plan.keys.push_back(c);
                plan.cols[c].kind = Kind::skip;
            }
        }
        for (const std::string& k : shape->ignored) {
            if (int c = csv_column(header, k); c >= 0) {
                plan.cols[c].kind = Kind::skip;
            }
        }
        plan.rank = shape->rank ? csv_column(header, shape->rank) : -1;
        plan.name = shape->name ? csv_column(header, shape->name) : -1;
    }
    plan_labels(plan, header);
    return plan;
}

// A stray word in a column of numbers is a bad cell, not a state: a column is numbers when nine
// in ten of its first filled cells are.
void plan_classify(Plan& plan, std::string_view text) {
    csv_parse(
        text,
        [&](const CsvRow& row) {
            for (std::size_t c = 0; c < plan.cols.size(); ++c) {
                if (plan.cols[c].kind != Kind::skip && !row.cells[c].empty()) {
                    ++plan.cols[c].filled;
                    plan.cols[c].numeric += csv_number(row.cells[c]).has_value();
                }
            }
        },
        kClassifyRows);
    for (ColumnPlan& col : plan.cols) {
        if (col.kind != Kind::skip) {
            col.kind = col.numeric * 10 >= col.filled * 9 ? Kind::numeric : Kind::state;
        }
    }
}

// Change per minute since the previous sample; a counter that went back (a reboot, a wrap)
// gives no value there.
double counter_rate(NumericLine& l, std::int64_t t, double v) {
    double rate = std::nan("");
    if (!l.has_prev) {
        l.raw_first = v;
    } else if (t > l.prev_t && v >= l.prev) {
        rate = (v - l.prev) * 60.0 / static_cast<double>(t - l.prev_t);
    }
    l.prev = v;
    l.prev_t = t;
    l.has_prev = true;
    return rate;
}

void numeric_add(NumericLine& l, std::int64_t t, std::optional<double> v) {
    double x = v ? *v : std::nan("");
    l.nonzero = l.nonzero || (v && *v != 0);
    if (l.counter && v) {
        x = counter_rate(l, t, *v);
    }
    downsample_add(l.bins, t, x);
    if (std::isnan(x)) {
        return;
    }
    if (l.values++ == 0) {
        l.lo = l.hi = x;
        l.t_lo = l.t_hi = t;
        return;
    }
    l.changed = l.changed || x != l.lo || x != l.hi;
    if (x < l.lo) {
        l.lo = x;
        l.t_lo = t;
    }
    if (x > l.hi) {
        l.hi = x;
        l.t_hi = t;
    }
}

void state_add(StateLine& s, std::int64_t t, const std::string& value) {
    if (!s.runs.empty() && s.runs.back().value == value) {
        s.runs.back().last = std::max(s.runs.back().last, t);
        return;
    }
    s.runs.push_back({t, t, value});
}

std::string word_base(const std::string& word) {
    auto slash = word.rfind('/');
    return word.empty() || word[0] == '[' || slash == std::string::npos ? word
                                                                        : word.substr(slash + 1);
}

// The program of a command line: "/usr/bin/proc1 --flag" is "proc1", "python3 /x/sink.py" is
// "sink.py"; kernel threads stay as they are.
std::string program_of(const std::string& command) {
    auto space = command.find(' ');
    std::string program = word_base(command.substr(0, space));
    static const char* const interpreters[] = {"sh", "bash", "ash", "python", "python3", "perl"};
    if (space == std::string::npos || std::find(std::begin(interpreters), std::end(interpreters),
                                                program) == std::end(interpreters)) {
        return program;
    }
    std::string script = command.substr(space + 1, command.find(' ', space + 1) - space - 1);
    return script.empty() || script[0] == '-' ? program : word_base(script);
}

// The series of one file as its rows come, in the order (column, key) they are drawn in.
struct Series {
    int column, key;
    bool numeric;
    std::size_t index;
};

struct Build {
    Plan plan;
    Chart chart;
    std::vector<std::string> key_order;
    std::vector<std::vector<int>> slots;  // key -> column -> series, -1: none yet
    std::vector<Series> series;
    std::vector<std::int64_t> times;
    std::size_t odd_cells = 0;
};

int key_of(Build& b, const CsvRow& row) {
    if (b.plan.keys.empty()) {
        if (b.key_order.empty()) {
            b.key_order.emplace_back();
        }
        return 0;
    }
    std::string key;
    for (int k : b.plan.keys) {
        key += (key.empty() ? "" : " ") + row.cells[k];
    }
    auto it = std::find(b.key_order.begin(), b.key_order.end(), key);
    if (it != b.key_order.end()) {
        return static_cast<int>(it - b.key_order.begin());
    }
    b.key_order.push_back(key);
    return static_cast<int>(b.key_order.size() - 1);
}

// The series of (column, key); -2 when it deserves no chart. Column -1 is the top entry's name.
int series_of(Build& b, int key, int column) {
    if (b.slots.size() <= static_cast<std::size_t>(key)) {
        b.slots.resize(key + 1, std::vector<int>(b.plan.cols.size() + 1, -1));
    }
    int& slot = b.slots[key][column + 1];
    if (slot != -1) {
        return slot;
    }
    const std::string& k = b.key_order[key];
    const FileShape* shape = b.plan.shape;
    if (column >= 0 && shape && shape->keep && !shape->keep(b.plan.cols[column].label, k)) {
        return slot = -2;
    }
    std::string suffix = k.empty() ? "" : " (" + k + ")";
    bool numeric = column >= 0 && b.plan.cols[column].kind == Kind::numeric;
    if (numeric) {
        b.chart.lines.push_back({b.plan.cols[column].label + suffix, {}});
        b.chart.lines.back().counter = b.plan.cols[column].counter;
    } else {
        std::string label = column >= 0 ? b.plan.cols[column].label + suffix
                                        : "On top (" + k.substr(0, k.rfind(' ')) + ")";
        b.chart.states.push_back({label, {}});
    }
    b.series.push_back(
        {column, key, numeric, numeric ? b.chart.lines.size() - 1 : b.chart.states.size() - 1});
    return slot = static_cast<int>(b.series.size() - 1);
}

void row_take(Build& b, const CsvRow& row) {
    if (b.times.empty() || b.times.back() != row.t) {
        b.times.push_back(row.t);
    }
    int key = key_of(b, row);
    for (std::size_t c = 0; c < b.plan.cols.size(); ++c) {
        ColumnPlan& col = b.plan.cols[c];
        int s = col.kind == Kind::skip ? -2 : series_of(b, key, static_cast<int>(c));
        if (s < 0) {
            continue;
        }
        const Series& series = b.series[s];
        if (series.numeric) {
            auto v = csv_number(row.cells[c]);
            b.odd_cells += !v && !row.cells[c].empty();
            numeric_add(b.chart.lines[series.index], row.t, v);
        } else {
            state_add(b.chart.states[series.index], row.t, row.cells[c]);
        }
    }
    if (b.plan.rank >= 0 && b.plan.name >= 0 && row.cells[b.plan.rank] == "1") {
        int s = series_of(b, key, -1);
        state_add(b.chart.states[b.series[s].index], row.t, program_of(row.cells[b.plan.name]));
    }
}

// Zones a device lacks are all zero: left out. A counter that never had two samples apart in
// time shows its value as it is.
bool line_settle(NumericLine& l, bool keyed) {
    if (keyed && !l.nonzero) {
        return false;
    }
    if (l.counter && l.values > 0) {
        l.label += " per minute";
    } else if (l.counter && l.has_prev) {
        l.lo = l.hi = l.raw_first;
        l.values = 1;
    }
    return true;
}

// The series in drawing order: by column, then by key.
void chart_settle(Build& b) {
    std::stable_sort(b.series.begin(), b.series.end(), [](const Series& x, const Series& y) {
        return std::make_pair(x.column, x.key) < std::make_pair(y.column, y.key);
    });
    std::vector<NumericLine> lines;
    std::vector<StateLine> states;
    for (const Series& s : b.series) {
        if (!s.numeric) {
            states.push_back(std::move(b.chart.states[s.index]));
        } else if (line_settle(b.chart.lines[s.index], !b.plan.keys.empty())) {
            lines.push_back(std::move(b.chart.lines[s.index]));
        }
    }
    b.chart.lines = std::move(lines);
    b.chart.states = std::move(states);
}

void problems_note(const std::string& path, const CsvTable& table, std::size_t odd_cells,
                   std::vector<std::string>& problems) {
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
}

}  // namespace

std::string chart_folder_of(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        return "";
    }
    auto start = path.rfind('/', slash - 1);
    start = start == std::string::npos ? 0 : start + 1;
    return path.substr(start, slash - start);
}

std::string chart_base_of(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

ChartResult chart_from_csv(const std::string& path, std::string_view text,
                           std::vector<std::string>& problems) {
    ChartResult result;
    CsvTable header = csv_parse(
        text, [](const CsvRow&) {}, 0);
    if (!header.error.empty()) {
        result.error = header.error;
        return result;
    }
    Build b;
    b.plan = plan_columns(path, header.header);
    plan_classify(b.plan, text);
    b.chart.path = path;
    b.chart.folder = chart_folder_of(path);
    CsvTable table = csv_parse(text, [&](const CsvRow& row) { row_take(b, row); });
    chart_settle(b);
    b.chart.recreated = table.repeated_headers;
    problems_note(path, table, b.odd_cells, problems);
    result.chart = std::move(b.chart);
    result.times = std::move(b.times);
    return result;
}
