#include "lib/session_globals.hpp"

#include <gtest/gtest.h>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

const std::string kStateFile(device::kStateFile);

class SessionGlobalsTest : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
    MonitoringSession load(const std::string& text) {
        dev.write(kStateFile, text);
        return monitoring_session_load();
    }
};

}  // namespace

TEST_F(SessionGlobalsTest, SaveLoadAndRemove) {
    EXPECT_EQ(monitoring_session_load(), nullptr);  // no state file: no session, no message
    EXPECT_TRUE(log.entries().empty());
    monitoring_session s{std::nullopt, "/var/spool/storage/card/", "session1", std::nullopt,
                         "Thu Mar  7 14:05:09 2024"};
    monitoring_session_save(&s);
    EXPECT_EQ(read_file(dev.path(kStateFile)),
              "SECS:localdata\nSSPA:/var/spool/storage/card/\nACTI:session1\n"
              "TIME:Thu Mar  7 14:05:09 2024\n");
    MonitoringSession loaded = monitoring_session_load();
    ASSERT_TRUE(monitoring_session_is_active(loaded.get()));
    EXPECT_FALSE(loaded->storage_id);  // "localdata" means internal storage
    EXPECT_EQ(loaded->session_path, "/var/spool/storage/card/session1");
    EXPECT_EQ(loaded->monitor_start_time, "Thu Mar  7 14:05:09 2024");
    monitoring_session_save(nullptr);
    EXPECT_EQ(monitoring_session_load(), nullptr);
}

TEST_F(SessionGlobalsTest, IncompleteFilesAreNoSessionWithTheirMessage) {
    const std::string missing_time = ") Could not restore monitoring session: Missing start time.";
    const std::string missing_path =
        ") Could not restore monitoring session: Missing secondary storage path or current "
        "activity folder.";
    for (const auto& [text, message] : {std::pair{"SSPA:/a\nACTI:b\n", missing_time},
                                        {"TIME:t\nSSPA:/a\n", missing_path},
                                        {"", missing_time}}) {
        log.clear();
        EXPECT_EQ(load(text), nullptr);
        EXPECT_EQ(log.entries().size(), 1u);
        EXPECT_TRUE(log.has(LOG_ERR, message)) << text;
    }
}

TEST_F(SessionGlobalsTest, AnyOrderLaterKeyWinsAndAnyBytesOfAnyLength) {
    std::string junk("\x01\xff\x00\x7f\n\n", 6), longpath(100000, 'p');
    MonitoringSession s = load("TIME:t\r\nXXXX:junk\nACTI:f\nSSPA:/x\nSECS:SD_DISK\n" + junk +
                               "SSPA:/" + longpath + "\nSECS \nSECS:id");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->storage_id, "id");
    EXPECT_EQ(s->session_path, "/" + longpath + "f");
    EXPECT_EQ(s->monitor_start_time, "t\r");
    EXPECT_TRUE(log.entries().empty());
    s = load("SSPA:/a\nACTI:b\nTIME:" + junk);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->monitor_start_time, "\x01\xff");  // a value ends at its NUL
}

TEST_F(SessionGlobalsTest, FailedSaveLeavesTheOldStateFile) {
    dev.write(kStateFile, "old\n");
    device::set_root(dev.root() + "/nowhere");
    monitoring_session s{std::nullopt, "/a", "b", std::nullopt, "t"};
    monitoring_session_save(&s);
    device::set_root(dev.root());
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + dev.root() + "/nowhere" + kStateFile));
    EXPECT_EQ(read_file(dev.path(kStateFile)), "old\n");
}
