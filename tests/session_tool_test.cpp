#include "web/session_tool.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "kelvane_daemon.hpp"
#include "lib/device.hpp"
#include "lib/file_lock.hpp"
#include "lib/filehandler.hpp"
#include "lib/session_globals.hpp"
#include "lib/strutil.hpp"
#include "support/archive.hpp"
#include "support/bus.hpp"
#include "support/busybox_path.hpp"
#include "support/process.hpp"
#include "support/transcript.hpp"

#define LOG_MODULE "tests/session_tool"

namespace fs = std::filesystem;

namespace {

// A device with a card and a df that reports what the test says, the session tool on it.
class SessionTool : public ::testing::Test {
  protected:
    SessionTool() {
        fs::copy(KELVANE_TEST_DATA "tick/device", dev.root(), fs::copy_options::recursive);
        make_dirs(dev.path("/usr/local/packages/Kelvane/localdata"));
        set_usage("17");
    }
    void set_usage(const std::string& percent) {
        dev.write("/bin/df",
                  "#!/bin/sh\necho 'Filesystem 1024-blocks Used Available Capacity "
                  "Mounted on'\necho '/dev/sd 1000 500 500 " +
                      percent + "% /'\n");
        fs::permissions(dev.path("/bin/df"), fs::perms::owner_all, fs::perm_options::add);
    }
    std::string state_file() const { return dev.path(std::string(device::kStateFile)); }
    std::string fill(std::string text) const {
        text = std::regex_replace(text, std::regex("@active"), active);
        text = std::regex_replace(text, std::regex(R"(\\n)"), "\n");
        return std::regex_replace(text, std::regex("ROOT"), dev.root());
    }
    // One step of tests/data/session_tool/steps.txt; what it gave, or "" for a set-up step.
    std::string step(const std::vector<std::string>& f) {
        const std::string& op = f[0];
        if (op == "storage") {
            StorageInfo s{f[1], f[1], f[4], f[2]};
            s.available = f[3].find('a') != std::string::npos;
            s.read_only = f[3].find('r') != std::string::npos;
            s.full = f[3].find('f') != std::string::npos;
            storages.push_back(s);
        } else if (op == "usage") {
            set_usage(f[1]);
        } else if (op == "state") {
            write_file(state_file(), f[1]);
        } else if (op == "mkdir") {
            make_dirs(dev.path(f[1]));
        } else if (op == "link") {
            make_dirs(fs::path(dev.path(f[1])).parent_path());
            fs::create_directory_symlink(f[2], dev.path(f[1]));
        } else if (op == "exists") {
            return fs::exists(dev.path(f[1])) ? "yes" : "no";
        } else if (op == "packing") {
            write_file(dev.path("/zip-" + f[1]), "");
            zipping = spawn({"/usr/bin/tail", "-f", dev.path("/zip-" + f[1])});
            EXPECT_TRUE(wait_until([&] { return is_zipping_session("/" + f[1]); }));
        } else if (op == "packed") {
            end(zipping, SIGKILL);
            EXPECT_TRUE(wait_until([&] { return !is_zipping_session("/" + f[1]); }));
        } else {
            return outcome(op, f);
        }
        return "";
    }
    std::string outcome(const std::string& op, const std::vector<std::string>& f) {
        ToolResult r{true, ""};
        std::string reason;
        if (op == "start") {
            r = session_tool_start(f[1], storages);
            MonitoringSession now = monitoring_session_load();
            active = r.ok ? *now->current_activity_folder : active;
        } else if (op == "stop") {
            r = session_tool_stop();
        } else if (op == "delete") {
            r = session_tool_delete(f[1], f[2], storages);
        } else if (op == "zip") {
            std::optional<std::string> path = session_tool_zip_path(f[1], f[2], storages, reason);
            r = {path.has_value(), path.value_or(reason)};
        } else if (op == "status") {
            r.text = session_status_json(session_tool_status());
        } else if (op == "list") {
            r.text = session_list_json(session_tool_list(storages));
        }
        return (r.ok ? "ok " : "refused ") + r.text;
    }

    DeviceRoot dev;
    BusyBoxPath busybox;
    LogCapture log;
    StorageList storages;
    std::string active = "@active";
    pid_t zipping = -1;
};

}  // namespace

TEST_F(SessionTool, StepsAndRefusalsOfTheTable) {
    size_t rows = 0;
    for (const std::string& line : str_lines(test_data("session_tool/steps.txt"))) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> f;
        for (size_t start = 0, tab;; start = tab + 1) {
            tab = line.find('\t', start);
            f.push_back(fill(line.substr(start, tab - start)));
            if (tab == std::string::npos) {
                break;
            }
        }
        std::string got = step(f);
        const std::string expected = fill(line.substr(line.rfind('\t') + 1));
        if (!got.empty()) {
            EXPECT_TRUE(got == expected ||
                        (expected.find(' ') != std::string::npos &&
                         got.find(expected.substr(expected.find(' ') + 1)) != std::string::npos &&
                         got.starts_with(expected.substr(0, 3))))
                << line << "\n got: " << got;
        }
        ++rows;
    }
    EXPECT_EQ(rows, 63u);
    end(zipping, SIGKILL);
}

// A start found through the real storage service, then the daemon's own tick collects into it;
// a stop waits for a tick that holds its lock before it closes the session and packs it.
TEST_F(SessionTool, StartedSessionIsCollectedByTheTickAndStopWaitsForARunningTick) {
    PrivateBus bus;
    ASSERT_TRUE(bus.start("norv_storage", test_data("tick/storage_ok.json")));
    ToolResult started = session_tool_start("", get_storages());
    ASSERT_TRUE(started.ok) << started.text;
    const std::string folder = started.text, info = folder + "/Session_Information.txt";
    EXPECT_EQ(fs::path(folder).parent_path(), dev.path("/var/spool/storage/SD_DISK/Kelvane"));
    arg_fremo_user = "root";
    timer_count = 2;
    timer_callback(nullptr);
    arg_fremo_user = nullptr;
    EXPECT_EQ(std::regex_replace(read_file(info).value_or(""), std::regex(": [A-Z].*:.*"), ": T"),
              "Start Time of the session: T\nStorage: SD_DISK\nCollected Data Points: 1\n"
              "Duration: 0 Days 0 hours 1 minutes\n");
    std::string load =
        read_file(folder + "/system_monitoring/monitoring_load/load.csv").value_or("");
    EXPECT_EQ(std::count(load.begin(), load.end(), '\n'), 2);

    ToolResult stopped;
    std::thread stop;
    {
        FileDescriptor tick = file_lock_take(dev.path(std::string(device::kTickLockFile)));
        stop = std::thread([&] { stopped = session_tool_stop(); });
        EXPECT_TRUE(wait_until([&] { return !fs::exists(state_file()); }));
        EXPECT_EQ(read_file(info)->find("Stop Time"), std::string::npos);
    }
    stop.join();
    ASSERT_TRUE(stopped.ok) << stopped.text;
    EXPECT_TRUE(read_file(info)->find("Stop Time of the session: ") != std::string::npos);
    EXPECT_TRUE(read_file(info)->find("Session Size: ") != std::string::npos);
    EXPECT_TRUE(read_file(folder + "/.signature")->find("\nEnd: ") != std::string::npos);
    ASSERT_TRUE(wait_until([&] { return !is_zipping_session(folder); }));
    EXPECT_TRUE(ovra_system("unzip -tq '" + shell_escape_single_quoted(stopped.text) + "'"));
    std::string name = fs::path(folder).filename().string();
    EXPECT_EQ(unzip_list(stopped.text).count(name + "/system_monitoring/monitoring_load/load.csv"),
              1u);
    ASSERT_TRUE(wait_until([&] { return !ps_grep_and_check_if_included("Kelvane", dev.root()); }));
}

// tests/data/session_tool/cli.txt: each command line ("$ arguments"), then what it printed,
// standard error's lines marked, and its exit status.
TEST(SessionCli, UsageErrorsAndHelp) {
    std::string expected = test_data("session_tool/cli.txt"), transcript;
    for (const std::string& line : str_lines(expected)) {
        if (line.starts_with("$ ")) {
            Pipe pipe = PIPE_OPEN("e=$(mktemp); " KELVANE_EXEC_PREFIX " " KELVANE_SESSION_PATH " " +
                                  line.substr(2) +
                                  " 2>\"$e\"; echo \"exit $?\"; sed 's/^/2> /' \"$e\"; rm \"$e\"");
            transcript += line + "\n";
            file_read_all(pipe.get(), transcript);
        }
    }
    EXPECT_EQ(transcript, expected);
}
