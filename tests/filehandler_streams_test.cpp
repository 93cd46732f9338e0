#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "lib/filehandler.hpp"
#include "support/bus.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

namespace {

class StreamsTest : public ::testing::Test {
  protected:
    std::string stream_csv() const {
        static const std::regex stamp(R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d)");
        auto text =
            read_file(laid.session_path + "/system_monitoring/monitoring_streams/stream.csv");
        return text ? std::regex_replace(*text, stamp, "T") : "<missing>";
    }
    std::string radar(const std::string& name) const {
        return read_file(laid.session_path + "/system_monitoring/monitoring_radar/" + name)
            .value_or("<missing>");
    }

    DeviceRoot dev;
    LogCapture log;
    PrivateBus bus;
    LaidSession laid = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK");
};

}  // namespace

TEST_F(StreamsTest, StreamRowsFromTheStreamer) {
    for (const char* reply : {R"({"streams": ["b:mjpeg:640x480", "a:h264"]})", R"({"streams": []})",
                              R"({"error": "busy"})"}) {
        bus.start("norv_streamer", reply);
        store_video_stream_history_no_retention(laid.session_path);
    }
    bus.stop("norv_streamer");
    store_video_stream_history_no_retention(laid.session_path);
    EXPECT_EQ(stream_csv(),
              "Date,Time,Streams\r\nT, a:h264 + b:mjpeg:640x480 \r\n"
              "T,No streams \r\nT,No streams \r\nT,No streams \r\n");
    EXPECT_TRUE(log.entries().empty());
    // Lines the real tools don't print: an error line, a long name, the bare word.
    std::string name(300, 'n');
    EXPECT_EQ(stream_history_cells({"Error x", "      string \"" + name + "\"", "string", "y"}),
              "Error: Failed to get stream info+Error x+ " + name + " ++y");

    fs::remove_all(laid.session_path + "/system_monitoring/monitoring_streams");
    store_video_stream_history_no_retention(laid.session_path);
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + laid.session_path +
                                     "/system_monitoring/monitoring_streams/stream.csv'"));
}

TEST_F(StreamsTest, RadarDataCopiedOnceAndStatisticsEveryRun) {
    store_radar_data(laid.session_path);  // no radar on this device
    dev.write("/tmp/radar-diagnostics/radar_1.csv", "n");
    store_radar_data(laid.session_path);
    EXPECT_TRUE(fs::is_empty(laid.session_path + "/system_monitoring/monitoring_radar"));
    EXPECT_TRUE(log.entries().empty());

    dev.write("/tmp/radar-diagnostics/radar_1.data", "v1");
    dev.write("/tmp/radar-diagnostics/instqual_lt_stats_1.csv", "s1");
    store_radar_data(laid.session_path);
    dev.write("/tmp/radar-diagnostics/radar_1.data", "v2");
    dev.write("/tmp/radar-diagnostics/instqual_lt_stats_1.csv", "s2");
    store_radar_data(laid.session_path);
    EXPECT_EQ(radar("radar_1.data"), "v1");
    EXPECT_EQ(radar("instqual_lt_stats_1.csv"), "s2");
    EXPECT_TRUE(log.entries().empty());

    std::string folder = laid.session_path + "/system_monitoring/monitoring_radar";
    fs::remove_all(folder);
    write_file(folder, "a file in the folder's place");
    store_radar_data(laid.session_path);
    EXPECT_TRUE(
        log.has(LOG_WARNING, "access() failed for " + folder + "/radar_1.data: Not a directory"));
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
