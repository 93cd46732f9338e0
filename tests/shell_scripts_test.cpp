// The package's helper scripts on captured device input, run by dash and by BusyBox sh as on the
// camera. tests/data/<script>/<case>/ holds `device` (laid over the device path the script
// reads, or printed by the tool it runs), optionally `before` (the CSV file as the run finds it)
// and `running` (programs running meanwhile, one path a line), and `expected` (the CSV file
// after one run, time stamps as T; none when no file is to be written).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <sstream>
#include <tuple>
#include <vector>

#include "lib/sysutil.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/process.hpp"

namespace fs = std::filesystem;

namespace {

// The script, its file, and the device path it reads or (no slash) the tool that prints it.
const std::array<std::array<std::string, 3>, 4> kScripts = {{
    {"vmstatus_monitoring.sh", "vmstatus.csv", "/proc/vmstat"},
    {"topstatus_monitoring.sh", "topstatus.csv", "top"},
    {"power.sh", "power.csv", "/sys/class"},
    {"plix_status_monitor.sh", "plix_status.csv", "/usr/local"},
}};

using Case = std::tuple<const std::array<std::string, 3>*, std::string, std::string>;

std::vector<Case> cases() {
    std::vector<Case> all;
    for (const auto& script : kScripts) {
        for (const auto& entry :
             fs::directory_iterator(KELVANE_SOURCE_DIR "/tests/data/" + script[0])) {
            for (const char* shell : {"sh", "busybox sh"}) {
                all.emplace_back(&script, entry.path().string(), shell);
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
    const auto& [script, dir, shell] = GetParam();
    const auto& [name, csv, reads] = *script;
    std::string device = dir + "/device", command = run(shell, name, folder);
    make_dirs(folder);
    if (std::optional<std::string> before = read_file(dir + "/before")) {
        write_file(folder + "/" + csv, *before);
    }
    for (const char* tool : {"awk", "grep", "tr"}) {  // BusyBox sh with the camera's own tools
        if (shell != "sh") {
            dev.link(std::string("/bin/") + tool, "/bin/busybox");
        }
    }
    command = "PATH=" + single_quoted(dev.root() + "/bin") + ":\"$PATH\" " + command;
    if (reads[0] != '/') {
        write_file(dev.root() + "/bin/" + reads, "#!/bin/sh\nexec cat " + single_quoted(device));
        fs::permissions(dev.root() + "/bin/" + reads, fs::perms::owner_exec, fs::perm_options::add);
    } else if (geteuid() != 0 || exit_status("unshare -m true 2>/dev/null") != 0) {
        GTEST_SKIP() << "needs root and mount namespaces";
    } else {
        command = "unshare -m sh -c " + single_quoted("mount --bind " + single_quoted(device) +
                                                      " " + reads + " && " + command);
    }
    // Stand-ins for running applications, started once their command line shows the path.
    std::vector<pid_t> apps;
    std::istringstream running(read_file(dir + "/running").value_or(""));
    for (std::string path, ready; std::getline(running, path);) {
        apps.push_back(spawn({"/bin/sh", "-c", "echo; sleep 30; :", path}, &ready));
    }
    int status = exit_status(command + " 2>/dev/null");
    for (pid_t app : apps) {
        end(app, SIGKILL);
    }
    ASSERT_EQ(status, 0);
    EXPECT_EQ(read_stamped(folder + "/" + csv), read_file(dir + "/expected").value_or("<missing>"));
}

INSTANTIATE_TEST_SUITE_P(Data, ShellScriptGolden, ::testing::ValuesIn(cases()),
                         [](const auto& test) {
                             return fs::path((*std::get<0>(test.param))[0]).stem().string() + "_" +
                                    fs::path(std::get<1>(test.param)).filename().string() +
                                    (std::get<2>(test.param) == "sh" ? "_Dash" : "_BusyBox");
                         });

TEST_F(ShellScriptTest, AMissingFolderIsRefusedAndNothingIsCreated) {
    for (const auto& script : kScripts) {
        EXPECT_EQ(exit_status(run("sh", script[0], folder) + " 2>/dev/null"), 1);
        EXPECT_EQ(exit_status(run("busybox sh", script[0], "") + " 2>/dev/null"), 1);
    }
    EXPECT_FALSE(fs::exists(folder));
}
