// The web tool's diagnostic routes: the checks of their values (pure) and their work: a ping or
// traceroute streamed while it runs, a DNS lookup, and the system-log capture.
#pragma once

#include <string>
#include <string_view>

#include "web/cgi_router.hpp"

// An address to ping or trace: an IPv4 or IPv6 address or a host name, nothing a command line
// could take for an option or more than one word.
bool cgi_valid_address(std::string_view value);
std::string cgi_address_refusal(std::string_view value);
// A name to look up: a host name, or an IPv4 or IPv6 address for a reverse lookup.
bool cgi_valid_dns_name(std::string_view value);
std::string cgi_dns_name_refusal(std::string_view value);
// An address to look up backwards: IPv4 or IPv6.
bool cgi_valid_ip(std::string_view value);
std::string cgi_ip_refusal(std::string_view value);

CgiAnswer cgi_run_ping(const CgiAction& action);
CgiAnswer cgi_run_traceroute(const CgiAction& action);
CgiAnswer cgi_run_dns(const CgiAction& action);
CgiAnswer cgi_run_capture_start(const CgiAction& action);
CgiAnswer cgi_run_capture_stop(const CgiAction& action);
CgiAnswer cgi_run_capture_resume(const CgiAction& action);
CgiAnswer cgi_run_capture_download(const CgiAction& action);
