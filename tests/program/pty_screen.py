"""A program on a pseudo-terminal whose output feeds a VT screen emulator, so that tests
read what a person at the terminal would see: the base of the line editor's and the
console's terminal tests."""
import time

import pexpect
import pyte


class PtyScreen:
    def __init__(self, program, args, columns, rows, **spawn_options):
        self.screen = pyte.Screen(columns, rows)
        self.stream = pyte.ByteStream(self.screen)
        self.child = pexpect.spawn(program, list(args), dimensions=(rows, columns), **spawn_options)
        self.output = b""

    def pump(self, quiet=0.25, limit=5.0):
        """Reads output until none came for `quiet` seconds."""
        end = time.time() + limit
        last = time.time()
        while time.time() < end and time.time() - last < quiet:
            try:
                data = self.child.read_nonblocking(65536, 0.05)
                self.output += data
                self.stream.feed(data)
                last = time.time()
            except pexpect.TIMEOUT:
                pass
            except pexpect.EOF:
                break

    def lines(self):
        return [line.rstrip() for line in self.screen.display]

    def text(self):
        return "\n".join(line for line in self.lines() if line)

    # The limit is generous: under the collector's torture a run takes seconds to start up,
    # and a program that ends sooner costs nothing here.
    def finish(self, timeout=60):
        """Waits for the end; answers the exit status (None if it did not end)."""
        end = time.time() + timeout
        while self.child.isalive() and time.time() < end:
            self.pump(0.1, 0.5)
        self.pump(0.1, 0.5)
        if self.child.isalive():
            self.child.terminate(force=True)
            return None
        self.child.close()
        return self.child.exitstatus if self.child.exitstatus is not None else -self.child.signalstatus
