#include "lib/session.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "lib/device.hpp"
#include "lib/filehandler.hpp"
#include "support/archive.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

namespace {

size_t occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) {
        ++n;
    }
    return n;
}

class DeactivationTest : public ::testing::Test {
  protected:
    DeactivationTest() {
        dev.link("/usr/bin/curl", "/usr/bin/curl");
        dev.write(std::string(device::kMediaConf), "<media/>\n");
        server.serve("serverreport.cgi", "Server report\n");
    }
    // The packing leaves the process in the session's parent, which the device root removes.
    ~DeactivationTest() override { EXPECT_EQ(chdir("/"), 0); }

    // Ends the session of the state file and waits (bounded) for its archive.
    void end_session() {
        MonitoringSession session = monitoring_session_load();
        ASSERT_TRUE(session);
        deactivate_monitor_session(session.get(), "root", "pass");
        for (int i = 0; i < 600 && is_zipping_session(*session->session_path); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_FALSE(is_zipping_session(*session->session_path));
    }

    std::string state_file() const { return dev.path(std::string(device::kStateFile)); }

    DeviceRoot dev;
    BusyBoxPath busybox;
    LogCapture log;
    HttpServer server{"root", "pass"};
    std::string storage = dev.path("/var/spool/storage/SD_DISK/");
};

}  // namespace

TEST_F(DeactivationTest, EndsWithClosingLinesOnceAndOneArchiveOfTheWholeFolder) {
    LaidSession laid = lay_down_session(dev, storage, "SD_DISK", "20231104_10_00_01");
    const std::string& s = laid.session_path;
    // Closing lines of an earlier end, CR LF endings and a last line without newline.
    write_file(s + "/Session_Information.txt",
               "Device Serial Number: ACCC8E000001\r\n"
               "Stop Time of the session: Mon Oct 30 10:00:00 CET 2023\r\n"
               "Session Size: 12 KiB\r\n"
               "Duration: 0 Days 2 hours 0 minutes");
    write_file(s + "/.tmp_partial", "never archived");
    write_file(s + "/system_monitoring/monitoring_load/.tmp.csv", "never archived");
    write_file(dev.path("/var/spool/storage/SD_DISK/20231104_10_00_01.zip"), "stale archive");

    end_session();

    EXPECT_FALSE(fs::exists(state_file()));
    std::string info = read_file(s + "/Session_Information.txt").value_or("");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        info, m,
        std::regex("Device Serial Number: ACCC8E000001\r\n"
                   "Duration: 0 Days 2 hours 0 minutes\n"
                   R"(Stop Time of the session: \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \S+ \d{4}\r\n)"
                   R"(Session Size: (\d+) KiB\r\n)")))
        << info;
    EXPECT_EQ(occurrences(info, "Stop Time of the session:"), 1u);
    EXPECT_EQ(occurrences(info, "Session Size:"), 1u);
    EXPECT_FALSE(fs::exists(s + "/Session_Information_tmp.txt"));

    std::string signature = read_file(s + "/.signature").value_or("");
    EXPECT_TRUE(std::regex_match(signature, std::regex("Session started [^\n]*\nEnd: .+\n")))
        << signature;

    std::set<std::string> entries = unzip_list(s + ".zip");
    const std::string top = "20231104_10_00_01/";
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.rfind(top, 0), 0u) << entry;
        EXPECT_EQ(entry.find("/.tmp"), std::string::npos) << entry;
    }
    EXPECT_EQ(entries.count(top + "Session_Information.txt"), 1u);
    EXPECT_EQ(entries.count(top + ".signature"), 1u);
    EXPECT_EQ(entries.count(top + "system_monitoring/monitoring_load/"), 1u);
    size_t reports = 0, media = 0;
    for (const auto& entry : entries) {
        reports += entry.find("/Server_Reports/Server_Report_") != std::string::npos;
        media +=
            std::regex_search(entry, std::regex(R"(/monitoring_onvif/\d{8}_\d{6}_media\.conf$)"));
    }
    EXPECT_EQ(reports, 1u);
    EXPECT_EQ(media, 1u);
    EXPECT_TRUE(log.has(LOG_DEBUG, "create_serverreport_snapshot"));
    EXPECT_TRUE(log.has(LOG_DEBUG, "zipping '20231104_10_00_01'"));
}

TEST_F(DeactivationTest, AnEndLineIsWrittenOnlyWhenNoLineBeginsWithEnd) {
    LaidSession laid = lay_down_session(dev, storage, "SD_DISK", "20231104_10_00_02");
    write_file(laid.session_path + "/.signature", "Start\nEnd: Mon Oct 30 10:00:00 CET 2023\n");
    end_session();
    EXPECT_EQ(read_file(laid.session_path + "/.signature"),
              "Start\nEnd: Mon Oct 30 10:00:00 CET 2023\n");

    laid = lay_down_session(dev, storage, "SD_DISK", "20231104_10_00_03");
    write_file(laid.session_path + "/.signature", "Start\n End: indented\n");
    end_session();
    std::string signature = read_file(laid.session_path + "/.signature").value_or("");
    EXPECT_TRUE(std::regex_match(signature, std::regex("Start\n End: indented\nEnd: .+\n")))
        << signature;
}

TEST_F(DeactivationTest, MissingFilesAreMadeGoodAndTheSessionStillEnds) {
    LaidSession laid = lay_down_session(dev, storage, "SD_DISK", "20231104_10_00_04");
    const std::string& s = laid.session_path;
    fs::remove(s + "/Session_Information.txt");
    fs::remove(s + "/.signature");
    fs::remove_all(s + "/system_monitoring/monitoring_basic/Server_Reports");
    fs::remove(dev.path(std::string(device::kMediaConf)));
    end_session();

    EXPECT_FALSE(fs::exists(state_file()));
    EXPECT_TRUE(std::regex_match(read_file(s + "/Session_Information.txt").value_or(""),
                                 std::regex(R"(Session Size: \d+ (B|KiB)\r\n)")));
    EXPECT_EQ(read_file(s + "/Session_Information_tmp.txt"), "");
    EXPECT_TRUE(
        std::regex_match(read_file(s + "/.signature").value_or(""), std::regex("End: .+\n")));
    EXPECT_EQ(unzip_list(s + ".zip").count("20231104_10_00_04/.signature"), 1u);
}

TEST_F(DeactivationTest, AnOddlyNamedSessionFolderIsPackedNotExecuted) {
    std::string folder = "20231104_10_00_05 $(touch pwned) `touch pwned2` \"q\"";
    LaidSession laid = lay_down_session(dev, storage, "SD_DISK", folder);
    end_session();
    EXPECT_FALSE(fs::exists(state_file()));
    EXPECT_TRUE(std::regex_match(read_file(laid.session_path + "/.signature").value_or(""),
                                 std::regex("Session started [^\n]*\nEnd: .+\n")));
    EXPECT_TRUE(std::regex_search(
        read_file(laid.session_path + "/Session_Information.txt").value_or(""),
        std::regex(R"(Stop Time of the session: .+\r\nSession Size: \d+ KiB\r\n$)")));
    EXPECT_EQ(unzip_list(laid.session_path + ".zip").count(folder + "/Session_Information.txt"),
              1u);
    for (const auto& entry : fs::recursive_directory_iterator(dev.root())) {
        EXPECT_EQ(entry.path().filename().string().rfind("pwned", 0), std::string::npos)
            << entry.path();
    }
}

TEST_F(DeactivationTest, AStopTimeThatCannotBeWrittenKeepsTheInformationFile) {
    LaidSession laid = lay_down_session(dev, storage, "SD_DISK", "20231104_10_00_06");
    std::string before = read_file(laid.session_path + "/Session_Information.txt").value_or("");
    make_dirs(laid.session_path + "/Session_Information_tmp.txt/in_the_way");
    end_session();
    EXPECT_TRUE(log.has(
        LOG_ERR, "Could not open file '" + laid.session_path + "/Session_Information_tmp.txt'"));
    std::string after = read_file(laid.session_path + "/Session_Information.txt").value_or("");
    EXPECT_EQ(after.substr(0, before.size()), before);
    EXPECT_TRUE(
        std::regex_match(after.substr(before.size()), std::regex(R"(Session Size: \d+ KiB\r\n)")));
}

TEST_F(DeactivationTest, AnInactiveOrUnpackableSessionIsReported) {
    LaidSession laid = lay_down_session(dev, storage, "SD_DISK", "20231104_10_00_07");
    monitoring_session inactive;
    inactive.session_path = laid.session_path;
    deactivate_monitor_session(&inactive, "root", "pass");
    deactivate_monitor_session(nullptr, "root", "pass");
    EXPECT_EQ(log.count("Monitoring session is not activated, can not deactive."), 2u);
    EXPECT_TRUE(fs::exists(state_file()));
    EXPECT_TRUE(server.requests().empty());

    // A session whose folder is gone: ended all the same, nothing to pack.
    fs::remove_all(laid.session_path);
    end_session();
    EXPECT_FALSE(fs::exists(state_file()));
    EXPECT_TRUE(log.has(LOG_ERR, "Path to zip is not a directory: " + laid.session_path));
    EXPECT_FALSE(fs::exists(laid.session_path + ".zip"));
}
