#include "web/cgi_router.hpp"

#include <optional>

namespace {

std::vector<std::string_view> segments(std::string_view path) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = std::min(path.find('/', start), path.size());
        out.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// One segment against one pattern segment: literal text, or a "{capture}" between a literal
// prefix and suffix; the capture is never empty.
bool segment_matches(std::string_view pattern, std::string_view segment, CgiFields& captures) {
    size_t open = pattern.find('{');
    if (open == std::string_view::npos) {
        return pattern == segment;
    }
    size_t close = pattern.find('}', open);
    std::string_view prefix = pattern.substr(0, open);
    std::string_view suffix = pattern.substr(close + 1);
    if (segment.size() <= prefix.size() + suffix.size() || !segment.starts_with(prefix) ||
        !segment.ends_with(suffix)) {
        return false;
    }
    std::string name(pattern.substr(open + 1, close - open - 1));
    captures[name] = segment.substr(prefix.size(), segment.size() - prefix.size() - suffix.size());
    return true;
}

std::optional<CgiFields> path_matches(std::string_view pattern, std::string_view path) {
    std::vector<std::string_view> want = segments(pattern);
    std::vector<std::string_view> got = segments(path);
    if (want.size() != got.size()) {
        return std::nullopt;
    }
    CgiFields captures;
    for (size_t i = 0; i < want.size(); ++i) {
        if (!segment_matches(want[i], got[i], captures)) {
            return std::nullopt;
        }
    }
    return captures;
}

// In constant time, so the token can't be guessed a character at a time.
bool token_equal(std::string_view given, std::string_view token) {
    if (token.empty() || given.size() != token.size()) {
        return false;
    }
    unsigned char diff = 0;
    for (size_t i = 0; i < token.size(); ++i) {
        diff |= static_cast<unsigned char>(given[i] ^ token[i]);
    }
    return diff == 0;
}

// The route's fields taken from the captures and the request's fields, each checked.
CgiReply take_fields(const CgiRoute& route, CgiFields captures, const CgiFields& given) {
    CgiReply reply;
    reply.action.route = &route;
    for (const CgiField& field : route.fields) {
        auto value = cgi_field(captures, field.name);
        if (!value) {
            value = cgi_field(given, field.name);
        }
        if (!value && !field.required) {
            continue;
        }
        if (!value || !field.valid(*value)) {
            reply.action.route = nullptr;
            reply.answer =
                cgi_refusal(400, std::string(value ? "Invalid " : "Missing ") + field.name + ".");
            return reply;
        }
        reply.action.args.emplace(field.name, *value);
    }
    return reply;
}

CgiAnswer not_allowed(const std::vector<const CgiRoute*>& matching) {
    std::string allow;
    for (const CgiRoute* route : matching) {
        allow += (allow.empty() ? "" : ", ") + std::string(route->method);
    }
    CgiAnswer answer = cgi_refusal(405, "Method not allowed.");
    answer.headers.emplace_back("Allow", allow);
    return answer;
}

CgiReply refuse(int status, std::string message) {
    return CgiReply{cgi_refusal(status, std::move(message)), {}};
}

// The fields of a GET come from the query, those of a POST from the form body alone.
std::optional<CgiFields> request_fields(const CgiRequest& request, std::string& why) {
    return cgi_parse_fields(request.method == "POST" ? request.body : request.query, why);
}

}  // namespace

CgiReply cgi_handle(const CgiRequest& request, std::string_view token,
                    const std::vector<CgiRoute>& routes) {
    if (std::string problem = cgi_request_problem(request); !problem.empty()) {
        return refuse(400, problem);
    }
    std::string_view path = request.path.empty() ? "/" : std::string_view(request.path);
    std::vector<const CgiRoute*> matching;
    std::optional<CgiFields> captures;
    const CgiRoute* route = nullptr;
    for (const CgiRoute& candidate : routes) {
        if (auto found = path_matches(candidate.pattern, path)) {
            matching.push_back(&candidate);
            if (request.method == candidate.method) {
                route = &candidate;
                captures = std::move(found);
            }
        }
    }
    if (matching.empty()) {
        return refuse(404, "No such page.");
    }
    if (route == nullptr) {
        return CgiReply{not_allowed(matching), {}};
    }
    std::string why;
    std::optional<CgiFields> given = request_fields(request, why);
    if (!given) {
        return refuse(400, why);
    }
    if (route->needs_token && !token_equal(cgi_field(*given, "token").value_or(""), token)) {
        return refuse(403, "Missing or outdated form token: reload the page and try again.");
    }
    CgiReply reply = take_fields(*route, std::move(*captures), *given);
    reply.action.base = request.script_name;
    return reply;
}

std::string cgi_action_text(const CgiAction& action) {
    if (action.route == nullptr) {
        return "";
    }
    std::string text = std::string(action.route->method) + " " + action.route->pattern;
    for (const auto& [name, value] : action.args) {
        text += " " + name + "=" + value;
    }
    return text;
}
