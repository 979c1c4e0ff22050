#!/usr/bin/python3
"""Dovrik's demo on a virtual desktop, walked through by itself: first start, the tray menu,
the password prompt, the check, the tabs, retrieving, a reply sent over SMTP, and Exit. It says
what happens, pictures every window and the tray with its menu, and prints the pictures' paths.

    demo_walk.py --bin DOVRIK --mailserver DOVRIK-MAILSERVER --out FOLDER

Everything runs on loopback and on a private desktop (Xvfb with the trayer tray panel); nothing of
the user's own settings is read or written.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop import Failure, Skip, VirtualDesktop, wait_for  # noqa: E402

USER, PASSWORD = "demo", "demo"
SENDER = "Demo User <demo@example.invalid>"


class Walk:
    def __init__(self, desk, args):
        self.desk = desk
        self.args = args
        self.pictures = []
        self.dovrik = None

    def say(self, line):
        print(f"  {line}", flush=True)

    def picture(self, name, what, node=None, margin=8):
        path = os.path.join(self.args.out, name)
        if node is None:
            self.desk.settled_screenshot(path)
        else:
            self.dovrik.shot(path, node, margin)
        self.pictures.append((path, what))
        self.say(f"picture: {what} -> {path}")

    def tray_picture(self, name, what):
        """The tray panel, with the menu when it is open."""
        x, y, w, h = self.dovrik.tray_icon()
        left, top, right, bottom = x - 120, 0, x + w + 20, y + h + 10
        menu = self.desk.popup_shown()
        if menu:
            left = min(left, menu[0] - 20)
            right = max(right, menu[0] + menu[2] + 10)
            bottom = max(bottom, menu[1] + menu[3] + 10)
        width, height = self.desk.screen.split("x")[:2]
        left, right, bottom = max(0, left), min(int(width), right), min(int(height), bottom)
        path = os.path.join(self.args.out, name)
        self.desk.settled_screenshot(path, (left, top, right - left, bottom - top))
        self.pictures.append((path, what))
        self.say(f"picture: {what} -> {path}")

    def run(self):
        from dovrik_ui import MAIN, Dovrik

        server = self.desk.launch("mailserver", [self.args.mailserver, "--user", USER, "--pass",
                                                 PASSWORD], qt=False)
        ports = wait_for(lambda: re.search(r"pop3 (\d+)\s+smtp (\d+)", server.output()), 10,
                         "the demo mail server")
        pop3, smtp = ports.group(1), ports.group(2)
        print(f"Demo mail server on 127.0.0.1: POP3 port {pop3}, SMTP port {smtp}; "
              f"user {USER}, password {PASSWORD}; three messages wait.")

        print("1. First start: no settings are stored, so Dovrik opens its settings window.")
        self.dovrik = d = Dovrik(self.desk, self.args.bin)
        d.fill_settings({"Incoming server": "127.0.0.1", "Incoming port": pop3,
                         "Outcoming server": "127.0.0.1", "Outcoming port": smtp,
                         "Your e-mail": SENDER, "User": USER, "Check every": "300"})
        self.say(f"typed servers 127.0.0.1:{pop3} (POP3) and 127.0.0.1:{smtp} (SMTP), "
                 f"user {USER}, sender {SENDER}")
        self.picture("01-settings.png", "the settings window at the first start",
                     d.settings_window())
        d.submit_settings()
        self.say("Submit: checking is switched on; Dovrik sits in the tray")

        print("2. The tray icon and its menu.")
        d.tray_icon()
        d.click_tray(3)
        wait_for(self.desk.popup_shown, 10, "the tray menu")
        self.tray_picture("02-tray-menu.png", "the tray icon with its menu")
        self.say('chose "Check now"')
        self.desk.keys("Down", "Down", "Return")

        print("3. The server wants a password: Dovrik asks for it in a prompt with a countdown.")
        prompt = d.window("Password for e-mail server")
        field = d.screen.widget(prompt, "Enter your password", "password text")
        field.set_text(PASSWORD)
        self.picture("03-password.png", "the password prompt", prompt)
        d.screen.widget(prompt, "Send", "push button").press()
        d.window_gone("Password for e-mail server")
        self.say("sent the password; it stays in memory only")

        print("4. The check's result: mail waits, so the main window pops up with one tab per "
              "message.")
        d.main_window()
        summary = d.wait_status(0, lambda t: bool(re.match(r"\d+ bytes in \d+ message\(s\)$",
                                                           t or "")), 60)
        self.say(f"status bar: {summary}; {d.status(1)}")
        tabs = [t.name for t in d.tabs()]
        self.say(f"tabs: {', '.join(tabs)}")
        wait_for(lambda: d.header().get("subject"), 30, "the first message retrieved")
        header = d.header()
        self.say(f"retrieved message 1 by itself: from {header.get('from')}, subject "
                 f"{header.get('subject')!r}")
        self.picture("04-main-window.png", "the main window with the first message",
                     d.main_window())

        print("5. Another tab: selecting it retrieves that message.")
        d.select_tab(1)
        wait_for(lambda: d.header().get("subject") and d.header() != header, 30,
                 "the second message retrieved")
        header = d.header()
        self.say(f"message 2: from {header.get('from')}, subject {header.get('subject')!r}")
        text = d.message_text() or ""
        self.say(f"its text: {text.strip()[:60]!r}")
        self.picture("05-second-message.png", "the second message", d.main_window())

        print("6. Reply: the compose window holds the whole message, headers included.")
        d.menu("More", "Reply")
        compose = d.compose_window("Reply")
        first_lines = d.compose_text("Reply").replace("\r\n", "\n").split("\n")[:3]
        self.say("compose window: " + " | ".join(first_lines))
        self.picture("06-reply.png", "the reply in the compose window", compose)
        d.send_composed("Reply")
        question = d.question("Send this reply?")
        self.picture("07-send-question.png", "the question before sending", question)
        d.answer("Send this reply?", "Yes")
        wait_for(lambda: (d.status(2) or "") == "", 30, "the send to end")
        self.say("sent over SMTP to the demo mail server")

        print("7. Exit from the tray menu (it asks first: \"Prompt on exit\" is on).")
        d.window(MAIN)
        self.tray_picture("08-tray.png", "the tray icon: mail waits")
        d.click_tray(3)
        wait_for(self.desk.popup_shown, 10, "the tray menu")
        self.desk.keys("Up", "Return")
        question = d.question("Are you sure you want to quit?")
        self.picture("09-exit-question.png", "the question before quitting", question)
        d.answer("Are you sure you want to quit?", "Yes")
        code = d.exit_code(30)
        self.say(f"Dovrik ended with exit code {code}")
        return code


def paint_background(desk):
    """A calm backdrop instead of Xvfb's black, so the pictures read well."""
    width, height = desk.screen.split("x")[:2]
    if shutil.which("display") and shutil.which("convert"):
        image = os.path.join(desk.tmp, "backdrop.png")
        subprocess.run(["convert", "-size", f"{width}x{height}", "gradient:#3d5a73-#1f2f3d", image],
                       check=False, timeout=30, capture_output=True)
        desk.run(["display", "-window", "root", image], timeout=30)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--mailserver", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    print("Starting a virtual desktop (Xvfb with a tray panel).")
    walk = None
    try:
        with VirtualDesktop(tray=True, screen="1024x640x24", verbose=False) as desk:
            paint_background(desk)
            walk = Walk(desk, args)
            try:
                code = walk.run()
            except (Failure, AssertionError) as failure:
                path = os.path.join(args.out, "failed.png")
                desk.screenshot(path)
                print(f"The walk stopped: {failure}\nThe screen at that moment: {path}")
                if walk.dovrik is not None:
                    print(walk.dovrik.process.errors()[-3000:])
                return 1
    except Skip as why:
        print(f"No virtual desktop could start here: {why}")
        return 1
    print("Screenshots:")
    for path, what in walk.pictures:
        print(f"  {path}  ({what})")
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
