"""The console line editor on a pseudo-terminal, read through a VT screen emulator, and
its redirected-input side through pipes.

Usage: line_editor_tests.py line-editor-driver

The driver (line_editor_driver.cpp) evaluates a loop of Zor code that reads lines with
`_set-buffer-history` and `_read-input` and prints each one as `got "..."`. Keys go in as
the bytes a terminal sends; what the user would see is read from pyte's screen."""
import os
import re
import signal
import subprocess
import sys
import termios
import time


sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import program_checks  # noqa: E402
from pty_screen import PtyScreen  # noqa: E402

DRIVER = sys.argv[1]

# Reads lines into `buf` until the line is "q" or the input ended; the history block is
# `hist`. PROMPT and HIDDEN are filled in per test.
LOOP = ('hist: [] forever [buf: make string! 1 _set-buffer-history buf hist '
        'ok: _read-input {PROMPT} {HIDDEN} print ["got" mold buf] '
        'if not ok [print "end of input" break] if buf = "q" [break]]')


def loop(prompt='">> "', hidden="false", before=""):
    return before + " " + LOOP.replace("{PROMPT}", prompt).replace("{HIDDEN}", hidden)


class Terminal(PtyScreen):
    """The driver on a pseudo-terminal of the given size, with pyte showing its screen."""

    def __init__(self, code, columns=40, rows=12, command=None, edits=True):
        if command is None:
            super().__init__(DRIVER, [code], columns, rows)
        else:
            super().__init__("/bin/sh", ["-c", command], columns, rows)
        # Keys typed before the editor is in raw mode would be echoed by the terminal's
        # line discipline, as they would for a user: wait for the first prompt.
        if edits:
            self.wait_for_edit(0)

    def wait_for_edit(self, lines_before, limit=30):
        """Pumps until `lines_before` + 1 edits have drawn their prompt (each edit begins
        with an erase to the end of the screen), or the program ended."""
        end = time.time() + limit
        while time.time() < end and self.child.isalive():
            got = self.output.count(b'got "')
            drawn = self.output.rfind(b"\x1b[J") > self.output.rfind(b'got "')
            if got >= lines_before and drawn:
                break
            self.pump(0.05, 0.2)
        self.pump(0.1)

    def send(self, keys, quiet=0.25, lines=None):
        """Types the keys; when they end lines (Enter, or `lines` given), waits for the
        next edit's prompt."""
        before = self.output.count(b'got "')
        self.child.send(keys)
        ended = keys.count(b"\r") if lines is None else lines
        if ended:
            self.wait_for_edit(before + ended)
        else:
            self.pump(quiet)

    def current(self):
        """The row the cursor is on."""
        return self.lines()[self.screen.cursor.y]

    def cursor(self):
        return (self.screen.cursor.x, self.screen.cursor.y)

    def resize(self, rows, columns):
        self.screen.resize(rows, columns)
        self.child.setwinsize(rows, columns)
        self.pump()


def check(name, condition, terminal, why):
    screen = terminal.text() if terminal else ""
    program_checks.check(name, condition, None, screen, "", why)


def got_lines(terminal):
    return re.findall(r'got "((?:[^"\\^]|\^.)*)"', terminal.output.decode("utf-8", "replace"))


# --- Typing, editing keys, history -------------------------------------------------------------

def test_typing_and_editing_keys():
    t = Terminal(loop())
    check("prompt shown", t.lines()[0] == ">>" and t.cursor() == (3, 0), t, "the prompt and the cursor after it")
    t.send(b"hello")
    t.send(b"\x1b[D\x1b[D\x1b[DX")       # Left x3, insert
    t.send(b"\x1b[H<")                   # Home
    t.send(b"\x1b[F>")                   # End
    t.send(b"\x1b[1;5D\x1b[1;5D\x7f")     # Ctrl-Left x2, Backspace
    t.send(b"\x01\x1b[3~")               # Ctrl-A, Delete
    t.send(b"\x05\x02\x02\x04")          # Ctrl-E, Ctrl-B x2, Ctrl-D
    t.send(b"\r")
    check("editing keys", got_lines(t)[-1:] == ["heXl>"], t, "Left, Home, End, Backspace, Delete, Ctrl keys")
    t.send(b"abcdef\x1bOD\x1bOD\x0b\r")  # SS3 Left x2, Ctrl-K
    check("Ctrl-K", got_lines(t)[-1:] == ["abcd"], t, "kill to the end of the line")
    t.send(b"\x1b[7~1\x1b[8~2\x1b[1~3\x1b[4~4\r")  # rxvt and VT220 Home/End forms
    check("Home/End variants", got_lines(t)[-1:] == ["3124"], t, "[7~ [8~ [1~ [4~")
    t.send(b"\x03")
    check("Ctrl-C quits", got_lines(t)[-1:] == ["q"] and t.finish() == 0, t, "Ctrl-C gives q")


def test_history():
    t = Terminal(loop())
    for line in (b"one", b"two", b"two", b"three"):
        t.send(line + b"\r")
    t.send(b"\x1b[A")
    check("Up recalls the latest", t.current() == ">> three", t, "Up shows the most recent entry")
    t.send(b"\x1b[A")
    t.send(b"\x1b[A")
    check("a repeated line is kept once", t.current() == ">> one", t, "two entered twice in a row is one entry")
    t.send(b"\x1b[A")
    check("Up past the oldest empties", t.current() == ">>", t, "Up at the oldest entry empties the line")
    t.send(b"\x1b[B")
    check("Down after the oldest", t.current() == ">> one", t, "Down comes back to the oldest")
    t.send(b"\x1b[B")
    check("Down after Up shows the newer entry", t.current() == ">> two", t, "step first, then load")
    t.send(b"\x1b[B\x1b[B")
    check("Down below the newest empties", t.current() == ">>", t, "an empty line below the newest")
    t.send(b"\x10\x10!\r")               # Ctrl-P x2, then edit the recalled line
    t.send(b"\x1b[A\x1b[A\r")
    check("editing a recalled line leaves the entry",
          got_lines(t)[-2:] == ["two!", "three"], t, "the entry is a copy")
    t.send(b"\x03")
    t.finish()
    # The history block holds copies: changing the string that was read changes no entry.
    code = ('hist: [] buf: make string! 1 _set-buffer-history buf hist _read-input ">> " false '
            'append buf "-changed" print mold hist')
    t = Terminal(code)
    t.send(b"entry\r")
    t.finish()
    check("history entries are copies", '["entry"]' in t.output.decode(), t, "the caller's string is not the entry")


def test_hidden_input():
    t = Terminal(loop(prompt='"Password: "', hidden="true"))
    t.send(b"secret")
    check("hidden echo", t.lines()[0] == "Password: ******", t, "one * per character")
    t.send(b"\x7f\r")
    t.send(b"\x1b[A")
    check("hidden lines stay out of the history", t.lines()[2] == "Password:", t, "Up finds nothing")
    check("hidden line read", got_lines(t)[:1] == ["secre"], t, "the real characters are read")
    t.send(b"\x03")
    t.finish()


def test_escape_and_ctrl_d():
    t = Terminal(loop())
    t.send(b"abc\x1b", lines=1)       # a lone Esc, after the timeout
    check("Esc ends the line with ESC", got_lines(t)[-1:] == ["abc^["], t, "the escape character appended")
    t.send(b"x\x1b[Dy\x04\x04\r")        # Ctrl-D deletes under the cursor; at the end it does nothing
    check("Ctrl-D inside the line deletes", got_lines(t)[-1:] == ["y"], t, "Ctrl-D under the cursor")
    t.send(b"ab\x04\r")
    check("Ctrl-D at the end of a line does nothing", got_lines(t)[-1:] == ["ab"], t, "only on an empty line")
    t.send(b"\x04")
    check("Ctrl-D on an empty line quits", got_lines(t)[-1:] == ["q"] and t.finish() == 0, t, "gives q")


def test_wrapping_and_wide_characters():
    t = Terminal(loop(), columns=20, rows=10)
    t.send(b"0123456789abcdefghijKLMNO")
    check("a long line wraps", t.lines()[:2] == [">> 0123456789abcdefg", "hijKLMNO"], t, "wrapped at 20 columns")
    t.send(b"\x1b[H")
    check("Home on a wrapped line", t.cursor() == (3, 0), t, "cursor after the prompt")
    t.send(b"\x1b[F")
    check("End on a wrapped line", t.cursor() == (8, 1), t, "cursor after the last character")
    t.send(b"\r")
    # Exactly at the margin: the cursor goes to the next row.
    row = t.cursor()[1]
    t.send(b"x" * 17)
    check("a line filling the row", t.cursor() == (0, row + 1) and t.lines()[row] == ">> " + "x" * 17, t,
          "the cursor on the next row")
    t.send(b"\r")
    # A double-width character that would start in the last column moves to the next row.
    row = t.cursor()[1]
    t.send(b"y" * 16 + "\u4e2d".encode())
    check("a wide character in the last column",
          t.lines()[row] == ">> " + "y" * 16 and t.lines()[row + 1].startswith("\u4e2d") and t.cursor() == (2, row + 1),
          t, "moved to the next row")
    t.send(b"\x1b[D")
    check("the cursor on a wide character moved to the next row", t.cursor() == (0, row + 1), t, "not in the blank cell")
    t.send(b"\r\x03")
    t.finish()


def test_prompt_colour_and_column():
    t = Terminal(loop(prompt='"^[[1;32m>> ^[[0m"'))
    check("colour sequences take no columns", t.cursor() == (3, 0), t, "the cursor after the visible prompt")
    t.send(b"\x03")
    t.finish()
    # A prompt after text printed on the same row starts after that text.
    t = Terminal('prin "Name: " buf: make string! 1 _set-buffer-history buf [] _read-input "" false print mold buf')
    t.send(b"Ann")
    t.send(b"\x1b[H")
    check("prompt after prin", t.lines()[0] == "Name: Ann" and t.cursor() == (6, 0), t, "start column")
    t.send(b"\r")
    t.finish()


def test_resizing():
    t = Terminal(loop(), columns=40, rows=10)
    t.send(b"first\r")
    t.send(b"0123456789" * 3)
    t.resize(10, 20)
    lines = t.lines()
    check("redraw after a resize", lines[2:4] == [">> 01234567890123456", "7890123456789"], t,
          "the line laid out for 20 columns")
    t.send(b"!")
    t.send(b"\r")
    check("editing goes on after a resize", got_lines(t)[-1:] == ["0123456789" * 3 + "!"], t, "line read")
    t.send(b"\x03")
    t.finish()
    code = 'print mold system/console/size console-init "title" print mold system/console/size'
    t = Terminal(code, columns=33, rows=7, edits=False)
    t.finish()
    check("init sets the console size", "0x0" in t.output.decode() and "33x7" in t.output.decode(), t,
          "system/console/size from the terminal")
    check("init sets the title", b"\x1b]0;title\x07" in t.output, t, "OSC 0")


def test_invalid_utf8():
    t = Terminal(loop())
    t.send(b"a\xffb\xc3\r")
    t.send(b"still\r")
    got = got_lines(t)
    check("invalid UTF-8 is U+FFFD", got[:2] == ["a\ufffdb\ufffd", "still"], t, "the console keeps reading")
    t.send(b"\x03")
    t.finish()


def test_completion():
    # Without a completion function, Tab inserts a tab.
    t = Terminal(loop(before="unset 'zor-complete-input"))
    t.send(b"a\tb\r")
    check("Tab without completion", got_lines(t)[-1:] == ["a^-b"], t, "a tab character")
    t.send(b"\x03")
    t.finish()
    one = 'zor-complete-input: func [str con] [either #"p" = pick head str 1 [reduce [at copy "print" 6]] [copy []]] '
    t = Terminal(loop(before=one))
    t.send(b"p\t")
    check("a single candidate replaces the word", t.lines()[0] == ">> print" and t.cursor() == (8, 0), t,
          "completed and cursor after it")
    t.send(b"\r")
    check("completed line read", got_lines(t)[-1:] == ["print"], t, "line")
    t.send(b"\x03")
    t.finish()
    several = ('zor-complete-input: func [str con] [reduce [at copy "pri" 4 "print" "prin"]] ')
    t = Terminal(loop(before=several))
    t.send(b"pr\t", lines=1)
    check("several candidates are listed", t.lines()[0] == ">> print prin" and t.lines()[2] == ">> pri", t,
          "the candidates, then a fresh prompt with the common part")
    t.send(b"n\r")
    check("the edit goes on from the common part", got_lines(t)[-2:] == ["", "prin"], t, "carry-over")
    t.send(b"\x03")
    t.finish()


# --- The terminal's modes after every kind of exit -----------------------------------------------

def stty_checked(name, code, action):
    """Runs the driver between two `stty -g`; action(terminal) makes it end."""
    command = 'stty -g; %s %s; echo "status $?"; stty -g' % (DRIVER, shlex_quote(code))
    t = Terminal(None, command=command)
    action(t)
    t.finish()
    text = t.output.decode("utf-8", "replace")
    modes = re.findall(r"^([0-9a-f]+(?::[0-9a-f]+){10,})\s*$", text, re.M)
    check(name, len(modes) == 2 and modes[0] == modes[1], t, "stty -g before and after: %r" % modes)


def shlex_quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


def driver_pid(t):
    children = subprocess.run(["pgrep", "-P", str(t.child.pid)], capture_output=True, text=True).stdout.split()
    return int(children[0]) if children else None


def test_modes_restored():
    stty_checked("modes after Enter and quit", loop(), lambda t: t.send(b"x\r\x03"))
    stty_checked("modes after an error raised inside the edit",
                 'zor-complete-input: func [s c] [1 / 0] ' + loop(), lambda t: t.send(b"x\t"))
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGSEGV):
        def kill(t, sig=sig):
            pid = driver_pid(t)
            if pid:
                os.kill(pid, sig)
        stty_checked("modes after %s" % signal.Signals(sig).name, loop(), kill)


def test_stop_and_continue():
    t = Terminal(loop())
    pid = t.child.pid
    t.send(b"abc")
    terminal = os.open("/proc/%d/fd/0" % pid, os.O_RDWR | os.O_NOCTTY)
    try:
        def canonical():
            return bool(termios.tcgetattr(terminal)[3] & termios.ICANON)

        def stopped():
            with open("/proc/%d/stat" % pid) as stat:
                return stat.read().rsplit(")", 1)[1].split()[0] == "T"

        check("raw while editing", not canonical(), t, "ICANON off")
        os.kill(pid, signal.SIGTSTP)
        deadline = time.time() + 5
        while time.time() < deadline and not stopped():
            time.sleep(0.05)
        check("a stop hands the terminal back", stopped() and canonical(), t, "stopped, with ICANON on")
        os.kill(pid, signal.SIGCONT)
        t.pump(0.5)
        check("raw again after continue", not canonical(), t, "ICANON off")
    finally:
        os.close(terminal)
    check("the line is drawn again after continue", t.current() == ">> abc" and t.cursor()[1] == 1, t,
          "on a row of its own")
    t.send(b"d\r")
    check("editing goes on after continue", got_lines(t)[-1:] == ["abcd"], t, "line read")
    t.send(b"\x03")
    t.finish()


# --- Redirected input ------------------------------------------------------------------------------

def test_redirected_input():
    status, out, err = program_checks.run_process(
        [DRIVER, loop()], 30, input=b"one\r\n\xfftwo\n\nlast without line end")
    program_checks.check("redirected lines", status == 0 and out.splitlines() == [
        'got "one^M"', 'got "\ufffdtwo"', 'got ""', 'got "last without line end"', 'got ""', "end of input"],
        status, out, err, "lines without LF, CR kept, U+FFFD, the partial last line, then the end")
    program_checks.check("no prompt when redirected", ">>" not in out, status, out, err, "nothing shown")
    code = ('print mold input-stdin b: make binary! 16 read-stdin b 4 print mold b read-stdin tail b 100 '
            'print mold b print mold input-stdin')
    status, out, err = program_checks.run_process([DRIVER, code], 30, input=b"first\nabcdefghijklmnopqrstuvwxyz")
    program_checks.check("input-stdin and read-stdin share the input", status == 0 and out.splitlines() == [
        '"first"', '#{61626364}', '#{6162636465666768696A6B6C6D6E6F70}', '"qrstuvwxyz"'], status, out, err,
        "read-stdin never writes past the binary's capacity")


def main():
    tests = [test_typing_and_editing_keys, test_history, test_hidden_input, test_escape_and_ctrl_d,
             test_wrapping_and_wide_characters, test_prompt_colour_and_column, test_resizing, test_invalid_utf8,
             test_completion, test_modes_restored, test_stop_and_continue, test_redirected_input]
    for test in tests:
        try:
            test()
        except Exception as failure:  # a broken harness step fails the test, not the run
            program_checks.failures.append(test.__name__)
            print("FAIL  %s: %r" % (test.__name__, failure))
    sys.exit(program_checks.summary())


if __name__ == "__main__":
    main()
