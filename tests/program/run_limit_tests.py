#!/usr/bin/env python3
"""zor under an address-space limit (RLIMIT_AS, what `ulimit -v` sets).

Usage: run_limit_tests.py ZOR FAULT_PROBE

The node space and the interpreter's stack are reservations sized from the limit, so zor
starts under limits of 1 GB and 512 MB, evaluates code, reports memory it cannot have as
the catchable internal/no-memory error and deep recursion as internal/stack-overflow.
Under a limit too small for even the smallest reservations it ends with one line and
status 1. FAULT_PROBE (see fault_probe.cpp) shows how big the interpreter's stack became.

A sanitizer build maps terabytes of shadow memory and cannot run under such a limit;
the checks are skipped for it.
"""

import os
import re
import resource
import sys
import tempfile

from program_checks import check, run_process, summary, without_banner

TIMEOUT_SECONDS = 240
MiB = 1 << 20
LIMITS = [("1 GB", 1 << 30), ("512 MB", 512 * MiB)]


def run(command, limit, given=None):
    """Runs a command under the address-space limit; returns (status, stdout, stderr)."""
    def limited():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

    return run_process(command, TIMEOUT_SECONDS, input=(given or "").encode("utf-8"), preexec_fn=limited)


def sanitized(program):
    with open(program, "rb") as f:
        return b"__asan_init" in f.read()


# Each case prints the error's type and id (or "no error") from inside `try`. They run in
# one script, in this order, so each also shows that memory runs out again, and is
# reported again, after an earlier exhaustion.
EXHAUSTION_CASES = [
    ("a string that keeps doubling", "x: copy {abcdefgh} loop 40 [append x x]"),
    ("a block that keeps doubling", "x: copy [1 2 3 4] loop 40 [append x x]"),
    ("one series larger than the limit", "x: make string! 1500000000"),
    # Small series, each kept: the series frames (1 GB) or the node space (512 MB) run out.
    ("millions of small series", "held: copy [] loop 100000000 [append/only held copy [1 2]]"),
    # With all of that still held, the next small allocations still get the error.
    ("more small series while memory is full", "more: copy [] loop 100000000 [append/only more copy [1 2]]"),
    ("one more big series while memory is full", "more: make block! 10000000"),
]

EXHAUSTION_SCRIPT = """Zor []
report: func [e] [either error! = type? e [print [e/type e/id]] [print "no error"]]
%s
held: more: x: none
y: copy "abcd" loop 20 [append y y]
print length? y
""" % "\n".join("report try [%s]" % code for _, code in EXHAUSTION_CASES)


def check_limit(zor, probe, label, limit, folder):
    def script(name, text):
        path = os.path.join(folder, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    status, out, err = run([zor, script("sum.zor", "Zor []\nprint 1 + 2\n")], limit)
    check("%s: zor starts and runs a script" % label, status == 0 and out == "3\n", status, out, err,
          "expected 3 and status 0")

    status, out, err = run([zor], limit, "10 * 4\n")
    check("%s: zor evaluates standard input" % label, status == 0 and without_banner(out) == "== 40\n",
          status, out, err,
          "expected == 40")

    status, out, err = run([zor, script("exhaust.zor", EXHAUSTION_SCRIPT)], limit)
    lines = out.split("\n")
    for i, (name, _) in enumerate(EXHAUSTION_CASES):
        got = lines[i] if i < len(lines) else None
        check("%s: try catches internal/no-memory: %s" % (label, name),
              status == 0 and got == "internal no-memory", status, out, err,
              "expected line %d to be 'internal no-memory', got %r" % (i + 1, got))
    check("%s: after memory ran out and was let go, the script allocates again" % label,
          status == 0 and out.endswith("\n4194304\n"), status, out, err, "expected 4194304 at the end")

    status, out, err = run([zor, script("uncaught.zor", "Zor []\nx: copy {ab} loop 40 [append x x]\n")], limit)
    check("%s: uncaught, no-memory prints its report and ends the script with status 1" % label,
          status == 1 and out.startswith("*** Internal Error: not enough memory\n"), status, out, err,
          "expected the no-memory report and status 1")

    recursion = script("recursion.zor", """Zor []
report: func [e] [either error! = type? e [print [e/type e/id]] [print "no error"]]
f: func [n] [f n + 1]
report try [f 1]
nested: copy [] loop 1000000 [nested: reduce [nested]]
report try [compose/deep nested]
print "still running"
""")
    status, out, err = run([zor, recursion], limit)
    expected = "internal stack-overflow\ninternal stack-overflow\nstill running\n"
    check("%s: deep recursion (functions, and natives on deep data) raises stack-overflow" % label,
          status == 0 and out == expected, status, out, err, "expected %r" % expected)

    # The stack is sized from the limit, and the native-depth guard stops recursion near
    # its end (a little under an eighth of the limit; most of the limit is left to data).
    status, out, err = run([probe, "stack-guard"], limit)
    used = re.search(r"^stack used MiB: (\d+)$", out, re.MULTILINE)
    check("%s: the stack guard stops recursion on the smaller stack" % label,
          status == 0 and used is not None and limit // 16 <= int(used.group(1)) * MiB < limit // 8,
          status, out, err, "expected status 0 and between %d and %d MiB used" % (limit // 16 // MiB,
                                                                                 limit // 8 // MiB))

    status, out, err = run([probe, "deep-recursion"], limit)
    check("%s: recursion that ignores the guard still ends in runtime error 19" % label,
          status == 19 and "*** Runtime Error 19: stack error or overflow\n" in out, status, out, err,
          "expected the stack-overflow report")


def check_too_small(zor):
    limit = 24 * MiB
    status, out, err = run([zor], limit, "1 + 2\n")
    check("a limit too small to start: one line saying what could not be reserved, status 1",
          status == 1 and re.fullmatch(r"\*\*\* Error: cannot reserve \d+ MiB of address space for [^\n]+"
                                       r" \(limit 24 MiB\)\n", out) is not None,
          status, out, err, "expected one 'cannot reserve' line and status 1")


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    zor, probe = sys.argv[1], sys.argv[2]
    if sanitized(zor):
        print("skipped: a sanitizer build cannot run under an address-space limit")
        return 0

    folder = tempfile.mkdtemp(prefix="zor-limit-test-")
    for label, limit in LIMITS:
        check_limit(zor, probe, label, limit, folder)
    check_too_small(zor)

    return summary()


if __name__ == "__main__":
    sys.exit(main())
