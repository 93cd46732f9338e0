#include "lib/log.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "lib/strutil.hpp"

#define LOG_MODULE "lib/log"

namespace {

LogSink& sink() {
    static LogSink s;
    return s;
}

std::vector<std::string>& secrets() {
    static std::vector<std::string> s;
    return s;
}

// A failed command is logged whole, credentials included, and the system log leaves the
// device with every support export.
std::string mask_secrets(std::string text) {
    static constexpr std::string_view kMask = "********";
    for (const std::string& secret : secrets()) {
        for (size_t at = text.find(secret); at != std::string::npos;
             at = text.find(secret, at + kMask.size())) {
            text.replace(at, secret.size(), kMask);
        }
    }
    return text;
}

void emit(int level, const std::string& raw) {
    std::string text = mask_secrets(raw);
    // syslog keeps the tracker thread's records whole by itself; a sink needs the lock.
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
    if (sink()) {
        sink()(level, text);
    } else {
        syslog(level, "%s", text.c_str());
    }
}

}  // namespace

void log_open() {
    openlog("", LOG_PID | LOG_CONS, LOG_USER);
}

void log_mask_secrets(std::vector<std::string> list) {
    std::erase(list, std::string());
    // Longest first, so that an escaped form is masked whole before the plain one inside it.
    std::sort(list.begin(), list.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    secrets() = std::move(list);
}

void log_set_sink(LogSink s) {
    sink() = std::move(s);
}

const char* log_errno_text() {
    return errno != 0 ? std::strerror(errno) : "None";
}

void log_msg(int level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text;
    str_vprintf(text, fmt, args);
    va_end(args);
    emit(level, text);
}

void log_errno_msg(int level, const char* module, int line, const char* fmt, ...) {
    std::string text = "(";
    text += module;
    text += ':';
    text += std::to_string(line);
    text += ", errno: ";
    text += log_errno_text();
    text += ") ";
    va_list args;
    va_start(args, fmt);
    std::string message;
    str_vprintf(message, fmt, args);
    text += message;
    va_end(args);
    emit(level, text);
    errno = 0;
}

void log_notes(const char* module, int line, const LogNotes& notes) {
    for (const LogNote& note : notes) {
        if (note.level <= LOG_ERR) {
            errno = 0;
            log_errno_msg(note.level, module, line, "%s", note.text.c_str());
        } else {
            log_msg(note.level, "%s", note.text.c_str());
        }
    }
}

void log_gerror(GError** error) {
    if (error != nullptr && *error != nullptr) {
        log_msg(LOG_WARNING, "%s", (*error)->message);
        g_clear_error(error);
    }
}

void log_out_of_memory() {
    // No allocation on this path: syslog formats into its own buffer.
    if (sink()) {
        sink()(LOG_EMERG, "Out of memory.");
    } else {
        syslog(LOG_EMERG, "(%s:%d, errno: %s) Out of memory.", LOG_MODULE, __LINE__,
               log_errno_text());
    }
    std::abort();
}
