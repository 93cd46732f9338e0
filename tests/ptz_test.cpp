#include "lib/ptz.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "lib/sysutil.hpp"
#include "support/bus.hpp"
#include "support/log_capture.hpp"

namespace {

void call_ptz(const std::string& method_and_args) {
    std::system(("gdbus call -y -d com.norv.Ptz1 -o /com/norv/Ptz1/Channel/1 -m "
                 "com.norv.Ptz1.Channel." +
                 method_and_args + " >/dev/null")
                    .c_str());
}

// Kills the gdbus monitor that this process started through sh.
void kill_monitor() {
    std::system(
        str_printf("pkill -KILL -P \"$(pgrep -d, -P %d)\" -f '^gdbus monitor'", getpid()).c_str());
}

}  // namespace

TEST(Ptz, NameTableHoldsTheAnnouncedNumberOfNamesAtMost) {
    using T = std::optional<ptz_name_table>;
    const std::string x300(300, 'x'), x254(254, 'x');
    const std::pair<std::string, T> cases[] = {
        {"(uint32 3, ['Home', 'Door', 'Parking'])\n",
         ptz_name_table{3, {"Home", "Door", "Parking"}}},
        {"(uint32 0, @as [])\n", std::nullopt},
        {"", std::nullopt},
        {"(uint32\n 3, ['a'])", std::nullopt},
        {"(uint32 3, ['Home', ''])", ptz_name_table{3, {"Home", ""}}},
        {"(uint32 2, ['a', 'b', 'c'])", ptz_name_table{2, {"a", "b"}}},
        {"(uint32 1234567, ['a'])", ptz_name_table{123456, {"a"}}},
        {R"((uint32 4, ['Bob', "Bob's", "say \"hi\" it's", 'a\\b\tc']))",
         ptz_name_table{4, {"Bob", "Bob's", "say \"hi\" it's", "a\\b\\tc"}}},
        {"(uint32 2, ['" + x300 + "', 'b'])", ptz_name_table{2, {std::string(255, 'x'), "b"}}},
        {"(uint32 1, ['" + x254 + "\xC3\xA9'])", ptz_name_table{1, {x254}}},
    };
    for (const auto& [reply, expected] : cases) {
        EXPECT_EQ(ptz_parse_name_table(reply), expected) << reply;
    }
    EXPECT_EQ(ptz_preset_name(ptz_name_table{3, {"Home"}}, 2), nullptr);
}

TEST(Ptz, SignalLineGivesStatusDigitAndPresetNumber) {
    using M = std::optional<ptz_movement>;
    const std::string changed =
        "/com/norv/Ptz1/Channel/1: org.freedesktop.DBus.Properties.PropertiesChanged "
        "('com.norv.Ptz1.Channel', {";
    const std::pair<std::string, M> cases[] = {
        {changed + "'PresetStatus': <(uint32 2, uint32 3)>}, @as [])", ptz_movement{2, 3}},
        {changed + "'PresetStatus': <(uint32 12, uint32 1234567)>}, @as [])",
         ptz_movement{1, 123456}},
        {changed + "'PresetStatus': <(uint32 x, uint32 ab)>}, @as [])", ptz_movement{0, 0}},
        {changed + "'Note': <'" + std::string(2000, 'n') +
             "'>, 'PresetStatus': <(uint32 2, uint32 1)>}, @as [])",
         ptz_movement{2, 1}},
        {changed + "'Zoom': <uint32 4>}, @as [])", std::nullopt},
        {changed + "'PresetStatus': <uint32 2>}, @as [])", std::nullopt},
        {changed + "'PresetStatus': <(uint32", std::nullopt},
        {"/com/norv/Ptz1/Channel/1: com.norv.Ptz1.Channel.Moved ({'PresetStatus': <(uint32 2, "
         "uint32 3)>},)",
         std::nullopt},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(ptz_parse_signal_line(line), expected) << line;
    }
}

TEST(Ptz, TrackerLogsMovementsByNameAndRestartsWhenTheMonitorDies) {
    PrivateBus bus;
    ASSERT_TRUE(bus.start("norv_ptz"));
    LogCapture log;
    std::atomic<bool> stopping = false;
    std::vector<unsigned> pauses;  // the tracker's alone until it has ended
    std::thread tracker(ptz_track, [&](unsigned seconds) {
        pauses.push_back(seconds);
        return !stopping;
    });
    // Emits until the tracker logs `text`: its monitor may not listen yet.
    auto emit_until = [&](const std::string& args, const std::string& text) {
        for (int i = 0; i < 400 && log.count(text) == 0; ++i) {
            call_ptz("EmitPresetStatus " + args);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return log.count(text) > 0;
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
