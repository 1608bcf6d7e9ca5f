// The program: start-up on the interpreter thread, then (until the console exists) the
// script named on the command line or the lines of standard input.
#include "boot/entry.h"
#include "boot/first-run.h"

int main(int argc, char** argv) { return zor::boot::main_entry(argc, argv, zor::boot::first_run); }
