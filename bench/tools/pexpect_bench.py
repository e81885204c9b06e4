"""The library's exchanges done with Python pexpect (fdpexpect), against the
same simulator over the same two pipes: the pipes are made in a private
directory, `cli` is started from PATH, and one fdspawn is attached to each
pipe. Each line goes out as the library sends it: its text and "\\n\\r" in
one send.

  pexpect_bench.py latency COUNT CONTEXT COMMAND STYLE OUT
  pexpect_bench.py show    COUNT KIND SIZE STYLE OUT
      COUNT times "N show KIND SIZE" (KIND bulk or elements), the reply
      captured; COUNT 1 times the first command after login.

STYLE "default" keeps pexpect's settings (delaybeforesend 0.05 s,
delayafterread 0.0001 s, maxread 2000, no search window, a regular
expression for the prompt); "tuned" is what an expert would set: no send
delay, delayafterread None, exact patterns with a search window, and reads of
64 KiB. Writes one JSON object to OUT. Runs with the system's python3, where
the Debian package installs pexpect.
"""
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

from pexpect import fdpexpect


def parse_size(text):
    scale = {"K": 1024, "M": 1024 * 1024}.get(text[-1:], 1)
    return int(text.rstrip("KM")) * scale


def main():
    mode, count = sys.argv[1], int(sys.argv[2])
    if mode == "latency":
        context, command, style, out = sys.argv[3:7]
    else:
        kind, size, style, out = sys.argv[3:7]
        context = ""
    tuned = style == "tuned"

    directory = tempfile.mkdtemp(prefix="zubdm-pexpect.")
    write_path = os.path.join(directory, "clPipeW0")
    read_path = os.path.join(directory, "clPipeR0")
    os.mkfifo(write_path, 0o600)
    os.mkfifo(read_path, 0o600)
    env = dict(os.environ, ZUBDM_CLI_PIPE_DIR=directory)
    cli = subprocess.Popen(["cli", "-n", "0"], env=env)
    # The simulator opens clPipeW for reading first, then clPipeR for writing.
    write_fd = os.open(write_path, os.O_WRONLY)
    read_fd = os.open(read_path, os.O_RDONLY)

    if tuned:
        window = 64 * 1024 if mode == "show" else 4096
        reader = fdpexpect.fdspawn(read_fd, timeout=60, maxread=65536,
                                   searchwindowsize=window)
        writer = fdpexpect.fdspawn(write_fd, timeout=60)
        for child in (reader, writer):
            child.delaybeforesend = None
            child.delayafterread = None
    else:
        reader = fdpexpect.fdspawn(read_fd, timeout=60)
        writer = fdpexpect.fdspawn(write_fd, timeout=60)

    def prompt():
        if tuned:
            reader.expect_exact(b"HVB")
            before = reader.before
            reader.expect_exact(b"#")
            return before
        reader.expect(rb"HVB[^#]*#")
        return reader.before

    def exchange(line):
        writer.send(line + b"\n\r")
        return prompt()

    reader.expect_exact(b"Login:")
    writer.send(b"root\r\n")
    reader.expect_exact(b"Password:")
    writer.send(b"tquvz\r\n")
    prompt()

    number = 0
    times = []
    reply_bytes = 0
    if mode == "latency":
        context = context.encode()
        command = command.encode()
        for _ in range(min(200, count)):
            exchange(b"end")
            if context:
                exchange(context)
            number += 1
            exchange(b"%d %s" % (number, command))
        for _ in range(count):
            number += 1
            line = b"%d %s" % (number, command)
            begin = time.perf_counter_ns()
            exchange(b"end")
            if context:
                exchange(context)
            exchange(line)
            times.append(time.perf_counter_ns() - begin)
    else:
        for _ in range(count):
            number += 1
            begin = time.perf_counter_ns()
            reply = exchange(b"%d show %s %s" % (number, kind.encode(),
                                                 size.encode()))
            times.append(time.perf_counter_ns() - begin)
            reply_bytes = len(reply)
            del reply
        if reply_bytes < parse_size(size):
            sys.exit("pexpect_bench: short reply")

    os.close(write_fd)
    os.close(read_fd)
    try:
        cli.wait(timeout=5)
    except subprocess.TimeoutExpired:
        cli.terminate()
        cli.wait()
    shutil.rmtree(directory, ignore_errors=True)

    times.sort()
    n = len(times)
    with open(out, "w") as f:
        json.dump({"count": n, "median_ns": times[n // 2],
                   "p99_ns": times[max(0, (n * 99 + 99) // 100 - 1)],
                   "mean_ns": sum(times) // n, "min_ns": times[0],
                   "bytes": reply_bytes,
                   "peak_rss_kib": resource.getrusage(
                       resource.RUSAGE_SELF).ru_maxrss}, f)
        f.write("\n")


if __name__ == "__main__":
    main()
