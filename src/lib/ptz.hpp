// The PTZ preset movement tracker: writes each movement to a preset, by the preset's name, into
// the system log. It asks the PTZ service through gdbus and runs in a thread of its own.
#pragma once

#include <glib.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The presets the PTZ service announced and the names it gave for them.
struct ptz_name_table {
    unsigned long length = 0;        // presets announced
    std::vector<std::string> names;  // names of presets 1, 2, ... in order, at most `length`
    bool operator==(const ptz_name_table&) const = default;
};

// The table of a GetPresets reply as gdbus prints it ("(uint32 3, ['Home', 'Door', 'Parking'])");
// nothing when it announces no presets.
std::optional<ptz_name_table> ptz_parse_name_table(std::string_view reply);

// The name of preset `number` (counted from 1); null when the table holds none for it.
const std::string* ptz_preset_name(const ptz_name_table& table, unsigned long number);

// A PresetStatus change: `stat` 2 is moving to preset `nname`, 1 is having reached it.
struct ptz_movement {
    int stat = 0;
    unsigned long nname = 0;
    bool operator==(const ptz_movement&) const = default;
};

// The movement printed in one line of gdbus monitor; nothing for any other line.
std::optional<ptz_movement> ptz_parse_signal_line(std::string_view line);

// Follows the movements until `pause` returns false. Whenever the signal stream ends, `pause`
// gets the seconds to wait before tracking starts again; it waits and returns true to go on.
void ptz_track(const std::function<bool(unsigned seconds)>& pause);

// The tracker thread's body (a GThreadFunc): tracks for the life of the process unless the
// PTZ service gives no preset names.
gpointer ptz_loop(gpointer unused);
