#include "lib/ovra_nettools.hpp"

#include <cstdio>
#include <string>

#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/sysutil.hpp"

#define LOG_MODULE "lib/ovra_nettools"

namespace {

// A whole line as the command printed it, line end included when it had one.
bool read_output_line(std::FILE* out, std::string& line) {
    if (!file_read_line(out, line)) {
        return false;
    }
    if (!std::feof(out)) {
        line += '\n';
    }
    return true;
}

// The web tool's answer shows each line followed by an empty one, as soon as it comes. False
// when standard output failed: the one who asked has gone.
bool print_line(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

}  // namespace

int ovra_nettools_ping(const char* address) {
    if (address == nullptr) {
        log_msg(LOG_INFO, "Network Tools: Ping %s failed", "(null)");
        return -1;
    }
    // The caller validates the address, but nothing typed by a user reaches the shell unescaped.
    Pipe pipe =
        PIPE_OPEN(str_printf("ping \"%s\" 2>&1", shell_escape_double_quoted(address).c_str()));
    bool alive = false;
    bool heard = true;
    std::string line;
    while (heard && read_output_line(pipe.get(), line)) {
        alive = alive || line.find("is alive") != std::string::npos;
        heard = print_line(line);
    }
    log_msg(LOG_INFO, alive ? "Network Tools: Ping %s successful" : "Network Tools: Ping %s failed",
            address);
    // Nobody reads the answer any more: the command need not go on.
    return heard ? pipe_close(pipe) : pipe.terminate();
}

int ovra_nettools_traceroute(const char* command) {
    if (command == nullptr) {
        return -1;
    }
    Pipe pipe = PIPE_OPEN(std::string(command));
    bool in_silent_run = false;
    bool heard = true;
    std::string line;
    while (heard && read_output_line(pipe.get(), line)) {
        heard = print_line(line);
        // A run of hops that gave no answer says nothing new after its first line.
        bool silent = line.find("* * *") != std::string::npos;
        if (!silent || !in_silent_run) {
            log_msg(LOG_INFO, "Traceroute: %s", line.c_str());
        }
        in_silent_run = silent;
    }
    return heard ? pipe_close(pipe) : pipe.terminate();
}
