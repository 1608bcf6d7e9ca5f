"""The console line editor on a pseudo-terminal: how long the first prompt takes to
appear after start, and how long a paste of 10,000 lines takes to be read and evaluated,
beside python3's own interactive prompt reading the same paste.

Usage: /usr/bin/python3 line_editor_paste.py line-editor-driver [lines]

Needs python3-pexpect (Debian's, for /usr/bin/python3)."""
import os
import re
import select
import statistics
import sys
import time

import pexpect

DRIVER = sys.argv[1]
LINES = int(sys.argv[2]) if len(sys.argv) > 2 else 10000

# Reads a line, evaluates it, and again, until "q".
ZOR_LOOP = ('forever [buf: make string! 1 _set-buffer-history buf [] ok: _read-input ">> " false '
            'if any [not ok buf = "q"] [break] do buf]')
# python3 twice: its own line editor (input() with readline), and the lines read as cooked
# terminal input through the kernel's line discipline, with no editor at all.
PYTHON_READLINE_LOOP = ("import readline\n"
                        "while True:\n"
                        "    try: line = input('>>> ')\n"
                        "    except EOFError: break\n"
                        "    exec(line)\n")
PYTHON_COOKED_LOOP = ("import sys\n"
                      "sys.stdout.write('>>> '); sys.stdout.flush()\n"
                      "for line in sys.stdin:\n"
                      "    exec(line)\n"
                      "    sys.stdout.write('>>> '); sys.stdout.flush()\n")


def first_prompt_ms(command, args, prompt):
    start = time.perf_counter()
    child = pexpect.spawn(command, args, dimensions=(24, 80))
    child.expect_exact(prompt, timeout=10)
    elapsed = (time.perf_counter() - start) * 1000
    child.terminate(force=True)
    return elapsed


def paste_seconds(command, args, lines, done):
    """Writes the lines to the terminal as fast as it takes them, reading its output all
    the while; answers the seconds until the line `done` prints after the last of them."""
    child = pexpect.spawn(command, args, dimensions=(24, 80))
    child.expect_exact(">", timeout=10)
    data = "".join(line + "\r" for line in lines).encode()
    fd = child.child_fd
    # A write that waits for room while the program waits to echo into our full output
    # buffer would never end: writes only go as far as there is room.
    os.set_blocking(fd, False)
    seen = b""
    finished = re.compile(re.escape(done.encode()) + rb"\r?\n")
    start = time.perf_counter()
    while time.perf_counter() - start < 120:
        writable = [fd] if data else []
        readable, ready, _ = select.select([fd], writable, [], 10)
        if not readable and not ready:
            raise RuntimeError("no progress: %r" % seen[-200:])
        if ready:
            try:
                written = os.write(fd, data[:4096])
                data = data[written:]
            except BlockingIOError:
                pass
        if readable:
            try:
                chunk = os.read(fd, 65536)
            except BlockingIOError:
                continue
            except OSError:
                break
            seen = seen[-4096:] + chunk
            if finished.search(seen):
                break
    else:
        child.terminate(force=True)
        return None
    elapsed = time.perf_counter() - start
    child.terminate(force=True)
    return elapsed


def seconds(value):
    return "did not finish in 120 s" if value is None else "%.2f s" % value


def main():
    zor_starts = [first_prompt_ms(DRIVER, [ZOR_LOOP], ">> ") for _ in range(20)]
    python_starts = [first_prompt_ms("/usr/bin/python3", ["-c", PYTHON_READLINE_LOOP], ">>> ") for _ in range(20)]
    print("first prompt: zor %.1f ms, python3 %.1f ms (median of 20)" %
          (statistics.median(zor_starts), statistics.median(python_starts)), flush=True)

    zor_lines = ["x: %d + 1" % i for i in range(LINES)] + ['print "DONE"']
    python_lines = ["x = %d + 1" % i for i in range(LINES)] + ["print('DONE')"]
    zor = paste_seconds(DRIVER, [ZOR_LOOP], zor_lines, "DONE")
    print("paste of %d lines read and evaluated: zor %s" % (LINES, seconds(zor)), flush=True)
    for name, program in (("input() with readline", PYTHON_READLINE_LOOP), ("cooked lines", PYTHON_COOKED_LOOP)):
        python = paste_seconds("/usr/bin/python3", ["-c", program], python_lines, "DONE")
        print("paste of %d lines read and evaluated: python3, %s, %s" % (LINES, name, seconds(python)), flush=True)


if __name__ == "__main__":
    main()
