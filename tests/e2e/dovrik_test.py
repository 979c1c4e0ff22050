#!/usr/bin/python3
"""Dovrik end to end: the program's binary on a private virtual desktop, driven as a user would
from outside the process (windows read through the accessibility bus, mouse and keys on the X
server), against mail servers on loopback.

    dovrik_test.py CASE
Environment (set by ctest): DOVRIK_BIN, DOVRIK_MAILSERVER, DOVRIK_ARTEFACTS; for the cases on
the private Dovecot and Postfix also DOVRIK_STATE (tools/interop/mailservers.sh).
"""

import glob
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                                "e2e"))

from desktop import SKIP, Failure, Skip, VirtualDesktop, alive, wait_for  # noqa: E402

BIN = os.environ.get("DOVRIK_BIN", "")
MAILSERVER = os.environ.get("DOVRIK_MAILSERVER", "")
ARTEFACTS = os.environ.get("DOVRIK_ARTEFACTS", tempfile.gettempdir())
SENDER = "Tester <tester@dovrik.test>"


def artefact(name):
    os.makedirs(ARTEFACTS, exist_ok=True)
    return os.path.join(ARTEFACTS, name)


def demo_server(desk, user="tester", password="secret", extra=()):
    """The test mail server on free loopback ports: (pop3 port, smtp port)."""
    server = desk.launch("mailserver", [MAILSERVER, "--user", user, "--pass", password, *extra],
                         qt=False)
    out = wait_for(lambda: re.search(r"pop3 (\d+)\s+smtp (\d+)", server.output()), 10,
                   "the test mail server's ports")
    return int(out.group(1)), int(out.group(2))


def no_crash(process):
    """The program ended by itself, not by a signal (abort, segmentation fault)."""
    code = process.popen.returncode
    assert code is not None and code >= 0, f"ended by signal {-code}: {process.errors()[-3000:]}"
    for word in ("Segmentation fault", "Aborted", "AddressSanitizer", "runtime error"):
        assert word not in process.errors(), process.errors()[-3000:]


def terminate(dovrik, timeout=20):
    """SIGTERM, as a desktop session's end sends it: the program must end cleanly."""
    dovrik.process.signal(signal.SIGTERM)
    code = dovrik.exit_code(timeout)
    no_crash(dovrik.process)
    return code


def start_with_settings(desk, env=None, server_args=(), **settings):
    from dovrik_ui import Dovrik, settings_text, write_store

    pop3, smtp = demo_server(desk, extra=server_args)
    config = (env or {}).get("XDG_CONFIG_HOME", desk.env["XDG_CONFIG_HOME"])
    write_store(config, settings_text(pop3, smtp, "tester", SENDER, **settings))
    return Dovrik(desk, BIN, env=env)


# ----- cases without root: the test mail server


def case_single_instance_and_sigterm():
    from dovrik_ui import Dovrik, read_store

    with VirtualDesktop() as desk:
        first = start_with_settings(desk)
        first.tray_icon()
        # The stored settings start a check at once; it asks for the password.
        first.answer_password("secret")
        first.app()
        second = Dovrik(desk, BIN, name="dovrik-second")
        box = second.question("One Quorrel is enough!")
        second.shot(artefact("e2e-second-start.png"), box)
        second.answer("One Quorrel is enough!", "OK")
        assert second.exit_code(20) == 1, second.process.errors()
        assert first.process.alive()
        assert "BaseFont" not in read_store(desk.env["XDG_CONFIG_HOME"])
        assert terminate(first) == 0
        store = read_store(desk.env["XDG_CONFIG_HOME"])
        assert re.search(r"\[.*\\PELLORY\\BaseFont\]", store), store
        assert '"Name"=' in store and '"Size"=' in store, store


def case_no_tray_shows_main_window():
    with VirtualDesktop(tray=False) as desk:
        dovrik = start_with_settings(desk)
        window = dovrik.main_window()
        dovrik.shot(artefact("e2e-no-tray.png"))
        assert window.showing
        # The window system gets the caption as it stands, with no program name appended.
        tree = desk.run(["xwininfo", "-root", "-tree"]).stdout
        assert '"Pellory"' in tree, tree
        assert "\u2014 Dovrik" not in tree, tree
        dovrik.answer_password("secret")
        dovrik.wait_status(0, lambda t: bool(re.match(r"\d+ bytes in 3 message\(s\)$", t or "")))
        assert terminate(dovrik) == 0


def case_password_countdown_is_read_aloud():
    with VirtualDesktop() as desk:
        dovrik = start_with_settings(desk)
        # The stored settings start a check at once; it asks for the password and counts down.
        count = re.compile(r"You have (\d+) sec\. left$")
        first = wait_for(lambda: count.match(dovrik.password_countdown()), 30,
                         "the countdown read from outside").group(0)
        wait_for(lambda: (lambda m: m and m.group(0) != first)(
            count.match(dovrik.password_countdown())), 10, "the countdown read as it goes on")
        dovrik.answer_password("secret")
        assert terminate(dovrik) == 0


def case_long_subject_is_read_whole():
    subject = ("Minutes of the meeting about the new bicycle shed, with every amendment "
               "proposed, seconded and voted on, in the order they came")
    with VirtualDesktop() as desk:
        path = os.path.join(desk.tmp, "long-subject.eml")
        with open(path, "w", newline="\r\n") as f:  # served as it is stored: lines end in CR LF
            f.write(message("Bram <bram@example.test>", subject, "See the subject."))
        dovrik = start_with_settings(desk, server_args=("--no-samples", "--message-file", path))
        dovrik.answer_password("secret")
        # Mail waits and "Popup on new message" is on; the message is fetched at once.
        dovrik.main_window()
        wait_for(lambda: dovrik.header().get("subject"), 30, "the message's header")
        assert dovrik.header()["subject"] == subject, dovrik.header()
        dovrik.shot(artefact("e2e-long-subject.png"), dovrik.main_window())
        assert terminate(dovrik) == 0


def case_status_notifier_item():
    import sni

    # A desktop whose tray is a StatusNotifierItem host, with no X11 tray at all.
    with VirtualDesktop(tray=False, sni_watcher=True) as desk:
        dovrik = start_with_settings(desk, popup=False)
        item = sni.wait_for_item(desk)
        first = item.properties()
        sni.save_icon(first, artefact("e2e-dovrik-sni-icon.png"))
        assert first["ToolTip"][2] in ("Not checked yet", "Checking mail"), first["ToolTip"]
        labels = [label for _, label, _, visible, kind in item.menu_items()
                  if visible and kind != "separator"]
        assert labels == ["Active", "Check now", "Settings", "Exit"], labels
        dovrik.answer_password("secret")
        wait_for(lambda: re.match(r"\d+ bytes in 3 message\(s\)$",
                                  item.properties()["ToolTip"][2]), 30, "the summary as tooltip")
        # Mail waits: the icon changed to the new-mail picture.
        assert item.properties()["IconPixmap"] != first["IconPixmap"]
        # The tray is there, so the main window stays hidden.
        assert not dovrik.has_window("Pellory")
        item.click_menu_item("Exit")
        assert dovrik.exit_code(20) == 0, dovrik.process.errors()
        no_crash(dovrik.process)


def case_no_session_bus():
    # A session bus address that leads nowhere (and no bus is started on the fly): the tray and
    # the windows work without one.
    with VirtualDesktop(session_bus=False) as desk:
        dovrik = start_with_settings(desk, env={
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(desk.tmp, "no-bus")})
        dovrik.tray_icon()
        assert dovrik.process.alive()
        assert terminate(dovrik) == 0


def case_no_display():
    with tempfile.TemporaryDirectory() as tmp:
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "XDG_CONFIG_HOME": tmp,
               "XDG_RUNTIME_DIR": tmp, "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + tmp + "/none"}
        out = subprocess.run([BIN], env=env, capture_output=True, text=True, timeout=30)
        assert out.returncode > 0, f"exit {out.returncode}: {out.stderr[-2000:]}"
        assert re.search(r"display", out.stderr, re.I), out.stderr[-2000:]


def case_corrupt_store():
    from dovrik_ui import Dovrik, store_path

    with VirtualDesktop() as desk:
        path = store_path(desk.env["XDG_CONFIG_HOME"])
        os.makedirs(os.path.dirname(path))
        garbage = b"\x00\xffnot a store at all\n[unclosed\n"
        with open(path, "wb") as f:
            f.write(garbage)
        dovrik = Dovrik(desk, BIN)
        # Read as empty: the first start's settings window, and the program lives.
        dovrik.settings_window()
        dovrik.fill_settings({"User": "after-corruption"})
        dovrik.screen.widget(dovrik.settings_window(), "Save to registry", "push button").press()
        wait_for(lambda: "after-corruption" in open(path, encoding="utf-8", errors="replace").read(),
                 20, "the new settings in the store")
        kept = glob.glob(path + ".corrupt-*")
        assert kept and open(kept[0], "rb").read() == garbage, kept
        dovrik.submit_settings()
        assert terminate(dovrik) == 0


def case_unwritable_store():
    from dovrik_ui import Dovrik

    with VirtualDesktop() as desk:
        # The store's folder can't be made (its parent is a file), whoever runs the program.
        blocked = os.path.join(desk.tmp, "blocked")
        open(blocked, "w").close()
        dovrik = Dovrik(desk, BIN, env={"XDG_CONFIG_HOME": blocked})
        dovrik.settings_window()
        dovrik.screen.widget(dovrik.settings_window(), "Save to registry", "push button").press()
        dovrik.submit_settings()
        assert dovrik.process.alive(), dovrik.process.errors()
        assert terminate(dovrik) == 0
        assert os.path.isfile(blocked) and os.path.getsize(blocked) == 0


def case_full_disk_store():
    from dovrik_ui import read_store, store_path

    if os.getuid() != 0:
        raise Skip("a full disk is made with a small tmpfs, which needs root")
    with VirtualDesktop() as desk:
        config = os.path.join(desk.tmp, "small")
        os.mkdir(config)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", config], check=True,
                       timeout=20)
        try:
            dovrik = start_with_settings(desk, env={"XDG_CONFIG_HOME": config})
            before = open(store_path(config), "rb").read()
            dovrik.tray_icon()
            # Fill what is left of the disk.
            fd = os.open(os.path.join(config, "filler"), os.O_WRONLY | os.O_CREAT, 0o600)
            try:
                while os.write(fd, b"\0" * 4096) > 0:
                    pass
            except OSError:
                pass
            finally:
                os.close(fd)
            assert terminate(dovrik) == 0
            # The font could not be saved; the store is whole and as it was, no torn file.
            assert open(store_path(config), "rb").read() == before, read_store(config)
            litter = [n for n in os.listdir(os.path.dirname(store_path(config)))
                      if n != "registry.reg" and not n.endswith(".lock")]
            assert not litter, litter
        finally:
            subprocess.run(["umount", "-l", config], timeout=20)


# ----- the whole road on the private Dovecot and Postfix (root)


def servers():
    state = os.environ.get("DOVRIK_STATE")
    if os.getuid() != 0:
        raise Skip("the private mail servers need root")
    if not state or not os.path.exists(os.path.join(state, "servers.env")):
        raise Skip("the private mail servers did not start")
    env = {}
    for line in open(os.path.join(state, "servers.env")):
        key, _, value = line.strip().partition("=")
        env[key] = value
    return env


def put_message(env, name, text):
    maildir = env["DOVRIK_MAILDIR"]
    account = pwd.getpwnam(env["DOVRIK_MAIL_ACCOUNT"])
    tmp = os.path.join(maildir, "tmp", name)
    with open(tmp, "w") as f:
        f.write(text)
    os.chown(tmp, account.pw_uid, account.pw_gid)
    os.chmod(tmp, 0o600)
    os.rename(tmp, os.path.join(maildir, "new", name))


def maildir_files(env):
    maildir = env["DOVRIK_MAILDIR"]
    return [p for sub in ("new", "cur") for p in glob.glob(os.path.join(maildir, sub, "*"))]


def empty_maildir(env):
    for sub in ("new", "cur", "tmp"):
        for p in glob.glob(os.path.join(env["DOVRIK_MAILDIR"], sub, "*")):
            os.remove(p)


def message(sender, subject, *body):
    return (f"From: {sender}\nTo: {SENDER}\nSubject: {subject}\n"
            f"Date: Mon, 7 Dec 2026 10:11:12 +0000\nMessage-ID: <{subject.replace(' ', '-')}"
            f"@example.test>\n\n" + "".join(line + "\n" for line in body))


def case_first_start_to_exit():
    from dovrik_ui import Dovrik

    env = servers()
    empty_maildir(env)
    tag = f"{os.getpid()}-{int(time.time())}"
    put_message(env, f"1700000001.e2e-a-{tag}.dovrik",
                message(SENDER, "Notes to self", "Remember the milk.", "And the bread."))
    put_message(env, f"1700000002.e2e-b-{tag}.dovrik",
                message("Bram <bram@example.test>", "Lunch?", "Noon at the usual place?"))

    with VirtualDesktop() as desk:
        dovrik = Dovrik(desk, BIN)
        # First start: no settings, so the settings window comes first.
        window = dovrik.settings_window()
        dovrik.fill_settings({"Incoming server": "127.0.0.1",
                              "Incoming port": env["DOVRIK_POP3_PORT"],
                              "Outcoming server": "127.0.0.1",
                              "Outcoming port": env["DOVRIK_SMTP_PORT"],
                              "Your e-mail": SENDER, "User": env["DOVRIK_MAIL_USER"]})
        dovrik.shot(artefact("e2e-settings.png"), window)
        dovrik.submit_settings()

        # Checking is on; the first check comes after the interval, so ask for one now from the
        # tray menu ("Active", "Check now", "Settings", "Exit").
        dovrik.click_tray(3)
        wait_for(desk.popup_shown, 10, "the tray menu")
        desk.keys("Down", "Down", "Return")
        dovrik.answer_password(env["DOVRIK_MAIL_PASSWORD"])

        # Mail waits and "Popup on new message" is on: the main window shows itself.
        dovrik.main_window()
        dovrik.wait_status(0, lambda t: bool(re.match(r"\d+ bytes in 2 message\(s\)$", t or "")))
        assert dovrik.status(1) == "Checked 1 times", dovrik.status(1)
        tabs = dovrik.tabs()
        assert [t.name for t in tabs] == ["Message #0", "Message #1"], tabs
        # "Auto get message": the first tab's message is fetched at once.
        wait_for(lambda: dovrik.header().get("subject"), 30, "the first message's header")
        subjects = {}
        for index in (0, 1):
            dovrik.select_tab(index)
            wait_for(lambda: dovrik.header().get("subject"), 30, f"message {index}'s header")
            subjects[dovrik.header()["subject"]] = index
        assert sorted(subjects) == ["Lunch?", "Notes to self"], subjects
        dovrik.select_tab(subjects["Notes to self"])
        wait_for(lambda: dovrik.header().get("subject") == "Notes to self", 30, "the note shown")
        assert "Remember the milk." in dovrik.message_text(), dovrik.message_text()
        dovrik.shot(artefact("e2e-main-window.png"), dovrik.main_window())

        # Reply: the compose window holds the whole message, headers and quoted body.
        dovrik.menu("More", "Reply")
        text = dovrik.compose_text("Reply").replace("\r\n", "\n")
        assert text.startswith(f"From: {SENDER}\nTo: {SENDER}\nSubject: Re: Notes to self\n"), text
        assert "\n\n=>Remember the milk.\n=>And the bread." in text, text
        dovrik.shot(artefact("e2e-reply.png"), dovrik.compose_window("Reply"))
        before = set(maildir_files(env))
        dovrik.send_composed("Reply")
        dovrik.answer("Send this reply?", "Yes")

        # The reply arrives in the Maildir through Postfix.
        def reply_arrived():
            for path in set(maildir_files(env)) - before:
                body = open(path, errors="replace").read()
                if "Subject: Re: Notes to self" in body:
                    return body
            return None

        arrived = wait_for(reply_arrived, 60, "the reply in the Maildir")
        assert "=>Remember the milk." in arrived, arrived

        # Check now: the reply is the third message; the tabs are rebuilt.
        dovrik.menu("Check Now")
        dovrik.wait_status(1, "Checked 2 times")
        dovrik.wait_status(0, lambda t: bool(re.match(r"\d+ bytes in 3 message\(s\)$", t or "")))
        subjects = {}
        for index in range(3):
            dovrik.select_tab(index)
            wait_for(lambda: dovrik.header().get("subject"), 30, f"message {index}'s header")
            subjects[dovrik.header()["subject"]] = index
        assert sorted(subjects) == ["Lunch?", "Notes to self", "Re: Notes to self"], subjects

        # Delete "Lunch?": asked, then gone from the server; the check that follows shows it.
        lunch = [p for p in maildir_files(env) if "e2e-b-" in p]
        assert len(lunch) == 1, lunch
        dovrik.select_tab(subjects["Lunch?"])
        wait_for(lambda: dovrik.header().get("subject") == "Lunch?", 30, "Lunch? shown")
        dovrik.menu("More", "Delete")
        dovrik.answer("Are you sure you want to delete this message from server?", "Yes")
        wait_for(lambda: not glob.glob(os.path.join(env["DOVRIK_MAILDIR"], "*", f"*e2e-b-{tag}*")),
                 30, "Lunch? gone from the Maildir")
        # The note and the reply remain, and the window says so.
        dovrik.wait_status(1, "Checked 3 times")
        dovrik.wait_status(0, lambda t: bool(re.match(r"\d+ bytes in 2 message\(s\)$", t or "")))
        assert len(dovrik.tabs()) == 2

        # Exit from the tray menu; "Prompt on exit" is on, so it asks first.
        dovrik.tray_menu_shot(artefact("e2e-tray-menu.png"))
        dovrik.exit_via_tray_menu(confirm="Yes")
        assert dovrik.exit_code(30) == 0, dovrik.process.errors()
        no_crash(dovrik.process)


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main(case):
    if not BIN or not os.access(BIN, os.X_OK):
        print(f"no program to test ({BIN!r}): skipped")
        return SKIP
    try:
        CASES[case]()
    except Skip as why:
        print(f"skipped: {why}")
        return SKIP
    except (Failure, AssertionError) as failure:
        print(f"FAILED: {failure}")
        return 1
    except Exception as error:  # noqa: BLE001 - any other error fails the case, with its story
        import traceback

        traceback.print_exc()
        print(f"FAILED: {error!r}")
        return 1
    print(f"{case}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
