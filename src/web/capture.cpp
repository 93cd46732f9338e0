#include "web/capture.hpp"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <cerrno>
#include <cstring>
#include <vector>

#include "lib/device.hpp"
#include "lib/file_lock.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/ovra_cont_syslog.hpp"
#include "lib/strutil.hpp"
#include "lib/validation.hpp"

#define LOG_MODULE "web/capture"

namespace {

std::string capture_path() {
    return device::path(device::kSyslogCapture);
}

std::string temp_path() {
    return capture_path() + ".tmp";
}

std::string pid_path() {
    return device::path(device::kSyslogCapturePid);
}

// The recorded process id; 0 when none is recorded or the file holds no plain number.
pid_t recorded_pid() {
    // No capture is the usual case: its missing file is nothing to log.
    File file = file_open(pid_path(), "r");
    std::string text;
    if (!file || !file_read_all(file.get(), text)) {
        return 0;
    }
    std::string digits = text.substr(0, text.find('\n'));
    if (digits.empty() || digits.size() > 9 || !validate_digits(digits.c_str())) {
        return 0;
    }
    return static_cast<pid_t>(std::stol(digits));
}

// True while `pid` runs exactly the capture's command line: after a reboot or once the capture
// ended, the id may belong to any other program, which must never be signalled.
bool is_capture_process(pid_t pid) {
    if (pid <= 0) {
        return false;
    }
    std::string cmdline = device::path(device::kProcDir) + "/" + std::to_string(pid) + "/cmdline";
    File file = file_open(cmdline, "r");
    std::string text;
    if (!file || !file_read_all(file.get(), text)) {
        return false;
    }
    std::string expected;
    for (const std::string& arg : ovra_cont_syslog_command()) {
        expected += arg;
        expected += '\0';
    }
    return text == expected;
}

bool is_link(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The size of a regular file, -1 when there is none (or something else stands there).
long long regular_size(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return -1;
    }
    return static_cast<long long>(st.st_size);
}

// While it lives, what this process starts can't write a file past `max_bytes` (the kernel ends
// it instead) and leaves no core file when it is ended that way.
class FileSizeBound {
  public:
    explicit FileSizeBound(long long max_bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_size_);
        getrlimit(RLIMIT_CORE, &saved_core_);
        rlimit size = saved_size_;
        size.rlim_cur = static_cast<rlim_t>(max_bytes);
        if (saved_size_.rlim_max != RLIM_INFINITY && size.rlim_cur > saved_size_.rlim_max) {
            size.rlim_cur = saved_size_.rlim_max;
        }
        setrlimit(RLIMIT_FSIZE, &size);
        rlimit core = saved_core_;
        core.rlim_cur = 0;
        setrlimit(RLIMIT_CORE, &core);
    }
    ~FileSizeBound() {
        setrlimit(RLIMIT_FSIZE, &saved_size_);
        setrlimit(RLIMIT_CORE, &saved_core_);
    }
    FileSizeBound(const FileSizeBound&) = delete;
    FileSizeBound& operator=(const FileSizeBound&) = delete;

  private:
    rlimit saved_size_{};
    rlimit saved_core_{};
};

// Why no capture may start or go on now; "" when it may.
std::string start_refusal(const CaptureStatus& status) {
    if (status.running) {
        return str_printf("A capture is already running (process %d).", status.pid);
    }
    if (status.link) {
        return "The capture file or its temporary is a symbolic link; nothing was written.";
    }
    return "";
}

// Waits until the new child runs the capture's tail, so that the next request recognises it.
// False when it ended first (its file could not be opened: `ended`) or never got there.
bool became_capture(pid_t pid, bool& ended) {
    constexpr auto kPatience = std::chrono::seconds(5);
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    int status = 0;
    while (!is_capture_process(pid)) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (ended || std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

ToolResult record_child(pid_t pid, const char* done) {
    if (pid == 0) {
        return {false, "The capture could not be started."};
    }
    bool ended = false;
    if (!became_capture(pid, ended)) {
        if (!ended) {
            ovra_cont_syslog_stop(pid);
        }
        return {false, "The capture could not be started: its file can't be written."};
    }
    if (!file_replace_contents(pid_path(), std::to_string(pid) + "\n")) {
        ovra_cont_syslog_stop(pid);
        return {false, str_printf("The capture's process id could not be kept: %s.",
                                  std::strerror(errno))};
    }
    return {true, done};
}

}  // namespace

CaptureStatus capture_status(long long max_bytes) {
    CaptureStatus status;
    status.pid = recorded_pid();
    status.running = is_capture_process(status.pid);
    status.link = is_link(capture_path()) || is_link(temp_path());
    status.bytes = regular_size(capture_path());
    status.full = status.bytes >= max_bytes;
    return status;
}

ToolResult capture_start(long long max_bytes) {
    FileDescriptor lock = file_lock_take(device::path(device::kSyslogCaptureLock));
    if (lock.get() < 0) {
        return {false, str_printf("The capture's lock can't be taken: %s.", std::strerror(errno))};
    }
    std::string refusal = start_refusal(capture_status(max_bytes));
    if (!refusal.empty()) {
        return {false, refusal};
    }
    // A new capture: the last one's lines are not carried over.
    unlink(capture_path().c_str());
    unlink(temp_path().c_str());
    FileSizeBound bound(max_bytes);
    return record_child(ovra_cont_syslog_start(capture_path().c_str()), "Capture started.");
}

ToolResult capture_resume(long long max_bytes) {
    FileDescriptor lock = file_lock_take(device::path(device::kSyslogCaptureLock));
    if (lock.get() < 0) {
        return {false, str_printf("The capture's lock can't be taken: %s.", std::strerror(errno))};
    }
    CaptureStatus status = capture_status(max_bytes);
    std::string refusal = start_refusal(status);
    if (refusal.empty() && status.full) {
        refusal = "The capture is full; download it, then start a new one.";
    }
    if (!refusal.empty()) {
        return {false, refusal};
    }
    pid_t pid = 0;
    {
        FileSizeBound bound(max_bytes);
        pid = ovra_cont_syslog_resume(capture_path().c_str());
    }
    // A merge that ran into the size limit leaves its temporary behind.
    unlink(temp_path().c_str());
    return record_child(pid, "Capture resumed.");
}

ToolResult capture_stop() {
    FileDescriptor lock = file_lock_take(device::path(device::kSyslogCaptureLock));
    if (lock.get() < 0) {
        return {false, str_printf("The capture's lock can't be taken: %s.", std::strerror(errno))};
    }
    pid_t pid = recorded_pid();
    bool running = is_capture_process(pid);
    if (running) {
        ovra_cont_syslog_stop(pid);
    }
    // A stale id is forgotten, so that it is never signalled later.
    unlink(pid_path().c_str());
    if (!running) {
        return {false, "No capture is running."};
    }
    return {true, "Capture stopped."};
}

std::optional<std::string> capture_download_path(std::string& reason) {
    std::string path = capture_path();
    if (is_link(path)) {
        reason = "The capture file is a symbolic link; it is not sent.";
        return std::nullopt;
    }
    if (regular_size(path) < 0) {
        reason = "There is no capture yet.";
        return std::nullopt;
    }
    return path;
}
