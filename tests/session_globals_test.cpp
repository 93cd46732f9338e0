#include "lib/session_globals.hpp"

#include <gtest/gtest.h>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

class SessionGlobalsTest : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
    const std::string state = dev.path(std::string(device::kStateFile));
    MonitoringSession load(const std::string& text) {
        write_file(state, text);
        return monitoring_session_load();
    }
};

TEST_F(SessionGlobalsTest, SaveWritesFourLinesThatLoadBack) {
    monitoring_session s{std::nullopt, "/sd/", "f", std::nullopt, "Thu Mar  7 14:05:09 2024"};
    monitoring_session_save(&s);
    const std::string saved = "SECS:localdata\nSSPA:/sd/\nACTI:f\nTIME:Thu Mar  7 14:05:09 2024\n";
    EXPECT_EQ(read_file(state), saved);
    MonitoringSession loaded = monitoring_session_load();
    ASSERT_TRUE(monitoring_session_is_active(loaded.get()));
    EXPECT_FALSE(loaded->storage_id);  // "localdata" means internal storage
    EXPECT_EQ(loaded->session_path, "/sd/f");
    EXPECT_EQ(loaded->monitor_start_time, "Thu Mar  7 14:05:09 2024");
    // A failed save is logged with its path.
    device::set_root(dev.root() + "/nowhere");
    monitoring_session_save(&s);
    device::set_root(dev.root());
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + dev.root() + "/nowhere" +
                                     std::string(device::kStateFile) + "'"));
}

