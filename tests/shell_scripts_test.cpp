// The package's helper scripts on captured device input, run by dash and by BusyBox sh as on the
// camera. tests/data/<script>/<case>/ holds `device` (laid over the device path the script
// reads, or printed by the tool it runs), optionally `before` (the CSV file as the run finds it)
// and `running` (programs running meanwhile, one path a line), and `expected` (the CSV file
// after one run, time stamps as T; none when no file is to be written).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <vector>

#include "lib/sysutil.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"

namespace fs = std::filesystem;

namespace {

struct Script {
    const char* name;
    const char* csv;
    const char* reads;  // a device path, or the name of the tool that prints `device`
    bool tool;
};
const Script kScripts[] = {
    {"vmstatus_monitoring.sh", "vmstatus.csv", "/proc/vmstat", false},
    {"topstatus_monitoring.sh", "topstatus.csv", "top", true},
    {"power.sh", "power.csv", "/sys/class", false},
    {"plix_status_monitor.sh", "plix_status.csv", "/usr/local", false},
};

struct Case {
    const Script* script;
    std::string dir;
    std::string shell;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.dir << " by " << c.shell;
}

std::vector<Case> cases() {
    std::vector<Case> all;
    for (const Script& script : kScripts) {
        for (const auto& entry :
             fs::directory_iterator(std::string(KELVANE_SOURCE_DIR "/tests/data/") + script.name)) {
            for (const char* shell : {"sh", "busybox sh"}) {
                all.push_back({&script, entry.path().string(), shell});
            }
        }
    }
    return all;
}

int exit_status(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string single_quoted(const std::string& text) {
    return "'" + shell_escape_single_quoted(text) + "'";
}

class ShellScriptTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(chdir(dev.root().c_str()), 0); }
    void TearDown() override {
        fs::current_path(start_dir);
        EXPECT_FALSE(fs::exists(dev.root() + "/pwned"));
    }
    std::string run(const std::string& shell, const std::string& name, const std::string& where) {
        return shell + " " + single_quoted(KELVANE_SOURCE_DIR "/shell/" + name) + " " +
               single_quoted(where);
    }

    const fs::path start_dir = fs::current_path();
    DeviceRoot dev;
    BusyBoxPath busybox;
    // The scripts run in the device root, where an executed folder name would leave "pwned".
    std::string folder = dev.root() + "/monitoring \"$(touch pwned)\" `touch pwned` $HOME";
};

class ShellScriptGolden : public ShellScriptTest, public ::testing::WithParamInterface<Case> {};

}  // namespace

TEST_P(ShellScriptGolden, RowsAsTheGoldenFileHasThem) {
    const Case& c = GetParam();
    std::string device = c.dir + "/device", csv = folder + "/" + c.script->csv;
    make_dirs(folder);
    if (std::optional<std::string> before = read_file(c.dir + "/before")) {
        write_file(csv, *before);
    }
    std::string command = run(c.shell, c.script->name, folder);
    if (c.script->tool) {
        std::string tool = dev.root() + "/bin/" + c.script->reads;
        write_file(tool, "#!/bin/sh\nexec cat " + single_quoted(device) + "\n");
        fs::permissions(tool, fs::perms::owner_exec, fs::perm_options::add);
        command = "PATH=" + single_quoted(dev.root() + "/bin") + ":\"$PATH\" " + command;
    } else {
        if (geteuid() != 0 || exit_status("unshare -m true 2>/dev/null") != 0) {
            GTEST_SKIP() << "needs root and mount namespaces";
        }
        std::string inside =
            "mount --bind " + single_quoted(device) + " " + c.script->reads + " || exit 1\n";
        std::istringstream running(read_file(c.dir + "/running").value_or(""));
        // Stand-ins for running applications, waited for until they show their command line.
        // The commands go through a file: a command line holding the paths would count too.
        for (std::string path; std::getline(running, path);) {
            inside +=
                "sh -c 'sleep 30; :' " + single_quoted(path) + " </dev/null >/dev/null 2>&1 &\n" +
                "pids=\"$pids $!\"; n=0\nuntil grep -qF " + single_quoted(path) +
                " /proc/$!/cmdline; do n=$((n+1)); [ $n -lt 600 ] || exit 1; sleep 0.05; done\n";
        }
        write_file(dev.root() + "/run", inside + command + "\nrc=$?; kill $pids; exit $rc\n");
        command = "unshare -m sh " + single_quoted(dev.root() + "/run");
    }
    ASSERT_EQ(exit_status(command + " 2>/dev/null"), 0);
    EXPECT_EQ(read_stamped(csv), read_file(c.dir + "/expected").value_or("<missing>"));
}

INSTANTIATE_TEST_SUITE_P(Data, ShellScriptGolden, ::testing::ValuesIn(cases()),
                         [](const auto& test) {
                             std::string name = fs::path(test.param.script->name).stem().string() +
                                                "_" + fs::path(test.param.dir).filename().string() +
                                                (test.param.shell == "sh" ? "_Dash" : "_BusyBox");
                             return std::regex_replace(name, std::regex("[^A-Za-z0-9_]"), "_");
                         });

TEST_F(ShellScriptTest, AMissingFolderIsRefusedAndNothingIsCreated) {
    for (const Script& script : kScripts) {
        EXPECT_EQ(exit_status(run("sh", script.name, folder) + " 2>/dev/null"), 1);
        EXPECT_EQ(exit_status(run("busybox sh", script.name, "") + " 2>/dev/null"), 1);
    }
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(ShellScriptTest, TheDevicesOwnTopGivesWholeKiBRows) {
    make_dirs(folder);
    ASSERT_EQ(exit_status(run("busybox sh", "topstatus_monitoring.sh", folder)), 0);
    std::istringstream rows(read_stamped(folder + "/topstatus.csv"));
    std::string row;
    std::getline(rows, row);
    const std::regex kRow(R"re(T,(cpu|memory),[1-5],\d+,\d+,[^,]+,[^,]+,\d+,\d+%,\d+%,".*")re");
    int count = 0;
    for (; std::getline(rows, row); ++count) {
        EXPECT_TRUE(std::regex_match(row, kRow)) << row;
    }
    EXPECT_GE(count, 2);
}
