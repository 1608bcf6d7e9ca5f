// The program's work after start-up: the console's launch (`cli-console-ctx/launch`),
// which loads the settings and runs the script named on the command line or the prompt
// loop. The process ends inside it when the loop quits or a script asks for a status.
#pragma once

namespace zor::boot {

// Calls `cli-console-ctx/launch`; answers 0 when it returns (a script ran without
// "--catch"). An error that escapes it ends the process as any uncaught error does.
int start_console();

}  // namespace zor::boot
