#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include "lib/device.hpp"
#include "lib/filehandler.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

namespace {

// A process whose command line ends in `marker`, for the process list to find.
class Bystander {
  public:
    explicit Bystander(const std::string& marker) {
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            execl("/bin/sh", "sh", "-c", "sleep 60; :", marker.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Bystander() {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }

  private:
    pid_t pid_;
};

bool wait_until(const std::function<bool()>& done) {
    for (int i = 0; i < 400; ++i) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

class HelperScriptTest : public ::testing::Test {
  protected:
    std::string shell_dir() const { return dev.path(std::string(device::kShellDir)); }

    DeviceRoot dev;
    BusyBoxPath busybox;
    LogCapture log;
};

}  // namespace

TEST_F(HelperScriptTest, ProcessListMatchesAnyLineThatHoldsTheText) {
    std::string marker = "/opt/Kelvane/marker_" + std::to_string(getpid());
    Bystander bystander(marker);
    ASSERT_TRUE(wait_until([&] { return ps_grep_and_check_if_included("Kelvane", marker) == 1; }));
    EXPECT_EQ(ps_grep_and_check_if_included("Kelvane", marker + "_other"), 0);

    // The search word reaches grep as it is, shell syntax and all.
    std::string odd = "/opt/Kelvane/odd \"$(word)\" `id` $HOME " + std::to_string(getpid());
    Bystander odd_one(odd);
    EXPECT_TRUE(
        wait_until([&] { return ps_grep_and_check_if_included(odd, "sleep 60; : " + odd) == 1; }));
}

TEST_F(HelperScriptTest, AScriptStartsOnceWhileItRunsAndGetsItsFolderLiterally) {
    std::string name = "probe_" + std::to_string(getpid()) + ".sh";
    write_file(shell_dir() + "/" + name,
               "#!/bin/sh\n"
               "printf 'started %s\\n' \"$1\" >> \"$1/probe.log\"\n"
               "i=0\n"
               "while [ ! -e \"$1/stop\" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done\n"
               "rm -f \"$1/stop\"\n");
    chmod((shell_dir() + "/" + name).c_str(), 0755);
    std::string folder = dev.root() + "/mon \"$(touch pwned)\" `id` $HOME";
    make_dirs(folder);
    auto running = [&] { return ps_grep_and_check_if_included("Kelvane", name) == 1; };
    auto starts = [&] {
        std::string text = read_file(folder + "/probe.log").value_or("");
        return std::count(text.begin(), text.end(), '\n');
    };

    shellscript_invoker(folder, name, false);
    ASSERT_TRUE(wait_until([&] { return starts() == 1; }));
    shellscript_invoker(folder, name, true);
    EXPECT_TRUE(running());
    write_file(folder + "/stop", "");
    ASSERT_TRUE(wait_until([&] { return !running(); }));
    EXPECT_EQ(read_file(folder + "/probe.log"), "started " + folder + "\n");

    shellscript_invoker(folder, name, true);
    ASSERT_TRUE(wait_until([&] { return starts() == 2; }));
    write_file(folder + "/stop", "");
    ASSERT_TRUE(wait_until([&] { return !running(); }));
    EXPECT_FALSE(fs::exists(dev.root() + "/pwned"));
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(HelperScriptTest, AnotherPackageProcessNamingTheScriptCountsAsRunning) {
    std::string name = "probe_other_" + std::to_string(getpid()) + ".sh";
    write_file(shell_dir() + "/" + name, "#!/bin/sh\ntouch \"$1/ran\"\n");
    chmod((shell_dir() + "/" + name).c_str(), 0755);
    Bystander viewer("/opt/Kelvane/bin/viewer --show " + name);
    ASSERT_TRUE(wait_until([&] { return ps_grep_and_check_if_included("Kelvane", name) == 1; }));
    make_dirs(dev.root() + "/mon");
    shellscript_invoker(dev.root() + "/mon", name, false);
    // Had it started, its process would exist by now: the shell forks it before returning.
    EXPECT_EQ(ps_grep_and_check_if_included("Kelvane", shell_dir() + "/" + name), 0);
    EXPECT_FALSE(fs::exists(dev.root() + "/mon/ran"));
}

TEST_F(HelperScriptTest, PlatformStatusScriptWritesIntoTheSessionsPlixFolder) {
    dev.link(std::string(device::kShellDir) + "/plix_status_monitor.sh",
             std::string(KELVANE_SOURCE_DIR) + "/shell/plix_status_monitor.sh");
    std::string session = dev.root() + "/card/s $(touch pwned)";
    std::string folder = session + "/system_monitoring/monitoring_plix";
    make_dirs(folder);
    plix_monitor_status_snapshot(session);
    auto running = [&] {
        return ps_grep_and_check_if_included("Kelvane", "plix_status_monitor.sh \"" + session) == 1;
    };
    ASSERT_TRUE(wait_until([&] { return fs::exists(folder + "/plix_status.csv") && !running(); }));
    std::string text = read_file(folder + "/plix_status.csv").value_or("");
    EXPECT_TRUE(std::regex_match(
        text,
        std::regex("Date,Time,Application,Status\n"
                   R"((\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d,[^,\n]*,(running|stopped|unknown)\n)+)")))
        << text;
    EXPECT_FALSE(fs::exists(dev.root() + "/card/pwned"));
}

TEST(MonitoryDir, AcceptsOnlyExistingSessionFoldersOfThePackage) {
    DeviceRoot dev;
    std::string edge = dev.path("/var/spool/storage/SD_DISK/Kelvane/");
    std::string internal = dev.path("/usr/local/packages/Kelvane/localdata/");
    for (const char* name :
         {"20240307_14_05_09", "20240307_24_60_60", "20240007_14_05_09", "20241307_14_05_09",
          "09990307_14_05_09", "2024030_14_05_09", "20240307_14_05_x9"}) {
        make_dirs(edge + name);
    }
    make_dirs(internal + "20240307_14_05_09");
    make_dirs(dev.path("/var/spool/storage/SD_DISK/other/20240307_14_05_09"));
    make_dirs(dev.root() + "/elsewhere/Kelvane/20240307_14_05_09");

    EXPECT_TRUE(is_monitory_dir((edge + "20240307_14_05_09").c_str()));
    EXPECT_TRUE(is_monitory_dir((internal + "20240307_14_05_09").c_str()));
    EXPECT_TRUE(is_monitory_dir((edge + "20240307_24_60_60").c_str()));
    EXPECT_TRUE(is_monitory_dir((edge + "20240007_14_05_09").c_str()));

    EXPECT_FALSE(is_monitory_dir(nullptr));
    EXPECT_FALSE(is_monitory_dir((edge + "20240307_14_05_09/").c_str()));
    EXPECT_FALSE(is_monitory_dir((edge + "../Kelvane/20240307_14_05_09").c_str()));
    EXPECT_FALSE(is_monitory_dir((edge + "20241307_14_05_09").c_str()));
    EXPECT_FALSE(is_monitory_dir((edge + "09990307_14_05_09").c_str()));
    EXPECT_FALSE(is_monitory_dir((edge + "2024030_14_05_09").c_str()));
    EXPECT_FALSE(is_monitory_dir((edge + "20240307_14_05_x9").c_str()));
    EXPECT_FALSE(is_monitory_dir((edge + "20240307_14_05_10").c_str()));
    EXPECT_FALSE(
        is_monitory_dir(dev.path("/var/spool/storage/SD_DISK/other/20240307_14_05_09").c_str()));
    EXPECT_FALSE(is_monitory_dir((dev.root() + "/elsewhere/Kelvane/20240307_14_05_09").c_str()));
}
