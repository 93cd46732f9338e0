// The web tool's session routes: the checks of their values (pure) and the work each accepted
// request does through the session tool, with the answer for its outcome.
#pragma once

#include <string_view>

#include "web/cgi_router.hpp"

// "internal" or a storage id as the storage service names them (letters, digits, '_', '-',
// '.'; at most 64): nothing a shell or a path could take for more.
bool cgi_valid_storage(std::string_view value);
// A session folder's name: the start time as YYYYMMDD_HH_MM_SS.
bool cgi_valid_session_name(std::string_view value);
// "1": the page with the list of sessions.
bool cgi_valid_flag(std::string_view value);

CgiAnswer cgi_run_page(const CgiAction& action);
CgiAnswer cgi_run_status_json(const CgiAction& action);
CgiAnswer cgi_run_list_json(const CgiAction& action);
CgiAnswer cgi_run_start(const CgiAction& action);
CgiAnswer cgi_run_stop(const CgiAction& action);
CgiAnswer cgi_run_delete(const CgiAction& action);
CgiAnswer cgi_run_zip(const CgiAction& action);
