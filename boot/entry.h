// The program entry: the one path from `main` to the end of the process.
//
// main_entry prepares the process (command line, fatal-signal handlers), then runs on
// the interpreter thread, inside the top-level catch point that takes every throw
// code: the start-up sequence (boot/start-up.h), which ends with the boot environment
// installed, and then the rest of the program runs (`after_start`, null when there is nothing more). It never returns: the
// process ends with the status `after_start` answers (0 without one), quietly with 0 when
// a quit throw reaches the top level, with runtime error 95 for any other throw that
// nothing caught, or through one of the fatal exits of the runtime (an uncaught language
// error: its report and status 254).
#pragma once

namespace zor::boot {

int main_entry(int argc, char** argv, int (*after_start)());

}  // namespace zor::boot
