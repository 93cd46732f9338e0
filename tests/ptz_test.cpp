#include "lib/ptz.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "lib/sysutil.hpp"
#include "support/bus.hpp"
#include "support/device_root.hpp"
#include "support/log_capture.hpp"
#include "support/process.hpp"

// tests/data/ptz/cases.txt, one case a line: "names" (a reply to GetPresets) or "signal" (a line
// of the monitor), the text, then the table or the movement made of it; tab-separated.
TEST(Ptz, NameTablesAndSignalLinesAsCaptured) {
    std::ifstream in(KELVANE_SOURCE_DIR "/tests/data/ptz/cases.txt");
    int cases = 0;
    for (std::string kind, text, expected;
         std::getline(in, kind, '\t') && std::getline(in, text, '\t') && std::getline(in, expected);
         ++cases) {
        std::string made = "none";
        if (kind == "names") {
            if (auto table = ptz_parse_name_table(text)) {
                made = std::to_string(table->length);
                for (const std::string& name : table->names) {
                    made += "|" + name;
                }
            }
        } else if (auto movement = ptz_parse_signal_line(text)) {
            made = str_printf("%d %lu", movement->stat, movement->nname);
        }
        EXPECT_EQ(made, expected) << text;
    }
    EXPECT_EQ(cases, 11);
    // The count comes from the first line alone.
    EXPECT_EQ(ptz_parse_name_table("(uint32\n 3, ['a'])"), std::nullopt);
    EXPECT_EQ(ptz_preset_name(ptz_name_table{3, {"Home"}}, 2), nullptr);
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
        return std::system(("gdbus call -y -d com.norv.Ptz1 -o /com/norv/Ptz1/Channel/1 -m "
                            "com.norv.Ptz1.Channel." +
                            method_and_args + " >/dev/null")
                               .c_str());
    };
    // Emits until the tracker logs `text`, since its monitor may not listen yet.
    auto emit_until = [&](const std::string& args, const std::string& text) {
        return wait_until([&] {
            call("EmitPresetStatus " + args);
            return log.has(LOG_INFO, "Preset Movement: Preset " + text);
        });
    };
    auto kill_monitor = [] {
        return std::system(str_printf("pkill -9 -P %d -f '^gdbus monitor'", getpid()).c_str());
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

    // A killed daemon leaves no monitor behind.
    pid_t daemon = fork();
    if (daemon == 0) {
        ptz_track([](unsigned) { return true; });
        _exit(0);
    }
    std::vector<std::string> monitor;
    ASSERT_TRUE(wait_until([&] {
        monitor = pipe_read_lines(pipe_open(str_printf("pgrep -P %d -f '^gdbus monitor'", daemon)));
        return !monitor.empty();
    }));
    end(daemon, SIGKILL);
    EXPECT_TRUE(wait_until([&] {
        std::optional<std::string> stat = read_file("/proc/" + monitor[0] + "/stat");
        return !stat || stat->find(") Z ") != std::string::npos;
    }));
}
