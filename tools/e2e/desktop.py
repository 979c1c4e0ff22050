"""A private virtual desktop for driving Qt programs from outside the process.

VirtualDesktop starts, in this order: a virtual X server (Xvfb, on a display it picks itself), a
private D-Bus session bus, the accessibility bus that the session bus launches on request, and
optionally a tray panel (trayer, the XEmbed tray) and a StatusNotifierWatcher (the D-Bus tray).
Programs started with launch() see only this desktop. The windows are read and driven through the
accessibility bus (AT-SPI), the way a screen reader sees them; the mouse and keyboard go through
xdotool on the X server.

Every wait has a bound. close() (or leaving the `with` block) ends every process started here,
newest first, each with its whole process group, and removes the temporary folder; it also runs
when a step fails, so nothing is left behind.

The harness is a child subreaper: what its programs leave behind (bus services, daemons that detach
themselves) becomes its child. A thread reaps those orphans as they end, so that scripts which wait
for a daemon to be gone (tools/interop/mailservers.sh stop) don't find it lingering as a zombie.
It takes only children in a session other than the harness's own and not started through spawn():
a program run with subprocess keeps its exit status for its Popen.

Import this module only with the system's Python (/usr/bin/python3): it needs the Debian packages
python3-gi and gir1.2-atspi-2.0.
"""

import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77  # what ctest counts as "skipped"


class Skip(Exception):
    """The machine can't run a virtual desktop (a tool is missing); the test is skipped."""


class Failure(AssertionError):
    """A step did not come true within its bound."""


def wait_for(condition, timeout, what, interval=0.05):
    """Polls condition() until it returns something true, at most `timeout` seconds.

    Returns what the condition returned; raises Failure naming `what` at the bound. A condition
    that raises counts as not yet true (the window may be closing or not built yet), and its last
    error is quoted in the failure.
    """
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            result = condition()
            if result:
                return result
        except Exception as error:  # noqa: BLE001 - quoted in the failure below
            last_error = error
        if time.monotonic() >= deadline:
            detail = f" (last error: {last_error!r})" if last_error else ""
            raise Failure(f"timed out after {timeout} s waiting for {what}{detail}")
        time.sleep(interval)


def require_tools(*tools):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        raise Skip("not installed: " + " ".join(missing))


# Loaded once here: a child between fork and exec must not load libraries while other threads
# (the reaper's) may have held the loader's lock at the fork.
_libc = ctypes.CDLL(None, use_errno=True)


def _die_with_parent():
    """Runs in the child before exec: it gets SIGTERM when the harness itself dies (even by a
    crash or a KILL), so a harness that never reaches close() leaves nothing behind."""
    _libc.prctl(1, signal.SIGTERM, 0, 0, 0)  # PR_SET_PDEATHSIG


def _process_table():
    """(pid, parent pid, process group) of every process, read from /proc."""
    table = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                fields = f.read().decode("ascii", "replace").rsplit(")", 1)[1].split()
            if fields[0] != "Z":
                table.append((int(entry), int(fields[1]), int(fields[2])))
        except (OSError, ValueError, IndexError):
            continue
    return table


def family(pid):
    """pid, the members of its process group and everything below them: all that a program
    started by us may have started in turn (a bus also starts services that leave their parent
    but stay in its group)."""
    table = _process_table()
    found = {p for p, _, group in table if p == pid or group == pid}
    grew = True
    while grew:
        below = {p for p, parent, _ in table if parent in found} - found
        grew = bool(below)
        found |= below
    return found


def alive(pids):
    """The pids of the list that still run (zombies count as ended)."""
    running = {p for p, _, _ in _process_table()}
    return sorted(set(pids) & running)


# Children started through spawn() and not yet waited for: their Popen waits for them. Guarded by
# _reaper_lock, which the reaper holds for a whole pass, so a child can't end unseen between its
# start and its entry here.
_reaper_lock = threading.Lock()
_spawned = set()
_reaper = None


def reap_orphans():
    """Reaps the children of this process that have ended, live in a session other than ours and
    were not started through spawn(): the orphans handed to us as a subreaper. Returns their
    pids."""
    me, session = os.getpid(), os.getsid(0)
    reaped = []
    with _reaper_lock:
        # Looks without collecting: the walk through /proc below only when a child has ended.
        try:
            if os.waitid(os.P_ALL, 0, os.WEXITED | os.WNOHANG | os.WNOWAIT) is None:
                return reaped
        except ChildProcessError:
            _spawned.clear()
            return reaped
        children = set()
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/stat", "rb") as f:
                    fields = f.read().decode("ascii", "replace").rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[1]) != me:
                continue
            pid = int(entry)
            children.add(pid)
            if fields[0] == "Z" and int(fields[3]) != session and pid not in _spawned:
                try:
                    if os.waitpid(pid, os.WNOHANG)[0] == pid:
                        reaped.append(pid)
                except ChildProcessError:
                    pass
        # A spawned child that is no longer ours has been waited for by its Popen.
        _spawned.intersection_update(children)
    return reaped


def become_subreaper(interval=0.1):
    """Makes this process the parent of the orphans below it and starts the thread that reaps
    them (reap_orphans() every `interval` seconds). Once per process; later calls do nothing."""
    global _reaper
    with _reaper_lock:
        if _reaper is not None:
            return
        if _libc.prctl(36, 1, 0, 0, 0) != 0:  # PR_SET_CHILD_SUBREAPER
            raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")

        def reap_forever():
            while True:
                reap_orphans()
                time.sleep(interval)  # the poll period; nothing waits on it

        _reaper = threading.Thread(target=reap_forever, name="orphan reaper", daemon=True)
        _reaper.start()


def spawn(argv, **popen_args):
    """subprocess.Popen in a session of its own, which the reaper leaves to the Popen. Programs
    that start in a session of their own go through here, or the reaper may take their exit
    status."""
    with _reaper_lock:
        popen = subprocess.Popen(argv, start_new_session=True, **popen_args)
        _spawned.add(popen.pid)
    return popen


class Process:
    """One program started on the desktop, in its own process group."""

    def __init__(self, name, popen, out_path, err_path):
        self.name = name
        self.popen = popen
        self.out_path = out_path
        self.err_path = err_path

    @property
    def pid(self):
        return self.popen.pid

    def alive(self):
        return self.popen.poll() is None

    def output(self):
        with open(self.out_path, "r", encoding="utf-8", errors="replace") as f:
            return f.read()

    def errors(self):
        with open(self.err_path, "r", encoding="utf-8", errors="replace") as f:
            return f.read()

    def wait_exit(self, timeout):
        """The exit status once the program has ended, at most `timeout` seconds."""
        try:
            return self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"{self.name} still runs after {timeout} s") from None

    def signal(self, sig):
        if self.alive():
            self.popen.send_signal(sig)

    def stop(self, grace=2.0):
        """TERM to the process and all of its family; KILL to what is left after `grace`."""
        members = family(self.pid)
        for pid in sorted(members, reverse=True):
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + grace
        while alive(members) and time.monotonic() < deadline:
            self.popen.poll()
            time.sleep(0.02)
        for pid in alive(members | family(self.pid)):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        try:
            self.popen.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass


class VirtualDesktop:
    """Xvfb + private session bus + accessibility bus (+ tray panel, + StatusNotifierWatcher).

    tray:        start trayer, the XEmbed tray panel, and wait for its window.
    session_bus: start a private D-Bus session bus (and with it the accessibility bus).
    sni_watcher: start a minimal StatusNotifierWatcher on the session bus.
    screen:      the virtual screen's size, "WxHxDEPTH".
    """

    def __init__(self, tray=True, session_bus=True, sni_watcher=False, screen="1024x640x24",
                 artefacts=None, verbose=True):
        self.want_tray = tray
        self.want_bus = session_bus
        self.want_watcher = sni_watcher
        self.screen = screen
        self.artefacts = artefacts
        self.verbose = verbose
        self.tmp = tempfile.mkdtemp(prefix="dovrik-e2e-")
        self.processes = []
        self.env = {}
        self.display = None
        self.bus_address = None
        self.a11y_address = None
        self.watcher = None

    # ----- life cycle

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def say(self, line):
        if self.verbose:
            print(line, flush=True)

    def start(self):
        require_tools("Xvfb", "xdotool", "xwininfo")
        # Services that a bus starts leave their parent; as a subreaper this process becomes their
        # parent instead of init, so close() can see them end, and they are reaped as they end.
        become_subreaper()
        if self.want_tray:
            require_tools("trayer")
        if self.want_bus:
            require_tools("dbus-daemon", "dbus-send")
        run = os.path.join(self.tmp, "run")
        os.mkdir(run, 0o700)
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": os.environ.get("HOME", self.tmp),
            "LANG": "C.UTF-8",
            "XDG_RUNTIME_DIR": run,
            # No user configuration leaks in: the store and caches live in the temp folder.
            "XDG_CONFIG_HOME": os.path.join(self.tmp, "config"),
            "XDG_CACHE_HOME": os.path.join(self.tmp, "cache"),
            "XDG_DATA_HOME": os.path.join(self.tmp, "data"),
        }
        for name in ("config", "cache", "data"):
            os.makedirs(os.path.join(self.tmp, name), exist_ok=True)
        # A sanitizer build's options reach the programs under test.
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"):
            if name in os.environ:
                self.env[name] = os.environ[name]
        self._start_x()
        if self.want_bus:
            self._start_session_bus()
            self._start_a11y_bus()
        if self.want_watcher:
            self._start_watcher()
        if self.want_tray:
            self._start_tray()

    def family(self):
        """Every process this desktop started, directly or through them."""
        found = set()
        for process in self.processes:
            found |= family(process.pid)
        return found

    def close(self):
        for process in reversed(self.processes):
            process.stop()
        self.processes = []
        # The orphans that ended just now go at once rather than at the reaper's next pass.
        reap_orphans()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def _spawn(self, name, argv, env, pass_fds=(), stdout=None):
        out_path = os.path.join(self.tmp, f"{name}.out")
        err_path = os.path.join(self.tmp, f"{name}.err")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            popen = spawn(argv, env=env, stdin=subprocess.DEVNULL,
                          stdout=stdout if stdout is not None else out, stderr=err,
                          pass_fds=pass_fds, preexec_fn=_die_with_parent)
        process = Process(name, popen, out_path, err_path)
        self.processes.append(process)
        return process

    def _read_line_from(self, fd, process, timeout, what):
        """One line written to the pipe fd by the process, within `timeout` seconds."""
        data = b""
        deadline = time.monotonic() + timeout
        os.set_blocking(fd, False)
        while b"\n" not in data:
            try:
                chunk = os.read(fd, 4096)
                if chunk:
                    data += chunk
                    continue
                if not process.alive():
                    break
            except BlockingIOError:
                pass
            if time.monotonic() >= deadline or not process.alive():
                break
            time.sleep(0.02)
        if b"\n" not in data:
            raise Failure(f"{what}: nothing within {timeout} s\n{process.errors()[-2000:]}")
        return data.split(b"\n", 1)[0].decode().strip()

    def _start_x(self):
        # Another X server ending just as ours starts can take a display socket with it, so a
        # failed start is tried again on a fresh display a few times.
        for attempt in range(3):
            read_fd, write_fd = os.pipe()
            try:
                xvfb = self._spawn("xvfb", ["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                                            self.screen, "-nolisten", "tcp",
                                            "-noreset"],
                                   dict(self.env), pass_fds=(write_fd,))
                os.close(write_fd)
                try:
                    number = self._read_line_from(read_fd, xvfb, 10, "Xvfb's display number")
                except Failure:
                    if attempt == 2:
                        raise Skip("no X server could start") from None
                    xvfb.stop()
                    self.processes.remove(xvfb)
                    continue
            finally:
                os.close(read_fd)
            self.display = f":{number}"
            self.env["DISPLAY"] = self.display
            try:
                wait_for(lambda: self._x_answers(), 10, "the X server to answer")
            except Failure:
                if attempt == 2:
                    raise
                xvfb.stop()
                self.processes.remove(xvfb)
                continue
            self.say(f"display {self.display}")
            return

    def _x_answers(self):
        return subprocess.run(["xwininfo", "-root"], env=self.env, capture_output=True,
                              timeout=5).returncode == 0

    def _start_session_bus(self):
        read_fd, write_fd = os.pipe()
        try:
            bus = self._spawn("session-bus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                              f"--print-address={write_fd}"],
                              dict(self.env), pass_fds=(write_fd,))
            os.close(write_fd)
            self.bus_address = self._read_line_from(read_fd, bus, 10, "the session bus address")
        finally:
            os.close(read_fd)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        self.say(f"session bus {self.bus_address}")

    def dbus_send(self, *args, timeout=10):
        out = subprocess.run(["dbus-send", "--session", "--print-reply", *args], env=self.env,
                             capture_output=True, text=True, timeout=timeout)
        if out.returncode != 0:
            raise Failure(f"dbus-send {' '.join(args)}: {out.stderr.strip()}")
        return out.stdout

    def _start_a11y_bus(self):
        # The session bus starts the accessibility bus launcher on this first call; Qt finds the
        # accessibility bus through the launcher (or the X root window's AT_SPI_BUS property).
        reply = wait_for(lambda: self.dbus_send("--dest=org.a11y.Bus", "/org/a11y/bus",
                                                "org.a11y.Bus.GetAddress"),
                         20, "the accessibility bus")
        self.a11y_address = reply.split('string "', 1)[1].rsplit('"', 1)[0]
        self.dbus_send("--dest=org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties.Set",
                       "string:org.a11y.Status", "string:IsEnabled", "variant:boolean:true")
        # Not handed to the programs: Qt 6.4 taking the address from AT_SPI_BUS_ADDRESS announces
        # itself before its bridge listens, and never appears on the bus.
        self.say(f"accessibility bus {self.a11y_address}")

    def _start_watcher(self):
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sni_watcher.py")
        self.watcher = self._spawn("sni-watcher", [sys.executable, "-u", script], dict(self.env))
        wait_for(lambda: "watching" in self.watcher.output(), 10,
                 "the StatusNotifierWatcher on the session bus")
        self.say("StatusNotifierWatcher registered")

    def _start_tray(self):
        self.tray = self._spawn("trayer", ["trayer", "--edge", "top", "--align", "right",
                                           "--widthtype", "pixel", "--width", "200", "--heighttype",
                                           "pixel", "--height", "40", "--SetDockType", "true",
                                           "--transparent", "false", "--tint", "0x404040"],
                                dict(self.env))
        wait_for(lambda: '"panel"' in self.x_tree(), 15, "trayer's panel window")
        self.say("tray panel up")

    def tray_icon(self, name):
        """(x, y, w, h) on the screen of the icon that the program `name` (its X class or
        instance, any case) docked in the tray panel, or None."""
        lines = self.x_tree().splitlines()
        for i, line in enumerate(lines):
            if '("panel" "trayer")' not in line:
                continue
            depth = len(line) - len(line.lstrip())
            for child in lines[i + 1:]:
                if len(child) - len(child.lstrip()) <= depth:
                    break
                m = re.search(r'\("([^"]*)" "([^"]*)"\)\s+(\d+)x(\d+)\S*\s+\+(-?\d+)\+(-?\d+)', child)
                if m and name.lower() in (m.group(1).lower(), m.group(2).lower()):
                    w, h, x, y = (int(m.group(k)) for k in (3, 4, 5, 6))
                    if w > 1 and h > 1:
                        return x, y, w, h
        return None

    def popup_shown(self):
        """(x, y, w, h) of a shown popup (a menu: a top-level override-redirect window), or
        None."""
        ids = self.run(["xdotool", "search", "--onlyvisible", "--name", ""], timeout=10)
        for wid in ids.stdout.split():
            info = self.run(["xwininfo", "-id", wid, "-children", "-stats"], timeout=10).stdout
            on_root = re.search(r"Parent window id: \S+ \(the root window\)", info)
            if not on_root or "Override Redirect State: yes" not in info:
                continue
            values = dict(re.findall(r"^\s*(Absolute upper-left X|Absolute upper-left Y|Width|"
                                     r"Height):\s+(-?\d+)", info, re.M))
            box = tuple(int(values.get(k, 0)) for k in ("Absolute upper-left X",
                                                         "Absolute upper-left Y", "Width",
                                                         "Height"))
            if box[2] > 1 and box[3] > 1:
                return box
        return None

    def x_tree(self):
        return subprocess.run(["xwininfo", "-root", "-tree"], env=self.env, capture_output=True,
                              text=True, timeout=10).stdout

    # ----- programs

    def launch(self, name, argv, env=None, qt=True):
        """Starts a program on this desktop. Qt programs get the xcb platform and accessibility."""
        full = dict(self.env)
        if qt:
            full.update({"QT_QPA_PLATFORM": "xcb", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
                         "QT_ACCESSIBILITY": "1"})
        full.update(env or {})
        full = {k: v for k, v in full.items() if v is not None}
        process = self._spawn(name, argv, full)
        self.say(f"started {name} (pid {process.pid})")
        return process

    def run(self, argv, timeout=20, **kwargs):
        """A short command on this desktop, bounded; returns the CompletedProcess."""
        return subprocess.run(argv, env=self.env, capture_output=True, text=True, timeout=timeout,
                              **kwargs)

    # ----- mouse, keyboard, pictures

    def xdotool(self, *args):
        out = self.run(["xdotool", *[str(a) for a in args]], timeout=10)
        if out.returncode != 0:
            raise Failure(f"xdotool {' '.join(map(str, args))}: {out.stderr.strip()}")
        return out.stdout

    def click_at(self, x, y, button=1):
        # No --sync: it waits for a pointer motion, which never comes when the pointer is there.
        self.xdotool("mousemove", x, y, "click", button)

    def keys(self, *keys):
        self.xdotool("key", "--delay", "20", *keys)

    def type_keys(self, text):
        self.xdotool("type", "--delay", "10", text)

    def settled_screenshot(self, path, box=None, timeout=5):
        """A screenshot once the picture has stopped changing (two equal in a row): windows
        that were just shown or changed have painted."""
        previous = None
        deadline = time.monotonic() + timeout
        while True:
            self.screenshot(path, box)
            with open(path, "rb") as f:
                current = f.read()
            if current == previous or time.monotonic() >= deadline:
                return path
            previous = current

    def screenshot(self, path, box=None):
        """The whole screen, or the box (x, y, w, h) of it, as a PNG at path."""
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        argv = ["import", "-window", "root"]
        if box is not None:
            x, y, w, h = box
            argv += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
        out = self.run(argv + [path], timeout=20)
        if out.returncode != 0:
            raise Failure(f"screenshot {path}: {out.stderr.strip()}")
        return path
