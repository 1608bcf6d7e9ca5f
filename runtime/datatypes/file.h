// file!: a file or directory name in the language's path form, which on this POSIX build
// is the system's own: forward slashes, a leading slash for an absolute path, a trailing
// slash for a directory; no drive segment and no backslash translation (a backslash is an
// ordinary name character here). The cell and buffer are string!'s (see string.h);
// file! is url!'s child and inherits its making, conversions and path access (dir/name
// builds a longer file!).
//
// Mold writes "%" and the name bare when every character below 0x7F may stand in an
// unquoted literal (the url class of url.h), else between double quotes; in the quoted
// form the characters the lexer would not read back as themselves (the double quote,
// "%", "^", the controls and DEL) are written as %XX escapes, which the lexer decodes.
//
// Invariant for callers: values and outputs are rooted cells (argument-stack slots or
// root cells).
#pragma once

#include "runtime/value/cell.h"

namespace zor::file {

// Registers file! (id 8, parent url!).
void init_type();

// file!/mold.
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);

// `file/to-local-path`: appends the system form of the path from the value's index (a
// file! or string!) to the output. With absolute, a relative path is preceded by the
// current directory and one slash.
void to_local_path(cell* path, cell* output, bool absolute);

// Appends the process's current directory, ending with exactly one slash. Nothing is
// appended when the system cannot tell it.
void append_current_dir(cell* output);

}  // namespace zor::file
