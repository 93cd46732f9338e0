#include "lib/onvif.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

TEST(Onvif, CopiesUnderATimeStampAndNeverOverwritesACopy) {
    DeviceRoot dev;
    LogCapture log;
    dev.write(std::string(device::kMediaConf), "<media>profile 1</media>\n");
    std::string folder = dev.root() + "/s/system_monitoring/monitoring_onvif";
    make_dirs(folder);
    // Three copies within a second or two: at least two share a second, and the later of
    // those is refused.
    for (int i = 0; i < 3; ++i) {
        onvif_copy_media_conf(dev.root() + "/s");
    }
    size_t copies = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        ++copies;
        std::string name = entry.path().filename().string();
        EXPECT_TRUE(std::regex_match(name, std::regex(R"(\d{8}_\d{6}_media\.conf)"))) << name;
        EXPECT_EQ(read_file(entry.path().string()), "<media>profile 1</media>\n");
    }
    size_t refused = log.count("Could not copy '" + dev.path(std::string(device::kMediaConf)));
    EXPECT_GE(refused, 1u);
    EXPECT_EQ(copies + refused, 3u);
}

TEST(Onvif, MissingSourceOrFolderIsLoggedAndSkipped) {
    DeviceRoot dev;
    LogCapture log;
    onvif_copy_media_conf(dev.root() + "/s");
    std::string source = dev.path(std::string(device::kMediaConf));
    EXPECT_TRUE(log.has(LOG_DEBUG, "'" + source + "' is not a file."));

    dev.write(std::string(device::kMediaConf), "x");
    log.clear();
    onvif_copy_media_conf(dev.root() + "/s");
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(log.entries()[0].first, LOG_WARNING);
    EXPECT_FALSE(fs::exists(dev.root() + "/s"));
}
