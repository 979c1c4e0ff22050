"""Reading a StatusNotifierItem and its menu (com.canonical.dbusmenu) the way a tray host does,
over the private session bus of a VirtualDesktop. Needs python3-gi."""

import re
import subprocess

from desktop import Failure, wait_for

ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"


def _gio():
    import gi

    gi.require_version("Gio", "2.0")
    from gi.repository import Gio, GLib

    return Gio, GLib


class TrayItem:
    """One registered item: its bus name and object path on the session bus."""

    def __init__(self, desktop, bus_name, path):
        Gio, _ = _gio()
        self.bus_name = bus_name
        self.path = path
        flags = (Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
                 | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
        self.connection = Gio.DBusConnection.new_for_address_sync(desktop.bus_address, flags, None,
                                                                  None)

    def call(self, path, interface, method, args=None, reply=None, timeout_ms=10000):
        Gio, _ = _gio()
        result = self.connection.call_sync(self.bus_name, path, interface, method, args,
                                           reply, Gio.DBusCallFlags.NONE, timeout_ms, None)
        return result.unpack() if result is not None else None

    def properties(self):
        _, GLib = _gio()
        (props,) = self.call(self.path, "org.freedesktop.DBus.Properties", "GetAll",
                             GLib.Variant("(s)", (ITEM,)))
        return props

    def activate(self, x=0, y=0):
        _, GLib = _gio()
        self.call(self.path, ITEM, "Activate", GLib.Variant("(ii)", (x, y)))

    def menu_path(self):
        return self.properties().get("Menu", "/NO_DBUSMENU")

    def menu_items(self):
        """[(id, label without mnemonic marks, enabled, visible, type)] of the top menu level."""
        _, GLib = _gio()
        path = self.menu_path()
        self.call(path, MENU, "AboutToShow", GLib.Variant("(i)", (0,)))
        _, layout = self.call(path, MENU, "GetLayout", GLib.Variant("(iias)", (0, 1, [])))
        _, _, children = layout
        items = []
        for child in children:
            item_id, props, _ = child
            label = re.sub(r"_(.)", r"\1", props.get("label", ""))
            items.append((item_id, label, props.get("enabled", True), props.get("visible", True),
                          props.get("type", "standard")))
        return items

    def click_menu_item(self, label):
        """Sends the "clicked" event a host sends when the user picks the item."""
        _, GLib = _gio()
        for item_id, text, _, _, _ in self.menu_items():
            if text == label:
                self.call(self.menu_path(), MENU, "Event",
                          GLib.Variant("(isvu)", (item_id, "clicked", GLib.Variant("i", 0), 0)))
                return
        raise Failure(f"no menu item {label!r}")


def registered_items(desktop):
    """[(bus name, path)] registered with the watcher and not gone again, in order."""
    found = []
    for line in desktop.watcher.output().splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[0] == "registered":
            found.append((parts[1], parts[2]))
        elif len(parts) == 3 and parts[0] == "unregistered" and (parts[1], parts[2]) in found:
            found.remove((parts[1], parts[2]))
    return found


def wait_for_item(desktop, timeout=20):
    bus_name, path = wait_for(lambda: (registered_items(desktop) or [None])[-1], timeout,
                              "an item to register with the StatusNotifierWatcher")
    return TrayItem(desktop, bus_name, path)


def save_icon(item_props, path):
    """Writes the largest IconPixmap (ARGB32, network byte order) as a PNG; returns its size."""
    pixmaps = item_props.get("IconPixmap") or []
    if not pixmaps:
        raise Failure("the item has no IconPixmap")
    width, height, data = max(pixmaps, key=lambda p: p[0] * p[1])
    data = bytes(data)
    if len(data) != width * height * 4:
        raise Failure(f"IconPixmap {width}x{height} carries {len(data)} bytes")
    rgba = bytearray(len(data))
    rgba[0::4], rgba[1::4], rgba[2::4], rgba[3::4] = data[1::4], data[2::4], data[3::4], data[0::4]
    subprocess.run(["convert", "-size", f"{width}x{height}", "-depth", "8", "rgba:-",
                    "-scale", "400%", path], input=bytes(rgba), check=True, timeout=20)
    return width, height
