// Standard input's bytes, read into one buffer that every reader of standard input
// shares: the line editor's key reader, the line reads of redirected input, `input-stdin`
// and `read-stdin`. A reader that reads ahead leaves what it did not use here, so no
// other reader loses it.
//
// Invariants: bytes leave the buffer only through consume (or take); the end of input is
// not sticky (a terminal delivers more after a Ctrl-D at its cooked prompt, a file may
// grow), so each reader asks again and gets 0 again from a pipe that has ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zor::platform::standard_input {

// The bytes read and not yet consumed.
const uint8_t* pending_data();
size_t pending_size();
// Drops n bytes (at most the pending ones) from the front.
void consume(size_t n);

// One read(2) of standard input appended to the pending bytes (EINTR retried); answers
// the count read, 0 at the end of input or on a failure.
size_t read_more();

enum line_status { LINE_READ, LINE_END_OF_INPUT, LINE_TOO_LONG };

// The next line's bytes into out, without its LF (a CR before it stays). A last line
// without LF counts. LINE_END_OF_INPUT when the input ended before any byte of a line.
// A line longer than limit bytes (or than the process can hold) answers LINE_TOO_LONG
// once; the rest of it is dropped as it comes in, never held. Each byte is searched for
// the LF once, so a line costs time in proportion to its length.
line_status read_line(std::string& out, size_t limit);

// Up to n bytes into the buffer: the pending ones first, else what one read(2) gives.
// Answers the count, 0 at the end of input or on a failure.
size_t take(uint8_t* into, size_t n);

}  // namespace zor::platform::standard_input
