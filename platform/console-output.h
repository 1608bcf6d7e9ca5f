// The console printers, the lowest layer of all printing: text of unit width 1
// (Latin-1), 2 (UCS-2, no surrogate pairing) or 4 (UCS-4), NUL-terminated byte strings
// and numbers leave the process on standard output as UTF-8, with LF line ends.
//
// One writer serves a terminal and a redirected stream alike: VT/ANSI sequences in the
// text pass through unchanged (the terminal interprets them; a file or pipe gets them
// byte for byte). A unit that is a lone surrogate or lies past U+10FFFF is written as
// U+FFFD, so the output is always valid UTF-8.
//
// Invariant: every print call has handed all its bytes to the file descriptor when it
// returns. Output is batched only within one call (in a small buffer), so it interleaves
// correctly with standard error and child processes and nothing is lost when the
// process exits or crashes. SIGPIPE is ignored: a reader that closed its end of a pipe
// ends the process quietly with status 0, as a filter ends; any other failed write (a
// full disk, a closed descriptor) ends it with a message on standard error and status 1,
// never silently losing the output.
//
// Every printer calls the raw-text output hooks after writing: the text printers with
// (text, byte length, 0), print_c_string with (text, strlen, 0), the number printers with
// (the number's ASCII text, its length, 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zor::platform {

// `platform/init-console-output`: sets the is-console flag (standard output is a
// terminal) once for the run and ignores SIGPIPE. A standard output closed at start is
// kept occupied (by /dev/null) so no file takes its descriptor; writing to it fails.
void init_console_output();
// The is-console flag.
bool is_console();
// The bytes written to standard output since its last line end or carriage return (the
// last 4,096 of them at most): the line editor measures where its prompt starts.
std::string_view output_line_tail();
// The terminal's width in columns when standard output is a terminal that reports one;
// 0 otherwise.
int console_columns();

// `platform/write-text`: the common writer of text of a unit width 1, 2 or 4; length in
// bytes, as the series hold them. With line_end an LF follows the text.
void write_text(const void* text, size_t bytes, int unit, bool line_end);

// Lengths are in bytes.
void print_latin1(const uint8_t* text, size_t bytes);
void print_ucs2(const uint16_t* text, size_t bytes);
void print_ucs4(const uint32_t* text, size_t bytes);
void print_latin1_line(const uint8_t* text, size_t bytes);
void print_ucs2_line(const uint16_t* text, size_t bytes);
void print_ucs4_line(const uint32_t* text, size_t bytes);

// `platform/print-c-string`: the bytes up to the NUL as they are; answers the text.
const char* print_c_string(const char* text);
// The number printers, formatted as the C library's "%i", "%02X", "%08X", "%.16g" and
// (of the value widened to 64 bits) "%.7g" format them in the "C" locale.
void print_integer(int32_t value);
void print_hex_byte(uint32_t value);
void print_hex(uint32_t value);
void print_float64(double value);
void print_float32(float value);

// UTF-8 bytes as they are, without the hooks (the runtime's own messages).
void print_utf8(const char* text, size_t bytes);
// The fatal report path: the bytes with plain write(2) calls, nothing else (safe in a
// signal handler).
void write_raw(const char* text, size_t bytes);
// Writes whatever a print call left behind. Every printer already ends with it; kept for
// callers that want to say so.
void flush_output();

}  // namespace zor::platform
