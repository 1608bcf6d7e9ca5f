#!/usr/bin/env python3
"""The console with redirected standard input and output.

Usage: console_tests.py ZOR

Each check runs zor with its HOME in a temporary folder and the lines given as standard
input, and compares the output after the banner and the exit status. With redirected
input no prompt is shown, so what the prompt loop does shows in the results: their cut
to the 80 columns of redirected output (which leaves room for the prompt shown), errors,
multi-line commands, Esc, halt, quit, and the settings file written on quit.
"""

import os
import re
import subprocess
import sys
import tempfile

from program_checks import check, run_process, summary, without_banner

TIMEOUT_SECONDS = 120
# The folder of this run's temporary files (set by main), so nothing outlives the run.
scratch = None


def run(zor, given, args=(), home=None, cwd=None):
    """Runs zor with the text as standard input; returns (status, stdout, stderr)."""
    env = dict(os.environ, HOME=home or tempfile.mkdtemp(prefix="home-", dir=scratch))
    env.pop("ZOR_HEAP_LIMIT", None)
    return run_process([zor] + list(args), TIMEOUT_SECONDS, input=given.encode("utf-8"), env=env, cwd=cwd)


def ones(count):
    return "[" + " ".join(["1"] * count) + "]"


LONG = ones(40)

# (name, standard input, expected output after the banner)
LOOP_CASES = [
    ("a result", "1 + 2\n", "== 3\n"),
    ("a float is formed, a string molded", "1.5\n\"a b\"\n", "== 1.5\n== \"a b\"\n"),
    ("an unset result prints nothing", "print \"x\"\n", "x\n"),
    ("empty lines at the prompt are ignored", "\n\n1\n", "== 1\n"),
    ("the last line needs no line end", "1 + 2\n3 * 3", "== 3\n== 9\n"),
    ("CR LF line ends", "2 * 3\r\n", "== 6\n"),
    ("a block continues on the next lines", "[\n1 + 2\n]\n", "== [\n    1 + 2\n]\n"),
    ("an empty line inside a command is kept", "length? {a\n\nb}\n", "== 4\n"),
    ("a paren, a multi-line string and a tag left open continue",
     "(1 +\n2)\nlength? {ab\ncd}\n<a\nb>\n", "== 3\n== 5\n== <a\nb>\n"),
    ("an open block inside a closed one", "[(\n)]\n", "== [()]\n"),
    ("Esc drops the line", "1 + \x1b\n2\n", "(escape)\n== 2\n"),
    ("Esc drops a pending multi-line command", "[\n1 2\x1b\n3\n", "(escape)\n== 3\n"),
    ("the console is 80 columns wide: a long result is cut after 73 characters",
     LONG + "\n", "== %s...\n" % LONG[:73]),
    ("a result of exactly the limit is not cut", ones(38) + "\n", "== %s\n" % ones(38)),
    ("halt returns to the prompt", "halt\n1\n", "(halted)\n== 1\n"),
    ("halt inside a function", "f: does [print 1 halt print 2] ()\nf\n3\n", "1\n(halted)\n== 3\n"),
    ("a command whose value is the word halt-request is a result", "'halt-request\n", "== halt-request\n"),
    ("a prompt function's text is what the cut leaves room for",
     "system/console/prompt: does [\"0123456789\"] ()\n" + LONG + "\n", "== %s...\n" % LONG[:66]),
    ("a prompt block shows formed", "system/console/prompt: [a b c] ()\n" + LONG + "\n", "== %s...\n" % LONG[:71]),
    ("an integer prompt shows formed", "system/console/prompt: 12345 ()\n" + LONG + "\n", "== %s...\n" % LONG[:71]),
    ("a result prefix function", "system/console/result: does [\"=>\"] ()\n1\n", "=> 1\n"),
    ("a result prefix that is no string prints none", "system/console/result: 5 ()\n1\n", "none 1\n"),
    ("a tiny width still cuts without failing", "system/console/size: 4x10 ()\n" + LONG + "\n", "== ...\n"),
    ("a history that is no block any more is replaced", "system/console/history: none ()\n1\n", "== 1\n"),
    ("the console's size with redirected input", "system/console/size\n", "== 80x50\n"),
    ("ask and input read the next lines", "probe ask \"q? \"\nhello\nprobe input\nworld\n",
     "\"hello\"\n== \"hello\"\n\"world\"\n== \"world\"\n"),
    ("ask/history records nothing with redirected input", "h: copy [] ()\nask/history \"\" h\nx\nh\n", "== \"x\"\n== []\n"),
]


def check_loop(zor):
    for name, given, expected in LOOP_CASES:
        status, out, err = run(zor, given)
        shown = without_banner(out)
        check("loop: " + name, status == 0 and shown == expected, status, out, err,
              "expected the banner, then %r" % expected)

    status, out, err = run(zor, "[1 2)\n4\n")
    shown = without_banner(out) or ""
    check("loop: a closing delimiter that does not match is reported at once",
          status == 0 and shown.startswith("*** Syntax Error: ") and shown.endswith("\n== 4\n"),
          status, out, err, "expected a syntax error report, then == 4")

    status, out, err = run(zor, "no-such-word\n1 + 2\n")
    shown = without_banner(out) or ""
    check("loop: an error prints its report and an empty line, then the loop goes on",
          status == 0 and shown.startswith("*** Script Error: no-such-word has no value\n")
          and shown.endswith("\n\n== 3\n"), status, out, err, "expected the report, an empty line, == 3")

    status, out, err = run(zor, "throw/name 1 'other\n2\n")
    shown = without_banner(out) or ""
    check("loop: a throw that is no halt request is reported as an error",
          status == 0 and shown.startswith("*** Throw Error: ") and shown.endswith("== 2\n"),
          status, out, err, "expected a throw error report, then == 2")

    status, out, err = run(zor, "system/console/prompt: does [1 / 0] ()\n1\nsystem/console/prompt\n")
    shown = without_banner(out) or ""
    check("loop: a failing prompt is reported and the default prompt comes back",
          status == 0 and shown.startswith("*** Math Error: attempt to divide by zero\n*** Where: system/console/prompt\n")
          and shown.endswith("== 1\n== \">> \"\n"), status, out, err,
          "expected the report with its where, then == 1 and the default prompt")

    status, out, err = run(zor, "system/console/result: does [1 / 0] ()\n1\n")
    shown = without_banner(out) or ""
    check("loop: a failing result prefix is reported and the default prefix used",
          status == 0 and "*** Where: system/console/result\n" in shown and shown.endswith("== 1\n"),
          status, out, err, "expected the report with its where, then == 1")

    status, out, err = run(zor, "1 + 2\nquit/return 3\nprint 4\n")
    check("loop: quit/return gives its status", status == 3 and without_banner(out) == "== 3\n",
          status, out, err, "expected == 3 and status 3")

    status, out, err = run(zor, "[1 2\n3")
    check("loop: the end of input inside an open command ends the program with 0",
          status == 0 and without_banner(out) == "", status, out, err, "expected nothing and status 0")

    status, out, err = run(zor, "")
    check("loop: empty input shows the banner and ends with 0", status == 0 and without_banner(out) == "",
          status, out, err, "expected the banner alone")


def write(folder, name, text):
    path = os.path.join(folder, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def check_scripts(zor, folder):
    args = write(folder, "args.zor", "Zor [Title: \"args\"]\nprobe system/script/args\nprobe system/options/args\n"
                 "probe system/script/header/title\nprobe system/options/script\n")
    status, out, err = run(zor, "", [args, "a", "b c", "--catch"])
    check("script: its own arguments in system/script/args and system/options/args",
          status == 0 and out == '{a "b c" --catch}\n["a" "b c" "--catch"]\n"args"\n%' + args + "\n",
          status, out, err, "expected the script's arguments only")

    status, out, err = run(zor, "", ["--x", "--catch", "--", args, "z"])
    check("script: switches, then \"--\", then the script",
          status == 0 and out.startswith('"z"\n["z"]\n'), status, out, err,
          "expected z as the only argument, and the prompt loop (no banner) after it")

    status, out, err = run(zor, "1 + 2\n", ["--catch", args])
    check("script: --catch goes on with the prompt loop, without the banner",
          status == 0 and out.endswith("== 3\n") and without_banner(out) is None and "--== Zor " not in out,
          status, out, err, "expected the script's output, then == 3")

    sub = os.path.join(folder, "sub")
    os.makedirs(sub, exist_ok=True)
    where = write(sub, "where.zor", "Zor []\nprint last split-path what-dir\nprint read %data.txt\n")
    write(sub, "data.txt", "beside")
    status, out, err = run(zor, "", [os.path.relpath(where, folder)], cwd=folder)
    check("script: it runs in its own folder", status == 0 and out == "sub/\nbeside\n", status, out, err,
          "expected sub/ and the file beside it")

    failing = write(folder, "failing.zor", "Zor []\nprint \"before\"\n1 / 0\nprint \"after\"\n")
    status, out, err = run(zor, "", [failing])
    check("script: a failing script reports and ends with status 1",
          status == 1 and out.startswith("before\n*** Math Error: ") and "\nafter\n" not in out,
          status, out, err, "expected the report and status 1")

    status, out, err = run(zor, "2 + 2\n", ["--catch", failing])
    check("script: a failing script with --catch goes on with the prompt loop",
          status == 0 and out.startswith("before\n*** Math Error: ") and out.endswith("== 4\n"),
          status, out, err, "expected the report, then == 4")

    value = write(folder, "value.zor", "Zor []\ntry [1 / 0]\n")
    status, out, err = run(zor, "", [value])
    check("script: an error value as the script's result is printed; the script ran",
          status == 0 and out.startswith("*** Math Error: "), status, out, err, "expected the report and status 0")

    halted = write(folder, "halted.zor", "Zor []\nprint 1\nhalt\nprint 2\n")
    status, out, err = run(zor, "", [halted])
    check("script: halt ends the script", status == 0 and out == "1\n(halted)\n", status, out, err,
          "expected 1, (halted) and status 0")

    directive = write(folder, "directive.zor", "Zor []\n#do [x: 6 * 7]\nprint #do keep [x]\n")
    status, out, err = run(zor, "", [directive])
    check("script: the preprocessor runs on it", status == 0 and out == "42\n", status, out, err, "expected 42")

    bad_directive = write(folder, "bad-directive.zor", "Zor []\n#do [1 / 0]\nprint 1\n")
    status, out, err = run(zor, "", [bad_directive])
    check("script: a preprocessor error ends it with status 1",
          status == 1 and out.startswith("*** Preprocessor Error") and "\n1\n" not in out,
          status, out, err, "expected the preprocessor's report and status 1")

    cases = [
        ("no header", "print 1\n", "*** Error: Zor header not found!\n"),
        ("a header that is no block of a Zor word", "Zor [\n", None),
        ("no Zor word before a block", "zor [] Zor [x] [", None),
        ("Zor/System code", "Zor/System [] 1\n", "*** Error: contains Zor/System code which requires compilation!\n"),
    ]
    for name, text, expected in cases:
        path = write(folder, "bad.zor", text)
        status, out, err = run(zor, "", [path])
        check("script: %s ends with status 1" % name,
              status == 1 and (expected is None or out == expected) and "--== Zor " not in out,
              status, out, err, "expected %r and status 1" % expected)

    status, out, err = run(zor, "", [os.path.join(folder, "missing.zor")])
    check("script: one that cannot be read ends with status 1 when nobody is at a terminal",
          status == 1 and out.startswith("*** Access Error: cannot open: ") and "--== Zor " not in out,
          status, out, err, "expected the report and status 1")


def settings_path(home):
    return os.path.join(home, ".zor", "Zor-Console", "console-cfg.zor")


def check_settings(zor, folder):
    home = tempfile.mkdtemp(prefix="zor-console-home-", dir=folder)
    status, out, err = run(zor, "1\n", home=home)
    check("settings: the folder is made at start-up; the end of input saves the file",
          status == 0 and os.path.exists(settings_path(home)), status, out, err, "expected the settings file")
    text = open(settings_path(home)).read() if os.path.exists(settings_path(home)) else ""
    check("settings: the file has its header, buffer-lines and an empty history",
          text.startswith("Zor [") and 'Purpose: "Zor Console Configuration File"' in text
          and re.search(r"buffer-lines: 10000\s+history: \[\s*\]", text) is not None, status, text, err,
          "expected the header and the default settings")

    # 150 entries, the most recent first: the first 100 stay, in their order.
    entries = " ".join('"cmd%d"' % i for i in range(150))
    with open(settings_path(home), "w") as f:
        f.write("Zor [Purpose: \"x\"]\nhistory: [%s]\n" % entries)
    status, out, err = run(zor, "length? system/console/history\nfirst system/console/history\nq\n", home=home)
    check("settings: a history of 150 entries is loaded whole",
          status == 0 and without_banner(out) == "== 150\n== \"cmd0\"\n", status, out, err,
          "expected 150 entries, cmd0 first")
    status, out, err = run(zor, "h: system/console/history ()\nreduce [length? h first h last h]\n"
                           "select cli-console-ctx/settings/cfg 'buffer-lines\n", home=home)
    check("settings: only the 100 most recent are written back, and buffer-lines is added",
          status == 0 and without_banner(out) == '== [100 "cmd0" "cmd99"]\n== 10000\n', status, out, err,
          "expected cmd0 to cmd99 and buffer-lines 10000")

    with open(settings_path(home), "w") as f:
        f.write("Zor [] history: [\"x\" \"y\"\n")
    status, out, err = run(zor, "system/console/history\n", home=home)
    check("settings: a file that does not load is ignored",
          status == 0 and without_banner(out) == "== []\n", status, out, err, "expected an empty history")
    status, out, err = run(zor, "system/console/history\n", home=home)
    check("settings: and is replaced on the next save",
          status == 0 and without_banner(out) == "== []\n" and "buffer-lines" in open(settings_path(home)).read(),
          status, out, err, "expected the defaults written")

    with open(settings_path(home), "w") as f:
        f.write("Zor [] buffer-lines: 5 history: 7\n")
    status, out, err = run(zor, "system/console/history\n1\n", home=home)
    check("settings: a history that is no block gives an empty one",
          status == 0 and without_banner(out) == "== []\n== 1\n", status, out, err, "expected == [] then == 1")

    # A home folder that cannot be written: the console and scripts run; quit warns.
    locked = os.path.join(folder, "locked")
    os.makedirs(locked, exist_ok=True)
    os.chmod(locked, 0o500)
    try:
        if os.access(locked, os.W_OK):
            return  # running as a user that writes anywhere: nothing to see
        script = write(folder, "plain.zor", "Zor []\nprint 1\n")
        status, out, err = run(zor, "", [script], home=locked)
        check("settings: an unwritable home folder does not stop a script",
              status == 0 and out == "1\n", status, out, err, "expected 1 and status 0")
        status, out, err = run(zor, "1\nquit/return 2\n", home=locked)
        check("settings: with an unwritable home folder quit warns and ends with its status",
              status == 2 and without_banner(out) == "== 1\n*** Warning: the console settings could not be saved\n",
              status, out, err, "expected == 1, the warning and status 2")
    finally:
        os.chmod(locked, 0o700)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    zor = os.path.abspath(sys.argv[1])
    global scratch
    with tempfile.TemporaryDirectory(prefix="zor-console-test-") as folder:
        scratch = folder
        check_loop(zor)
        check_scripts(zor, folder)
        check_settings(zor, folder)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
