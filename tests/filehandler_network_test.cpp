#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <map>

#include "lib/filehandler.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

const std::string kHead =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs "
    "drop fifo colls carrier compressed\n";
const std::string kNetDev =
    kHead +
    "  eth0: 127827546    4713    1    2    0     3          0         7   234296    3238    4  "
    "  5    0     6       0          0\n";
const std::string kHeader =
    "Date, Time, Receive: bytes, compressed, drop, errs, fifo, frame, multicast, packets, "
    "Transmit: bytes, carrier, colls, compressed, drop, errs, fifo, packets, Failed packages "
    "total (receive), Failed packages total (transmit)\n";

}  // namespace

TEST(NetDevBandwidth, RateOverTheIntervalAndNoRowBelowZero) {
    network_bandwidth_state state;
    EXPECT_EQ(network_bandwidth_update(state, 1000, 100, 200), std::nullopt);
    // 92 250 000 bytes in 60 s: 12.3 Mbit/s. Then counters reset: no row, the new reference.
    EXPECT_EQ(network_bandwidth_update(state, 1060, 90'000'100, 2'250'200), "12.3 Mbit/s");
    EXPECT_EQ(network_bandwidth_update(state, 1120, 0, 0), std::nullopt);
    // A small step back, the same second, counters at the ends of the range: 0.0.
    EXPECT_EQ(network_bandwidth_update(state, 1180, -9'000, 0), "0.0 Mbit/s");
    EXPECT_EQ(network_bandwidth_update(state, 1180, 1'000'000'000, 0), "0.0 Mbit/s");
    state = {1000, LLONG_MAX, LLONG_MAX};
    EXPECT_EQ(network_bandwidth_update(state, 1060, LLONG_MIN, LLONG_MIN), "0.0 Mbit/s");
    // A clock set back gives no rate, also with counters gone back.
    EXPECT_EQ(network_bandwidth_update(state, 1000, 0, 0), std::nullopt);
}

TEST(NetDevCollector, InterfaceFilesEachRunTheBandwidthFromTheSecondAndNothingFromBrokenTables) {
    DeviceRoot dev;
    LogCapture log;
    std::string session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK").session_path;
    std::string folder = session + "/system_monitoring/monitoring_network/";
    network_bandwidth = {123, 4, 5};
    store_proc_net_dev(session);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + dev.path("/proc/net/dev") + "'"));
    // Cut tables, and headers that don't split receive from transmit.
    for (std::string text : {kNetDev.substr(0, 300), kHead.substr(0, 120) + "\n", kHead + " x"}) {
        log.clear();
        dev.write("/proc/net/dev", text);
        store_proc_net_dev(session);
        EXPECT_TRUE(log.has(LOG_ERR, "Error on parsing: ")) << text;
    }
    EXPECT_EQ(network_bandwidth.last_time_of_network_check, 123);

    // More than ten interfaces, 100 keys and 1023 bytes; '_' and "drop" in a name change neither
    // the header nor the totals.
    std::string table = kNetDev;
    for (int n = 0; n < 12; ++n) {
        table += " wl_drop" + std::to_string(n) + ":" + std::string(80, ' ') +
                 "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 " + std::to_string(16 + n) + "\n";
    }
    dev.write("/proc/net/dev", table);
    network_bandwidth = {};
    log.clear();
    store_proc_net_dev(session);
    EXPECT_FALSE(read_file(folder + "network.csv"));
    // As if the sample were 1000 s old: 1 543 750 000 bytes are 12.3 Mbit/s over 1000 or 1001 s.
    network_bandwidth.last_time_of_network_check -= 1000;
    network_bandwidth.last_value_of_receive -= 1'543'750'000;
    store_proc_net_dev(session);
    EXPECT_EQ(read_stamped(folder + "network.csv"),
              "Date,Time,Network Bandwidth (Mbit/s)\r\nT,12.3 Mbit/s\r\n");
    std::string eth0 = "T,127827546,0,2,1,0,3,7,4713,234296,0,6,0,5,4,0,3238,6,9\n";
    EXPECT_EQ(read_stamped(folder + "eth0.csv"), kHeader + eth0 + eth0);
    std::string wlan = "T,1,7,4,3,5,6,8,2,9,15,14,27,12,11,13,10,13,23\n";
    EXPECT_EQ(read_stamped(folder + "wl_drop11.csv"), kHeader + wlan + wlan);
    EXPECT_FALSE(log.has(LOG_ERR, ""));

    // A missing folder: tried again for each key of an interface.
    std::filesystem::remove_all(folder);
    network_bandwidth = {};
    store_proc_net_dev(session);
    EXPECT_EQ(log.count("monitoring_network/eth0.csv'"), 16u);
    EXPECT_EQ(log.count("Could not open file '"), 16u * 13);
}
