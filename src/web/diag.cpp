#include "web/diag.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "lib/device.hpp"
#include "lib/log.hpp"
#include "lib/ovra_nettools.hpp"
#include "lib/sysutil.hpp"
#include "lib/validation.hpp"

#define LOG_MODULE "web/diag"

namespace {

constexpr size_t kMaxName = 255;

// The same rules for every value that names a host; `what` names it in the answer.
std::string name_refusal(const std::string& value, const char* what) {
    if (value.empty()) {
        return str_printf("The %s is empty.", what);
    }
    if (value.find('\0') != std::string::npos) {
        return str_printf("The %s holds a NUL byte.", what);
    }
    if (value.size() > kMaxName) {
        return str_printf("The %s is longer than %zu characters.", what, kMaxName);
    }
    if (value.front() == '-' || value.front() == '.') {
        return str_printf("The %s may not begin with '-' or '.'.", what);
    }
    return "";
}

// While a check runs, a failed write must come back as an error rather than end the tool, so
// that the tool can end the command. The command itself gets the default back when it starts.
class BrokenPipeReported {
  public:
    BrokenPipeReported() {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigaction(SIGPIPE, &action, &saved_);
    }
    ~BrokenPipeReported() { sigaction(SIGPIPE, &saved_, nullptr); }
    BrokenPipeReported(const BrokenPipeReported&) = delete;
    BrokenPipeReported& operator=(const BrokenPipeReported&) = delete;

  private:
    struct sigaction saved_ {};
};

std::string result_line(NetCheck check, const std::string& address, int status) {
    const char* tool = check == NetCheck::kPing ? "ping" : "traceroute";
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return str_printf("Result: %s %s: %s\n", tool, address.c_str(),
                          check == NetCheck::kPing ? "answered" : "done");
    }
    if (status != -1 && WIFEXITED(status)) {
        return str_printf("Result: %s %s: %s (exit status %d)\n", tool, address.c_str(),
                          check == NetCheck::kPing ? "no answer" : "failed", WEXITSTATUS(status));
    }
    return str_printf("Result: %s %s: ended without a result\n", tool, address.c_str());
}

}  // namespace

std::string diag_address_refusal(const std::string& value) {
    std::string refusal = name_refusal(value, "address");
    if (refusal.empty() && !validate_address(value.c_str())) {
        refusal =
            "The address is no IPv4 or IPv6 address and no host name (letters, digits, '-' and "
            "'.').";
    }
    return refusal;
}

std::string diag_traceroute_command(const std::string& address) {
    // exec: the command that a reader who went away ends is traceroute itself, not its shell.
    return str_printf("exec traceroute -n -m %d -q %d -w %d \"%s\" 2>&1", kTracerouteHops,
                      kTracerouteProbes, kTracerouteWaitSeconds,
                      shell_escape_double_quoted(address).c_str());
}

FileDescriptor diag_netcheck_lock(bool& busy, std::string& reason) {
    busy = false;
    // Not close-on-exec: the command inherits the lock, so a check whose tool outlives this
    // process still counts as running.
    FileDescriptor fd(
        open(device::path(device::kNetCheckLock).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600));
    if (fd.get() < 0) {
        reason = str_printf("The network check lock can't be opened: %s.", std::strerror(errno));
        LOG_ERRNO(LOG_ERR, "Could not open the network check lock");
        return FileDescriptor(-1);
    }
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        busy = errno == EWOULDBLOCK;
        reason =
            busy ? "Another ping or traceroute is running on the camera; try again when it "
                   "has ended."
                 : str_printf("The network check lock can't be taken: %s.", std::strerror(errno));
        errno = 0;
        return FileDescriptor(-1);
    }
    return fd;
}

void diag_netcheck_run(NetCheck check, const std::string& address) {
    BrokenPipeReported reported;
    std::fflush(stdout);
    int status = check == NetCheck::kPing
                     ? ovra_nettools_ping(address.c_str())
                     : ovra_nettools_traceroute(diag_traceroute_command(address).c_str());
    std::fputs(result_line(check, address, status).c_str(), stdout);
    std::fflush(stdout);
}

std::optional<DnsQuestion> diag_dns_question(const std::optional<std::string>& name,
                                             const std::optional<std::string>& address,
                                             std::string& reason) {
    if (name.has_value() == address.has_value()) {
        reason = "Give either a host name (name=) or an address (address=).";
        return std::nullopt;
    }
    const std::string& text = name ? *name : *address;
    reason = name_refusal(text, name ? "host name" : "address");
    if (!reason.empty()) {
        return std::nullopt;
    }
    // An address typed as the name is looked up backwards: forwards it would only give itself.
    if (validate_ipv4(text.c_str())) {
        return DnsQuestion{text, URLTYPE_IPV4};
    }
    if (validate_ipv6(text.c_str())) {
        return DnsQuestion{text, URLTYPE_IPV6};
    }
    if (!name) {
        reason = "The address is no IPv4 or IPv6 address.";
        return std::nullopt;
    }
    if (!validate_hostname(text.c_str())) {
        reason = "The host name may hold letters, digits, '-' and '.' only.";
        return std::nullopt;
    }
    return DnsQuestion{text, URLTYPE_HOST};
}
