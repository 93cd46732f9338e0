// Every parser of device output against captured text: tests/data/parsers/<parser>.txt holds the
// cases, "<<< argument" then the input, ">>>" then the expected rendering (and what was logged).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <sstream>

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

std::string opt(const std::optional<std::string>& value) {
    return value ? "\"" + *value + "\"" : "none";
}

// Applies `fn` to each input line, one result line each.
Parser per_line(std::function<std::string(const std::string&)> fn) {
    return [fn](const std::string&, const std::string& input) {
        std::string out;
        for (const std::string& line : str_lines(input)) {
            out += fn(line) + "\n";
        }
        return out;
    };
}

std::string render_storages(const std::string& input) {
    std::optional<StorageList> storages = storage_reply_parse(str_lines(input));
    if (!storages) {
        return "rejected\n";
    }
    std::string out;
    for (const StorageInfo& s : *storages) {
        std::string flags;
        for (bool f : {s.disruption, s.available, s.removed, s.locked, s.full, s.read_only,
                       s.exiting, s.recording, s.recipient, s.read_write_failure,
                       s.encryptionenabled, s.diskencrypted}) {
            flags += f ? '1' : '0';
        }
        out += opt(s.disk_id) + " " + opt(s.friendly_name) + " " + opt(s.mount_point) + " " +
               opt(s.status) + " " + std::to_string(s.disk_type) + " " + flags +
               (s.malformed ? " malformed" : "") + (is_storage_ok(s) ? " ok\n" : " not-ok\n");
    }
    return out;
}

std::string render_net_dev(const std::string& input) {
    hashtable_key_ordering_t ordering{
        0, {}, "", g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free)};
    std::map<std::string, std::string> table;
    int code = parse_proc_net_dev(input, &ordering);
    GHashTableIter it;
    gpointer key, value;
    for (g_hash_table_iter_init(&it, ordering.map); g_hash_table_iter_next(&it, &key, &value);) {
        table[static_cast<char*>(key)] = static_cast<char*>(value);
    }
    g_hash_table_destroy(ordering.map);
    std::string out = code == 0 ? "" : "failed\n";
    for (const auto& [k, v] : table) {
        out += k + "=" + v + "\n";
    }
    return out;
}

const std::map<std::string, Parser>& parsers() {
    static const std::map<std::string, Parser> table = {
        {"buddyinfo",
         [](const std::string&, const std::string& input) {
             buddyinfo_table t = parse_buddyinfo(input);
             std::string out;
             for (size_t zone = 0; zone < buddyinfo_table::kZones; ++zone) {
                 out += buddyinfo_table::kZoneNames[zone];
                 for (size_t order = 0; order <= t.highest_order; ++order) {
                     out += " " + std::to_string(t.counts[zone][order]);
                 }
                 out += "\n";
             }
             return out;
         }},
        {"session_state",
         [](const std::string&, const std::string& input) {
             MonitoringSession s = monitoring_session_parse(input);
             return s ? opt(s->storage_id) + " " + opt(s->session_path) + " " +
                            opt(s->monitor_start_time) + "\n"
                      : "none\n";
         }},
        {"df",
         [](const std::string&, const std::string& input) {
             std::optional<std::string> bad;
             int use = df_parse_use_pcent(input, bad);
             return std::to_string(use) + " " + opt(bad) + "\n";
         }},
        {"du",
         [](const std::string&, const std::string& input) {
             return std::to_string(du_parse_bytes(input)) + "\n";
         }},
        {"ps_grep",
         [](const std::string& arg, const std::string& input) {
             return lines_include(input, arg) ? "1\n" : "0\n";
         }},
        {"storage_reply",
         [](const std::string&, const std::string& input) { return render_storages(input); }},
        {"dbus_members",
         [](const std::string&, const std::string& input) {
             std::string out;
             for (const DbusMember& m : dbus_reply_members(str_lines(input))) {
                 std::optional<int32_t> i = dbus_parse_int32(m.text);
                 std::optional<bool> b = dbus_parse_boolean(m.text);
                 out += std::to_string(m.indent) + " " + m.type + " " + opt(m.value) + " " +
                        (i ? std::to_string(*i) : "-") + " " + (b ? (*b ? "true" : "false") : "-") +
                        "\n";
             }
             return out;
         }},
        {"proc_net_dev",
         [](const std::string&, const std::string& input) { return render_net_dev(input); }},
        {"meminfo_line", per_line([](const std::string& line) {
             auto field = parse_meminfo_line(line);
             return field ? field->first + "=" + field->second : "none";
         })},
        {"load_average", per_line([](const std::string& line) {
             auto loads = parse_load_average(line);
             return loads ? (*loads)[0] + "|" + (*loads)[1] + "|" + (*loads)[2] : "none";
         })},
        {"vmstat_line",
         per_line([](const std::string& line) { return opt(vmstat_parse_line(line, 20)); })},
        {"top_line", per_line([](const std::string& line) {
             auto pid = top_line_first_number(line);
             auto pcts = top_line_percentages(line);
             return (pid ? std::to_string(*pid) : "none") + " " +
                    (pcts ? std::to_string(pcts->first) + "," + std::to_string(pcts->second)
                          : "none");
         })},
        {"sensor_name_line", per_line([](const std::string& line) {
             std::string name;
             auto n = parse_sensor_name_line(line, name);
             return n ? std::to_string(*n) + " " + name : "none";
         })},
        {"count_reply",
         [](const std::string&, const std::string& input) {
             auto n = parse_count_reply(str_lines(input));
             return (n ? std::to_string(*n) : "none") + "\n";
         }},
        {"controller_reply",
         [](const std::string& arg, const std::string& input) {
             Lines lines = str_lines(input);
             int index =
                 arg.find(' ') == std::string::npos ? 0 : std::stoi(arg.substr(arg.find(' ')));
             return opt(arg.starts_with("temperature") ? temperature_reply_value(lines, index)
                        : arg.starts_with("fan")       ? fan_reply_value(lines, index)
                                                       : heater_reply_value(lines)) +
                    "\n";
         }},
        {"stream_cells",
         [](const std::string&, const std::string& input) {
             return stream_history_cells(str_lines(input)) + "\n";
         }},
        {"session_info_values", per_line([](const std::string& line) {
             return opt(update_data_points(line)) + " " + opt(update_duration(line));
         })},
        {"ptz_test_settings",
         [](const std::string& arg, const std::string& input) {
             DeviceRoot dev;
             dev.write(std::string(arg == "interval" ? device::kPtzTestIntervalFile
                                                     : device::kPtzTestTimesFile),
                       input);
             return arg == "interval" ? std::to_string(ptz_test_interval_get()) + "\n"
                                      : opt(ptz_test_given_times_get()) + "\n";
         }},
        {"password",
         [](const std::string&, const std::string& input) {
             std::string text = input;
             std::FILE* in = fmemopen(text.data(), text.size(), "r");
             std::optional<std::string> password = read_password(in);
             std::fclose(in);
             return opt(password) + "\n";
         }},
        {"camera_has_ptz", per_line([](const std::string& line) {
             std::string name = line.substr(0, line.find('|'));
             std::string type = line.substr(line.find('|') + 1);
             return camera_has_ptz(name.c_str(), type.c_str()) ? "ptz" : "fixed";
         })},
        {"monitory_dir",
         [](const std::string&, const std::string& input) {
             // "d <path>" is made before any is checked; "- <path>" is not.
             DeviceRoot dev;
             Lines lines = str_lines(input);
             for (const std::string& line : lines) {
                 if (line[0] == 'd') {
                     make_dirs(dev.root() + line.substr(2));
                 }
             }
             std::string out;
             for (const std::string& line : lines) {
                 out += is_monitory_dir((dev.root() + line.substr(2)).c_str()) ? "yes\n" : "no\n";
             }
             return out;
         }},
        {"suffix_bytes",
         per_line([](const std::string& line) { return suffix_bytes(std::stoll(line)); })},
    };
    return table;
}

// C escapes, so that the data files can hold any byte: \t \r \n \0 \xHH \\, and a final \c
// for a missing line feed.
std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        if (c == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
            continue;
        }
        static const std::map<char, std::string> kEscapes = {
            {'t', "\t"}, {'r', "\r"}, {'n', "\n"}, {'0', std::string(1, '\0')}, {'c', ""}};
        out += kEscapes.count(c) ? kEscapes.at(c) : std::string(1, c);
    }
    return out;
}

struct Case {
    std::string parser, arg, input, expected;
    int line;
};

std::vector<Case> load_cases() {
    std::vector<Case> cases;
    std::string dir = std::string(KELVANE_SOURCE_DIR) + "/tests/data/parsers";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::istringstream in(read_file(entry.path()).value_or(""));
        std::string name = entry.path().stem().string();
        bool expecting = false;
        int number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            if (line.rfind("<<<", 0) == 0) {
                cases.push_back({name, line.size() > 4 ? line.substr(4) : "", "", "", number});
                expecting = false;
            } else if (cases.empty() || cases.back().parser != name) {
                continue;  // comments before the first case
            } else if (line == ">>>") {
                expecting = true;
            } else {
                bool more = line.size() < 2 || line.substr(line.size() - 2) != "\\c";
                (expecting ? cases.back().expected : cases.back().input) +=
                    unescape(line) + (more ? "\n" : "");
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
