#include "web/cgi_routes.hpp"

#include "web/cgi_session.hpp"

const std::vector<CgiRoute>& cgi_routes() {
    static const CgiField kStorage{"storage", cgi_valid_storage, true};
    static const CgiField kName{"name", cgi_valid_session_name, true};
    static const CgiField kList{"list", cgi_valid_flag, false};
    static const std::vector<CgiRoute> kRoutes = {
        {"GET", "/", false, {kList}, cgi_run_page},
        {"GET", "/session", false, {}, cgi_run_status_json},
        {"GET", "/sessions", false, {}, cgi_run_list_json},
        {"POST", "/session/start", true, {kStorage}, cgi_run_start},
        {"POST", "/session/stop", true, {}, cgi_run_stop},
        {"POST", "/sessions/{name}/delete", true, {kName, kStorage}, cgi_run_delete},
        {"GET", "/sessions/{name}.zip", false, {kName, kStorage}, cgi_run_zip},
    };
    return kRoutes;
}
