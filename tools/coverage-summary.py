#!/usr/bin/env python3
"""Line coverage per folder and in total from a gcovr JSON report.

usage: tools/coverage-summary.py REPORT.json FOLDER...
"""
import json
import sys


def main():
    report, folders = sys.argv[1], sys.argv[2:]
    with open(report, encoding="utf-8") as f:
        files = json.load(f)["files"]
    totals = {folder: [0, 0] for folder in folders}
    for entry in files:
        folder = entry["file"].split("/", 1)[0]
        if folder not in totals:
            continue
        for line in entry["lines"]:
            if line.get("gcovr/noncode"):
                continue
            totals[folder][0] += 1
            totals[folder][1] += line["count"] > 0
    print(f"{'folder':<10} {'lines':>6} {'covered':>8} {'share':>7}")
    all_lines = all_covered = 0
    for folder in folders:
        lines, covered = totals[folder]
        all_lines += lines
        all_covered += covered
        print(f"{folder + '/':<10} {lines:>6} {covered:>8} {100.0 * covered / max(lines, 1):>6.1f}%")
    print(f"{'total':<10} {all_lines:>6} {all_covered:>8} {100.0 * all_covered / max(all_lines, 1):>6.1f}%")


if __name__ == "__main__":
    main()
