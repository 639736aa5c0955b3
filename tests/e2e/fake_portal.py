#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A desktop portal that offers only global shortcuts, on the bus named by
DBUS_SESSION_BUS_ADDRESS. It answers the calls a client makes (Registry.Register,
CreateSession, BindShortcuts) the way xdg-desktop-portal does, writes what was
bound to the file given as the first argument, and activates a bound shortcut
when a test calls Activate(id) on its test interface."""
import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

PORTAL = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
REQUEST = "org.freedesktop.portal.Request"


class Request(dbus.service.Object):
    def __init__(self, bus, path):
        super().__init__(bus, path)

    @dbus.service.signal(REQUEST, signature="ua{sv}")
    def Response(self, response, results):
        pass


class Portal(dbus.service.Object):
    def __init__(self, bus, record, answered):
        super().__init__(bus, PATH)
        self.bus = bus
        self.record = record
        self.answered = answered
        self.state = {"app_id": None, "sessions": [], "bound": []}
        self.objects = []
        self.save()

    def save(self):
        with open(self.record, "w") as f:
            json.dump(self.state, f)

    def respond(self, sender, token, results):
        path = "%s/request/%s/%s" % (PATH, sender[1:].replace(".", "_"), token)
        request = Request(self.bus, path)
        self.objects.append(request)
        # After the method's reply, as the real portal answers.
        GLib.idle_add(lambda: request.Response(dbus.UInt32(0), results) and False)
        return dbus.ObjectPath(path)

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface == SHORTCUTS and name == "version":
            return dbus.UInt32(1, variant_level=1)
        raise dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.InvalidArgs")

    @dbus.service.method("org.freedesktop.host.portal.Registry", in_signature="sa{sv}", out_signature="")
    def Register(self, app_id, options):
        self.state["app_id"] = str(app_id)
        self.save()

    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        session = "%s/session/%s/%s" % (PATH, sender[1:].replace(".", "_"), options["session_handle_token"])
        self.state["sessions"].append(session)
        self.save()
        return self.respond(sender, options["handle_token"], {"session_handle": dbus.String(session)})

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o", sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent, options, sender=None):
        bound = [{"id": str(i), "description": str(p.get("description", "")),
                  "preferred_trigger": str(p.get("preferred_trigger", ""))} for i, p in shortcuts]
        self.state["bound"] = bound
        self.state["bound_session"] = str(session)
        self.save()
        result = dbus.Array([(dbus.String(b["id"]),
                              {"description": dbus.String(b["description"]),
                               "trigger_description": dbus.String(b["preferred_trigger"].replace("CTRL", "Ctrl"))})
                             for b in bound if self.answered is None or b["id"] in self.answered],
                            signature="(sa{sv})")
        return self.respond(sender, options["handle_token"], {"shortcuts": result})

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session, shortcut_id, timestamp, options):
        pass

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Deactivated(self, session, shortcut_id, timestamp, options):
        pass

    @dbus.service.method("io.github.dimmora.test.FakePortal", in_signature="s", out_signature="")
    def Activate(self, shortcut_id):
        session = dbus.ObjectPath(self.state["bound_session"])
        self.Activated(session, shortcut_id, dbus.UInt64(0), {})
        self.Deactivated(session, shortcut_id, dbus.UInt64(0), {})


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    answered = None
    for argument in sys.argv[2:]:
        if argument.startswith("--bind="):
            answered = [i for i in argument[len("--bind="):].split(",") if i]
    portal = Portal(bus, sys.argv[1], answered)
    name = dbus.service.BusName(PORTAL, bus)
    GLib.MainLoop().run()
    del name, portal


if __name__ == "__main__":
    main()
