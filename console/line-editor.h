// The console line editor: reads one line of user input on a terminal, with the prompt,
// echo, cursor movement, deletion, history recall and Tab completion; or, when standard
// input or output is not a terminal, reads one UTF-8 line of standard input and shows
// nothing. The console reaches it through its routines (boot/routines/console-input.cpp):
// `init` once, then `_set-buffer-history` and `_read-input` for every line.
//
// The line being edited lives in C++ memory for the whole edit and is written into the
// caller's string when the edit ends, so no raw pointer into a series is held while keys
// are awaited or completion runs Zor code. The caller's string and history block are
// held in two cells that the collector marks (registered on first use).
//
// Screen updates use relative cursor movement from where the prompt began, and each
// update is one write(2) (the echo of several keys that arrived together is one write).
// Raw mode lasts for one edit and is left on every way out of it (an error raised by
// completion code included); platform/terminal.h restores the terminal if the process
// ends in the middle.
#pragma once

#include "runtime/value/cell.h"

namespace zor::line_editor {

// The console's `init`: sets the window title to the string's text (from its head) and
// the console size (`system/console/size`, 80x50 when unknown).
void init(const cell* title);

// `_set-buffer-history`: the string that receives the next line and the history block
// (most recent entry first, from the block's index).
void set_buffer_history(const cell* line, const cell* history);

// `_read-input`: reads one line into the string given by set_buffer_history (without its
// line end). On a terminal: edits with the prompt, each character echoed as "*" when
// hidden; Enter adds the line (a copy of it) to the history unless hidden, empty or equal
// to the most recent entry. Redirected: reads the next line, decoding bytes that are not
// UTF-8 as U+FFFD; a CR before the LF stays. Answers false only when the input had ended
// before any character of the line (the string is then empty); a last line without a
// line end is still a line.
bool read_input(const cell* prompt, bool hidden);

// `_terminate-console`: leaves raw mode if an edit left it on (it never does normally).
void terminate();

// Reads the next line of standard input into the string (appended, decoded as
// read_input does), even when standard input is a terminal; false at the end of input.
// A line longer than the heap or 2 GiB raises internal/no-memory.
bool read_standard_input_line(cell* string);

}  // namespace zor::line_editor
