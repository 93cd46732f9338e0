#include "lib/timeseries.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "lib/dateutil.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"

#define LOG_MODULE "lib/timeseries"

namespace {

// Open failures of this tick, one entry per folder and errno.
struct OpenFailure {
    std::string folder;
    int error;
    size_t more;
};

std::vector<OpenFailure>& open_failures() {
    static std::vector<OpenFailure> failures;
    return failures;
}

bool collecting = false;

// A read-only or vanished card fails every file of a folder for the same reason; only the
// first says which file, so that the log keeps the messages that explain the fault.
void log_open_failure(const char* module, int line, const std::string& file_path) {
    std::string folder = file_path.substr(0, file_path.rfind('/'));
    for (OpenFailure& failure : open_failures()) {
        if (failure.folder == folder && failure.error == errno) {
            ++failure.more;
            errno = 0;
            return;
        }
    }
    if (collecting) {
        open_failures().push_back({folder, errno, 0});
    }
    log_errno_msg(LOG_ERR, module, line, "Could not open file '%s'", file_path.c_str());
}

}  // namespace

std::string monitoring_folder(const std::string& session_path, const std::string& name) {
    return session_path + "/system_monitoring/" + name;
}

bool csv_append(const char* module, int line, const std::string& file_path,
                const std::string& header, const std::string& row) {
    return csv_append(module, line, file_path, header, [&row] { return row; });
}

bool csv_append(const char* module, int line, const std::string& file_path,
                const std::string& header, const std::function<std::string()>& make_row) {
    FileDescriptor fd(open(file_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
        log_open_failure(module, line, file_path);
        return false;
    }
    // An empty file is new or was left so by a kill before its first write: either way it
    // still needs its header.
    struct stat st {};
    std::string text = fstat(fd.get(), &st) == 0 && st.st_size == 0 ? header : std::string();
    text += make_row();
    // Header and row in one write, so that no kill leaves a row without its header.
    for (size_t done = 0; done < text.size();) {
        ssize_t n = write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;  // a full card loses the sample, as a failed fputs did
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void csv_open_failures_collect() {
    collecting = true;
}

void csv_open_failures_report() {
    for (const OpenFailure& failure : open_failures()) {
        if (failure.more > 0) {
            log_msg(LOG_ERR, "%zu more files in '%s' could not be opened (errno: %s)", failure.more,
                    failure.folder.c_str(),
                    failure.error != 0 ? std::strerror(failure.error) : "None");
        }
    }
    timeseries_state_reset();
}

void timeseries_state_reset() {
    open_failures().clear();
    collecting = false;
}

std::string csv_timestamp() {
    return date_format_now("%Y-%m-%d,%H:%M:%S", 40);
}
