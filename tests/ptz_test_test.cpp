#include "lib/ptz_test.hpp"

#include <gtest/gtest.h>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

const std::string kInterval =
    "/usr/local/packages/Kelvane/localdata/automatic_PTZ_test_interval.info";
const std::string kTimes = "/usr/local/packages/Kelvane/localdata/automatic_PTZ_test_times.info";

class PtzTestSettings : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
};

}  // namespace

TEST_F(PtzTestSettings, IntervalParsesOnlyAWellFormedFirstLine) {
    EXPECT_EQ(ptz_test_interval_get(), 0u);
    for (auto [text, expected] :
         std::vector<std::pair<std::string, uint64_t>>{{"T:60\n", 60},
                                                       {"T: 7\nT:9\n", 7},
                                                       {"T:abc\n", 0},
                                                       {"\nT:5\n", 0},
                                                       {" T:5\n", 0},
                                                       {"", 0},
                                                       {"T:18446744073709551615", UINT64_MAX}}) {
        dev.write(kInterval, text);
        EXPECT_EQ(ptz_test_interval_get(), expected) << text;
    }
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(PtzTestSettings, IntervalSetWritesOrRemoves) {
    ptz_test_interval_set(3);
    EXPECT_EQ(read_file(dev.path(kInterval)), "T:3\n");
    EXPECT_EQ(ptz_test_interval_get(), 3u);
    ptz_test_interval_set(0);
    EXPECT_FALSE(read_file(dev.path(kInterval)).has_value());
    EXPECT_EQ(ptz_test_interval_get(), 0u);
    ptz_test_interval_set(0);
    EXPECT_TRUE(log.has(LOG_DEBUG, "Could not remove '" + dev.path(kInterval) + "'"));
}

TEST_F(PtzTestSettings, GivenTimesAreTheFirstLineUpToAQuote) {
    EXPECT_EQ(ptz_test_given_times_get(), std::nullopt);
    dev.write(kTimes, "06:00,18:30\nignored\n");
    EXPECT_EQ(ptz_test_given_times_get(), "06:00,18:30");
    dev.write(kTimes, "06:00,18:30\"x\n");
    EXPECT_EQ(ptz_test_given_times_get(), "06:00,18:30");
    dev.write(kTimes, "\"06:00\n");
    EXPECT_EQ(ptz_test_given_times_get(), "");
    dev.write(kTimes, "");
    EXPECT_EQ(ptz_test_given_times_get(), std::nullopt);
    dev.write(kTimes, std::string(150, '1') + "\n");
    EXPECT_EQ(ptz_test_given_times_get(), std::string(99, '1'));

    ptz_test_given_times_set("12:00");
    EXPECT_EQ(read_file(dev.path(kTimes)), "12:00\n");
    ptz_test_given_times_set("");
    EXPECT_EQ(ptz_test_given_times_get(), std::nullopt);
}

TEST_F(PtzTestSettings, FailedWriteKeepsTheOldSetting) {
    ptz_test_interval_set(5);
    std::string root = dev.root();
    device::set_root(root + "/missing");
    ptz_test_interval_set(9);
    device::set_root(root);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + root + "/missing" + kInterval + "'"));
    EXPECT_EQ(ptz_test_interval_get(), 5u);
}
