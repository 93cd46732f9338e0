#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <regex>
#include <sstream>

#include "kelvane_daemon.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

buddyinfo_table parse_text(const std::string& text) {
    std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    buddyinfo_table table = parse_buddyinfo(in);
    std::fclose(in);
    return table;
}

using Row = std::array<long long, buddyinfo_table::kOrders>;
enum { kDma, kDma32, kNormal, kHighMem, kTotal };

}  // namespace

TEST(Vmstat, CountersOfThisMachineAndMissingOnes) {
    EXPECT_EQ(vmstat_parse_line("pgfault 12a3", 20), "12");
    EXPECT_EQ(vmstat_parse_line("pgfault " + std::string(30, '7'), 20), std::string(19, '7'));
    DeviceRoot dev;
    LogCapture log;
    std::string vmstat = read_file("/proc/vmstat").value();
    dev.write("/proc/vmstat", vmstat);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(vmstat, match, std::regex("\npgmajfault ([0-9]+)\n")));
    EXPECT_EQ(vmstat_get_val("pgmajfault"), match[1].str());

    // No line: the error; a line without a space: the debug message. Both leave it empty.
    dev.write("/proc/vmstat", "pgfault\nnr_free_pages 5\n");
    std::string grep = "grep \"pgmajfault\" " + dev.path("/proc/vmstat");
    EXPECT_EQ(vmstat_get_val("pgmajfault"), "");
    EXPECT_TRUE(log.has(LOG_ERR, "fgets returned null reading output of " + grep));
    EXPECT_EQ(vmstat_get_val("pgfault"), "");
    EXPECT_TRUE(log.has(LOG_DEBUG, "No whitespace found in output of command 'grep \"pgfault\""));
    // The field is searched for, never run.
    EXPECT_EQ(vmstat_get_val("$(touch " + dev.root() + "/ran)\"`touch " + dev.root() + "/ran`"),
              "");
    EXPECT_FALSE(read_file(dev.root() + "/ran").has_value());
}

TEST(Pagefaults, HeaderOnceAndAnEmptyFieldForAMissingCounter) {
    DeviceRoot dev;
    LogCapture log;
    LaidSession session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    std::string file = session.session_path + "/system_monitoring/monitoring_kernel/pagefaults.csv";
    dev.write("/proc/vmstat", "nr_free_pages 5\npgfault 8252028\npgmajfault 1235\n");
    create_pagefault_snapshot(session.session_path);
    dev.write("/proc/vmstat", "pgfault 8252100\n");
    create_pagefault_snapshot(session.session_path);
    EXPECT_EQ(read_stamped(file),
              "DATE,TIME,MINOR_FAULTS,MAJOR_FAULTS\nT,8252028,1235\nT,8252100,\n");
    // A file that can't be opened costs no trip to the counters.
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    log.clear();
    create_pagefault_snapshot(session.session_path);
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + file + "'"));
}

TEST(Buddyinfo, ThisMachinesTable) {
    std::string text = read_file("/proc/buddyinfo").value();
    buddyinfo_table table = parse_text(text);
    // "Node 0, zone DMA" and one count per order.
    std::istringstream first(text.substr(0, text.find('\n')));
    EXPECT_EQ(table.highest_order + 5,
              std::distance(std::istream_iterator<std::string>(first), {}));
    EXPECT_GT(table.counts[kTotal][0], 0);
    EXPECT_EQ(table.counts[kTotal][1], table.counts[kDma][1] + table.counts[kDma32][1] +
                                           table.counts[kNormal][1] + table.counts[kHighMem][1]);
}

TEST(Buddyinfo, NodesZonesAndOrdersBeyondTheTable) {
    // A later node replaces the zone's counts; the total takes both. Movable is no known zone.
    buddyinfo_table two = parse_text(
        "Node 0, zone   Normal      1      2\nNode 1, zone   Normal     10     20     30\n"
        "Node 1, zone  Movable      5      5      5      5\nNode 0, zone    DMA32      7\n");
    EXPECT_EQ(two.counts[kNormal], (Row{10, 20, 30}));
    EXPECT_EQ(two.counts[kDma32], (Row{7}));
    EXPECT_EQ(two.counts[kTotal], (Row{18, 22, 30}));
    EXPECT_EQ(two.highest_order, 2u);

    // 20 counts: the 16 first are kept; 12 digits: the first 10 are read.
    std::string many = "Node 0, zone  HighMem";
    for (int order = 0; order < 20; ++order) {
        many += " " + std::to_string(order == 0 ? 123456789012LL : order);
    }
    buddyinfo_table wide = parse_text(many + "\n");
    EXPECT_EQ(wide.highest_order, 15u);
    EXPECT_EQ(wide.counts[kHighMem][0], 1234567890);
    EXPECT_EQ(wide.counts[kHighMem][15], 15);

    buddyinfo_table none = parse_text("Node 0, zone  Movable 1 2 3\nNode 0, zone    DMA32\n");
    EXPECT_EQ(none.highest_order, 0u);
    EXPECT_EQ(none.counts[kTotal], Row{});
}

TEST(Buddyinfo, FiveRowsPerSampleUnderAHeaderThatStays) {
    DeviceRoot dev;
    LogCapture log;
    LaidSession session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
    std::string file = session.session_path + "/system_monitoring/monitoring_kernel/buddyinfo.csv";

    create_buddyinfo_snapshot(session.session_path);  // no /proc/buddyinfo: nothing at all
    EXPECT_FALSE(read_file(file).has_value());
    EXPECT_TRUE(log.entries().empty());

    dev.write("/proc/buddyinfo", "Node 0, zone DMA 1 2 3 \nNode 0, zone Normal 100 200 300 \n");
    create_buddyinfo_snapshot(session.session_path);
    dev.write("/proc/buddyinfo", "Node 0, zone   Normal 1 1 1 1\n");
    create_buddyinfo_snapshot(session.session_path);
    EXPECT_EQ(read_stamped(file),
              "ZONE,DATE,TIME,4 kB,8 kB,16 kB\nDMA,T,1,2,3\nDMA32,T,0,0,0\n"
              "Normal,T,100,200,300\nHighMem,T,0,0,0\nTotal,T,101,202,303\n"
              "DMA,T,0,0,0,0\nDMA32,T,0,0,0,0\nNormal,T,1,1,1,1\n"
              "HighMem,T,0,0,0,0\nTotal,T,1,1,1,1\n");
    EXPECT_TRUE(log.entries().empty());
}
