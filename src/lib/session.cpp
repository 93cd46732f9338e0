#include "lib/session.hpp"

#include <cerrno>
#include <cstdio>

#include "lib/dateutil.hpp"
#include "lib/filehandler.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/onvif.hpp"
#include "lib/strutil.hpp"
#include "lib/sysutil.hpp"

#define LOG_MODULE "lib/session"

bool has_end_line(const std::string& signature_path) {
    File signature = file_open(signature_path, "r");
    if (!signature) {
        errno = 0;
        return false;
    }
    std::string line;
    while (file_read_line(signature.get(), line)) {
        if (line.starts_with("End")) {
            return true;
        }
    }
    return false;
}

void write_stop_time(const std::string& session_path) {
    std::string info_path = session_path + "/Session_Information.txt";
    File info = file_open(info_path, "r");
    std::string stop_time = date_format_now("%a %b %e %H:%M:%S %Z %Y", 100);
    if (!info) {
        errno = 0;
        return;
    }
    // Opened only for a file to rewrite, so no empty temporary file is left beside nothing.
    TempFile tmp = file_temp_open(info_path, session_path + "/Session_Information_tmp.txt");
    if (!tmp.file) {
        LOG_ERRNO(LOG_ERR, "Could not open file '%s'", tmp.path.c_str());
        return;
    }
    std::string line;
    while (file_read_line(info.get(), line)) {
        // Closing lines of an earlier end are replaced by this end's.
        if (line.find("Stop Time of the session:") != std::string::npos ||
            line.find("Session Size: ") != std::string::npos) {
            continue;
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), tmp.file.get());
    }
    if (!session_info_read_whole(info.get(), tmp, info_path)) {
        return;
    }
    info.reset();
    std::fprintf(tmp.file.get(), "Stop Time of the session: %s\r\n", stop_time.c_str());
    session_info_commit(std::move(tmp), info_path);
}

void write_session_size(const std::string& session_path) {
    std::string size = suffix_bytes(static_cast<long long>(get_dir_size_bytes(session_path)));
    std::string info_path = session_path + "/Session_Information.txt";
    File info = file_open(info_path, "a");
    if (!info) {
        LOG_ERRNO(LOG_ERR, "Could not open file '%s'", info_path.c_str());
        return;
    }
    // The storage is nearly full when a session ends: a lost size line must leave a trace.
    bool written = std::fprintf(info.get(), "Session Size: %s\r\n", size.c_str()) > 0;
    if (std::fclose(info.release()) != 0 || !written) {
        LOG_ERRNO(LOG_ERR, "Could not write file '%s'", info_path.c_str());
    }
}

void write_end_line(const std::string& session_path) {
    if (!has_end_line(session_path + "/.signature")) {
        ovra_systemf("(echo \"End: $(date)\") >> %s/%s",
                     shell_escape_unquoted(session_path).c_str(), ".signature");
    }
}

void deactivate_monitor_session(const monitoring_session* session,
                                const std::string& fremo_username,
                                const std::string& fremo_password) {
    if (!monitoring_session_is_active(session) || !session->session_path) {
        LOG_ERRNO(LOG_ERR, "Monitoring session is not activated, can not deactive.");
        return;
    }
    const std::string& session_path = *session->session_path;

    onvif_copy_media_conf(session_path);

    write_end_line(session_path);

    write_stop_time(session_path);

    // From here on no tick sees the session, whatever happens to the steps below.
    monitoring_session_save(nullptr);

    log_msg(LOG_DEBUG, "create_serverreport_snapshot");
    create_serverreport_snapshot(session, fremo_username, fremo_password);

    write_session_size(session_path);

    std::string archive = session_path + ".zip";
    if (is_file(archive)) {
        file_remove(archive);
    }
    zip_session(session_path);
}
