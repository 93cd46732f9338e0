#include "report/session_model.hpp"

#include <algorithm>
#include <cctype>

#include "report/chart.hpp"
#include "report/csv.hpp"
#include "report/findings.hpp"

namespace {

// The order in which a collection run writes its folders; snapshot folders come last.
const char* const kFolderOrder[] = {
    "monitoring_load",    "monitoring_vmstatus",  "monitoring_topstatus", "monitoring_kernel",
    "monitoring_meminfo", "monitoring_plix",      "monitoring_network",   "monitoring_environment",
    "monitoring_self",    "monitoring_streams",   "monitoring_radar",     "monitoring_basic",
    "monitoring_onvif",   "monitoring_interrupts"};

// Snapshot kinds by folder, in page order; radar files that are no table join them.
const char* const kSnapshotKinds[][2] = {{"Server_Reports", "Server reports"},
                                         {"monitoring_onvif", "Media configuration"},
                                         {"monitoring_interrupts", "Interrupt tables"},
                                         {"monitoring_radar", "Radar diagnostics"},
                                         {"", "Other files"}};

// Text snapshots beyond this are cut on the page; a server report is far smaller.
constexpr std::size_t kMaxSnapshotText = 256 << 10;

std::size_t folder_rank(const std::string& folder) {
    std::size_t n = std::size(kFolderOrder);
    for (std::size_t i = 0; i < n; ++i) {
        if (folder == kFolderOrder[i]) {
            return i;
        }
    }
    return n;
}

std::string lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

bool is_csv(const std::string& path) {
    std::string base = lower(chart_base_of(path));
    return base.size() > 4 && base.compare(base.size() - 4, 4, ".csv") == 0;
}

// Server reports and interrupt tables are text worth reading on the page.
bool is_text_snapshot(const std::string& folder) {
    return folder == "Server_Reports" || folder == "monitoring_interrupts";
}

const char* snapshot_kind(const std::string& folder) {
    for (const auto& kind : kSnapshotKinds) {
        if (folder == kind[0]) {
            return kind[1];
        }
    }
    return "Other files";
}

// A kind keeps the text of its first and its last snapshot (by name, which is by time).
void snapshot_add(SessionBuilder& b, const std::string& kind, const std::string& name,
                  std::string& contents) {
    std::vector<Snapshot>& list = b.snapshots[kind];
    Snapshot s{name, {}, contents.size() > kMaxSnapshotText};
    if (!contents.empty()) {
        contents.resize(std::min(contents.size(), kMaxSnapshotText));
        contents.shrink_to_fit();
        s.text = std::move(contents);
    }
    if (list.size() >= 2) {
        list.back().text = std::string();
    }
    list.push_back(std::move(s));
}

void table_add(SessionBuilder& b, const std::string& path, std::string& contents) {
    std::string folder = chart_folder_of(path);
    ChartResult r = chart_from_csv(path, contents, b.m.problems);
    contents.clear();
    contents.shrink_to_fit();
    if (!r.error.empty() && folder == "monitoring_radar") {
        snapshot_add(b, "Radar diagnostics", chart_base_of(path), contents);
        return;
    }
    if (!r.error.empty()) {
        b.m.problems.push_back(path + ": " + r.error);
        return;
    }
    b.m.has_session = true;
    b.m.charts.push_back(std::move(r.chart));
    // The rhythm of collection: the seconds between a file's neighbouring rows.
    for (std::size_t i = 1; i < r.times.size(); ++i) {
        if (r.times[i] > r.times[i - 1]) {
            ++b.intervals[r.times[i] - r.times[i - 1]];
        }
    }
    std::sort(r.times.begin(), r.times.end());
    std::vector<std::int64_t> merged;
    merged.reserve(b.times.size() + r.times.size());
    std::merge(b.times.begin(), b.times.end(), r.times.begin(), r.times.end(),
               std::back_inserter(merged));
    merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
    b.times = std::move(merged);
}

// The middle of all intervals between rows: pauses are too rare to move it.
std::int64_t rhythm_of(const std::map<std::int64_t, std::size_t>& intervals) {
    std::size_t total = 0, seen = 0;
    for (const auto& [dt, n] : intervals) {
        total += n;
    }
    for (const auto& [dt, n] : intervals) {
        seen += n;
        if (seen * 2 >= total) {
            return dt;
        }
    }
    return 0;
}

void time_axis_settle(SessionBuilder& b) {
    SessionModel& m = b.m;
    if (b.times.empty()) {
        return;
    }
    m.has_time = true;
    m.t0 = b.times.front();
    m.t1 = b.times.back();
    m.round = rhythm_of(b.intervals);
    // Without two rows in a file nothing tells the rhythm, so nothing is a pause.
    m.max_gap = m.round > 0 ? m.round * 3 / 2 : m.t1 - m.t0 + 1;
    for (std::size_t i = 1; i < b.times.size(); ++i) {
        if (b.times[i] - b.times[i - 1] > m.max_gap) {
            m.gaps.emplace_back(b.times[i - 1], b.times[i]);
        }
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

bool session_model_wants(const std::string& path) {
    return is_csv(path) || path == "Session_Information.txt" || path == ".signature" ||
           is_text_snapshot(chart_folder_of(path));
}

void session_model_add(SessionBuilder& b, const std::string& path, std::string& contents) {
    std::string folder = chart_folder_of(path);
    std::string kind = snapshot_kind(folder);
    bool other = kind == "Other files";
    if (path == "Session_Information.txt") {
        b.m.facts = session_model_facts(contents);
        b.m.has_session = true;
    } else if (path == ".signature") {
        b.signature = std::move(contents);
        b.m.has_session = true;
    } else if (is_csv(path) && (other || folder == "monitoring_radar")) {
        table_add(b, path, contents);
    } else {
        // Files of no known kind alone do not make a session.
        b.m.has_session = b.m.has_session || !other;
        snapshot_add(b, kind, other ? path : chart_base_of(path), contents);
    }
}

SessionModel session_model_finish(SessionBuilder& b) {
    SessionModel& m = b.m;
    if (m.facts.empty() && m.has_session) {
        m.problems.push_back("Session_Information.txt: missing, so the session facts are unknown");
    }
    std::stable_sort(m.charts.begin(), m.charts.end(), [](const Chart& x, const Chart& y) {
        return std::make_pair(folder_rank(x.folder), x.folder) <
               std::make_pair(folder_rank(y.folder), y.folder);
    });
    for (const auto& kind : kSnapshotKinds) {
        if (auto it = b.snapshots.find(kind[1]); it != b.snapshots.end()) {
            m.snapshots.push_back({kind[1], std::move(it->second)});
        }
    }
    time_axis_settle(b);
    findings_add(m, b.signature);
    return std::move(m);
}
