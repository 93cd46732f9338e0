#include "web/cgi_session.hpp"

#include <algorithm>
#include <cctype>

#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "web/capture.hpp"
#include "web/cgi_page.hpp"
#include "web/cgi_token.hpp"
#include "web/session_place.hpp"
#include "web/session_tool.hpp"

#define LOG_MODULE "web/cgi_session"

namespace {

std::string arg(const CgiAction& action, std::string_view name) {
    return std::string(cgi_field(action.args, name).value_or(""));
}

// The page as it stands now. The storage list (a bus call) and the session list (`ps` once)
// are fetched only when asked for or when no session runs: a page that refreshes itself while
// a session runs starts no process.
CgiPage page_now(const CgiAction& action, bool with_list, std::string refusal) {
    CgiPage page;
    page.status = session_tool_status();
    if (with_list || !page.status.active) {
        page.storages = get_storages();
        page.sessions = session_tool_list(*page.storages);
    }
    page.capture = capture_status();
    page.refusal = std::move(refusal);
    page.token = cgi_token_get();
    page.base = action.base;
    return page;
}

}  // namespace

CgiAnswer cgi_after_change(const CgiAction& action, const ToolResult& result) {
    if (result.ok) {
        return cgi_redirect(action.base);
    }
    log_msg(LOG_INFO, "%s refused: %s", cgi_action_text(action).c_str(), result.text.c_str());
    return cgi_text(409, kCgiHtml, cgi_page_render(page_now(action, true, result.text)));
}

bool cgi_valid_storage(std::string_view value) {
    return !value.empty() && value.size() <= 64 &&
           std::all_of(value.begin(), value.end(),
                       [](char c) {
                           return std::isalnum(static_cast<unsigned char>(c)) || c == '_' ||
                                  c == '-' || c == '.';
                       }) &&
           value.find("..") == std::string_view::npos;
}

bool cgi_valid_session_name(std::string_view value) {
    return session_name_valid(value);
}

bool cgi_valid_flag(std::string_view value) {
    return value == "1";
}

CgiAnswer cgi_run_page(const CgiAction& action) {
    return cgi_text(200, kCgiHtml,
                    cgi_page_render(page_now(action, !arg(action, "list").empty(), "")));
}

CgiAnswer cgi_run_status_json(const CgiAction&) {
    return cgi_text(200, kCgiJson, session_status_json(session_tool_status(), cgi_token_get()));
}

CgiAnswer cgi_run_list_json(const CgiAction&) {
    return cgi_text(200, kCgiJson, session_list_json(session_tool_list(get_storages())));
}

CgiAnswer cgi_run_start(const CgiAction& action) {
    std::string storage = arg(action, "storage");
    StorageList storages = storage == kInternalStorage ? StorageList{} : get_storages();
    return cgi_after_change(action, session_tool_start(storage, storages));
}

CgiAnswer cgi_run_stop(const CgiAction& action) {
    return cgi_after_change(action, session_tool_stop());
}

CgiAnswer cgi_run_delete(const CgiAction& action) {
    std::string storage = arg(action, "storage");
    StorageList storages = storage == kInternalStorage ? StorageList{} : get_storages();
    return cgi_after_change(action, session_tool_delete(arg(action, "name"), storage, storages));
}

CgiAnswer cgi_run_zip(const CgiAction& action) {
    std::string name = arg(action, "name");
    std::string storage = arg(action, "storage");
    StorageList storages = storage == kInternalStorage ? StorageList{} : get_storages();
    std::string reason;
    std::optional<std::string> path = session_tool_zip_path(name, storage, storages, reason);
    long long bytes = path ? filesize(*path) : -1;
    if (bytes < 0) {
        return cgi_refusal(404, reason.empty() ? "No such ZIP." : reason);
    }
    CgiAnswer answer = cgi_text(200, "application/zip", "");
    answer.headers = {{"Content-Disposition", "attachment; filename=\"" + name + ".zip\""},
                      {"Content-Length", std::to_string(bytes)}};
    answer.file = *path;
    return answer;
}
