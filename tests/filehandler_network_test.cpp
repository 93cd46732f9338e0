#include <gtest/gtest.h>

#include <climits>

#include "lib/filehandler.hpp"

TEST(NetDevBandwidth, RateOverTheIntervalAndNoRowBelowZero) {
    network_bandwidth_state state;
    // (time, receive, transmit) -> rate; 92 250 000 bytes in 60 s are 12.3 Mbit/s. Counters
    // reset, or a clock set back, give no row; a small step back and the same second give 0.0.
    const std::tuple<time_t, long long, long long, const char*> samples[] = {
        {1000, 100, 200, nullptr},
        {1060, 90'000'100, 2'250'200, "12.3 Mbit/s"},
        {1120, 0, 0, nullptr},
        {1180, -9'000, 0, "0.0 Mbit/s"},
        {1180, 1'000'000'000, 0, "0.0 Mbit/s"},
        {1000, 0, 0, nullptr}};
    for (const auto& [now, receive, transmit, rate] : samples) {
        auto expected = rate ? std::optional<std::string>(rate) : std::nullopt;
        EXPECT_EQ(network_bandwidth_update(state, now, receive, transmit), expected) << now;
    }
    state = {1000, LLONG_MAX, LLONG_MAX};
    EXPECT_EQ(network_bandwidth_update(state, 1060, LLONG_MIN, LLONG_MIN), "0.0 Mbit/s");
}
