# SPDX-License-Identifier: GPL-3.0-or-later
"""A file manager on the test's private session bus: answers
org.freedesktop.FileManager1.ShowItems and writes each shown URI to a file."""

import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib


class FileManager(dbus.service.Object):
    def __init__(self, bus, record):
        super().__init__(bus, "/org/freedesktop/FileManager1")
        self.record = record

    @dbus.service.method("org.freedesktop.FileManager1", in_signature="ass", out_signature="")
    def ShowItems(self, uris, startup_id):
        with open(self.record, "a") as out:
            for uri in uris:
                out.write(uri + "\n")


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.FileManager1", bus)
manager = FileManager(bus, sys.argv[1])
print("ready", flush=True)
GLib.MainLoop().run()
