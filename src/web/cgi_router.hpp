// The web tool's request handling as a pure function: a request and the device's token in, a
// whole answer or an action for the I/O layer out. Nothing here touches a file or a process.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "web/cgi_answer.hpp"
#include "web/cgi_request.hpp"

struct CgiRoute;

// What the I/O layer runs for an accepted request; every value in `args` has passed its check.
struct CgiAction {
    const CgiRoute* route = nullptr;
    CgiFields args;    // fields and path captures, by name
    std::string base;  // where the page lives (SCRIPT_NAME)
};

// Does the work of an accepted request and gives the answer for its outcome.
using CgiRun = CgiAnswer (*)(const CgiAction& action);

// A field of a route: a path capture ("{name}") or a query or form field.
struct CgiField {
    const char* name;
    bool (*valid)(std::string_view value);
    bool required;
    // When set, the refusal of an invalid value says this instead of "Invalid <name>."
    std::string (*why)(std::string_view value) = nullptr;
};

struct CgiRoute {
    const char* method;   // "GET" or "POST"
    const char* pattern;  // "/sessions/{name}.zip": a capture spans part of one segment
    bool needs_token;     // state changes: only with the page's token
    std::vector<CgiField> fields;
    CgiRun run;
};

struct CgiReply {
    CgiAnswer answer;  // the whole answer when `action.route` is empty
    CgiAction action;
};

// Matches `request` against `routes`, checks every value it carries and either refuses it
// (400, 403, 404, 405) or hands out the action of its route.
CgiReply cgi_handle(const CgiRequest& request, std::string_view token,
                    const std::vector<CgiRoute>& routes);

// The action as one line ("POST /session/start storage=SD_DISK"), for logs and tests.
std::string cgi_action_text(const CgiAction& action);
