#!/usr/bin/env python3
"""Plays the element's CLI program with FRR's shell, vtysh, for the realcli tests.

    vtysh-cli.py -n INDEX

Opens <dir>clPipeW<INDEX> for reading, then <dir>clPipeR<INDEX> for writing
(<dir> from ZUBDM_CLI_PIPE_DIR, default /tmp/), answers the login as the
element does (root / tquvz), then runs vtysh on the daemons whose directory
ZUBDM_FRR_DIR names, under a pseudo-terminal. Each input line ("\\n\\r"
ends one) loses a leading command number and one blank and is typed with
one Enter; what the terminal shows, echo included, goes to clPipeR as it is.
Ends vtysh and itself when vtysh ends, when the input pipe closes, or on
SIGTERM; vtysh also dies with this process (its terminal hangs up, and its
parent-death signal is SIGKILL).
"""

import ctypes
import errno
import fcntl
import os
import pty
import re
import select
import signal
import struct
import sys
import termios
import time

USER, PASSWORD = b"root", b"tquvz"
# Wide enough that readline never scrolls a long line horizontally.
COLUMNS, ROWS = 8192, 50
PR_SET_PDEATHSIG = 1


class Stop(Exception):
    pass


def on_terminate(signum, frame):
    raise Stop()


def write_all(fd, data):
    while data:
        data = data[os.write(fd, data):]


def strip_line(text):
    """A line without the end of the one before ("\n\r") and its own "\r"."""
    if text.startswith(b"\r"):
        text = text[1:]
    return text[:-1] if text.endswith(b"\r") else text


def login(pipe_in, pipe_out):
    """Reads the user and password lines; returns the bytes read past them."""
    buffered = b""

    def line():
        nonlocal buffered
        while b"\n" not in buffered:
            chunk = os.read(pipe_in, 4096)
            if not chunk:
                raise Stop()
            buffered += chunk
        text, buffered = buffered.split(b"\n", 1)
        return strip_line(text)

    while True:
        write_all(pipe_out, b"Login:")
        user = line()
        write_all(pipe_out, b"Password:")
        if line() == PASSWORD and user == USER:
            return buffered
        write_all(pipe_out, b"\r\nLogin incorrect\r\n")


def start_vtysh(frr_dir, index):
    pid, master = pty.fork()
    if pid == 0:
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)
        for signum in (signal.SIGPIPE, signal.SIGTERM, signal.SIGINT):
            signal.signal(signum, signal.SIG_DFL)
        # A dumb terminal: no escape sequences. No VTYSH_PAGER, and paging
        # is off until "terminal paginate": no pager.
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "TERM": "dumb",
               "HOME": frr_dir, "LANG": "C"}
        os.execvpe("vtysh", ["vtysh", "--vty_socket", frr_dir, "--config_dir", frr_dir,
                             "-H", os.path.join(frr_dir, "history-%s" % index)], env)
    fcntl.ioctl(master, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLUMNS, 0, 0))
    return pid, master


def end_vtysh(pid, master):
    if master is not None:
        os.close(master)  # the terminal hangs up: vtysh gets SIGHUP
    for _ in range(50):
        if os.waitpid(pid, os.WNOHANG)[0] == pid:
            return
        time.sleep(0.02)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)


def serve(pipe_in, pipe_out, master, pending):
    """Copies between the pipes and the terminal until either side ends."""
    number = re.compile(rb"^[0-9]+ ")
    while True:
        while b"\n" in pending:
            text, pending = pending.split(b"\n", 1)
            write_all(master, number.sub(b"", strip_line(text), count=1) + b"\r")
        ready, _, _ = select.select([pipe_in, master], [], [])
        if master in ready:
            try:
                shown = os.read(master, 65536)
            except OSError as error:  # EIO: vtysh and its terminal are gone
                if error.errno != errno.EIO:
                    raise
                shown = b""
            if not shown:
                return
            write_all(pipe_out, shown)
        if pipe_in in ready:
            chunk = os.read(pipe_in, 65536)
            if not chunk:
                return
            pending += chunk


def main():
    if len(sys.argv) != 3 or sys.argv[1] != "-n" or not sys.argv[2].isdigit():
        sys.stderr.write("usage: vtysh-cli.py -n INDEX\n")
        return 2
    index = sys.argv[2]
    directory = os.environ.get("ZUBDM_CLI_PIPE_DIR", "/tmp/")
    if not directory.endswith("/"):
        directory += "/"
    frr_dir = os.environ.get("ZUBDM_FRR_DIR", "")
    signal.signal(signal.SIGTERM, on_terminate)
    signal.signal(signal.SIGINT, on_terminate)
    pid, master = None, None
    try:
        pipe_in = os.open(directory + "clPipeW" + index, os.O_RDONLY | os.O_CLOEXEC)
        pipe_out = os.open(directory + "clPipeR" + index, os.O_WRONLY | os.O_CLOEXEC)
        pending = login(pipe_in, pipe_out)
        pid, master = start_vtysh(frr_dir, index)
        serve(pipe_in, pipe_out, master, pending)
    except (Stop, BrokenPipeError):
        pass
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        if pid is not None:
            end_vtysh(pid, master)
    return 0


if __name__ == "__main__":
    sys.exit(main())
