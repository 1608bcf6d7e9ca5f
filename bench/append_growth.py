#!/usr/bin/env python3
"""Appending one value at a time to a block, up to 200 M appends: the time and the peak
resident memory of each run, at sizes that double.

Usage: append_growth.py ZOR [COUNT ...]

Each count runs in a fresh zor process (`b: copy [] loop COUNT [append b 1]`), so its peak
is its own. Growth is geometric up to the series limit (2 GiB of cells, about 134 M
values), and a replaced large buffer goes back to the system at once, so the time grows
in proportion to the count and the peak stays near twice the block's final size. 200 M
appends pass the limit: that run ends in internal/no-memory, caught by `try`, and
reports how many values the block reached.
"""

import os
import subprocess
import sys
import time

DEFAULT_COUNTS = [25_000_000, 50_000_000, 100_000_000, 200_000_000]


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    zor = sys.argv[1]
    counts = [int(c) for c in sys.argv[2:]] or DEFAULT_COUNTS
    print("%12s %10s %12s  %s" % ("appends", "seconds", "peak MiB", "result"))
    for count in counts:
        started = time.monotonic()
        process = subprocess.Popen([zor], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        code = ("b: copy [] r: try [loop %d [append b 1]] "
                "print [length? b either error! = type? :r [r/id] ['done]]\n" % count)
        process.stdin.write(code.encode())
        process.stdin.close()
        out = process.stdout.read().decode("utf-8", "replace").strip()
        process.stdout.close()
        _, status, usage = os.wait4(process.pid, 0)
        elapsed = time.monotonic() - started
        print("%12d %10.2f %12d  %s" % (count, elapsed, usage.ru_maxrss // 1024, out.replace("== ", "")))
        sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
