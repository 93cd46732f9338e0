#include "lib/onvif.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

TEST(Onvif, CopiesUnderATimeStampNeverOverwritingAndSkipsAMissingSource) {
    DeviceRoot dev;
    LogCapture log;
    const std::string source = dev.path(std::string(device::kMediaConf));
    onvif_copy_media_conf(dev.root() + "/s");
    EXPECT_TRUE(log.has(LOG_DEBUG, "'" + source + "' is not a file."));

    write_file(source, "<media/>\n");
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
        EXPECT_TRUE(std::regex_match(entry.path().filename().string(),
                                     std::regex(R"(\d{8}_\d{6}_media\.conf)")));
        EXPECT_EQ(read_file(entry.path().string()), "<media/>\n");
    }
    size_t refused = log.count("Could not copy '" + source);
    EXPECT_GE(refused, 1u);
    EXPECT_EQ(copies + refused, 3u);
}
