// A session's own files: its state file, its information file, its server reports and its end.
#include "lib/session.hpp"

#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
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

// `text` with the times, dates, sizes and the loopback port that a run writes as X.
std::string masked(const std::string& text) {
    static const std::regex varying(
        R"(\d{4}-\d\d-\d\dT\d{6}\S+\.txt|\d{8}_\d{6}|\d+ (B|KiB)|127\.0\.0\.1:\d+|)"
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

    DeviceRoot dev;
    BusyBoxPath busybox;
    LogCapture log;
    HttpServer server{"root", "pass"};
    std::string state = dev.path(std::string(device::kStateFile));
};

}  // namespace

// Neither an inactive session nor none at all is ended: the state file stays.
TEST_F(Session, StateFileHoldsFourLinesAPathTooLongIsNoSessionAndOnlyAnActiveOneEnds) {
    monitoring_session s{std::nullopt, "/sd/", "f", std::nullopt, "Thu Mar  7 14:05:09 2024"};
    monitoring_session_save(&s);
    EXPECT_EQ(read_file(state),
              "SECS:localdata\nSSPA:/sd/\nACTI:f\nTIME:Thu Mar  7 14:05:09 2024\n");
    for (size_t length : {size_t{PATH_MAX - 1}, size_t{PATH_MAX}}) {
        write_file(state, "TIME:t\nSSPA:/" + std::string(length - 2, 'p') + "\nACTI:f\n");
        errno = 0;  // as the test's own write left it
        EXPECT_EQ(monitoring_session_load() != nullptr, length < PATH_MAX) << length;
    }
    monitoring_session inactive{std::nullopt, std::nullopt, std::nullopt, dev.path("/sd/f"), "t"};
    deactivate_monitor_session(&inactive, "root", "pass");
    deactivate_monitor_session(nullptr, "root", "pass");
    EXPECT_TRUE(fs::exists(state));
    EXPECT_EQ(log_lines(log, dev), read_file(kData + "session_state.log"));
}

// tests/data/session_info/<case>: CR LF lines, look-alike and overlong lines, no final newline,
// fields missing. A rewrite that fails leaves the file as it was.
TEST_F(Session, InformationRewritesEveryMatchingWholeLineAndNeverLosesTheFile) {
    std::string s =
        lay_down_session(dev, dev.path("/var/spool/storage/SD_DISK/"), "SD_DISK").session_path;
    std::string info = s + "/Session_Information.txt";
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
    // A link planted under the temporary name is replaced, never written through; the minute
    // that the full card lost is not counted.
    ASSERT_EQ(symlink((dev.root() + "/outside.txt").c_str(), tmp.c_str()), 0);
    update_session_duration(s);
    EXPECT_EQ(read_file(info), read_file(kData + "session_info/append/after_failures"));
    EXPECT_FALSE(fs::exists(dev.root() + "/outside.txt"));
    make_dirs(tmp + "/in_the_way");
    update_session_duration(s);
    fs::remove_all(tmp);
    // Opens but can't be read, then is gone: nothing takes its place.
    fs::remove(info);
    make_dirs(info);
    update_session_duration(s);
    EXPECT_FALSE(fs::exists(tmp));
    fs::remove(info);
    update_session_duration(s);
    // A folder put in the file's place before the rename: it fails and is logged.
    write_file(info, "Duration: 1\n");
    auto same = [](const std::string& line) { return line; };
    session_info_rewrite(s, "Session_Information_tmp.txt", same, [&] {
        fs::remove(info);
        make_dirs(info + "/in_the_way");
        return std::string();
    });
    EXPECT_FALSE(fs::exists(s + "/Session_Information_tmp.txt"));
    EXPECT_EQ(log_lines(log, dev), read_file(kData + "session_info/failures.log"));
}

// tests/data/session/<case>/: `folder` names the session folder, on the storage that `storage_id`
// names or else on internal storage; `before/` is laid over it and `gone` lists what it lacks (an
// empty line: the folder itself). After the end, what was logged (`log`), the information and
// signature files and the entries of the archive that replaced a stale one (`archive`) are as the
// case has them, times and sizes as X. A folder name that got executed would pack nothing.
TEST_F(Session, EndsWithClosingLinesOnceAndOneArchiveOfTheWholeFolder) {
    for (const auto& entry : fs::directory_iterator(kData + "session")) {
        const std::string c = entry.path().string() + "/";
        const std::optional<std::string> id = read_file(c + "storage_id");
        const std::string root =
            id ? "/var/spool/storage/" + *id + "/" : "/usr/local/packages/Kelvane/localdata/";
        const std::string s =
            lay_down_session(dev, dev.path(root), id, read_stamped(c + "folder")).session_path;
        std::error_code none;
        fs::copy(c + "before", s,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing, none);
        std::istringstream gone(read_file(c + "gone").value_or(""));
        for (std::string name; std::getline(gone, name);) {
            fs::remove_all(s + "/" + name);
        }
        write_file(s + ".zip", "stale archive");
        log.clear();
        deactivate_monitor_session(monitoring_session_load().get(), "root", "pass");
        ASSERT_TRUE(wait_until([&] { return !is_zipping_session(s); }));
        std::string entries;
        for (const auto& name : unzip_list(s + ".zip")) {
            entries += name + "\n";
        }
        EXPECT_EQ(masked(entries), read_file(c + "archive")) << c;
        for (const char* name : {"Session_Information.txt", ".signature"}) {
            EXPECT_EQ(masked(read_stamped(s + "/" + name)), read_file(c + name)) << c << name;
        }
        EXPECT_EQ(masked(log_lines(log, dev)), read_file(c + "log")) << c;
    }
    EXPECT_EQ(server.requests().at(0).path, "/norv-cgi/serverreport.cgi");
    EXPECT_FALSE(fs::exists(dev.root() + "/pwned"));
}
