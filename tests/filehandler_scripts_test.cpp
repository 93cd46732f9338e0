#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "lib/device.hpp"
#include "lib/filehandler.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"
#include "support/process.hpp"

namespace fs = std::filesystem;

// A folder name that got executed would reach the script changed, so its log line would differ.
TEST(HelperScripts, AScriptStartsOnlyWhenNoPackageProcessNamesItAndGetsItsFolderLiterally) {
    DeviceRoot dev;
    BusyBoxPath busybox;
    LogCapture log;
    std::string name = "probe_" + std::to_string(getpid()) + ".sh";
    std::string script = dev.path(std::string(device::kShellDir)) + "/" + name;
    write_file(script,
               "#!/bin/sh\nprintf 'started %s\\n' \"$1\" >> \"$1/probe.log\"\n"
               "i=0; while [ ! -e \"$1/stop\" ] && [ $i -lt 400 ]; do\n"
               "  sleep 0.05; i=$((i+1)); done; rm -f \"$1/stop\"\n");
    chmod(script.c_str(), 0755);
    std::string folder = dev.root() + "/mon \"$(touch $PWNED)\" `id` $HOME";
    make_dirs(folder);
    const std::string started = "started " + folder + "\n";
    auto running = [&] { return ps_grep_and_check_if_included("Kelvane", name) == 1; };
    auto stop = [&] {
        write_file(folder + "/stop", "");
        return wait_until([&] { return !running(); });
    };

    // Another program of the package whose command line names the script counts as running.
    pid_t viewer = fork();
    if (viewer == 0) {
        execl("/bin/sh", "sh", "-c",
              "sleep 60 </dev/null >/dev/null 2>&1; :", ("/opt/Kelvane/viewer " + name).c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_TRUE(wait_until(running));
    shellscript_invoker(folder, name, false);
    kill(viewer, SIGKILL);
    waitpid(viewer, nullptr, 0);
    ASSERT_TRUE(wait_until([&] { return !running(); }));
    EXPECT_FALSE(fs::exists(folder + "/probe.log"));

    shellscript_invoker(folder, name, false);
    ASSERT_TRUE(wait_until([&] { return fs::exists(folder + "/probe.log"); }));
    shellscript_invoker(folder, name, true);  // runs already
    ASSERT_TRUE(stop());
    EXPECT_EQ(read_file(folder + "/probe.log"), started);
    shellscript_invoker(folder, name, true);
    ASSERT_TRUE(wait_until([&] { return read_file(folder + "/probe.log") == started + started; }));
    ASSERT_TRUE(stop());
    EXPECT_TRUE(log.entries().empty());
}

