#include <gtest/gtest.h>

#include <filesystem>

#include "lib/filehandler.hpp"
#include "support/bus.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

TEST(Streams, RowsFromTheStreamerAndNoQueryWithoutAFile) {
    DeviceRoot dev;
    LogCapture log;
    PrivateBus bus;
    std::string session = lay_down_session(dev, dev.root() + "/storage/", "SD_DISK").session_path;
    std::string streams = session + "/system_monitoring/monitoring_streams";
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
    std::filesystem::remove_all(streams);
    store_video_stream_history_no_retention(session);
    EXPECT_EQ(log.entries().size(), 1u);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + streams + "/stream.csv'"));
}

TEST(NamesListed, CommaSeparatedAndCut) {
    DeviceRoot dev;
    std::string dir = dev.root() + "/a \"$x`";
    write_file(dir + "/alpha", "");
    write_file(dir + "/beta", "");
    for (auto [size, names] : {std::pair{100, "alpha,beta"}, {10, "alpha,bet"}, {6, "alpha"}}) {
        EXPECT_EQ(get_names_listed_from_directory(dir, size), names);
    }
    EXPECT_EQ(get_names_listed_from_directory(dev.root() + "/none", 100), "");
}
