#include "web/cgi_request.hpp"

#include <algorithm>
#include <cctype>

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool is_control(char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

bool has_control(std::string_view text) {
    return std::any_of(text.begin(), text.end(), is_control);
}

// The raw path of REQUEST_URI, before its query; a client may send the absolute form.
std::string_view uri_path(std::string_view uri) {
    uri = uri.substr(0, uri.find('?'));
    size_t scheme = uri.find("://");
    if (scheme != std::string_view::npos && scheme < uri.find('/')) {
        uri.remove_prefix(std::min(uri.find('/', scheme + 3), uri.size()));
    }
    return uri;
}

bool contains_ci(std::string_view text, std::string_view part) {
    auto it = std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
    return it != text.end();
}

// A path a route may be matched against: one slash between segments, no dot segments, nothing
// the server should have decoded already, and no sign that the client hid a slash in a name.
std::string path_problem(const CgiRequest& request) {
    std::string_view path = request.path;
    if (path.size() > kCgiMaxPath) {
        return "Path too long.";
    }
    if (!path.empty() && path.front() != '/') {
        return "Path must begin with a slash.";
    }
    if (path.find("//") != std::string_view::npos) {
        return "Empty path segment.";
    }
    if (path.find("/.") != std::string_view::npos || path.find("..") != std::string_view::npos) {
        return "Dot segment in path.";
    }
    if (has_control(path) || path.find_first_of("%\\") != std::string_view::npos) {
        return "Invalid character in path.";
    }
    std::string_view raw = uri_path(request.uri);
    if (contains_ci(raw, "%2f") || contains_ci(raw, "%5c") || contains_ci(raw, "%00") ||
        raw.find("//") != std::string_view::npos) {
        return "Encoded slash or empty segment in the address.";
    }
    return "";
}

// The page's own address goes into links and a Location header: plain path characters only.
bool script_name_plain(std::string_view name) {
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("/_.~-").find(c) != std::string_view::npos;
    });
}

std::string body_problem(const CgiRequest& request) {
    const std::string& given = request.content_length;
    if (given.empty()) {
        return request.body.empty() ? "" : "Body without Content-Length.";
    }
    if (given.size() > 9 || !std::all_of(given.begin(), given.end(), ::isdigit)) {
        return given.size() > 9 ? "Body too large." : "Invalid Content-Length.";
    }
    size_t declared = std::stoul(given);
    if (declared > kCgiMaxBody || request.body.size() > kCgiMaxBody) {
        return "Body too large.";
    }
    if (request.body.size() < declared) {
        return "Body shorter than its Content-Length.";
    }
    return "";
}

}  // namespace

std::optional<std::string> cgi_decode(std::string_view text, bool plus_is_space) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            int hi = i + 2 < text.size() ? hex_value(text[i + 1]) : -1;
            int lo = hi >= 0 ? hex_value(text[i + 2]) : -1;
            if (lo < 0) {
                return std::nullopt;
            }
            c = static_cast<char>(hi * 16 + lo);
            i += 2;
        } else if (c == '+' && plus_is_space) {
            c = ' ';
        }
        if (is_control(c)) {
            return std::nullopt;
        }
        out += c;
    }
    return out;
}

std::optional<CgiFields> cgi_parse_fields(std::string_view text, std::string& why) {
    CgiFields fields;
    while (!text.empty()) {
        size_t end = std::min(text.find('&'), text.size());
        std::string_view pair = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (pair.empty()) {
            continue;
        }
        size_t eq = pair.find('=');
        auto name = cgi_decode(pair.substr(0, eq), true);
        auto value = cgi_decode(eq == std::string_view::npos ? "" : pair.substr(eq + 1), true);
        if (!name || !value || name->empty()) {
            why = "Invalid encoding in a field.";
            return std::nullopt;
        }
        if (value->size() > kCgiMaxValue || fields.size() >= kCgiMaxFields) {
            why = "Too many fields or too long a value.";
            return std::nullopt;
        }
        if (!fields.emplace(std::move(*name), std::move(*value)).second) {
            why = "A field given twice.";
            return std::nullopt;
        }
    }
    return fields;
}

std::string cgi_request_problem(const CgiRequest& request) {
    if (request.query.size() > kCgiMaxQuery) {
        return "Query too long.";
    }
    if (!script_name_plain(request.script_name)) {
        return "Unexpected script name.";
    }
    std::string problem = path_problem(request);
    return problem.empty() ? body_problem(request) : problem;
}

std::optional<std::string_view> cgi_field(const CgiFields& fields, std::string_view name) {
    auto it = fields.find(name);
    if (it == fields.end()) {
        return std::nullopt;
    }
    return std::string_view(it->second);
}
