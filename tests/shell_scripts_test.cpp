// The package's helper scripts, run as the device runs them: by dash and by BusyBox sh, with
// BusyBox tools first on PATH.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <vector>

#include "lib/sysutil.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kStamp = R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d)";

int exit_status(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

class ShellScriptTest : public ::testing::TestWithParam<const char*> {
  protected:
    // The scripts run in the device root, so that a folder name that got executed would leave
    // its "pwned" there.
    void SetUp() override {
        make_dirs(folder);
        ASSERT_EQ(chdir(dev.root().c_str()), 0);
    }
    void TearDown() override {
        fs::current_path(start_dir);
        // Nothing is written beside the folder, and its name is never executed.
        for (const auto& entry : fs::directory_iterator(dev.root())) {
            std::string n = entry.path().filename().string();
            EXPECT_TRUE(n == "usr" || n == "fake" || n == fs::path(folder).filename()) << n;
        }
    }
    // The command line that runs script `name` on `where`.
    std::string line(const std::string& name, const std::string& where) {
        return std::string(GetParam()) + " " + KELVANE_SOURCE_DIR + "/shell/" + name + " \"" +
               shell_escape_double_quoted(where) + "\" 2>/dev/null";
    }
    // Runs `commands` in a mount namespace of its own with the folder `fake` laid over the
    // device path `target`; nothing when this machine can't make one.
    std::optional<int> run_over(const std::string& target, const std::string& commands) {
        if (geteuid() != 0 || exit_status("unshare -m true 2>/dev/null") != 0) {
            return std::nullopt;
        }
        std::string all = "mount --bind \"" + shell_escape_double_quoted(fake) + "\" " + target +
                          " || exit 90\n" + commands;
        int status = exit_status("unshare -m sh -c '" + shell_escape_single_quoted(all) + "'");
        return status == 90 ? std::nullopt : std::optional<int>(status);
    }
    std::vector<std::string> lines(const std::string& name) {
        return split(read_file(folder + "/" + name).value_or(""), '\n');
    }

    const fs::path start_dir = fs::current_path();
    DeviceRoot dev;
    BusyBoxPath busybox;
    std::string folder = dev.root() + "/monitoring \"$(touch pwned)\" `touch pwned` $HOME";
    std::string fake = dev.root() + "/fake";
};

}  // namespace

TEST_P(ShellScriptTest, VirtualMemoryCountersOneRowPerRunUnderOneHeader) {
    ASSERT_EQ(exit_status(line("vmstatus_monitoring.sh", folder)), 0);
    ASSERT_EQ(exit_status(line("vmstatus_monitoring.sh", folder)), 0);
    std::vector<std::string> rows = lines("vmstatus.csv");
    ASSERT_EQ(rows.size(), 3u);
    std::vector<std::string> header = split(rows[0], ',');
    EXPECT_EQ(std::vector<std::string>(header.begin(), header.begin() + 3),
              (std::vector<std::string>{"Date", "Time", "nr_free_pages"}));
    size_t pgfault = std::find(header.begin(), header.end(), "pgfault") - header.begin();
    ASSERT_LT(pgfault, header.size());
    for (size_t i = 1; i < rows.size(); ++i) {
        EXPECT_TRUE(std::regex_search(rows[i], std::regex("^" + kStamp + ",\\d+,"))) << rows[i];
        EXPECT_EQ(std::count(rows[i].begin(), rows[i].end(), ','),
                  std::count(rows[0].begin(), rows[0].end(), ','));
    }
    EXPECT_LE(std::stoull(split(rows[1], ',')[pgfault]), std::stoull(split(rows[2], ',')[pgfault]));
}

TEST_P(ShellScriptTest, TopProcessesByCpuAndMemoryInRankOrder) {
    ASSERT_EQ(exit_status(line("topstatus_monitoring.sh", folder)), 0);
    std::vector<std::string> rows = lines("topstatus.csv");
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[0], "Date,Time,Order,Rank,PID,PPID,User,State,VSZ,%VSZ,%CPU,Command");
    const std::regex row(
        "^" + kStamp +
        R"re(,(cpu|memory),(\d),\d+,\d+,[^,]+,[^,]+,(\d+)([mgt]?),\d+%,(\d+)%,"(.*)"$)re");
    std::map<std::string, std::vector<double>> seen;
    for (size_t i = 1; i < rows.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(rows[i], m, row)) << rows[i];
        EXPECT_EQ(std::stoul(m[2]), seen[m[1]].size() + 1) << rows[i];
        double kib = std::stod(m[3]) * (m[4] == "m" ? 1024 : m[4] == "g" ? 1048576 : 1);
        seen[m[1]].push_back(m[1] == "cpu" ? std::stod(m[5]) : kib);
    }
    for (const char* order : {"cpu", "memory"}) {
        EXPECT_GE(seen[order].size(), 1u);
        EXPECT_LE(seen[order].size(), 5u);
        EXPECT_TRUE(std::is_sorted(seen[order].rbegin(), seen[order].rend())) << order;
    }
}

TEST_P(ShellScriptTest, PowerDrawIsWrittenOnlyWhenTheDeviceReportsOne) {
    make_dirs(fake + "/hwmon/hwmon1");
    std::optional<int> status = run_over("/sys/class", line("power.sh", folder));
    if (!status) {
        GTEST_SKIP() << "needs root and mount namespaces";
    }
    ASSERT_EQ(status, 0);
    EXPECT_FALSE(fs::exists(folder + "/power.csv"));

    write_file(fake + "/hwmon/hwmon0/name", "powermeter\n");
    write_file(fake + "/hwmon/hwmon0/power1_input", "2500000\n");
    write_file(fake + "/hwmon/hwmon0/power1_label", "PoE, port 1\n");
    write_file(fake + "/hwmon/hwmon1/temp1_input", "41000\n");
    write_file(fake + "/power_supply/poe/power_now", "12950000\n");
    write_file(fake + "/power_supply/battery/power_now", "n/a\n");
    ASSERT_EQ(run_over("/sys/class", line("power.sh", folder)), 0);
    EXPECT_EQ(read_stamped(folder + "/power.csv"),
              "Date,Time,Source,Power (W)\nT,powermeter PoE  port 1 power1,2.500\nT,poe,12.950\n");
}

TEST_P(ShellScriptTest, ApplicationStatusRunningStoppedOrUnknown) {
    // Names of this test's own, so that a parallel run's processes can't count here.
    std::string tag = std::to_string(getpid());
    make_dirs(fake + "/bin");
    std::optional<int> status = run_over("/usr/local", line("plix_status_monitor.sh", folder));
    if (!status) {
        GTEST_SKIP() << "needs root and mount namespaces";
    }
    ASSERT_EQ(status, 0);
    const std::string header = "Date,Time,Application,Status\n";
    EXPECT_EQ(read_stamped(folder + "/plix_status.csv"), header + "T,,unknown\n");
    fs::remove(folder + "/plix_status.csv");

    make_dirs(fake + "/packages/Running" + tag + "/bin");
    make_dirs(fake + "/packages/Stopped" + tag);
    // The stand-in application keeps no descriptor of the test's, so nobody waits for it.
    status = run_over("/usr/local", "sh -c 'sleep 30; :' /usr/local/packages/Running" + tag +
                                        "/bin/app </dev/null >/dev/null 2>&1 &\n" +
                                        line("plix_status_monitor.sh", folder) +
                                        "\nrc=$?; kill $!; exit $rc");
    ASSERT_EQ(status, 0);
    EXPECT_EQ(read_stamped(folder + "/plix_status.csv"),
              header + "T,Running" + tag + ",running\nT,Stopped" + tag + ",stopped\n");
}

TEST_P(ShellScriptTest, AMissingFolderIsRefusedAndNothingIsCreated) {
    for (const char* name : {"vmstatus_monitoring.sh", "topstatus_monitoring.sh", "power.sh",
                             "plix_status_monitor.sh"}) {
        EXPECT_EQ(exit_status(line(name, folder + "/none")), 1) << name;
        EXPECT_EQ(exit_status(line(name, "")), 1) << name;
    }
    EXPECT_TRUE(fs::is_empty(folder));
}

INSTANTIATE_TEST_SUITE_P(Shells, ShellScriptTest, ::testing::Values("sh", "busybox sh"),
                         [](const auto& shell) {
                             return std::string(shell.param) == "sh" ? "Dash" : "BusyBox";
                         });
