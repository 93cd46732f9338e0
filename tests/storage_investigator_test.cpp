#include "lib/storage_investigator.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "support/bus.hpp"
#include "support/transcript.hpp"

// tests/data/storage_investigator/replies.txt: for each reply of the storage service in turn,
// whether SD_DISK is ok; replies.log: what was logged, first with no service on the bus. A loss
// is reported once until the storage is ok again; a storage missing from the reply neither
// reports it nor rearms the report; of two storages with one id the later counts; line breaks
// and quotes in strings move no member.
TEST(Storage, LossIsReportedOnceUntilTheStorageIsOkAgain) {
    PrivateBus bus;
    LogCapture log;
    errno = 0;
    EXPECT_FALSE(determine_if_this_storage_is_ok("SD_DISK"));
    ASSERT_TRUE(bus.start("norv_storage"));
    std::ifstream replies(KELVANE_TEST_DATA "storage_investigator/replies.txt");
    bool ok = false;
    for (std::string reply; replies >> ok && std::getline(replies, reply);) {
        ASSERT_TRUE(bus.configure("norv_storage", "{\"storages\":" + reply + "}"));
        EXPECT_EQ(determine_if_this_storage_is_ok("SD_DISK"), ok) << reply;
    }
    EXPECT_TRUE(determine_if_this_storage_is_ok("NAS\"1"));
    EXPECT_EQ(take_log(log), test_data("storage_investigator/replies.log"));
}
