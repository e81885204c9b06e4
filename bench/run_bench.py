#!/usr/bin/env python3
"""Runs the zubdm benchmarks and prints one table.

Every figure is measured in each of ROUNDS rounds; a round runs, one after
another, the floor program (bench/floor.c), the library (bench_library), Tcl
Expect and Python pexpect against the same CLI simulator, then the floor and
the library against a real CLI, FRR's vtysh, whose daemons this script
starts and stops (skipped, with the reason, where they cannot run). A figure
is the median over all its runs of each run's median; ratios are between
such figures. bench/README.md describes the method.

Usage: run_bench.py --build DIR [--rounds N] [--commands N] [--quick]
                    [--wait SECONDS] [--suite-wait SECONDS] [--json FILE] [-v]
"""
import argparse
import json
import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SUPPORT = os.path.join(os.path.dirname(HERE), "tests", "support")
# Debian installs pexpect for the system's python3.
SYSTEM_PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") \
    else sys.executable
MIB = 1 << 20
KIB = 1 << 10
CONTEXT = "configure terminal"
# The numbered command of the per-command figures: an empty command line,
# which the CLI answers with its prompt alone, as it answers configuration
# commands. The library then stores an empty output and parses nothing, so
# the figure is the cost of mediation itself.
COMMAND = ""
# Information rows: a show command with a small XML reply that the library
# parses into a document on every command.
SMALL_SHOW = "show interfaces"
# The large reply, and the two documents it is measured on: 256-byte objects
# (show bulk) and many small elements (show elements).
BIG = 16 * MIB
DOCUMENTS = (("bulk", "show bulk 16M, 256-byte objects"),
             ("elements", "show elements 16M, small objects"))
# Peak RSS of the library x the reply, per document: measured at 16 MiB with
# the times, and at sizes just past a power of two.
RSS_LIMITS = {"bulk": 2.0, "elements": 2.5}
RSS_SIZES = (12 * MIB, 48 * MIB)
# The zubdm command's own peak for 'show bulk 64M', per output form.
TOOL_SIZE = 64 * MIB
TOOL_FORMS = (("--raw", 96), ("text", 192), ("--json", 192))
# The real CLI's rows: the empty command, as above (vtysh answers an empty
# line with its prompt alone, without asking a daemon, so what the library
# adds to each exchange is the most visible there), and, as information, a
# command whose text output (about 1.6 KiB) the library takes in and stores
# after the echo.
REAL_COMMANDS = (("empty", COMMAND), ("version", "show version"))
# Test suites that use the machine-global CLI user table and /tmp/clPipe*.
GLOBAL_SUITES = {"test_registry", "test_mediator", "test_controller",
                 "test_tools"}
CONTEXTS = (("noctx", ""), ("ctx", CONTEXT))


def size_label(size):
    if size % MIB == 0:
        return "%d MiB" % (size // MIB)
    if size % KIB == 0:
        return "%d KiB" % (size // KIB)
    return "%d B" % size


def size_arg(size):
    if size % MIB == 0:
        return "%dM" % (size // MIB)
    if size % KIB == 0:
        return "%dK" % (size // KIB)
    return str(size)


def rounds_for(size):
    """Exchanges per sweep run for one reply size: fewer for large ones."""
    return min(2000, max(5, (64 * MIB) // size))


class Runner:
    def __init__(self, build, commands, suite_wait, verbose):
        self.build = os.path.abspath(build)
        self.commands = commands
        self.suite_wait = suite_wait
        self.verbose = verbose
        self.floor = os.path.join(self.build, "bench", "bench_floor")
        self.library_bin = os.path.join(self.build, "bench", "bench_library")
        self.zubdm = os.path.join(self.build, "tools", "zubdm", "zubdm")
        sim_dir = os.path.join(self.build, "tools", "cli-sim")
        for path in (self.floor, self.library_bin, self.zubdm,
                     os.path.join(sim_dir, "cli")):
            if not os.access(path, os.X_OK):
                sys.exit("run_bench: %s is missing; build first" % path)
        self.env = dict(os.environ)
        self.env["PATH"] = sim_dir + os.pathsep + self.env.get("PATH", "")
        self.env.pop("ZUBDM_CLI_SCENARIO", None)
        self.env.pop("ZUBDM_CLI_PIPE_DIR", None)
        self.scratch = tempfile.mkdtemp(prefix="zubdm-bench.")
        self.suites_overlapped = False

    def close(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def run(self, argv, what, env=None, pin=False):
        if self.verbose:
            print("  " + what, file=sys.stderr, flush=True)
        # Pinned, the program and the CLI it starts share one CPU: a
        # wakeup is then a context switch, not a wait for another vCPU to
        # be woken, which on a VM changes a command's time tenfold from one
        # placement to the next.
        pin_cpu = max(os.sched_getaffinity(0))
        done = subprocess.run(argv, env=env or self.env,
                              preexec_fn=(lambda: os.sched_setaffinity(
                                  0, {pin_cpu})) if pin else None,
                              stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, universal_newlines=True)
        if done.returncode != 0:
            sys.exit("run_bench: %s failed (%d):\n%s%s" % (
                what, done.returncode, done.stdout[-2000:],
                done.stderr[-2000:]))
        return done.stdout

    def run_json(self, argv, what, env=None, pin=False):
        return json.loads(self.run(argv, what, env, pin))

    def run_tool(self, argv, what):
        out = os.path.join(self.scratch, "result.json")
        if os.path.exists(out):
            os.remove(out)
        self.run(argv + [out], what, pin=argv[2] == "latency")
        with open(out) as f:
            return json.load(f)

    # --- the measurements --------------------------------------------------

    def floor_latency(self, context, command, flags=(), env=None):
        argv = [self.floor, "latency", str(self.commands), context,
                command] + list(flags)
        # The simulator's rows pinned (see run()); the real CLI's are not.
        return self.run_json(argv, "floor latency %s" % " ".join(flags), env,
                             pin=env is None)

    def floor_show(self, kind, size, count, parse):
        argv = [self.floor, "show", kind, size_arg(size), str(count)]
        if parse:
            argv.append("--parse")
        return self.run_json(argv, "floor show %s %s" % (kind, size_arg(size)))

    def library(self, args, what, env=None, pin=False):
        self.wait_for_global_suites()
        return self.run_json([self.library_bin] + [str(a) for a in args],
                             "library " + what, env, pin)

    def library_latency(self, context, command, env=None):
        return self.library(["latency", self.commands, context, command],
                            "latency", env, pin=env is None)

    def tool_peak(self, args, what):
        """The zubdm command's own peak RSS (VmHWM, KiB), sampled until it
        ends: wait4's figure would take in the CLI it starts."""
        self.wait_for_global_suites()
        if self.verbose:
            print("  zubdm " + what, file=sys.stderr, flush=True)
        child = subprocess.Popen([self.zubdm, "--simulator"] + args,
                                 env=self.env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE)
        peak = 0
        while child.poll() is None:
            try:
                with open("/proc/%d/status" % child.pid) as f:
                    for line in f:
                        if line.startswith("VmHWM:"):
                            peak = max(peak, int(line.split()[1]))
            except OSError:
                pass
            time.sleep(0.002)
        if child.returncode != 0:
            sys.exit("run_bench: zubdm %s failed (%d): %s" % (
                what, child.returncode, child.stderr.read()[-2000:]))
        return {"peak_rss_kib": peak}

    def expect(self, args, what):
        return self.run_tool(["expect", os.path.join(HERE, "tools",
                                                     "expect_bench.exp")]
                             + args, what)

    def pexpect(self, args, what):
        return self.run_tool([SYSTEM_PYTHON, os.path.join(
            HERE, "tools", "pexpect_bench.py")] + args, what)

    def wait_for_global_suites(self):
        """The library takes a slot in the machine's CLI user table and
        pipes under /tmp; the test suites that use them should not run
        meanwhile. Waits at most suite_wait seconds; after that (once) the
        run goes on without waiting and says so in the table."""
        if self.suites_overlapped:
            return
        deadline = time.time() + self.suite_wait
        told = False
        while True:
            busy = running_suites()
            if not busy:
                return
            if time.time() >= deadline:
                print("run_bench: %s still running after %d s; measuring "
                      "anyway" % (", ".join(sorted(busy)), self.suite_wait),
                      file=sys.stderr, flush=True)
                self.suites_overlapped = True
                return
            if not told:
                print("run_bench: waiting for %s to finish (they use the CLI "
                      "user table too)" % ", ".join(sorted(busy)),
                      file=sys.stderr, flush=True)
                told = True
            time.sleep(2)


class RealCli:
    """FRR's daemons (zebra, staticd) for vtysh, run by the realcli tests'
    script in namespaces and a directory of their own, and a directory
    whose `cli` is the launcher that serves vtysh over the two pipes
    (tests/support/vtysh-cli.py). stop() ends the daemons; should this
    process end without calling it (SIGKILL), the script's supervisor,
    which watches this process, ends them."""

    def __init__(self, runner):
        self.runner = runner
        self.script = os.path.join(SUPPORT, "frr-daemons.sh")
        self.state = os.path.join(runner.scratch, "frr-daemons.state")
        self.started = False
        self.skip = None
        self.env = None
        self.directory = None

    def start(self):
        """Sets env for the runs, or skip to the reason they cannot run."""
        runner = self.runner
        env = dict(runner.env)
        env["ZUBDM_FRR_WATCH_PID"] = str(os.getpid())
        self.started = True
        done = subprocess.run(["bash", self.script, "start", self.state],
                              env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT,
                              universal_newlines=True)
        try:
            with open(self.state) as f:
                line = f.readline().strip()
        except OSError:
            line = ""
        if done.returncode != 0 or not line:
            self.skip = "the FRR daemons did not start: %s" % (
                done.stdout.strip()[-500:] or "no reason given")
            return
        if line.startswith("skip: "):
            self.skip = line[len("skip: "):]
            return
        if runner.verbose:
            print("  " + done.stdout.strip(), file=sys.stderr, flush=True)
        bin_dir = os.path.join(runner.scratch, "realcli-bin")
        os.mkdir(bin_dir)
        os.symlink(os.path.join(SUPPORT, "vtysh-cli.py"),
                   os.path.join(bin_dir, "cli"))
        self.env = dict(os.environ)
        self.env.pop("ZUBDM_CLI_SCENARIO", None)
        self.env.pop("ZUBDM_CLI_PIPE_DIR", None)
        self.env["PATH"] = bin_dir + os.pathsep + self.env.get("PATH", "")
        self.env["ZUBDM_FRR_DIR"] = line
        self.directory = line
        # vtysh's line editor keeps every line typed in its history, and
        # its cost per line grows with that history's length (a scan of it
        # per line): a run of 10,000 commands would end about a third slower
        # per command than it began. A bounded history (the launcher's vtysh
        # has this directory as its home) keeps every command alike.
        with open(os.path.join(line, ".inputrc"), "w") as f:
            f.write("set history-size 100\n")

    def fresh(self):
        """Removes the history files that vtysh reads as it starts and
        appends each line to, so that every run starts alike."""
        for name in os.listdir(self.directory):
            if name.startswith("history-"):
                os.remove(os.path.join(self.directory, name))

    def stop(self):
        if self.started:
            self.started = False
            subprocess.run(["bash", self.script, "stop", self.state],
                           stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)


def running_suites():
    busy = set()
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % pid) as f:
                name = f.read().strip()
        except OSError:
            continue
        if name in GLOBAL_SUITES:
            busy.add(name)
    return busy


def busy_cpus(seconds=1.0):
    """CPUs kept busy by other processes over `seconds` (we sleep)."""
    def sample():
        with open("/proc/stat") as f:
            fields = [int(x) for x in f.readline().split()[1:]]
        idle = fields[3] + (fields[4] if len(fields) > 4 else 0)
        return sum(fields), idle
    total0, idle0 = sample()
    time.sleep(seconds)
    total1, idle1 = sample()
    elapsed = max(1, total1 - total0)
    return (os.cpu_count() or 1) * (1.0 - (idle1 - idle0) / elapsed)


def wait_for_quiet(limit):
    """Waits (at most `limit` seconds) until other processes leave the CPUs
    idle: the figures compare times of a few microseconds. Returns False
    when the machine stayed busy."""
    deadline = time.time() + limit
    told = False
    while True:
        busy = busy_cpus()
        if busy < 0.25:
            return True
        if time.time() > deadline:
            print("run_bench: the machine stays busy (%.1f CPUs); measuring "
                  "anyway" % busy, file=sys.stderr, flush=True)
            return False
        if not told:
            print("run_bench: other processes keep %.1f CPUs busy; waiting "
                  "for a quiet machine" % busy, file=sys.stderr, flush=True)
            told = True
        time.sleep(5)


# --- one round -------------------------------------------------------------

def sweep_sizes(quick):
    if quick:
        return [KIB, 64 * KIB, MIB]
    return [KIB, 4 * KIB, 16 * KIB, 64 * KIB, 256 * KIB, MIB, 4 * MIB, BIG]


def one_round(r, real, quick):
    """Returns {figure key: [result of each run]} for one round; a result
    holds "median_ns", "p99_ns", "cpu_ns" and "peak_rss_kib" where they
    were measured."""
    res = {}

    def add(key, result):
        res.setdefault(key, []).append(result)

    n = str(r.commands)
    # The floor and the library run alternately, twice each: where the
    # scheduler places a process and the simulator it talks to changes its
    # times by a quarter from one start to the next. The second time the
    # library goes first, so that an effect of the order stays out of the
    # ratios (a build measured right after the floor once took a third more
    # CPU time per command than the same build measured later in a round).
    alternations = 1 if quick else 2

    # Per forwarded command.
    for turn in range(alternations):
        for ctx_key, context in CONTEXTS:
            runs = [("floor", r.floor_latency), ("library", r.library_latency)]
            for name, measure in runs if turn % 2 == 0 else reversed(runs):
                add("cmd.%s.%s" % (ctx_key, name), measure(context, COMMAND))
    for ctx_key, context in CONTEXTS:
        add("cmd.%s.floor2w" % ctx_key,
            r.floor_latency(context, COMMAND, ["--two-writes"]))
        add("cmd.%s.floorconfirm" % ctx_key,
            r.floor_latency(context, COMMAND, ["--confirm"]))
        for style in ("default", "tuned"):
            add("cmd.%s.expect_%s" % (ctx_key, style), r.expect(
                ["latency", n, context, COMMAND, style],
                "expect %s %s" % (style, ctx_key)))
            add("cmd.%s.pexpect_%s" % (ctx_key, style), r.pexpect(
                ["latency", n, context, COMMAND, style],
                "pexpect %s %s" % (style, ctx_key)))

    # The same with a small XML reply, parsed by the library (information).
    for ctx_key, context in CONTEXTS:
        add("xcmd.%s.floor" % ctx_key, r.floor_latency(context, SMALL_SHOW))
        add("xcmd.%s.library" % ctx_key,
            r.library_latency(context, SMALL_SHOW))

    # The large reply end to end, as the first command of a fresh process:
    # one process per measurement, so that the page faults of a new heap
    # count, as they do for a host.
    fresh_runs = 1 if quick else 3
    for kind, _ in DOCUMENTS:
        key = "fresh.%s." % kind
        for _ in range(fresh_runs):
            add(key + "floor", r.floor_show(kind, BIG, 1, True))
            add(key + "library", r.library(["show", kind, size_arg(BIG), 1],
                                           "show %s" % kind))
        add(key + "expect_tuned", r.expect(
            ["show", "1", kind, size_arg(BIG), "tuned"], "expect show"))
        add(key + "pexpect_tuned", r.pexpect(
            ["show", "1", kind, size_arg(BIG), "tuned"], "pexpect show"))

    # Peak memory just past powers of two, and the command's own.
    for kind, _ in DOCUMENTS:
        for size in RSS_SIZES:
            add("rss.%s.%d" % (kind, size), r.library(
                ["show", kind, size_arg(size), 1], "show %s" % kind))
    for form, _ in TOOL_FORMS:
        flags = [] if form == "text" else [form]
        add("tool.%s" % form, r.tool_peak(
            flags + ["show bulk %s" % size_arg(TOOL_SIZE)], form))

    # XML alone, in a warm process: both parsers on the same bytes.
    for kind, _ in DOCUMENTS:
        entry = r.library(["xml", kind, size_arg(BIG), 2 if quick else 5],
                          "xml %s" % kind)
        add("xml.%s.parse_cli" % kind, entry)
        add("xml.%s.expat" % kind, {"median_ns": entry["expat_median_ns"]})
        add("xml.%s.pieces" % kind, {"median_ns": entry["pieces_median_ns"]})
        add("xml.%s.find" % kind, {"median_ns": entry["find_median_ns"]})
        add("xml.%s.tree" % kind, {"held": entry["dom_held_bytes"],
                                    "peak": entry["dom_peak_bytes"],
                                    "pieces_peak": entry["pieces_peak_bytes"]})

    # The sweep: one exchange (write, read to the prompt, classify) per size.
    for size in sweep_sizes(quick):
        add("sweep.%d.floor" % size,
            r.floor_show("bulk", size, rounds_for(size), False))
        add("sweep.%d.library" % size, r.library(
            ["exchange", size_arg(size), rounds_for(size)],
            "exchange %s" % size_arg(size)))

    # The real CLI: the floor through the same launcher and pipes, waiting
    # as the library waits on a shell it does not know (the prompt the last
    # thing written), alternating with the library as above; and the floor
    # typing into vtysh's terminal itself (information).
    if real.env is not None:
        def floor(command, flags):
            real.fresh()
            return r.floor_latency("", command, flags, real.env)

        def library(command):
            real.fresh()
            return r.library_latency("", command, real.env)

        for key, command in REAL_COMMANDS:
            for turn in range(alternations):
                runs = [("floor", lambda c: floor(c, ["--confirm"])),
                        ("library", library)]
                for name, measure in runs if turn % 2 == 0 \
                        else reversed(runs):
                    add("real.%s.%s" % (key, name), measure(command))
            add("real.%s.pty" % key, floor(command, ["--confirm", "--pty"]))
    return res


# --- the table -------------------------------------------------------------

def med(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


class Table:
    def __init__(self, rounds):
        self.rounds = rounds
        self.lines = []
        self.targets = []

    def value(self, key, field="median_ns"):
        """Median over every run of the figure, in every round."""
        return med([run.get(field) for r in self.rounds
                    for run in r.get(key, [])])

    def ratio(self, key, other, field="median_ns"):
        a, b = self.value(key, field), self.value(other, field)
        return a / b if a is not None and b else None

    def section(self, title, columns):
        self.lines.append("")
        self.lines.append("-- " + title)
        self.lines.append(self.format("", columns, "target"))

    def row(self, label, cells, checks=()):
        """`checks`: (text, ratio or value, limit, at least?) each."""
        verdicts = []
        for text, value, limit, at_least in checks:
            holds = value is not None and (
                value >= limit if at_least else value <= limit)
            self.targets.append((text, holds))
            verdicts.append("%s %s" % (text, "yes" if holds else "NO"))
        self.lines.append(self.format(label, cells, ", ".join(verdicts)))

    @staticmethod
    def format(label, cells, verdict):
        line = label.ljust(36)
        for cell in cells:
            line += str(cell).rjust(10)
        if verdict:
            line += "   " + verdict
        return line.rstrip()


def fmt_time(ns):
    if ns is None:
        return "-"
    if ns < 0:
        return "-" + fmt_time(-ns)
    if ns >= 100e6:
        return "%.0f ms" % (ns / 1e6)
    if ns >= 1e6:
        return "%.1f ms" % (ns / 1e6)
    if ns >= 1e3:
        return "%.1f us" % (ns / 1e3)
    return "%.0f ns" % ns


def fmt_ratio(x):
    return "-" if x is None else "%.2f" % x


def fmt_mib(kib):
    return "-" if kib is None else "%.1f MiB" % (kib / 1024.0)


def per_command(t, prefix, ctx_key, with_tools):
    base = "%s.%s." % (prefix, ctx_key)
    floor, lib = base + "floor", base + "library"
    names = [("floor", "floor"),
             ("floor, 2 writes a line (information)", "floor2w"),
             ("floor, prompt confirmed (information)", "floorconfirm"),
             ("library forwardCliCommand", "library")]
    if with_tools:
        names += [("Expect, defaults", "expect_default"),
                  ("Expect, tuned", "expect_tuned"),
                  ("pexpect, defaults", "pexpect_default"),
                  ("pexpect, tuned", "pexpect_tuned")]
    tools = ["expect_default", "expect_tuned", "pexpect_default",
             "pexpect_tuned"]
    for label, sub in names:
        key = base + sub
        if t.value(key) is None:
            continue
        cells = [fmt_time(t.value(key)), fmt_time(t.value(key, "p99_ns")),
                 fmt_ratio(t.ratio(key, floor)),
                 fmt_time(t.value(key, "cpu_ns")),
                 fmt_ratio(t.ratio(key, floor, "cpu_ns"))]
        checks = []
        if sub == "library" and with_tools:
            speedups = [t.ratio(base + tool, lib) for tool in tools]
            cells += [fmt_ratio(s) for s in speedups]
            checks = [("%s wall <=1.15x floor" % ctx_key,
                       t.ratio(lib, floor), 1.15, False),
                      ("%s CPU <=1.3x floor" % ctx_key,
                       t.ratio(lib, floor, "cpu_ns"), 1.3, False),
                      ("%s >=1.5x Exp-t" % ctx_key, speedups[1], 1.5, True),
                      ("%s >=7x pex" % ctx_key, speedups[2], 7.0, True)]
        t.row(label, cells, checks)


def real_cli_rows(t, skip):
    n = t.value("real.empty.floor", "count")
    for key, command in REAL_COMMANDS:
        shown = "N" if not command else "N = '%s'" % command
        title = ("%s forwarded command against a real CLI, FRR's vtysh "
                 "through its launcher as `cli`: end, %s" % (
                     "Per" if key == "empty" else "Information: per", shown))
        if skip:
            t.section(title + ": skipped: " + skip, [])
            continue
        t.section("%s, %d commands a run; the floor typing into vtysh's "
                  "terminal itself is information" % (title, n),
                  ["median", "p99", "x floor", "CPU", "x floor"])
        base = "real.%s." % key
        floor, lib = base + "floor", base + "library"
        for label, sub in (("floor, through the launcher", "floor"),
                           ("library forwardCliCommand", "library"),
                           ("floor, typed into vtysh's terminal", "pty")):
            k = base + sub
            checks = []
            if k == lib and key == "empty":
                checks = [("vtysh wall <=1.1x floor", t.ratio(lib, floor),
                           1.1, False)]
            t.row(label, [fmt_time(t.value(k)), fmt_time(t.value(k, "p99_ns")),
                          fmt_ratio(t.ratio(k, floor)),
                          fmt_time(t.value(k, "cpu_ns")),
                          fmt_ratio(t.ratio(k, floor, "cpu_ns"))], checks)


def build_table(rounds, quick, real_skip):
    t = Table(rounds)
    n = rounds[0]["cmd.noctx.library"][0]["count"]
    columns = ["median", "p99", "x floor", "CPU", "x floor", "Exp", "Exp-t",
               "pex", "pex-t"]
    for ctx_key, title in (("noctx", "without a context command: end, N"),
                           ("ctx", "with a context command: end, %s, N" %
                            CONTEXT)):
        t.section("Per forwarded command %s (prompt-only replies), "
                  "%d commands a run" % (title, n), columns)
        per_command(t, "cmd", ctx_key, True)
    for ctx_key, title in (("noctx", "without context"),
                           ("ctx", "with context")):
        t.section("Information: per command %s, N = '%s' (small XML reply, "
                  "which the library parses)" % (title, SMALL_SHOW),
                  columns[:5])
        per_command(t, "xcmd", ctx_key, False)
    real_cli_rows(t, real_skip)

    for kind, title in DOCUMENTS:
        key = "fresh.%s." % kind
        floor, lib = key + "floor", key + "library"
        t.section("%s reply (%s), end to end, first command of a fresh "
                  "process" % (size_label(BIG), title),
                  ["median", "MiB/s", "x floor", "peak RSS", "x reply"])
        for label, sub in (("floor: reads + 1 libexpat call", "floor"),
                           ("library: forward, parse, find_value", "library"),
                           ("Expect, tuned, capturing", "expect_tuned"),
                           ("pexpect, tuned, capturing", "pexpect_tuned")):
            k = key + sub
            median = t.value(k)
            rss = t.value(k, "peak_rss_kib")
            rss_ratio = rss * KIB / BIG if rss is not None else None
            cells = [fmt_time(median),
                     "%.0f" % (BIG / MIB / (median / 1e9)),
                     fmt_ratio(t.ratio(k, floor)), fmt_mib(rss),
                     fmt_ratio(rss_ratio)]
            checks = []
            if sub == "library":
                limit = RSS_LIMITS[kind]
                checks = [("%s <=1.0x floor" % kind, t.ratio(lib, floor),
                           1.0, False),
                          ("%s RSS <=%.1fx reply" % (kind, limit), rss_ratio,
                           limit, False)]
            t.row(label, cells, checks)

    t.section("Peak RSS of the library, first command of a fresh process, "
              "sizes just past a power of two", ["peak RSS", "x reply"])
    for kind, _ in DOCUMENTS:
        for size in RSS_SIZES:
            rss = t.value("rss.%s.%d" % (kind, size), "peak_rss_kib")
            ratio = rss * KIB / size if rss is not None else None
            limit = RSS_LIMITS[kind]
            t.row("show %s %s" % (kind, size_arg(size)),
                  [fmt_mib(rss), fmt_ratio(ratio)],
                  [("%s %s RSS <=%.1fx reply" % (kind, size_arg(size), limit),
                    ratio, limit, False)])

    t.section("Peak RSS of the zubdm command itself, 'show bulk %s'"
              % size_arg(TOOL_SIZE), ["peak RSS", "x reply"])
    for form, limit in TOOL_FORMS:
        rss = t.value("tool.%s" % form, "peak_rss_kib")
        t.row("zubdm %s" % form,
              [fmt_mib(rss), fmt_ratio(rss * KIB / TOOL_SIZE if rss else None)],
              [("zubdm %s <%d MiB" % (form, limit),
                rss / 1024.0 if rss else None, limit, False)])

    t.section("Information: XML alone, %s in a warm process: parse_cli + "
              "find_value vs bare libexpat (no handlers, one call)" %
              size_label(BIG), ["median", "MiB/s", "x expat"])
    for kind, _ in DOCUMENTS:
        base, lib = "xml.%s.expat" % kind, "xml.%s.parse_cli" % kind
        for label, k in (("bare libexpat, show %s" % kind, base),
                         ("parse_cli + find_value, show %s" % kind, lib),
                         ("  fed in 64 KiB pieces (information)",
                          "xml.%s.pieces" % kind)):
            checks = []
            if k == lib:
                checks = [("xml %s <=1.5x expat" % kind, t.ratio(k, base),
                           1.5, False)]
            t.row(label, [fmt_time(t.value(k)), "%.0f" % (
                BIG / MIB / (t.value(k) / 1e9)), fmt_ratio(t.ratio(k, base))],
                checks)

    t.section("Information: the tree of a %s document: heap it holds, peak "
              "growth while parsed in one piece (parse_cli: the parser's copy "
              "of the document included) and in 64 KiB pieces, each x the "
              "document; find_value of the last object alone"
              % size_label(BIG),
              ["tree", "x doc", "1 piece", "x doc", "64 KiB", "x doc",
               "find"])
    for kind, _ in DOCUMENTS:
        k = "xml.%s.tree" % kind
        held, peak = t.value(k, "held"), t.value(k, "peak")
        pieces = t.value(k, "pieces_peak")
        limit = 1.2 if kind == "elements" else 1.0
        t.row("show %s" % kind,
              [fmt_mib(held / KIB), fmt_ratio(held / BIG),
               fmt_mib(peak / KIB), fmt_ratio(peak / BIG),
               fmt_mib(pieces / KIB), fmt_ratio(pieces / BIG),
               fmt_time(t.value("xml.%s.find" % kind))],
              [("tree %s <=%.1fx doc" % (kind, limit), pieces / BIG, limit,
                False)])

    t.section("Information: one exchange of 'show bulk SIZE' (write, read up "
              "to the prompt, classify) vs the floor's read of the same reply",
              ["floor", "library", "x floor", "overhead"])
    for size in sweep_sizes(quick):
        floor = "sweep.%d.floor" % size
        lib = "sweep.%d.library" % size
        t.row("%s reply" % size_label(size),
              [fmt_time(t.value(floor)), fmt_time(t.value(lib)),
               fmt_ratio(t.ratio(lib, floor)),
               fmt_time(t.value(lib) - t.value(floor))])
    return t


def print_table(t, header):
    print(header)
    for line in t.lines:
        print(line)
    held = sum(1 for _, h in t.targets if h)
    print("\nTargets held: %d of %d%s" % (held, len(t.targets), "" if
          held == len(t.targets) else "; not held: " + ", ".join(
              text for text, h in t.targets if not h)))


def machine():
    debian = ""
    try:
        with open("/etc/debian_version") as f:
            debian = "Debian " + f.read().strip()
    except OSError:
        pass
    cpu = ""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    try:
        gxx = subprocess.run(["g++", "-dumpfullversion"],
                             stdout=subprocess.PIPE, universal_newlines=True,
                             check=False).stdout.strip()
    except OSError:
        gxx = "?"
    return "%d CPUs (%s), %s, kernel %s, g++ %s" % (
        os.cpu_count(), cpu, debian, platform.release(), gxx)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--commands", type=int, default=10000)
    parser.add_argument("--quick", action="store_true",
                        help="one short round: checks that everything runs")
    parser.add_argument("--json", help="also write the raw results here")
    parser.add_argument("--wait", type=int, default=600,
                        help="seconds to wait for a quiet machine before "
                             "each round (0: do not wait)")
    parser.add_argument("--suite-wait", type=int, default=300,
                        help="seconds to wait for test suites that use the "
                             "CLI user table before measuring anyway")
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()
    if args.quick:
        args.rounds, args.commands, args.wait = 1, 300, 0
    for tool in ("expect",):
        if shutil.which(tool) is None:
            sys.exit("run_bench: %s is not installed (make bench installs it)"
                     % tool)

    started = time.time()
    runner = Runner(args.build, args.commands, args.suite_wait, args.verbose)
    rounds = []
    disturbed = 0
    real = None

    # A signal ends the run through the finally below, which stops the
    # daemons.
    def ended_by(signum, frame):
        sys.exit(128 + signum)
    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, ended_by)
    try:
        real = RealCli(runner)
        real.start()
        if real.skip:
            print("run_bench: the real CLI's rows are skipped: %s"
                  % real.skip, file=sys.stderr, flush=True)
        for i in range(args.rounds):
            if args.wait > 0 and not wait_for_quiet(args.wait):
                disturbed += 1
            print("run_bench: round %d of %d" % (i + 1, args.rounds),
                  file=sys.stderr, flush=True)
            rounds.append(one_round(runner, real, args.quick))
    finally:
        if real is not None:
            real.stop()
        runner.close()
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rounds, f, indent=1)
    table = build_table(rounds, args.quick, real.skip)
    header = (
        "zubdm benchmarks: %d rounds; each figure is the median over its "
        "runs of each run's median; ratios are between such figures of this "
        "run\n"
        "machine: %s\n"
        "all against the bundled CLI simulator over two named pipes, but "
        "for the real CLI's rows (vtysh through its launcher over the same "
        "pipes); each line written in one write (text and \"\\n\\r\") by the "
        "floor and the library\n"
        "floor: waits as the library does (poll on the reply pipe, then "
        "1024-byte reads on a non-blocking descriptor), nothing else\n"
        "library host: log sink that drops every message (a host has its "
        "own logging)\n"
        "x floor = figure / floor's figure; CPU = user + system time of the "
        "process over the timed commands / commands; Exp, Exp-t, pex, "
        "pex-t = tool time / library time (Expect and pexpect, defaults and "
        "tuned)" % (len(rounds), machine()))
    if disturbed:
        header += ("\nNOTE: %d of %d rounds started while other processes "
                   "kept the CPUs busy; their figures are disturbed" %
                   (disturbed, len(rounds)))
    if runner.suites_overlapped:
        header += ("\nNOTE: test suites that use the CLI user table ran "
                   "during the measurements")
    print_table(table, header)
    print("\nmake bench took %.0f s of measuring" % (time.time() - started))


if __name__ == "__main__":
    main()
