#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "lib/filehandler.hpp"
#include "lib/session_globals.hpp"
#include "support/archive.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

// The names in the session's report folder after one report.
static std::set<std::string> snapshot(const DeviceRoot& dev, const std::string& storage,
                                      std::optional<std::string> id, const std::string& folder) {
    LaidSession laid = lay_down_session(dev, storage, id, folder);
    create_serverreport_snapshot(monitoring_session_load().get(), "root", "pass");
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(
             laid.session_path + "/system_monitoring/monitoring_basic/Server_Reports")) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(ServerReport, EdgeKeepsLooseReportsInternalPacksThemAll) {
    DeviceRoot dev;
    LogCapture log;
    dev.link("/usr/bin/curl", "/usr/bin/curl");
    HttpServer server("root", "pass");
    server.serve("serverreport.cgi", "Server report\n");
    std::set<std::string> edge =
        snapshot(dev, dev.path("/var/spool/storage/SD_DISK/"), "SD_DISK", "20231102_10_00_01");
    ASSERT_EQ(edge.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        *edge.begin(), std::regex(R"(Server_Report_\d{4}-\d\d-\d\dT\d{6}[A-Z+0-9-]+\.txt)")));
    EXPECT_TRUE(log.entries().empty());
    // An executed folder name would pack nothing; a report missed before is taken along.
    std::string internal = dev.path("/usr/local/packages/Kelvane/localdata/");
    std::string folder = "20231102_10_00_02 $(touch $PWNED) `id`";
    std::string reports = internal + folder + "/system_monitoring/monitoring_basic/Server_Reports";
    write_file(reports + "/Server_Report_2023-11-01T090000UTC.txt", "earlier\n");
    EXPECT_EQ(snapshot(dev, internal, std::nullopt, folder),
              std::set<std::string>{"Server_Reports.zip"});
    std::set<std::string> packed = unzip_list(reports + "/Server_Reports.zip");
    EXPECT_EQ(packed.size(), 2u);
    EXPECT_EQ(packed.count("Server_Report_2023-11-01T090000UTC.txt"), 1u);
    EXPECT_TRUE(log.has(LOG_INFO, "Storage Consumption on Internal Storage -> " +
                                      filesize_human_readable(reports + "/Server_Reports.zip")));
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].path, "/norv-cgi/serverreport.cgi");
}

TEST(DirSize, WholeKibibytesOfTheRealDuAndZeroForWhatIsMissing) {
    DeviceRoot dev;
    std::string dir = dev.root() + "/size \"$(touch $PWNED)\" `id` $HOME";
    write_file(dir + "/a.bin", std::string(3000, 'a'));
    write_file(dir + "/sub/b.bin", std::string(5000, 'b'));
    unsigned long size = get_dir_size_bytes(dir);
    EXPECT_EQ(size % 1024, 0u);
    EXPECT_TRUE(size >= 8000u && size < 8000u + 4 * 4096u) << size;
    EXPECT_EQ(get_dir_size_bytes(dev.root() + "/missing"), 0u);
}
