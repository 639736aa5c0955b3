#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""KDE Plasma's brightness service (org.kde.ScreenBrightness) for tests, on the
bus in DBUS_SESSION_BUS_ADDRESS. The root object /org/kde/ScreenBrightness
lists the displays in DisplaysDBusNames; each is an object
/org/kde/ScreenBrightness/<name> with Label, IsInternal, MaxBrightness and
Brightness, and SetBrightness(i brightness, u flags). A level set, by whichever
client, is announced with BrightnessChanged(display, brightness,
source_client_name, source_client_context) on the root object, and appended
as one JSON line (display, brightness, flags, sender) to the file named by
the first argument. The second argument is the displays as a JSON list of
{"name", "label", "internal", "max", "brightness"}."""
import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

SERVICE = "org.kde.ScreenBrightness"
ROOT = "/org/kde/ScreenBrightness"
DISPLAY = "org.kde.ScreenBrightness.Display"
PROPERTIES = "org.freedesktop.DBus.Properties"


class Properties(dbus.service.Object):
    """An object whose one interface has the read-only properties properties() gives."""
    interface = None

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        if interface != self.interface:
            raise dbus.exceptions.DBusException("no such interface " + interface,
                                                name="org.freedesktop.DBus.Error.UnknownInterface")
        return self.properties()


class Root(Properties):
    interface = SERVICE

    def __init__(self, bus, displays):
        super().__init__(bus, ROOT)
        self.displays = displays

    def properties(self):
        return {"DisplaysDBusNames": dbus.Array([d.name for d in self.displays], signature="s")}

    @dbus.service.signal(SERVICE, signature="s")
    def DisplayAdded(self, display):
        pass

    @dbus.service.signal(SERVICE, signature="s")
    def DisplayRemoved(self, display):
        pass

    @dbus.service.signal(SERVICE, signature="siss")
    def BrightnessChanged(self, display, brightness, source_client_name, source_client_context):
        pass

    @dbus.service.signal(SERVICE, signature="sii")
    def BrightnessRangeChanged(self, display, max_brightness, brightness):
        pass


class Display(Properties):
    interface = DISPLAY

    def __init__(self, bus, root, record, entry):
        self.name = entry["name"]
        super().__init__(bus, ROOT + "/" + self.name)
        self.root = root
        self.record = record
        self.label = entry["label"]
        self.internal = entry.get("internal", False)
        self.maximum = entry["max"]
        self.brightness = entry["brightness"]

    def properties(self):
        return {"Label": dbus.String(self.label), "IsInternal": dbus.Boolean(self.internal),
                "MaxBrightness": dbus.Int32(self.maximum), "Brightness": dbus.Int32(self.brightness)}

    @dbus.service.method(DISPLAY, in_signature="iu", out_signature="", sender_keyword="sender")
    def SetBrightness(self, brightness, flags, sender=None):
        self.brightness = max(0, min(int(brightness), self.maximum))
        with open(self.record, "a", encoding="utf-8") as f:
            f.write(json.dumps({"display": self.name, "brightness": self.brightness, "flags": int(flags),
                                "sender": str(sender)}) + "\n")
        self.root.BrightnessChanged(self.name, self.brightness, sender, "")


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    displays = []
    root = Root(bus, displays)
    for entry in json.loads(sys.argv[2]):
        displays.append(Display(bus, root, sys.argv[1], entry))
    name = dbus.service.BusName(SERVICE, bus)  # noqa: F841 (held while the loop runs)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
