#include "report/report_html.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string_view>

#include "lib/html.hpp"
#include "report/chart.hpp"
#include "report/csv.hpp"
#include "report/units.hpp"

namespace {

constexpr int kPlotWidth = 800;  // pixel columns of every chart, on one shared time axis
constexpr int kLabelWidth = 170;
constexpr int kStripHeight = 40;
constexpr int kStripGap = 18;
constexpr int kStateHeight = 14;
constexpr int kLabelHeight = 13;  // a strip's name above it, so that no name is cut
constexpr int kRightMargin = 36;  // room for the last time label

const char* const kTrouble = "#c62828";
const char* const kPalette[] = {"#2e7d32", "#1565c0", "#9e9e9e", "#ef6c00", "#6a1b9a", "#00838f",
                                "#ad1457", "#558b2f", "#4e342e", "#283593", "#9e9d24"};

const char* const kStyle = R"(
body{font:14px/1.4 system-ui,sans-serif;margin:1.5em auto;max-width:1000px;color:#222}
h1{font-size:1.5em;margin:0 0 .3em}h2{font-size:1.15em;margin:1.6em 0 .4em;border-bottom:1px solid #ccc}
dl{display:grid;grid-template-columns:max-content auto;gap:.1em 1em;margin:.5em 0}dt{color:#555}dd{margin:0}
ul.findings li{margin:.15em 0}.when{color:#555;font-variant-numeric:tabular-nums}
.problems{color:#b71c1c}figure{margin:.6em 0 1.2em}figcaption{font-family:monospace;font-size:12px;color:#444}
svg{display:block;max-width:100%;height:auto}svg text{font:11px system-ui,sans-serif;fill:#333}
.line{fill:none;stroke:#1565c0;stroke-width:1;stroke-linecap:round;stroke-linejoin:round}
.frame{fill:#fafafa;stroke:#ddd}.gap{fill:#fde0dc}.tick{stroke:#bbb}details{margin:.3em 0}
pre{font-size:12px;background:#f6f6f6;padding:.5em;overflow-x:auto}
table.unchanged{font-size:12px;border-collapse:collapse;margin:.4em 0 1.2em}
table.unchanged caption{text-align:left;color:#555}table.unchanged td{padding:0 1em 0 0}
)";

// One colour per state text across the page; trouble is always red.
const char* state_colour(std::map<std::string, const char*>& page, const std::string& value) {
    if (auto it = page.find(value); it != page.end()) {
        return it->second;
    }
    std::string low;
    for (char c : value) {
        low += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    bool trouble = low.find("fail") != std::string::npos ||
                   low.find("error") != std::string::npos || low.find("fault") != std::string::npos;
    std::size_t n = page.size();
    return page[value] = trouble ? kTrouble : kPalette[n % std::size(kPalette)];
}

// Tenths of a pixel are as fine as a screen shows.
std::string px(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", std::round(v * 10) / 10);
    return text;
}

struct Axis {
    std::int64_t t0, t1;
    int x(std::int64_t t) const { return kLabelWidth + downsample_x(t, t0, t1, kPlotWidth); }
};

// What the page draws with, beside the model.
struct Page {
    const SessionModel& m;
    Axis axis;
    std::map<std::string, const char*> colours;  // one colour per state text across the page
};

std::string attr(const char* name, long long v) {
    return std::string(" ") + name + "=\"" + std::to_string(v) + "\"";
}

void text_svg(std::string& out, int x, int y, const std::string& text) {
    out += "<text" + attr("x", x) + attr("y", y) + ">" + html_escape(text) + "</text>";
}

void frame_svg(std::string& out, const Page& p, int top, int height) {
    out += "<rect class=\"frame\"" + attr("x", kLabelWidth) + attr("y", top) +
           attr("width", kPlotWidth) + attr("height", height) + "/>";
    for (const auto& [from, to] : p.m.gaps) {
        int x0 = p.axis.x(from), x1 = p.axis.x(to);
        out += "<rect class=\"gap\"" + attr("x", x0) + attr("y", top) +
               attr("width", std::max(1, x1 - x0)) + attr("height", height) + "/>";
    }
}

bool line_moved(const NumericLine& l) {
    return l.values > 0 && l.changed;
}

bool state_moved(const StateLine& s) {
    return s.runs.size() > 1;
}

// The value range a strip shows: at least 1 % of the values, so that a change of 1 in 2748
// stays a ripple.
std::pair<double, double> strip_range(const NumericLine& l) {
    double span = l.hi - l.lo;
    double least = 0.01 * std::max(std::fabs(l.hi), std::fabs(l.lo));
    if (span >= least) {
        return {l.lo, span};
    }
    return {(l.lo + l.hi - least) / 2, least};
}

std::string path_of(const std::vector<Column>& cols, const std::function<double(double)>& y) {
    std::string d;
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        d += c.starts_run ? 'M' : 'L';
        d += std::to_string(kLabelWidth + c.x) + ' ' + px(y(c.first));
        if (c.min != c.max) {
            for (double v : {c.min, c.max, c.last}) {
                d += 'V' + px(y(v));
            }
        }
        // A lone sample still gets a visible mark.
        if (c.starts_run && c.min == c.max && (i + 1 == cols.size() || cols[i + 1].starts_run)) {
            d += "h1";
        }
    }
    return d;
}

constexpr int kNumericRow = kLabelHeight + kStripHeight + kStripGap / 3;
constexpr int kStateRow = kLabelHeight + kStateHeight + 6;

void numeric_svg(std::string& out, const Page& p, const NumericLine& line, int top) {
    Unit unit = units_of(line.label);
    int plot_top = top + kLabelHeight;
    text_svg(out, 0, top + 10, line.label);
    frame_svg(out, p, plot_top, kStripHeight);
    text_svg(out, 0, plot_top + 12, "max " + units_text(line.hi, unit));
    text_svg(out, 0, plot_top + kStripHeight - 2, "min " + units_text(line.lo, unit));
    auto [base, span] = strip_range(line);
    auto y = [&](double v) {
        return plot_top + kStripHeight - 2 - (v - base) / span * (kStripHeight - 4);
    };
    std::vector<Column> cols =
        downsample_minmax(line.bins, p.axis.t0, p.axis.t1, kPlotWidth, p.m.max_gap);
    out += "<path class=\"line\" d=\"" + path_of(cols, y) + "\"/>";
}

// Pieces of [from, to) outside the collection pauses.
std::vector<std::pair<std::int64_t, std::int64_t>> outside_gaps(const SessionModel& m,
                                                                std::int64_t from,
                                                                std::int64_t to) {
    std::vector<std::pair<std::int64_t, std::int64_t>> pieces;
    auto g = std::lower_bound(m.gaps.begin(), m.gaps.end(), std::make_pair(from, from));
    if (g != m.gaps.begin() && std::prev(g)->second > from) {
        --g;
    }
    for (; g != m.gaps.end() && g->first < to; ++g) {
        if (g->first > from) {
            pieces.emplace_back(from, g->first);
        }
        from = std::max(from, g->second);
    }
    if (from < to) {
        pieces.emplace_back(from, to);
    }
    return pieces;
}

void state_svg(std::string& out, Page& p, const StateLine& line, int top,
               std::map<std::string, const char*>& legend) {
    text_svg(out, 0, top + 10, line.label);
    int strip_top = top + kLabelHeight;
    frame_svg(out, p, strip_top, kStateHeight);
    const auto& runs = line.runs;
    int drawn_to = -1;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        std::int64_t end = i + 1 < runs.size() ? runs[i + 1].from : runs[i].last + p.m.round;
        const std::string& value = runs[i].value;
        const char* colour = legend[value] = state_colour(p.colours, value);
        // Runs within a pixel already drawn add nothing but bytes, unless they are trouble.
        bool trouble = std::string_view(colour) == kTrouble;
        for (const auto& [a, b] : outside_gaps(p.m, runs[i].from, std::min(end, p.axis.t1))) {
            int x0 = p.axis.x(a), right = std::max(p.axis.x(b), x0 + 1);
            if (right <= drawn_to && !trouble) {
                continue;
            }
            drawn_to = std::max(drawn_to, right);
            out += "<rect" + attr("x", x0) + attr("y", strip_top) + attr("width", right - x0) +
                   attr("height", kStateHeight) + " fill=\"" + colour + "\"><title>" +
                   html_escape(value) + "</title></rect>";
        }
    }
}

void time_axis_svg(std::string& out, const Axis& axis, int top) {
    std::int64_t span = axis.t1 - axis.t0;
    std::int64_t step = 60;
    for (std::int64_t s : {300, 900, 1800, 3600, 7200, 21600, 43200, 86400, 172800, 604800}) {
        if (span / step > 8) {
            step = s;
        }
    }
    out += "<line class=\"tick\"" + attr("x1", kLabelWidth) + attr("x2", kLabelWidth + kPlotWidth) +
           attr("y1", top) + attr("y2", top) + "/>";
    for (std::int64_t t = (axis.t0 + step - 1) / step * step; t <= axis.t1; t += step) {
        int x = axis.x(t);
        std::string text = csv_time_text(t);
        text = step >= 86400 ? text.substr(0, 10) : text.substr(5, 11);
        out += "<line class=\"tick\"" + attr("x1", x) + attr("x2", x) + attr("y1", top) +
               attr("y2", top + 4) + "/><text" + attr("x", x) + attr("y", top + 15) +
               " text-anchor=\"middle\">" + text + "</text>";
    }
}

bool chart_moved(const Chart& c) {
    return std::any_of(c.lines.begin(), c.lines.end(), line_moved) ||
           std::any_of(c.states.begin(), c.states.end(), state_moved);
}

void legend_html(std::string& out, const std::map<std::string, const char*>& legend) {
    if (legend.empty()) {
        return;
    }
    out += "<div>";
    for (const auto& [value, colour] : legend) {
        out += "<span style=\"color:" + std::string(colour) + "\">&#9632;</span> " +
               html_escape(value.empty() ? "(empty)" : value) + " &nbsp; ";
    }
    out += "</div>";
}

void chart_html(std::string& out, Page& p, const Chart& c) {
    std::string body;
    std::map<std::string, const char*> legend;
    int top = 0;
    for (const StateLine& s : c.states) {
        if (state_moved(s)) {
            state_svg(body, p, s, top, legend);
            top += kStateRow;
        }
    }
    for (const NumericLine& line : c.lines) {
        if (line_moved(line)) {
            numeric_svg(body, p, line, top);
            top += kNumericRow;
        }
    }
    time_axis_svg(body, p.axis, top + 4);
    int width = kLabelWidth + kPlotWidth + kRightMargin, height = top + 24;
    out += "<figure class=\"chart\" data-series=\"" + html_escape(c.path) + "\"><figcaption>" +
           html_escape(c.path) + "</figcaption><svg xmlns=\"http://www.w3.org/2000/svg\"" +
           attr("width", width) + attr("height", height) + " viewBox=\"0 0 " +
           std::to_string(width) + " " + std::to_string(height) + "\">" + body + "</svg>";
    legend_html(out, legend);
    out += "</figure>\n";
}

// "Fan_0: Fan status" where the column's name does not say which file it is.
std::string unchanged_name(const Chart& c, const std::string& label) {
    std::string base = chart_base_of(c.path);
    std::string stem = base.substr(0, base.rfind('.'));
    auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    bool named =
        std::search(label.begin(), label.end(), stem.begin(), stem.end(), same) != label.end();
    return named ? label : stem + ": " + label;
}

// Series that never changed, folded into one table per folder so that the charts are what moved.
void unchanged_html(std::string& out, const std::vector<const Chart*>& charts) {
    std::string rows;
    for (const Chart* c : charts) {
        for (const StateLine& s : c->states) {
            if (!state_moved(s)) {
                rows += "<tr><td>" + html_escape(unchanged_name(*c, s.label)) + "</td><td>= " +
                        html_escape(s.runs.empty() ? "no values" : s.runs[0].value) + "</td></tr>";
            }
        }
        for (const NumericLine& l : c->lines) {
            if (!line_moved(l)) {
                std::string value =
                    l.values > 0 ? units_text(l.lo, units_of(l.label)) : "no values";
                rows += "<tr><td>" + html_escape(unchanged_name(*c, l.label)) +
                        "</td><td>= " + html_escape(value) + "</td></tr>";
            }
        }
    }
    if (!rows.empty()) {
        out += "<table class=\"unchanged\"><caption>unchanged</caption>" + rows + "</table>\n";
    }
}

void folder_html(std::string& out, Page& p, const std::vector<const Chart*>& charts) {
    out += "<h2>" + html_escape(charts.front()->folder) + "</h2>\n";
    for (const Chart* c : charts) {
        if (chart_moved(*c)) {
            chart_html(out, p, *c);
        }
    }
    unchanged_html(out, charts);
}

void head_html(std::string& out, const SessionModel& m) {
    out += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Session " +
           html_escape(m.name) + "</title><style>" + kStyle + "</style></head><body>\n";
    out += "<h1>Session " + html_escape(m.name) + "</h1>\n<dl class=\"facts\">";
    for (const auto& [field, value] : m.facts) {
        out += "<dt>" + html_escape(field) + "</dt><dd>" + html_escape(value) + "</dd>";
    }
    if (m.has_time) {
        out +=
            "<dt>Rows from</dt><dd>" + csv_time_text(m.t0) + " to " + csv_time_text(m.t1) + "</dd>";
    }
    if (m.round > 0) {
        out +=
            "<dt>Collected</dt><dd>every " + units_duration(m.round) + " (read from the rows)</dd>";
    }
    out += "</dl>\n";
}

void findings_html(std::string& out, const SessionModel& m) {
    out += "<h2>What stands out</h2>\n<ul class=\"findings\">";
    for (const Finding& f : m.findings) {
        out += "<li>" +
               (f.t >= 0 ? "<span class=\"when\">" + csv_time_text(f.t) + "</span> " : "") +
               html_escape(f.text) + "</li>";
    }
    out += "</ul>\n";
    if (!m.problems.empty()) {
        out += "<h2>Could not be read</h2>\n<ul class=\"problems\">";
        for (const std::string& p : m.problems) {
            out += "<li>" + html_escape(p) + "</li>";
        }
        out += "</ul>\n";
    }
}

void snapshots_html(std::string& out, const SessionModel& m) {
    if (m.snapshots.empty()) {
        return;
    }
    out += "<h2>Snapshots</h2>\n";
    for (const SnapshotList& s : m.snapshots) {
        out += "<details class=\"snapshots\"><summary>" + html_escape(s.kind) + ": " +
               std::to_string(s.items.size()) + "</summary><ul>";
        for (const Snapshot& item : s.items) {
            if (item.text.empty()) {
                out += "<li>" + html_escape(item.name) + "</li>";
                continue;
            }
            out += "<li><details><summary>" + html_escape(item.name) + "</summary><pre>" +
                   html_escape(item.text) + (item.cut ? "\n(cut off here)" : "") +
                   "</pre></details></li>";
        }
        out += "</ul></details>\n";
    }
}

}  // namespace

std::string report_html_render(const SessionModel& m) {
    std::string out;
    head_html(out, m);
    findings_html(out, m);
    snapshots_html(out, m);
    // A session of a single instant still gets a readable axis.
    std::int64_t pad = m.t1 - m.t0 < 120 ? 60 : 0;
    Page page{m, {m.t0 - pad, m.t1 + pad}, {}};
    for (std::size_t i = 0; i < m.charts.size();) {
        std::vector<const Chart*> folder;
        for (; i < m.charts.size() &&
               (folder.empty() || m.charts[i].folder == folder.front()->folder);
             ++i) {
            folder.push_back(&m.charts[i]);
        }
        folder_html(out, page, folder);
    }
    out += "</body></html>\n";
    return out;
}
