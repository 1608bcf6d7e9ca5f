// Plain input until file I/O proper exists: the whole content of a file and the lines of
// standard input, read with POSIX read(2) and nothing else (no translation of line ends
// beyond dropping the CR of a CR LF at a line's end).
#pragma once

#include <string>

namespace zor::platform {

// Reads the whole file into out; answers 0, or the errno of the failure: EISDIR for a
// directory, EFBIG for more than limit bytes (found while reading, so an endless device
// is refused too), ENOMEM when the bytes could not be held.
int read_whole_file(const char* path, std::string& out, size_t limit);

enum line_read { LINE_READ, LINE_END_OF_INPUT, LINE_TOO_LONG };

// Reads the next line of standard input (through its shared buffer,
// platform/standard-input.h) into out, without its LF (and without the CR of a
// CR LF); a last line without LF counts. Each chunk read is searched once for the LF, so
// a line costs time in proportion to its length. LINE_END_OF_INPUT at the end of input
// (or on a read error) when no line was read. A line longer than limit bytes (or than
// the process can hold) answers LINE_TOO_LONG once, and the rest of it is dropped as it
// comes in, never held.
line_read read_input_line(std::string& out, size_t limit);

}  // namespace zor::platform
