#include <gtest/gtest.h>

#include <filesystem>

#include "lib/filehandler.hpp"
#include "support/bus.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

namespace {

class StreamsTest : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
    std::string session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK").session_path;
    std::string streams = session + "/system_monitoring/monitoring_streams";
    std::string radar = session + "/system_monitoring/monitoring_radar";
};

}  // namespace

TEST_F(StreamsTest, StreamRowsFromTheStreamer) {
    PrivateBus bus;
    for (const char* reply : {R"({"streams": ["b:mjpeg:640x480", "a:h264"]})", R"({"streams": []})",
                              R"({"error": "busy"})"}) {
        bus.start("norv_streamer", reply);
        store_video_stream_history_no_retention(session);
    }
    bus.stop("norv_streamer");
    store_video_stream_history_no_retention(session);
    EXPECT_EQ(read_stamped(streams + "/stream.csv"),
              "Date,Time,Streams\r\nT, a:h264 + b:mjpeg:640x480 \r\n"
              "T,No streams \r\nT,No streams \r\nT,No streams \r\n");
    EXPECT_TRUE(log.entries().empty());
    // Lines the real tools don't print: an error line, a long name, the bare word.
    std::string name(300, 'n');
    EXPECT_EQ(stream_history_cells({"Error x", "      string \"" + name + "\"", "string", "y"}),
              "Error: Failed to get stream info+Error x+ " + name + " ++y");
    // A file that can't be opened costs no query.
    fs::remove_all(streams);
    store_video_stream_history_no_retention(session);
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + streams + "/stream.csv'"));
}

TEST_F(StreamsTest, RadarDataCopiedOnceAndStatisticsEveryRun) {
    store_radar_data(session);  // no radar on this device
    dev.write("/tmp/radar-diagnostics/radar_1.csv", "n");
    for (const char* version : {"1", "2"}) {
        dev.write("/tmp/radar-diagnostics/radar_1.data", std::string("v") + version);
        dev.write("/tmp/radar-diagnostics/instqual_lt_stats_1.csv", std::string("s") + version);
        store_radar_data(session);
    }
    EXPECT_EQ(read_file(radar + "/radar_1.data"), "v1");
    EXPECT_EQ(read_file(radar + "/instqual_lt_stats_1.csv"), "s2");
    EXPECT_FALSE(fs::exists(radar + "/radar_1.csv"));
    EXPECT_TRUE(log.entries().empty());

    fs::remove_all(radar);
    write_file(radar, "a file in the folder's place");
    store_radar_data(session);
    EXPECT_TRUE(
        log.has(LOG_WARNING, "access() failed for " + radar + "/radar_1.data: Not a directory"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not copy '" + dev.root() +
                                         "/tmp/radar-diagnostics/instqual_lt_stats_1.csv'"));
}

TEST(NamesListed, CommaSeparatedAndCut) {
    DeviceRoot dev;
    std::string dir = dev.root() + "/a \"$x`";
    write_file(dir + "/alpha", "");
    write_file(dir + "/beta", "");
    EXPECT_EQ(get_names_listed_from_directory(dir, 100), "alpha,beta");
    EXPECT_EQ(get_names_listed_from_directory(dir, 10), "alpha,bet");
    EXPECT_EQ(get_names_listed_from_directory(dir, 6), "alpha");
    EXPECT_EQ(get_names_listed_from_directory(dev.root() + "/none", 100), "");
}
