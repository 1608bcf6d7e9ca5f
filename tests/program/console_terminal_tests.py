"""The console as a person at a terminal meets it: the real zor on a pseudo-terminal, read
through a VT screen emulator.

Usage: console_terminal_tests.py ZOR

Keys go in as the bytes a terminal sends; what the user would see is read from pyte's
screen. Every run has its HOME in a temporary folder, where the settings file lands."""
import os
import shlex
import shutil
import sys
import tempfile
import time


sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import program_checks  # noqa: E402
from pty_screen import PtyScreen  # noqa: E402

ZOR = os.path.abspath(sys.argv[1])
scratch = tempfile.mkdtemp(prefix="zor-console-terminal-")


class Console(PtyScreen):
    """zor (or a shell command around it) on a pseudo-terminal, with pyte showing it."""

    def __init__(self, args=(), command=None, columns=80, rows=24, home=None):
        self.home = home or tempfile.mkdtemp(prefix="home-", dir=scratch)
        env = dict(os.environ, HOME=self.home, TERM="xterm")
        env.pop("ZOR_HEAP_LIMIT", None)
        if command is None:
            super().__init__(ZOR, args, columns, rows, env=env, cwd=scratch)
        else:
            super().__init__("/bin/sh", ["-c", command], columns, rows, env=env, cwd=scratch)

    def wait_for(self, text, limit=30):
        """Pumps until the screen's cursor row shows the text (a prompt waiting)."""
        end = time.time() + limit
        while time.time() < end and self.child.isalive():
            if self.current().startswith(text):
                break
            self.pump(0.05, 0.2)
        self.pump(0.1)
        return self.current().startswith(text)

    def type(self, keys, wait=">> "):
        self.child.send(keys)
        if wait is None:
            self.pump()
        else:
            self.pump(0.1)
            self.wait_for(wait)

    def current(self):
        return self.screen.display[self.screen.cursor.y]


def check(name, condition, console, why):
    program_checks.check(name, condition, None, console.text() if console else "", "", why)


def settings_of(home):
    path = os.path.join(home, ".zor", "Zor-Console", "console-cfg.zor")
    return open(path).read() if os.path.exists(path) else ""


def test_prompt_results_and_quit_keys():
    c = Console()
    shown = c.wait_for(">> ")
    check("the banner, then the prompt", shown and c.lines()[0].startswith("--== Zor ") and c.screen.cursor.x == 3,
          c, "expected the banner and the cursor after >> ")
    c.type(b"1 + 2\r")
    check("a result line", "== 3" in c.lines(), c, "expected == 3")
    c.type(b"halt\r")
    check("halt shows (halted)", "(halted)" in c.lines(), c, "expected (halted)")
    c.type(b"'halt-request\r")
    check("the word halt-request is a result", "== halt-request" in c.lines(), c, "expected == halt-request")
    c.type(b"\x04", wait=None)
    status = c.finish()
    check("Ctrl-D on an empty line quits with 0", status == 0, c, "expected status 0, got %r" % status)
    saved = settings_of(c.home)
    check("quit saves the history, most recent first",
          saved.find('"\'halt-request"') < saved.find('"halt"') < saved.find('"1 + 2"') and '"1 + 2"' in saved,
          c, "expected the three commands newest first in %r" % saved)

    c = Console()
    c.wait_for(">> ")
    c.type(b"12 + 1", wait=None)
    c.type(b"\x03", wait=None)
    status = c.finish()
    check("Ctrl-C quits with 0, whatever the line holds", status == 0 and "== 13" not in c.lines(), c,
          "expected status 0 and no result, got %r" % status)


def test_history_keys():
    home = tempfile.mkdtemp(prefix="home-", dir=scratch)
    c = Console(home=home)
    c.wait_for(">> ")
    c.type(b"1 + 1\r")
    c.type(b"2 + 2\r")
    c.type(b"\x1b[A", wait=">> 2 + 2")
    check("Up recalls the last line", c.current().rstrip() == ">> 2 + 2", c, "expected >> 2 + 2")
    c.type(b"\x1b[A", wait=">> 1 + 1")
    check("Up again the one before", c.current().rstrip() == ">> 1 + 1", c, "expected >> 1 + 1")
    c.type(b"\x1b[B", wait=">> 2 + 2")
    check("Down goes back", c.current().rstrip() == ">> 2 + 2", c, "expected >> 2 + 2")
    c.type(b"\r")
    check("a recalled line runs", c.lines().count("== 4") == 2, c, "expected == 4 twice")
    c.type(b"q\r", wait=None)
    c.finish()

    # The next run starts with that history.
    c = Console(home=home)
    c.wait_for(">> ")
    c.type(b"\x1b[A", wait=">> q")
    check("the history survives the run", c.current().rstrip() == ">> q", c, "expected the last command, q")
    c.type(b"\x1b[A", wait=">> 2 + 2")
    check("and keeps its order", c.current().rstrip() == ">> 2 + 2", c, "expected >> 2 + 2")
    c.type(b"\x03", wait=None)
    c.finish()


def test_continuation_escape_and_completion():
    c = Console()
    c.wait_for(">> ")
    c.type(b"[\r", wait="[    ")
    check("an open block shows the cue", c.current().startswith("[    "), c, "expected the cue [ and four spaces")
    c.type(b"1 + 2\r", wait="[    ")
    check("the cue stays while the block is open", c.current().startswith("[    "), c, "expected the cue again")
    c.type(b"]\r")
    check("the command runs when it closes", "    1 + 2" in c.lines() and c.current().startswith(">> "), c,
          "expected the molded block and the prompt")
    c.type(b"{abc\r", wait="{    ")
    check("an open string shows its cue", c.current().startswith("{    "), c, "expected the cue {")
    c.type(b"oops")
    c.child.send(b"\x1b")
    c.pump(0.3)
    c.wait_for(">> ")
    check("Esc drops the pending command", "(escape)" in c.lines() and c.current().startswith(">> "), c,
          "expected (escape) and the plain prompt")
    c.type(b"appe\t", wait=">> append")
    check("Tab completes a word at the prompt", c.current().rstrip() == ">> append", c, "expected >> append")
    c.type(b" x: copy [] 5\r")
    c.type(b"x\r")
    check("the completed line runs", "== [5]" in c.lines(), c, "expected == [5]")
    c.type(b"\x04", wait=None)
    c.finish()


def test_ask_hide_and_prompts():
    c = Console()
    c.wait_for(">> ")
    c.type(b"s: ask/hide \"pw? \"\r", wait="pw? ")
    c.type(b"secret\r")
    shown = c.text()
    check("ask/hide echoes stars", "pw? ******" in shown and "pw? secret" not in shown, c,
          "expected six stars and no secret")
    c.type(b"s\r")
    check("and answers the text", '== "secret"' in c.lines(), c, "expected == \"secret\"")
    c.type(b"\x1b[A", wait=">> s")
    check("a hidden line stays out of the history", c.current().rstrip() == ">> s", c, "expected s, not secret")
    c.type(b"\x15\x0b", wait=None)
    c.child.send(b"\x01\x0b")
    c.pump()
    c.type(b"n: 0 system/console/prompt: does [n: n + 1 rejoin [n \"> \"]]\r", wait="1> ")
    check("a prompt function runs on every pass", c.current().startswith("1> "), c, "expected 1> ")
    c.type(b"\r", wait="2> ")
    check("and again", c.current().startswith("2> "), c, "expected 2> ")
    c.type(b"system/console/prompt: [a b]\r", wait="a b")
    check("a block prompt shows formed", c.current().startswith("a b"), c, "expected a b")
    c.type(b"q\r", wait=None)
    c.finish()


def test_modes_restored():
    before = os.path.join(scratch, "modes-before")
    after = os.path.join(scratch, "modes-after")
    command = "stty -g > %s; %s; stty -g > %s; echo finished" % (shlex.quote(before), shlex.quote(ZOR),
                                                                 shlex.quote(after))
    c = Console(command=command)
    c.wait_for(">> ")
    c.type(b"1\r")
    c.type(b"abc", wait=None)
    c.type(b"\x03", wait=None)
    c.finish()
    same = os.path.exists(before) and os.path.exists(after) and open(before).read() == open(after).read()
    check("the terminal's modes are as before after Ctrl-C", same, c, "expected the same stty -g")

    c = Console(command=command)
    c.wait_for(">> ")
    c.type(b"quit/return 4\r", wait=None)
    c.finish()
    same = open(before).read() == open(after).read()
    check("and after quit/return", same and "finished" in c.text(), c, "expected the same stty -g")


def test_catch_after_script():
    script = os.path.join(scratch, "hello.zor")
    with open(script, "w") as f:
        f.write("Zor []\nprint \"from the script\"\n")
    c = Console(args=["--catch", script])
    shown = c.wait_for(">> ")
    check("--catch: the script, then the prompt without the banner",
          shown and "from the script" in c.lines() and "--== Zor " not in c.text(), c,
          "expected the script's line and the prompt")
    c.type(b"\x04", wait=None)
    check("--catch: Ctrl-D quits", c.finish() == 0, c, "expected status 0")

    c = Console(args=[os.path.join(scratch, "missing.zor")])
    shown = c.wait_for(">> ")
    check("a script that cannot be read falls back to the prompt at a terminal",
          shown and "*** Access Error: cannot open: " in c.text() and "--== Zor " in c.text(), c,
          "expected the report, the banner and the prompt")
    c.type(b"\x04", wait=None)
    c.finish()


def main():
    tests = [test_prompt_results_and_quit_keys, test_history_keys, test_continuation_escape_and_completion,
             test_ask_hide_and_prompts, test_modes_restored, test_catch_after_script]
    for test in tests:
        try:
            test()
        except Exception as failure:  # a broken harness step fails the test, not the run
            program_checks.failures.append(test.__name__)
            print("FAIL  %s: %r" % (test.__name__, failure))
    shutil.rmtree(scratch, True)
    sys.exit(program_checks.summary())


if __name__ == "__main__":
    main()
