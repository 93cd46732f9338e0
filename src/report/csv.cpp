#include "report/csv.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool digits(std::string_view s, std::size_t from, std::size_t n, int& out) {
    out = 0;
    for (std::size_t i = from; i < from + n; ++i) {
        if (i >= s.size() || s[i] < '0' || s[i] > '9') {
            return false;
        }
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t yoe = y - era * 400;
    std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

namespace {

// One cell from `i` on with quotes in it, up to its unquoted comma or the line's end; the
// position after it, or npos when a quote is left open.
std::size_t cell_quoted(std::string_view line, std::size_t i, std::string& cell) {
    bool quoted = false, was_quoted = false;
    cell.clear();
    for (; i < line.size(); ++i) {
        char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == '"' && trim(cell).empty()) {
            quoted = was_quoted = true;
            cell.clear();
        } else if (c == ',') {
            break;
        } else {
            cell += c;
        }
    }
    if (quoted) {
        return std::string_view::npos;
    }
    if (!was_quoted) {
        std::string_view kept = trim(cell);
        cell.assign(kept.begin(), kept.end());
    }
    return i;
}

}  // namespace

bool csv_split(std::string_view line, std::vector<std::string>& cells) {
    std::size_t n = 0, i = 0;
    for (;;) {
        if (n == cells.size()) {
            cells.emplace_back();
        }
        std::string& cell = cells[n++];
        std::size_t comma = std::min(line.find(',', i), line.size());
        std::string_view plain = line.substr(i, comma - i);
        if (plain.find('"') == std::string_view::npos) {
            plain = trim(plain);
            cell.assign(plain.begin(), plain.end());
        } else if ((comma = cell_quoted(line, i, cell)) == std::string_view::npos) {
            return false;
        }
        if (comma >= line.size()) {
            break;
        }
        i = comma + 1;
    }
    cells.resize(n);
    return true;
}

std::optional<std::int64_t> csv_time(std::string_view date, std::string_view time) {
    int y, mo, d, h, mi, s;
    if (date.size() != 10 || time.size() != 8 || !digits(date, 0, 4, y) || date[4] != '-' ||
        !digits(date, 5, 2, mo) || date[7] != '-' || !digits(date, 8, 2, d) ||
        !digits(time, 0, 2, h) || time[2] != ':' || !digits(time, 3, 2, mi) || time[5] != ':' ||
        !digits(time, 6, 2, s) || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
        s > 60) {
        return std::nullopt;
    }
    return days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

std::string csv_time_text(std::int64_t t) {
    std::int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
    std::int64_t secs = t - days * 86400;
    // Inverse of days_from_civil.
    std::int64_t z = days + 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    std::int64_t y = yoe + era * 400 + (m <= 2);
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                  static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                  static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                  static_cast<long long>(secs % 60));
    return text;
}

int csv_column(const std::vector<std::string>& header, std::string_view name) {
    for (std::size_t i = 0; i < header.size(); ++i) {
        const std::string& h = header[i];
        if (h.size() == name.size() &&
            std::equal(h.begin(), h.end(), name.begin(), [](unsigned char a, unsigned char b) {
                return std::tolower(a) == std::tolower(b);
            })) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::optional<double> csv_number(std::string_view cell) {
    cell = trim(cell);
    if (cell.empty()) {
        return std::nullopt;
    }
    // Most cells are short: no heap for them.
    char small[64];
    std::string large;
    const char* text = small;
    if (cell.size() < sizeof small) {
        cell.copy(small, cell.size());
        small[cell.size()] = '\0';
    } else {
        large.assign(cell);
        text = large.c_str();
    }
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || !std::isfinite(value)) {
        return std::nullopt;
    }
    // A unit may follow ("Mbit/s", "%", "kB"), but no further number or word glued to it.
    std::string_view rest(end);
    if (!rest.empty() && rest.front() != ' ' && rest.front() != '%' && rest != "m" && rest != "g") {
        return std::nullopt;
    }
    for (char c : rest) {
        if (c >= '0' && c <= '9') {
            return std::nullopt;
        }
    }
    return value;
}

namespace {

struct CsvReader {
    CsvTable table;
    int date = -1, time = -1;
    std::size_t line_no = 0;
    CsvRow row;

    void problem(const std::string& why) {
        if (table.broken_rows++ == 0) {
            table.first_problem = "line " + std::to_string(line_no) + ": " + why;
        }
    }

    bool take_header(bool split) {
        if (split) {
            table.header = row.cells;
            date = csv_column(table.header, "Date");
            time = csv_column(table.header, "Time");
        }
        if (date < 0 || time != date + 1) {
            table.error = "no Date,Time header in the first line";
            table.header.clear();
            return false;
        }
        return true;
    }

    // True when the row is one to keep.
    bool take_row(bool split, bool complete) {
        std::vector<std::string>& cells = row.cells;
        if (!split) {
            problem("a quote is not closed");
            return false;
        }
        if (cells == table.header) {
            ++table.repeated_headers;
            return false;
        }
        // With no clock the row starts with one empty cell in place of the two stamp columns.
        if (cells.size() + 1 == table.header.size() && static_cast<int>(cells.size()) > date &&
            cells[date].empty()) {
            ++table.untimed_rows;
            return false;
        }
        if (cells.size() != table.header.size()) {
            problem(std::to_string(cells.size()) + " cells where the header has " +
                    std::to_string(table.header.size()) + (complete ? "" : " (cut off)"));
            return false;
        }
        auto t = csv_time(cells[date], cells[time]);
        if (!t) {
            problem("no valid date and time");
            return false;
        }
        row.t = *t;
        row.line = line_no;
        return true;
    }
};

}  // namespace

CsvTable csv_parse(std::string_view text, const CsvRowFn& on_row, std::size_t max_rows) {
    CsvReader r;
    if (text.find('\0') != std::string_view::npos) {
        r.table.error = "binary content, not a CSV file";
        return r.table;
    }
    std::size_t pos = 0;
    while (pos < text.size() && (r.table.header.empty() || r.table.rows < max_rows)) {
        std::size_t end = text.find('\n', pos);
        bool complete = end != std::string_view::npos;
        std::string_view line = text.substr(pos, complete ? end - pos : std::string_view::npos);
        pos = complete ? end + 1 : text.size();
        ++r.line_no;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (trim(line).empty()) {
            continue;
        }
        bool split = csv_split(line, r.row.cells);
        if (r.table.header.empty()) {
            if (!r.take_header(split)) {
                return r.table;
            }
        } else if (r.take_row(split, complete)) {
            ++r.table.rows;
            on_row(r.row);
        }
    }
    if (r.table.header.empty()) {
        r.table.error = "empty file";
    }
    return r.table;
}
