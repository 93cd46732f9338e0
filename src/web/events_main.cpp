// kelvane_events: the package's event log. Whoever starts it pipes a device event listener's text
// output into its standard input; it logs one system-log line per metadata event and ends at the
// end of its input.
#include <cstdio>
#include <cstring>
#include <new>

#include "lib/log.hpp"
#include "web/events.hpp"

#define LOG_MODULE "web/events_main"

namespace {

void print_usage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: EVENT_LISTENER | kelvane_events\n"
                 "Reads a device event listener's text output on standard input and logs one\n"
                 "system-log line per metadata event (\"Metadata Event <time stamp> <topics>\").\n"
                 "Ends at the end of its input. Lines longer than %zu characters are cut.\n",
                 kEventLineMax);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        print_usage(stdout);
        return 0;
    }
    if (argc != 1) {
        print_usage(stderr);
        return 2;
    }
    std::set_new_handler(log_out_of_memory);
    log_open();
    size_t cut = events_feed(stdin);
    if (cut > 0) {
        log_msg(LOG_WARNING, "Event stream: %zu lines longer than %zu characters were cut", cut,
                kEventLineMax);
    }
    return 0;
}
