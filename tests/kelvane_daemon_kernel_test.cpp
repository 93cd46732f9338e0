#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <regex>
#include <sstream>

#include "kelvane_daemon.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

using Row = std::array<long long, buddyinfo_table::kOrders>;
enum { kDma, kDma32, kNormal, kHighMem, kTotal };

buddyinfo_table parse_text(std::string text) {
    std::FILE* in = fmemopen(text.data(), text.size(), "r");
    buddyinfo_table table = parse_buddyinfo(in);
    std::fclose(in);
    return table;
}

class KernelTest : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
    std::string session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK").session_path;
    std::string folder = session + "/system_monitoring/monitoring_kernel/";
};

}  // namespace

TEST_F(KernelTest, VmstatCountersAndPagefaultRowsWithEmptyFieldsForMissingOnes) {
    EXPECT_EQ(vmstat_parse_line("pgfault 12a3", 20), "12");
    EXPECT_EQ(vmstat_parse_line("pgfault " + std::string(30, '7'), 20), std::string(19, '7'));
    std::string vmstat = read_file("/proc/vmstat").value();
    dev.write("/proc/vmstat", vmstat);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(vmstat, match, std::regex("\npgmajfault ([0-9]+)\n")));
    EXPECT_EQ(vmstat_get_val("pgmajfault"), match[1].str());
    // The field is searched for, never run.
    EXPECT_EQ(vmstat_get_val("$(touch " + dev.root() + "/ran)\"`touch " + dev.root() + "/ran`"),
              "");
    EXPECT_FALSE(read_file(dev.root() + "/ran").has_value());

    std::string file = folder + "pagefaults.csv";
    dev.write("/proc/vmstat", "nr_free_pages 5\npgfault 8252028\npgmajfault 1235\n");
    create_pagefault_snapshot(session);
    // A line without a space, and no line at all.
    dev.write("/proc/vmstat", "pgfault\nnr_free_pages 5\n");
    create_pagefault_snapshot(session);
    EXPECT_EQ(read_stamped(file), "DATE,TIME,MINOR_FAULTS,MAJOR_FAULTS\nT,8252028,1235\nT,,\n");
    EXPECT_TRUE(log.has(LOG_DEBUG, "No whitespace found in output of command 'grep \"pgfault\""));
    EXPECT_TRUE(log.has(LOG_ERR, "fgets returned null reading output of grep \"pgmajfault\" " +
                                     dev.path("/proc/vmstat")));
    // A file that can't be opened costs no trip to the counters.
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    log.clear();
    create_pagefault_snapshot(session);
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + file + "'"));
}

TEST(Buddyinfo, ThisMachinesTableAndOrdersBeyondTheTable) {
    std::string text = read_file("/proc/buddyinfo").value();
    buddyinfo_table table = parse_text(text);
    // "Node 0, zone DMA" and one count per order.
    std::istringstream first(text.substr(0, text.find('\n')));
    EXPECT_EQ(table.highest_order + 5,
              std::distance(std::istream_iterator<std::string>(first), {}));
    EXPECT_GT(table.counts[kTotal][0], 0);
    EXPECT_EQ(table.counts[kTotal][1], table.counts[kDma][1] + table.counts[kDma32][1] +
                                           table.counts[kNormal][1] + table.counts[kHighMem][1]);

    // 20 counts: the 16 first are kept; 12 digits: the first 10 are read.
    table = parse_text(
        "Node 0, zone  HighMem 123456789012 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19\n");
    EXPECT_EQ(table.highest_order, 15u);
    EXPECT_EQ(table.counts[kHighMem][0], 1234567890);
    EXPECT_EQ(table.counts[kHighMem][15], 15);
}

TEST_F(KernelTest, BuddyinfoFiveRowsPerSampleOfEveryNodeUnderAHeaderThatStays) {
    create_buddyinfo_snapshot(session);  // no /proc/buddyinfo: nothing at all
    EXPECT_FALSE(read_file(folder + "buddyinfo.csv").has_value());
    // A later node replaces the zone's counts; the total takes both. Movable is no known zone.
    dev.write("/proc/buddyinfo",
              "Node 0, zone      DMA      3\nNode 0, zone   Normal      1      2\n"
              "Node 1, zone   Normal     10     20     30\nNode 1, zone  Movable 5 5 5 5\n"
              "Node 0, zone    DMA32      7\n");
    create_buddyinfo_snapshot(session);
    dev.write("/proc/buddyinfo", "Node 0, zone   Normal 1 1 1 1\n");
    create_buddyinfo_snapshot(session);
    EXPECT_EQ(read_stamped(folder + "buddyinfo.csv"),
              "ZONE,DATE,TIME,4 kB,8 kB,16 kB\nDMA,T,3,0,0\nDMA32,T,7,0,0\n"
              "Normal,T,10,20,30\nHighMem,T,0,0,0\nTotal,T,21,22,30\n"
              "DMA,T,0,0,0,0\nDMA32,T,0,0,0,0\nNormal,T,1,1,1,1\n"
              "HighMem,T,0,0,0,0\nTotal,T,1,1,1,1\n");
    EXPECT_TRUE(log.entries().empty());
}
