// libFuzzer targets for the parsers of what the device and the state file give. The target is
// named by KELVANE_FUZZ_TARGET; without it the binary lists each target with its starting
// inputs (files or folders under the source tree) and exits.
#include <glib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "kelvane_daemon.hpp"
#include "lib/device.hpp"
#include "lib/environment.hpp"
#include "lib/filehandler.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/ptz_test.hpp"
#include "lib/session_globals.hpp"
#include "lib/storage_investigator.hpp"

namespace {

std::string scratch;  // a folder standing for the device root and a session folder

void each_line(const std::string& text, void (*fn)(const std::string&)) {
    for (const std::string& line : str_lines(text)) {
        fn(line);
    }
}

struct Target {
    const char* name;
    const char* inputs;  // starting inputs, blank-separated, relative to tests/data
    void (*run)(const std::string& text);
};

const Target kTargets[] = {
    {"session_state", "parsers/session_state.txt",
     [](const std::string& t) { monitoring_session_parse(t); }},
    {"proc_net_dev", "parsers/proc_net_dev.txt collectors/net_dev/input/proc/net/dev",
     [](const std::string& t) {
         hashtable_key_ordering_t ordering{
             0, {}, "", g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free)};
         parse_proc_net_dev(t, &ordering);
         g_hash_table_destroy(ordering.map);
     }},
    {"meminfo", "parsers/meminfo_line.txt collectors/meminfo/input/proc/meminfo",
     [](const std::string& t) {
         each_line(t, [](const std::string& l) { parse_meminfo_line(l); });
     }},
    {"buddyinfo", "parsers/buddyinfo.txt collectors/buddyinfo/input/proc/buddyinfo",
     [](const std::string& t) { parse_buddyinfo(t); }},
    {"vmstat", "parsers/vmstat_line.txt collectors/pagefaults/input/proc/vmstat",
     [](const std::string& t) {
         each_line(t, [](const std::string& l) { vmstat_parse_line(l, 20); });
     }},
    {"storage_reply", "parsers/storage_reply.txt parsers/dbus_members.txt",
     [](const std::string& t) {
         if (std::optional<StorageList> list = storage_reply_parse(str_lines(t))) {
             if (const StorageInfo* s = storage_find(*list, "SD_DISK")) {
                 is_storage_ok(*s);
             }
         }
     }},
    {"controller_reply",
     "parsers/controller_reply.txt parsers/count_reply.txt parsers/sensor_name_line.txt",
     [](const std::string& t) {
         std::vector<std::string> lines = str_lines(t);
         for (int i : {0, 1, 12}) {
             temperature_reply_value(lines, i);
             fan_reply_value(lines, i);
         }
         heater_reply_value(lines);
         parse_count_reply(lines);
         std::string name;
         for (const std::string& l : lines) {
             parse_sensor_name_line(l, name);
         }
     }},
    {"stream_reply", "parsers/stream_cells.txt",
     [](const std::string& t) { stream_history_cells(str_lines(t)); }},
    {"top_uptime_ps", "parsers/top_line.txt parsers/load_average.txt parsers/ps_grep.txt",
     [](const std::string& t) {
         each_line(t, [](const std::string& l) {
             top_line_first_number(l);
             top_line_percentages(l);
             parse_load_average(l);
         });
         lines_include(t, "Kelvane");
     }},
    {"df_du", "parsers/df.txt parsers/du.txt",
     [](const std::string& t) {
         std::optional<std::string> bad;
         df_parse_use_pcent(t, bad);
         du_parse_bytes(t);
     }},
    {"session_info", "parsers/session_info_values.txt ../fuzz/corpus/session_info",
     [](const std::string& t) {
         file_replace_contents(scratch + "/Session_Information.txt", t);
         update_number_of_collected_data_points(scratch);
         update_session_duration(scratch);
     }},
    {"ptz_settings", "parsers/ptz_test_settings.txt",
     [](const std::string& t) {
         file_replace_contents(device::path(device::kPtzTestIntervalFile), t);
         file_replace_contents(device::path(device::kPtzTestTimesFile), t);
         ptz_test_interval_get();
         ptz_test_given_times_get();
     }},
};

const Target* target = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* name = std::getenv("KELVANE_FUZZ_TARGET");
    for (const Target& t : kTargets) {
        if (name == nullptr) {
            std::printf("%s %s\n", t.name, t.inputs);
        } else if (std::string(name) == t.name) {
            target = &t;
        }
    }
    if (target == nullptr) {
        std::exit(name == nullptr ? 0 : 2);
    }
    // Millions of inputs must not reach the system log.
    log_set_sink([](int, const std::string&) {});
    // The files are replaced the durable way (fsync); in memory that costs little.
    std::string folder = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    folder += "/kelvane-fuzz-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(2);
    }
    scratch = folder;
    std::atexit([] { std::filesystem::remove_all(scratch); });
    device::set_root(scratch);
    std::filesystem::create_directories(device::path(device::kLocalDataDir));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    target->run(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
