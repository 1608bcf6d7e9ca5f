#!/usr/bin/env python3
"""How the zor process starts and ends.

Usage: run_program_tests.py ZOR FAULT_PROBE

ZOR is the program; FAULT_PROBE is a test program that starts through the same entry
and then misbehaves in the way its first argument names (see fault_probe.cpp). Each check
runs one process and compares its exit status and output with what the runtime promises:
status 0 and silence for a quit, status 95 and the "no CATCH for THROW" report for any
other throw nobody caught, the error report and status 254 for an error while a boot
source installs, the runtime error code and report for processor faults; and
how zor runs a script file or the lines of its standard input.
"""

import os
import re
import subprocess
import sys
import tempfile

from program_checks import check, run_process, summary, without_banner

TIMEOUT_SECONDS = 120
REPORT_ADDRESS = re.compile(r"^\*\*\* at: ([0-9A-F]{8})h$", re.MULTILINE)


def run(command, given=None, cwd=None):
    """Runs a command with the given text as standard input (none when None); returns
    (status, stdout, stderr) as text."""
    if given is None:
        return run_process(command, TIMEOUT_SECONDS, stdin=subprocess.DEVNULL, cwd=cwd)
    return run_process(command, TIMEOUT_SECONDS, input=given.encode("utf-8"), cwd=cwd)


def check_report(name, command, code, message):
    """The process ends with the runtime error code and exactly one two-line report."""
    status, out, err = run(command)
    heading = "*** Runtime Error %d: %s\n" % (code, message)
    check(name, status == code and out.count(heading) == 1 and REPORT_ADDRESS.search(out) is not None,
          status, out, err, "expected status %d and the report %r with an address" % (code, heading.strip()))
    return status, out, err


# The start of an error report as the runtime prints it.
REPORT = re.compile(r"^\*\*\* \w+ Error: ", re.MULTILINE)


def block_of(ones, last=None):
    """The text of a block of that many 1s (and one more item when given)."""
    items = ["1"] * ones + ([last] if last else [])
    return "[" + " ".join(items) + "]"


def check_lines(zor):
    """Without a script, the console shows its banner and each line of standard input is a
    command (or a part of one: a block left open continues on the next line)."""
    cases = [
        # (name, input, expected output exactly)
        ("a result prints after \"== \"", "1 + 2\n", "== 3\n"),
        ("each line is a command; the last line needs no line end", "1 + 2\n10 - 4", "== 3\n== 6\n"),
        ("an unset! result prints nothing", "()\n", ""),
        ("empty and blank lines print nothing", "\n   \n\t\n", ""),
        ("CR LF line ends", "2 * 3\r\n", "== 6\n"),
        ("a float! is formed", "1.5\n", "== 1.5\n"),
        ("a string is molded", "\"a b\"\n", "== \"a b\"\n"),
        # Redirected output is 80 columns wide: limit 77, so a longer mold is cut to
        # 77 - 3 (the prompt ">> ") - 1 = 73 characters and "..." follows.
        ("a long result is cut to the width", block_of(40) + "\n", "== %s...\n" % block_of(40)[:73]),
        ("a result one longer than the limit is cut", block_of(37, "22") + "\n",
         "== %s...\n" % block_of(37, "22")[:73]),
        ("a result of exactly the limit is not cut", block_of(38) + "\n", "== %s\n" % block_of(38)),
    ]
    for name, given, expected in cases:
        status, out, err = run([zor], given)
        check("lines: " + name, status == 0 and without_banner(out) == expected, status, out, err,
              "expected the banner and %r" % expected)

    # An error prints its report and an empty line; the loop goes on.
    status, out, err = run([zor], "no-such-word\n1 + 2\n")
    out = without_banner(out) or ""
    reports = REPORT.findall(out)
    check("lines: an error prints the report and an empty line, then the loop goes on",
          status == 0 and out.startswith("*** Script Error: no-such-word has no value\n")
          and out.endswith("\n\n== 3\n") and len(reports) == 1,
          status, out, err, "expected the report, an empty line, then == 3")

    # A line that does not load prints the load error's report; the loop goes on.
    status, out, err = run([zor], "[1 2)\n4 + 5\n")
    out = without_banner(out) or ""
    check("lines: a load error prints its report, then the loop goes on",
          status == 0 and out.startswith("*** Syntax Error: ") and out.endswith("\n== 9\n"),
          status, out, err, "expected a syntax error report, then == 9")


def check_scripts(zor):
    """A script file named on the command line."""
    folder = tempfile.mkdtemp(prefix="zor-program-test-")

    def script(name, text):
        path = os.path.join(folder, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    ran = script("ran.zor", "Text before the header is not code [\nZor [Title: \"t\"]\nprint 1 + 2\n")
    status, out, err = run([zor, ran, "its", "arguments"])
    check("script: the code after the header runs, status 0", status == 0 and out == "3\n",
          status, out, err, "expected 3 and status 0")

    quiet = script("quiet.zor", "Zor []  1 + 2")
    status, out, err = run([zor, quiet])
    check("script: no result is printed", status == 0 and out == "",
          status, out, err, "expected no output and status 0")

    # Zor/System code needs compiling, also when a plain header follows it.
    compiled = script("compiled.zor", "Zor/System\t\n[]  Zor[] 1 + 2")
    status, out, err = run([zor, compiled])
    check("script: Zor/System code before a header", status == 1 and out.startswith(
          "*** Internal Error: contains Zor/System code which requires compilation\n"),
          status, out, err, "expected the report and status 1")

    headless = script("headless.zor", "print 1\nzor [] Zor(1)\n")
    status, out, err = run([zor, headless])
    check("script: no header", status == 1 and out == "*** Error: Zor header not found!\n",
          status, out, err, "expected the message and status 1")

    system = script("system.zor", "Zor/System [] print 1\n")
    status, out, err = run([zor, system])
    check("script: Zor/System code", status == 1 and out == "*** Error: contains Zor/System code which requires "
          "compilation!\n", status, out, err, "expected the message and status 1")

    failing = script("failing.zor", "Zor []\nprint \"before\"\nno-such-word\nprint \"after\"\n")
    status, out, err = run([zor, failing])
    check("script: an error prints the report and ends with status 1",
          status == 1 and out.startswith("before\n*** Script Error: no-such-word has no value\n")
          and "\nafter\n" not in out, status, out, err, "expected the report after 'before' and status 1")

    unloadable = script("unloadable.zor", "Zor [] print [1\n")
    status, out, err = run([zor, unloadable])
    check("script: a text that does not load prints the report and ends with status 1",
          status == 1 and out.startswith("*** Syntax Error: "), status, out, err,
          "expected a syntax error report and status 1")

    status, out, err = run([zor, os.path.join(folder, "missing.zor")])
    # With redirected input there is nobody to use the prompt it would fall back to.
    check("script: a missing file prints the report and ends with status 1",
          status == 1 and out.startswith("*** Access Error: cannot open: ") and "--== Zor " not in out,
          status, out, err, "expected the cannot-open report, no banner and status 1")

    status, out, err = run([zor, "--catch", failing], "1 + 2\n")
    check("script: --catch goes on with the lines of standard input",
          status == 0 and out.startswith("before\n*** Script Error: ") and out.endswith("== 3\n"),
          status, out, err, "expected the script's output, its report, then == 3")

    status, out, err = run([zor, "--", ran])
    check("script: \"--\" ends the switches", status == 0 and out == "3\n", status, out, err, "expected 3")


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    zor, probe = sys.argv[1], sys.argv[2]

    status, out, err = run([zor])
    check("zor starts the console and exits with 0 at the end of its input",
          status == 0 and without_banner(out) == "" and err == "",
          status, out, err, "expected status 0 and the banner alone")

    # The quit throw at the top level is a quiet, successful end.
    status, out, err = run([probe, "quit"])
    check("quit throw: status 0, no output", status == 0 and out == "" and err == "",
          status, out, err, "expected status 0 and no output")

    # The boot sources have no error handling of their own: an error while one installs
    # ends the process with its report and status 254, and nothing after it runs.
    status, out, err = run([probe, "boot-error"])
    check("boot error: the report and status 254",
          status == 254 and out.startswith("installing\n*** Script Error: no-such-word has no value\n")
          and "\nafter\n" not in out, status, out, err, "expected the output before the error, its report and 254")
    status, out, err = run([probe, "boot-throw"])
    check("boot throw nothing catches: the no-catch report and status 254",
          status == 254 and out.startswith("*** Throw Error: no catch for throw: 1\n"),
          status, out, err, "expected the no-catch report and 254")

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

    check_lines(zor)
    check_scripts(zor)

    return summary()


if __name__ == "__main__":
    sys.exit(main())
