#!/usr/bin/env python3
"""quit and halt end the process with their status, and always end it.

Usage: run_quit_tests.py ZOR

Each check writes a small script into a temporary directory (which is also the HOME of
the run), runs it and compares the exit status and the output. When a console object is
set and `_save-cfg` exists, quit saves the settings first; a save that fails prints one
warning line and the process still ends with the status it was given.
"""

import os
import sys
import tempfile

from program_checks import check, run_process, summary

TIMEOUT_SECONDS = 120

# Makes a console object and a `_save-cfg` that writes the settings file at the path given.
CONSOLE = """
if not value? 'system [system: make object! [console: none]]
system/console: make object! [history: copy []]
_save-cfg: func [] [write %%%s "settings"]
"""

CASES = [
    # (name, script body, expected status, expected output)
    ("quit without a status ends with 0", 'print "before"\nquit\nprint "after"', 0, "before\n"),
    ("quit/return gives its status", "quit/return 3\nprint \"after\"", 3, ""),
    ("quit/return 0", "quit/return 0", 0, ""),
    ("a status is taken modulo 256 by the system", "quit/return 258", 2, ""),
    ("quit inside a function and a loop", "f: does [loop 3 [quit/return 4]]\nf\nprint 1", 4, ""),
    ("try does not catch quit", "try [quit/return 5]\nprint 1", 5, ""),
    ("attempt/safer does not catch quit", "attempt/safer [quit/return 6]\nprint 1", 6, ""),
    ("halt ends the script's evaluation", "halt\nprint 1", 0, "(halted)\n"),
    ("quit/return with a bad status is an error", "quit/return \"x\"", 1, None),
]


def run_script(zor, folder, name, body):
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write("Zor []\n" + body + "\n")
    env = dict(os.environ, HOME=folder)
    return run_process([zor, name], TIMEOUT_SECONDS, cwd=folder, env=env)


def main():
    zor = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as folder:
        for index, (name, body, status_wanted, out_wanted) in enumerate(CASES):
            status, out, err = run_script(zor, folder, "case%d.zor" % index, body)
            check(name, status == status_wanted and (out_wanted is None or out == out_wanted),
                  status, out, err, "expected status %d and %r" % (status_wanted, out_wanted))

        # With a console, quit saves the settings first.
        settings = os.path.join(folder, "console-cfg.zor")
        status, out, err = run_script(zor, folder, "saves.zor", CONSOLE % settings + "quit/return 7")
        saved = os.path.exists(settings) and open(settings).read() == "settings"
        check("quit saves the console settings, then ends", status == 7 and out == "" and saved,
              status, out, err, "expected status 7 and the settings file written")

        # A save that cannot write warns once and still ends the process with its status.
        unwritable = os.path.join(folder, "no-such-folder", "console-cfg.zor")
        for body, wanted in [("quit/return 9", 9), ("quit", 0)]:
            status, out, err = run_script(zor, folder, "unwritable.zor", CONSOLE % unwritable + body)
            check("quit ends the process when the settings cannot be saved (%s)" % body,
                  status == wanted and out == "*** Warning: the console settings could not be saved\n",
                  status, out, err, "expected status %d and one warning line" % wanted)

        # A save that itself throws or breaks out is contained the same way.
        status, out, err = run_script(zor, folder, "throws.zor",
                                      CONSOLE % settings + "_save-cfg: does [throw 1]\nquit/return 8")
        check("a settings save that throws still lets quit end", status == 8 and out.count("Warning") == 1,
              status, out, err, "expected status 8 and one warning line")
    return summary()


if __name__ == "__main__":
    sys.exit(main())
