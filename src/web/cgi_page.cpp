#include "web/cgi_page.hpp"

#include <algorithm>

#include "lib/fileutil.hpp"

namespace {

constexpr std::string_view kStyle = R"(
body{font:15px/1.4 system-ui,sans-serif;margin:0;background:#f4f5f7;color:#222}
header{background:#1f3a5f;color:#fff;padding:.8em 1.5em}
header h1{font-size:1.2em;margin:0}
main{max-width:56em;margin:1em auto;padding:0 1em}
section{background:#fff;border:1px solid #dde;border-radius:6px;padding:1em 1.2em;margin:0 0 1em}
h2{font-size:1.05em;margin:0 0 .6em}
dl{display:grid;grid-template-columns:max-content auto;gap:.2em 1.2em;margin:0 0 .8em}
dt{color:#667}dd{margin:0}
table{border-collapse:collapse;width:100%}
th,td{text-align:left;padding:.35em .5em;border-bottom:1px solid #eef}
th{color:#667;font-weight:normal}
form{display:inline;margin:0}
button{font:inherit;padding:.25em .9em;border-radius:4px;border:1px solid #1f3a5f;
background:#1f3a5f;color:#fff;cursor:pointer}
button.delete{background:#fff;color:#a33;border-color:#a33}
select{font:inherit;padding:.2em}
.refusal{background:#fde8e8;border-color:#e3a1a1;color:#822}
.packing{color:#a60}
.muted{color:#889}
input{font:inherit;padding:.2em;width:18em}
#netchecks form{display:block;margin:0 0 .4em}
#netchecks label{display:inline-block;min-width:9em}
iframe{width:100%;height:14em;border:1px solid #dde;margin-top:.6em;background:#fafafa}
)";

std::string tag(std::string_view name, std::string_view attrs, std::string_view html) {
    std::string out = "<" + std::string(name);
    if (!attrs.empty()) {
        out += " " + std::string(attrs);
    }
    return out + ">" + std::string(html) + "</" + std::string(name) + ">";
}

std::string token_field(const CgiPage& page) {
    return "<input type=\"hidden\" name=\"token\" value=\"" + html_escape(page.token) + "\">";
}

std::string post_form(const CgiPage& page, std::string_view attrs, std::string_view action,
                      std::string_view inner) {
    return "<form " + std::string(attrs) + " method=\"post\" action=\"" +
           html_escape(page.base + std::string(action)) + "\">" + token_field(page) +
           std::string(inner) + "</form>";
}

std::string fact(std::string_view id, std::string_view label, std::string_view value) {
    return tag("dt", "", label) + tag("dd", "id=\"" + std::string(id) + "\"", html_escape(value)) +
           "\n";
}

std::string storage_text(const std::string& storage) {
    return storage == kInternalStorage ? "internal storage" : storage;
}

std::string session_now(const CgiPage& page) {
    const SessionStatus& s = page.status;
    std::string html;
    if (!s.problem.empty()) {
        html += tag("p", "class=\"refusal\"", html_escape(s.problem));
    }
    if (!s.active) {
        return html + tag("p", "class=\"muted\"", "No session is running.");
    }
    html += "<dl>\n" + fact("session-name", "Session", s.name) +
            fact("session-storage", "Storage", storage_text(s.storage)) +
            fact("session-start", "Started", s.start_time) +
            fact("session-duration", "Duration", s.duration) +
            fact("session-points", "Data points", std::to_string(s.data_points)) +
            fact("session-size", "Size", suffix_bytes(static_cast<long long>(s.bytes))) +
            fact("session-use", "Storage use",
                 s.use_percent ? std::to_string(*s.use_percent) + " %" : "unknown") +
            "</dl>";
    return html + post_form(page, "id=\"stop-form\"", "/session/stop",
                            "<button id=\"stop\" type=\"submit\">Stop session</button>");
}

// Why the daemon would not collect on `storage`; empty when it would.
std::string storage_problem(const StorageInfo& storage) {
    if (storage.status.value_or("") != "OK") {
        return "status " + storage.status.value_or("unknown");
    }
    return !storage.available  ? "not available"
           : storage.read_only ? "read-only"
           : storage.full      ? "full"
                               : "";
}

std::string storage_option(const StorageInfo& storage) {
    std::string id = storage.disk_id.value_or("");
    std::string label = storage.friendly_name.value_or(id) + " (" + id + ")";
    std::string problem = storage_problem(storage);
    std::string attrs = "value=\"" + html_escape(id) + "\"";
    if (!problem.empty()) {
        label += ": " + problem;
        attrs += " disabled";
    }
    return "<option " + attrs + ">" + html_escape(label) + "</option>\n";
}

std::string start_form(const CgiPage& page) {
    std::string options;
    for (const StorageInfo& storage : page.storages.value_or(StorageList{})) {
        if (storage.disk_id && !storage.disk_id->empty()) {
            options += storage_option(storage);
        }
    }
    options += "<option value=\"internal\">Internal storage</option>";
    return post_form(page, "id=\"start-form\"", "/session/start",
                     "<label for=\"storage\">Storage </label><select id=\"storage\" "
                     "name=\"storage\">\n" +
                         options +
                         "</select> <button id=\"start\" type=\"submit\">Start session</button>");
}

std::string session_actions(const CgiPage& page, const SessionEntry& entry) {
    std::string html;
    if (entry.zip_bytes) {
        std::string href =
            page.base + "/sessions/" + entry.name + ".zip?storage=" + url_encode(entry.storage);
        html +=
            "<a class=\"zip\" href=\"" + html_escape(href) + "\">" +
            html_escape(entry.name + ".zip") + "</a> " +
            tag("span", "class=\"muted\"", suffix_bytes(static_cast<long long>(*entry.zip_bytes))) +
            " ";
    }
    if (entry.packing) {
        return html + tag("span", "class=\"packing\"", "packing…");
    }
    if (entry.active) {
        return html + tag("span", "class=\"muted\"", "running");
    }
    std::string inner = "<input type=\"hidden\" name=\"storage\" value=\"" +
                        html_escape(entry.storage) + "\">" +
                        "<button class=\"delete\" type=\"submit\">Delete</button>";
    return html + post_form(page, "class=\"delete\"", "/sessions/" + entry.name + "/delete", inner);
}

std::string session_row(const CgiPage& page, const SessionEntry& entry) {
    std::string attrs = "class=\"session\" data-name=\"" + html_escape(entry.name) +
                        "\" data-storage=\"" + html_escape(entry.storage) + "\"";
    return tag("tr", attrs,
               tag("td", "", html_escape(entry.name)) +
                   tag("td", "", html_escape(storage_text(entry.storage))) +
                   tag("td", "", suffix_bytes(static_cast<long long>(entry.bytes))) +
                   tag("td", "", session_actions(page, entry))) +
           "\n";
}

std::string session_list(const CgiPage& page) {
    if (!page.sessions) {
        return "<a id=\"show-sessions\" href=\"" + html_escape(page.base + "?list=1") +
               "\">Show the sessions</a>";
    }
    if (page.sessions->empty()) {
        return tag("p", "class=\"muted\"", "No sessions yet.");
    }
    std::string rows = "\n<tr><th>Session</th><th>Storage</th><th>Size</th><th></th></tr>\n";
    for (const SessionEntry& entry : *page.sessions) {
        rows += session_row(page, entry);
    }
    return tag("table", "id=\"sessions\"", rows);
}

std::string netchecks(const CgiPage& page) {
    std::string ping = html_escape(page.base + "/ping");
    std::string trace = html_escape(page.base + "/traceroute");
    return "<form id=\"ping-form\" method=\"get\" action=\"" + ping +
           "\" target=\"diag-output\"><label for=\"ping-address\">Address </label><input "
           "id=\"ping-address\" name=\"address\" required maxlength=\"255\"> <button "
           "id=\"ping\" type=\"submit\">Ping</button> <button id=\"traceroute\" "
           "type=\"submit\" formaction=\"" +
           trace + "\">Traceroute</button></form>\n<form id=\"dns-form\" method=\"get\" action=\"" +
           html_escape(page.base + "/dns") +
           "\" target=\"diag-output\"><label for=\"dns-name\">Name or address </label><input "
           "id=\"dns-name\" name=\"name\" required maxlength=\"255\"> <button id=\"dns\" "
           "type=\"submit\">Look up</button></form>\n<iframe id=\"diag-output\" "
           "name=\"diag-output\" title=\"Answer of the check\"></iframe>";
}

// The capture's state: its data-state value and the words for it.
std::pair<std::string, std::string> capture_state(const CaptureStatus& c) {
    std::string size =
        c.bytes < 0 ? "" : suffix_bytes(c.bytes) + " of " + suffix_bytes(kCaptureMaxBytes);
    if (c.link) {
        return {"refused",
                "The capture file or its temporary is a symbolic link: the capture "
                "refuses to start or send it until it is removed."};
    }
    if (c.running) {
        return {"running", "Running (process " + std::to_string(c.pid) + "), " + size + "."};
    }
    if (c.full) {
        return {"full", "Stopped by itself at its size limit (" + size +
                            "). Download it, then start a new one."};
    }
    if (c.bytes >= 0) {
        return {"stopped", "Stopped, " + size + "."};
    }
    return {"none", "No capture yet."};
}

std::string capture_button(const CgiPage& page, const char* what, const char* label) {
    std::string id = std::string("capture-") + what;
    return post_form(page, "id=\"" + id + "-form\"", std::string("/syslog/") + what,
                     "<button id=\"" + id + "\" type=\"submit\">" + label + "</button>") +
           " ";
}

std::string capture_section(const CgiPage& page, const CaptureStatus& c) {
    auto [state, words] = capture_state(c);
    std::string html =
        tag("h2", "", "System log capture") + tag("p", "id=\"capture-state\"", html_escape(words));
    if (c.running) {
        html += capture_button(page, "stop", "Stop capture");
    } else if (!c.link) {
        html += capture_button(page, "start", "Start a new capture");
        if (c.bytes >= 0 && !c.full) {
            html += capture_button(page, "resume", "Resume");
        }
    }
    if (c.bytes >= 0 && !c.link) {
        html += "<a id=\"capture-download\" href=\"" + html_escape(page.base + "/syslog") +
                "\">Download the capture</a>";
    }
    return tag("section", "id=\"capture\" data-state=\"" + state + "\"", html) + "\n";
}

bool refreshes(const CgiPage& page) {
    const auto& sessions = page.sessions.value_or(std::vector<SessionEntry>{});
    return page.status.active || std::any_of(sessions.begin(), sessions.end(),
                                             [](const SessionEntry& e) { return e.packing; });
}

}  // namespace

std::string url_encode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

std::string cgi_page_render(const CgiPage& page) {
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">";
    if (refreshes(page)) {
        html += "<meta http-equiv=\"refresh\" content=\"10\">";
    }
    html +=
        "<meta name=\"viewport\" content=\"width=device-width\"><title>Kelvane sessions</title>";
    html += "<style>" + std::string(kStyle) +
            "</style></head>\n<body><header><h1>Kelvane "
            "monitoring sessions</h1></header><main>\n";
    if (!page.refusal.empty()) {
        html += tag("section", "id=\"refusal\" class=\"refusal\" role=\"alert\"",
                    html_escape(page.refusal)) +
                "\n";
    }
    std::string state = page.status.active ? "active" : "idle";
    html += tag("section", "id=\"session\" data-state=\"" + state + "\"",
                tag("h2", "", "Session now") + session_now(page)) +
            "\n";
    if (!page.status.active) {
        html += tag("section", "id=\"start-section\"",
                    tag("h2", "", "Start a session") + start_form(page)) +
                "\n";
    }
    html += tag("section", "id=\"list-section\"", tag("h2", "", "Sessions") + session_list(page)) +
            "\n";
    html += tag("section", "id=\"netchecks\"", tag("h2", "", "Network checks") + netchecks(page)) +
            "\n";
    if (page.capture) {
        html += capture_section(page, *page.capture);
    }
    return html + "</main></body></html>\n";
}
