// A session's own files: its state file, its information file, its server reports and its end.
#include "lib/session.hpp"

#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "lib/device.hpp"
#include "lib/filehandler.hpp"
#include "lib/session_globals.hpp"
#include "support/archive.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"
#include "support/process.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kData = std::string(KELVANE_SOURCE_DIR) + "/tests/data/";

// `text` with the times, dates and sizes that a run writes as X.
std::string masked(const std::string& text) {
    static const std::regex varying(R"(\d{4}-\d\d-\d\dT\d{6}\S+\.txt|\d{8}_\d{6}|\d+ (B|KiB)|)"
                                    R"(\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \S+ \d{4})");
    return std::regex_replace(text, varying, "X");
}

class Session : public ::testing::Test {
  protected:
    Session() {
        dev.link("/usr/bin/curl", "/usr/bin/curl");
        dev.write(std::string(device::kMediaConf), "<media/>\n");
        server.serve("serverreport.cgi", "Server report\n");
    }
    // Packing must not leave the daemon's working directory on the storage.
    ~Session() override { EXPECT_EQ(fs::current_path(), start_dir_); }
    const fs::path start_dir_ = fs::current_path();

    // Ends the session of the state file and waits (bounded) for its archive.
    void end_session() {
        MonitoringSession session = monitoring_session_load();
        ASSERT_TRUE(session);
        deactivate_monitor_session(session.get(), "root", "pass");
        ASSERT_TRUE(wait_until([&] { return !is_zipping_session(*session->session_path); }));
        EXPECT_FALSE(fs::exists(state));
    }
    std::string lay_down(const std::string& folder) {
        return lay_down_session(dev, storage, "SD_DISK", folder).session_path;
    }
    // Entries of an archive, one a line.
    std::string entries(const std::string& archive) {
        std::string names;
        for (const auto& entry : unzip_list(archive)) {
            names += entry + "\n";
        }
        return masked(names);
    }

    DeviceRoot dev;
    BusyBoxPath busybox;
    LogCapture log;
    HttpServer server{"root", "pass"};
    std::string storage = dev.path("/var/spool/storage/SD_DISK/");
    std::string state = dev.path(std::string(device::kStateFile));
};

}  // namespace

TEST_F(Session, StateFileHoldsFourLinesAndAPathTooLongIsNoSession) {
    monitoring_session s{std::nullopt, "/sd/", "f", std::nullopt, "Thu Mar  7 14:05:09 2024"};
    monitoring_session_save(&s);
    EXPECT_EQ(read_file(state),
              "SECS:localdata\nSSPA:/sd/\nACTI:f\nTIME:Thu Mar  7 14:05:09 2024\n");
    for (size_t length : {size_t{PATH_MAX - 1}, size_t{PATH_MAX}}) {
        write_file(state, "TIME:t\nSSPA:/" + std::string(length - 2, 'p') + "\nACTI:f\n");
        EXPECT_EQ(monitoring_session_load() != nullptr, length < PATH_MAX) << length;
    }
    EXPECT_EQ(log.count("Could not restore monitoring session: Session path too long (4096 "
                        "characters, at most 4095)."),
              1u);
}

// tests/data/session_info/<case>: CR LF lines, look-alike and overlong lines, no final newline,
// fields missing. A rewrite that fails leaves the file as it was.
TEST_F(Session, InformationRewritesEveryMatchingWholeLineAndNeverLosesTheFile) {
    std::string s = lay_down("20240307_14_05_09"), info = s + "/Session_Information.txt";
    std::string tmp = s + "/Session_Information_tmp_tmp.txt";
    for (const char* name : {"rewrite/", "append/"}) {
        fs::copy_file(kData + "session_info/" + name + "input", info,
                      fs::copy_options::overwrite_existing);
        update_number_of_collected_data_points(s);
        update_session_duration(s);
        update_session_duration(s);
        EXPECT_EQ(read_file(info), read_file(kData + "session_info/" + name + "expected")) << name;
    }

    // A full card: writes beyond 64 bytes fail.
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small{64, saved.rlim_max};
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    update_session_duration(s);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(read_file(info), read_file(kData + "session_info/append/expected"));
    // A link planted under the temporary name is replaced, never written through.
    write_file(dev.root() + "/outside.txt", "keep me\n");
    ASSERT_EQ(symlink((dev.root() + "/outside.txt").c_str(), tmp.c_str()), 0);
    update_session_duration(s);
    EXPECT_NE(read_stamped(info).find("Duration: 0 Days 0 hours 2 minutes\n"), std::string::npos);
    EXPECT_EQ(read_file(dev.root() + "/outside.txt"), "keep me\n");
    make_dirs(tmp + "/in_the_way");
    update_session_duration(s);
    fs::remove_all(tmp);
    // Opens but can't be read: nothing takes its place.
    fs::remove(info);
    make_dirs(info);
    update_session_duration(s);
    EXPECT_TRUE(fs::is_directory(info));
    EXPECT_FALSE(fs::exists(tmp));
    fs::remove(info);
    update_session_duration(s);
    EXPECT_FALSE(fs::exists(info));
    EXPECT_EQ(log_lines(log, dev), read_file(kData + "session_info/failures.log"));
}

// An executed folder name would pack nothing; a report missed before is taken along.
TEST_F(Session, ServerReportsArePackedOnInternalStorage) {
    std::string internal = dev.path("/usr/local/packages/Kelvane/localdata/");
    std::string folder = "20231102_10_00_02 $(touch $PWNED) `id`";
    std::string reports = internal + folder + "/system_monitoring/monitoring_basic/Server_Reports";
    write_file(reports + "/Server_Report_2023-11-01T090000UTC.txt", "earlier\n");
    lay_down_session(dev, internal, std::nullopt, folder);
    create_serverreport_snapshot(monitoring_session_load().get(), "root", "pass");
    EXPECT_EQ(std::distance(fs::directory_iterator(reports), {}), 1);
    EXPECT_EQ(entries(reports + "/Server_Reports.zip"), "Server_Report_X\nServer_Report_X\n");
    EXPECT_EQ(log.entries().size(), 1u);
    EXPECT_TRUE(
        log.has(LOG_INFO, "System Monitoring Session Storage Consumption on Internal Storage -> " +
                              filesize_human_readable(reports + "/Server_Reports.zip") + "."));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].path, "/norv-cgi/serverreport.cgi");
}

// tests/data/session/<case>/: `folder` names the session folder, `before/` is laid over it and
// `gone` lists what it lacks. After the end its information and signature files and the entries of
// the archive that replaced a stale one (`archive`) are as the case has them, times and sizes as X.
TEST_F(Session, EndsWithClosingLinesOnceAndOneArchiveOfTheWholeFolder) {
    for (const auto& entry : fs::directory_iterator(kData + "session")) {
        const std::string c = entry.path().string() + "/";
        const std::string s = lay_down(read_stamped(c + "folder"));
        std::error_code none;
        fs::copy(c + "before", s,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing, none);
        std::istringstream gone(read_file(c + "gone").value_or(""));
        for (std::string name; std::getline(gone, name);) {
            fs::remove(s + "/" + name);
        }
        write_file(s + ".zip", "stale archive");
        end_session();
        EXPECT_EQ(entries(s + ".zip"), read_file(c + "archive")) << c;
        for (const char* name : {"Session_Information.txt", ".signature"}) {
            EXPECT_EQ(masked(read_stamped(s + "/" + name)), read_file(c + name)) << c << name;
        }
    }
    EXPECT_FALSE(fs::exists(dev.root() + "/pwned"));
}

TEST_F(Session, AnInactiveSessionIsRefusedAGoneOneEnded) {
    std::string s = lay_down("20231104_10_00_07");
    monitoring_session inactive;
    inactive.session_path = s;
    deactivate_monitor_session(&inactive, "root", "pass");
    deactivate_monitor_session(nullptr, "root", "pass");
    EXPECT_EQ(log.count("Monitoring session is not activated, can not deactive."), 2u);
    EXPECT_TRUE(fs::exists(state));
    // A session whose folder is gone: ended all the same, nothing to pack.
    fs::remove_all(s);
    end_session();
    EXPECT_TRUE(log.has(LOG_ERR, "Path to zip is not a directory: " + s));
    EXPECT_FALSE(fs::exists(s + ".zip"));
}
