#!/usr/bin/env python3
"""The program under hostile conditions: output that cannot be written, error reports
whose values cannot be shown, sources and lines without bound, and programs that would
take all memory.

Usage: run_reliability_tests.py ZOR

Each check runs one zor process, bounded in memory (by the heap limit or ulimit -v) and
in time, and compares its exit status, standard output and standard error with what the
program promises.
"""

import os
import subprocess
import sys
import tempfile

from program_checks import check, run_process, summary, without_banner

TIMEOUT_SECONDS = 60


def run(command, given=b"", env=None, shell=False):
    """Runs the command with the given bytes as standard input; answers (status, stdout,
    stderr) as text, status None on a time-out."""
    environment = dict(os.environ)
    environment.pop("ZOR_HEAP_LIMIT", None)
    environment.update(env or {})
    return run_process(command, TIMEOUT_SECONDS, input=given, env=environment, shell=shell)


def script(folder, name, text):
    path = os.path.join(folder, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def check_reports(zor):
    """Printing an error report never raises: the line loop goes on."""
    status, out, err = run([zor], b"to pair! 1x1 * 1e300\nprint \"next\"\n")
    out = without_banner(out) or ""
    check("a report of a value past every notation is printed; the next line runs",
          status == 0 and out.startswith("*** Script Error: invalid argument: ") and out.endswith("\n\nnext\n"),
          status, out, err, "expected the report, an empty line and then next")


def check_output_failures(zor, folder):
    """Output that cannot be written is a failure, except a reader that went away."""
    printing = script(folder, "printing.zor", "Zor []\nprint \"lost\"\nprint \"after\"\n")
    for name, redirect in [("a full device", "> /dev/full"), ("a closed standard output", ">&-")]:
        status, out, err = run("%s %s %s" % (zor, printing, redirect), shell=True)
        check("output to %s: a message on standard error and status 1" % name,
              status == 1 and err.startswith("*** Error: cannot write to standard output: ") and err.count("\n") == 1,
              status, out, err, "expected status 1 and one line on standard error")

    # A script that would print forever stops quietly once its reader has gone.
    endless = script(folder, "endless.zor", "Zor []\nforever [print \"y\"]\n")
    try:
        process = subprocess.Popen([zor, endless], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = process.stdout.readline()
        process.stdout.close()
        status = process.wait(timeout=TIMEOUT_SECONDS)
        err = process.stderr.read().decode("utf-8", "replace")
        process.stderr.close()
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        first, status, err = b"", None, "timed out"
    check("a reader that goes away (| head) ends the script quietly with status 0",
          status == 0 and first == b"y\n" and err == "", status, first.decode(), err,
          "expected status 0 and nothing on standard error")


def check_memory_bounds(zor, folder):
    """The heap limit, the series limit and the cap on sources; each run is bounded by a
    small heap limit, so none takes much memory."""
    small = {"ZOR_HEAP_LIMIT": "64M"}
    doubling = script(folder, "doubling.zor", "Zor []\nb: copy [] loop 60 [b: reduce [b b]]\n"
                      "r: try [c: copy/deep b]\nprint r/id\nb: r: none\n"
                      "x: copy [] loop 1000 [append x 1] print length? x\n")
    status, out, err = run([zor, doubling], env=small)
    check("a copy that would take all memory raises no-memory; try catches it and the script goes on",
          status == 0 and out == "no-memory\n1000\n", status, out, err, "expected no-memory then 1000")

    for native in ["reduce", "compose"]:
        given = ("b: copy [1 2]\nr: try [%s/into b b]\nr/id\n" % native).encode()
        status, out, err = run([zor], given, env=small)
        check("%s/into b b ends in no-memory" % native, status == 0 and out.endswith("== no-memory\n"),
              status, out, err, "expected == no-memory")

    # A request past the series limit raises at once, before it takes any memory.
    status, out, err = run([zor], b"s: make string! 0\nr: try [append/dup s \"ab\" 1200000000]\nr/id\nlength? s\n")
    check("growth past the series limit raises no-memory", status == 0 and out.endswith("== no-memory\n== 0\n"),
          status, out, err, "expected == no-memory and an unchanged string")

    # A script that cannot be read, with nobody at a terminal: status 1, no prompt loop.
    status, out, err = run([zor, "/dev/zero"], env=small)
    check("a source without end is refused while it is read",
          status == 1 and out.startswith("*** Internal Error: not enough memory\n"), status, out, err,
          "expected the no-memory report and status 1")

    status, out, err = run([zor], b"x" * (40 << 20) + b"\nprint 1\n", env={"ZOR_HEAP_LIMIT": "16M"})
    out = without_banner(out) or ""
    check("a line longer than the limit is refused, and the next line runs",
          status == 0 and out.startswith("*** Internal Error: not enough memory\n") and out.endswith("\n\n1\n"),
          status, out, err, "expected the no-memory report, an empty line and then 1")

    for setting in ["12Q", "", "M", "-5M"]:
        status, out, err = run([zor], b"", env={"ZOR_HEAP_LIMIT": setting})
        check("ZOR_HEAP_LIMIT=%r is refused at start-up" % setting,
              status == 1 and out.startswith("*** Error: ZOR_HEAP_LIMIT is no size: "), status, out, err,
              "expected the message and status 1")
    for setting in ["64m", "1G", "2GiB", "100000000", "512MB"]:
        status, out, err = run([zor], b"1 + 2\n", env={"ZOR_HEAP_LIMIT": setting})
        check("ZOR_HEAP_LIMIT=%r is a size" % setting, status == 0 and without_banner(out) == "== 3\n",
              status, out, err,
              "expected == 3")


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    zor = os.path.abspath(sys.argv[1])
    folder = tempfile.mkdtemp(prefix="zor-reliability-test-")
    check_reports(zor)
    check_output_failures(zor, folder)
    check_memory_bounds(zor, folder)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
