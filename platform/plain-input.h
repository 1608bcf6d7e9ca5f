// Plain input until file I/O proper exists: the whole content of a file and the lines of
// standard input, read with POSIX read(2) and nothing else (no translation of line ends
// beyond dropping the CR of a CR LF at a line's end).
#pragma once

#include <string>

namespace zor::platform {

// Reads the whole file into out; answers 0, or the errno of the failure (a directory
// gives EISDIR).
int read_whole_file(const char* path, std::string& out);

// Reads the next line of standard input into out, without its LF (and without the CR of a
// CR LF); a last line without LF counts. Answers false at the end of input (or on a read
// error) when no line was read.
bool read_input_line(std::string& out);

}  // namespace zor::platform
