"""Stream cache of the device's video streamer on the device bus.

Parameters: "streams", the list of strings that GetStreams returns; "error" (a text) to
answer with a D-Bus error instead; "rotation", lists of strings that take turns with "streams"
every "period" seconds (60 by default), as clients come and go.
"""
import time

import dbus

BUS_NAME = "com.norv.Streamer"
MAIN_OBJ = "/com/norv/Streamer/Cache"
MAIN_IFACE = "com.norv.Streamer.Cache"
SYSTEM_BUS = True


def load(mock, parameters):
    turns = [parameters.get("streams", [])] + parameters.get("rotation", [])
    period, started = parameters.get("period", 60), time.time()
    mock.streams = lambda: turns[int((time.time() - started) / period) % len(turns)]
    mock.error = parameters.get("error")
    mock.AddMethod(MAIN_IFACE, "GetStreams", "", "as",
                   "if self.error:\n"
                   "    raise dbus.exceptions.DBusException(self.error, "
                   "name='com.norv.Streamer.Error.Failed')\n"
                   "ret = self.streams()")
