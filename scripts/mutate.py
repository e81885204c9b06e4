#!/usr/bin/env python3
"""Mutation check: does the suite notice a real bug?

Applies each one-line fault of a list in turn to a copy of the tree's
sources, builds, runs the suite and reports whether any test failed (the
fault was caught) or none did (missed). The working tree is never changed.
Not part of `make check`: a full run takes about a minute per fault.

Usage: scripts/mutate.py [--list scripts/mutations.txt] [--only N,M,...]
                         [--ctest-args "..."]

The list has one fault per line: FILE @@ TEXT @@ REPLACEMENT, where TEXT occurs
exactly once in FILE; "#" starts a comment line.
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def read_list(path):
    faults = []
    with open(path) as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            parts = [p.strip() for p in line.split(" @@ ")]
            if len(parts) != 3:
                sys.exit("%s:%d: expected FILE @@ TEXT @@ REPLACEMENT" % (path, number))
            faults.append((number, *parts))
    return faults


# What a fault can leave behind on the machine's own names (a pipe file of
# the end-to-end group, a test's table): removed after each fault, so that it
# does not fail the next one.
LEFTOVERS = ["/tmp/clPipe[RW]*", "/dev/shm/zubdm-test-*"]


def remove_leftovers(before):
    for pattern in LEFTOVERS:
        for path in set(glob.glob(pattern)) - before:
            try:
                os.remove(path)
            except OSError:
                pass


def run(argv, cwd, log):
    with open(log, "a") as out:
        return subprocess.call(argv, cwd=cwd, stdout=out, stderr=subprocess.STDOUT)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list", default=os.path.join(HERE, "mutations.txt"))
    parser.add_argument("--only", default="", help="list line numbers to run")
    # One failing test is enough to call a fault caught.
    parser.add_argument("--ctest-args", default="-j2 -LE soak -E install --stop-on-failure")
    args = parser.parse_args()
    faults = read_list(args.list)
    if args.only:
        wanted = {int(n) for n in args.only.split(",")}
        faults = [f for f in faults if f[0] in wanted]

    work = tempfile.mkdtemp(prefix="zubdm-mutate-")
    tree = os.path.join(work, "tree")
    shutil.copytree(ROOT, tree, ignore=shutil.ignore_patterns(
        ".git", "build*", "__pycache__"))
    build = os.path.join(work, "build")
    log = os.path.join(work, "log")
    # A fault that makes a wait endless fails its test after 30 s.
    if run(["cmake", "-S", tree, "-B", build, "-DZUBDM_BUILD_TESTS=ON",
            "-DZUBDM_TEST_TIMEOUT=30"], tree, log) or \
            run(["cmake", "--build", build, "-j2"], tree, log) or \
            run(["ctest"] + args.ctest_args.split(), build, log):
        sys.exit("mutate: the unchanged tree does not build or pass; see " + log)

    present = {path for pattern in LEFTOVERS for path in glob.glob(pattern)}
    caught = 0
    for number, path, text, replacement in faults:
        remove_leftovers(present)
        source = os.path.join(tree, path)
        with open(source) as f:
            original = f.read()
        if original.count(text) != 1:
            print("line %d: %s: text found %d times, skipped" % (
                number, path, original.count(text)), flush=True)
            continue
        with open(source, "w") as f:
            f.write(original.replace(text, replacement))
        try:
            built = run(["cmake", "--build", build, "-j2"], tree, log) == 0
            failed = not built or run(["ctest"] + args.ctest_args.split(), build, log) != 0
        finally:
            with open(source, "w") as f:
                f.write(original)
        caught += failed
        print("line %d: %s  %s: %s" % (number, "caught" if failed else "MISSED",
                                       path, replacement), flush=True)
    run(["cmake", "--build", build, "-j2"], tree, log)
    print("mutate: %d of %d faults caught" % (caught, len(faults)))
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
