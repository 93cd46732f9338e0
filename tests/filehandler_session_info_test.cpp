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
    void write_info(const std::string& text) { write_file(info, text); }
    std::string read_info() { return read_file(info).value_or("<missing>"); }

    DeviceRoot dev;
    LogCapture log;
    std::string session = dev.root() + "/card/20240307_14_05_09";
    std::string info = session + "/Session_Information.txt";
    std::string tmp = session + "/Session_Information_tmp_tmp.txt";
};

}  // namespace

TEST(SessionInfoValues, DataPointsCountOnFromWhateverNumberLeads) {
    EXPECT_EQ(update_data_points("41\r"), "42");
    EXPECT_EQ(update_data_points("  7 points"), "8");
    EXPECT_EQ(update_data_points("none"), "1");
    EXPECT_EQ(update_data_points("-3"), "1");
    EXPECT_EQ(update_data_points("4294967295"), "0");
    EXPECT_EQ(update_data_points("99999999999999999999999"), "0");
}

TEST(SessionInfoValues, DurationCarriesMinutesAndHoursAndKeepsWhatDoesNotParse) {
    EXPECT_EQ(update_duration("0 Days 23 hours 59 minutes"), "1 Days 0 hours 0 minutes");
    EXPECT_EQ(update_duration("0 Days 0 hours 75 minutes\r"), "0 Days 1 hours 16 minutes");
    EXPECT_EQ(update_duration("2  Days\t3 hours   4 minutes"), "2 Days 3 hours 5 minutes");
    EXPECT_EQ(update_duration("0 Days 30 hours 0 minutes"), "1 Days 6 hours 1 minutes");
    EXPECT_EQ(update_duration("forever"), std::nullopt);
    EXPECT_EQ(update_duration("1 days 2 hours 3 minutes"), std::nullopt);
    EXPECT_EQ(update_duration("1 Days 2 hours"), std::nullopt);
}

TEST_F(SessionInfoTest, UpdatesRewriteTheirLinesAndLeaveTheRestByteForByte) {
    write_info(
        "Device Serial Number: ACCC8E000001\r\n"
        "Collected Data Points: 41\r\n"
        "Note: Collected Data Points: 5\n"
        "Duration: 0 Days 23 hours 59 minutes\n"
        "Duration: 0 Days 0 hours 75 minutes\n"
        "Duration:0 Days 0 hours 1 minutes\n"
        " Duration: 0 Days 0 hours 1 minutes\n");
    update_number_of_collected_data_points(session);
    update_session_duration(session);
    EXPECT_EQ(read_info(),
              "Device Serial Number: ACCC8E000001\r\n"
              "Collected Data Points: 42\n"
              "Note: Collected Data Points: 5\n"
              "Duration: 1 Days 0 hours 0 minutes\n"
              "Duration: 0 Days 1 hours 16 minutes\n"
              "Duration:0 Days 0 hours 1 minutes\n"
              " Duration: 0 Days 0 hours 1 minutes\n");
    EXPECT_FALSE(read_file(tmp).has_value());
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(SessionInfoTest, MissingOrMalformedFieldsGetTheDefaultOnceOnALineOfItsOwn) {
    // The last line has no newline; the appended field must not join it.
    write_info("Duration: forever\nStart: today");
    update_session_duration(session);
    update_number_of_collected_data_points(session);
    EXPECT_EQ(read_info(),
              "Duration: forever\nStart: today\n"
              "Duration: 0 Days 0 hours 0 minutes\n"
              "Collected Data Points: 1\n");
    update_session_duration(session);
    EXPECT_EQ(read_info(),
              "Duration: forever\nStart: today\n"
              "Duration: 0 Days 0 hours 1 minutes\n"
              "Collected Data Points: 1\n");
}

TEST_F(SessionInfoTest, LongLinesAreWholeLinesAndNeverMatchInTheirMiddle) {
    std::string long_line = std::string(1023, 'x') + "Duration: 0 Days 0 hours 5 minutes";
    std::string long_value(5000, '7');
    write_info(long_line + "\nRemark: " + long_value + "\n");
    update_session_duration(session);
    EXPECT_EQ(read_info(),
              long_line + "\nRemark: " + long_value + "\nDuration: 0 Days 0 hours 0 minutes\n");

    LogCapture errors;
    read_and_update_session_info(session, std::string(1001, 'F'), "1", update_data_points);
    EXPECT_TRUE(errors.has(LOG_ERR, "Cannot read field names larger than 1000 characters, got: F"));
    read_and_update_session_info(session, std::string(1000, 'F'), "1", update_data_points);
    EXPECT_NE(read_info().find(std::string(1000, 'F') + ": 1\n"), std::string::npos);
}

TEST_F(SessionInfoTest, AFolderWithoutTheFileIsLeftAlone) {
    update_session_duration(session);
    EXPECT_FALSE(read_file(info).has_value());
    EXPECT_FALSE(read_file(tmp).has_value());
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(log.entries()[0],
              std::make_pair(LOG_DEBUG, "(errno: No such file or directory) Could not open file '" +
                                            info + "'"));
}

TEST_F(SessionInfoTest, AFailedWriteKeepsTheOriginalAndRemovesTheTemporaryFile) {
    const std::string original =
        "Duration: 0 Days 0 hours 5 minutes\nRemark: " + std::string(200, 'r') + "\n";
    write_info(original);
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
    EXPECT_FALSE(read_file(tmp).has_value());
    EXPECT_TRUE(log.has(LOG_ERR, "Could not write file '" + tmp + "', kept '" + info));
    EXPECT_TRUE(log.has(LOG_ERR, "File too large"));

    update_session_duration(session);
    EXPECT_EQ(read_info().substr(0, 35), "Duration: 0 Days 0 hours 6 minutes\n");
}

TEST_F(SessionInfoTest, TheTemporaryNameIsNeverWrittenThrough) {
    write_info("Collected Data Points: 1\n");
    std::string outside = dev.root() + "/outside.txt";
    write_file(outside, "keep me\n");
    ASSERT_EQ(symlink(outside.c_str(), tmp.c_str()), 0);
    update_number_of_collected_data_points(session);
    EXPECT_EQ(read_info(), "Collected Data Points: 2\n");
    EXPECT_EQ(read_file(outside), "keep me\n");

    // A temporary name that can't be made: logged, file unchanged.
    make_dirs(tmp + "/busy");
    update_number_of_collected_data_points(session);
    EXPECT_EQ(read_info(), "Collected Data Points: 2\n");
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + tmp + "'"));

    // An information "file" that can be opened but not read: nothing replaces it.
    fs::remove_all(tmp);
    fs::remove(info);
    make_dirs(info);
    update_number_of_collected_data_points(session);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not read file '" + info + "', kept it as it was"));
    EXPECT_TRUE(fs::is_directory(info));
    EXPECT_FALSE(fs::exists(tmp));
}
