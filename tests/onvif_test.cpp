#include "lib/onvif.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

// Copies within one second share a name: the later one is refused, never written over.
TEST(Onvif, CopiesUnderATimeStampNeverOverwritingAndSkipsAMissingSource) {
    DeviceRoot dev;
    LogCapture log;
    const std::string source = dev.path(std::string(device::kMediaConf));
    onvif_copy_media_conf(dev.root() + "/s");
    EXPECT_TRUE(log.has(LOG_DEBUG, "'" + source + "' is not a file."));
    write_file(source, "<media/>\n");
    std::string folder = dev.root() + "/s/system_monitoring/monitoring_onvif";
    make_dirs(folder);
    const std::string refusal = "Could not copy '" + source;
    size_t runs = 0;
    for (; runs < 100 && log.count(refusal) == 0; ++runs) {
        onvif_copy_media_conf(dev.root() + "/s");
    }
    size_t copies = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        copies += std::regex_match(entry.path().filename().string(),
                                   std::regex(R"(\d{8}_\d{6}_media\.conf)")) &&
                  read_file(entry.path().string()) == "<media/>\n";
    }
    EXPECT_EQ(log.count(refusal), 1u);
    EXPECT_EQ(copies + 1, runs);
}
