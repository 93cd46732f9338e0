#include "kelvane_daemon.hpp"

#include <cstring>
#include <memory>
#include <new>

#include "lib/environment.hpp"
#include "lib/log.hpp"
#include "lib/session_globals.hpp"

#define LOG_MODULE "kelvane_daemon"

namespace {

constexpr size_t kPasswordMax = 255;
constexpr guint kMinuteTickSeconds = 60;
constexpr guint kScheduledTasksSeconds = 30;

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

void log_version(bool session_restored) {
    log_msg(session_restored ? LOG_DEBUG : LOG_INFO, "Kelvane version %s, compiled: %s %s",
            kKelvaneVersion, __DATE__, __TIME__);
}

bool camera_has_ptz(const char* full_name, const char* prod_type) {
    return std::strstr(full_name, "PTZ") != nullptr || std::strstr(prod_type, "PTZ") != nullptr;
}

gboolean timer_callback(gpointer) {
    return TRUE;
}

gboolean scheduled_tasks_timer_callback(gpointer) {
    return TRUE;
}

int kelvane_daemon_main(int argc, char** argv) {
    std::set_new_handler(log_out_of_memory);
    log_open();
    if (argc != 5) {
        std::fprintf(stderr, "Usage: %s <serial_number> <full_name> <prod_type> <fremo_user>\n",
                     argv[0]);
        return 1;
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

    log_version(restore_session());

    log_msg(LOG_DEBUG, "init_environment_monitor_settings");
    init_environment_monitor_settings(arg_fremo_user, arg_fremo_pass);

    log_msg(LOG_DEBUG, "Setup timers");
    g_timeout_add_seconds(kMinuteTickSeconds, timer_callback, nullptr);
    g_timeout_add_seconds(kScheduledTasksSeconds, scheduled_tasks_timer_callback, nullptr);

    log_msg(LOG_DEBUG, "Starting main loop.");
    std::unique_ptr<GMainLoop, MainLoopUnref> loop(g_main_loop_new(nullptr, FALSE));
    g_main_loop_run(loop.get());
    return 0;
}
