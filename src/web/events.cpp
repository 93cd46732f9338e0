#include "web/events.hpp"

#include <string>

#include "lib/eventlistener.hpp"

#define LOG_MODULE "web/events"

namespace {

// One line into `line`, at most kEventLineMax characters of it; memory stays bounded whatever
// the stream holds. False at the end of input.
bool read_bounded_line(std::FILE* in, std::string& line, bool& cut) {
    line.clear();
    cut = false;
    int c = 0;
    bool any = false;
    while ((c = std::getc(in)) != EOF) {
        any = true;
        if (c == '\n') {
            break;
        }
        if (line.size() < kEventLineMax) {
            line += static_cast<char>(c);
        } else {
            cut = true;
        }
    }
    if (!line.empty() && line.back() == '\r' && !cut) {
        line.pop_back();
    }
    return any;
}

}  // namespace

size_t events_feed(std::FILE* in) {
    size_t cut_lines = 0;
    std::string line;
    line.reserve(kEventLineMax + 1);
    bool cut = false;
    while (read_bounded_line(in, line, cut)) {
        cut_lines += cut ? 1 : 0;
        parse_eventlistener_line(line.data());
    }
    return cut_lines;
}
