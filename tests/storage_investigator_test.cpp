#include "lib/storage_investigator.hpp"

#include <gtest/gtest.h>

#include "support/bus.hpp"
#include "support/log_capture.hpp"

namespace {

const std::string kStatus1 =
    "Command exited with status 1: dbus-send --system --print-reply --reply-timeout=6000 "
    "--dest=com.norv.Storage --type=method_call /com/norv/Storage "
    "com.norv.Storage.GetAllStoragesInfo";

// The mock's parameters: one storage `id` with `status`, available or not, and `extra` members.
std::string storages(const std::string& id, const std::string& status = "OK", bool available = true,
                     const std::string& extra = "") {
    std::string flags = available ? "false,true" : "false,false";
    return R"({"storages":[[")" + id + R"(","SD","/var/spool/storage/)" + id + R"(",")" + status +
           R"(",1,)" + flags + ",false,false,false,false,false,false,false,false,false,false]]" +
           extra + "}";
}

}  // namespace

TEST(Storage, LossIsReportedOnceUntilTheStorageIsOkAgain) {
    PrivateBus bus;
    LogCapture log;
    const std::string ok = storages("SD_DISK"), bad = storages("SD_DISK", "disconnected", false);
    const std::string missing = storages("NAS");
    const std::string loss = "Lost connection to storage location: SD_DISK, no data can be saved.";
    ASSERT_TRUE(bus.start("norv_storage", ok));
    // A missing storage neither reports a loss nor rearms the report.
    const std::pair<const std::string*, size_t> checks[] = {
        {&ok, 0}, {&bad, 1}, {&bad, 1}, {&ok, 1}, {&bad, 2}, {&missing, 2}, {&bad, 2}};
    for (const auto& [reply, losses] : checks) {
        ASSERT_TRUE(bus.configure("norv_storage", *reply));
        EXPECT_EQ(determine_if_this_storage_is_ok("SD_DISK"), reply == &ok);
        EXPECT_EQ(log.count(loss), losses);
    }
    EXPECT_TRUE(log.has(LOG_ERR, ") Failed to find storage: SD_DISK"));
    EXPECT_TRUE(log.has(LOG_DEBUG,
                        "determine_if_this_storage_is_ok [SD_DISK] STATUS: "
                        "disconnected, AVAILABLE: 0, READ_ONLY: 0, FULL: 0"));
}

TEST(Storage, FailedServiceCallsAnswerNotOk) {
    PrivateBus bus;
    LogCapture log;
    EXPECT_FALSE(determine_if_this_storage_is_ok("SD_DISK"));  // no service on the bus
    EXPECT_TRUE(log.has(LOG_ERR, kStatus1));
    EXPECT_EQ(log.entries().size(), 2u);
    // An error answer, a service dying mid-call, no answer within the reply timeout.
    for (const char* how :
         {R"(,"error":"com.norv.Storage.Error.Failed")", R"(,"die":true)", R"(,"delay":30)"}) {
        log.clear();
        ASSERT_TRUE(bus.start("norv_storage", storages("SD_DISK", "OK", true, how)));
        EXPECT_TRUE(get_storages().empty()) << how;
        EXPECT_EQ(log.entries().size(), 1u) << how;
        EXPECT_TRUE(log.has(LOG_ERR, kStatus1)) << how;
    }
    // A slow answer within the reply timeout is still an answer.
    ASSERT_TRUE(bus.start("norv_storage", storages("SD_DISK", "OK", true, R"(,"delay":1)")));
    EXPECT_TRUE(determine_if_this_storage_is_ok("SD_DISK"));
}

TEST(Storage, StringsWithLineBreaksOrQuotesKeepEveryMemberInPlace) {
    PrivateBus bus;
    LogCapture log;
    std::string flags = ",false,false,false,false,false,false,false,false,false,false]";
    std::string card = "[\"SD_DISK\"," + json_string("SD card\nOK\n1\n") +
                       ",\"/var/spool/storage/SD_DISK\",\"disconnected\",1,false,false" + flags;
    std::string share = "[" + json_string("NAS\"1") + R"(,"a\"b","/mnt","OK",2,false,true)" + flags;
    ASSERT_TRUE(bus.start("norv_storage", "{\"storages\":[" + card + "," + share + "]}"));
    EXPECT_FALSE(determine_if_this_storage_is_ok("SD_DISK"));
    EXPECT_TRUE(log.has(LOG_DEBUG, "[SD_DISK] STATUS: disconnected, AVAILABLE: 0"));
    EXPECT_TRUE(determine_if_this_storage_is_ok("NAS\"1"));
}
