#include "lib/sysutil.hpp"

#include <sys/wait.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>

#include "lib/fileutil.hpp"
#include "lib/strutil.hpp"

#define LOG_MODULE "lib/sysutil"

namespace {

bool is_plain_shell_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::string_view("_./:,+=@%-").find(c) != std::string_view::npos;
}

}  // namespace

bool ovra_system(const char* cmd) {
    int status = std::system(cmd);
    if (status == -1) {
        LOG_ERRNO(LOG_ERR, "Could not create child process: %s", cmd);
        return false;
    }
    if (!WIFEXITED(status)) {
        LOG_ERRNO(LOG_ERR, "Unsuccessful command: %s", cmd);
        return false;
    }
    if (WEXITSTATUS(status) != 0) {
        log_msg(LOG_WARNING, "Exit status '%d' for command: %s", WEXITSTATUS(status), cmd);
        return false;
    }
    return true;
}

bool ovra_systemf(const char* fmt, ...) {
    std::string cmd;
    va_list args;
    va_start(args, fmt);
    bool built = str_vprintf(cmd, fmt, args);
    va_end(args);
    if (!built) {
        LOG_ERRNO(LOG_ERR, "Could not allocate memory for command: %s", fmt);
        return false;
    }
    return ovra_system(cmd);
}

Pipe pipe_open_or_die(const char* module, int line, const std::string& cmd) {
    // Close-on-exec, so that no other command, of either thread, holds this pipe open.
    Pipe pipe(popen(cmd.c_str(), "re"));
    if (!pipe) {
        log_errno_msg(LOG_EMERG, module, line, "Could not popen '%s'", cmd.c_str());
        std::abort();
    }
    return pipe;
}

int pipe_close(Pipe& pipe) {
    return pclose(pipe.release());
}

void pipe_close_logged(Pipe& pipe, const char* cmd, const char* func, int line) {
    int status = pipe_close(pipe);
    if (status == -1) {
        log_msg(LOG_DEBUG,
                "[Kelvane]: error reported by pclose from command: %s [src] line %d in %s", cmd,
                line, func);
    } else if (WIFSIGNALED(status)) {
        log_msg(LOG_DEBUG, "[Kelvane]: Unsuccessful command: %s [src] line %d in %s", cmd, line,
                func);
    }
}

std::vector<std::string> pipe_read_lines(Pipe& pipe) {
    std::vector<std::string> lines;
    for (std::string line; file_read_line(pipe.get(), line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string shell_escape_double_quoted(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\\' || c == '"' || c == '$' || c == '`') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

std::string shell_escape_single_quoted(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out;
}

std::string shell_escape_unquoted(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\n') {
            // A backslash-newline is a line continuation; only quotes keep a newline.
            out += "'\n'";
            continue;
        }
        if (!is_plain_shell_char(c)) {
            out += '\\';
        }
        out += c;
    }
    return out;
}
