#include "web/cgi_diag.hpp"

#include <memory>
#include <optional>

#include "lib/dns.hpp"
#include "lib/log.hpp"
#include "web/capture.hpp"
#include "web/cgi_session.hpp"
#include "web/diag.hpp"

#define LOG_MODULE "web/cgi_diag"

namespace {

std::optional<std::string> arg(const CgiAction& action, std::string_view name) {
    std::optional<std::string_view> value = cgi_field(action.args, name);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

CgiAnswer netcheck(const CgiAction& action, NetCheck check) {
    std::string address = arg(action, "address").value_or("");
    bool busy = false;
    std::string reason;
    auto lock = std::make_shared<FileDescriptor>(diag_netcheck_lock(busy, reason));
    if (lock->get() < 0) {
        return cgi_refusal(busy ? 429 : 500, reason);
    }
    // The stream holds the lock until the command has ended.
    return cgi_stream(kCgiText, [lock, check, address] { diag_netcheck_run(check, address); });
}

std::optional<DnsQuestion> dns_question(const CgiAction& action, std::string& reason) {
    return diag_dns_question(arg(action, "name"), arg(action, "address"), reason);
}

}  // namespace

bool cgi_valid_address(std::string_view value) {
    return cgi_address_refusal(value).empty();
}

std::string cgi_address_refusal(std::string_view value) {
    return diag_address_refusal(std::string(value));
}

bool cgi_valid_dns_name(std::string_view value) {
    return cgi_dns_name_refusal(value).empty();
}

std::string cgi_dns_name_refusal(std::string_view value) {
    std::string reason;
    diag_dns_question(std::string(value), std::nullopt, reason);
    return reason;
}

bool cgi_valid_ip(std::string_view value) {
    return cgi_ip_refusal(value).empty();
}

std::string cgi_ip_refusal(std::string_view value) {
    std::string reason;
    diag_dns_question(std::nullopt, std::string(value), reason);
    return reason;
}

CgiAnswer cgi_run_ping(const CgiAction& action) {
    return netcheck(action, NetCheck::kPing);
}

CgiAnswer cgi_run_traceroute(const CgiAction& action) {
    return netcheck(action, NetCheck::kTraceroute);
}

CgiAnswer cgi_run_dns(const CgiAction& action) {
    std::string reason;
    std::optional<DnsQuestion> question = dns_question(action, reason);
    if (!question) {
        return cgi_refusal(400, reason);
    }
    return cgi_stream(kCgiText, [q = *question] { write_out_dns(q.text.c_str(), q.type); });
}

CgiAnswer cgi_run_capture_start(const CgiAction& action) {
    return cgi_after_change(action, capture_start());
}

CgiAnswer cgi_run_capture_stop(const CgiAction& action) {
    return cgi_after_change(action, capture_stop());
}

CgiAnswer cgi_run_capture_resume(const CgiAction& action) {
    return cgi_after_change(action, capture_resume());
}

CgiAnswer cgi_run_capture_download(const CgiAction&) {
    std::string reason;
    std::optional<std::string> path = capture_download_path(reason);
    if (!path) {
        return cgi_refusal(404, reason);
    }
    CgiAnswer answer = cgi_text(200, kCgiText, "");
    answer.headers = {{"Content-Disposition", "attachment; filename=\"syslog_capture.log\""}};
    answer.file = *path;
    return answer;
}
