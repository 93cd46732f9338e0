// Captured device output against what is made of it. tests/data/parsers/<parser>.txt: each
// parser's cases, "<<< argument", the input, ">>>", the expected rendering and what was logged.
// tests/data/collectors/<collector>[-<case>]/: input/ is laid below the device root, expected/
// holds the files the collector leaves in the session's system_monitoring folder after two runs
// (time stamps as "T") and expected/log what it logged (the device root as ROOT). Beside
// them, bus/<mock>.json starts that mock on the device's bus, http/<name> is served as
// "/norv-cgi/<name>", and top stands in for top, "@PID@" in it and in the log being this process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
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
#include "lib/timeseries.hpp"
#include "support/bus.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;
using Parser = std::function<std::string(const std::string& arg, const std::string& input)>;

// What the parser of the running case handed back to be logged.
LogNotes notes;

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

// One line for each item, as `show` writes what `fn` makes of it.
template <typename R, typename F>
std::string rows(const R& items, F fn) {
    std::string out;
    for (const auto& item : items) {
        out += show(fn(item)) + "\n";
    }
    return out;
}

// A parser of one line, one result line for each input line.
template <typename F>
Parser each_line(F parse) {
    return [parse](const std::string&, const std::string& input) {
        return rows(str_lines(input), parse);
    };
}

const std::map<std::string, Parser>& parsers() {
    static const std::map<std::string, Parser> table = {
        {"session_state", whole([](std::string_view text) {
             MonitoringSession s = monitoring_session_parse(text, notes);
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
        {"storage_reply",
         [](const std::string&, const std::string& input) {
             StorageReply reply = storage_reply_parse(str_lines(input));
             notes = reply.notes;
             notes.insert(notes.end(), reply.cut.begin(), reply.cut.end());
             if (!reply.cut.empty()) {
                 return std::string("rejected\n");
             }
             return rows(reply.storages, [](const StorageInfo& s) {
                 return std::tuple(s.disk_id, s.friendly_name, s.mount_point, s.status, s.disk_type,
                                   s.disruption, s.available, s.removed, s.locked, s.full,
                                   s.read_only, s.exiting, s.recording, s.recipient,
                                   s.read_write_failure, s.encryptionenabled, s.diskencrypted,
                                   s.malformed, is_storage_ok(s));
             });
         }},
        {"storage_command",
         [](const std::string& ending, const std::string& reply) {
             BusyBoxPath tools;
             write_file(tools.dir() + "/dbus-send",
                        "#!/bin/sh\ncat <<'.'\n" + reply + ".\n" + ending);
             fs::permissions(tools.dir() + "/dbus-send", fs::perms::owner_all);
             return show(get_storages().size()) + "\n";
         }},
        {"dbus_members",
         [](const std::string&, const std::string& input) {
             return rows(dbus_reply_members(str_lines(input)), [](const DbusMember& m) {
                 return std::tuple(m.indent, m.type, m.value, dbus_parse_int32(m.text),
                                   dbus_parse_boolean(m.text));
             });
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
        {"temperature_reply", whole([](const Lines& lines, int sensor) {
             return temperature_reply_value(lines, sensor, notes);
         })},
        {"fan_reply",
         whole([](const Lines& lines, int fan) { return fan_reply_value(lines, fan, notes); })},
        {"heater_reply",
         whole([](const Lines& lines) { return heater_reply_value(lines, notes); })},
        {"stream_cells", whole(stream_history_cells)},
        {"session_info_values", each_line([](const std::string& line) {
             return std::pair(update_data_points(line), update_duration(line));
         })},
        {"ptz_test_settings", whole([](const std::string& input) {
             write_file(device::path(device::kPtzTestIntervalFile), input);
             write_file(device::path(device::kPtzTestTimesFile), input);
             return std::pair(ptz_test_interval_get(), ptz_test_given_times_get());
         })},
        {"password", whole([](std::string text) {
             File in(fmemopen(text.data(), text.size(), "r"));
             return read_password(in.get());
         })},
        {"camera_has_ptz", each_line([](const std::string& line) {
             size_t bar = line.find('|');
             return camera_has_ptz(line.substr(0, bar).c_str(), line.substr(bar + 1).c_str());
         })},
        {"monitory_dir", each_line([](const std::string& line) {
             std::string path = device::path(line.substr(2));
             if (line[0] == 'd') {
                 make_dirs(path);
             }
             return is_monitory_dir(path.c_str());
         })},
        {"suffix_bytes",
         each_line([](const std::string& line) { return suffix_bytes(std::stoll(line)); })},
    };
    return table;
}

// "\xHH" stands for any byte and a final "\c" leaves out the line feed, so that the data files
// can hold them.
std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, "\\c\n") == 0) {
            i += 2;
        } else if (text.compare(i, 2, "\\x") == 0 && i + 4 <= text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// log_lines, with the line numbers that some messages give as codes masked too.
std::string logged(const LogCapture& log, const DeviceRoot& dev) {
    static const std::regex line_number(R"((FAILED |parsing: )\d+)");
    return std::regex_replace(log_lines(log, dev), line_number, "$1N");
}

// Start-up, then a sample, as the daemon does them.
void store_environment(const std::string& session) {
    number_of_heaters = number_of_fans = 1;  // kept when the controller can't count them
    init_environment_monitor_settings("root", "pass");
    std::string folder = monitoring_folder(session, "monitoring_environment");
    store_temperatures_celsius(folder);
    store_heater_status(folder);
    store_fan_status(folder);
}

const std::map<std::string, std::function<void(const std::string&)>> kCollectors = {
    {"meminfo", store_proc_meminfo},
    {"buddyinfo", create_buddyinfo_snapshot},
    {"pagefaults", create_pagefault_snapshot},
    {"net_dev", store_proc_net_dev},
    {"radar", store_radar_data},
    {"environment", store_environment},
    {"self",
     [](const std::string& session) {
         store_self_monitoring(monitoring_folder(session, "monitoring_self"));
     }},
};

// Every file below `dir` by relative path, with its time stamps masked.
std::map<std::string, std::string> files_below(const std::string& dir) {
    std::map<std::string, std::string> files;
    std::error_code missing;  // a folder that isn't there has no files
    for (const auto& entry : fs::recursive_directory_iterator(dir, missing)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), dir).string()] = read_stamped(entry.path());
        }
    }
    return files;
}

}  // namespace

TEST(Parsers, CapturedTextGivesTheExpectedValue) {
    for (const auto& entry : fs::directory_iterator(KELVANE_SOURCE_DIR "/tests/data/parsers")) {
        std::vector<std::array<std::string, 3>> cases;  // argument, input, expected
        size_t part = 0;
        for (const std::string& line : str_lines(read_file(entry.path()).value_or(""))) {
            if (line.starts_with("<<<")) {
                cases.push_back({line.substr(std::min<size_t>(4, line.size())), "", ""});
                part = 1;
            } else if (line == ">>>" && part == 1) {
                part = 2;
            } else if (part > 0) {
                cases.back()[part] += line + "\n";
            }
        }
        const std::string parser = entry.path().stem();
        for (const auto& [arg, input, expected] : cases) {
            DeviceRoot dev;
            LogCapture log;
            errno = 0;
            std::string out = parsers().at(parser)(arg, unescape(input));
            for (const LogNote& note : std::exchange(notes, {})) {
                out += std::to_string(note.level) + " " + note.text + "\n";
            }
            EXPECT_EQ(out + logged(log, dev), unescape(expected))
                << parser << " <<< " << arg << "\n"
                << input;
        }
    }
}

// "<collector>-<case>" is another case of the same collector.
TEST(Collectors, LeaveTheExpectedFiles) {
    for (const auto& entry : fs::directory_iterator(KELVANE_SOURCE_DIR "/tests/data/collectors")) {
        const std::string name = entry.path().filename();
        const std::string data = entry.path();
        DeviceRoot dev;
        PrivateBus bus;
        BusyBoxPath tools;
        LogCapture log;
        dev.link("/usr/bin/curl", "/usr/bin/curl");
        std::error_code missing;  // not every case has input
        fs::copy(data + "/input", dev.root(), fs::copy_options::recursive, missing);
        for (const auto& [mock, parameters] : files_below(data + "/bus")) {
            bus.start(fs::path(mock).stem(), parameters);
        }
        std::optional<HttpServer> http;
        for (const auto& [page, body] : files_below(data + "/http")) {
            (http ? *http : http.emplace("root", "pass")).serve(page, body);
        }
        const std::string pid = std::to_string(getpid());
        if (std::optional<std::string> top = read_file(data + "/top")) {
            write_file(tools.dir() + "/top", std::regex_replace(*top, std::regex("@PID@"), pid));
            fs::permissions(tools.dir() + "/top", fs::perms::owner_all);
        }
        std::string session =
            lay_down_session(dev, dev.root() + "/storage/", "SD_DISK").session_path;
        filehandler_state_reset();
        for (int run = 0; run < 2; ++run) {
            errno = 0;
            kCollectors.at(name.substr(0, name.find('-')))(session);
        }
        std::map<std::string, std::string> files = files_below(session + "/system_monitoring");
        std::map<std::string, std::string> expected = files_below(data + "/expected");
        files["log"] = logged(log, dev);
        expected["log"] = std::regex_replace(expected["log"], std::regex("@PID@"), pid);
        EXPECT_EQ(files, expected) << name;
    }
}
