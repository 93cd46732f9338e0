#include "lib/session_globals.hpp"

#include <gtest/gtest.h>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

TEST(SessionGlobals, SaveWritesFourLinesThatLoadBack) {
    DeviceRoot dev;
    LogCapture log;
    const std::string state = dev.path(std::string(device::kStateFile));
    monitoring_session s{std::nullopt, "/sd/", "f", std::nullopt, "Thu Mar  7 14:05:09 2024"};
    monitoring_session_save(&s);
    EXPECT_EQ(read_file(state),
              "SECS:localdata\nSSPA:/sd/\nACTI:f\nTIME:Thu Mar  7 14:05:09 2024\n");
    MonitoringSession loaded = monitoring_session_load();
    ASSERT_TRUE(monitoring_session_is_active(loaded.get()));
    EXPECT_EQ(loaded->session_path, "/sd/f");
    device::set_root(dev.root() + "/nowhere");
    monitoring_session_save(&s);
    device::set_root(dev.root());
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + dev.root() + "/nowhere" +
                                     std::string(device::kStateFile) + "'"));
    monitoring_session_save(nullptr);
    EXPECT_FALSE(read_file(state));
    EXPECT_EQ(monitoring_session_load(), nullptr);
}
