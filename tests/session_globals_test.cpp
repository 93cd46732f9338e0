#include "lib/session_globals.hpp"

#include <gtest/gtest.h>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

const std::string kStateFile =
    "/usr/local/packages/Kelvane/localdata/current_monitoring_session.txt";
const char* kMissingTime = ") Could not restore monitoring session: Missing start time.";
const char* kMissingPath =
    ") Could not restore monitoring session: Missing secondary storage path or current "
    "activity folder.";

class SessionGlobalsTest : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
    void state(const std::string& text) { dev.write(kStateFile, text); }
};

}  // namespace

TEST_F(SessionGlobalsTest, NoStateFileIsNoSessionAndNoMessage) {
    EXPECT_EQ(monitoring_session_load(), nullptr);
    EXPECT_TRUE(log.entries().empty());
    EXPECT_FALSE(monitoring_session_is_active(nullptr));
}

TEST_F(SessionGlobalsTest, SaveThenLoadRoundTripsAndLocaldataMeansInternal) {
    monitoring_session s;
    s.secondary_storage_path = "/var/spool/storage/card/";
    s.current_activity_folder = "session1";
    s.monitor_start_time = "Thu Mar  7 14:05:09 2024";
    monitoring_session_save(&s);
    EXPECT_EQ(read_file(dev.path(kStateFile)),
              "SECS:localdata\nSSPA:/var/spool/storage/card/\nACTI:session1\n"
              "TIME:Thu Mar  7 14:05:09 2024\n");

    MonitoringSession loaded = monitoring_session_load();
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(monitoring_session_is_active(loaded.get()));
    EXPECT_FALSE(loaded->storage_id);
    EXPECT_EQ(loaded->session_path, "/var/spool/storage/card/session1");
    EXPECT_EQ(loaded->monitor_start_time, "Thu Mar  7 14:05:09 2024");

    monitoring_session_save(nullptr);
    EXPECT_EQ(monitoring_session_load(), nullptr);
    monitoring_session_save(nullptr);
    EXPECT_TRUE(log.has(
        LOG_DEBUG, "Could not remove '" + dev.path(kStateFile) + "': No such file or directory"));
}

TEST_F(SessionGlobalsTest, AnyOrderLaterKeyWinsUnknownIgnoredCarriageReturnKept) {
    state("TIME:t\r\nXXXX:junk\nACTI:b\nSSPA:/x\nSECS:SD_DISK\nSSPA:/a\nSECS \n");
    MonitoringSession s = monitoring_session_load();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->storage_id, "SD_DISK");
    EXPECT_EQ(s->session_path, "/ab");
    EXPECT_EQ(s->monitor_start_time, "t\r");
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(SessionGlobalsTest, IncompleteFilesAreNoSessionWithTheirMessage) {
    state("SSPA:/a\nACTI:b\n");
    EXPECT_EQ(monitoring_session_load(), nullptr);
    EXPECT_TRUE(log.has(LOG_ERR, kMissingTime));

    state("TIME:t\nSSPA:/a\n");
    EXPECT_EQ(monitoring_session_load(), nullptr);
    EXPECT_TRUE(log.has(LOG_ERR, kMissingPath));

    log.clear();
    state("");
    EXPECT_EQ(monitoring_session_load(), nullptr);
    EXPECT_EQ(log.count("Missing start time."), 1u);
}

TEST_F(SessionGlobalsTest, LongLinesAndBinaryJunkDoNotBreakTheLoad) {
    std::string junk("\x01\xff\x00\x7f\n\n", 6);
    std::string longpath(100000, 'p');
    state(junk + "SSPA:/" + longpath + "\nACTI:f\nTIME:" + junk + "SECS:id");
    MonitoringSession s = monitoring_session_load();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->session_path, "/" + longpath + "f");
    EXPECT_EQ(s->storage_id, "id");
    EXPECT_EQ(s->monitor_start_time, std::string("\x01\xff\x00\x7f", 4));
}

TEST_F(SessionGlobalsTest, FailedSaveLeavesTheOldStateFile) {
    state("old\n");
    std::string saved_root = dev.root();
    device::set_root(saved_root + "/nowhere");
    monitoring_session s;
    s.secondary_storage_path = "/a";
    s.current_activity_folder = "b";
    monitoring_session_save(&s);
    device::set_root(saved_root);
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + saved_root + "/nowhere" + kStateFile));
    EXPECT_EQ(read_file(dev.path(kStateFile)), "old\n");
}

TEST_F(SessionGlobalsTest, LaidDownSessionLoads) {
    LaidSession laid =
        lay_down_session(dev, dev.root() + "/var/spool/storage/SD_DISK/Kelvane/", "SD_DISK");
    MonitoringSession s = monitoring_session_load();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->session_path, laid.session_path);
    EXPECT_EQ(s->storage_id, "SD_DISK");
}
