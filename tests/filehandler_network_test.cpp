#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <regex>
#include <sstream>

#include "lib/filehandler.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

const std::string kGroupLine =
    "Inter-|   Receive                                                |  Transmit\n";
const std::string kColumnLine =
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs "
    "drop fifo colls carrier compressed\n";
// Captured from a machine, with error counters made non-zero.
const std::string kNetDev =
    kGroupLine + kColumnLine +
    "    lo:    3267      29    0    0    0     0          0         0     3267      29    0    "
    "0    0     0       0          0\n"
    "  eth0: 127827546    4713    1    2    0     3          0         7   234296    3238    4  "
    "  5    0     6       0          0\n";

const std::string kStandardHeader =
    "Date, Time, Receive: bytes, compressed, drop, errs, fifo, frame, multicast, packets, "
    "Transmit: bytes, carrier, colls, compressed, drop, errs, fifo, packets, Failed packages "
    "total (receive), Failed packages total (transmit)\n";

// The file's text with every time stamp replaced by STAMP.
std::string unstamped(const std::optional<std::string>& text) {
    return std::regex_replace(text.value_or("<missing>"),
                              std::regex(R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d)"), "STAMP");
}

// One parse into a table of its own.
struct Parsed {
    explicit Parsed(const std::string& text) {
        ordering.map = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
        code = parse_proc_net_dev(text, &ordering);
    }
    ~Parsed() { g_hash_table_destroy(ordering.map); }
    std::string at(const std::string& key) const {
        auto* value = static_cast<const char*>(g_hash_table_lookup(ordering.map, key.c_str()));
        return value != nullptr ? value : "<none>";
    }
    size_t size() const { return g_hash_table_size(ordering.map); }

    hashtable_key_ordering_t ordering;
    int code = -1;
};

}  // namespace

TEST(NetDevParse, StandardTableGivesSixteenKeysPerInterface) {
    LogCapture log;
    Parsed parsed(kNetDev);
    ASSERT_EQ(parsed.code, 0);
    EXPECT_EQ(parsed.size(), 32u);
    EXPECT_EQ(parsed.at("eth0.csv/receive_bytes"), "127827546");
    EXPECT_EQ(parsed.at("eth0.csv/receive_multicast"), "7");
    EXPECT_EQ(parsed.at("eth0.csv/transmit_bytes"), "234296");
    EXPECT_EQ(parsed.at("eth0.csv/transmit_colls"), "6");
    EXPECT_EQ(parsed.at("lo.csv/transmit_packets"), "29");
    EXPECT_TRUE(log.has(LOG_DEBUG, "parse_proc_net_dev There are 8 number of metrics\n"));
}

TEST(NetDevParse, ThisMachinesTableWhole) {
    std::string text = read_file("/proc/net/dev").value();
    Parsed parsed(text);
    ASSERT_EQ(parsed.code, 0);
    std::istringstream lines(text);
    std::string line;
    size_t interfaces = 0;
    for (int skip = 0; skip < 2; ++skip) {
        std::getline(lines, line);
    }
    while (std::getline(lines, line)) {
        std::istringstream fields(line.replace(line.find(':'), 1, " "));
        std::string name, counters[16];
        fields >> name;
        for (auto& counter : counters) {
            fields >> counter;
        }
        EXPECT_EQ(parsed.at(name + ".csv/receive_bytes"), counters[0]);
        EXPECT_EQ(parsed.at(name + ".csv/transmit_compressed"), counters[15]);
        ++interfaces;
    }
    EXPECT_EQ(parsed.size(), 16 * interfaces);
}

TEST(NetDevParse, EveryInterfaceOfALongTable) {
    // 12 interfaces: more than ten, more than 100 keys, far more than 1023 bytes.
    std::string text = kGroupLine + kColumnLine;
    for (int n = 0; n < 12; ++n) {
        text += "  veth" + std::to_string(n) + ":";
        for (int counter = 0; counter < 16; ++counter) {
            text += "       " + std::to_string(counter == 0 ? 1000 + n : counter);
        }
        text += "\n";
    }
    ASSERT_GT(text.size(), 1023u);
    Parsed parsed(text);
    ASSERT_EQ(parsed.code, 0);
    EXPECT_EQ(parsed.size(), 192u);
    EXPECT_EQ(parsed.at("veth11.csv/receive_bytes"), "1011");
    EXPECT_EQ(parsed.at("veth11.csv/transmit_compressed"), "15");
}

TEST(NetDevParse, OddButReadableLines) {
    Parsed header_only(kGroupLine + kColumnLine);
    EXPECT_EQ(header_only.code, 0);
    EXPECT_EQ(header_only.size(), 0u);

    // Counters past the named columns are dropped; a line without ':' or with a name that would
    // leave the folder gives nothing; '_' in a name is kept.
    Parsed odd("g\n f |a b|c\n wlan_1: 1 2 3 4 5\nno colon 9\n ../x: 1 2 3\n");
    EXPECT_EQ(odd.code, 0);
    EXPECT_EQ(odd.size(), 3u);
    EXPECT_EQ(odd.at("wlan_1.csv/receive_a"), "1");
    EXPECT_EQ(odd.at("wlan_1.csv/receive_b"), "2");
    EXPECT_EQ(odd.at("wlan_1.csv/transmit_c"), "3");
}

TEST(NetDevParse, MalformedOrCutTablesFail) {
    std::string cut = kNetDev.substr(0, kNetDev.size() - 20);
    for (const std::string& text :
         {std::string("Inter-|"), kGroupLine + "no bar at all\n", kGroupLine + " face |a b c\n",
          kGroupLine + " face |a|b", cut}) {
        LogCapture log;
        Parsed parsed(text);
        EXPECT_NE(parsed.code, 0) << text;
        EXPECT_TRUE(log.has(LOG_ERR, "FAILED " + std::to_string(parsed.code))) << text;
    }
}

TEST(NetDevBandwidth, RateOverTheIntervalAndNoRowForARateBelowZero) {
    network_bandwidth_state state;
    EXPECT_EQ(network_bandwidth_update(state, 1000, 100, 200), std::nullopt);  // first sample
    EXPECT_EQ(state.last_time_of_network_check, 1000);
    // 92 250 000 bytes in 60 s: 1 537 500 B/s, 12.3 Mbit/s.
    EXPECT_EQ(network_bandwidth_update(state, 1060, 90'000'100, 2'250'200), "12.3 Mbit/s");
    // Counters reset: no row, and they become the reference.
    EXPECT_EQ(network_bandwidth_update(state, 1120, 0, 0), std::nullopt);
    EXPECT_EQ(state.last_value_of_receive, 0);
    EXPECT_EQ(state.last_value_of_transmit, 0);

    // Less than 12500 B/s either way, and two samples in one second, give 0.0.
    state = {1000, 10'000, 0};
    EXPECT_EQ(network_bandwidth_update(state, 1060, 9'000, 0), "0.0 Mbit/s");
    EXPECT_EQ(network_bandwidth_update(state, 1060, 1'000'000'000, 0), "0.0 Mbit/s");

    // A clock set back gives no rate even when the counters went back too.
    state = {1000, 1'000'000'000, 0};
    EXPECT_EQ(network_bandwidth_update(state, 940, 0, 0), std::nullopt);
    EXPECT_EQ(state.last_time_of_network_check, 940);

    // Counters at the ends of the range wrap instead of overflowing.
    state = {1000, LLONG_MAX, LLONG_MAX};
    EXPECT_EQ(network_bandwidth_update(state, 1060, LLONG_MIN, LLONG_MIN), "0.0 Mbit/s");
}

TEST(NetDevCollector, InterfaceFilesEachRunAndTheBandwidthFromTheSecond) {
    DeviceRoot dev;
    LogCapture log;
    LaidSession session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    std::string folder = session.session_path + "/system_monitoring/monitoring_network";
    std::string wlan = "wlan_1: 10 1 0 0 0 0 0 0 20 2 0 0 0 0 0 0\n";  // '_' keeps its metric names
    dev.write("/proc/net/dev", kNetDev + wlan);
    network_bandwidth = {};

    store_proc_net_dev(session.session_path);
    std::string eth0_row = "STAMP,127827546,0,2,1,0,3,7,4713,234296,0,6,0,5,4,0,3238,6,9\n";
    EXPECT_EQ(unstamped(read_file(folder + "/eth0.csv")), kStandardHeader + eth0_row);
    EXPECT_EQ(unstamped(read_file(folder + "/lo.csv")),
              kStandardHeader + "STAMP,3267,0,0,0,0,0,0,29,3267,0,0,0,0,0,0,29,0,0\n");
    EXPECT_EQ(unstamped(read_file(folder + "/wlan_1.csv")),
              kStandardHeader + "STAMP,10,0,0,0,0,0,0,1,20,0,0,0,0,0,0,2,0,0\n");
    EXPECT_FALSE(read_file(folder + "/network.csv").has_value());

    // As if the previous sample were 1000 s old: 1 543 750 000 bytes give 12.3 Mbit/s, also
    // when the clock moves on by a second meanwhile.
    network_bandwidth.last_time_of_network_check -= 1000;
    network_bandwidth.last_value_of_receive -= 1'500'000'000;
    network_bandwidth.last_value_of_transmit -= 43'750'000;
    // An interface that appears later gets its own file with a header.
    dev.write("/proc/net/dev", kNetDev + wlan + "  eth1: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n");
    store_proc_net_dev(session.session_path);
    EXPECT_EQ(unstamped(read_file(folder + "/network.csv")),
              "Date,Time,Network Bandwidth (Mbit/s)\r\nSTAMP,12.3 Mbit/s\r\n");
    EXPECT_EQ(unstamped(read_file(folder + "/eth0.csv")), kStandardHeader + eth0_row + eth0_row);
    EXPECT_EQ(unstamped(read_file(folder + "/eth1.csv")),
              kStandardHeader + "STAMP,1,7,4,3,5,6,8,2,9,15,14,16,12,11,13,10,13,23\n");
    EXPECT_FALSE(log.has(LOG_ERR, ""));
}

TEST(NetDevCollector, UnreadableOrBrokenTablesWriteNothing) {
    DeviceRoot dev;
    LogCapture log;
    LaidSession session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    std::string folder = session.session_path + "/system_monitoring/monitoring_network";
    std::string proc = dev.path("/proc/net/dev");
    network_bandwidth = {123, 4, 5};

    store_proc_net_dev(session.session_path);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + proc + "'"));

    for (const std::string& text : {std::string(), kNetDev.substr(0, kNetDev.size() - 1)}) {
        dev.write("/proc/net/dev", text);
        store_proc_net_dev(session.session_path);
    }
    EXPECT_TRUE(log.has(LOG_ERR, "Could not read from file " + proc));
    EXPECT_TRUE(log.has(LOG_ERR, "Error on parsing: "));
    EXPECT_EQ(network_bandwidth.last_time_of_network_check, 123);

    std::remove(proc.c_str());
    make_dirs(proc);
    log.clear();
    store_proc_net_dev(session.session_path);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not read from file " + proc));
    EXPECT_EQ(network_bandwidth.last_value_of_transmit, 5);
    EXPECT_FALSE(read_file(folder + "/eth0.csv").has_value());
}

TEST(NetDevCollector, MissingFolderIsTriedOnceForEveryKey) {
    DeviceRoot dev;
    LogCapture log;
    dev.write("/proc/net/dev", kNetDev);
    network_bandwidth = {};
    std::string session = dev.root() + "/storage/no_session";
    store_proc_net_dev(session);
    EXPECT_EQ(log.count("Could not open file '" + session +
                        "/system_monitoring/monitoring_network/eth0.csv'"),
              16u);
    EXPECT_EQ(log.count("Could not open file '"), 32u);
}

TEST(NetDevRows, KeyWithoutValueAndTotalsFromTheColumnOnly) {
    DeviceRoot dev;
    LogCapture log;
    hashtable_key_ordering_t ordering;
    ordering.path = dev.root();
    ordering.map = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
    auto put = [&](const char* key, const char* value) {
        g_hash_table_insert(ordering.map, g_strdup(key), value ? g_strdup(value) : nullptr);
    };
    put("eth0.csv/transmit_drop", "7");
    put("eth0.csv/receive_errs", nullptr);
    put("eth0.csv/receive_bytes", "5");
    // Totals wrap at 32 bits; "drop" in an interface name adds nothing to them.
    put("drop0.csv/receive_bytes", "100");
    put("drop0.csv/receive_errs", "4294967295");
    put("drop0.csv/receive_frame", "2");
    store_for_each_proc_net_dev_symbols(&ordering);
    g_hash_table_destroy(ordering.map);

    EXPECT_EQ(unstamped(read_file(dev.root() + "/eth0.csv")),
              "Date, Time, Receive: bytes, errs, Transmit: drop, Failed packages total "
              "(receive), Failed packages total (transmit)\nSTAMP,5,-1,7,0,7\n");
    EXPECT_TRUE(log.has(LOG_DEBUG, "store_for_each_proc_net_dev_symbols."));
    EXPECT_TRUE(log.has(LOG_DEBUG, " did not find value for key: eth0.csv/receive_errs"));
    EXPECT_EQ(unstamped(read_file(dev.root() + "/drop0.csv")),
              "Date, Time, Receive: bytes, errs, frame, Failed packages total (receive), Failed "
              "packages total (transmit)\nSTAMP,100,4294967295,2,1,0\n");
}
