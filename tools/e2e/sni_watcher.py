#!/usr/bin/python3
"""A minimal StatusNotifierWatcher with a host, for tests on a private session bus.

It owns org.kde.StatusNotifierWatcher, serves /StatusNotifierWatcher with the watcher interface
(RegisterStatusNotifierItem, RegisterStatusNotifierHost, RegisteredStatusNotifierItems,
IsStatusNotifierHostRegistered = true, ProtocolVersion) and says on stdout, one line each:
  watching
  registered <bus name> <object path>
  unregistered <bus name> <object path>
An item that registers with a bus name gets the usual path /StatusNotifierItem; one that registers
with a path is taken to live at that path on the caller's connection. Items leave the list when
their connection leaves the bus. It runs until it is terminated (TERM or INT).
"""

import signal
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

WATCHER = "org.kde.StatusNotifierWatcher"
PATH = "/StatusNotifierWatcher"
XML = f"""
<node>
  <interface name="{WATCHER}">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
    <signal name="StatusNotifierHostUnregistered"/>
  </interface>
</node>
"""


def say(line):
    print(line, flush=True)


class Watcher:
    def __init__(self, loop):
        self.loop = loop
        self.items = []  # "busname/path" as the protocol lists them
        self.watches = {}
        self.connection = None

    def on_bus(self, connection, _name):
        self.connection = connection
        info = Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0]
        connection.register_object(PATH, info, self.on_call, self.on_property, None)

    def on_name(self, _connection, _name):
        say("watching")

    def on_lost(self, _connection, _name):
        say("lost the watcher name")
        self.loop.quit()

    def on_call(self, connection, sender, _path, _iface, method, params, invocation):
        if method == "RegisterStatusNotifierItem":
            (service,) = params.unpack()
            if service.startswith("/"):
                bus, path = sender, service
            else:
                bus, path = service, "/StatusNotifierItem"
            entry = bus + path
            if entry not in self.items:
                self.items.append(entry)
                self.watch(connection, bus, entry)
                say(f"registered {bus} {path}")
                connection.emit_signal(None, PATH, WATCHER, "StatusNotifierItemRegistered",
                                       GLib.Variant("(s)", (entry,)))
            invocation.return_value(None)
        elif method == "RegisterStatusNotifierHost":
            invocation.return_value(None)
        else:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)

    def watch(self, connection, bus, entry):
        def vanished(_connection, _name):
            if entry in self.items:
                self.items.remove(entry)
                bus_name, path = entry.split("/", 1)
                say(f"unregistered {bus_name} /{path}")
                connection.emit_signal(None, PATH, WATCHER, "StatusNotifierItemUnregistered",
                                       GLib.Variant("(s)", (entry,)))
            watch_id = self.watches.pop(entry, None)
            if watch_id is not None:
                Gio.bus_unwatch_name(watch_id)

        self.watches[entry] = Gio.bus_watch_name_on_connection(
            connection, bus, Gio.BusNameWatcherFlags.NONE, None, vanished)

    def on_property(self, _connection, _sender, _path, _iface, name):
        if name == "RegisteredStatusNotifierItems":
            return GLib.Variant("as", self.items)
        if name == "IsStatusNotifierHostRegistered":
            return GLib.Variant("b", True)
        if name == "ProtocolVersion":
            return GLib.Variant("i", 0)
        return None


def main():
    loop = GLib.MainLoop()
    watcher = Watcher(loop)
    for sig in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, sig, loop.quit)
    owner = Gio.bus_own_name(Gio.BusType.SESSION, WATCHER, Gio.BusNameOwnerFlags.NONE,
                             watcher.on_bus, watcher.on_name, watcher.on_lost)
    loop.run()
    Gio.bus_unown_name(owner)
    return 0


if __name__ == "__main__":
    sys.exit(main())
