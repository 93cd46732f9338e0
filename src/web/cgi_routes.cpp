#include "web/cgi_routes.hpp"

#include "web/cgi_diag.hpp"
#include "web/cgi_session.hpp"

const std::vector<CgiRoute>& cgi_routes() {
    static const CgiField kStorage{"storage", cgi_valid_storage, true};
    static const CgiField kName{"name", cgi_valid_session_name, true};
    static const CgiField kList{"list", cgi_valid_flag, false};
    static const CgiField kAddress{"address", cgi_valid_address, true, cgi_address_refusal};
    static const CgiField kDnsName{"name", cgi_valid_dns_name, false, cgi_dns_name_refusal};
    static const CgiField kDnsAddress{"address", cgi_valid_ip, false, cgi_ip_refusal};
    static const std::vector<CgiRoute> kRoutes = {
        {"GET", "/", false, {kList}, cgi_run_page},
        {"GET", "/session", false, {}, cgi_run_status_json},
        {"GET", "/sessions", false, {}, cgi_run_list_json},
        {"POST", "/session/start", true, {kStorage}, cgi_run_start},
        {"POST", "/session/stop", true, {}, cgi_run_stop},
        {"POST", "/sessions/{name}/delete", true, {kName, kStorage}, cgi_run_delete},
        {"GET", "/sessions/{name}.zip", false, {kName, kStorage}, cgi_run_zip},
        {"GET", "/ping", false, {kAddress}, cgi_run_ping},
        {"GET", "/traceroute", false, {kAddress}, cgi_run_traceroute},
        {"GET", "/dns", false, {kDnsName, kDnsAddress}, cgi_run_dns},
        {"POST", "/syslog/start", true, {}, cgi_run_capture_start},
        {"POST", "/syslog/stop", true, {}, cgi_run_capture_stop},
        {"POST", "/syslog/resume", true, {}, cgi_run_capture_resume},
        {"GET", "/syslog", false, {}, cgi_run_capture_download},
    };
    return kRoutes;
}
