#!/usr/bin/env python3
"""Runs the fixed mutant list (tools/mutants.txt) against the native suite.

The checkout is copied to build/mutants/src (tracked and new files, as they are now),
so the worktree itself is never changed (unless --in-place asks for it). Each mutant is applied to the copy, the
copy's native-mutants build (no sanitizers) is rebuilt incrementally, and
kestrane_tests runs with --gtest_fail_fast under a time limit; the file is put back
before the next one whatever happened. A mutant whose original text is missing from
its file (or is there more than once) is reported and not counted.

With --against OTHER, an earlier state of the checkout (say `git archive` of a commit,
unpacked) meets every mutant as well, in its own build/mutants/src: one pass gives both
suites' figures, and the second tree's compiles come from ccache.

usage: tools/mutants.py [--list FILE] [--only SUBSTRING] [--numbers N,N..] [--timeout SECONDS] [--against DIR]
                       [--in-place]
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Tree:
    """A checkout and where the mutants are applied: its scratch copy, <root>/build/mutants/src,
    or the checkout itself (in place: its own native-mutants build, nothing copied)."""

    def __init__(self, root, in_place=False):
        self.root = os.path.abspath(root)
        self.in_place = in_place
        self.src = self.root if in_place else os.path.join(self.root, "build", "mutants", "src")
        self.build = os.path.join(self.src, "build", "native-mutants")


class Mutant:
    def __init__(self, file, original, replacement, note, number):
        self.file, self.original, self.replacement, self.note, self.number = file, original, replacement, note, number
        self.line = 0
        self.outcomes = []


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


def source_files(root):
    """The checkout's files: git's list in a worktree, otherwise all but build/."""
    top = subprocess.run(["git", "rev-parse", "--show-toplevel"], cwd=root, capture_output=True, text=True)
    if top.returncode == 0 and os.path.realpath(top.stdout.strip()) == os.path.realpath(root):
        listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], cwd=root,
                                check=True, capture_output=True).stdout.split(b"\0")
        return [f.decode() for f in listed if f]
    names = []
    for folder, subfolders, files in os.walk(root):
        if folder == root:
            subfolders[:] = [s for s in subfolders if s not in ("build", ".git")]
        names += [os.path.relpath(os.path.join(folder, f), root) for f in files]
    return names


def copy_tree(tree):
    if tree.in_place:
        return
    os.makedirs(tree.src, exist_ok=True)
    for name in source_files(tree.root):
        source = os.path.join(tree.root, name)
        if not os.path.isfile(source):
            continue  # deleted in the worktree
        target = os.path.join(tree.src, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        # Unchanged files keep their time stamps, so the incremental build stays small; a
        # changed one gets the time of the copy, newer than any object built before it
        # (a mutant a stopped run left behind among them).
        if not os.path.exists(target) or open(source, "rb").read() != open(target, "rb").read():
            shutil.copyfile(source, target)


def build(tree, timeout):
    if not os.path.exists(os.path.join(tree.build, "build.ninja")):
        subprocess.run(["cmake", "--preset", "native-mutants"], cwd=tree.src, check=True, stdout=subprocess.DEVNULL)
    try:
        return subprocess.run(["cmake", "--build", tree.build, "--target", "kestrane_tests"], cwd=tree.src,
                              capture_output=True, timeout=timeout).returncode == 0
    except subprocess.TimeoutExpired:
        return False


def suite(tree, timeout):
    """True when the suite passes."""
    env = dict(os.environ, KESTRANE_LOG="off")
    try:
        result = subprocess.run([os.path.join(tree.build, "bin", "kestrane_tests"), "--gtest_fail_fast",
                                 "--gtest_brief=1"], cwd=os.path.join(tree.build, "bin"), env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=timeout)
        return result.returncode == 0
    except subprocess.TimeoutExpired:
        return False


def run_mutant(tree, m, timeout):
    """The outcome of one mutant in one tree; the file is restored whatever happens."""
    path = os.path.join(tree.src, m.file)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    count = text.count(m.original)
    if count != 1:
        return "not found" if count == 0 else "ambiguous"
    at = text.index(m.original)
    m.line = text.count("\n", 0, at) + 1
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.write(text[:at] + m.replacement + text[at + len(m.original):])
        if not build(tree, 900):
            return "not compiling"
        return "survived" if suite(tree, timeout) else "killed"
    finally:
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)


def report(label, mutants, column):
    outcomes = [m.outcomes[column] for m in mutants]
    tally = {o: outcomes.count(o) for o in ("killed", "survived", "not compiling")}
    missing = [m for m in mutants if m.outcomes[column] in ("not found", "ambiguous")]
    print(f"== {label}: killed {tally['killed']}, survived {tally['survived']}, not compiling "
          f"{tally['not compiling']} (of {sum(tally.values())} counted; {len(missing)} not found or ambiguous)")
    for m in missing:
        print(f"   {m.outcomes[column]}: #{m.number} {m.file}: {m.original.splitlines()[0].strip()}")
    print(f"== {label}: survivors")
    for m in sorted((m for m in mutants if m.outcomes[column] == "survived"), key=lambda m: (m.file, m.line)):
        print(f"   {m.file}:{m.line}  #{m.number}  {m.original.splitlines()[0].strip()}  ->  "
              f"{m.replacement.splitlines()[0].strip()}" + (f"  ({m.note})" if m.note else ""))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", default=os.path.join(ROOT, "tools", "mutants.txt"))
    parser.add_argument("--only", default="", help="run only the mutants of files containing this text")
    parser.add_argument("--numbers", default="", help="run only the mutants with these numbers (1, 2, ...)")
    parser.add_argument("--timeout", type=int, default=120,
                        help="seconds for one run of the suite (a mutant that hangs it is killed)")
    parser.add_argument("--against", default="",
                        help="another checkout (an earlier state of this one) whose suite meets each mutant too")
    parser.add_argument("--in-place", action="store_true",
                        help="mutate this checkout itself (restored after each mutant) and use its own build")
    args = parser.parse_args()
    # A stopped run still puts the file it changed back (the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))

    mutants = [m for m in parse(args.list) if args.only in m.file]
    if args.numbers:
        wanted = {int(n) for n in args.numbers.split(",")}
        mutants = [m for m in mutants if m.number in wanted]
    trees = [Tree(ROOT, args.in_place)] + ([Tree(args.against)] if args.against else [])
    labels = ["this tree"] + ([args.against] if args.against else [])
    for tree in trees:
        copy_tree(tree)
        if not build(tree, 3600):
            raise SystemExit(f"the unmutated copy of {tree.root} does not build")
        started = time.time()
        if not suite(tree, args.timeout):
            raise SystemExit(f"the suite of {tree.root} fails unmutated")
        print(f"== {tree.root}: the unmutated suite passes in {time.time() - started:.0f}s", flush=True)
    print(f"== {len(mutants)} mutants", flush=True)

    for m in mutants:
        m.outcomes = [run_mutant(tree, m, args.timeout) for tree in trees]
        print(f"{m.number:3} " + " ".join(f"{o:13}" for o in m.outcomes) + f" {m.file}:{m.line}" +
              (f"  ({m.note})" if m.note else ""), flush=True)

    for column, label in enumerate(labels):
        report(label, mutants, column)
    # The builds left behind are the unmutated ones again.
    for tree in trees:
        build(tree, 3600)


if __name__ == "__main__":
    sys.exit(main())
