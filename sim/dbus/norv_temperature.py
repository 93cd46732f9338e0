"""Temperature controller of the device bus.

Parameters: "temperatures", [sensor, celsius] pairs; "heaters", each heater's status text by
position (other positions answer an error); "fans", [fan, status] pairs; "heater_count" and
"fan_count" (by default the lengths of the lists); "signatures" maps a method to another reply
signature, its value then given by "replies" under the same name; "drift", degrees by which
the temperatures swing slowly around their given values (none by default), one radian of the
swing taking "drift_seconds" (300).
"""
import math
import time

import dbus

BUS_NAME = "com.norv.TemperatureController"
MAIN_OBJ = "/com/norv/TemperatureController"
MAIN_IFACE = "com.norv.TemperatureController"
SYSTEM_BUS = True


def load(mock, parameters):
    heaters = parameters.get("heaters", [])
    fans = [tuple(f) for f in parameters.get("fans", [])]
    mock.heaters = heaters
    mock.replies = {
        "GetAllTemperatures": [tuple(t) for t in parameters.get("temperatures", [])],
        "GetAllFanStatus": fans,
        "GetNbrOfHeaters": parameters.get("heater_count", len(heaters)),
        "GetNbrOfFans": parameters.get("fan_count", len(fans)),
        **parameters.get("replies", {}),
    }
    drift, started = parameters.get("drift", 0), time.time()
    radian = parameters.get("drift_seconds", 300)

    # A controller's sensors follow the day slowly.
    def value(method):
        reply = mock.replies[method]
        if method != "GetAllTemperatures" or not drift or method in parameters.get("replies", {}):
            return reply
        swing = drift * math.sin((time.time() - started) / radian)
        return [(sensor, round(celsius + swing, 1)) for sensor, celsius in reply]

    mock.value = value
    signatures = {"GetAllTemperatures": ("s", "a(id)"), "GetAllFanStatus": ("", "a(is)"),
                  "GetNbrOfHeaters": ("", "i"), "GetNbrOfFans": ("", "i")}
    for method, (in_sig, out_sig) in signatures.items():
        out_sig = parameters.get("signatures", {}).get(method, out_sig)
        mock.AddMethod(MAIN_IFACE, method, in_sig, out_sig, "ret = self.value('%s')" % method)
    mock.AddMethod(MAIN_IFACE, "GetHeaterStatus", "i", "s",
                   "if not 0 <= args[0] < len(self.heaters):\n"
                   "    raise dbus.exceptions.DBusException('No such heater', "
                   "name='com.norv.TemperatureController.Error.InvalidHeater')\n"
                   "ret = self.heaters[args[0]]")
