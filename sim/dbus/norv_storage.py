"""Storage service of the device bus.

Parameters: "storages", a list of structures (4 strings, an int32, 12 booleans unless
"signature" gives another); "delay" seconds before replying; "error", a D-Bus error name to
answer with; "die", true to kill the service mid-call. com.norv.Mock.SetParameters takes the
same parameters but "signature", as JSON text, to change them without a restart.
"""
import json
import os
import signal
import time

import dbus

BUS_NAME = "com.norv.Storage"
MAIN_OBJ = "/com/norv/Storage"
MAIN_IFACE = "com.norv.Storage"
SYSTEM_BUS = True


def configure(mock, parameters):
    mock.storages = [tuple(s) for s in parameters.get("storages", [])]
    mock.delay = parameters.get("delay", 0)
    mock.error = parameters.get("error")
    mock.die = parameters.get("die", False)


def get_all_storages_info(mock):
    time.sleep(mock.delay)
    if mock.die:
        os.kill(os.getpid(), signal.SIGKILL)
    if mock.error:
        raise dbus.exceptions.DBusException("storage service failure", name=mock.error)
    return mock.storages


def load(mock, parameters):
    configure(mock, parameters)
    mock.AddMethod(MAIN_IFACE, "GetAllStoragesInfo", "",
                   "a" + parameters.get("signature", "(ssssibbbbbbbbbbbb)"), get_all_storages_info)
    mock.AddMethod("com.norv.Mock", "SetParameters", "s", "",
                   lambda self, text: configure(self, json.loads(text)))
