#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""PowerDevil's reload calls for tests, on the bus in DBUS_SESSION_BUS_ADDRESS.

Answers org.kde.Solid.PowerManagement's reparseConfiguration (signalling
configurationReloaded, as PowerDevil does) and refreshStatus, appending each
method's name as one line to the file named by the first argument before
answering.
"""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

INTERFACE = "org.kde.Solid.PowerManagement"


class Service(dbus.service.Object):
    def __init__(self, bus, record_path):
        super().__init__(bus, "/org/kde/Solid/PowerManagement")
        self.record_path = record_path

    def record(self, call):
        with open(self.record_path, "a", encoding="utf-8") as record:
            record.write(call + "\n")

    @dbus.service.method(INTERFACE, in_signature="", out_signature="")
    def reparseConfiguration(self):
        self.record("reparseConfiguration")
        self.configurationReloaded()

    @dbus.service.method(INTERFACE, in_signature="", out_signature="")
    def refreshStatus(self):
        self.record("refreshStatus")

    @dbus.service.signal(INTERFACE, signature="")
    def configurationReloaded(self):
        pass


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    service = Service(bus, sys.argv[1])
    name = dbus.service.BusName(INTERFACE, bus)
    GLib.MainLoop().run()
    del service, name


if __name__ == "__main__":
    main()
