#include "lib/ptz.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "lib/sysutil.hpp"
#include "support/bus.hpp"
#include "support/log_capture.hpp"

TEST(Ptz, NameTableHoldsTheAnnouncedNumberOfNamesAtMost) {
    using T = std::optional<ptz_name_table>;
    const std::string x254(254, 'x');
    const std::pair<std::string, T> cases[] = {
        {"(uint32 3, ['Home', 'Door', 'Parking'])\n",
         ptz_name_table{3, {"Home", "Door", "Parking"}}},
        {"(uint32 0, @as [])\n", std::nullopt},
        {"(uint32\n 3, ['a'])", std::nullopt},
        {"(uint32 3, ['" + x254 + "xy', ''])", ptz_name_table{3, {x254 + "x", ""}}},
        {"(uint32 1, ['" + x254 + "\xC3\xA9'])", ptz_name_table{1, {x254}}},
        {R"((uint32 3, ["Bob's", "say \"hi\" it's", 'a\\b\tc', 'more']))",
         ptz_name_table{3, {"Bob's", "say \"hi\" it's", "a\\b\\tc"}}},
    };
    for (const auto& [reply, expected] : cases) {
        EXPECT_EQ(ptz_parse_name_table(reply), expected) << reply;
    }
    EXPECT_EQ(ptz_preset_name(ptz_name_table{3, {"Home"}}, 2), nullptr);
}

TEST(Ptz, SignalLineGivesStatusDigitAndPresetNumber) {
    auto line = [](const std::string& properties) {
        return "/com/norv/Ptz1/Channel/1: org.freedesktop.DBus.Properties.PropertiesChanged "
               "('com.norv.Ptz1.Channel', {" +
               properties + "}, @as [])";
    };
    const std::pair<std::string, std::optional<ptz_movement>> cases[] = {
        {line("'PresetStatus': <(uint32 2, uint32 3)>"), ptz_movement{2, 3}},
        {line("'PresetStatus': <(uint32 1, uint32 10)>"), ptz_movement{1, 10}},
        {line("'PresetStatus': <(uint32 12, uint32 1234567)>"), ptz_movement{1, 123456}},
        {line("'N': <'" + std::string(2000, 'n') + "'>, 'PresetStatus': <(uint32 x, uint32 ab)>"),
         ptz_movement{0, 0}},
        {line("'Zoom': <uint32 4>"), std::nullopt},
        {"/com/norv/Ptz1/Channel/1: com.norv.Ptz1.Channel.Moved ({'PresetStatus': <(uint32 2, "
         "uint32 3)>},)",
         std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ptz_parse_signal_line(text), expected) << text;
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
    auto call = [](const std::string& method_and_args) {
        std::system(("gdbus call -y -d com.norv.Ptz1 -o /com/norv/Ptz1/Channel/1 -m "
                     "com.norv.Ptz1.Channel." +
                     method_and_args + " >/dev/null")
                        .c_str());
    };
    // Emits until the tracker logs `text`, since its monitor may not listen yet.
    auto emit_until = [&](const std::string& args, const std::string& text) {
        for (int i = 0; i < 400 && !log.has(LOG_INFO, "Preset Movement: Preset " + text); ++i) {
            call("EmitPresetStatus " + args);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return log.has(LOG_INFO, "Preset Movement: Preset " + text);
    };
    // Our grandchild: sh runs it for the tracker.
    auto kill_monitor = [] {
        std::system(
            str_printf("pkill -9 -P \"$(pgrep -d, -P %d)\" -f '^gdbus monitor'", getpid()).c_str());
    };
    EXPECT_TRUE(emit_until("2 3", "Moving \"Parking\""));
    for (const char* ignored : {"0 3", "1 0", "2 4", "5 1"}) {
        call(std::string("EmitPresetStatus ") + ignored);
    }
    EXPECT_TRUE(emit_until("1 3", "Reached \"Parking\" reached"));
    EXPECT_EQ(log.count("Home") + log.count("Door"), 0u);

    call("SetPresets \"['Home', 'Door', 'Gate']\"");
    kill_monitor();
    EXPECT_TRUE(emit_until("2 3", "Moving \"Gate\""));
    EXPECT_TRUE(log.has(LOG_WARNING, "tracking stopped, it will restart in 10 seconds."));
    stopping = true;
    kill_monitor();
    tracker.join();
    EXPECT_EQ(pauses, (std::vector<unsigned>{10, 20}));
}
