// The package's helper scripts on captured device input, run by dash and by BusyBox sh as on the
// camera. tests/data/shell_scripts.txt: each script, its CSV file and the device path it reads (no
// slash: the tool that prints it). tests/data/<script>/<case>/: `device` (laid over that path or
// printed by the tool), `running` (programs running meanwhile, one path a line), and `before` and
// `expected` (the CSV file before and after one run, time stamps as T; no `expected`, no file).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "lib/sysutil.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/process.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kData = KELVANE_SOURCE_DIR "/tests/data/";

struct Case {
    std::string script, csv, reads, dir, shell;
};

std::vector<Case> cases() {
    std::vector<Case> all;
    std::ifstream table(kData + "shell_scripts.txt");
    for (std::string script, csv, reads; table >> script >> csv >> reads;) {
        for (const auto& entry : fs::directory_iterator(kData + script)) {
            for (const char* shell : {"sh", "busybox sh"}) {
                all.push_back({script, csv, reads, entry.path().string(), shell});
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

class ShellScripts : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(ShellScripts, RefuseAMissingFolderAndWriteRowsAsTheGoldenFileHasThem) {
    const Case& c = GetParam();
    DeviceRoot dev;
    BusyBoxPath busybox;
    // The scripts run in the device root, where an executed folder name would leave "pwned".
    std::string folder = dev.root() + "/monitoring \"$(touch pwned)\" `touch pwned` $HOME";
    std::string device = c.dir + "/device";
    std::string command = "cd " + single_quoted(dev.root()) + " && " + c.shell + " " +
                          single_quoted(KELVANE_SOURCE_DIR "/shell/" + c.script) + " " +
                          single_quoted(folder);
    EXPECT_EQ(exit_status(command + " 2>/dev/null"), 1);
    EXPECT_FALSE(fs::exists(folder));
    make_dirs(folder);
    std::error_code none;  // not every case has a file before the run
    fs::copy_file(c.dir + "/before", folder + "/" + c.csv, none);
    for (const char* tool : {"awk", "grep", "tr"}) {  // BusyBox sh with the camera's own tools
        if (c.shell != "sh") {
            fs::create_symlink("/bin/busybox", busybox.dir() + "/" + tool);
        }
    }
    if (c.reads[0] != '/') {
        write_file(busybox.dir() + "/" + c.reads, "#!/bin/sh\nexec cat " + single_quoted(device));
        fs::permissions(busybox.dir() + "/" + c.reads, fs::perms::owner_exec,
                        fs::perm_options::add);
    } else if (geteuid() != 0 || exit_status("unshare -m true 2>/dev/null") != 0) {
        GTEST_SKIP() << "needs root and mount namespaces";
    } else {
        command = "unshare -m sh -c " + single_quoted("mount --bind " + single_quoted(device) +
                                                      " " + c.reads + " && " + command);
    }
    // Stand-ins for running applications, started once their command line shows the path.
    std::vector<pid_t> apps;
    std::istringstream running(read_file(c.dir + "/running").value_or(""));
    for (std::string path, ready; std::getline(running, path);) {
        apps.push_back(spawn({"/bin/sh", "-c", "echo; sleep 30; :", path}, &ready));
    }
    int status = exit_status(command + " 2>/dev/null");
    for (pid_t app : apps) {
        end(app, SIGKILL);
    }
    ASSERT_EQ(status, 0);
    EXPECT_EQ(read_stamped(folder + "/" + c.csv),
              read_file(c.dir + "/expected").value_or("<missing>"));
    EXPECT_FALSE(fs::exists(dev.root() + "/pwned"));
}

INSTANTIATE_TEST_SUITE_P(Data, ShellScripts, ::testing::ValuesIn(cases()), [](const auto& test) {
    const Case& c = test.param;
    return fs::path(c.script).stem().string() + "_" + fs::path(c.dir).filename().string() +
           (c.shell == "sh" ? "_Dash" : "_BusyBox");
});
