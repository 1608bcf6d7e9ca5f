// Percent-encoding of text (%XX escapes of UTF-8 bytes), as url! values are written and
// read, and as the `enhex` and `dehex` natives convert any text.
//
// Which bytes stay as they are is url!'s class table (runtime/datatypes/url.h): the
// unreserved class, or the url class that url! and file! molding use.
//
// Invariant for callers: the string cells live in rooted slots (argument stack, a root
// cell); the output grows, and so may move buffers, while the input is read again from
// its cell.
#pragma once

#include <cstdint>

#include "runtime/datatypes/url.h"
#include "runtime/value/cell.h"

namespace zor::url {

// `url/percent-encode`: the text of the string from its index (at most length
// characters, -1 for all) as UTF-8, each byte appended to the output as itself when the
// mode's class keeps it, else as "%" and two upper-case hexadecimal digits.
void percent_encode(cell* string, int64_t length, cell* output, int mode);

// `url/percent-decode`: the text of the string from its index with its escapes decoded,
// appended to the output. An escape (a "%" and two hexadecimal digits) whose byte leads a
// UTF-8 sequence of n > 1 bytes takes the n - 1 escapes after it when they are there and
// the n bytes form one valid character, which is appended; an escape of any other byte
// appends the byte's value as a code point (0..0xFF); everything else (no escape, a bad
// digit, an incomplete or invalid escaped sequence) is copied one character at a time.
void percent_decode(cell* string, cell* output);

}  // namespace zor::url
