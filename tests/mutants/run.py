#!/usr/bin/env python3
"""Runs the test suite against deliberate faults, one at a time.

  tests/mutants/run.py [--check] [--build DIR] [--out FILE] [--resume] [ID...]

Each mutant in mutants.txt names a file, a piece of its text that occurs
exactly once, and the text that replaces it. For each one the script puts the
fault in, rebuilds DIR incrementally, runs the whole suite with ctest, notes
the tests that failed and puts the file back. A mutant is killed when a test
fails that passes without it; one that no longer matches its file is reported
as stale, so that a change that moves code must move its mutants too.

--check only verifies that every mutant still matches. Results go to FILE as
one line per mutant (id, verdict, failing tests), which --resume continues,
so a long run can be done in parts. Without IDs every mutant runs.
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


def parse_mutants(path):
    mutants, current = [], None
    for number, line in enumerate(path.read_text().splitlines(), 1):
        if line.startswith("== "):
            ident, _, description = line[3:].partition(": ")
            current = {"id": ident.strip(), "description": description.strip(), "file": None,
                       "old": [], "new": [], "line": number}
            mutants.append(current)
        elif current is None or not line.strip() or line.startswith("#"):
            continue
        elif line.startswith("-"):
            current["old"].append(line[2:])
        elif line.startswith("+"):
            current["new"].append(line[2:])
        elif current["file"] is None:
            current["file"] = line.strip()
        else:
            sys.exit("%s:%d: unexpected line in mutant %s" % (path, number, current["id"]))
    ids = [m["id"] for m in mutants]
    duplicates = {i for i in ids if ids.count(i) > 1}
    if duplicates:
        sys.exit("duplicate mutant ids: " + ", ".join(sorted(duplicates)))
    for m in mutants:
        m["old"], m["new"] = "\n".join(m["old"]), "\n".join(m["new"])
    return mutants


def problem(mutant):
    """Why the mutant cannot be applied, or None."""
    path = ROOT / (mutant["file"] or "")
    if not mutant["file"] or not path.is_file():
        return "no file %s" % mutant["file"]
    if not mutant["old"] or mutant["old"] == mutant["new"]:
        return "no change"
    count = path.read_text().count(mutant["old"])
    if count != 1:
        return "its text occurs %d times in %s" % (count, mutant["file"])
    return None


def run(command, **kwargs):
    return subprocess.run(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kwargs)


def build(args):
    return run(["cmake", "--build", args.build, "-j%d" % args.jobs]).returncode == 0


def failing_tests(args):
    with tempfile.TemporaryDirectory() as work:
        report = os.path.join(work, "junit.xml")
        run(["ctest", "--test-dir", args.build, "-j%d" % args.jobs, "--timeout", str(args.timeout),
             "--output-junit", report])
        if not os.path.exists(report):
            return ["(ctest gave no report)"]
        cases = ElementTree.parse(report).getroot().iter("testcase")
        return sorted(c.get("name") for c in cases if c.get("status") not in ("run", "disabled"))


class Restorer:
    """Puts a mutated file back, also after an interrupted run."""

    def __init__(self, build_dir):
        self.backup = pathlib.Path(build_dir) / "mutant-backup"
        self.restore()

    def apply(self, mutant):
        path = ROOT / mutant["file"]
        text = path.read_text()
        self.backup.write_text(mutant["file"] + "\n" + text)
        path.write_text(text.replace(mutant["old"], mutant["new"], 1))

    def restore(self):
        if self.backup.exists():
            name, _, text = self.backup.read_text().partition("\n")
            (ROOT / name).write_text(text)
            self.backup.unlink()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("ids", nargs="*")
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--build", default="build-mutants")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--timeout", type=int, default=300, help="seconds per test")
    parser.add_argument("--out", default=None)
    parser.add_argument("--resume", action="store_true")
    args = parser.parse_args()

    mutants = parse_mutants(MUTANTS)
    unknown = set(args.ids) - {m["id"] for m in mutants}
    if unknown:
        sys.exit("unknown mutants: " + ", ".join(sorted(unknown)))
    chosen = [m for m in mutants if not args.ids or m["id"] in args.ids]
    stale = [(m, problem(m)) for m in chosen if problem(m)]
    for m, why in stale:
        print("STALE %s (mutants.txt:%d): %s" % (m["id"], m["line"], why))
    if args.check:
        print("%d mutants, %d stale" % (len(chosen), len(stale)))
        return 1 if stale else 0

    out = pathlib.Path(args.out or os.path.join(args.build, "mutants.tsv"))
    done = set()
    if args.resume and out.exists():
        done = {line.split("\t")[0] for line in out.read_text().splitlines() if line}
    elif out.exists():
        out.unlink()
    if not (ROOT / args.build / "CMakeCache.txt").exists():
        run(["cmake", "-S", ".", "-B", args.build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DLUMACOR_BENCH=OFF"])
    restorer = Restorer(ROOT / args.build)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    if not build(args):
        sys.exit("the unchanged sources do not build in " + args.build)
    already = set(failing_tests(args)) if "(clean)" not in done else set()
    if "(clean)" not in done:
        with out.open("a") as f:
            f.write("(clean)\t%s\t%d\t%s\n" % ("failing" if already else "passing", len(already), " ".join(sorted(already))))
    else:
        for line in out.read_text().splitlines():
            if line.startswith("(clean)\t"):
                already = set(line.split("\t")[3].split())
    if already:
        print("failing without any mutant (ignored below): " + " ".join(sorted(already)))

    try:
        for m in chosen:
            if m["id"] in done:
                continue
            why = problem(m)
            if why:
                verdict, tests = "stale", []
            else:
                restorer.apply(m)
                try:
                    if build(args):
                        tests = [t for t in failing_tests(args) if t not in already]
                        verdict = "killed" if tests else "survived"
                    else:
                        verdict, tests = "build-failed", []
                finally:
                    restorer.restore()
            line = "%s\t%s\t%d\t%s" % (m["id"], verdict, len(tests), " ".join(tests))
            print(line.replace("\t", "  ")[:200], flush=True)
            with out.open("a") as f:
                f.write(line + "\n")
    finally:
        restorer.restore()
        build(args)
    print("results in %s" % out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
