"""What the program tests share: running a process with a time-out, recording checks that
fail with what the process printed, and the summary that gives the exit status."""
import subprocess

failures = []


def run_process(command, timeout, **options):
    """Runs a command (subprocess.run options pass through); returns (status, stdout,
    stderr) as text, status None when it ran past the time-out."""
    try:
        done = subprocess.run(command, capture_output=True, timeout=timeout, **options)
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
