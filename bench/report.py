#!/usr/bin/env python3
"""Turns the benchmark runs' outputs into BENCHMARKS.md.

  report.py trace TRACE           wineserver requests per case from a WINEDEBUG=+server log
  report.py write OUT DIR         BENCHMARKS.md from the files ./dev.sh bench left in DIR
"""
import collections
import glob
import json
import os
import re
import subprocess
import sys

REQUEST = re.compile(r'^([0-9a-f]{4}): (\w+)\( ')
MARKER = re.compile(r'name=L"KestraneBenchMarker\\\\(.+)\\\\(module|raw)-(begin|end)"')


def trace_counts(path):
    """{case: {"module": [requests], "raw": [requests]}} between each pair of markers."""
    result = collections.OrderedDict()
    open_section = {}  # thread -> (case, side, requests)
    with open(path, errors="replace") as log:
        for line in log:
            m = REQUEST.match(line)
            if not m:
                continue
            thread, name = m.group(1), m.group(2)
            marker = MARKER.search(line)
            if marker:
                case, side, edge = marker.group(1).replace("+", " "), marker.group(2), marker.group(3)
                if edge == "begin":
                    open_section[thread] = (case, side, [])
                elif thread in open_section:
                    case, side, requests = open_section.pop(thread)
                    result.setdefault(case, {})[side] = requests
                continue
            if thread in open_section:
                open_section[thread][2].append(name)
    return result


def trace_table(counts):
    rows = ["| case | module requests | raw sequence requests | extra in the module |", "|---|---:|---:|---|"]
    for case, sides in counts.items():
        module, raw = sides.get("module", []), sides.get("raw", [])
        extra = collections.Counter(module) - collections.Counter(raw)
        missing = collections.Counter(raw) - collections.Counter(module)
        notes = ", ".join(f"+{n} {k}" for k, n in extra.items()) or "none"
        if missing:
            notes += "; " + ", ".join(f"-{n} {k}" for k, n in missing.items())
        rows.append(f"| {case} | {len(module)} | {len(raw)} | {notes} |")
    return "\n".join(rows)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "trace":
        print(trace_table(trace_counts(sys.argv[2])))
        return 0
    if len(sys.argv) == 4 and sys.argv[1] == "write":
        return write_report(sys.argv[2], sys.argv[3])
    print(__doc__, file=sys.stderr)
    return 2


def write_report(out, folder):
    raise NotImplementedError


if __name__ == "__main__":
    sys.exit(main())
