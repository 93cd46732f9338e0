#include "lib/filehandler.hpp"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "lib/dateutil.hpp"
#include "lib/device.hpp"
#include "lib/fileutil.hpp"
#include "lib/fremo.hpp"
#include "lib/log.hpp"
#include "lib/session_globals.hpp"
#include "lib/strutil.hpp"
#include "lib/sysutil.hpp"
#include "lib/timeseries.hpp"

#define LOG_MODULE "lib/filehandler"

// Session information file

namespace {

constexpr size_t kMaxFieldLength = 1000;

void put_line(std::FILE* f, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fputc('\n', f);
}

}  // namespace

File session_info_open_temp(const std::string& tmp_path) {
    // A name left behind (a crash, or a link someone placed on the card) is never written
    // through: the temporary file is always a new regular file.
    if (unlink(tmp_path.c_str()) != 0) {
        errno = 0;
    }
    int fd = open(tmp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    File tmp(fdopen(fd, "w"));
    if (!tmp) {
        close(fd);
    }
    return tmp;
}

bool session_info_commit(File tmp, const std::string& tmp_path, const std::string& info_path) {
    std::FILE* f = tmp.release();
    bool written = std::fflush(f) == 0 && std::ferror(f) == 0 && fsync(fileno(f)) == 0;
    int write_errno = errno;
    bool closed = std::fclose(f) == 0;
    if (written && closed && file_rename(tmp_path, info_path)) {
        return true;
    }
    int saved = written ? errno : write_errno;
    unlink(tmp_path.c_str());
    errno = saved;
    LOG_ERRNO(LOG_ERR, "Could not write file '%s', kept '%s' as it was", tmp_path.c_str(),
              info_path.c_str());
    return false;
}

bool session_info_read_whole(std::FILE* info, File& tmp, const std::string& tmp_path,
                             const std::string& info_path) {
    if (!std::ferror(info)) {
        return true;
    }
    int saved = errno;
    tmp.reset();
    unlink(tmp_path.c_str());
    errno = saved;
    LOG_ERRNO(LOG_ERR, "Could not read file '%s', kept it as it was", info_path.c_str());
    return false;
}

void read_and_update_session_info(const std::string& path, const std::string& field,
                                  const std::string& default_value, value_callback cb) {
    if (field.size() > kMaxFieldLength) {
        LOG_ERRNO(LOG_ERR, "Cannot read field names larger than 1000 characters, got: %s",
                  field.c_str());
        return;
    }
    std::string info_path = path + "/Session_Information.txt";
    File info = file_open(info_path, "r");
    if (!info) {
        log_msg(LOG_DEBUG, "(errno: %s) Could not open file '%s'", log_errno_text(),
                info_path.c_str());
        errno = 0;
        return;
    }
    std::string tmp_path = path + "/Session_Information_tmp_tmp.txt";
    File tmp = session_info_open_temp(tmp_path);
    if (!tmp) {
        LOG_ERRNO(LOG_ERR, "Could not open file '%s'", tmp_path.c_str());
        return;
    }
    const std::string prefix = field + ": ";
    bool modified = false;
    std::string line;
    while (file_read_line(info.get(), line)) {
        std::optional<std::string> value;
        if (str_starts_with(line, prefix)) {
            value = cb(line.substr(prefix.size()));
        }
        if (value) {
            put_line(tmp.get(), prefix + *value);
            modified = true;
        } else {
            // Every line gets its newline back, so an appended field never joins a last line
            // that had none.
            put_line(tmp.get(), line);
        }
    }
    if (!session_info_read_whole(info.get(), tmp, tmp_path, info_path)) {
        return;
    }
    info.reset();
    if (!modified) {
        put_line(tmp.get(), prefix + default_value);
    }
    session_info_commit(std::move(tmp), tmp_path, info_path);
}

void update_number_of_collected_data_points(const std::string& path) {
    read_and_update_session_info(path, "Collected Data Points", "1", update_data_points);
}

void update_session_duration(const std::string& path) {
    read_and_update_session_info(path, "Duration", "0 Days 0 hours 0 minutes", update_duration);
}

std::optional<std::string> update_data_points(const std::string& old_value) {
    size_t i = 0;
    while (i < old_value.size() && std::isspace(static_cast<unsigned char>(old_value[i]))) {
        ++i;
    }
    unsigned long count = 0;
    for (; i < old_value.size() && old_value[i] >= '0' && old_value[i] <= '9'; ++i) {
        unsigned long digit = static_cast<unsigned long>(old_value[i] - '0');
        // Saturates like strtoul does, before the count is taken as 32 bits.
        count = count > (ULONG_MAX - digit) / 10 ? ULONG_MAX : count * 10 + digit;
    }
    auto points = static_cast<uint32_t>(count);
    return std::to_string(static_cast<uint32_t>(points + 1u));
}

std::optional<std::string> update_duration(const std::string& old_value) {
    unsigned days = 0, hours = 0, minutes = 0;
    if (std::sscanf(old_value.c_str(), "%u Days %u hours %u minutes", &days, &hours, &minutes) <
        3) {
        return std::nullopt;
    }
    unsigned total = days * 1440u + hours * 60u + minutes + 1u;
    return str_printf("%u Days %u hours %u minutes", total / 1440u, (total / 60u) % 24u,
                      total % 60u);
}

// Network counters

// Memory and load

// Streams and radar

// Server reports

void create_serverreport_snapshot(const monitoring_session* session, const std::string& fremo_user,
                                  const std::string& fremo_pass) {
    if (session == nullptr || !session->session_path) {
        LOG_ERRNO(LOG_ERR, "No session to take a server report for.");
        return;
    }
    const std::string& session_path = *session->session_path;
    serverreport_snapshot(session_path, fremo_user, fremo_pass);
    if (session->storage_id) {
        return;
    }
    // Internal storage is small: every report goes into one archive, and the loose copies are
    // removed only once zip has taken them.
    ovra_systemf(
        "( cd %s/%s/%s/%s && zip -J %s Server_Report_* > /dev/null 2>&1 && rm Server_Report_* ) "
        "> /dev/null 2>&1",
        shell_escape_unquoted(session_path).c_str(), "system_monitoring", "monitoring_basic",
        "Server_Reports", "Server_Reports.zip");
    std::string archive =
        session_path + "/system_monitoring/monitoring_basic/Server_Reports/" + "Server_Reports.zip";
    log_msg(LOG_INFO, "System Monitoring Session Storage Consumption on Internal Storage -> %s.",
            filesize_human_readable(archive).c_str());
}

bool serverreport_snapshot(const std::string& session_path, const std::string& fremo_user,
                           const std::string& fremo_pass) {
    std::string name = date_format_now("Server_Report_%Y-%m-%dT%H%M%S%Z.txt", 100);
    std::string dest = session_path + "/system_monitoring/monitoring_basic/Server_Reports/" + name;
    return fremo_download(fremo_user, fremo_pass, "/norv-cgi/serverreport.cgi", dest);
}

unsigned long get_dir_size_bytes(const std::string& path) {
    Pipe pipe = PIPE_OPEN(str_printf("du -bks \"%s\"", shell_escape_double_quoted(path).c_str()));
    std::string line, last;
    while (file_read_line(pipe.get(), line)) {
        last = line;
    }
    pipe.reset();
    long kib = std::strtol(last.c_str(), nullptr, 10);
    return kib < 0 ? 0 : static_cast<unsigned long>(kib) * 1024;
}

// Helper scripts

void shellscript_invoker(const std::string& path, const std::string& name, bool quiet) {
    if (ps_grep_and_check_if_included("Kelvane", name)) {
        return;
    }
    ovra_systemf("%s/%s \"%s\" %s &",
                 shell_escape_unquoted(device::path(device::kShellDir)).c_str(),
                 shell_escape_unquoted(name).c_str(), shell_escape_double_quoted(path).c_str(),
                 quiet ? "> /dev/null 2>&1" : "");
}

void plix_monitor_status_snapshot(const std::string& session_path) {
    ovra_systemf("%s/plix_status_monitor.sh \"%s/%s/%s\" &",
                 shell_escape_unquoted(device::path(device::kShellDir)).c_str(),
                 shell_escape_double_quoted(session_path).c_str(), "system_monitoring",
                 "monitoring_plix");
}

int ps_grep_and_check_if_included(const std::string& grep, const std::string& strstr_string) {
    Pipe pipe = PIPE_OPEN(str_printf("ps | grep \"%s\"", shell_escape_double_quoted(grep).c_str()));
    std::string line;
    while (file_read_line(pipe.get(), line)) {
        if (line.find(strstr_string) != std::string::npos) {
            return 1;
        }
    }
    return 0;
}

bool is_monitory_dir(const char* path) {
    if (path == nullptr) {
        return false;
    }
    const std::string p = path;
    bool internal = str_starts_with(p, device::path(device::kLocalDataDir));
    bool edge = str_starts_with(p, device::path(device::kStorageDir)) &&
                p.find("Kelvane") != std::string::npos;
    if (!(internal || edge) || p.find("/..") != std::string::npos || !is_directory(p)) {
        return false;
    }
    std::string name = p.substr(p.rfind('/') + 1);
    unsigned year, month, day, hour, minute, second;
    if (name.size() != 17 || std::sscanf(name.c_str(), "%4u%2u%2u_%2u_%2u_%2u", &year, &month, &day,
                                         &hour, &minute, &second) != 6) {
        return false;
    }
    return year >= 1000 && year <= 9999 && month <= 12 && day <= 31 && hour <= 24 && minute <= 60 &&
           second <= 60;
}

// Packing a session

int zip_session(const std::string& path) {
    if (is_zipping_session(path)) {
        return 0;
    }
    if (!is_directory(path)) {
        LOG_ERRNO(LOG_ERR, "Path to zip is not a directory: %s", path.c_str());
        return 1;
    }
    if (!str_starts_with(path, "/")) {
        LOG_ERRNO(LOG_ERR, "Path to zip must be absolute, but got: %s", path.c_str());
        return 1;
    }
    gchar* dir_raw = g_path_get_dirname(path.c_str());
    gchar* base_raw = g_path_get_basename(path.c_str());
    std::string dir = dir_raw, base = base_raw;
    g_free(dir_raw);
    g_free(base_raw);
    if (base == "/") {
        LOG_ERRNO(LOG_ERR, "Invalid path to zip: %s", path.c_str());
        return 1;
    }
    // zip stores the paths relative to the working directory, so the archive holds the session
    // folder itself.
    if (chdir(dir.c_str()) != 0) {
        LOG_ERRNO(LOG_ERR, "Could not change directory to: %s", dir.c_str());
        return 1;
    }
    log_msg(LOG_DEBUG, "zipping '%s'", base.c_str());
    std::string name = shell_escape_unquoted(base);
    ovra_systemf("zip --recurse-paths %s.zip %s --exclude \\*/.tmp\\* > /dev/null 2>&1 &",
                 name.c_str(), name.c_str());
    return 1;
}

bool is_zipping_session(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    // A trailing slash leaves no name, and an empty name would match every line.
    if (slash == std::string::npos || slash + 1 == path.size()) {
        log_msg(LOG_WARNING, "Could not get basename of path: %s", path.c_str());
        return false;
    }
    return ps_grep_and_check_if_included("zip", path.substr(slash + 1)) == 1;
}
