#!/usr/bin/env python3
"""Runs one Zor script test and compares what it did with what it should do.

Usage: run_script_test.py ZOR SCRIPT

SCRIPT is tests/scripts/NAME.zor; NAME.out beside it holds the exact expected standard
output (bytes), and NAME.status, when present, the expected exit status (default 0). The
script runs with its own folder as the current directory and no standard input. On a
mismatch the test prints a unified diff of the output (and both statuses) and fails.
"""

import difflib
import os
import subprocess
import sys
import tempfile

TIMEOUT_SECONDS = 300


def expected_status(base):
    try:
        with open(base + ".status") as f:
            return int(f.read().strip())
    except FileNotFoundError:
        return 0


def lines_of(data):
    return data.decode("utf-8", "backslashreplace").splitlines(keepends=True)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    zor, script = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    base = script[:-len(".zor")] if script.endswith(".zor") else script
    with open(base + ".out", "rb") as f:
        expected = f.read()
    status = expected_status(base)

    # The console keeps its settings under HOME: a temporary one, never the user's.
    with tempfile.TemporaryDirectory(prefix="zor-script-home-") as home:
        try:
            done = subprocess.run([zor, os.path.basename(script)], cwd=os.path.dirname(script),
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=TIMEOUT_SECONDS,
                                  env=dict(os.environ, HOME=home))
        except subprocess.TimeoutExpired:
            print("FAIL %s: timed out after %d s" % (script, TIMEOUT_SECONDS))
            return 1

    ok = True
    if done.stdout != expected:
        ok = False
        print("FAIL %s: standard output differs from %s" % (script, os.path.basename(base) + ".out"))
        diff = difflib.unified_diff(lines_of(expected), lines_of(done.stdout), "expected", "actual")
        sys.stdout.writelines(line if line.endswith("\n") else line + "\n\\ no line end\n" for line in diff)
    if done.returncode != status:
        ok = False
        print("FAIL %s: exit status %d, expected %d" % (script, done.returncode, status))
    if not ok and done.stderr:
        print("standard error:")
        print(done.stderr.decode("utf-8", "backslashreplace"))
    if ok:
        print("ok %s" % script)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
