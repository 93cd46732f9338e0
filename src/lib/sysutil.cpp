#include "lib/sysutil.hpp"

#include <sys/wait.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>

#define LOG_MODULE "lib/sysutil"

namespace {

bool vformat(std::string& out, const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (needed < 0) {
        return false;
    }
    out.assign(static_cast<size_t>(needed), '\0');
    return std::vsnprintf(out.data(), out.size() + 1, fmt, args) == needed;
}

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
    bool built = vformat(cmd, fmt, args);
    va_end(args);
    if (!built) {
        LOG_ERRNO(LOG_ERR, "Could not allocate memory for command: %s", fmt);
        return false;
    }
    return ovra_system(cmd);
}

std::string str_printf(const char* fmt, ...) {
    std::string out;
    va_list args;
    va_start(args, fmt);
    vformat(out, fmt, args);
    va_end(args);
    return out;
}

Pipe pipe_open_or_die(const char* module, int line, const std::string& cmd) {
    Pipe pipe(popen(cmd.c_str(), "r"));
    if (!pipe) {
        log_errno_msg(LOG_EMERG, module, line, "Could not popen '%s'", cmd.c_str());
        std::abort();
    }
    return pipe;
}

int pipe_close(Pipe& pipe) {
    return pclose(pipe.release());
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
