// The program: start-up on the interpreter thread, then (once it exists) the console.
#include "boot/entry.h"

int main(int argc, char** argv) { return zor::boot::main_entry(argc, argv, nullptr); }
