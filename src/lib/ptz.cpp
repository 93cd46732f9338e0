#include "lib/ptz.hpp"

#include <algorithm>
#include <cstdio>

#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/sysutil.hpp"

#define LOG_MODULE "lib/ptz"

namespace {

constexpr const char* kNamesCommand =
    "gdbus call -y -d com.norv.Ptz1 -o /com/norv/Ptz1/Channel/1 -m "
    "com.norv.Ptz1.Channel.GetPresets";
constexpr const char* kSignalsCommand =
    "gdbus monitor -y -d com.norv.Ptz1 -o /com/norv/Ptz1/Channel/1";
constexpr size_t kNameMax = 255;
constexpr size_t kMaxDigits = 6;
constexpr unsigned kFirstPause = 10;
constexpr unsigned kLongestPause = 600;
constexpr gint64 kShortRun = 60 * G_USEC_PER_SEC;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The number of at most six digits at `at`; 0 when there are none.
unsigned long leading_number(std::string_view text, size_t at) {
    unsigned long number = 0;
    for (size_t n = 0; n < kMaxDigits && at < text.size() && is_digit(text[at]); ++n, ++at) {
        number = number * 10 + static_cast<unsigned long>(text[at] - '0');
    }
    return number;
}

// One quoted string of gdbus's output, from its opening quote at `at` on; `at` ends after its
// closing quote. gdbus quotes a name that holds an apostrophe with double quotes and escapes
// the quote and the backslash inside it: they are taken back, other escapes stay as printed.
std::string unquote(std::string_view text, size_t& at) {
    const char quote = text[at++];
    std::string name;
    while (at < text.size() && text[at] != quote) {
        if (text[at] == '\\' && at + 1 < text.size()) {
            char next = text[at + 1];
            if (next != quote && next != '\\') {
                name += '\\';
            }
            ++at;
        }
        name += text[at++];
    }
    ++at;
    return name;
}

// `name` cut to kNameMax bytes, never inside a UTF-8 character.
void cut_name(std::string& name) {
    if (name.size() <= kNameMax) {
        return;
    }
    size_t end = kNameMax;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
        --end;
    }
    name.resize(end);
}

std::optional<ptz_name_table> generate_name_table() {
    std::string reply;
    {
        Pipe pipe = PIPE_OPEN(kNamesCommand);
        std::string line;
        while (file_read_line(pipe.get(), line)) {
            reply += line + "\n";
        }
    }
    return ptz_parse_name_table(reply);
}

// Returns when the signal stream ends.
void follow_movements(const ptz_name_table& table) {
    Pipe pipe = PIPE_OPEN_TIED(kSignalsCommand);
    std::string line;
    while (file_read_line(pipe.get(), line)) {
        std::optional<ptz_movement> movement = ptz_parse_signal_line(line);
        const std::string* name = movement ? ptz_preset_name(table, movement->nname) : nullptr;
        if (name == nullptr) {
            continue;
        }
        if (movement->stat == 2) {
            log_msg(LOG_INFO, "Preset Movement: Preset Moving \"%s\"", name->c_str());
        } else if (movement->stat == 1) {
            log_msg(LOG_INFO, "Preset Movement: Preset Reached \"%s\" reached", name->c_str());
        }
    }
}

}  // namespace

std::optional<ptz_name_table> ptz_parse_name_table(std::string_view reply) {
    std::string_view first_line = reply.substr(0, reply.find('\n'));
    size_t blank = first_line.find(' ');
    ptz_name_table table;
    table.length = blank == std::string_view::npos ? 0 : leading_number(first_line, blank + 1);
    if (table.length == 0) {
        return std::nullopt;
    }
    for (size_t at = reply.find_first_of("'\"", 1);
         at != std::string_view::npos && table.names.size() < table.length;
         at = reply.find_first_of("'\"", at)) {
        table.names.push_back(unquote(reply, at));
        cut_name(table.names.back());
    }
    return table;
}

const std::string* ptz_preset_name(const ptz_name_table& table, unsigned long number) {
    return number >= 1 && number <= table.names.size() ? &table.names[number - 1] : nullptr;
}

std::optional<ptz_movement> ptz_parse_signal_line(std::string_view line) {
    size_t key = line.find("'PresetStatus':");
    if (line.find("org.freedesktop.DBus.Properties.PropertiesChanged") == std::string_view::npos ||
        key == std::string_view::npos) {
        return std::nullopt;
    }
    // "(uint32 2, uint32 3)": the digit after the first blank, the number after the third.
    size_t blanks[3];
    size_t at = line.find('(', key);
    for (size_t& blank : blanks) {
        at = line.find(' ', at);
        if (at == std::string_view::npos || at + 1 >= line.size()) {
            return std::nullopt;
        }
        blank = at++;
    }
    ptz_movement movement;
    movement.stat = is_digit(line[blanks[0] + 1]) ? line[blanks[0] + 1] - '0' : 0;
    movement.nname = leading_number(line, blanks[2] + 1);
    return movement;
}

void ptz_track(const std::function<bool(unsigned seconds)>& pause) {
    log_msg(LOG_INFO, "Entering %s", "ptz_loop");
    std::optional<ptz_name_table> table = generate_name_table();
    if (!table) {
        log_msg(LOG_INFO,
                "Could not get PTZ preset names, probably due to old firmware. PTZ preset "
                "movement tracking have been disabled.");
        return;
    }
    unsigned wait = 0;
    for (;;) {
        gint64 started = g_get_monotonic_time();
        follow_movements(*table);
        // A monitor that keeps failing at once must neither spin nor flood the log.
        bool brief = g_get_monotonic_time() - started < kShortRun;
        wait = brief && wait != 0 ? std::min(wait * 2, kLongestPause) : kFirstPause;
        log_msg(LOG_WARNING, "PTZ preset movement tracking stopped, it will restart in %u seconds.",
                wait);
        if (!pause(wait)) {
            return;
        }
        // The presets may have changed meanwhile. A service that answered before is no old
        // firmware: while it gives no names (still starting, say) the old ones serve.
        if (std::optional<ptz_name_table> fresh = generate_name_table()) {
            table = std::move(fresh);
        }
    }
}

gpointer ptz_loop(gpointer) {
    ptz_track([](unsigned seconds) {
        g_usleep(seconds * G_USEC_PER_SEC);
        return true;
    });
    return nullptr;
}
