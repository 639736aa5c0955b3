#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""GNOME's colour manager (Mutter 49 and later) for tests, on the bus in DBUS_SESSION_BUS_ADDRESS.

Offers org.gnome.Mutter.ColorManager.CalibrateMonitor(connector) and, on each
calibration object it hands out, SetCrtcGammaLut, Stop and GammaLutSize, as
Mutter's data/dbus-interfaces describe them. Appends every call, as one JSON
line, to the file named by the first argument before answering. The second
argument is the table size each calibration reports.
"""
import json
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = "org.gnome.Mutter.ColorManager"
CALIBRATION = NAME + ".Calibration"


def record(path, entry):
    with open(path, "a", encoding="utf-8") as out:
        out.write(json.dumps(entry) + "\n")


class Calibration(dbus.service.Object):
    def __init__(self, bus, path, record_path, size):
        super().__init__(bus, path)
        self.record_path = record_path
        self.size = size

    @dbus.service.method(CALIBRATION, in_signature="aqaqaq", out_signature="")
    def SetCrtcGammaLut(self, red, green, blue):
        record(self.record_path, {"call": "SetCrtcGammaLut", "path": self._object_path,
                                  "red": [int(v) for v in red], "green": [int(v) for v in green],
                                  "blue": [int(v) for v in blue]})

    @dbus.service.method(CALIBRATION, in_signature="", out_signature="")
    def Stop(self):
        record(self.record_path, {"call": "Stop", "path": self._object_path})

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        if interface == CALIBRATION and prop == "GammaLutSize":
            return dbus.UInt32(self.size)
        raise dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.InvalidArgs")


class ColorManager(dbus.service.Object):
    def __init__(self, bus, record_path, size):
        super().__init__(bus, "/org/gnome/Mutter/ColorManager")
        self.bus = bus
        self.record_path = record_path
        self.size = size
        self.sessions = []

    @dbus.service.method(NAME, in_signature="s", out_signature="o")
    def CalibrateMonitor(self, connector):
        path = "/org/gnome/Mutter/ColorManager/Calibration/u%d" % (len(self.sessions) + 1)
        record(self.record_path, {"call": "CalibrateMonitor", "connector": str(connector), "path": path})
        self.sessions.append(Calibration(self.bus, path, self.record_path, self.size))
        return dbus.ObjectPath(path)


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    service = ColorManager(bus, sys.argv[1], int(sys.argv[2]))
    name = dbus.service.BusName(NAME, bus)
    GLib.MainLoop().run()
    del service, name


if __name__ == "__main__":
    main()
