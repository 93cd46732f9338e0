#include "lib/filehandler.hpp"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "lib/device.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/strutil.hpp"
#include "lib/sysutil.hpp"
#include "lib/timeseries.hpp"

#define LOG_MODULE "lib/filehandler"

// Session information file

// Network counters

// Memory and load

// Streams and radar

void store_video_stream_history_no_retention(const std::string& session_path) {
    static constexpr const char* kHeader = "Date,Time,Streams\r\n";
    static constexpr const char* kStreamQuery =
        "dbus-send --system --print-reply  --reply-timeout=1000 --dest=com.norv.Streamer "
        "/com/norv/Streamer/Cache com.norv.Streamer.Cache.GetStreams | grep string | sort";
    std::string file = monitoring_folder(session_path, "monitoring_streams") + "/stream.csv";
    std::string stamp = csv_timestamp();
    // Opened before the streamer is asked: a file that can't be opened costs no query.
    if (!csv_append(LOG_MODULE, __LINE__, file, kHeader, "")) {
        return;
    }
    Pipe pipe = PIPE_OPEN(kStreamQuery);
    std::vector<std::string> lines;
    for (std::string line; file_read_line(pipe.get(), line);) {
        lines.push_back(line);
    }
    int status = pipe_close(pipe);
    if (status == -1) {
        log_msg(LOG_DEBUG,
                "[Kelvane]: error reported by pclose from command: %s [src] line %d in %s",
                kStreamQuery, __LINE__, __func__);
    } else if (WIFSIGNALED(status)) {
        log_msg(LOG_DEBUG, "[Kelvane]: Unsuccessful command: %s [src] line %d in %s", kStreamQuery,
                __LINE__, __func__);
    }
    csv_append(LOG_MODULE, __LINE__, file, kHeader,
               stamp + "," + stream_history_cells(lines) + "\r\n");
}

std::string stream_history_cells(const std::vector<std::string>& lines) {
    std::string cells;
    int counted = 0;
    for (std::string line : lines) {
        if (str_starts_with(line, "Error ")) {
            cells += "Error: Failed to get stream info";
            ++counted;
        }
        // The blanks that replace the quotes frame each entry.
        str_replace_char(line, '"', ' ');
        std::string_view entry = line;
        if (auto word = line.find("string"); word != std::string::npos) {
            entry.remove_prefix(std::min(word + 7, line.size()));
        }
        if (counted > 0) {
            cells += '+';
        }
        cells += entry;
        ++counted;
    }
    return counted == 0 ? "No streams " : cells;
}

void store_radar_data(const std::string& session_path) {
    std::string folder = monitoring_folder(session_path, "monitoring_radar");
    std::string source = device::path(device::kRadarDir);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(source.c_str()), &closedir);
    if (!dir) {
        return;  // a device without radar
    }
    while (const dirent* entry = readdir(dir.get())) {
        const char* name = entry->d_name;
        bool data = fnmatch("radar_*.data", name, 0) == 0;
        if (!data && fnmatch("instqual_lt_stats_*.csv", name, 0) != 0) {
            continue;
        }
        std::string src = source + "/" + name;
        std::string dest = folder + "/" + name;
        if (data) {
            // Radar data files are final once written: one copy each.
            if (access(dest.c_str(), F_OK) == 0) {
                continue;
            }
            if (errno != ENOENT) {
                log_msg(LOG_WARNING, "access() failed for %s: %s", dest.c_str(), strerror(errno));
                errno = 0;
                continue;
            }
            errno = 0;
            file_copy(src, dest);
        } else {
            // Long-term statistics grow: replace the copy on every run.
            if (access(dest.c_str(), F_OK) == 0) {
                file_remove(dest);
            }
            errno = 0;
            file_copy(src, dest);
        }
    }
}

std::string get_names_listed_from_directory(const std::string& path, size_t size) {
    Pipe pipe = PIPE_OPEN("ls \"" + shell_escape_double_quoted(path) + "\"");
    std::string names;
    if (size == 0) {
        return names;
    }
    for (std::string line; names.size() < size - 1 && file_read_line(pipe.get(), line);) {
        if (!names.empty()) {
            names += ',';
        }
        names += line;
    }
    if (names.size() > size - 1) {
        names.resize(size - 1);
    }
    return names;
}

// Server reports

// Helper scripts

// Packing a session
