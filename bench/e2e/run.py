#!/usr/bin/python3
"""Dovrik as a whole program, measured from outside on a virtual desktop with a tray panel:

  start -> first check's result shown   10 messages on the private Dovecot (root), else on the
                                        test mail server; median of RUNS; the password is typed
                                        by the harness as soon as the prompt shows, and the time
                                        the prompt stood open is reported apart
  cold start -> tray icon               a fresh process with stored settings until its icon is
                                        docked in the tray panel; median of RUNS
  idle in the tray for 60 s             CPU time and context switches (wake-ups) of all threads
  resident memory                       idle in the tray after a first check, and after retrieving a 20 MB
                                        message (VmRSS and the peak VmHWM)

    bench/e2e/run.py [BUILD_DIR] [RUNS]     (defaults: build/default, 7)
"""

import os
import re
import statistics
import subprocess
import sys
import time

root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(root, "tools", "e2e"))

from desktop import VirtualDesktop, wait_for  # noqa: E402
from dovrik_ui import Dovrik, settings_text, write_store  # noqa: E402

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build",
                                                                             "default"))
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
binary = subprocess.run(["find", build, "-maxdepth", "3", "-type", "f", "-name", "dovrik",
                         "-perm", "-u+x"], capture_output=True, text=True).stdout.split()[0]
mailserver = os.path.join(build, "tools", "mailserver", "dovrik-mailserver")
servers_sh = os.path.join(root, "tools", "interop", "mailservers.sh")
SUMMARY = re.compile(r"\d+ bytes in (\d+) message\(s\)$")


def proc_status(pid):
    values = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, rest = line.partition(":")
            values[key] = rest.strip()
    return values


def cpu_and_switches(pid):
    """(CPU seconds of the whole process, {thread id: context switches so far})."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    switches = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            status = proc_status(f"{pid}/task/{tid}")
            switches[tid] = int(status["voluntary_ctxt_switches"]) + int(
                status["nonvoluntary_ctxt_switches"])
        except (OSError, KeyError):
            continue
    return cpu, switches


def switches_between(before, after):
    """Context switches in between: threads alive at both ends by difference, new ones whole
    (a thread that ended in between is missed)."""
    return sum(n - before.get(tid, 0) for tid, n in after.items())


class Mailbox:
    """The private Dovecot when root may run it, else the test mail server."""

    def __init__(self, desk, extra_args=()):
        self.desk = desk
        self.state = None
        if os.getuid() == 0 and not extra_args:
            self.state = os.path.join(build, "bench", "e2e-state")
            out = subprocess.run([servers_sh, "start", self.state], capture_output=True,
                                 text=True, timeout=600)
            if out.returncode == 0:
                env = dict(line.split("=", 1) for line in out.stdout.split() if "=" in line)
                self.env = env
                self.pop3, self.smtp = env["DOVRIK_POP3_PORT"], env["DOVRIK_SMTP_PORT"]
                self.user, self.password = env["DOVRIK_MAIL_USER"], env["DOVRIK_MAIL_PASSWORD"]
                self.kind = "private Dovecot"
                return
            self.state = None
        self.user, self.password = "bench", "bench"
        server = desk.launch("mailserver", [mailserver, "--user", self.user, "--pass",
                                            self.password, *extra_args], qt=False)
        ports = wait_for(lambda: re.search(r"pop3 (\d+)\s+smtp (\d+)", server.output()), 10,
                         "the test mail server")
        self.pop3, self.smtp = ports.group(1), ports.group(2)
        self.kind = "test mail server"

    def fill(self, count):
        if self.state is None:
            return
        import pwd

        maildir = self.env["DOVRIK_MAILDIR"]
        account = pwd.getpwnam(self.env["DOVRIK_MAIL_ACCOUNT"])
        for sub in ("new", "cur", "tmp"):
            for name in os.listdir(os.path.join(maildir, sub)):
                os.remove(os.path.join(maildir, sub, name))
        for i in range(count):
            name = f"{1700000000 + i}.bench-{os.getpid()}-{time.time_ns()}-{i}.dovrik"
            path = os.path.join(maildir, "tmp", name)
            with open(path, "w") as f:
                f.write(f"From: Bench <bench@example.test>\nTo: tester@dovrik.test\n"
                        f"Subject: message {i}\n\n" + "x" * 76 + "\n" * 1)
            os.chown(path, account.pw_uid, account.pw_gid)
            os.rename(path, os.path.join(maildir, "new", name))

    def stop(self):
        if self.state is not None:
            subprocess.run([servers_sh, "stop", self.state], capture_output=True, timeout=120)

    def store(self, desk, check_every=300):
        write_store(desk.env["XDG_CONFIG_HOME"],
                    settings_text(self.pop3, self.smtp, self.user, "Bench <bench@example.test>",
                                  check_every=check_every, popup=True, auto_get=True,
                                  prompt_exit=False))


def first_check(desk, mailbox):
    """(start -> result shown, prompt open) in seconds for one start with stored settings."""
    mailbox.store(desk)
    start = time.monotonic()
    dovrik = Dovrik(desk, binary)
    prompt = dovrik.window("Password for e-mail server", 60)
    shown = time.monotonic()
    dovrik.screen.widget(prompt, "Enter your password", "password text").set_text(mailbox.password)
    dovrik.screen.widget(prompt, "Send", "push button").press()
    answered = time.monotonic()
    wait_for(lambda: SUMMARY.match(dovrik.status(0) or ""), 60, "the check's result",
             interval=0.005)
    done = time.monotonic()
    dovrik.process.stop()
    desk.processes.remove(dovrik.process)
    return done - start, answered - shown


def tray_start(desk, mailbox):
    mailbox.store(desk)
    start = time.monotonic()
    process = desk.launch("dovrik", [binary])
    wait_for(lambda: desk.tray_icon(os.path.basename(binary)), 30, "the tray icon",
             interval=0.005)
    took = time.monotonic() - start
    process.stop()
    desk.processes.remove(process)
    return took


def main():
    print(f"program {binary}; {runs} runs each")
    with VirtualDesktop(verbose=False) as desk:
        mailbox = Mailbox(desk)
        try:
            mailbox.fill(10)
            totals, prompts = [], []
            for _ in range(runs):
                total, prompt = first_check(desk, mailbox)
                totals.append(total)
                prompts.append(prompt)
            net = [t - p for t, p in zip(totals, prompts)]
            print(f"start -> first check's result shown ({mailbox.kind}, 10 messages): median "
                  f"{statistics.median(net) * 1000:.0f} ms without the prompt's "
                  f"{statistics.median(prompts) * 1000:.0f} ms (with it "
                  f"{statistics.median(totals) * 1000:.0f} ms; min {min(net) * 1000:.0f}, max "
                  f"{max(net) * 1000:.0f})")
            trays = [tray_start(desk, mailbox) for _ in range(runs)]
            print(f"cold start -> tray icon: median {statistics.median(trays) * 1000:.0f} ms "
                  f"(min {min(trays) * 1000:.0f}, max {max(trays) * 1000:.0f})")
        finally:
            mailbox.stop()

        # One desktop for all parts: the accessibility library binds to one bus per process.
        mailbox = Mailbox(desk, extra_args=("--no-samples", "--message-size", "20000000"))
        mailbox.store(desk)
        dovrik = Dovrik(desk, binary)
        dovrik.answer_password(mailbox.password)
        wait_for(lambda: SUMMARY.match(dovrik.status(0) or ""), 60, "the first check")
        # The first tab's message is fetched by itself ("Auto get message"); the idle minute in
        # the tray is measured after that.
        pid = dovrik.process.pid
        wait_for(lambda: dovrik.header().get("subject") == "Generated", 120,
                 "the 20 MB message retrieved")
        after = proc_status(pid)
        # Back into the tray: "Hide", as a user would.
        dovrik.menu("Hide")
        dovrik.window_gone("Pellory")
        cpu0, sw0 = cpu_and_switches(pid)
        t0 = time.monotonic()
        time.sleep(60)  # the measuring period itself, not a synchronisation
        cpu1, sw1 = cpu_and_switches(pid)
        span = time.monotonic() - t0
        idle_status = proc_status(pid)
        woke = switches_between(sw0, sw1)
        print(f"idle in the tray for {span:.0f} s: CPU {cpu1 - cpu0:.2f} s "
              f"({(cpu1 - cpu0) / span * 100:.2f} %), {woke} context switches "
              f"({woke / span:.1f}/s) over {len(sw1)} threads")
        print(f"resident memory after retrieving a 20 MB message: VmRSS {after['VmRSS']}, "
              f"peak VmHWM {after['VmHWM']}; a minute later VmRSS {idle_status['VmRSS']}")
        dovrik.process.stop()
        desk.processes.remove(dovrik.process)

        # Idle after a first check of the three sample messages (the first one retrieved),
        # the window hidden again.
        mailbox = Mailbox(desk, extra_args=("--message-size", "0"))
        mailbox.store(desk)
        dovrik = Dovrik(desk, binary)
        dovrik.answer_password(mailbox.password)
        wait_for(lambda: SUMMARY.match(dovrik.status(0) or ""), 60, "the first check")
        wait_for(lambda: dovrik.header().get("subject"), 60, "the first message")
        dovrik.menu("Hide")
        dovrik.window_gone("Pellory")
        status = proc_status(dovrik.process.pid)
        print(f"resident memory idle in the tray after the first check (4 small messages, one "
              f"retrieved): VmRSS {status['VmRSS']}, VmHWM {status['VmHWM']}")
        dovrik.process.stop()


if __name__ == "__main__":
    main()
