#!/usr/bin/env python3
"""Captures real replies from the CLI simulator as fuzz seeds.

Usage: scripts/make-fuzz-corpus.py BUILD_DIR
Writes fuzz/corpus/<target>/<name> files (overwriting those of the same name).
"""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Session:
    """One simulator on private pipes, logged in."""

    def __init__(self, cli, scenario=None):
        self.dir = tempfile.mkdtemp(prefix="zubdm-corpus-")
        w, r = os.path.join(self.dir, "clPipeW0"), os.path.join(self.dir, "clPipeR0")
        os.mkfifo(w, 0o600)
        os.mkfifo(r, 0o600)
        env = dict(os.environ, ZUBDM_CLI_PIPE_DIR=self.dir)
        if scenario:
            path = os.path.join(self.dir, "scenario.json")
            with open(path, "w") as f:
                f.write(scenario)
            env["ZUBDM_CLI_SCENARIO"] = path
        self.proc = subprocess.Popen([cli, "-n", "0"], env=env)
        self.out = os.open(w, os.O_WRONLY)
        self.inp = os.open(r, os.O_RDONLY)
        self.pending = b""
        self.login = self.until(b"Login:")
        os.write(self.out, b"root\r\n")
        self.login += self.until(b"Password:")
        os.write(self.out, b"tquvz\r\n")
        self.login += self.reply()

    def until(self, tag, start=0):
        """The bytes up to the end of the first `tag` at or after `start`."""
        while self.pending.find(tag, start) < 0:
            chunk = os.read(self.inp, 65536)
            if not chunk:
                raise RuntimeError("simulator closed its pipe")
            self.pending += chunk
        end = self.pending.find(tag, start) + len(tag)
        data, self.pending = self.pending[:end], self.pending[end:]
        return data

    def reply(self):
        """One reply: up to the first "HVB" and the first "#" after it."""
        while b"HVB" not in self.pending:
            self.pending += os.read(self.inp, 65536)
        return self.until(b"#", self.pending.find(b"HVB"))

    def send(self, number, command):
        os.write(self.out, f"{number} {command}\n\r".encode())
        return self.reply()

    def close(self):
        os.close(self.out)
        os.close(self.inp)
        self.proc.wait()
        for name in os.listdir(self.dir):
            os.unlink(os.path.join(self.dir, name))
        os.rmdir(self.dir)


def main():
    cli = os.path.join(sys.argv[1] if len(sys.argv) > 1 else "build", "tools/cli-sim/cli")
    replies = {}
    s = Session(cli)
    replies["login"] = s.login
    for n, (name, command) in enumerate([
            ("end", "end"), ("show_version", "show version"),
            ("show_interfaces", "show interfaces"), ("show_objects", "show objects 3"),
            ("configure", "configure terminal"), ("interface", "interface B"),
            ("shutdown", "shutdown"), ("error", "frobnicate the widgets"),
            ("show_bulk", "show bulk 2K"), ("empty", "")], 1):
        replies[name] = s.send(n, command)
    s.close()
    s = Session(cli, '{"echo": true, "prompt_suffix": " "}')
    replies["echo_show"] = s.send(7, "show interfaces")
    replies["echo_error"] = s.send(8, "bogus")
    s.close()

    seeds = {
        "fuzz_reply": ["login", "end", "show_version", "show_interfaces", "error",
                       "configure", "echo_show", "echo_error", "empty"],
        "fuzz_show_output": ["show_interfaces", "show_objects", "show_bulk", "echo_show"],
    }
    for target, names in seeds.items():
        directory = os.path.join(ROOT, "fuzz", "corpus", target)
        os.makedirs(directory, exist_ok=True)
        for name in names:
            with open(os.path.join(directory, name), "wb") as f:
                f.write(replies[name])
    print("seeds written for", ", ".join(seeds))


if __name__ == "__main__":
    main()
