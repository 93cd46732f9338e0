#include "lib/ptz_test.hpp"

#include <gtest/gtest.h>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

class PtzTestSettings : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
    const std::string interval = std::string(device::kPtzTestIntervalFile);
    const std::string times = std::string(device::kPtzTestTimesFile);
};

TEST_F(PtzTestSettings, GettersTakeOnlyAWellFormedFirstLine) {
    EXPECT_EQ(ptz_test_interval_get(), 0u);
    EXPECT_EQ(ptz_test_given_times_get(), std::nullopt);
    const std::pair<std::string, uint64_t> intervals[] = {
        {"T:60\n", 60}, {"T: 7\nT:9\n", 7}, {"T:abc\n", 0},
        {"\nT:5\n", 0}, {" T:5\n", 0},      {"T:18446744073709551615", UINT64_MAX}};
    for (const auto& [text, value] : intervals) {
        dev.write(interval, text);
        EXPECT_EQ(ptz_test_interval_get(), value) << text;
    }
    // The first line up to a quote, at most 99 characters.
    const std::pair<std::string, std::optional<std::string>> given[] = {
        {"06:00,18:30\nignored\n", "06:00,18:30"},
        {"06:00,18:30\"x\n", "06:00,18:30"},
        {"\"06:00\n", ""},
        {"", std::nullopt},
        {std::string(150, '1'), std::string(99, '1')},
        {std::string("08:00\0x,09:00\n", 14), "08:00"}};
    for (const auto& [text, value] : given) {
        dev.write(times, text);
        EXPECT_EQ(ptz_test_given_times_get(), value) << text;
    }
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(PtzTestSettings, SettersWriteWholeLinesOrRemoveTheFile) {
    ptz_test_interval_set(3);
    ptz_test_given_times_set("12:00");
    EXPECT_EQ(read_file(dev.path(interval)), "T:3\n");
    EXPECT_EQ(read_file(dev.path(times)), "12:00\n");
    ptz_test_interval_set(0);
    ptz_test_given_times_set("");
    EXPECT_FALSE(read_file(dev.path(interval)).has_value());
    EXPECT_FALSE(read_file(dev.path(times)).has_value());
    // A failed write.
    device::set_root(dev.root() + "/missing");
    ptz_test_interval_set(9);
    device::set_root(dev.root());
    EXPECT_TRUE(
        log.has(LOG_ERR, "Could not open file '" + dev.root() + "/missing" + interval + "'"));
}
