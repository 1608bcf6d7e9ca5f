#!/usr/bin/env python3
"""How the zor process starts and ends.

Usage: run_program_tests.py ZOR FAULT_PROBE

ZOR is the program; FAULT_PROBE is a test program that starts through the same entry
and then misbehaves in the way its first argument names (see fault_probe.cpp). Each check
runs one process and compares its exit status and output with what the runtime promises:
status 0 and silence for a quit, status 95 and the "no CATCH for THROW" report for any
other throw nobody caught, the runtime error code and report for processor faults.
"""

import re
import subprocess
import sys

TIMEOUT_SECONDS = 120
REPORT_ADDRESS = re.compile(r"^\*\*\* at: ([0-9A-F]{8})h$", re.MULTILINE)

failures = []


def run(command):
    """Runs a command with no input; returns (status, stdout, stderr) as text."""
    try:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, timeout=TIMEOUT_SECONDS)
    except subprocess.TimeoutExpired:
        return None, "", "timed out after %d s" % TIMEOUT_SECONDS
    return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")


def check(name, condition, status, out, err, why):
    if condition:
        print("ok    %s" % name)
        return
    failures.append(name)
    print("FAIL  %s: %s" % (name, why))
    print("      status: %r" % (status,))
    print("      stdout: %r" % out[-2000:])
    print("      stderr: %r" % err[-2000:])


def check_report(name, command, code, message):
    """The process ends with the runtime error code and exactly one two-line report."""
    status, out, err = run(command)
    heading = "*** Runtime Error %d: %s\n" % (code, message)
    check(name, status == code and out.count(heading) == 1 and REPORT_ADDRESS.search(out) is not None,
          status, out, err, "expected status %d and the report %r with an address" % (code, heading.strip()))
    return status, out, err


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    zor, probe = sys.argv[1], sys.argv[2]

    status, out, err = run([zor])
    check("zor starts the runtime and exits with 0, silently", status == 0 and out == "" and err == "",
          status, out, err, "expected status 0 and no output")

    # The quit throw at the top level is a quiet, successful end.
    status, out, err = run([probe, "quit"])
    check("quit throw: status 0, no output", status == 0 and out == "" and err == "",
          status, out, err, "expected status 0 and no output")

    status, out, err = check_report("uncaught throw: runtime error 95", [probe, "uncaught-throw"], 95,
                                    "no CATCH for THROW")
    check("uncaught throw: the report has no address", "*** at: 00000000h\n" in out,
          status, out, err, "expected address 00000000h")

    # The report names the faulting instruction, not the bad data address (16), and comes
    # after the output that was still in the buffer.
    status, out, err = check_report("segv: runtime error 1", [probe, "segv"], 1, "access violation")
    printed = re.search(r"^faulting function: ([0-9A-F]{8})$", out, re.MULTILINE)
    reported = REPORT_ADDRESS.search(out)
    near = False
    if printed and reported:
        offset = int(reported.group(1), 16) - int(printed.group(1), 16)
        near = 0 <= offset < 256
    check("segv: the address is the faulting instruction's", near, status, out, err,
          "expected the reported address within the faulting function")
    check("segv: buffered output comes out before the report",
          printed is not None and reported is not None and printed.start() < reported.start(),
          status, out, err, "expected the function line before the report")

    check_report("integer division by zero: runtime error 13", [probe, "fpe"], 13, "integer divide by zero")
    check_report("illegal instruction: runtime error 17", [probe, "ill"], 17, "illegal instruction")

    # Recursion that ignores the stack guard must end in the stack-overflow report, not
    # in a hang or a plain crash.
    check_report("runaway native recursion: runtime error 19", [probe, "deep-recursion"], 19,
                 "stack error or overflow")

    # Recursion that heeds native_stack_low() stops by itself, deep into the 1 GiB stack.
    status, out, err = run([probe, "stack-guard"])
    used = re.search(r"^stack used MiB: (\d+)$", out, re.MULTILINE)
    check("the stack guard stops recursion within the last MiB of a 1 GiB stack",
          status == 0 and used is not None and 1000 <= int(used.group(1)) < 1024,
          status, out, err, "expected status 0 and between 1000 and 1023 MiB used")

    # Arguments are kept as given; the command line quotes the one that holds a blank.
    status, out, err = run([probe, "arguments", "two words", "caf\u00e9".encode("utf-8"), "--catch"])
    expected = ("command line: %s arguments \"two words\" caf\u00e9 --catch\n"
                "argument: [%s]\nargument: [arguments]\nargument: [two words]\n"
                "argument: [caf\u00e9]\nargument: [--catch]\n") % (probe, probe)
    check("arguments and the command line", status == 0 and out == expected,
          status, out, err, "expected %r" % expected)

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
