// The program's work after start-up until the boot environment and the console exist: a
// small stand-in for the console's launch, meant to be replaced by it.
//
// With a script named on the command line (the first argument that is not a "--" switch;
// "--" ends the switches), the script file is read, its `Zor [...]` header found (the
// text "Zor", an optional "/System", any whitespace, then "["), the text from there
// loaded, and what follows the header block evaluated. Exit statuses:
//   0    the script ran to its end;
//   1    no header ("*** Error: Zor header not found!"), or the loaded text has no word
//        `Zor` followed by a block ("*** Error: not a Zor program!", or "contains
//        Zor/System code which requires compilation!" when the text holds "Zor/System");
//   254  the file cannot be read, the text does not load, or the script raised an error
//        (the error report is printed first).
// With "--catch" among the switches, the line loop below follows the script whatever
// its outcome, and the status is that of the line loop.
//
// Without a script, each line of standard input is one command: loaded and evaluated,
// its result printed as "== " and the molded value (a float! formed), cut to fit the
// width: the terminal's columns when standard output is a terminal, else 80 columns.
// An unset! result prints nothing; an error prints its report and an empty line (a load
// error its report); the loop goes on after errors. The end of input ends the process
// with status 0. Multi-line commands (an open block continued on the next line) are the
// console's; here each line stands alone.
#pragma once

namespace zor::boot {

// Runs the script or the line loop; answers the exit status.
int first_run();

}  // namespace zor::boot
