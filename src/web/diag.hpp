// The web tool's network checks: ping, traceroute and DNS lookups asked for by a user, each value
// checked before anything runs, and one ping or traceroute at a time on the camera.
#pragma once

#include <optional>
#include <string>

#include "lib/dns.hpp"
#include "lib/fileutil.hpp"

// A traceroute's bounds. With every hop silent it takes hops x probes x wait seconds (40 s),
// so a request ends within a minute even on a broken network.
inline constexpr int kTracerouteHops = 20;
inline constexpr int kTracerouteProbes = 1;
inline constexpr int kTracerouteWaitSeconds = 2;

enum class NetCheck { kPing, kTraceroute };

// Why `value` may not be pinged or traced, for the user; "" when it may.
std::string diag_address_refusal(const std::string& value);

// The traceroute command line for an address that passed diag_address_refusal: numeric output,
// bounded hops, probes and wait, its errors on the same pipe.
std::string diag_traceroute_command(const std::string& address);

// Takes the camera's one network check without waiting. The descriptor is -1 when another check
// holds it (`busy`) or the lock file can't be opened (`reason` says why); otherwise the check
// holds it until the descriptor and every command that inherited it are gone.
FileDescriptor diag_netcheck_lock(bool& busy, std::string& reason);

// Runs the check on a checked address with the lock held and writes the command's output to
// standard output as it comes, then one line with the result. A reader that goes away (a write
// that fails) ends the command.
void diag_netcheck_run(NetCheck check, const std::string& address);

// A DNS question from the query: exactly one of a host name or an address (IPv4 or IPv6). An
// address given as the name is looked up backwards too.
struct DnsQuestion {
    std::string text;
    UrlType type = URLTYPE_HOST;
};
// The question, or nothing and `reason` for the user.
std::optional<DnsQuestion> diag_dns_question(const std::optional<std::string>& name,
                                             const std::optional<std::string>& address,
                                             std::string& reason);
