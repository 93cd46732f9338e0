"""PTZ coordinator of the device bus; records every Auxiliary call.

Test method com.norv.PTZ.Coordinator.Test.Calls returns the calls so far, one
"client,channel,command" text each.
"""
BUS_NAME = "com.norv.PTZ.Coordinator"
MAIN_OBJ = "/com/norv/PTZ/Coordinator/1"
MAIN_IFACE = "com.norv.PTZ.Coordinator"
SYSTEM_BUS = True


def load(mock, parameters):
    mock.calls = []
    mock.AddMethod(MAIN_IFACE, "Auxiliary", "sis", "",
                   "self.calls.append('%s,%d,%s' % (args[0], args[1], args[2]))")
    mock.AddMethod("com.norv.PTZ.Coordinator.Test", "Calls", "", "as", "ret = self.calls")
