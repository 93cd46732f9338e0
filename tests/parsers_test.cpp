// Every parser of device output against captured text: tests/data/parsers/<parser>.txt holds the
// cases, "<<< argument" then the input, ">>>" then the expected rendering (and what was logged).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>

#include "kelvane_daemon.hpp"
#include "lib/dbus_reply.hpp"
#include "lib/device.hpp"
#include "lib/environment.hpp"
#include "lib/filehandler.hpp"
#include "lib/ptz_test.hpp"
#include "lib/session_globals.hpp"
#include "lib/storage_investigator.hpp"
#include "lib/strutil.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

using Lines = std::vector<std::string>;
using Parser = std::function<std::string(const std::string& arg, const std::string& input)>;

// A value as the tables write it: strings quoted, "none" for nothing, the members of a pair,
// tuple or array apart by blanks.
template <typename T>
std::string show(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (std::is_arithmetic_v<T>) {
        return std::to_string(value);
    } else if constexpr (std::is_same_v<T, std::string>) {
        return "\"" + value + "\"";
    } else if constexpr (requires { value.has_value(); }) {
        return value ? show(*value) : "none";
    } else {
        return std::apply(
            [](const auto&... member) { return ((" " + show(member)) + ...).substr(1); }, value);
    }
}

// A parser of the whole input, as text or as lines, given the case's argument when it takes one.
template <typename F>
Parser whole(F parse) {
    return [parse](const std::string& arg, const std::string& input) {
        if constexpr (std::is_invocable_v<F, std::string>) {
            return show(parse(input)) + "\n";
        } else if constexpr (std::is_invocable_v<F, Lines>) {
            return show(parse(str_lines(input))) + "\n";
        } else if constexpr (std::is_invocable_v<F, Lines, int>) {
            return show(parse(str_lines(input), std::stoi(arg))) + "\n";
        } else {
            return show(parse(input, arg)) + "\n";
        }
    };
}

// A parser of one line, one result line for each input line.
template <typename F>
Parser each_line(F parse) {
    return [parse](const std::string&, const std::string& input) {
        std::string out;
        for (const std::string& line : str_lines(input)) {
            out += show(parse(line)) + "\n";
        }
        return out;
    };
}

std::string render_storages(const std::string&, const std::string& input) {
    std::optional<StorageList> storages = storage_reply_parse(str_lines(input));
    std::string out = storages ? "" : "rejected\n";
    for (const StorageInfo& s : storages.value_or(StorageList())) {
        std::string flags;
        for (bool f : {s.disruption, s.available, s.removed, s.locked, s.full, s.read_only,
                       s.exiting, s.recording, s.recipient, s.read_write_failure,
                       s.encryptionenabled, s.diskencrypted}) {
            flags += f ? '1' : '0';
        }
        out += show(std::tuple(s.disk_id, s.friendly_name, s.mount_point, s.status, s.disk_type,
                               flags, s.malformed, is_storage_ok(s))) +
               "\n";
    }
    return out;
}

const std::map<std::string, Parser>& parsers() {
    static const std::map<std::string, Parser> table = {
        {"session_state", whole([](std::string_view text) {
             MonitoringSession s = monitoring_session_parse(text);
             return s ? std::optional(
                            std::tuple(s->storage_id, s->session_path, s->monitor_start_time))
                      : std::nullopt;
         })},
        {"df", whole([](std::string_view output) {
             std::optional<std::string> bad;
             int use = df_parse_use_pcent(output, bad);
             return std::pair(use, bad);
         })},
        {"du", whole(du_parse_bytes)},
        {"ps_grep", whole(lines_include)},
        {"storage_reply", render_storages},
        {"dbus_members",
         [](const std::string&, const std::string& input) {
             std::string out;
             for (const DbusMember& m : dbus_reply_members(str_lines(input))) {
                 out += show(std::tuple(m.indent, m.type, m.value, dbus_parse_int32(m.text),
                                        dbus_parse_boolean(m.text))) +
                        "\n";
             }
             return out;
         }},
        {"meminfo_line", each_line(parse_meminfo_line)},
        {"load_average", each_line(parse_load_average)},
        {"vmstat_line",
         each_line([](const std::string& line) { return vmstat_parse_line(line, 20); })},
        {"top_line", each_line([](const std::string& line) {
             return std::pair(top_line_first_number(line), top_line_percentages(line));
         })},
        {"sensor_name_line", each_line([](const std::string& line) {
             std::string name;
             std::optional<int> number = parse_sensor_name_line(line, name);
             return std::pair(number, name);
         })},
        {"count_reply", whole(parse_count_reply)},
        {"temperature_reply", whole(temperature_reply_value)},
        {"fan_reply", whole(fan_reply_value)},
        {"heater_reply", whole(heater_reply_value)},
        {"stream_cells", whole(stream_history_cells)},
        {"session_info_values", each_line([](const std::string& line) {
             return std::pair(update_data_points(line), update_duration(line));
         })},
        {"ptz_test_settings",
         [](const std::string& arg, const std::string& input) {
             DeviceRoot dev;
             bool interval = arg == "interval";
             dev.write(
                 std::string(interval ? device::kPtzTestIntervalFile : device::kPtzTestTimesFile),
                 input);
             return (interval ? show(ptz_test_interval_get()) : show(ptz_test_given_times_get())) +
                    "\n";
         }},
        {"password", whole([](std::string text) {
             std::FILE* in = fmemopen(text.data(), text.size(), "r");
             std::optional<std::string> password = read_password(in);
             std::fclose(in);
             return password;
         })},
        {"camera_has_ptz", each_line([](const std::string& line) {
             size_t bar = line.find('|');
             return camera_has_ptz(line.substr(0, bar).c_str(), line.substr(bar + 1).c_str());
         })},
        {"monitory_dir",
         [](const std::string&, const std::string& input) {
             // "d <path>" is made before it is checked; "- <path>" is not.
             DeviceRoot dev;
             std::string out;
             for (const std::string& line : str_lines(input)) {
                 if (line[0] == 'd') {
                     make_dirs(dev.root() + line.substr(2));
                 }
                 out += show(is_monitory_dir((dev.root() + line.substr(2)).c_str())) + "\n";
             }
             return out;
         }},
        {"suffix_bytes",
         each_line([](const std::string& line) { return suffix_bytes(std::stoll(line)); })},
    };
    return table;
}

// C escapes, so that the data files can hold any byte: \t \r \n \0 \xHH \\, and a final \c
// for a missing line feed.
std::string unescape(const std::string& text) {
    static const std::string kNames = "trn0", kBytes("\t\r\n\0", 4);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        if (c == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (c != 'c') {
            out += kNames.find(c) == std::string::npos ? c : kBytes[kNames.find(c)];
        }
    }
    return out;
}

struct Case {
    std::string parser, arg, input, expected;
    size_t line;
};

std::vector<Case> load_cases() {
    std::vector<Case> cases;
    for (const auto& entry :
         std::filesystem::directory_iterator(KELVANE_SOURCE_DIR "/tests/data/parsers")) {
        std::string name = entry.path().stem().string();
        Lines lines = str_lines(read_file(entry.path()).value_or(""));
        std::string* text = nullptr;  // the input or expected text of the case read last
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            if (line.starts_with("<<<")) {
                cases.push_back({name, line.size() > 4 ? line.substr(4) : "", "", "", i + 1});
                text = &cases.back().input;
            } else if (line == ">>>" && text != nullptr) {
                text = &cases.back().expected;
            } else if (text != nullptr) {
                *text += unescape(line) + (line.ends_with("\\c") ? "" : "\n");
            }
        }
    }
    return cases;
}

class Parsers : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(Parsers, CapturedTextGivesTheExpectedValue) {
    const Case& c = GetParam();
    ASSERT_TRUE(parsers().count(c.parser)) << c.parser;
    LogCapture log;
    errno = 0;
    std::string out = parsers().at(c.parser)(c.arg, c.input);
    // Source lines change with every edit.
    static const std::regex line_number(R"((\([a-z_/]+:|FAILED )\d+)");
    for (const auto& [level, text] : log.entries()) {
        out += "log " + std::to_string(level) + " " + std::regex_replace(text, line_number, "$1N") +
               "\n";
    }
    EXPECT_EQ(out, c.expected) << c.parser << ".txt:" << c.line;
}

INSTANTIATE_TEST_SUITE_P(Data, Parsers, ::testing::ValuesIn(load_cases()),
                         [](const auto& param_info) {
                             return param_info.param.parser + "_" +
                                    std::to_string(param_info.param.line);
                         });
