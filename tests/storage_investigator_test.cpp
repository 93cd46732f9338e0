#include "lib/storage_investigator.hpp"

#include <gtest/gtest.h>

#include "support/bus.hpp"
#include "support/log_capture.hpp"

namespace {

// One storage of the mock's reply, available when its status is "OK".
std::string storage(const std::string& id, const std::string& status,
                    const std::string& name = "SD card") {
    std::string flags = status == "OK" ? "false,true" : "false,false";
    for (int i = 0; i < 10; ++i) {
        flags += ",false";
    }
    return "[" + json_string(id) + "," + json_string(name) + R"(,"/var/spool/storage/x",)" +
           json_string(status) + ",1," + flags + "]";
}

}  // namespace

// A storage missing from the reply neither reports the loss nor rearms the report; of two
// storages with one id the later counts; line breaks and quotes in strings move no member.
TEST(Storage, LossIsReportedOnceUntilTheStorageIsOkAgain) {
    PrivateBus bus;
    LogCapture log;
    EXPECT_FALSE(determine_if_this_storage_is_ok("SD_DISK"));  // no service on the bus
    EXPECT_TRUE(log.has(LOG_ERR,
                        "Command exited with status 1: dbus-send --system --print-reply "
                        "--reply-timeout=6000 --dest=com.norv.Storage --type=method_call "
                        "/com/norv/Storage com.norv.Storage.GetAllStoragesInfo"));
    EXPECT_EQ(log.entries().size(), 2u);
    const std::string card = storage("SD_DISK", "OK"), share = storage("NAS\"1", "OK", "a\"b");
    const std::string lost = storage("SD_DISK", "disconnected", "SD card\nOK\n1\n");
    const struct {
        std::string reply;
        bool ok;
        size_t losses;
    } checks[] = {{card, true, 0},
                  {lost, false, 1},
                  {lost, false, 1},
                  {lost + "," + card, true, 1},
                  {lost, false, 2},
                  {share, false, 2},
                  {share + "," + card + "," + lost, false, 2}};
    ASSERT_TRUE(bus.start("norv_storage"));
    for (const auto& [reply, ok, losses] : checks) {
        ASSERT_TRUE(bus.configure("norv_storage", "{\"storages\":[" + reply + "]}"));
        EXPECT_EQ(determine_if_this_storage_is_ok("SD_DISK"), ok) << reply;
        EXPECT_EQ(log.count("Lost connection to storage location: SD_DISK, no data can be saved."),
                  losses)
            << reply;
    }
    EXPECT_TRUE(log.has(LOG_ERR, ") Failed to find storage: SD_DISK"));
    EXPECT_TRUE(log.has(LOG_DEBUG,
                        "determine_if_this_storage_is_ok [SD_DISK] STATUS: "
                        "disconnected, AVAILABLE: 0, READ_ONLY: 0, FULL: 0"));
    EXPECT_TRUE(determine_if_this_storage_is_ok("NAS\"1"));
}
