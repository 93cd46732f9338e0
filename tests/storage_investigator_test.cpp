#include "lib/storage_investigator.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "support/bus.hpp"
#include "support/log_capture.hpp"

// tests/data/storage_investigator/replies.txt: for each reply of the storage service in turn,
// whether SD_DISK is ok and how many losses were reported so far. A storage missing from the
// reply neither reports the loss nor rearms the report; of two storages with one id the later
// counts; line breaks and quotes in strings move no member.
TEST(Storage, LossIsReportedOnceUntilTheStorageIsOkAgain) {
    PrivateBus bus;
    LogCapture log;
    EXPECT_FALSE(determine_if_this_storage_is_ok("SD_DISK"));  // no service on the bus
    EXPECT_TRUE(log.has(LOG_ERR,
                        "Command exited with status 1: dbus-send --system --print-reply "
                        "--reply-timeout=6000 --dest=com.norv.Storage --type=method_call "
                        "/com/norv/Storage com.norv.Storage.GetAllStoragesInfo"));
    EXPECT_EQ(log.entries().size(), 2u);
    ASSERT_TRUE(bus.start("norv_storage"));
    std::ifstream replies(KELVANE_SOURCE_DIR "/tests/data/storage_investigator/replies.txt");
    bool ok = false;
    size_t losses = 0;
    for (std::string reply; replies >> ok >> losses && std::getline(replies, reply);) {
        ASSERT_TRUE(bus.configure("norv_storage", "{\"storages\":" + reply + "}"));
        EXPECT_EQ(determine_if_this_storage_is_ok("SD_DISK"), ok) << reply;
        EXPECT_EQ(log.count("Lost connection to storage location: SD_DISK, no data can be saved."),
                  losses)
            << reply;
    }
    EXPECT_TRUE(replies.eof());
    EXPECT_TRUE(log.has(LOG_ERR, ") Failed to find storage: SD_DISK"));
    EXPECT_TRUE(log.has(LOG_DEBUG,
                        "determine_if_this_storage_is_ok [SD_DISK] STATUS: "
                        "disconnected, AVAILABLE: 0, READ_ONLY: 0, FULL: 0"));
    EXPECT_TRUE(determine_if_this_storage_is_ok("NAS\"1"));
}
