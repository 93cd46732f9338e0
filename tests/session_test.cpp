#include "lib/session.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <regex>

#include "lib/device.hpp"
#include "lib/filehandler.hpp"
#include "support/archive.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"
#include "support/process.hpp"

namespace fs = std::filesystem;

namespace {

class DeactivationTest : public ::testing::Test {
  protected:
    DeactivationTest() {
        dev.link("/usr/bin/curl", "/usr/bin/curl");
        dev.write(std::string(device::kMediaConf), "<media/>\n");
        server.serve("serverreport.cgi", "Server report\n");
    }
    // Packing must not leave the daemon's working directory on the storage.
    ~DeactivationTest() override { EXPECT_EQ(fs::current_path(), start_dir_); }
    const fs::path start_dir_ = fs::current_path();

    // Ends the session of the state file and waits (bounded) for its archive.
    void end_session() {
        MonitoringSession session = monitoring_session_load();
        ASSERT_TRUE(session);
        deactivate_monitor_session(session.get(), "root", "pass");
        ASSERT_TRUE(wait_until([&] { return !is_zipping_session(*session->session_path); }));
        EXPECT_FALSE(fs::exists(dev.path(std::string(device::kStateFile))));
    }
    std::string lay_down(const std::string& folder) {
        return lay_down_session(dev, storage, "SD_DISK", folder).session_path;
    }
    std::string read(const std::string& path) { return read_file(path).value_or("<missing>"); }

    DeviceRoot dev;
    BusyBoxPath busybox;
    LogCapture log;
    HttpServer server{"root", "pass"};
    std::string storage = dev.path("/var/spool/storage/SD_DISK/");
};

}  // namespace

TEST_F(DeactivationTest, EndsWithClosingLinesOnceAndOneArchiveOfTheWholeFolder) {
    const std::string s = lay_down("20231104_10_00_01");
    // Closing lines of an earlier end, CR LF endings and a last line without newline.
    write_file(s + "/Session_Information.txt",
               "Device Serial Number: ACCC8E000001\r\n"
               "Stop Time of the session: Mon Oct 30 10:00:00 CET 2023\r\n"
               "Session Size: 12 KiB\r\n"
               "Duration: 0 Days 2 hours 0 minutes");
    write_file(s + "/.signature", "Start\nEnd: Mon Oct 30 10:00:00 CET 2023\n");
    write_file(s + "/.tmp_partial", "never archived");
    write_file(s + "/system_monitoring/monitoring_load/.tmp.csv", "never archived");
    write_file(s + ".zip", "stale archive");

    end_session();

    EXPECT_TRUE(std::regex_match(
        read(s + "/Session_Information.txt"),
        std::regex("Device Serial Number: ACCC8E000001\r\n"
                   "Duration: 0 Days 2 hours 0 minutes\n"
                   R"(Stop Time of the session: \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \S+ \d{4}\r\n)"
                   R"(Session Size: \d+ KiB\r\n)")))
        << read(s + "/Session_Information.txt");
    EXPECT_FALSE(fs::exists(s + "/Session_Information_tmp.txt"));
    EXPECT_EQ(read(s + "/.signature"), "Start\nEnd: Mon Oct 30 10:00:00 CET 2023\n");

    // The stale archive is replaced by one of the folder, relative and without .tmp* files,
    // holding the final server report and media configuration copy.
    std::string names;
    for (const auto& entry : unzip_list(s + ".zip")) {
        names += entry + "\n";
    }
    names = std::regex_replace(names, std::regex(R"(Report_.+\.txt|\d{8}_\d{6}_media)"), "X");
    EXPECT_EQ(std::regex_replace(names, std::regex("(^|\n)20231104_10_00_01/"), "$1").find("2023"),
              std::string::npos);
    EXPECT_EQ(names.find("/.tmp"), std::string::npos);
    for (const char* entry : {"/Session_Information.txt\n", "/Server_Reports/Server_X\n",
                              "/monitoring_onvif/X.conf\n"}) {
        EXPECT_NE(names.find(entry), std::string::npos) << entry << names;
    }
}

TEST_F(DeactivationTest, AnOddlyNamedSessionWithItsFilesMissingIsEndedAndPackedNotExecuted) {
    std::string folder = "20231104_10_00_05 $(touch $PWNED) `touch $PWNED` \"q\"";
    const std::string s = lay_down(folder);
    fs::remove(s + "/Session_Information.txt");
    fs::remove(s + "/.signature");
    fs::remove_all(s + "/system_monitoring/monitoring_basic/Server_Reports");
    fs::remove(dev.path(std::string(device::kMediaConf)));
    end_session();
    EXPECT_TRUE(std::regex_match(read(s + "/Session_Information.txt"),
                                 std::regex(R"(Session Size: \d+ (B|KiB)\r\n)")));
    EXPECT_TRUE(std::regex_match(read(s + "/.signature"), std::regex("End: .+\n")));
    EXPECT_FALSE(fs::exists(s + "/Session_Information_tmp.txt"));  // no stray temporary file
    EXPECT_EQ(unzip_list(s + ".zip").count(folder + "/.signature"), 1u);
    EXPECT_FALSE(fs::exists(dev.root() + "/pwned"));
}

TEST_F(DeactivationTest, AnInactiveOrUnpackableSessionIsReported) {
    const std::string s = lay_down("20231104_10_00_07");
    monitoring_session inactive;
    inactive.session_path = s;
    deactivate_monitor_session(&inactive, "root", "pass");
    deactivate_monitor_session(nullptr, "root", "pass");
    EXPECT_EQ(log.count("Monitoring session is not activated, can not deactive."), 2u);
    EXPECT_TRUE(fs::exists(dev.path(std::string(device::kStateFile))));
    EXPECT_TRUE(server.requests().empty());

    // A session whose folder is gone: ended all the same, nothing to pack.
    fs::remove_all(s);
    end_session();
    EXPECT_TRUE(log.has(LOG_ERR, "Path to zip is not a directory: " + s));
    EXPECT_FALSE(fs::exists(s + ".zip"));
}
