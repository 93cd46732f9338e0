#include "lib/storage_investigator.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/bus.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

const std::string kCommand =
    "dbus-send --system --print-reply --reply-timeout=6000 --dest=com.norv.Storage "
    "--type=method_call /com/norv/Storage com.norv.Storage.GetAllStoragesInfo";

// The twelve flags, disruption to diskencrypted, as '0'/'1'; this one is a healthy storage.
const std::string kOkFlags = "010000000000";

// One structure of the service's reply as JSON.
std::string storage(const std::string& id, const std::string& status = "OK",
                    const std::string& flags = kOkFlags, const std::string& name = "SD card",
                    int disk_type = 1) {
    std::string json = "[" + json_string(id) + "," + json_string(name) + "," +
                       json_string("/var/spool/storage/" + id) + "," + json_string(status) + "," +
                       std::to_string(disk_type);
    for (char flag : flags) {
        json += flag == '1' ? ",true" : ",false";
    }
    return json + "]";
}

std::string storages(const std::vector<std::string>& list, const std::string& extra = "") {
    std::string json = "{\"storages\":[";
    for (size_t i = 0; i < list.size(); ++i) {
        json += (i > 0 ? "," : "") + list[i];
    }
    return json + "]" + extra + "}";
}

std::string signature(const std::string& sig) {
    return ",\"signature\":\"" + sig + "\"";
}

std::string process_cmdline(pid_t pid) {
    return read_file("/proc/" + std::to_string(pid) + "/cmdline").value_or("");
}

// A child of `parent` whose command line holds `text`, or -1.
pid_t child_running(const std::string& text, pid_t parent) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        std::string stat = read_file(entry.path().string() + "/stat").value_or("");
        auto after_name = stat.rfind(") ");
        if (after_name == std::string::npos) {
            continue;
        }
        // "<pid> (<comm>) <state> <ppid> ..."
        pid_t pid = std::atoi(stat.c_str());
        pid_t ppid = std::atoi(stat.c_str() + after_name + 4);
        if (ppid == parent && process_cmdline(pid).find(text) != std::string::npos) {
            return pid;
        }
    }
    return -1;
}

class StorageTest : public ::testing::Test {
  protected:
    PrivateBus bus;
    LogCapture log;

    bool logged_only(int level, const std::string& text) const {
        return log.entries().size() == 1 && log.has(level, text);
    }
};

}  // namespace

TEST_F(StorageTest, ReplyBecomesListWithTheLaterStructureFirst) {
    const std::string long_name(300, 'n');
    ASSERT_TRUE(
        bus.start("norv_storage", storages({storage("SD_DISK", "OK", "101001010101", long_name, -5),
                                            storage("NAS", "", "010000000000", "", 7),
                                            storage("SD_DISK", "OK", kOkFlags, "second")})));
    StorageList list = get_storages();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].friendly_name, "second");
    EXPECT_EQ(storage_find(list, "SD_DISK"), &list[0]);
    EXPECT_EQ(storage_find(list, "NAS"), &list[1]);
    EXPECT_EQ(storage_find(list, "sd_disk"), nullptr);
    EXPECT_EQ(storage_find(StorageList(), "SD_DISK"), nullptr);

    // Empty strings are values, not failures.
    EXPECT_EQ(list[1].status, "");
    EXPECT_EQ(list[1].friendly_name, "");
    EXPECT_EQ(list[1].disk_type, 7);

    // A member line far longer than any fixed buffer shifts nothing after it.
    const StorageInfo& first = list[2];
    EXPECT_EQ(first.disk_id, "SD_DISK");
    EXPECT_EQ(first.friendly_name, long_name);
    EXPECT_EQ(first.mount_point, "/var/spool/storage/SD_DISK");
    EXPECT_EQ(first.status, "OK");
    EXPECT_EQ(first.disk_type, -5);
    const bool flags[] = {
        first.disruption, first.available,          first.removed,           first.locked,
        first.full,       first.read_only,          first.exiting,           first.recording,
        first.recipient,  first.read_write_failure, first.encryptionenabled, first.diskencrypted};
    std::string seen;
    for (bool flag : flags) {
        seen += flag ? '1' : '0';
    }
    EXPECT_EQ(seen, "101001010101");
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(StorageTest, OkRuleOnRealReplies) {
    ASSERT_TRUE(bus.start(
        "norv_storage",
        storages({storage("ok"), storage("others_set", "OK", "111100111111"),
                  storage("unavailable", "OK", "000000000000"),
                  storage("full", "OK", "010010000000"), storage("read_only", "OK", "010001000000"),
                  storage("lower", "ok"), storage("longer", "OKAY"), storage("blank", "OK "),
                  storage("empty", "")})));
    StorageList list = get_storages();
    ASSERT_EQ(list.size(), 9u);
    for (const char* id : {"ok", "others_set"}) {
        ASSERT_NE(storage_find(list, id), nullptr);
        EXPECT_TRUE(is_storage_ok(*storage_find(list, id))) << id;
    }
    for (const char* id :
         {"unavailable", "full", "read_only", "lower", "longer", "blank", "empty"}) {
        ASSERT_NE(storage_find(list, id), nullptr);
        EXPECT_FALSE(is_storage_ok(*storage_find(list, id))) << id;
    }
}

TEST_F(StorageTest, LossIsReportedOnceUntilTheStorageIsOkAgain) {
    ASSERT_TRUE(bus.start("norv_storage", storages({storage("SD_DISK")})));
    const std::string ok = storages({storage("SD_DISK")});
    const std::string bad = storages({storage("SD_DISK", "disconnected", "000000000000")});
    const std::string missing = storages({storage("NAS")});
    const std::string loss = "Lost connection to storage location: SD_DISK, no data can be saved.";
    struct Check {
        const std::string& reply;
        bool answer;
        size_t losses;  // loss messages logged so far
    };
    const Check checks[] = {{ok, true, 0}, {bad, false, 1}, {bad, false, 1},     {bad, false, 1},
                            {ok, true, 1}, {bad, false, 2}, {missing, false, 2}, {bad, false, 2}};
    int step = 0;
    for (const Check& check : checks) {
        ASSERT_TRUE(bus.configure("norv_storage", check.reply));
        EXPECT_EQ(determine_if_this_storage_is_ok("SD_DISK"), check.answer) << "check " << step;
        EXPECT_EQ(log.count(loss), check.losses) << "check " << step;
        ++step;
    }
    EXPECT_TRUE(log.has(LOG_ERR, "(lib/storage_investigator:"));
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to find storage: SD_DISK"));
    EXPECT_TRUE(log.has(LOG_DEBUG,
                        "determine_if_this_storage_is_ok [SD_DISK] STATUS: OK, "
                        "AVAILABLE: 1, READ_ONLY: 0, FULL: 0"));
    EXPECT_TRUE(log.has(LOG_DEBUG,
                        "determine_if_this_storage_is_ok [SD_DISK] STATUS: "
                        "disconnected, AVAILABLE: 0, READ_ONLY: 0, FULL: 0"));
}

TEST_F(StorageTest, EmptyReplyIsNoListAndNoMessage) {
    ASSERT_TRUE(bus.start("norv_storage", storages({})));
    EXPECT_TRUE(get_storages().empty());
    EXPECT_TRUE(log.entries().empty());
    EXPECT_FALSE(determine_if_this_storage_is_ok("SD_DISK"));
    EXPECT_TRUE(logged_only(LOG_ERR, "Failed to find storage: SD_DISK"));
}

TEST_F(StorageTest, ShortStructuresDiscardTheWholeList) {
    // Four members, then the closing line, then the next structure: found 5.
    ASSERT_TRUE(bus.start("norv_storage", storages({R"(["a","b","c","d"])", R"(["e","f","g","h"])"},
                                                   signature("(ssss)"))));
    EXPECT_TRUE(get_storages().empty());
    // The closing line is taken for the next member before the next structure is seen.
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse int32:       }\n"));
    EXPECT_TRUE(log.has(LOG_ERR, "Too few fields, found 5, expected 17."));
    EXPECT_EQ(log.entries().size(), 2u);

    // Fifteen members at the end of the reply: the closing lines count, found 16.
    log.clear();
    std::string fifteen = storage("SD_DISK");
    fifteen.erase(fifteen.rfind(",false,false"), 12);
    ASSERT_TRUE(bus.start("norv_storage", storages({fifteen}, signature("(ssssibbbbbbbbbb)"))));
    EXPECT_TRUE(get_storages().empty());
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse boolean:       }\n"));
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse boolean:    ]\n"));
    EXPECT_TRUE(log.has(LOG_ERR, "Too few fields, found 16, expected 17."));
    EXPECT_EQ(log.entries().size(), 3u);
    log.clear();
    EXPECT_FALSE(determine_if_this_storage_is_ok("SD_DISK"));
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to find storage: SD_DISK"));
}

TEST_F(StorageTest, MalformedMembersLeaveTheirZeroValue) {
    // Status an int32, disk_type and disruption bytes.
    ASSERT_TRUE(bus.start("norv_storage",
                          storages({R"(["SD_DISK","SD card","/mnt",4,3,1,true,true,true,true,true,)"
                                    R"(true,true,true,true,true,true])"},
                                   signature("(sssiyybbbbbbbbbbb)"))));
    StorageList list = get_storages();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_FALSE(list[0].status.has_value());
    EXPECT_EQ(list[0].disk_type, 0);
    EXPECT_FALSE(list[0].disruption);
    EXPECT_TRUE(list[0].available);
    EXPECT_TRUE(list[0].diskencrypted);
    EXPECT_FALSE(is_storage_ok(list[0]));
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse string:          int32 4\n"));
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse int32:          byte 3\n"));
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse boolean:          byte 1\n"));
    EXPECT_EQ(log.entries().size(), 3u);

    // A storage without status is reported lost, never trusted.
    log.clear();
    EXPECT_FALSE(determine_if_this_storage_is_ok("SD_DISK"));
    EXPECT_TRUE(log.has(LOG_DEBUG, "[SD_DISK] STATUS: [NULL], AVAILABLE: 1"));

    // A storage without disk_id matches no identifier, not even an empty one.
    ASSERT_TRUE(bus.start("norv_storage",
                          storages({R"([7,"SD card","/mnt","OK",1,false,true,false,false,false,)"
                                    R"(false,false,false,false,false,false,false])"},
                                   signature("(isssibbbbbbbbbbbb)"))));
    list = get_storages();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_FALSE(list[0].disk_id.has_value());
    EXPECT_TRUE(is_storage_ok(list[0]));
    EXPECT_EQ(storage_find(list, ""), nullptr);
    EXPECT_EQ(storage_find(list, "7"), nullptr);
}

TEST_F(StorageTest, FailedServiceCallsAnswerNotOk) {
    const std::string status1 = "Command exited with status 1: " + kCommand;
    // No service on the bus.
    EXPECT_TRUE(get_storages().empty());
    EXPECT_TRUE(logged_only(LOG_ERR, status1));
    log.clear();
    EXPECT_FALSE(determine_if_this_storage_is_ok("SD_DISK"));
    EXPECT_TRUE(log.has(LOG_ERR, status1));
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to find storage: SD_DISK"));
    EXPECT_EQ(log.entries().size(), 2u);

    // An error answer, and a service that dies during the call.
    for (const char* how : {R"(,"error":"com.norv.Storage.Error.Failed")", R"(,"die":true)"}) {
        log.clear();
        ASSERT_TRUE(bus.start("norv_storage", storages({storage("SD_DISK")}, how)));
        EXPECT_TRUE(get_storages().empty()) << how;
        EXPECT_TRUE(logged_only(LOG_ERR, status1)) << how;
    }

    // A slow answer within the reply timeout is still an answer.
    log.clear();
    ASSERT_TRUE(bus.start("norv_storage", storages({storage("SD_DISK")}, R"(,"delay":1)")));
    EXPECT_TRUE(determine_if_this_storage_is_ok("SD_DISK"));
}

TEST_F(StorageTest, NoAnswerWithinTheReplyTimeout) {
    ASSERT_TRUE(bus.start("norv_storage", storages({storage("SD_DISK")}, R"(,"delay":30)")));
    EXPECT_TRUE(get_storages().empty());
    EXPECT_TRUE(logged_only(LOG_ERR, "Command exited with status 1: " + kCommand));
}

TEST_F(StorageTest, KilledCommandIsAnAbnormalExit) {
    ASSERT_TRUE(bus.start("norv_storage", storages({storage("SD_DISK")}, R"(,"delay":30)")));
    // Kill the shell that runs the call, and the call itself, while they wait for the answer.
    std::thread killer([] {
        for (int tries = 0; tries < 500; ++tries) {
            pid_t shell = child_running("GetAllStoragesInfo", getpid());
            pid_t call = shell > 0 ? child_running("GetAllStoragesInfo", shell) : -1;
            if (call > 0 || (shell > 0 && process_cmdline(shell).rfind("dbus-send", 0) == 0)) {
                kill(shell, SIGKILL);
                if (call > 0) {
                    kill(call, SIGKILL);
                }
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    StorageList list = get_storages();
    killer.join();
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(logged_only(LOG_ERR, "Command exited abnormally: " + kCommand));
}

TEST(StorageReplyParser, EdgesOfTheReplyText) {
    LogCapture log;
    // Output that ends right after a structure opens.
    StorageReply reply;
    for (const char* line :
         {"method return time=1 sender=:1.1\n", "   array [\n", "      struct {\n"}) {
        EXPECT_TRUE(storage_reply_add_line(reply, line));
    }
    EXPECT_FALSE(storage_reply_complete(reply));
    EXPECT_TRUE(log.has(LOG_ERR, "Too few fields, found -1, expected 17."));

    // A structure of 16 members: its closing line stands in for the last one and fails.
    log.clear();
    reply = StorageReply();
    storage_reply_add_line(reply, "struct {\n");
    for (int i = 0; i < 16; ++i) {
        storage_reply_add_line(reply, i < 4    ? "string \"x\"\n"
                                      : i == 4 ? "int32 1\n"
                                               : "boolean true\n");
    }
    EXPECT_TRUE(storage_reply_add_line(reply, "      }\n"));
    EXPECT_TRUE(storage_reply_add_line(reply, "   ]\n"));
    EXPECT_TRUE(storage_reply_complete(reply));
    ASSERT_EQ(reply.storages.size(), 1u);
    EXPECT_TRUE(reply.storages[0].encryptionenabled);
    EXPECT_FALSE(reply.storages[0].diskencrypted);
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse boolean:       }\n"));
}

TEST(StorageReplyParser, MemberLines) {
    LogCapture log;
    std::optional<std::string> s;
    EXPECT_TRUE(dbus_parse_string("         string \"SD card\"\n", s));
    EXPECT_EQ(s, "SD card");
    EXPECT_TRUE(dbus_parse_string("         string \"\"\n", s));
    EXPECT_EQ(s, "");
    // Only the text up to a double quote inside the value.
    EXPECT_TRUE(dbus_parse_string("         string \"Net \"share\"\n", s));
    EXPECT_EQ(s, "Net ");
    const char nul_line[] = "string \"a\0b\"\n";
    EXPECT_TRUE(dbus_parse_string(std::string(nul_line, sizeof nul_line - 1), s));
    EXPECT_EQ(s, "a");
    s = "kept";
    for (const std::string line : {"", "string\n", "string x\n", "strung \"x\"\n", "int32 5\n"}) {
        EXPECT_FALSE(dbus_parse_string(line, s)) << line;
    }
    EXPECT_EQ(s, "kept");
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse string: string x\n"));

    int32_t i = 9;
    EXPECT_TRUE(dbus_parse_int32("         int32 -2147483648\n", i));
    EXPECT_EQ(i, INT32_MIN);
    EXPECT_TRUE(dbus_parse_int32("int32 +12x\n", i));
    EXPECT_EQ(i, 12);
    for (const std::string& line :
         std::vector<std::string>{"int32 2147483648\n", "uint32 1\n", "int32 +-1\n", "int32\n",
                                  "int32 " + std::string(100000, '9')}) {
        EXPECT_FALSE(dbus_parse_int32(line, i)) << line;
    }
    EXPECT_EQ(i, 12);
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse int32: uint32 1\n"));

    bool b = false;
    EXPECT_TRUE(dbus_parse_boolean("         boolean true\n", b));
    EXPECT_TRUE(b);
    EXPECT_FALSE(dbus_parse_boolean("         boolean 1\n", b));
    EXPECT_TRUE(b);
    EXPECT_TRUE(dbus_parse_boolean("         boolean false\n", b));
    EXPECT_FALSE(b);
    EXPECT_TRUE(log.has(LOG_ERR, "Failed to parse boolean:          boolean 1\n"));
}
