#!/usr/bin/python3
"""The harness as a child subreaper: the orphans it inherits are reaped as they end, while the
children it started itself keep their exit status for their Popen.

    reaper_test.py orphans                  no root, no X server
    reaper_test.py servers STATEDIR         the private mail servers started and stopped by the
                                            harness (root; skipped otherwise)
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                                "e2e"))

from desktop import SKIP, Failure, become_subreaper, spawn, wait_for  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def state_of(pid):
    """(state letter, parent pid) from /proc, or None once the pid is gone."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            fields = f.read().decode("ascii", "replace").rsplit(")", 1)[1].split()
    except FileNotFoundError:
        return None
    return fields[0], int(fields[1])


def zombie_children():
    me = os.getpid()
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            state = state_of(int(entry))
            if state == ("Z", me):
                found.append(int(entry))
    return found


def start_orphan():
    """A program that leaves its parent in a session of its own, as a daemon does, and ends when
    the returned pipe end is closed. Returns (its pid, that pipe end)."""
    ends, keep = os.pipe()
    told, tell = os.pipe()
    code = (f"import os, sys; os.write({tell}, b'%d' % os.getpid()); os.close({tell}); "
            "sys.stdin.read()")
    # setsid -f forks and its first process ends at once: the program's parent is gone.
    subprocess.run(["setsid", "-f", sys.executable, "-c", code], stdin=ends, pass_fds=(tell,),
                   check=True, timeout=30)
    os.close(ends)
    os.close(tell)
    with os.fdopen(told, "rb") as f:
        pid = int(f.read())
    wait_for(lambda: (state_of(pid) or ("", 0))[1] == os.getpid(), 10, "the orphan to be ours")
    return pid, keep


def orphans():
    become_subreaper()
    # Two children of our own that have ended and not been waited for yet: one started through
    # spawn() in a session of its own, one by plain subprocess in ours. The reaper must leave both.
    exit_on_eof = "import sys; sys.stdin.read(); sys.exit(int(sys.argv[1]))"
    own = [spawn([sys.executable, "-c", exit_on_eof, "5"], stdin=subprocess.PIPE),
           subprocess.Popen([sys.executable, "-c", exit_on_eof, "3"], stdin=subprocess.PIPE)]
    orphan, keep = start_orphan()
    for child in own:
        child.stdin.close()
    # (Gone instead of a zombie: taken by the reaper, which the statuses below show.)
    wait_for(lambda: all(state_of(c.pid) in (("Z", os.getpid()), None) for c in own), 10,
             "our own children to end")

    # The orphan ends after them: the reaper's pass that takes it has seen them too.
    os.close(keep)
    wait_for(lambda: state_of(orphan) is None, 10, f"the ended orphan {orphan} to be reaped")
    statuses = [child.wait(timeout=10) for child in own]
    assert statuses == [5, 3], f"own children's exit statuses: {statuses}"
    print("an ended orphan was reaped; our own children kept their exit statuses")
    return 0


def servers(state):
    """The private servers daemonise below the harness; stop finds them gone within its bound and
    nothing is left a zombie."""
    if os.getuid() != 0:
        print("skipped: the private mail servers need root")
        return SKIP
    become_subreaper()
    script = os.path.join(ROOT, "tools", "interop", "mailservers.sh")
    started = subprocess.run([script, "start", state], capture_output=True, text=True,
                             timeout=600)
    if started.returncode == SKIP:
        print(f"skipped: {started.stderr.strip()}")
        return SKIP
    assert started.returncode == 0, f"start: {started.stderr}"
    try:
        # The masters are ours now (their starters have ended) ...
        masters = []
        for name in ("dovecot", "dovecot-tls", "postfix"):
            with open(os.path.join(state, f"{name}.pid")) as f:
                masters.append(int(f.read()))
        parents = {pid: (state_of(pid) or ("", 0))[1] for pid in masters}
        assert all(p == os.getpid() for p in parents.values()), f"masters' parents: {parents}"
    finally:
        # ... and stop must not take their zombies for live masters (it allows each 30 s).
        stopped = subprocess.run([script, "stop", state], capture_output=True, text=True,
                                 timeout=120)
    assert stopped.returncode == 0 and "ignored TERM" not in stopped.stderr, \
        f"stop ({stopped.returncode}): {stopped.stderr}"
    wait_for(lambda: not zombie_children(), 10, "the servers' processes to be reaped")
    print("the private servers started and stopped below the harness; none left a zombie")
    return 0


def main(argv):
    try:
        if argv[1] == "orphans":
            return orphans()
        if argv[1] == "servers":
            return servers(os.path.abspath(argv[2]))
    except (Failure, AssertionError) as failure:
        print(f"FAILED: {failure}")
        return 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
