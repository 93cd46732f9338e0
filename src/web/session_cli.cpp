#include "web/session_cli.hpp"

#include <algorithm>
#include <cstdio>
#include <new>

#include "lib/log.hpp"
#include "lib/storage_investigator.hpp"
#include "web/session_tool.hpp"

#define LOG_MODULE "web/session_cli"

namespace {

constexpr const char* kUsage =
    "Usage: kelvane_session start [--storage ID | --internal]\n"
    "       kelvane_session stop\n"
    "       kelvane_session status [--json]\n"
    "       kelvane_session list [--json]\n"
    "       kelvane_session delete NAME (--storage ID | --internal)\n";

constexpr const char* kHelp =
    "\n"
    "Starts, ends, shows and deletes the monitoring sessions of the Kelvane daemon.\n"
    "\n"
    "  start   lays a session down and prints its folder. --storage ID takes that storage\n"
    "          of the storage service, --internal the internal storage; without either,\n"
    "          the first edge storage that is ok, else the internal storage. A storage must\n"
    "          be ok (status OK, available, writable, not full) and below 90 % used.\n"
    "  stop    ends the active session as the daemon ends one (end line, stop time, size)\n"
    "          and prints the ZIP that is being packed beside its folder.\n"
    "  status  the active session: storage, start, duration, data points, size, use.\n"
    "  list    every session folder on every storage: size, active, packing, ZIP.\n"
    "  delete  removes the session folder NAME and its ZIP, unless active or packing.\n"
    "  --json  status and list as JSON.\n"
    "\n"
    "Exit status: 0 done, 1 refused or failed (the reason on standard error), 2 usage error.\n";

// The options after the command: --storage ID, --internal, --json, and delete's NAME.
bool parse_options(const std::vector<std::string>& args, SessionCommand& cmd) {
    bool with_storage = cmd.command == "start" || cmd.command == "delete";
    bool with_json = cmd.command == "status" || cmd.command == "list";
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool storage_given = !cmd.storage.empty();
        if (with_storage && arg == "--storage" && i + 1 < args.size() && !storage_given) {
            cmd.storage = args[++i];
        } else if (with_storage && arg == "--internal" && !storage_given) {
            cmd.storage = kInternalStorage;
        } else if (with_json && arg == "--json") {
            cmd.json = true;
        } else if (cmd.command == "delete" && cmd.name.empty() && !arg.starts_with("-")) {
            cmd.name = arg;
        } else {
            return false;
        }
    }
    return cmd.command != "delete" || (!cmd.name.empty() && !cmd.storage.empty());
}

void print_status(const SessionStatus& s) {
    if (!s.active) {
        std::puts("no active session");
        return;
    }
    std::printf("session      %s\nstorage      %s\nfolder       %s\n", s.name.c_str(),
                s.storage.c_str(), s.path.c_str());
    if (!s.problem.empty()) {
        return;
    }
    std::printf("started      %s\nduration     %s\ndata points  %lu\nsize         %llu B\n",
                s.start_time.c_str(), s.duration.c_str(), s.data_points, s.bytes);
    if (s.use_percent) {
        std::printf("storage use  %d %%\n", *s.use_percent);
    }
}

void print_list(const std::vector<SessionEntry>& sessions) {
    std::printf("%-17s  %-12s %12s  %-6s  %-7s  %s\n", "NAME", "STORAGE", "BYTES", "ACTIVE",
                "PACKING", "ZIP BYTES");
    for (const SessionEntry& s : sessions) {
        std::string zip = s.zip_bytes ? std::to_string(*s.zip_bytes) : "-";
        std::printf("%-17s  %-12s %12llu  %-6s  %-7s  %s\n", s.name.c_str(), s.storage.c_str(),
                    s.bytes, s.active ? "yes" : "no", s.packing ? "yes" : "no", zip.c_str());
    }
}

// The printed result of a step that changes something: its text on stdout or stderr.
int report(const ToolResult& result) {
    std::fprintf(result.ok ? stdout : stderr, "%s%s\n",
                 result.ok ? "" : "kelvane_session: ", result.text.c_str());
    return result.ok ? 0 : 1;
}

// Only an edge storage needs the storage service.
StorageList storages_for(const std::string& storage) {
    return storage == kInternalStorage ? StorageList() : get_storages();
}

int run(const SessionCommand& cmd) {
    if (cmd.command == "start") {
        return report(session_tool_start(cmd.storage, storages_for(cmd.storage)));
    }
    if (cmd.command == "stop") {
        return report(session_tool_stop());
    }
    if (cmd.command == "delete") {
        return report(session_tool_delete(cmd.name, cmd.storage, storages_for(cmd.storage)));
    }
    if (cmd.command == "list") {
        std::vector<SessionEntry> sessions = session_tool_list(get_storages());
        cmd.json ? (void)std::puts(session_list_json(sessions).c_str()) : print_list(sessions);
        return 0;
    }
    SessionStatus status = session_tool_status();
    cmd.json ? (void)std::puts(session_status_json(status).c_str()) : print_status(status);
    if (!status.problem.empty()) {
        std::fprintf(stderr, "kelvane_session: %s\n", status.problem.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

SessionCommand session_cli_parse(const std::vector<std::string>& args) {
    SessionCommand cmd;
    cmd.command = args.size() > 1 ? args[1] : "";
    if (cmd.command == "--help" || cmd.command == "-h") {
        cmd.command = "help";
    }
    static const char* const kCommands[] = {"help", "start", "stop", "status", "list", "delete"};
    bool known =
        std::find(std::begin(kCommands), std::end(kCommands), cmd.command) != std::end(kCommands);
    if (!known) {
        cmd.error = cmd.command.empty() ? "no command given" : "unknown command";
    } else if (cmd.command == "help" ? args.size() != 2 : !parse_options(args, cmd)) {
        cmd.error = "bad arguments for " + cmd.command;
    }
    return cmd;
}

int session_cli_main(int argc, char** argv) {
    std::set_new_handler(log_out_of_memory);
    log_open();
    SessionCommand cmd = session_cli_parse(std::vector<std::string>(argv, argv + argc));
    if (!cmd.error.empty()) {
        std::fprintf(stderr, "kelvane_session: %s\n%s", cmd.error.c_str(), kUsage);
        return 2;
    }
    if (cmd.command == "help") {
        std::printf("%s%s", kUsage, kHelp);
        return 0;
    }
    return run(cmd);
}
