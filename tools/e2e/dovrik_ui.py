"""Dovrik's windows as a user sees them, read and driven from outside through the accessibility
bus: the settings window, the password prompt, the main window with its menus, tabs, header and
status bar, the compose window, the questions, and the tray icon with its menu.

Windows and widgets are found by their captions (every widget's accessible name is its caption
without the "&"), never by anything inside the process.
"""

import os
import re
import subprocess

from a11y import Screen
from desktop import Failure, wait_for

SETTINGS = "Dovrik settings"
PASSWORD = "Password for e-mail server"
MAIN = "Pellory"
SUMMARY = re.compile(r"^(\d+) bytes in (\d+) message\(s\)$")


def settings_text(pop3_port, smtp_port, user, sender, check_every=120, timeout=20,
                  server="127.0.0.1", popup=True, auto_get=True, log=True, prompt_exit=False):
    """The 13-line settings text the program stores."""
    flag = lambda b: "1" if b else "0"  # noqa: E731
    return "\r\n".join([server, str(pop3_port), user, "NoMorePass", str(check_every),
                        str(timeout), flag(popup), server, str(smtp_port), flag(auto_get),
                        flag(log), flag(prompt_exit), sender])


def store_tool():
    """dovrik-store of the build under test: $DOVRIK_STORE, else the one beside the test mail
    server ($DOVRIK_MAILSERVER), else the one of build/default."""
    tool = os.environ.get("DOVRIK_STORE")
    if tool:
        return tool
    server = os.environ.get("DOVRIK_MAILSERVER")
    build = (os.path.dirname(os.path.dirname(os.path.dirname(server))) if server else
             os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
                 os.path.abspath(__file__)))), "build", "default"))
    return os.path.join(build, "tools", "store", "dovrik-store")


def store_path(config_home):
    return os.path.join(config_home, "dovrik", "registry.reg")


def write_store(config_home, settings):
    """A fresh settings store holding only the given settings text, written by the program's
    own store tool."""
    path = store_path(config_home)
    if os.path.exists(path):
        os.remove(path)
    done = subprocess.run([store_tool(), "set", "PELLORY", "Settings", settings],
                          env=dict(os.environ, XDG_CONFIG_HOME=config_home),
                          capture_output=True, text=True, timeout=30)
    if done.returncode != 0:
        raise Failure(f"the settings could not be stored ({done.returncode}): {done.stderr}")
    return path


def read_store(config_home):
    try:
        with open(store_path(config_home), encoding="utf-8", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


class Dovrik:
    """One running copy of the program on a VirtualDesktop."""

    def __init__(self, desktop, binary, env=None, name="dovrik", narrate=None):
        self.desktop = desktop
        self.binary = binary
        self.narrate = narrate or (lambda line: None)
        self.process = desktop.launch(name, [binary], env=env)
        self.screen = Screen(desktop)
        self._app = None

    # ----- the program on the accessibility bus

    def app(self, timeout=30):
        if self._app is None:
            want = os.path.basename(self.binary).lower()

            def find():
                for a in self.screen.applications():
                    if a.name.lower() in (want, "dovrik") and self._app_pid(a) == self.process.pid:
                        return a
                if not self.process.alive():
                    raise Failure(f"the program ended with {self.process.popen.returncode}: "
                                  f"{self.process.errors()[-2000:]}")
                return None

            self._app = wait_for(find, timeout, "Dovrik on the accessibility bus")
        return self._app

    @staticmethod
    def _app_pid(app):
        try:
            return app.acc.get_process_id()
        except Exception:  # noqa: BLE001 - an application that left reads as none
            return None

    def window(self, caption, timeout=30, showing=True):
        return self.screen.window(self.app(), caption, timeout, showing=showing)

    def window_gone(self, caption, timeout=30):
        self.screen.gone(self.app(), caption, timeout)

    def has_window(self, caption):
        app = self.app()
        app.acc.clear_cache()
        return any(w.name == caption and w.showing for w in app.children())

    def shot(self, path, node=None, margin=0):
        """A screenshot of the screen or of one window, once it has finished painting."""
        box = None
        if node is not None:
            x, y, w, h = node.extents()
            box = (max(0, x - margin), max(0, y - margin), w + 2 * margin, h + 2 * margin)
        return self.desktop.settled_screenshot(path, box)

    # ----- settings window

    def settings_window(self, timeout=30):
        return self.window(SETTINGS, timeout)

    def fill_settings(self, values):
        """values: caption of the field ("Incoming server", "User"...) -> text."""
        window = self.settings_window()
        for caption, text in values.items():
            field = self.screen.widget(window, caption, "text")
            field.set_text(str(text))
            wait_for(lambda f=field, t=str(text): f.text() == t, 10, f"{caption!r} to read {text!r}")

    def set_check(self, caption, checked):
        window = self.settings_window()
        box = self.screen.widget(window, caption, "check box")
        if box.checked != checked:
            box.act("toggle", "press", "click")
            wait_for(lambda: box.checked == checked, 10, f"{caption!r} checked={checked}")

    def submit_settings(self):
        window = self.settings_window()
        self.screen.widget(window, "Submit", "push button").press()
        self.window_gone(SETTINGS)

    # ----- password prompt

    def password_countdown(self, timeout=30):
        """What the prompt's countdown says, as a screen reader gets it: the description of the
        label named "Time left"."""
        prompt = self.window(PASSWORD, timeout)
        return self.screen.widget(prompt, "Time left", "label").description

    def answer_password(self, password, timeout=30):
        prompt = self.window(PASSWORD, timeout)
        field = self.screen.widget(prompt, "Enter your password", "password text")
        field.set_text(password)
        self.screen.widget(prompt, "Send", "push button").press()
        self.window_gone(PASSWORD)

    # ----- questions (Yes/No boxes) and plain messages

    def question(self, text, timeout=30):
        """The showing window that carries the label `text`."""
        def find():
            app = self.app()
            app.acc.clear_cache()
            for w in app.children():
                if w.showing and w.find(predicate=lambda n: n.role == "label"
                                        and n.text() == text):
                    return w
            return None

        return wait_for(find, timeout, f"the question {text!r}")

    def answer(self, text, button, timeout=30):
        box = self.question(text, timeout)
        self.screen.widget(box, button.replace("&", ""), "push button").press()
        wait_for(lambda: not box.showing, 20, f"the question {text!r} to close")

    # ----- main window

    def main_window(self, timeout=30):
        return self.window(MAIN, timeout)

    def status_panel(self, panel):
        """The status bar's panel (0..3, left to right); its name is what it shows. Read from
        the main window also while it is hidden."""
        bar = self.window(MAIN, showing=False).find(role="status bar")
        if bar is None:
            return None
        labels = [n for n in bar.walk(depth=4) if n.role == "label"]
        labels.sort(key=lambda n: n.extents()[0])
        return labels[panel] if panel < len(labels) else None

    def status(self, panel):
        node = self.status_panel(panel)
        return node.text() if node is not None else None

    def wait_status(self, panel, expected, timeout=60):
        return self.screen.text_becomes(lambda: self.status_panel(panel), expected, timeout)

    def summary(self):
        """(size, count) from status panel 0, or None while it shows something else."""
        match = SUMMARY.match(self.status(0) or "")
        return (int(match.group(1)), int(match.group(2))) if match else None

    def tabs(self):
        window = self.main_window()
        tab_list = window.find(name="Messages", role="page tab list")
        if tab_list is None:
            return []
        return [t for t in tab_list.children() if t.role == "page tab"]

    def select_tab(self, index):
        tab = self.tabs()[index]
        tab.act("press", "click", "activate", "switch")
        wait_for(lambda: self.tabs()[index].has_state("selected"), 10, f"tab {index} selected")

    def message_text(self):
        node = self.main_window().find(name="Message text")
        return node.text() if node is not None else None

    def header(self):
        """{"date", "from", "to", "subject"} as a screen reader reads them from the header panel:
        each label's name, the whole value however much of it the label has room to show
        (empty when the panel is hidden)."""
        panel = self.main_window().find(name="Message header")
        if panel is None or not panel.showing:
            return {}
        values = [n for n in panel.children() if n.role == "label" and n.showing
                  and not n.name.endswith(":")]
        values.sort(key=lambda n: n.extents()[1])
        keys = ["date", "from", "to", "subject"]
        return {k: n.name for k, n in zip(keys, values)}

    def menu_item(self, *path):
        """A main-menu item by captions, e.g. ("More", "Reply")."""
        window = self.main_window()
        node = self.screen.widget(window, role="menu bar")
        for caption in path:
            node = wait_for(lambda n=node, c=caption: next(
                (m for m in n.walk(depth=3) if m.name.replace("&", "") == c
                 and m.role in ("menu item", "menu", "check menu item")), None), 10,
                f"the menu item {caption!r}")
        return node

    def menu(self, *path):
        item = self.menu_item(*path)
        wait_for(lambda: item.enabled, 20, f"{' > '.join(path)} enabled")
        item.press()

    # ----- compose window

    def compose_window(self, caption, timeout=30):
        return self.window(caption, timeout)

    def compose_text(self, caption):
        window = self.compose_window(caption)
        return self.screen.widget(window, "Message").text()

    def send_composed(self, caption):
        window = self.compose_window(caption)
        self.screen.widget(window, "Send", "push button").press()

    # ----- tray (X11 tray panel)

    def tray_icon(self, timeout=30):
        """(x, y, w, h) of the program's icon in the tray panel."""
        return wait_for(lambda: self.desktop.tray_icon(os.path.basename(self.binary)), timeout,
                        "Dovrik's icon in the tray")

    def click_tray(self, button=1):
        x, y, w, h = self.tray_icon()
        self.desktop.click_at(x + w // 2, y + h // 2, button)

    def tray_menu_shot(self, path):
        """Opens the tray menu with a right click and pictures it; the menu stays open."""
        self.click_tray(3)
        wait_for(lambda: self.desktop.popup_shown(), 10, "the tray menu")
        return self.desktop.settled_screenshot(path)

    def exit_via_tray_menu(self, confirm=None):
        """Right click on the icon, "Exit" (the menu's last item) by keyboard; answers the quit
        question when `confirm` is "Yes" or "No"."""
        if not self.desktop.popup_shown():
            self.click_tray(3)
            wait_for(lambda: self.desktop.popup_shown(), 10, "the tray menu")
        self.desktop.keys("Up", "Return")
        if confirm:
            self.answer("Are you sure you want to quit?", confirm)

    def exit_code(self, timeout=30):
        return self.process.wait_exit(timeout)


def run_quiet(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, **kwargs)
