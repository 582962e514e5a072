#!/usr/bin/env python3
"""Prints how many tests CTest skipped and why, from the JUnit reports it wrote.

Usage: skipped.py REPORT.xml...  A test's reason is GoogleTest's message after "Skipped"
or a script's "SKIP:" line. Exits 0: a skip is a fact about the machine, not a failure.
"""
import sys
import xml.etree.ElementTree as ET


def reason(output):
    lines = [line.strip() for line in (output or "").splitlines()]
    for i, line in enumerate(lines):
        if line.startswith("SKIP:"):
            return line[len("SKIP:"):].strip()
        if line.endswith(": Skipped") or line == "Skipped":
            rest = [l for l in lines[i + 1:] if l]
            if rest:
                return rest[0]
    return "no reason given"


def main(reports):
    skipped = []
    for report in reports:
        try:
            root = ET.parse(report).getroot()
        except (OSError, ET.ParseError) as e:
            print(f"dev: cannot read the test report {report}: {e}")
            continue
        for case in root.iter("testcase"):
            if case.get("status") == "notrun" or case.find("skipped") is not None:
                out = case.find("system-out")
                skipped.append((case.get("name"), reason(out.text if out is not None else "")))
    if not skipped:
        print("dev: no test was skipped")
        return 0
    print(f"dev: {len(skipped)} test{'s were' if len(skipped) > 1 else ' was'} skipped:")
    for name, why in skipped:
        print(f"  {name}: {why}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
