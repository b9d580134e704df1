#!/usr/bin/env python3
"""Each ctest entry's run time as a share of its timeout, from ctest's JUnit
file and the entries' own properties.

Usage: test-times.py BUILD_FOLDER JUNIT_FILE [LIMIT_PERCENT]

Prints one line per entry that ran, slowest share first. With a limit, ends
with 1 when an entry that passed used more of its timeout than that, so that
a slow entry is seen before it times out.
"""
import json
import subprocess
import sys
import xml.etree.ElementTree as ElementTree


def timeouts(build):
    listing = subprocess.run(["ctest", "-N", "--show-only=json-v1"], cwd=build,
                             check=True, capture_output=True, text=True).stdout
    found = {}
    for test in json.loads(listing).get("tests", []):
        for prop in test.get("properties", []):
            if prop.get("name") == "TIMEOUT":
                found[test["name"]] = float(prop["value"])
    return found


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    build, junit = sys.argv[1], sys.argv[2]
    limit = float(sys.argv[3]) if len(sys.argv) > 3 else None
    limits = timeouts(build)
    rows = []
    for case in ElementTree.parse(junit).getroot().iter("testcase"):
        name = case.get("name")
        seconds = float(case.get("time") or 0)
        # ctest's default when an entry sets none.
        timeout = limits.get(name, 1500.0)
        failed = case.find("failure") is not None or case.get("status") == "fail"
        skipped = case.find("skipped") is not None
        rows.append((seconds / timeout * 100, name, seconds, timeout, failed, skipped))
    rows.sort(reverse=True)
    print("\n%-34s %9s %8s %6s" % ("entry", "seconds", "timeout", "share"))
    slow = []
    for share, name, seconds, timeout, failed, skipped in rows:
        mark = " failed" if failed else (" skipped" if skipped else "")
        if limit is not None and not failed and not skipped and share > limit:
            mark = " SLOW: over %.0f %% of its timeout" % limit
            slow.append(name)
        print("%-34s %9.1f %8.0f %5.0f%%%s" % (name, seconds, timeout, share, mark))
    print("%-34s %9.1f" % ("all entries, one after another", sum(r[2] for r in rows)))
    if slow:
        print("\ntest-times: %d entries passed but used more than %.0f %% of their timeout: %s"
              % (len(slow), limit, ", ".join(slow)), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
