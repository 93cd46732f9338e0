#include "lib/interrupts.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

// Two copies about three seconds apart; an executed folder name would send them elsewhere.
TEST(Interrupts, TwoReadingsAboutThreeSecondsApartEvenInAnOddlyNamedSession) {
    DeviceRoot dev;
    LogCapture log;
    const std::string table = "           CPU0\n 11:      12345  GICv3  27 Level\n";
    dev.write(std::string(device::kProcInterrupts), table);
    std::string session = dev.root() + "/card/s \"$(touch $PWNED)\" `id` $HOME";
    std::string folder = session + "/system_monitoring/monitoring_interrupts";
    make_dirs(folder);
    create_interrupts_snapshot(session);
    std::vector<int> seconds;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::smatch m;
        std::string name = entry.path().filename().string();
        ASSERT_TRUE(
            std::regex_match(name, m, std::regex(R"(\d{8}_(\d\d)(\d\d)(\d\d)_interrupts\.txt)")));
        seconds.push_back(std::stoi(m[1]) * 3600 + std::stoi(m[2]) * 60 + std::stoi(m[3]));
        EXPECT_EQ(read_file(entry.path().string()), table);
    }
    ASSERT_EQ(seconds.size(), 2u);
    int apart = std::abs(seconds[1] - seconds[0]);
    EXPECT_TRUE(std::min(apart, 86400 - apart) >= 3 && std::min(apart, 86400 - apart) <= 60);
    EXPECT_TRUE(log.entries().empty());
}
