#include "kelvane_daemon.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "lib/dateutil.hpp"
#include "lib/device.hpp"
#include "lib/environment.hpp"
#include "lib/file_lock.hpp"
#include "lib/filehandler.hpp"
#include "lib/fileutil.hpp"
#include "lib/interrupts.hpp"
#include "lib/log.hpp"
#include "lib/onvif.hpp"
#include "lib/ptz.hpp"
#include "lib/ptz_test.hpp"
#include "lib/session.hpp"
#include "lib/session_globals.hpp"
#include "lib/storage_investigator.hpp"
#include "lib/strutil.hpp"
#include "lib/sysutil.hpp"
#include "lib/timeseries.hpp"

#define LOG_MODULE "kelvane_daemon"

namespace {

constexpr size_t kPasswordMax = 255;
constexpr guint kMinuteTickSeconds = 60;
constexpr guint kScheduledTasksSeconds = 30;
constexpr guint kSizeMessageDelaySeconds = 10;
constexpr unsigned long kTimerCountWrap = 60000000;
constexpr const char* kPtzResetCommand =
    "dbus-send --system --type=method_call --dest=com.norv.PTZ.Coordinator "
    "/com/norv/PTZ/Coordinator/1 com.norv.PTZ.Coordinator.Auxiliary string:\"Operator\" "
    "int32:0 string:\"reset\"";

struct MainLoopUnref {
    void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
};

}  // namespace

const char* arg_full_name = nullptr;
const char* arg_prod_type = nullptr;
const char* arg_fremo_user = nullptr;
std::string arg_fremo_pass;

std::optional<std::string> read_password(std::FILE* in) {
    char buffer[kPasswordMax + 1];
    if (std::fgets(buffer, sizeof buffer, in) == nullptr) {
        return std::nullopt;
    }
    std::string password(buffer);
    if (auto newline = password.find('\n'); newline != std::string::npos) {
        password.resize(newline);
    }
    return password;
}

bool restore_session() {
    MonitoringSession session = monitoring_session_load();
    if (!session) {
        return false;
    }
    log_msg(LOG_INFO, "Continuing System Monitoring Session. Device was rebooted or lost power.");
    return true;
}

std::string version_line() {
    return str_printf("Kelvane version %s, compiled: %s %s", kKelvaneVersion, __DATE__, __TIME__);
}

void log_version(bool session_restored) {
    log_msg(session_restored ? LOG_DEBUG : LOG_INFO, "%s", version_line().c_str());
}

bool camera_has_ptz(const char* full_name, const char* prod_type) {
    return std::strstr(full_name, "PTZ") != nullptr || std::strstr(prod_type, "PTZ") != nullptr;
}

std::optional<std::string> vmstat_parse_line(const std::string& line, size_t target_len) {
    size_t space = line.find(' ');
    if (space == std::string::npos) {
        return std::nullopt;
    }
    std::string digits;
    for (size_t at = space + 1; at < line.size() && digits.size() + 1 < target_len; ++at) {
        if (line[at] < '0' || line[at] > '9') {
            break;
        }
        digits += line[at];
    }
    return digits;
}

std::string vmstat_get_val(const std::string& field, size_t target_len) {
    log_msg(LOG_DEBUG, "Getting vmstat val for %s", field.c_str());
    std::string cmd = str_printf("grep \"%s\" %s", shell_escape_double_quoted(field).c_str(),
                                 shell_escape_unquoted(device::path(device::kProcVmstat)).c_str());
    std::string line;
    {
        Pipe grep = PIPE_OPEN(cmd);
        if (!file_read_line(grep.get(), line)) {
            LOG_FAULT(LOG_ERR, "fgets returned null reading output of %s", cmd.c_str());
            return std::string();
        }
    }
    std::optional<std::string> value = vmstat_parse_line(line, target_len);
    if (!value) {
        log_msg(LOG_DEBUG, "No whitespace found in output of command '%s'", cmd.c_str());
        return std::string();
    }
    return *value;
}

void create_pagefault_snapshot(const std::string& session_path) {
    std::string date = csv_timestamp();
    csv_append(LOG_MODULE, __LINE__,
               monitoring_folder(session_path, "monitoring_kernel") + "/pagefaults.csv",
               "DATE,TIME,MINOR_FAULTS,MAJOR_FAULTS\n", [&date] {
                   std::string minor = vmstat_get_val("pgfault");
                   std::string major = vmstat_get_val("pgmajfault");
                   return date + "," + minor + "," + major + "\n";
               });
}

namespace {

// Adds the counts of one /proc/buddyinfo line ("Node 0, zone   Normal   13393  12106 ...").
void parse_buddyinfo_line(std::string_view line, buddyinfo_table& table) {
    struct Zone {
        std::string_view name;
        size_t row;
        size_t skip;  // from the name's start to where the counts may begin
    };
    // DMA32 first, since every DMA32 line also holds "DMA".
    static constexpr Zone kZones[] = {
        {"DMA32", 1, 6}, {"DMA", 0, 1}, {"Normal", 2, 1}, {"HighMem", 3, 1}};
    const Zone* zone = nullptr;
    size_t at = 0;
    for (const Zone& z : kZones) {
        if (size_t found = line.find(z.name); found != std::string_view::npos) {
            zone = &z;
            at = found + z.skip;
            break;
        }
    }
    if (zone == nullptr || at >= line.size()) {
        return;
    }
    constexpr size_t kTotal = buddyinfo_table::kZones - 1;
    constexpr int kMaxDigits = 10;
    for (size_t order = 0; at < line.size();) {
        if (line[at] < '0' || line[at] > '9') {
            ++at;
            continue;
        }
        long long count = 0;
        for (int digits = 0; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
            if (digits++ < kMaxDigits) {
                count = count * 10 + (line[at] - '0');
            }
        }
        if (order < buddyinfo_table::kOrders) {
            // A later node's line of the same zone replaces its row; the total takes every node.
            table.counts[zone->row][order] = count;
            table.counts[kTotal][order] += count;
            table.highest_order = std::max(table.highest_order, order);
        }
        ++order;
    }
}

}  // namespace

buddyinfo_table parse_buddyinfo(std::string_view text) {
    buddyinfo_table table;
    for (const std::string& line : str_lines(text)) {
        parse_buddyinfo_line(line, table);
    }
    return table;
}

void create_buddyinfo_snapshot(const std::string& session_path) {
    buddyinfo_table table;
    {
        File buddyinfo = file_open(device::path(device::kProcBuddyinfo), "r");
        if (!buddyinfo) {
            return;
        }
        std::string text;
        file_read_all(buddyinfo.get(), text);
        table = parse_buddyinfo(text);
    }
    std::string date = csv_timestamp();
    std::string header = "ZONE,DATE,TIME";
    for (size_t order = 0; order <= table.highest_order; ++order) {
        header += str_printf(",%d kB", 4 << order);
    }
    header += "\n";
    std::string rows;
    for (size_t zone = 0; zone < buddyinfo_table::kZones; ++zone) {
        rows += buddyinfo_table::kZoneNames[zone];
        rows += "," + date;
        for (size_t order = 0; order <= table.highest_order; ++order) {
            rows += str_printf(",%lld", table.counts[zone][order]);
        }
        rows += "\n";
    }
    csv_append(LOG_MODULE, __LINE__,
               monitoring_folder(session_path, "monitoring_kernel") + "/buddyinfo.csv", header,
               rows);
}

unsigned long timer_count = 0;
unsigned long ptz_starting_tick = 0;
unsigned long connection_lost_count = 0;

namespace {

void automatic_ptz_test_interval() {
    unsigned long interval = ptz_test_interval_get();
    if (interval == 0) {
        ptz_starting_tick = 0;
        return;
    }
    if (timer_count == 0 || ptz_starting_tick == 0) {
        ptz_starting_tick = timer_count;
    }
    unsigned long elapsed = timer_count - ptz_starting_tick;
    if (interval - elapsed == 1) {
        log_msg(LOG_WARNING, "Automatic PTZ Test");
    }
    if (elapsed >= interval) {
        ovra_system(kPtzResetCommand);
        ptz_starting_tick = timer_count;
    }
}

void arm_storage_consumption_log_message() {
    g_timeout_add_seconds(kSizeMessageDelaySeconds, storage_consumption_log_message, nullptr);
}

bool every(unsigned long period) {
    return timer_count % period == 0;
}

void run_edge_schedule(const monitoring_session& session) {
    const std::string& path = *session.session_path;
    if (every(120)) {
        arm_storage_consumption_log_message();
        create_interrupts_snapshot(path);
        create_serverreport_snapshot(&session, arg_fremo_user, arg_fremo_pass);
        onvif_copy_media_conf(path);
    }
    if (!every(2)) {
        return;
    }
    store_load_avg_info_no_retention(path);
    shellscript_invoker(monitoring_folder(path, "monitoring_vmstatus"), "vmstatus_monitoring.sh",
                        false);
    shellscript_invoker(monitoring_folder(path, "monitoring_topstatus"), "topstatus_monitoring.sh",
                        false);
    create_pagefault_snapshot(path);
    create_buddyinfo_snapshot(path);
    store_proc_meminfo(path);
    plix_monitor_status_snapshot(path);
    store_proc_net_dev(path);
    std::string environment = monitoring_folder(path, "monitoring_environment");
    store_temperatures_celsius(environment);
    store_heater_status(environment);
    store_fan_status(environment);
    shellscript_invoker(environment, "power.sh", true);
    store_self_monitoring(monitoring_folder(path, "monitoring_self"));
    update_number_of_collected_data_points(path);
    store_video_stream_history_no_retention(path);
    store_radar_data(path);
}

void run_internal_schedule(const monitoring_session& session) {
    if (every(360)) {
        create_serverreport_snapshot(&session, arg_fremo_user, arg_fremo_pass);
        onvif_copy_media_conf(*session.session_path);
    }
    if (every(120)) {
        arm_storage_consumption_log_message();
    }
}

void edge_storage_lost() {
    if (connection_lost_count == 0) {
        LOG_FAULT(LOG_ERR, "Lost connection to edge storage location, no data can be saved.");
    }
    ++connection_lost_count;
}

// A card taken out takes the storage's root with it: that is a lost storage, which may come
// back, when the storage service says so too, not a full one to end because df can't read it.
bool edge_storage_taken_out(const monitoring_session& session) {
    return session.storage_id && !is_directory(*session.secondary_storage_path) &&
           !determine_if_this_storage_is_ok(*session.storage_id);
}

// Storage checks, the schedule and the duration of an active session.
void supervise_session(const monitoring_session& session) {
    if (edge_storage_taken_out(session)) {
        edge_storage_lost();
    } else if (!check_partition_usage(session.secondary_storage_path->c_str())) {
        log_msg(LOG_WARNING,
                "Secondary storage is running out of free space. Deactivating monitoring "
                "session.");
        deactivate_monitor_session(&session, arg_fremo_user, arg_fremo_pass);
        return;
    } else if (!session.storage_id) {
        run_internal_schedule(session);
    } else if (determine_if_this_storage_is_ok(*session.storage_id)) {
        if (connection_lost_count != 0) {
            unsigned long n = connection_lost_count;
            log_msg(LOG_INFO,
                    "Connection to edge storage location re-established, connection was lost "
                    "since %lu days %lu hours %lu minutes. Continuing system monitoring session.",
                    n / 1440, (n / 60) % 24, n % 60);
        }
        connection_lost_count = 0;
        run_edge_schedule(session);
    } else {
        edge_storage_lost();
    }
    update_session_duration(*session.session_path);
}

}  // namespace

gboolean timer_callback(gpointer) {
    // Held to the end of the tick: a session tool that ends the session waits on it before it
    // writes the closing lines. Without it the tick runs as before.
    FileDescriptor tick_lock = file_lock_take(device::path(device::kTickLockFile));
    if (tick_lock.get() < 0) {
        errno = 0;
    }
    csv_open_failures_collect();
    automatic_ptz_test_interval();
    MonitoringSession session = monitoring_session_load();
    if (monitoring_session_is_active(session.get())) {
        supervise_session(*session);
    }
    csv_open_failures_report();
    if (++timer_count == kTimerCountWrap) {
        timer_count = 0;
    }
    return TRUE;
}

gboolean storage_consumption_log_message(gpointer) {
    MonitoringSession session = monitoring_session_load();
    if (monitoring_session_is_active(session.get())) {
        unsigned long size = get_dir_size_bytes(*session->session_path);
        if (session->storage_id) {
            log_msg(LOG_INFO, "System monitoring session is consuming %lu B on %s", size,
                    session->storage_id->c_str());
        } else {
            log_msg(LOG_INFO, "System monitoring session is consuming %lu B on Internal Storage",
                    size);
        }
    }
    return FALSE;
}

unsigned long scheduled_tasks_count = 2;
unsigned long ptz_test_flag = 0;

void daemon_state_reset() {
    arg_full_name = arg_prod_type = arg_fremo_user = nullptr;
    arg_fremo_pass.clear();
    timer_count = ptz_starting_tick = connection_lost_count = ptz_test_flag = 0;
    scheduled_tasks_count = 2;
}

void scheduled_tasks_run(const std::string& now) {
    std::optional<std::string> times = ptz_test_given_times_get();
    if (ptz_test_interval_get() == 0 && times) {
        std::string rest = *times;
        for (;;) {
            std::optional<std::string> next = str_terminate_at(rest, ',');
            if (rest == now && ptz_test_flag != scheduled_tasks_count - 1) {
                log_msg(LOG_WARNING, "Automatic PTZ Test");
                ptz_test_flag = scheduled_tasks_count;
                ovra_system(kPtzResetCommand);
            }
            if (!next) {
                break;
            }
            rest = std::move(*next);
        }
    }
    ++scheduled_tasks_count;
}

gboolean scheduled_tasks_timer_callback(gpointer) {
    scheduled_tasks_run(date_format_now("%H:%M", 20));
    return TRUE;
}

int kelvane_daemon_main(int argc, char** argv) {
    std::set_new_handler(log_out_of_memory);
    log_open();
    // Asked for, version and help go to standard output and are no failure.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts(version_line().c_str());
        return 0;
    }
    bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
    if (argc != 5) {
        std::fprintf(help ? stdout : stderr,
                     "Usage: %s <serial_number> <full_name> <prod_type> <http_api_user>\n",
                     argv[0]);
        if (help) {
            std::puts(
                "The HTTP API password of <http_api_user> is read from the first line of "
                "standard input.");
        }
        return help ? 0 : 1;
    }
    arg_full_name = argv[2];
    arg_prod_type = argv[3];
    arg_fremo_user = argv[4];

    std::optional<std::string> password = read_password(stdin);
    if (!password) {
        LOG_ERRNO(LOG_ERR, "Failed to read arg_fremo_pass from stdin.");
        return 1;
    }
    arg_fremo_pass = std::move(*password);
    log_mask_secrets({arg_fremo_pass, shell_escape_double_quoted(arg_fremo_pass)});

    log_version(restore_session());

    log_msg(LOG_DEBUG, "init_environment_monitor_settings");
    init_environment_monitor_settings(arg_fremo_user, arg_fremo_pass);

    log_msg(LOG_DEBUG, "Setup timers");
    g_timeout_add_seconds(kMinuteTickSeconds, timer_callback, nullptr);
    g_timeout_add_seconds(kScheduledTasksSeconds, scheduled_tasks_timer_callback, nullptr);

    if (camera_has_ptz(arg_full_name, arg_prod_type)) {
        log_msg(LOG_DEBUG, "Starting PTZ loop.");
        // Never joined; without the thread the daemon runs on untracked.
        if (GThread* ptz = g_thread_try_new(nullptr, ptz_loop, nullptr, nullptr)) {
            g_thread_unref(ptz);
        }
    }

    log_msg(LOG_DEBUG, "Starting main loop.");
    std::unique_ptr<GMainLoop, MainLoopUnref> loop(g_main_loop_new(nullptr, FALSE));
    g_main_loop_run(loop.get());
    return 0;
}
