"""Storage service of the device bus.

Parameters: "storages", a list of structures (4 strings, an int32, 12 booleans by default);
"signature" to reply with another structure; "delay" seconds before replying.
"""
import time

BUS_NAME = "com.norv.Storage"
MAIN_OBJ = "/com/norv/Storage"
MAIN_IFACE = "com.norv.Storage"
SYSTEM_BUS = True


def load(mock, parameters):
    signature = parameters.get("signature", "(ssssibbbbbbbbbbbb)")
    mock.storages = [tuple(s) for s in parameters.get("storages", [])]
    mock.delay = parameters.get("delay", 0)
    mock.AddMethod(MAIN_IFACE, "GetAllStoragesInfo", "", "a" + signature,
                   "time.sleep(self.delay); ret = self.storages")
    mock.time = time
