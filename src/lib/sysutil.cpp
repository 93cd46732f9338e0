#include "lib/sysutil.hpp"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <utility>

#include "lib/fileio.hpp"
#include "lib/strutil.hpp"

#define LOG_MODULE "lib/sysutil"

namespace {

bool is_plain_shell_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::string_view("_./:,+=@%-").find(c) != std::string_view::npos;
}

// In the vfork child, which shares the parent's memory: only system calls, then exec or _exit.
// A `tied` child is ended by the kernel when the thread that started it ends, also when the
// parent is killed; `parent` tells whether that happened before it could ask.
[[noreturn]] void shell_exec_child(const char* cmd, int out_fd, const sigset_t& mask, bool tied,
                                   pid_t parent) {
    if (tied && (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent)) {
        _exit(127);
    }
    // A handler of the parent must not run here, on the parent's stack, nor in the command.
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction action {};
        if (sigaction(sig, nullptr, &action) == 0 && action.sa_handler != SIG_DFL &&
            action.sa_handler != SIG_IGN) {
            action = {};
            action.sa_handler = SIG_DFL;
            sigaction(sig, &action, nullptr);
        }
    }
    if (out_fd == STDOUT_FILENO) {
        fcntl(out_fd, F_SETFD, 0);
    } else if (out_fd >= 0) {
        dup2(out_fd, STDOUT_FILENO);
    }
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    const char* argv[] = {"sh", "-c", cmd, nullptr};
    execve("/bin/sh", const_cast<char**>(argv), environ);
    _exit(127);
}

// Starts `cmd` under /bin/sh, its standard output on `out_fd` unless that is -1. vfork, because
// system() and popen() map and unmap a stack for every child, and on a camera that is most of
// what a command costs the daemon itself.
pid_t shell_spawn(const char* cmd, int out_fd, bool tied = false) {
    pid_t parent = getpid();
    sigset_t all;
    sigset_t mask;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &mask);
    int before = errno;
    pid_t pid = vfork();
    if (pid == 0) {
        shell_exec_child(cmd, out_fd, mask, tied, parent);
    }
    // The child's calls wrote this thread's errno too.
    int saved = pid == -1 ? errno : before;
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    errno = saved;
    return pid;
}

int wait_status(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return status;
}

}  // namespace

bool ovra_system(const char* cmd) {
    pid_t pid = shell_spawn(cmd, -1);
    int status = pid == -1 ? -1 : wait_status(pid);
    if (status == -1) {
        LOG_ERRNO(LOG_ERR, "Could not create child process: %s", cmd);
        return false;
    }
    if (!WIFEXITED(status)) {
        LOG_FAULT(LOG_ERR, "Unsuccessful command: %s", cmd);
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

Pipe& Pipe::operator=(Pipe&& other) noexcept {
    if (this != &other) {
        close();
        stream_ = std::exchange(other.stream_, nullptr);
        pid_ = other.pid_;
    }
    return *this;
}

int Pipe::close() {
    if (stream_ == nullptr) {
        return -1;
    }
    std::fclose(std::exchange(stream_, nullptr));
    return wait_status(pid_);
}

int Pipe::terminate() {
    if (stream_ != nullptr) {
        kill(pid_, SIGTERM);
    }
    return close();
}

Pipe pipe_open(const std::string& cmd, bool tied) {
    // Close-on-exec, so that no other command, of either thread, holds this pipe open.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return Pipe();
    }
    // The command takes the shell's place, so that the signal reaches the command itself.
    std::string line = tied ? "exec " + cmd : cmd;
    pid_t pid = shell_spawn(line.c_str(), fds[1], tied);
    close(fds[1]);
    std::FILE* stream = pid == -1 ? nullptr : fdopen(fds[0], "r");
    if (stream == nullptr) {
        int saved = errno;
        close(fds[0]);
        if (pid != -1) {
            wait_status(pid);
        }
        errno = saved;
        return Pipe();
    }
    return Pipe(stream, pid);
}

Pipe pipe_open_or_die(const char* module, int line, const std::string& cmd, bool tied) {
    Pipe pipe = pipe_open(cmd, tied);
    if (!pipe) {
        log_errno_msg(LOG_EMERG, module, line, "Could not popen '%s'", cmd.c_str());
        std::abort();
    }
    return pipe;
}

int pipe_close(Pipe& pipe) {
    return pipe.close();
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

namespace {

// `value` with each character as `put` appends it.
template <typename F>
std::string escape_each(std::string_view value, F put) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        put(out, c);
    }
    return out;
}

}  // namespace

std::string shell_escape_double_quoted(std::string_view value) {
    return escape_each(value, [](std::string& out, char c) {
        if (c == '\\' || c == '"' || c == '$' || c == '`') {
            out += '\\';
        }
        out += c;
    });
}

std::string shell_escape_single_quoted(std::string_view value) {
    return escape_each(value, [](std::string& out, char c) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    });
}

std::string shell_escape_unquoted(std::string_view value) {
    return escape_each(value, [](std::string& out, char c) {
        if (c == '\n') {
            // A backslash-newline is a line continuation; only quotes keep a newline.
            out += "'\n'";
            return;
        }
        if (!is_plain_shell_char(c)) {
            out += '\\';
        }
        out += c;
    });
}
