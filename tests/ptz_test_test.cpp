#include "lib/ptz_test.hpp"

#include <gtest/gtest.h>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

TEST(PtzTestSettings, SettersWriteWholeLinesOrRemoveTheFile) {
    DeviceRoot dev;
    LogCapture log;
    const std::string interval = dev.path(std::string(device::kPtzTestIntervalFile));
    const std::string times = dev.path(std::string(device::kPtzTestTimesFile));
    ptz_test_interval_set(3);
    ptz_test_given_times_set("12:00");
    EXPECT_EQ(read_file(interval), "T:3\n");
    EXPECT_EQ(read_file(times), "12:00\n");
    ptz_test_interval_set(0);
    ptz_test_given_times_set("");
    EXPECT_FALSE(read_file(interval) || read_file(times));
    device::set_root(dev.root() + "/missing");
    ptz_test_interval_set(9);
    device::set_root(dev.root());
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + dev.root() + "/missing" +
                                     std::string(device::kPtzTestIntervalFile) + "'"));
}
