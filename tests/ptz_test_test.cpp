#include "lib/ptz_test.hpp"

#include <gtest/gtest.h>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

const std::string kInterval(device::kPtzTestIntervalFile);
const std::string kTimes(device::kPtzTestTimesFile);

class PtzTestSettings : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
};

}  // namespace

TEST_F(PtzTestSettings, GettersTakeOnlyAWellFormedFirstLine) {
    EXPECT_EQ(ptz_test_interval_get(), 0u);
    EXPECT_EQ(ptz_test_given_times_get(), std::nullopt);
    auto interval = [&](const std::string& text) {
        dev.write(kInterval, text);
        return ptz_test_interval_get();
    };
    EXPECT_EQ(interval("T:60\n"), 60u);
    EXPECT_EQ(interval("T: 7\nT:9\n"), 7u);
    EXPECT_EQ(interval("T:abc\n"), 0u);
    EXPECT_EQ(interval("\nT:5\n"), 0u);
    EXPECT_EQ(interval(" T:5\n"), 0u);
    EXPECT_EQ(interval("T:18446744073709551615"), UINT64_MAX);
    auto times = [&](const std::string& text) {
        dev.write(kTimes, text);
        return ptz_test_given_times_get();
    };
    EXPECT_EQ(times("06:00,18:30\nignored\n"), "06:00,18:30");
    EXPECT_EQ(times("06:00,18:30\"x\n"), "06:00,18:30");  // up to a quote
    EXPECT_EQ(times("\"06:00\n"), "");
    EXPECT_EQ(times(""), std::nullopt);
    EXPECT_EQ(times(std::string(150, '1')), std::string(99, '1'));
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(PtzTestSettings, SettersWriteWholeLinesOrRemoveTheFile) {
    ptz_test_interval_set(3);
    ptz_test_given_times_set("12:00");
    EXPECT_EQ(read_file(dev.path(kInterval)), "T:3\n");
    EXPECT_EQ(read_file(dev.path(kTimes)), "12:00\n");
    ptz_test_interval_set(0);
    ptz_test_given_times_set("");
    EXPECT_FALSE(read_file(dev.path(kInterval)).has_value());
    EXPECT_FALSE(read_file(dev.path(kTimes)).has_value());

    // A failed write keeps the old setting.
    ptz_test_interval_set(5);
    device::set_root(dev.root() + "/missing");
    ptz_test_interval_set(9);
    device::set_root(dev.root());
    EXPECT_TRUE(
        log.has(LOG_ERR, "Could not open file '" + dev.root() + "/missing" + kInterval + "'"));
    EXPECT_EQ(ptz_test_interval_get(), 5u);
}
