#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>

#include "lib/filehandler.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

namespace {

class SessionInfoTest : public ::testing::Test {
  protected:
    SessionInfoTest() { make_dirs(session); }
    std::string read_info() { return read_file(info).value_or("<missing>"); }

    DeviceRoot dev;
    LogCapture log;
    std::string session = dev.root() + "/card/20240307_14_05_09";
    std::string info = session + "/Session_Information.txt";
    std::string tmp = session + "/Session_Information_tmp_tmp.txt";
};

}  // namespace

TEST_F(SessionInfoTest, RewritesEveryMatchingWholeLineAndAppendsMissingFieldsOnce) {
    std::string long_line = std::string(1023, 'x') + "Duration: 0 Days 0 hours 5 minutes\n";
    std::string kept = "Duration:0 Days 0 hours 1 minutes\n Duration: 0 Days 0 hours 1 minutes\n";
    write_file(info,
               "Serial: A\r\nCollected Data Points: 41\r\nDuration: 0 Days 23 hours 59 "
               "minutes\nDuration: 0 Days 0 hours 75 minutes\n" +
                   kept + long_line + "Note: no newline");
    update_number_of_collected_data_points(session);
    update_session_duration(session);
    EXPECT_EQ(read_info(),
              "Serial: A\r\nCollected Data Points: 42\nDuration: 1 Days 0 hours 0 "
              "minutes\nDuration: 0 Days 1 hours 16 minutes\n" +
                  kept + long_line + "Note: no newline\n");
    write_file(info, "Duration: forever\n");
    update_session_duration(session);
    update_session_duration(session);
    update_number_of_collected_data_points(session);
    EXPECT_EQ(read_info(),
              "Duration: forever\nDuration: 0 Days 0 hours 1 minutes\n"
              "Collected Data Points: 1\n");
    EXPECT_FALSE(fs::exists(tmp));
    EXPECT_TRUE(log.entries().empty());
    read_and_update_session_info(session, std::string(1001, 'F'), "1", update_data_points);
    EXPECT_TRUE(log.has(LOG_ERR, "Cannot read field names larger than 1000 characters"));
    fs::remove(info);
    update_session_duration(session);
    EXPECT_FALSE(fs::exists(info));
    EXPECT_TRUE(log.has(LOG_DEBUG,
                        "(errno: No such file or directory) Could not open file '" + info + "'"));
}

TEST_F(SessionInfoTest, AFailedRewriteNeverCostsTheFile) {
    const std::string original = "Duration: 0 Days 0 hours 5 minutes\n" + std::string(200, 'r');
    write_file(info, original);
    // A full card: writes beyond 64 bytes fail.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = {64, saved.rlim_max};
    sighandler_t old_handler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    update_session_duration(session);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, old_handler);
    EXPECT_EQ(read_info(), original);
    EXPECT_TRUE(log.has(LOG_ERR, "File too large) Could not write file '" + tmp + "'"));
    // A link planted under the temporary name is replaced, never written through.
    std::string outside = dev.root() + "/outside.txt";
    write_file(outside, "keep me\n");
    ASSERT_EQ(symlink(outside.c_str(), tmp.c_str()), 0);
    update_session_duration(session);
    EXPECT_EQ(read_info().substr(0, 35), "Duration: 0 Days 0 hours 6 minutes\n");
    EXPECT_EQ(read_file(outside), "keep me\n");
    make_dirs(tmp + "/in_the_way");
    update_session_duration(session);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + tmp + "'"));
    fs::remove_all(tmp);
    // Opens but can't be read: nothing takes its place.
    fs::remove(info);
    make_dirs(info);
    update_session_duration(session);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not read file '" + info + "', kept it as it was"));
    EXPECT_TRUE(fs::is_directory(info));
    EXPECT_FALSE(fs::exists(tmp));
}
