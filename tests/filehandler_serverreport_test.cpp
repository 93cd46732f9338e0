#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "lib/device.hpp"
#include "lib/filehandler.hpp"
#include "lib/session_globals.hpp"
#include "lib/sysutil.hpp"
#include "support/archive.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

namespace {

class ServerReportTest : public ::testing::Test {
  protected:
    ServerReportTest() {
        dev.link("/usr/bin/curl", "/usr/bin/curl");
        server.serve("serverreport.cgi", "Server report of ACCC8E000001\n");
    }

    monitoring_session session_at(const LaidSession& laid, std::optional<std::string> id) {
        monitoring_session s;
        s.storage_id = std::move(id);
        s.secondary_storage_path = laid.storage_root;
        s.current_activity_folder = laid.folder;
        s.session_path = laid.session_path;
        return s;
    }

    static std::string reports_dir(const LaidSession& laid) {
        return laid.session_path + "/system_monitoring/monitoring_basic/Server_Reports";
    }

    static std::set<std::string> names_in(const std::string& dir) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    DeviceRoot dev;
    LogCapture log;
    HttpServer server{"root", "pass"};
    const std::regex report_name{R"(Server_Report_\d{4}-\d\d-\d\dT\d{6}[A-Za-z+0-9-]+\.txt)"};
};

}  // namespace

TEST_F(ServerReportTest, EdgeStorageKeepsEachReportAsItsOwnFile) {
    LaidSession laid = lay_down_session(dev, dev.path("/var/spool/storage/SD_DISK/"), "SD_DISK",
                                        "20231102_10_00_01");
    monitoring_session s = session_at(laid, "SD_DISK");
    create_serverreport_snapshot(&s, "root", "pass");

    std::set<std::string> names = names_in(reports_dir(laid));
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(std::regex_match(*names.begin(), report_name)) << *names.begin();
    EXPECT_EQ(read_file(reports_dir(laid) + "/" + *names.begin()),
              "Server report of ACCC8E000001\n");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].path, "/norv-cgi/serverreport.cgi");
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(ServerReportTest, InternalStoragePacksEveryLooseReportIntoOneArchive) {
    // The folder name holds a blank and shell syntax: it must be packed, never executed.
    LaidSession laid = lay_down_session(dev, dev.path("/usr/local/packages/Kelvane/localdata/"),
                                        std::nullopt, "20231102_10_00_02 $(touch pwned) `id`");
    std::string left_over = "Server_Report_2023-11-01T090000UTC.txt";
    write_file(reports_dir(laid) + "/" + left_over, "an earlier report zip did not take\n");
    monitoring_session s = session_at(laid, std::nullopt);
    create_serverreport_snapshot(&s, "root", "pass");

    EXPECT_EQ(names_in(reports_dir(laid)), std::set<std::string>{"Server_Reports.zip"});
    std::set<std::string> entries = unzip_list(reports_dir(laid) + "/Server_Reports.zip");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.count(left_over), 1u);
    for (const auto& entry : entries) {
        EXPECT_TRUE(std::regex_match(entry, report_name)) << entry;
    }
    std::string size = filesize_human_readable(reports_dir(laid) + "/Server_Reports.zip");
    EXPECT_TRUE(log.has(
        LOG_INFO,
        "System Monitoring Session Storage Consumption on Internal Storage -> " + size + "."));
    EXPECT_FALSE(fs::exists(dev.root() + "/pwned"));
    EXPECT_FALSE(fs::exists("pwned"));
}

TEST_F(ServerReportTest, AServerThatIsDownLeavesNoArchiveAndSaysSo) {
    LaidSession laid = lay_down_session(dev, dev.path("/usr/local/packages/Kelvane/localdata/"),
                                        std::nullopt, "20231102_10_00_03");
    server.shut_down();
    monitoring_session s = session_at(laid, std::nullopt);
    create_serverreport_snapshot(&s, "root", "pass");
    EXPECT_TRUE(names_in(reports_dir(laid)).empty());
    EXPECT_TRUE(
        log.has(LOG_WARNING, "Exit status '7' for command: " + dev.root() + "/usr/bin/curl"));
    EXPECT_TRUE(log.has(LOG_INFO, "Internal Storage -> -1 B."));
}

TEST(DirSize, MeasuresWholeKibibytesAndZeroForWhatIsMissing) {
    DeviceRoot dev;
    std::string dir = dev.root() + "/size \"$(touch pwned)\" `id` $HOME";
    write_file(dir + "/a.bin", std::string(3000, 'a'));
    write_file(dir + "/sub/b.bin", std::string(5000, 'b'));
    unsigned long size = get_dir_size_bytes(dir);
    EXPECT_EQ(size % 1024, 0u);
    EXPECT_GE(size, 8000u);
    EXPECT_LT(size, 8000u + 4 * 4096u);
    EXPECT_EQ(get_dir_size_bytes(dev.root() + "/missing"), 0u);
    EXPECT_FALSE(fs::exists(dev.root() + "/pwned"));
}
