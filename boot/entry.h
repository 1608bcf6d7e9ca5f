// The program entry: the one path from `main` to the end of the process.
//
// main_entry prepares the process (command line, fatal-signal handlers), then runs on
// the interpreter thread, inside the top-level catch point that takes every throw
// code: the runtime start-up, then the rest of the program (`after_start`, null when
// there is nothing yet). It never returns: the process ends with status 0 when
// `after_start` returns, quietly with 0 when a quit throw reaches the top level, with
// runtime error 95 for any other throw that nothing caught, or through one of the fatal
// exits of the runtime.
#pragma once

namespace zor::boot {

int main_entry(int argc, char** argv, void (*after_start)());

}  // namespace zor::boot
