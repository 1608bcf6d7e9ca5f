// The program: start-up on the interpreter thread, then the console's launch, which runs
// the script named on the command line or the prompt loop.
#include "boot/entry.h"
#include "boot/console-start.h"

int main(int argc, char** argv) { return zor::boot::main_entry(argc, argv, zor::boot::start_console); }
