#include "lib/storage_investigator.hpp"

#include <gtest/gtest.h>

#include "support/bus.hpp"
#include "support/log_capture.hpp"

namespace {

const std::string kStatus1 =
    "Command exited with status 1: dbus-send --system --print-reply --reply-timeout=6000 "
    "--dest=com.norv.Storage --type=method_call /com/norv/Storage "
    "com.norv.Storage.GetAllStoragesInfo";

// The twelve flags, disruption to diskencrypted, of a healthy storage.
const std::string kOk = "010000000000";

// One structure of the service's reply as JSON.
std::string storage(const std::string& id, const std::string& status = "OK",
                    const std::string& flags = kOk, const std::string& name = "SD") {
    std::string json = "[" + json_string(id) + "," + json_string(name) + ",\"/var/spool/storage/" +
                       id + "\"," + json_string(status) + ",-5";
    for (char flag : flags) {
        json += flag == '1' ? ",true" : ",false";
    }
    return json + "]";
}

// The mock's parameters: the storages (JSON, comma-separated), then any `extra` members.
std::string storages(const std::string& list, const std::string& extra = "") {
    return "{\"storages\":[" + list + "]" + extra + "}";
}

class StorageTest : public ::testing::Test {
  protected:
    PrivateBus bus;
    LogCapture log;
};

}  // namespace

TEST_F(StorageTest, ReplyBecomesListWithTheLaterStructureFirst) {
    const std::string long_name(300, 'n');
    ASSERT_TRUE(
        bus.start("norv_storage", storages(storage("SD_DISK", "OK", "101001010101", long_name) +
                                           "," + storage("NAS", "", kOk, "Net \"share") + "," +
                                           storage("SD_DISK", "OK", kOk, "second"))));
    StorageList list = get_storages();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(storage_find(list, "SD_DISK"), &list[0]);
    EXPECT_EQ(list[0].friendly_name, "second");
    EXPECT_EQ(storage_find(list, "NAS"), &list[1]);
    EXPECT_EQ(storage_find(list, "sd_disk"), nullptr);
    EXPECT_EQ(list[1].status, "");             // an empty string is a value, not a failure
    EXPECT_EQ(list[1].friendly_name, "Net ");  // up to a double quote inside the value
    // A member line longer than any fixed buffer shifts nothing after it.
    const StorageInfo& s = list[2];
    EXPECT_EQ(s.friendly_name, long_name);
    EXPECT_EQ(s.mount_point, "/var/spool/storage/SD_DISK");
    EXPECT_EQ(s.disk_type, -5);
    std::string flags;
    for (bool flag :
         {s.disruption, s.available, s.removed, s.locked, s.full, s.read_only, s.exiting,
          s.recording, s.recipient, s.read_write_failure, s.encryptionenabled, s.diskencrypted}) {
        flags += flag ? '1' : '0';
    }
    EXPECT_EQ(flags, "101001010101");
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(StorageTest, OkRuleOnRealReplies) {
    ASSERT_TRUE(bus.start(
        "norv_storage",
        storages(storage("ok") + "," + storage("others_set", "OK", "111100111111") + "," +
                 storage("unavailable", "OK", "000000000000") + "," +
                 storage("full", "OK", "010010000000") + "," +
                 storage("read_only", "OK", "010001000000") + "," + storage("lower", "ok") + "," +
                 storage("longer", "OKAY") + "," + storage("blank", "OK "))));
    StorageList list = get_storages();
    ASSERT_EQ(list.size(), 8u);
    for (const StorageInfo& s : list) {
        EXPECT_EQ(is_storage_ok(s), s.disk_id == "ok" || s.disk_id == "others_set") << *s.disk_id;
    }
}

TEST_F(StorageTest, LossIsReportedOnceUntilTheStorageIsOkAgain) {
    const std::string ok = storages(storage("SD_DISK"));
    const std::string bad = storages(storage("SD_DISK", "disconnected", "000000000000"));
    const std::string missing = storages(storage("NAS"));
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
    EXPECT_TRUE(log.has(LOG_ERR, "(lib/storage_investigator:"));
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to find storage: SD_DISK"));
    EXPECT_TRUE(log.has(LOG_DEBUG,
                        "determine_if_this_storage_is_ok [SD_DISK] STATUS: "
                        "disconnected, AVAILABLE: 0, READ_ONLY: 0, FULL: 0"));
}

TEST_F(StorageTest, ShortStructuresAndMalformedMembers) {
    // The closing line stands in for the fifth member, then the next structure is too early.
    ASSERT_TRUE(bus.start("norv_storage", storages(R"(["a","b","c","d"],["e","f","g","h"])",
                                                   R"j(,"signature":"(ssss)")j")));
    EXPECT_TRUE(get_storages().empty());
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse int32:       }\n"));
    EXPECT_TRUE(log.has(LOG_ERR, "Too few fields, found 5, expected 17."));
    EXPECT_EQ(log.entries().size(), 2u);
    // A short last structure: its members, its closing line and the array's are all there is.
    log.clear();
    ASSERT_TRUE(bus.configure("norv_storage", storages(R"(["a","b","c","d"])")));
    EXPECT_TRUE(get_storages().empty());
    EXPECT_TRUE(log.has(LOG_ERR, "Too few fields, found 5, expected 17."));
    EXPECT_EQ(log.entries().size(), 3u);  // with both closing lines failing to parse

    // Status an int32, disk_type and disruption bytes: those keep their zero value.
    log.clear();
    ASSERT_TRUE(bus.start("norv_storage",
                          storages(R"(["SD_DISK","SD card","/mnt",4,3,1,true,true,true,true,)"
                                   R"(false,true,true,true,true,true,true])",
                                   R"j(,"signature":"(sssiyybbbbbbbbbbb)")j")));
    StorageList list = get_storages();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_FALSE(list[0].status.has_value());
    EXPECT_EQ(list[0].disk_type, 0);
    EXPECT_FALSE(list[0].disruption);
    EXPECT_TRUE(list[0].diskencrypted);
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse string:          int32 4\n"));
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse int32:          byte 3\n"));
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse boolean:          byte 1\n"));
    EXPECT_FALSE(determine_if_this_storage_is_ok("SD_DISK"));
    EXPECT_TRUE(log.has(LOG_DEBUG, "[SD_DISK] STATUS: [NULL], AVAILABLE: 1"));

    // A storage without disk_id matches no identifier, not even an empty one.
    ASSERT_TRUE(bus.start("norv_storage",
                          storages(R"([7,"SD card","/mnt","OK",1,false,true,false,false,false,)"
                                   R"(false,false,false,false,false,false,false])",
                                   R"j(,"signature":"(isssibbbbbbbbbbbb)")j")));
    list = get_storages();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(storage_find(list, ""), nullptr);
}

TEST_F(StorageTest, FailedServiceCallsAnswerNotOk) {
    EXPECT_FALSE(determine_if_this_storage_is_ok("SD_DISK"));  // no service on the bus
    EXPECT_TRUE(log.has(LOG_ERR, kStatus1));
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to find storage: SD_DISK"));
    EXPECT_EQ(log.entries().size(), 2u);
    // An error answer, a service dying mid-call, no answer within the reply timeout.
    for (const char* how :
         {R"(,"error":"com.norv.Storage.Error.Failed")", R"(,"die":true)", R"(,"delay":30)"}) {
        log.clear();
        ASSERT_TRUE(bus.start("norv_storage", storages(storage("SD_DISK"), how)));
        EXPECT_TRUE(get_storages().empty()) << how;
        EXPECT_EQ(log.entries().size(), 1u) << how;
        EXPECT_TRUE(log.has(LOG_ERR, kStatus1)) << how;
    }
    log.clear();
    ASSERT_TRUE(bus.start("norv_storage", storages("")));
    EXPECT_TRUE(get_storages().empty());
    EXPECT_TRUE(log.entries().empty());
    // A slow answer within the reply timeout is still an answer.
    ASSERT_TRUE(bus.configure("norv_storage", storages(storage("SD_DISK"), R"(,"delay":1)")));
    EXPECT_TRUE(determine_if_this_storage_is_ok("SD_DISK"));
}
