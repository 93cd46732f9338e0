// The package's helper scripts, run as the device runs them: by dash and by BusyBox sh, with
// BusyBox tools first on PATH.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <vector>

#include "lib/sysutil.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"

namespace fs = std::filesystem;

namespace {

const char* const kShells[] = {"sh", "busybox sh"};
const std::string kStamp = R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d)";

std::string script(const std::string& name) {
    return std::string(KELVANE_SOURCE_DIR) + "/shell/" + name;
}

// Runs `name` with `shell` on `folder`; the exit status.
int run(const std::string& shell, const std::string& name, const std::string& folder) {
    int status = std::system(
        (shell + " " + script(name) + " \"" + shell_escape_double_quoted(folder) + "\" 2>/dev/null")
            .c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> cells_of(const std::string& line) {
    std::vector<std::string> cells;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, ',');) {
        cells.push_back(cell);
    }
    return cells;
}

constexpr int kCannotMount = 90;

// Runs `commands` as root in a mount namespace of its own, where the test may lay fake device
// folders over fixed paths; false when this machine can't make one.
bool run_in_own_mounts(const std::string& commands, int& status) {
    if (geteuid() != 0 || std::system("unshare -m true 2>/dev/null") != 0) {
        return false;
    }
    int raw =
        std::system(("unshare -m sh -c '" + shell_escape_single_quoted(commands) + "'").c_str());
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return true;
}

class ShellScriptTest : public ::testing::TestWithParam<const char*> {
  protected:
    DeviceRoot dev;
    BusyBoxPath busybox;
    std::string folder = dev.root() + "/monitoring \"$(touch pwned)\" `id` $HOME";

    void SetUp() override { make_dirs(folder); }
    void TearDown() override {
        EXPECT_FALSE(fs::exists(dev.root() + "/pwned"));
        // Nothing is written beside the folder.
        for (const auto& entry : fs::directory_iterator(dev.root())) {
            std::string n = entry.path().filename().string();
            EXPECT_TRUE(n == "usr" || n == "monitoring \"$(touch pwned)\" `id` $HOME" ||
                        n == "fake")
                << n;
        }
    }
    std::string read(const std::string& name) {
        return read_file(folder + "/" + name).value_or("");
    }
};

}  // namespace

TEST_P(ShellScriptTest, VirtualMemoryCountersOneRowPerRunUnderOneHeader) {
    ASSERT_EQ(run(GetParam(), "vmstatus_monitoring.sh", folder), 0);
    ASSERT_EQ(run(GetParam(), "vmstatus_monitoring.sh", folder), 0);
    std::vector<std::string> lines = lines_of(read("vmstatus.csv"));
    ASSERT_EQ(lines.size(), 3u);
    std::vector<std::string> header = cells_of(lines[0]);
    ASSERT_GE(header.size(), 10u);
    EXPECT_EQ(header[0], "Date");
    EXPECT_EQ(header[1], "Time");
    EXPECT_EQ(header[2], "nr_free_pages");
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_search(lines[i], std::regex("^" + kStamp + ",\\d+,")));
        // Trailing empty cells are not counted by getline: compare commas.
        EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), ','),
                  std::count(lines[0].begin(), lines[0].end(), ','));
    }
    size_t pgfault = std::find(header.begin(), header.end(), "pgfault") - header.begin();
    ASSERT_LT(pgfault, header.size());
    EXPECT_LE(std::stoull(cells_of(lines[1])[pgfault]), std::stoull(cells_of(lines[2])[pgfault]));
}

TEST_P(ShellScriptTest, TopProcessesByCpuAndMemoryInRankOrder) {
    ASSERT_EQ(run(GetParam(), "topstatus_monitoring.sh", folder), 0);
    std::vector<std::string> lines = lines_of(read("topstatus.csv"));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Date,Time,Order,Rank,PID,PPID,User,State,VSZ,%VSZ,%CPU,Command");
    const std::regex row(
        "^" + kStamp +
        R"re(,(cpu|memory),(\d),(\d+),(\d+),[^,]+,[^,]+,(\d+)([mgt]?),\d+%,(\d+)%,"(.*)"$)re");
    std::map<std::string, std::vector<double>> seen;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, row)) << lines[i];
        std::string order = m[1];
        EXPECT_EQ(std::stoul(m[2]), seen[order].size() + 1) << lines[i];
        double vsz = std::stod(m[5]) * (m[6] == "m" ? 1024 : m[6] == "g" ? 1048576 : 1);
        seen[order].push_back(order == "cpu" ? std::stod(m[7]) : vsz);
    }
    for (const char* order : {"cpu", "memory"}) {
        ASSERT_FALSE(seen[order].empty()) << order;
        EXPECT_LE(seen[order].size(), 5u);
        EXPECT_TRUE(std::is_sorted(seen[order].rbegin(), seen[order].rend())) << order;
    }
}

TEST_P(ShellScriptTest, PowerDrawIsWrittenOnlyWhenTheDeviceReportsOne) {
    // This machine has no power sensors: no file at all.
    if (!fs::exists("/sys/class/hwmon") && fs::is_empty("/sys/class/power_supply")) {
        ASSERT_EQ(run(GetParam(), "power.sh", folder), 0);
        EXPECT_FALSE(fs::exists(folder + "/power.csv"));
    }
    std::string fake = dev.root() + "/fake";
    write_file(fake + "/hwmon/hwmon0/name", "ina219\n");
    write_file(fake + "/hwmon/hwmon0/power1_input", "2500000\n");
    write_file(fake + "/hwmon/hwmon0/power1_label", "PoE, port 1\n");
    write_file(fake + "/hwmon/hwmon1/name", "cpu_thermal\n");
    write_file(fake + "/hwmon/hwmon1/temp1_input", "41000\n");
    write_file(fake + "/power_supply/poe/power_now", "12950000\n");
    write_file(fake + "/power_supply/battery/power_now", "n/a\n");
    int status = -1;
    if (!run_in_own_mounts("mount --bind \"" + shell_escape_double_quoted(fake) +
                               "\" /sys/class || exit 90\n" + GetParam() + " " +
                               script("power.sh") + " \"" + shell_escape_double_quoted(folder) +
                               "\"",
                           status)) {
        GTEST_SKIP() << "needs root and mount namespaces";
    }
    ASSERT_EQ(status, 0);
    std::vector<std::string> lines = lines_of(read("power.csv"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Date,Time,Source,Power (W)");
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(kStamp + ",ina219 PoE  port 1 power1,2.500")))
        << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(kStamp + ",poe,12.950"))) << lines[2];
}

TEST_P(ShellScriptTest, ApplicationStatusRunningStoppedOrUnknown) {
    if (!fs::exists("/usr/local/packages")) {
        ASSERT_EQ(run(GetParam(), "plix_status_monitor.sh", folder), 0);
        EXPECT_TRUE(
            std::regex_match(read("plix_status.csv"),
                             std::regex("Date,Time,Application,Status\n" + kStamp + ",,unknown\n")))
            << read("plix_status.csv");
        fs::remove(folder + "/plix_status.csv");
    }
    // Names of this test's own, so that a parallel run's processes can't count here.
    std::string tag = std::to_string(getpid());
    std::string fake = dev.root() + "/fake";
    make_dirs(fake + "/packages/Running" + tag + "/bin");
    make_dirs(fake + "/packages/Stopped" + tag);
    int status = -1;
    if (!run_in_own_mounts("mount --bind \"" + shell_escape_double_quoted(fake) +
                               "\" /usr/local || exit 90\n"
                               "sh -c 'sleep 30; :' /usr/local/packages/Running" +
                               tag + "/bin/app & app=$!\n" + GetParam() + " " +
                               script("plix_status_monitor.sh") + " \"" +
                               shell_escape_double_quoted(folder) +
                               "\"; rc=$?\n"
                               "kill $app; exit $rc",
                           status)) {
        GTEST_SKIP() << "needs root and mount namespaces";
    }
    ASSERT_EQ(status, 0);
    std::vector<std::string> lines = lines_of(read("plix_status.csv"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Date,Time,Application,Status");
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(kStamp + ",Running" + tag + ",running")))
        << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(kStamp + ",Stopped" + tag + ",stopped")))
        << lines[2];
}

TEST_P(ShellScriptTest, AMissingFolderIsRefusedAndNothingIsCreated) {
    for (const char* name : {"vmstatus_monitoring.sh", "topstatus_monitoring.sh", "power.sh",
                             "plix_status_monitor.sh"}) {
        EXPECT_EQ(run(GetParam(), name, folder + "/none"), 1) << name;
        EXPECT_EQ(run(GetParam(), name, ""), 1) << name;
    }
    EXPECT_TRUE(fs::is_empty(folder));
}

INSTANTIATE_TEST_SUITE_P(Shells, ShellScriptTest, ::testing::ValuesIn(kShells),
                         [](const auto& shell) {
                             return std::string(shell.param) == "sh" ? "Dash" : "BusyBox";
                         });
