"""Reading and driving windows through the accessibility bus (AT-SPI), from outside the process.

Qt puts every widget there with its role, accessible name (the caption) and, for text widgets, its
text; buttons and menu items offer actions ("Press"); line edits take text. A Screen binds to one
VirtualDesktop: it points this process's AT-SPI library at that desktop's buses before first use,
so one test process serves one desktop.

Lookups always read fresh (the library's cache is cleared on every search), and every wait is
bounded (desktop.wait_for).
"""

import os

from desktop import Failure, Skip, wait_for

_atspi = None


def _lib(desktop=None):
    global _atspi
    if _atspi is None:
        if desktop is not None:
            for name in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"):
                if name in desktop.env:
                    os.environ[name] = desktop.env[name]
            if desktop.a11y_address:
                os.environ["AT_SPI_BUS_ADDRESS"] = desktop.a11y_address
        try:
            import gi

            gi.require_version("Atspi", "2.0")
            from gi.repository import Atspi
        except (ImportError, ValueError) as error:
            raise Skip(f"no AT-SPI binding for Python ({error})") from None

        Atspi.init()
        _atspi = Atspi
    return _atspi


_bus = None


def _send_no_reply(acc, interface, method, args):
    """A method call on the accessible's own object over the accessibility bus, sent without
    waiting for (or wanting) its reply."""
    global _bus
    import gi

    gi.require_version("Gio", "2.0")
    from gi.repository import Gio, GLib

    if _bus is None:
        flags = (Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
                 | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
        _bus = Gio.DBusConnection.new_for_address_sync(os.environ["AT_SPI_BUS_ADDRESS"], flags,
                                                        None, None)
    message = Gio.DBusMessage.new_method_call(acc.app.bus_name, acc.path, interface, method)
    message.set_body(GLib.Variant(*args))
    message.set_flags(Gio.DBusMessageFlags.NO_REPLY_EXPECTED)
    _bus.send_message(message, Gio.DBusSendMessageFlags.NONE)
    _bus.flush_sync(None)


def _safe(call, default=None):
    try:
        return call()
    except Exception:  # noqa: BLE001 - a widget that vanished mid-search reads as absent
        return default


class Node:
    """One accessible object: a window, a widget, a menu item."""

    def __init__(self, acc):
        self.acc = acc

    def __repr__(self):
        return f"<{self.role} {self.name!r}>"

    @property
    def name(self):
        return _safe(self.acc.get_name, "") or ""

    @property
    def role(self):
        return _safe(self.acc.get_role_name, "") or ""

    @property
    def description(self):
        return _safe(self.acc.get_description, "") or ""

    def accessible_id(self):
        """The widget's objectName where the toolkit publishes it, else ""."""
        return _safe(self.acc.get_accessible_id, "") or ""

    def children(self):
        count = _safe(self.acc.get_child_count, 0) or 0
        found = []
        for i in range(count):
            child = _safe(lambda: self.acc.get_child_at_index(i))
            if child is not None:
                found.append(Node(child))
        return found

    def walk(self, depth=40):
        """This node and everything below it, depth first."""
        stack = [(self, 0)]
        while stack:
            node, level = stack.pop()
            yield node
            if level < depth:
                stack.extend((c, level + 1) for c in reversed(node.children()))

    def states(self):
        state_set = _safe(self.acc.get_state_set)
        if state_set is None:
            return set()
        Atspi = _lib()
        return {s.value_nick for s in _safe(state_set.get_states, []) or []
                if isinstance(s, Atspi.StateType)}

    def has_state(self, nick):
        return nick in self.states()

    @property
    def showing(self):
        return self.has_state("showing")

    @property
    def enabled(self):
        return self.has_state("enabled")

    @property
    def checked(self):
        return self.has_state("checked")

    def text(self):
        """What the widget shows: its text (labels, edits, text views), else its name."""
        Atspi = _lib()
        text_iface = _safe(self.acc.get_text_iface)
        if text_iface is not None:
            count = _safe(lambda: Atspi.Text.get_character_count(self.acc), 0) or 0
            value = _safe(lambda: Atspi.Text.get_text(self.acc, 0, count))
            if value is not None:
                return value
        return self.name

    def set_text(self, value):
        """Replaces the whole text of an editable widget (a line edit, a text area)."""
        Atspi = _lib()
        if _safe(self.acc.get_editable_text_iface) is None:
            raise Failure(f"{self} takes no text")
        if not Atspi.EditableText.set_text_contents(self.acc, value):
            raise Failure(f"{self} refused the text")

    def actions(self):
        Atspi = _lib()
        if _safe(self.acc.get_action_iface) is None:
            return []
        count = _safe(lambda: Atspi.Action.get_n_actions(self.acc), 0) or 0
        return [_safe(lambda i=i: Atspi.Action.get_action_name(self.acc, i), "") for i in
                range(count)]

    def act(self, *names):
        """Starts the first of the named actions the widget offers ("Press", "Toggle"...).

        The request is sent without waiting for its answer: an action that opens a modal window
        (a menu item whose command asks a question) answers only when that window closes.
        """
        offered = self.actions()
        lowered = [a.lower() for a in offered]
        for name in names or ("press", "click", "activate", "toggle"):
            if name.lower() in lowered:
                _send_no_reply(self.acc, "org.a11y.atspi.Action", "DoAction",
                               ("(i)", (lowered.index(name.lower()),)))
                return
        raise Failure(f"{self} offers none of {names}; it offers {offered}")

    def press(self):
        self.act("press", "click", "activate")

    def extents(self):
        """(x, y, width, height) on the screen."""
        Atspi = _lib()
        rect = self.acc.get_extents(Atspi.CoordType.SCREEN)
        return rect.x, rect.y, rect.width, rect.height

    def centre(self):
        x, y, w, h = self.extents()
        return x + w // 2, y + h // 2

    def focus(self):
        Atspi = _lib()
        return Atspi.Component.grab_focus(self.acc)

    def find(self, name=None, role=None, predicate=None, showing=None):
        """The first node below (or at) this one that matches, or None."""
        for node in self.find_all(name, role, predicate, showing):
            return node
        return None

    def find_all(self, name=None, role=None, predicate=None, showing=None):
        _safe(self.acc.clear_cache)
        for node in self.walk():
            if name is not None and node.name != name:
                continue
            if role is not None and node.role != role:
                continue
            if showing is not None and node.showing != showing:
                continue
            if predicate is not None and not predicate(node):
                continue
            yield node

    def dump(self, depth=12):
        """The tree below this node, one line each, for diagnostics."""
        lines = []

        def visit(node, level):
            text = node.text() if node.role in ("label", "text", "status bar") else ""
            extra = f" = {text!r}" if text and text != node.name else ""
            lines.append("  " * level + f"[{node.role}] {node.name!r}{extra}")
            if level < depth:
                for child in node.children():
                    visit(child, level + 1)

        visit(self, 0)
        return "\n".join(lines)


class Screen:
    """The accessible view of one VirtualDesktop."""

    def __init__(self, desktop):
        self.desktop = desktop
        _lib(desktop)

    def root(self):
        return Node(_lib().get_desktop(0))

    def applications(self):
        root = self.root()
        _safe(root.acc.clear_cache)
        return root.children()

    def app(self, name, timeout=20):
        """The application registered under `name` (a Qt program's executable name)."""
        return wait_for(lambda: next((a for a in self.applications() if a.name == name), None),
                        timeout, f"the application {name!r} on the accessibility bus")

    def window(self, app, name, timeout=20, role=None, showing=True):
        """A top-level window of app whose accessible name (caption) is `name`; a showing one
        unless `showing` is False."""
        def find():
            _safe(app.acc.clear_cache)
            for w in app.children():
                if w.name == name and (role is None or w.role == role) and (
                        w.showing or not showing):
                    return w
            return None

        return wait_for(find, timeout, f"the window {name!r}")

    def gone(self, app, name, timeout=20):
        """Waits until app shows no top-level window named `name`."""
        def none_left():
            _safe(app.acc.clear_cache)
            return not any(w.name == name and w.showing for w in app.children())

        wait_for(none_left, timeout, f"the window {name!r} to close")

    def widget(self, parent, name=None, role=None, timeout=10, predicate=None):
        what = f"{role or 'widget'} {name!r} in {parent.name!r}"
        return wait_for(lambda: parent.find(name=name, role=role, predicate=predicate), timeout,
                        what)

    def text_becomes(self, node_getter, expected, timeout=20):
        """Waits until the text read by node_getter() equals (or, for a callable, satisfies)
        expected; returns the text."""
        last = {"text": None}

        def check():
            node = node_getter()
            last["text"] = node.text() if node is not None else None
            if callable(expected):
                return expected(last["text"]) and (last["text"] or True)
            return last["text"] == expected

        try:
            wait_for(check, timeout, f"the text {expected!r}")
        except Failure as failure:
            raise Failure(f"{failure}; last seen {last['text']!r}") from None
        return last["text"]

    def click(self, node, button=1):
        """A real mouse click in the middle of the widget."""
        x, y = node.centre()
        self.desktop.click_at(x, y, button)

    def shot(self, path, node=None, margin=0):
        """A screenshot of the whole screen or of one window."""
        box = None
        if node is not None:
            x, y, w, h = node.extents()
            box = (max(0, x - margin), max(0, y - margin), w + 2 * margin, h + 2 * margin)
        return self.desktop.screenshot(path, box)
