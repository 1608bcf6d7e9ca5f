"""What the program tests share: running a process with a time-out, recording checks that
fail with what the process printed, and the summary that gives the exit status.

Every process runs with HOME in a temporary folder of its own test run (unless the caller
gives an environment with HOME), so the console's settings file never lands in the
user's home."""
import atexit
import os
import re
import shutil
import subprocess
import tempfile

failures = []
_home = None

# What the console prints before its first prompt when no script is named.
BANNER = re.compile(r"--== Zor \S+ ==-- \nType HELP for starting information\. \n\n")


def without_banner(out):
    """The output after the console's banner; None when it does not start with one."""
    found = BANNER.match(out)
    return out[found.end():] if found else None


def test_home():
    """The temporary HOME of this test run, made on first use and removed at exit."""
    global _home
    if _home is None:
        _home = tempfile.mkdtemp(prefix="zor-test-home-")
        atexit.register(shutil.rmtree, _home, True)
    return _home


def run_process(command, timeout, **options):
    """Runs a command (subprocess.run options pass through); returns (status, stdout,
    stderr) as text, status None when it ran past the time-out."""
    env = dict(options.pop("env", None) or os.environ)
    if "HOME" not in env or env.get("HOME") == os.environ.get("HOME"):
        env["HOME"] = test_home()
    try:
        done = subprocess.run(command, capture_output=True, timeout=timeout, env=env, **options)
    except subprocess.TimeoutExpired:
        return None, "", "timed out after %d s" % timeout
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


def summary():
    """Prints the outcome; answers the exit status."""
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0
