#!/usr/bin/env python3
"""Runs the test suite against the deliberate faults of mutants.txt.

  tests/mutants/run.py [--build DIR] [--tests REGEX] [--out FILE] [--resume] [ID...]
  tests/mutants/run.py --check | --compare BEFORE AFTER

Each mutant names a file, a piece of its text that occurs exactly once and
the text that replaces it. The script puts each fault in turn into the code,
rebuilds DIR (build-mutants), runs ctest and puts the file back; a mutant is
killed when a test fails that passes without it. One whose text no longer
matches is stale: code that moves takes its mutants along. Results: one line
per mutant in FILE (DIR/mutants.tsv). --check only matches the texts;
--compare prints two runs as a table and fails when a kill was lost.
--tests runs only the tests whose names match (ctest -R). DIR may be the web
build (build-web, configured by scripts/web.sh) for the studio's mutants:
it is rebuilt, not configured again.
"""
import argparse
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

ROOT = pathlib.Path(__file__).resolve().parents[2]
MUTANTS = pathlib.Path(__file__).with_name("mutants.txt")


def parse_mutants():
    mutants = []
    for number, line in enumerate(MUTANTS.read_text().splitlines(), 1):
        if line.startswith("== "):
            ident, _, description = line[3:].partition(": ")
            mutants.append({"id": ident, "description": description, "file": None, "-": [], "+": [], "line": number})
        elif mutants and line[:1] in ("-", "+"):
            mutants[-1][line[0]].append(line[2:])
        elif mutants and line.strip() and not line.startswith("#"):
            mutants[-1]["file"] = line.strip()
    for m in mutants:
        m["old"], m["new"] = "\n".join(m["-"]), "\n".join(m["+"])
    return mutants


def problem(mutant):
    """Why the mutant cannot be applied, or None."""
    path = ROOT / (mutant["file"] or "-")
    if not path.is_file():
        return "no file %s" % mutant["file"]
    count = path.read_text().count(mutant["old"]) if mutant["old"] else 0
    return None if count == 1 and mutant["old"] != mutant["new"] else "its text occurs %d times" % count


def run(*command):
    return subprocess.run(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True).returncode


def failing_tests(args):
    """The tests that fail, and fail again when run once more on their own
    (a test that a busy machine slowed past a time limit is not a kill)."""
    failing = None
    with tempfile.TemporaryDirectory() as work:
        for attempt in ("", "--rerun-failed"):
            report = os.path.join(work, "junit%s.xml" % attempt)
            only = ("-R", args.tests) if args.tests else ()
            run("ctest", "--test-dir", args.build, "-j2", "--timeout", "300", "--output-junit", report, *only,
                *attempt.split())
            if not os.path.exists(report):
                return {"(no report from ctest)"}
            cases = ElementTree.parse(report).getroot().iter("testcase")
            # A parameterised test's name ends in "  # GetParam() = ...".
            failed = {c.get("name").split("  #")[0] for c in cases if c.get("status") not in ("run", "disabled")}
            failing = failed if failing is None else failing & failed
            if not failing:
                break
    return failing


def read_results(path):
    rows = (line.split("\t") for line in pathlib.Path(path).read_text().splitlines())
    return {row[0]: (row[1], row[2].split()) for row in rows}


def compare(before_path, after_path):
    before, after = read_results(before_path), read_results(after_path)
    lost = []
    print("| mutant | killed before | killed after | by |\n|---|---|---|---|")
    for m in parse_mutants():
        b, a = before.get(m["id"], ("not run", [])), after.get(m["id"], ("not run", []))
        more = " and %d more" % (len(a[1]) - 2) if len(a[1]) > 2 else ""
        print("| %s | %s | %s | %s%s |" % (m["id"], b[0], a[0], ", ".join(a[1][:2]), more))
        if b[0] == "killed" and a[0] != "killed":
            lost.append(m["id"])
    if lost:
        print("killed before, not after: " + ", ".join(lost))
    return 1 if lost else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("ids", nargs="*")
    parser.add_argument("--build", default="build-mutants")
    parser.add_argument("--tests", metavar="REGEX")
    parser.add_argument("--out")
    parser.add_argument("--resume", action="store_true")
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"))
    args = parser.parse_args()
    if args.compare:
        return compare(*args.compare)
    mutants = [m for m in parse_mutants() if not args.ids or m["id"] in args.ids]
    stale = [m for m in mutants if problem(m)]
    for m in stale:
        print("STALE %s (mutants.txt:%d): %s" % (m["id"], m["line"], problem(m)))
    if args.check:
        print("%d mutants, %d stale" % (len(mutants), len(stale)))
        return 1 if stale else 0

    out = pathlib.Path(args.out or os.path.join(args.build, "mutants.tsv"))
    done = read_results(out) if args.resume and out.exists() else {}
    if not args.resume and out.exists():
        out.unlink()
    # A backup of the file under change, so that a run stopped any way at all
    # leaves the sources as they were once it is started again.
    backup = ROOT / args.build / "mutant-backup"

    def restore():
        if backup.exists():
            name, _, text = backup.read_text().partition("\n")
            (ROOT / name).write_text(text)
            backup.unlink()

    # Without link-time optimisation a fault in the machine relinks each
    # program in seconds; what the programs do is the same.
    cache = ROOT / args.build / "CMakeCache.txt"
    if not cache.exists() or "CMAKE_HOME_DIRECTORY:INTERNAL=%s\n" % ROOT in cache.read_text():
        run("cmake", "-S", ".", "-B", args.build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DLUMACOR_BENCH=OFF",
            "-DLUMACOR_LTO=OFF")
    restore()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    build = ("cmake", "--build", args.build, "-j2")
    if run(*build) != 0:
        sys.exit("the unchanged sources do not build in " + args.build)
    already = failing_tests(args)
    if already:
        print("failing without any mutant, so not counted: " + " ".join(sorted(already)))
    try:
        for m in mutants:
            if m["id"] in done:
                continue
            tests, verdict = [], "stale"
            if not problem(m):
                path = ROOT / m["file"]
                text = path.read_text()
                backup.write_text(m["file"] + "\n" + text)
                path.write_text(text.replace(m["old"], m["new"], 1))
                try:
                    verdict = "build-failed"
                    if run(*build) == 0:
                        tests = sorted(failing_tests(args) - already)
                        verdict = "killed" if tests else "survived"
                finally:
                    restore()
            print("%-30s %-9s %s" % (m["id"], verdict, " ".join(tests))[:160], flush=True)
            with out.open("a") as f:
                f.write("%s\t%s\t%s\n" % (m["id"], verdict, " ".join(tests)))
    finally:
        restore()
        run(*build)
    print("results in %s" % out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
