#include "lib/ptz.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <sstream>
#include <thread>

#include "lib/sysutil.hpp"
#include "support/bus.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace {

using Names = std::optional<std::pair<unsigned long, std::vector<std::string>>>;

Names names(const std::string& reply) {
    auto table = ptz_parse_name_table(reply);
    return table ? Names({table->length, table->names}) : std::nullopt;
}

std::optional<std::pair<int, unsigned long>> movement(const std::string& line) {
    auto m = ptz_parse_signal_line(line);
    return m ? std::optional(std::pair(m->stat, m->nname)) : std::nullopt;
}

pid_t parent_of(const std::string& pid) {
    std::string stat = read_file("/proc/" + pid + "/stat").value_or("");
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    char state = 0;
    pid_t ppid = 0;
    fields >> state >> ppid;
    return ppid;
}

// Kills the gdbus monitor that this process started through sh.
void kill_monitor() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string pid = entry.path().filename();
        if (read_file("/proc/" + pid + "/cmdline").value_or("").starts_with("gdbus") &&
            read_file("/proc/" + pid + "/cmdline")->find("monitor") != std::string::npos &&
            parent_of(std::to_string(parent_of(pid))) == getpid()) {
            kill(std::stoi(pid), SIGKILL);
        }
    }
}

void call_ptz(const std::string& method_and_args) {
    std::system(("gdbus call -y -d com.norv.Ptz1 -o /com/norv/Ptz1/Channel/1 -m "
                 "com.norv.Ptz1.Channel." +
                 method_and_args + " >/dev/null")
                    .c_str());
}

bool wait_until(const std::function<bool()>& done) {
    for (int i = 0; i < 800 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return done();
}

}  // namespace

TEST(Ptz, NameTableHoldsTheAnnouncedNumberOfNamesAtMost) {
    const std::string x300(300, 'x'), x254(254, 'x');
    const std::pair<std::string, Names> cases[] = {
        {"(uint32 3, ['Home', 'Door', 'Parking'])\n", Names({3, {"Home", "Door", "Parking"}})},
        {"(uint32 0, @as [])\n", std::nullopt},
        {"", std::nullopt},
        {"(uint32\n 3, ['a'])", std::nullopt},
        {"(uint32 abc, ['a'])", std::nullopt},
        {"(uint32 3, ['Home', ''])", Names({3, {"Home", ""}})},
        {"(uint32 2, ['a', 'b', 'c'])", Names({2, {"a", "b"}})},
        {"(uint32 1234567, ['a'])", Names({123456, {"a"}})},
        {R"((uint32 4, ['Bob', "Bob's", "say \"hi\" it's", 'a\\b\tc']))",
         Names({4, {"Bob", "Bob's", "say \"hi\" it's", "a\\b\\tc"}})},
        {"(uint32 2, ['" + x300 + "', 'b'])", Names({2, {std::string(255, 'x'), "b"}})},
        {"(uint32 1, ['" + x254 + "\xC3\xA9'])", Names({1, {x254}})},
    };
    for (const auto& [reply, expected] : cases) {
        EXPECT_EQ(names(reply), expected) << reply;
    }
    auto table = ptz_parse_name_table("(uint32 3, ['Home'])");
    EXPECT_EQ(*ptz_preset_name(*table, 1), "Home");
    EXPECT_EQ(ptz_preset_name(*table, 0), nullptr);
    EXPECT_EQ(ptz_preset_name(*table, 2), nullptr);
}

TEST(Ptz, SignalLineGivesStatusDigitAndPresetNumber) {
    const std::string changed =
        "/com/norv/Ptz1/Channel/1: org.freedesktop.DBus.Properties.PropertiesChanged "
        "('com.norv.Ptz1.Channel', {";
    using M = std::optional<std::pair<int, unsigned long>>;
    const std::pair<std::string, M> cases[] = {
        {changed + "'PresetStatus': <(uint32 2, uint32 3)>}, @as [])", M({2, 3})},
        {changed + "'PresetStatus': <(uint32 1, uint32 0)>}, @as [])", M({1, 0})},
        {changed + "'PresetStatus': <(uint32 12, uint32 1234567)>}, @as [])", M({1, 123456})},
        {changed + "'PresetStatus': <(uint32 x, uint32 ab)>}, @as [])", M({0, 0})},
        {changed + "'Note': <'" + std::string(2000, 'n') +
             "'>, 'PresetStatus': <(uint32 2, uint32 1)>}, @as [])",
         M({2, 1})},
        {changed + "'Zoom': <uint32 4>}, @as [])", std::nullopt},
        {changed + "'PresetStatus': <uint32 2>}, @as [])", std::nullopt},
        {changed + "'PresetStatus': <(uint32", std::nullopt},
        {"/com/norv/Ptz1/Channel/1: com.norv.Ptz1.Channel.Moved ({'PresetStatus': <(uint32 2, "
         "uint32 3)>},)",
         std::nullopt},
        {"The name com.norv.Ptz1 does not have an owner", std::nullopt},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(movement(line), expected) << line;
    }
}

TEST(Ptz, TrackerLogsMovementsByNameAndRestartsWhenTheMonitorDies) {
    PrivateBus bus;
    ASSERT_TRUE(bus.start("norv_ptz"));
    LogCapture log;
    std::atomic<bool> stopping = false;
    std::vector<unsigned> pauses;  // only the tracker touches it until it has ended
    std::thread tracker(ptz_track, [&](unsigned seconds) {
        pauses.push_back(seconds);
        return !stopping;
    });
    // The monitor may not listen yet: emit until it has.
    auto emit_until = [&](const std::string& args, const std::string& text) {
        return wait_until([&] {
            call_ptz("EmitPresetStatus " + args);
            return log.count(text) > 0;
        });
    };
    EXPECT_TRUE(emit_until("2 3", "Preset Movement: Preset Moving \"Parking\""));
    for (const char* ignored : {"0 3", "1 0", "2 4", "5 1"}) {
        call_ptz(std::string("EmitPresetStatus ") + ignored);
    }
    EXPECT_TRUE(emit_until("1 3", "Preset Movement: Preset Reached \"Parking\" reached"));
    EXPECT_EQ(log.count("Home") + log.count("Door"), 0u);
    EXPECT_EQ(log.entries().front(), std::pair(LOG_INFO, std::string("Entering ptz_loop")));

    call_ptz("SetPresets \"['Home', 'Door', 'Gate']\"");
    kill_monitor();
    EXPECT_TRUE(emit_until("2 3", "Preset Movement: Preset Moving \"Gate\""));
    EXPECT_TRUE(log.has(LOG_WARNING,
                        "PTZ preset movement tracking stopped, it will restart in 10 seconds."));
    stopping = true;
    kill_monitor();
    tracker.join();
    EXPECT_EQ(pauses, (std::vector<unsigned>{10, 20}));
}
