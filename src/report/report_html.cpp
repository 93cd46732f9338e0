#include "report/report_html.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <string_view>

#include "report/csv.hpp"

namespace {

constexpr int kPlotWidth = 800;  // pixel columns of every chart, on one shared time axis
constexpr int kLabelWidth = 170;
constexpr int kStripHeight = 40;
constexpr int kStripGap = 18;
constexpr int kStateHeight = 14;
constexpr int kFlatHeight = 14;

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

std::string esc(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string num(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
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

void gaps_svg(std::string& out, const SessionModel& m, const Axis& axis, int top, int height) {
    for (const auto& [from, to] : m.gaps) {
        int x0 = axis.x(from), x1 = axis.x(to);
        out += "<rect class=\"gap\" x=\"" + std::to_string(x0) + "\" y=\"" + std::to_string(top) +
               "\" width=\"" + std::to_string(std::max(1, x1 - x0)) + "\" height=\"" +
               std::to_string(height) + "\"/>";
    }
}

// Height of a numeric strip: a series that never changes needs no room for a curve.
int strip_height(const NumericLine& line) {
    bool seen = false;
    double v0 = 0;
    for (const Point& p : line.points) {
        if (!std::isnan(p.v)) {
            if (seen && p.v != v0) {
                return kStripHeight + kStripGap;
            }
            seen = true;
            v0 = p.v;
        }
    }
    return kFlatHeight + 6;
}

void numeric_svg(std::string& out, const SessionModel& m, const NumericLine& line, const Axis& axis,
                 int top) {
    double lo = INFINITY, hi = -INFINITY;
    for (const Point& p : line.points) {
        if (!std::isnan(p.v)) {
            lo = std::min(lo, p.v);
            hi = std::max(hi, p.v);
        }
    }
    bool flat = strip_height(line) != kStripHeight + kStripGap;
    int plot_top = flat ? top : top + 13;
    int height = flat ? kFlatHeight : kStripHeight;
    out += "<text x=\"0\" y=\"" + std::to_string(top + 10) + "\">" + esc(line.label) + "</text>";
    out += "<rect class=\"frame\" x=\"" + std::to_string(kLabelWidth) + "\" y=\"" +
           std::to_string(plot_top) + "\" width=\"" + std::to_string(kPlotWidth) + "\" height=\"" +
           std::to_string(height) + "\"/>";
    gaps_svg(out, m, axis, plot_top, height);
    if (std::isinf(lo)) {
        out += "<text x=\"" + std::to_string(kLabelWidth + 4) + "\" y=\"" +
               std::to_string(plot_top + 10) + "\">no values</text>";
        return;
    }
    if (flat) {
        out += "<text x=\"" + std::to_string(kLabelWidth + kPlotWidth + 4) + "\" y=\"" +
               std::to_string(top + 10) + "\">" + num(lo) + "</text>";
    } else {
        out += "<text x=\"0\" y=\"" + std::to_string(plot_top + 12) + "\">max " + num(hi) +
               "</text><text x=\"0\" y=\"" + std::to_string(plot_top + kStripHeight - 2) +
               "\">min " + num(lo) + "</text>";
    }
    double span = hi > lo ? hi - lo : 1;
    double base = hi > lo ? lo : lo - 0.5;
    auto y = [&](double v) { return plot_top + height - 2 - (v - base) / span * (height - 4); };
    std::vector<Column> cols =
        downsample_minmax(line.points, axis.t0, axis.t1, kPlotWidth, kMaxGap);
    std::string d;
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        int x = kLabelWidth + c.x;
        d += c.starts_run ? 'M' : 'L';
        d += std::to_string(x);
        d += ' ';
        d += px(y(c.first));
        if (c.min != c.max) {
            for (double v : {c.min, c.max, c.last}) {
                d += 'V';
                d += px(y(v));
            }
        }
        // A lone sample still gets a visible mark.
        if (c.starts_run && c.min == c.max && (i + 1 == cols.size() || cols[i + 1].starts_run)) {
            d += "h1";
        }
    }
    out += "<path class=\"line\" d=\"" + d + "\"/>";
}

void state_svg(std::string& out, const SessionModel& m, const StateLine& line, const Axis& axis,
               int top, std::map<std::string, const char*>& colours,
               std::map<std::string, const char*>& page) {
    out += "<text x=\"0\" y=\"" + std::to_string(top + 11) + "\">" + esc(line.label) + "</text>";
    out += "<rect class=\"frame\" x=\"" + std::to_string(kLabelWidth) + "\" y=\"" +
           std::to_string(top) + "\" width=\"" + std::to_string(kPlotWidth) + "\" height=\"" +
           std::to_string(kStateHeight) + "\"/>";
    gaps_svg(out, m, axis, top, kStateHeight);
    const auto& s = line.samples;
    int drawn_to = -1;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t j = i + 1;
        // A run lasts while the value stays and no collection pause breaks it.
        while (j < s.size() && s[j].second == s[i].second &&
               s[j].first - s[j - 1].first <= kMaxGap) {
            ++j;
        }
        std::int64_t end = j < s.size() && s[j].first - s[j - 1].first <= kMaxGap
                               ? s[j].first
                               : s[j - 1].first + 120;
        if (!colours.count(s[i].second)) {
            colours[s[i].second] = state_colour(page, s[i].second);
        }
        int x0 = axis.x(s[i].first), x1 = axis.x(std::min(end, axis.t1));
        // Runs within a pixel already drawn add nothing but bytes, unless they are trouble.
        bool trouble = std::string_view(colours[s[i].second]) == kTrouble;
        int right = std::max(x1, x0 + 1);
        if (right <= drawn_to && !trouble) {
            i = j;
            continue;
        }
        drawn_to = std::max(drawn_to, right);
        out += "<rect x=\"" + std::to_string(x0) + "\" y=\"" + std::to_string(top) + "\" width=\"" +
               std::to_string(std::max(1, x1 - x0)) + "\" height=\"" +
               std::to_string(kStateHeight) + "\" fill=\"" + colours[s[i].second] + "\"><title>" +
               esc(s[i].second) + "</title></rect>";
        i = j;
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
    out += "<line class=\"tick\" x1=\"" + std::to_string(kLabelWidth) + "\" x2=\"" +
           std::to_string(kLabelWidth + kPlotWidth) + "\" y1=\"" + std::to_string(top) +
           "\" y2=\"" + std::to_string(top) + "\"/>";
    for (std::int64_t t = (axis.t0 + step - 1) / step * step; t <= axis.t1; t += step) {
        int x = axis.x(t);
        std::string text = csv_time_text(t);
        text = step >= 86400 ? text.substr(0, 10) : text.substr(5, 11);
        out += "<line class=\"tick\" x1=\"" + std::to_string(x) + "\" x2=\"" + std::to_string(x) +
               "\" y1=\"" + std::to_string(top) + "\" y2=\"" + std::to_string(top + 4) +
               "\"/><text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(top + 15) +
               "\" text-anchor=\"middle\">" + text + "</text>";
    }
}

void chart_html(std::string& out, const SessionModel& m, const Chart& c, const Axis& axis,
                std::map<std::string, const char*>& page) {
    int height = static_cast<int>(c.states.size()) * (kStateHeight + 6) + 30;
    for (const NumericLine& line : c.lines) {
        height += strip_height(line);
    }
    std::map<std::string, const char*> colours;
    std::string body;
    int top = 0;
    for (const StateLine& s : c.states) {
        state_svg(body, m, s, axis, top, colours, page);
        top += kStateHeight + 6;
    }
    for (const NumericLine& line : c.lines) {
        numeric_svg(body, m, line, axis, top);
        top += strip_height(line);
    }
    time_axis_svg(body, axis, top + 4);
    out += "<figure class=\"chart\" data-series=\"" + esc(c.path) + "\"><figcaption>" +
           esc(c.path) + "</figcaption><svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           std::to_string(kLabelWidth + kPlotWidth + 60) + "\" height=\"" + std::to_string(height) +
           "\" viewBox=\"0 0 " + std::to_string(kLabelWidth + kPlotWidth + 60) + " " +
           std::to_string(height) + "\">" + body + "</svg>";
    if (!colours.empty()) {
        out += "<div>";
        for (const auto& [value, colour] : colours) {
            out += "<span style=\"color:" + std::string(colour) + "\">&#9632;</span> " +
                   esc(value.empty() ? "(empty)" : value) + " &nbsp; ";
        }
        out += "</div>";
    }
    out += "</figure>\n";
}

}  // namespace

std::string report_html_render(const SessionModel& m) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Session " +
        esc(m.name) + "</title><style>" + kStyle + "</style></head><body>\n";
    out += "<h1>Session " + esc(m.name) + "</h1>\n<dl class=\"facts\">";
    for (const auto& [field, value] : m.facts) {
        out += "<dt>" + esc(field) + "</dt><dd>" + esc(value) + "</dd>";
    }
    if (m.has_time) {
        out +=
            "<dt>Rows from</dt><dd>" + csv_time_text(m.t0) + " to " + csv_time_text(m.t1) + "</dd>";
    }
    out += "</dl>\n<h2>What stands out</h2>\n<ul class=\"findings\">";
    for (const Finding& f : m.findings) {
        out += "<li>" +
               (f.t >= 0 ? "<span class=\"when\">" + csv_time_text(f.t) + "</span> " : "") +
               esc(f.text) + "</li>";
    }
    out += "</ul>\n";
    if (!m.problems.empty()) {
        out += "<h2>Could not be read</h2>\n<ul class=\"problems\">";
        for (const std::string& p : m.problems) {
            out += "<li>" + esc(p) + "</li>";
        }
        out += "</ul>\n";
    }
    if (!m.snapshots.empty()) {
        out += "<h2>Snapshots</h2>\n";
        for (const SnapshotList& s : m.snapshots) {
            out += "<details class=\"snapshots\"><summary>" + esc(s.kind) + ": " +
                   std::to_string(s.names.size()) + "</summary><ul>";
            for (const std::string& name : s.names) {
                out += "<li>" + esc(name) + "</li>";
            }
            out += "</ul></details>\n";
        }
    }
    // A session of a single instant still gets a readable axis.
    Axis axis{m.t0 - (m.t1 - m.t0 < 120 ? 60 : 0), m.t1 + (m.t1 - m.t0 < 120 ? 60 : 0)};
    std::string folder = "\x01";
    std::map<std::string, const char*> page;
    for (const Chart& c : m.charts) {
        if (c.folder != folder) {
            folder = c.folder;
            out += "<h2>" + esc(folder) + "</h2>\n";
        }
        chart_html(out, m, c, axis, page);
    }
    out += "</body></html>\n";
    return out;
}
