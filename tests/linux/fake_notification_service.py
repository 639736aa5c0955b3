#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A desktop notification service for tests, on the bus in DBUS_SESSION_BUS_ADDRESS.

Answers org.freedesktop.Notifications as a real service does (replacing a
notification that is still open, handing out a new id otherwise) and appends
every call it receives, with the D-Bus type of each hint, as one JSON line to
the file named by the first argument, before answering.

--stall-first: never answers the first Notify (a service that hangs).
"""
import json
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

INTERFACE = "org.freedesktop.Notifications"


def plain(value):
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.Int32, dbus.UInt32, dbus.Int64, dbus.Byte)):
        return int(value)
    return str(value)


class Service(dbus.service.Object):
    def __init__(self, bus, record_path, stall_first):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.record_path = record_path
        self.stall_first = stall_first
        self.next_id = 1
        self.open = set()
        self.notify_count = 0

    def record(self, entry):
        with open(self.record_path, "a", encoding="utf-8") as record:
            record.write(json.dumps(entry) + "\n")

    @dbus.service.method(INTERFACE, in_signature="susssasa{sv}i", out_signature="u",
                         async_callbacks=("reply", "error"))
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout,
               reply, error):
        self.notify_count += 1
        if replaces_id in self.open:
            notification = int(replaces_id)
        else:
            notification = self.next_id
            self.next_id += 1
        self.open.add(notification)
        self.record({
            "call": "Notify", "app_name": str(app_name), "replaces_id": int(replaces_id),
            "app_icon": str(app_icon), "summary": str(summary), "body": str(body),
            "actions": [str(a) for a in actions],
            "hints": {str(k): [type(v).__name__, plain(v)] for k, v in hints.items()},
            "expire_timeout": int(expire_timeout), "id": notification,
        })
        if self.stall_first and self.notify_count == 1:
            return
        reply(dbus.UInt32(notification))

    @dbus.service.method(INTERFACE, in_signature="u", out_signature="")
    def CloseNotification(self, notification):
        self.record({"call": "CloseNotification", "id": int(notification)})
        if notification in self.open:
            self.open.discard(notification)
            self.NotificationClosed(notification, dbus.UInt32(3))

    @dbus.service.method(INTERFACE, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(INTERFACE, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("fake", "dimmora-tests", "1", "1.2")

    @dbus.service.signal(INTERFACE, signature="uu")
    def NotificationClosed(self, notification, reason):
        pass


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    service = Service(bus, sys.argv[1], "--stall-first" in sys.argv[2:])
    name = dbus.service.BusName(INTERFACE, bus)
    GLib.MainLoop().run()
    del service, name


if __name__ == "__main__":
    main()
