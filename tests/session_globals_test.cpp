#include "lib/session_globals.hpp"

#include <gtest/gtest.h>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

class SessionGlobalsTest : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
    const std::string state = dev.path(std::string(device::kStateFile));
    MonitoringSession load(const std::string& text) {
        write_file(state, text);
        return monitoring_session_load();
    }
};

TEST_F(SessionGlobalsTest, SaveWritesFourLinesThatLoadBack) {
    monitoring_session s{std::nullopt, "/sd/", "f", std::nullopt, "Thu Mar  7 14:05:09 2024"};
    monitoring_session_save(&s);
    const std::string saved = "SECS:localdata\nSSPA:/sd/\nACTI:f\nTIME:Thu Mar  7 14:05:09 2024\n";
    EXPECT_EQ(read_file(state), saved);
    MonitoringSession loaded = monitoring_session_load();
    ASSERT_TRUE(monitoring_session_is_active(loaded.get()));
    EXPECT_FALSE(loaded->storage_id);  // "localdata" means internal storage
    EXPECT_EQ(loaded->session_path, "/sd/f");
    EXPECT_EQ(loaded->monitor_start_time, "Thu Mar  7 14:05:09 2024");
    // A failed save is logged with its path.
    device::set_root(dev.root() + "/nowhere");
    monitoring_session_save(&s);
    device::set_root(dev.root());
    EXPECT_TRUE(log.has(LOG_ERR, "Could not open file '" + dev.root() + "/nowhere" +
                                     std::string(device::kStateFile) + "'"));
}

TEST_F(SessionGlobalsTest, IncompleteFilesAreNoSessionWithTheirMessage) {
    const std::string time = "Missing start time.",
                      path = "Missing secondary storage path or current activity folder.";
    for (auto [text, message] :
         {std::pair{"SSPA:/a\nACTI:b\n", time}, {"TIME:t\nSSPA:/a\n", path}, {"", time}}) {
        log.clear();
        EXPECT_EQ(load(text), nullptr);
        EXPECT_EQ(log.entries().size(), 1u);
        EXPECT_TRUE(log.has(LOG_ERR, ") Could not restore monitoring session: " + message)) << text;
    }
}

TEST_F(SessionGlobalsTest, AnyOrderLaterKeyWinsAndAnyBytesOfAnyLength) {
    std::string junk("\x01\xff\x00\x7f\n\n", 6), longpath(4000, 'p');
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
