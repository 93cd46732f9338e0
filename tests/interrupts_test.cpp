#include "lib/interrupts.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

TEST(Interrupts, TwoReadingsAboutThreeSecondsApartEvenInAnOddlyNamedSession) {
    DeviceRoot dev;
    LogCapture log;
    const std::string table =
        "           CPU0       CPU1\n 11:      12345          0  GICv3  27 Level\n";
    dev.write(std::string(device::kProcInterrupts), table);
    std::string session = dev.root() + "/card/s \"$(touch pwned)\" `id` $HOME";
    std::string folder = session + "/system_monitoring/monitoring_interrupts";
    make_dirs(folder);

    create_interrupts_snapshot(session);

    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
        EXPECT_EQ(read_file(entry.path().string()), table);
    }
    ASSERT_EQ(names.size(), 2u);
    const std::regex name(R"((\d{8})_(\d\d)(\d\d)(\d\d)_interrupts\.txt)");
    std::vector<int> seconds;
    for (const auto& n : names) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(n, m, name)) << n;
        seconds.push_back(std::stoi(m[2]) * 3600 + std::stoi(m[3]) * 60 + std::stoi(m[4]));
    }
    int apart = (seconds[1] - seconds[0] + 86400) % 86400;
    EXPECT_GE(apart, 3);
    EXPECT_LE(apart, 30);
    EXPECT_TRUE(log.entries().empty());
    EXPECT_FALSE(fs::exists(dev.root() + "/pwned"));
}

TEST(Interrupts, AMissingFolderIsReportedByTheCommandRunner) {
    DeviceRoot dev;
    LogCapture log;
    dev.write(std::string(device::kProcInterrupts), "table\n");
    create_interrupts_snapshot(dev.root() + "/none");
    std::string source = dev.path(std::string(device::kProcInterrupts));
    EXPECT_TRUE(log.has(LOG_WARNING, "Exit status '1' for command: cp " + source));
    EXPECT_TRUE(log.has(LOG_WARNING, "Exit status '1' for command: sleep 3 && cp " + source));
}
