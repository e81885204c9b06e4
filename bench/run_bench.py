#!/usr/bin/env python3
"""Runs the zubdm benchmarks and prints one table.

Every figure is measured in each of ROUNDS rounds; a round runs, one after
another, the floor program, the library, Tcl Expect and Python pexpect
against the same CLI simulator (the floor and the library twice each,
alternately). A figure is the median over all its runs of each run's median
(p99 likewise); ratios are between such figures.

Usage: run_bench.py --build DIR [--rounds N] [--commands N] [--quick]
                    [--wait SECONDS] [--json FILE] [-v]
"""
import argparse
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# Debian installs pexpect for the system's python3.
SYSTEM_PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") \
    else sys.executable
# The ways the floor program waits for a reply; the floor of a figure is
# the fastest of them in that run of make bench.
FLOOR_MODES = (("plain", "blocking reads", []),
               ("ring", "io_uring submission", ["--ring"]),
               ("spin", "25 us of reads, then poll", ["--spin=25"]))
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
# Test suites that use the machine-global CLI user table and /tmp/clPipe*.
GLOBAL_SUITES = {"test_registry", "test_mediator", "test_controller",
                 "test_tools"}


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
    """Exchanges per run for one reply size: fewer for the large ones."""
    return min(2000, max(5, (64 * MIB) // size))


class Runner:
    def __init__(self, build, commands, verbose):
        self.build = os.path.abspath(build)
        self.commands = commands
        self.verbose = verbose
        self.floor = os.path.join(self.build, "bench", "bench_floor")
        self.library_bin = os.path.join(self.build, "bench", "bench_library")
        sim_dir = os.path.join(self.build, "tools", "cli-sim")
        for path in (self.floor, self.library_bin, os.path.join(sim_dir, "cli")):
            if not os.access(path, os.X_OK):
                sys.exit("run_bench: %s is missing; build first" % path)
        self.env = dict(os.environ)
        self.env["PATH"] = sim_dir + os.pathsep + self.env.get("PATH", "")
        self.env.pop("ZUBDM_CLI_SCENARIO", None)
        self.env.pop("ZUBDM_CLI_PIPE_DIR", None)
        self.scratch = tempfile.mkdtemp(prefix="zubdm-bench.")

    def close(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def run(self, argv, what):
        if self.verbose:
            print("  " + what, file=sys.stderr, flush=True)
        done = subprocess.run(argv, env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, universal_newlines=True)
        if done.returncode != 0:
            sys.exit("run_bench: %s failed (%d):\n%s%s" % (
                what, done.returncode, done.stdout[-2000:],
                done.stderr[-2000:]))
        return done.stdout

    def run_tool(self, argv, what):
        out = os.path.join(self.scratch, "result.json")
        if os.path.exists(out):
            os.remove(out)
        self.run(argv + [out], what)
        with open(out) as f:
            return json.load(f)

    # --- the four kinds of measurement -----------------------------------

    def floor_latency(self, context, command, mode_args=(), one_write=False):
        argv = [self.floor, "latency", str(self.commands), context, command]
        if one_write:
            argv.append("--one-write")
        return json.loads(self.run(argv + list(mode_args), "floor latency"))

    def floor_show(self, size, count, parse, mode_args=()):
        argv = [self.floor, "show", size_arg(size), str(count)]
        if parse:
            argv.append("--parse")
        return json.loads(self.run(argv + list(mode_args),
                                   "floor show %s" % size_label(size)))

    def library(self, pattern, extra=()):
        wait_for_global_suites()
        argv = [self.library_bin, "--benchmark_format=json",
                "--benchmark_filter=" + pattern] + list(extra)
        report = json.loads(self.run(argv, "library " + pattern))
        results = {}
        for entry in report["benchmarks"]:
            if entry.get("error_occurred"):
                sys.exit("run_bench: library %s: %s" % (
                    entry["name"], entry.get("error_message")))
            name = entry["name"].split("/iterations:")[0]
            results[name] = entry
        return results

    def expect(self, args, what):
        return self.run_tool(["expect", os.path.join(HERE, "tools",
                                                     "expect_bench.exp")]
                             + args, what)

    def pexpect(self, args, what):
        return self.run_tool([SYSTEM_PYTHON, os.path.join(
            HERE, "tools", "pexpect_bench.py")] + args, what)


def wait_for_global_suites():
    """The library takes a slot in the machine's CLI user table and pipes
    under /tmp; the test suites that use them must not run meanwhile."""
    waited = False
    while True:
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
        if not busy:
            return
        if not waited:
            print("run_bench: waiting for %s to finish (they use the CLI "
                  "user table too)" % ", ".join(sorted(busy)),
                  file=sys.stderr, flush=True)
            waited = True
        time.sleep(2)


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

def one_round(r, quick):
    """Returns {figure key: [result of each run]} for one round; a result
    holds "median_ns", "p99_ns" and, for show output, "peak_rss_kib"."""
    res = {}

    def add(key, result):
        res.setdefault(key, []).append(result)

    big_sizes = [MIB, 16 * MIB]
    sweep = [KIB, 4 * KIB, 16 * KIB, 64 * KIB, 256 * KIB, MIB, 4 * MIB,
             16 * MIB]
    if quick:
        sweep = [KIB, 64 * KIB, MIB]
    n = str(r.commands)
    # The floor and the library are run twice each, alternately: where the
    # scheduler places a process and the simulator it talks to changes its
    # times by a quarter from one start to the next.
    alternations = 1 if quick else 2

    # Per forwarded command.
    for _ in range(alternations):
        for ctx_key, context in (("noctx", ""), ("ctx", CONTEXT)):
            for mode, _, mode_args in FLOOR_MODES:
                add("cmd.%s.floor.%s" % (ctx_key, mode),
                    r.floor_latency(context, COMMAND, mode_args))
        lib = r.library("^forward/", ["--commands=" + n, "--command=" +
                                      COMMAND, "--context=" + CONTEXT])
        for ctx_key, context in (("noctx", ""), ("ctx", CONTEXT)):
            name = "forward/context" if context else "forward/no_context"
            add("cmd.%s.library" % ctx_key, lib[name])
    for ctx_key, context in (("noctx", ""), ("ctx", CONTEXT)):
        add("cmd.%s.floor1w" % ctx_key,
            r.floor_latency(context, COMMAND, one_write=True))
        for style in ("default", "tuned"):
            add("cmd.%s.expect_%s" % (ctx_key, style), r.expect(
                ["latency", n, context, COMMAND, style],
                "expect %s %s" % (style, ctx_key)))
            add("cmd.%s.pexpect_%s" % (ctx_key, style), r.pexpect(
                ["latency", n, context, COMMAND, style],
                "pexpect %s %s" % (style, ctx_key)))

    # The same with a small XML reply, parsed by the library (information).
    for ctx_key, context in (("noctx", ""), ("ctx", CONTEXT)):
        for mode, _, mode_args in FLOOR_MODES:
            add("xcmd.%s.floor.%s" % (ctx_key, mode),
                r.floor_latency(context, SMALL_SHOW, mode_args))
    lib = r.library("^forward/", ["--commands=" + n, "--command=" + SMALL_SHOW,
                                  "--context=" + CONTEXT])
    for ctx_key, context in (("noctx", ""), ("ctx", CONTEXT)):
        name = "forward/context" if context else "forward/no_context"
        add("xcmd.%s.library" % ctx_key, lib[name])

    # Large show output, end to end. Each figure in a process of its own, so
    # that the peak resident set is that of the one command size.
    for size in big_sizes:
        count = 5 if size >= 16 * MIB else 20
        key = "show.%d" % size
        for _ in range(alternations):
            for mode, _, mode_args in FLOOR_MODES:
                add(key + ".floor." + mode,
                    r.floor_show(size, count, True, mode_args))
            lib = r.library("^show/%d/" % size, ["--sizes=%d" % size])
            add(key + ".library", lib["show/%d" % size])
        add(key + ".expect_tuned", r.expect(
            ["show", str(count), size_arg(size), "tuned"], "expect show"))
        add(key + ".pexpect_tuned", r.pexpect(
            ["show", str(count), size_arg(size), "tuned"], "pexpect show"))

    # XML alone: both parsers in one process.
    for size in big_sizes:
        entry = r.library("^xml/%d/" % size, ["--sizes=%d" % size])[
            "xml/%d" % size]
        add("xml.%d.parse_cli" % size, entry)
        add("xml.%d.expat" % size, {"median_ns": entry["expat_median_ns"]})

    # The sweep: one exchange (write, read to the prompt, classify) per size.
    lib = r.library("^exchange/", ["--sizes=" + ",".join(
        str(s) for s in sweep)])
    for size in sweep:
        add("sweep.%d.library" % size, lib["exchange/%d" % size])
        for mode, _, mode_args in FLOOR_MODES:
            add("sweep.%d.floor.%s" % (size, mode),
                r.floor_show(size, rounds_for(size), False, mode_args))
    return res, big_sizes, sweep


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
        """Median over every run of the figure, in every round; for a
        floor, that of its fastest way of waiting."""
        if key.endswith(".floor"):
            key = self.fastest_floor(key)
            if key is None:
                return None
        return med([run.get(field) for r in self.rounds
                    for run in r.get(key, [])])

    def fastest_floor(self, key):
        times = [(self.value("%s.%s" % (key, mode)), "%s.%s" % (key, mode))
                 for mode, _, _ in FLOOR_MODES]
        times = [t for t in times if t[0] is not None]
        return min(times)[1] if times else None

    def floor_way(self, key):
        """How the fastest floor of a figure waited, for its label."""
        best = self.fastest_floor(key)
        return dict((m, text) for m, text, _ in FLOOR_MODES).get(
            best.rsplit(".", 1)[1]) if best else "-"

    def ratio(self, key, other, field="median_ns"):
        """value(key) / value(other): both from the same runs of make bench."""
        a, b = self.value(key, field), self.value(other, field)
        return a / b if a is not None and b else None

    def section(self, title, columns):
        self.lines.append("")
        self.lines.append("-- " + title)
        self.lines.append(self.format("", columns, "target"))

    def row(self, label, cells, checks=()):
        verdict = ", ".join("%s %s" % (text, "yes" if holds else "NO")
                            for text, holds in checks)
        self.targets.extend(checks)
        self.lines.append(self.format(label, cells, verdict))

    @staticmethod
    def format(label, cells, verdict):
        line = label.ljust(38)
        for cell in cells:
            line += str(cell).rjust(11)
        if verdict:
            line += "   " + verdict
        return line.rstrip()


def fmt_time(ns):
    if ns is None:
        return "-"
    if ns >= 100e6:
        return "%.0f ms" % (ns / 1e6)
    if ns >= 1e6:
        return "%.1f ms" % (ns / 1e6)
    if ns >= 1e3:
        return "%.1f us" % (ns / 1e3)
    return "%.0f ns" % ns


def fmt_ratio(x):
    return "-" if x is None else "%.2f" % x


def build_table(rounds, big_sizes, sweep):
    t = Table(rounds)
    tools = ["expect_default", "expect_tuned", "pexpect_default",
             "pexpect_tuned"]

    def cmd_rows(prefix, ctx_key, with_tools):
        base = "%s.%s." % (prefix, ctx_key)
        floor, lib = base + "floor", base + "library"
        names = [("floor (fastest way below)", "floor")]
        names += [("floor, %s" % text, "floor." + mode)
                  for mode, text, _ in FLOOR_MODES]
        names += [("floor, 1 write a line (information)", "floor1w"),
                 ("library forwardCliCommand", "library")]
        if with_tools:
            names += [("Expect, defaults", "expect_default"),
                      ("Expect, tuned", "expect_tuned"),
                      ("pexpect, defaults", "pexpect_default"),
                      ("pexpect, tuned", "pexpect_tuned")]
        for label, sub in names:
            key = base + sub
            if t.value(key) is None:
                continue
            cells = [fmt_time(t.value(key)), fmt_time(t.value(key, "p99_ns")),
                     fmt_ratio(t.ratio(key, floor))]
            checks = []
            if sub == "library" and with_tools:
                speedups = [t.ratio(base + tool, lib) for tool in tools]
                cells += [fmt_ratio(s) for s in speedups]
                checks = [("<=1.15x floor", t.ratio(lib, floor) <= 1.15),
                          (">=1.8 Exp-t", speedups[1] >= 1.8),
                          (">=8 pex", speedups[2] >= 8),
                          (">=1 pex-t", speedups[3] >= 1.0)]
                checks = [("%s %s" % (ctx_key, c), h) for c, h in checks]
            t.row(label, cells, checks)

    n = rounds[0]["cmd.noctx.library"][0].get("iterations", "?")
    columns = ["median", "p99", "x floor", "Exp", "Exp-t", "pex", "pex-t"]
    for ctx_key, title in (("noctx", "without a context command: end, N"),
                           ("ctx", "with a context command: end, %s, N" %
                            CONTEXT)):
        t.section("Per forwarded command %s (prompt-only replies), "
                  "%s commands a run" % (title, n), columns)
        cmd_rows("cmd", ctx_key, True)
    for ctx_key, title in (("noctx", "without context"),
                           ("ctx", "with context")):
        t.section("Information: per command %s, N = '%s' (small XML reply, "
                  "which the library parses)" % (title, SMALL_SHOW),
                  columns[:3])
        cmd_rows("xcmd", ctx_key, False)

    for size in big_sizes:
        key = "show.%d." % size
        t.section("Show output of %s: floor = 1024-byte pipe reads + one "
                  "libexpat call; library = forwarded, parsed, find_value; "
                  "tools capture the reply" % size_label(size),
                  ["median", "MiB/s", "x floor", "peak RSS", "Exp-t", "pex-t"])
        floor, lib = key + "floor", key + "library"
        for label, sub in (("floor (%s)" % t.floor_way(floor), "floor"),
                           ("library", "library"),
                           ("Expect, tuned, capturing", "expect_tuned"),
                           ("pexpect, tuned, capturing", "pexpect_tuned")):
            k = key + sub
            median = t.value(k)
            rss = t.value(k, "peak_rss_kib")
            cells = [fmt_time(median), "%.0f" % (size / MIB / (median / 1e9)),
                     fmt_ratio(t.ratio(k, floor)), "%.1f MiB" % (rss / 1024.0)]
            checks = []
            if sub == "library":
                exp = t.ratio(key + "expect_tuned", lib)
                pex = t.ratio(key + "pexpect_tuned", lib)
                cells += [fmt_ratio(exp), fmt_ratio(pex)]
                if size == 16 * MIB:
                    checks = [("<=1.3x floor", t.ratio(lib, floor) <= 1.3),
                              ("faster than Exp-t", exp > 1.0),
                              ("RSS <=6x reply", rss * 1024 <= 6 * size)]
            t.row(label, cells, checks)

    t.section("XML alone: parse_cli + find_value vs bare libexpat (no "
              "handlers, one call) on the same bytes",
              ["median", "MiB/s", "x expat"])
    for size in big_sizes:
        base = "xml.%d.expat" % size
        lib = "xml.%d.parse_cli" % size
        for label, k in (("bare libexpat, %s" % size_label(size), base),
                         ("parse_cli + find_value, %s" % size_label(size),
                          lib)):
            checks = []
            if k == lib and size == 16 * MIB:
                checks = [("<=1.5x expat", t.ratio(lib, base) <= 1.5)]
            t.row(label, [fmt_time(t.value(k)), "%.0f" % (
                size / MIB / (t.value(k) / 1e9)), fmt_ratio(t.ratio(k, base))],
                checks)

    t.section("Sweep: one exchange of 'show bulk SIZE' (write, read up to the "
              "prompt, classify) vs the floor's read of the same reply",
              ["floor", "library", "x floor", "overhead", "ns/KiB"])
    ratios = {}
    for size in sweep:
        floor = "sweep.%d.floor" % size
        lib = "sweep.%d.library" % size
        ratios[size] = t.ratio(lib, floor)
        extra = t.value(lib) - t.value(floor)
        checks = []
        if size == sweep[-1]:
            # Relative overhead at the largest reply no larger than at the
            # smallest (0.05 for noise): matching stays linear.
            checks = [("x floor at %s <= x floor at %s + 0.05" % (
                size_label(size), size_label(sweep[0])),
                ratios[size] <= ratios[sweep[0]] + 0.05)]
        t.row("%s reply" % size_label(size),
              [fmt_time(t.value(floor)), fmt_time(t.value(lib)),
               fmt_ratio(ratios[size]), fmt_time(extra),
               "%.1f" % (extra / (size / KIB))], checks)
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
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()
    if args.quick:
        args.rounds, args.commands, args.wait = 1, 300, 0
    for tool in ("expect",):
        if shutil.which(tool) is None:
            sys.exit("run_bench: %s is not installed (make bench installs it)"
                     % tool)

    started = time.time()
    runner = Runner(args.build, args.commands, args.verbose)
    rounds = []
    disturbed = 0
    try:
        for i in range(args.rounds):
            if args.wait > 0 and not wait_for_quiet(args.wait):
                disturbed += 1
            print("run_bench: round %d of %d" % (i + 1, args.rounds),
                  file=sys.stderr, flush=True)
            res, big_sizes, sweep = one_round(runner, args.quick)
            rounds.append(res)
    finally:
        runner.close()
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rounds, f, indent=1)
    table = build_table(rounds, big_sizes, sweep)
    header = (
        "zubdm benchmarks: %d rounds; each figure is the median over its "
        "runs (floor and library run twice a round, alternately) of each "
        "run's median; ratios are between such figures of this run\n"
        "machine: %s\n"
        "all against the bundled CLI simulator over two named pipes; each "
        "line written in two writes (text, then \"\\n\\r\") by all\n"
        "the floor waits for a reply in three ways (blocking reads; both "
        "writes and the first read in one io_uring submission; 25 us of "
        "non-blocking reads, then poll) and each figure's floor is the "
        "fastest of them; the library spins like the last where spins have "
        "lately found the reply, and otherwise submits like the second\n"
        "library host: log sink that drops every message (a host has its "
        "own logging)\n"
        "x floor = time / floor time; Exp, Exp-t, pex, pex-t = tool time / "
        "library time (Expect and pexpect, defaults and tuned)"
        % (len(rounds), machine()))
    if disturbed:
        header += ("\nNOTE: %d of %d rounds started while other processes "
                   "kept the CPUs busy; their figures are disturbed" %
                   (disturbed, len(rounds)))
    print_table(table, header)
    print("\nmake bench took %.0f s of measuring" % (time.time() - started))


if __name__ == "__main__":
    main()
