#!/usr/bin/env python3
"""Runs the fixed mutant list (tools/mutants.txt) against the native suite.

The checkout is copied to build/mutants/src (tracked and new files, as they are now),
so the worktree itself is never changed. Each mutant is applied to the copy, the
copy's native-mutants build (no sanitizers) is rebuilt incrementally, and
kestrane_tests runs with --gtest_fail_fast under a time limit; the file is put back
before the next one whatever happened. A mutant whose original text is missing from
its file (or is there more than once) is reported and not counted.

usage: tools/mutants.py [--list FILE] [--only SUBSTRING] [--timeout SECONDS]
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, "build", "mutants")
SRC = os.path.join(WORK, "src")
BUILD = os.path.join(SRC, "build", "native-mutants")


class Mutant:
    def __init__(self, file, original, replacement, note, number):
        self.file, self.original, self.replacement, self.note, self.number = file, original, replacement, note, number
        self.line = 0
        self.outcome = ""


def parse(path):
    """Blocks separated by blank lines: the file, "- " original, "+ " replacement,
    "= " note. A line with none of these prefixes continues the section above it."""
    mutants = []
    block = []

    def flush():
        if not block:
            return
        sections = {"-": [], "+": [], "=": []}
        current = None
        for line in block[1:]:
            if line[:2] in ("- ", "+ ", "= "):
                current = line[0]
                sections[current].append(line[2:])
            elif current is not None:
                sections[current][-1] += "\n" + line
            else:
                raise SystemExit(f"{path}: a line outside a section in the block for {block[0]}")
        if len(sections["-"]) != 1 or len(sections["+"]) != 1:
            raise SystemExit(f"{path}: the block for {block[0]} needs one original and one replacement")
        mutants.append(Mutant(block[0].strip(), sections["-"][0], sections["+"][0], " ".join(sections["="]),
                              len(mutants) + 1))
        block.clear()

    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if line.startswith("#"):
                continue
            if not line.strip():
                flush()
            else:
                block.append(line)
    flush()
    return mutants


def source_files():
    """The checkout's files: git's list in a worktree, otherwise all but build/."""
    top = subprocess.run(["git", "rev-parse", "--show-toplevel"], cwd=ROOT, capture_output=True, text=True)
    if top.returncode == 0 and os.path.realpath(top.stdout.strip()) == os.path.realpath(ROOT):
        listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], cwd=ROOT,
                                check=True, capture_output=True).stdout.split(b"\0")
        return [f.decode() for f in listed if f]
    names = []
    for folder, subfolders, files in os.walk(ROOT):
        if folder == ROOT:
            subfolders[:] = [s for s in subfolders if s not in ("build", ".git")]
        names += [os.path.relpath(os.path.join(folder, f), ROOT) for f in files]
    return names


def copy_tree():
    os.makedirs(SRC, exist_ok=True)
    for name in source_files():
        source = os.path.join(ROOT, name)
        if not os.path.isfile(source):
            continue  # deleted in the worktree
        target = os.path.join(SRC, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        # Unchanged files keep their time stamps, so the incremental build stays small.
        if not os.path.exists(target) or open(source, "rb").read() != open(target, "rb").read():
            shutil.copy2(source, target)


def build(timeout):
    if not os.path.exists(os.path.join(BUILD, "build.ninja")):
        subprocess.run(["cmake", "--preset", "native-mutants"], cwd=SRC, check=True, stdout=subprocess.DEVNULL)
    try:
        return subprocess.run(["cmake", "--build", BUILD, "--target", "kestrane_tests"], cwd=SRC,
                              capture_output=True, timeout=timeout).returncode == 0
    except subprocess.TimeoutExpired:
        return False


def suite(timeout):
    """True when the suite passes."""
    env = dict(os.environ, KESTRANE_LOG="off")
    try:
        result = subprocess.run([os.path.join(BUILD, "bin", "kestrane_tests"), "--gtest_fail_fast", "--gtest_brief=1"],
                                cwd=os.path.join(BUILD, "bin"), env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=timeout)
        return result.returncode == 0
    except subprocess.TimeoutExpired:
        return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", default=os.path.join(ROOT, "tools", "mutants.txt"))
    parser.add_argument("--only", default="", help="run only the mutants of files containing this text")
    parser.add_argument("--timeout", type=int, default=600, help="seconds for one run of the suite")
    args = parser.parse_args()

    mutants = [m for m in parse(args.list) if args.only in m.file]
    copy_tree()
    print(f"== {len(mutants)} mutants; the copy is in {SRC}", flush=True)
    if not build(3600):
        raise SystemExit("the unmutated copy does not build")
    started = time.time()
    if not suite(args.timeout):
        raise SystemExit("the suite fails on the unmutated copy")
    print(f"== the unmutated suite passes in {time.time() - started:.0f}s", flush=True)

    for m in mutants:
        path = os.path.join(SRC, m.file)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        count = text.count(m.original)
        if count != 1:
            m.outcome = "not found" if count == 0 else "ambiguous"
        else:
            at = text.index(m.original)
            m.line = text.count("\n", 0, at) + 1
            try:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text[:at] + m.replacement + text[at + len(m.original):])
                if not build(900):
                    m.outcome = "not compiling"
                else:
                    m.outcome = "survived" if suite(args.timeout) else "killed"
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text)
        print(f"{m.number:3} {m.outcome:13} {m.file}:{m.line}" + (f"  ({m.note})" if m.note else ""), flush=True)

    counted = [m for m in mutants if m.outcome in ("killed", "survived", "not compiling")]
    tally = {o: sum(m.outcome == o for m in mutants) for o in ("killed", "survived", "not compiling")}
    missing = [m for m in mutants if m not in counted]
    print(f"== killed {tally['killed']}, survived {tally['survived']}, not compiling {tally['not compiling']} "
          f"(of {len(counted)} counted; {len(missing)} not found or ambiguous)")
    for m in missing:
        print(f"   {m.outcome}: #{m.number} {m.file}: {m.original.splitlines()[0].strip()}")
    print("== survivors")
    for m in sorted((m for m in mutants if m.outcome == "survived"), key=lambda m: (m.file, m.line)):
        print(f"   {m.file}:{m.line}  #{m.number}  {m.original.splitlines()[0].strip()}  ->  "
              f"{m.replacement.splitlines()[0].strip()}" + (f"  ({m.note})" if m.note else ""))
    # The build left behind is the unmutated one again.
    build(3600)


if __name__ == "__main__":
    sys.exit(main())
