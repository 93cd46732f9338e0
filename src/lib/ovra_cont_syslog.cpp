#include "lib/ovra_cont_syslog.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "lib/device.hpp"
#include "lib/log.hpp"
#include "lib/sysutil.hpp"

#define LOG_MODULE "lib/ovra_cont_syslog"

namespace {

const char* const kLogFiles[] = {"/error.log", "/warning.log", "/info.log"};

std::string log_file(const char* name) {
    return device::path(std::string(device::kLogDir) + name);
}

// Runs in the forked child: only async-signal-safe calls from here on.
[[noreturn]] void run_capture(const char* log_path, const char* tail, char* const argv[]) {
    // No link may redirect the capture, and the descriptor must not leak into tail twice.
    int fd = open(log_path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        _exit(1);
    }
    if (dup2(fd, STDOUT_FILENO) < 0 || dup2(fd, STDERR_FILENO) < 0) {
        _exit(1);
    }
    if (fd == STDOUT_FILENO || fd == STDERR_FILENO) {
        // Opened onto 1 or 2 itself: dup2 left the close-on-exec flag in place.
        fcntl(fd, F_SETFD, 0);
    } else {
        close(fd);
    }
    execv(tail, argv);
    _exit(0);
}

}  // namespace

std::vector<std::string> ovra_cont_syslog_command() {
    std::vector<std::string> args = {device::path(device::kTail), "-n0", "-q", "-F"};
    for (const char* name : kLogFiles) {
        args.push_back(log_file(name));
    }
    return args;
}

pid_t ovra_cont_syslog_start(const char* log_path) {
    // Everything the child needs is built before the fork.
    std::vector<std::string> args = ovra_cont_syslog_command();
    const std::string& tail = args.front();
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::string path = log_path != nullptr ? log_path : "";

    pid_t pid = fork();
    if (pid < 0) {
        LOG_ERRNO(LOG_ERR, "Could not fork.");
        return 0;
    }
    if (pid == 0) {
        run_capture(path.c_str(), tail.c_str(), argv.data());
    }
    return pid;
}

pid_t ovra_cont_syslog_resume(const char* log_path) {
    std::string path = log_path != nullptr ? log_path : "";
    std::string capture = shell_escape_double_quoted(path);
    std::string tmp = shell_escape_double_quoted(path + ".tmp");
    std::string logs;
    for (const char* name : kLogFiles) {
        logs += ' ';
        logs += shell_escape_unquoted(log_file(name));
    }
    // Without a path the merge would write ".tmp" into whatever folder the caller runs in. A
    // link planted at the temporary path must not take the merge elsewhere: what is there is
    // removed, and the shell refuses to write through whatever is put there meanwhile.
    bool cleared = !path.empty() && (unlink((path + ".tmp").c_str()) == 0 || errno == ENOENT);
    errno = 0;
    if (!cleared ||
        !ovra_systemf("set -C; cat \"%s\"%s | sort | uniq > \"%s\" && mv \"%s\" \"%s\"",
                      capture.c_str(), logs.c_str(), tmp.c_str(), tmp.c_str(), capture.c_str())) {
        log_msg(LOG_WARNING, "Failed to copy missed log lines: Could not create child process.");
    }
    return ovra_cont_syslog_start(log_path);
}

void ovra_cont_syslog_stop(pid_t pid) {
    // 0 and negative ids would signal the caller's whole process group, or every process.
    if (pid <= 0) {
        errno = EINVAL;
        LOG_ERRNO(LOG_ERR, "Could not send SIGTERM to pid %d", pid);
        return;
    }
    if (kill(pid, SIGTERM) != 0) {
        LOG_ERRNO(LOG_ERR, "Could not send SIGTERM to pid %d", pid);
        return;
    }
    log_msg(LOG_DEBUG, "Successfully sent SIGTERM to pid %d", pid);
    int status = 0;
    pid_t waited = waitpid(pid, &status, 0);
    if (waited != pid) {
        LOG_ERRNO(LOG_ERR, "Could not wait for pid %d, waitpid returned %d.", pid, waited);
    }
}
