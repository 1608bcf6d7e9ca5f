"""The real console on a pseudo-terminal: how long the first ">> " prompt takes to appear
after the program starts (the goal: within 20 ms), and how long a paste of 10,000 lines
takes to be read, evaluated and answered, beside python3's interactive prompt reading the
same paste.

Usage: /usr/bin/python3 console_paste.py zor [lines]

Needs python3-pexpect (Debian's, for /usr/bin/python3). The console's settings go to a
temporary HOME."""
import os
import shutil
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import line_editor_paste as paste  # noqa: E402  (its helpers drive any program)

ZOR = os.path.abspath(sys.argv[1])
LINES = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
GOAL_MS = 20


def main():
    home = tempfile.mkdtemp(prefix="zor-bench-home-")
    os.environ["HOME"] = home
    try:
        # Spawning on a pseudo-terminal and reading through pexpect costs the harness tens of
        # milliseconds by itself: a program that prints the prompt at once gives that cost,
        # and the console's own time is what it takes beyond it.
        harness = statistics.median(paste.first_prompt_ms("/usr/bin/printf", [">> "], ">> ") for _ in range(20))
        starts = [paste.first_prompt_ms(ZOR, [], ">> ") for _ in range(20)]
        median = statistics.median(starts) - harness
        print("console first prompt: median %.1f ms beyond the harness's own %.1f ms, worst %.1f ms of 20 "
              "(goal %d ms: %s)" % (median, harness, max(starts) - harness, GOAL_MS,
                                    "met" if median <= GOAL_MS else "NOT met"), flush=True)
        python = statistics.median(paste.first_prompt_ms("/usr/bin/python3", ["-i", "-q"], ">>> ")
                                   for _ in range(20)) - harness
        print("python3 -i first prompt: median %.1f ms beyond the harness" % python, flush=True)

        # Each line's result is printed ("== n"), as a user pasting them would see.
        zor_lines = ["x: %d + 1" % i for i in range(LINES)] + ['print "DONE"']
        python_lines = ["x = %d + 1" % i for i in range(LINES)] + ["print('DONE')"]
        zor = paste.paste_seconds(ZOR, [], zor_lines, "DONE")
        print("paste of %d lines into the console: zor %s" % (LINES, paste.seconds(zor)), flush=True)
        python = paste.paste_seconds("/usr/bin/python3", ["-c", paste.PYTHON_READLINE_LOOP], python_lines, "DONE")
        print("paste of %d lines: python3, input() with readline, %s" % (LINES, paste.seconds(python)), flush=True)
    finally:
        shutil.rmtree(home, True)


if __name__ == "__main__":
    main()
