"""PTZ service of the device bus, channel 1: its presets and their movement signals.

Parameter "presets", the preset names (by default Home, Door, Parking). GetPresets answers their
number and names; EmitPresetStatus(status, preset) sends the property change
of a movement (status 2 while moving to preset number `preset`, 1 once it is reached).
"""
import dbus

BUS_NAME = "com.norv.Ptz1"
MAIN_OBJ = "/com/norv/Ptz1/Channel/1"
MAIN_IFACE = "com.norv.Ptz1.Channel"
SYSTEM_BUS = True


def emit_preset_status(mock, status, preset):
    value = dbus.Struct((dbus.UInt32(status), dbus.UInt32(preset)), signature="uu")
    mock.EmitSignal("org.freedesktop.DBus.Properties", "PropertiesChanged", "sa{sv}as",
                    [MAIN_IFACE, dbus.Dictionary({"PresetStatus": value}, signature="sv"), []])


def load(mock, parameters):
    mock.presets = parameters.get("presets", ["Home", "Door", "Parking"])
    # A monitor of this object must see the movements alone.
    mock.MethodCalled = lambda name, args: None
    mock.AddMethod(MAIN_IFACE, "GetPresets", "", "uas",
                   "ret = (len(self.presets), dbus.Array(self.presets, signature='s'))")
    mock.AddMethod(MAIN_IFACE, "SetPresets", "as", "", "self.presets = list(args[0])")
    mock.AddMethod(MAIN_IFACE, "EmitPresetStatus", "uu", "",
                   lambda self, status, preset: emit_preset_status(self, status, preset))
