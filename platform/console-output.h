// The console printers: text of unit width 1 (Latin-1), 2 (UCS-2) or 4 (UCS-4) leaves
// the process as UTF-8 through one output buffer, with LF line ends. VT sequences in the
// text pass through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zor::platform {

void init_console_output();

// Lengths are in bytes, as the series hold them.
void print_latin1(const uint8_t* text, size_t bytes);
void print_ucs2(const uint16_t* text, size_t bytes);
void print_ucs4(const uint32_t* text, size_t bytes);
void print_latin1_line(const uint8_t* text, size_t bytes);
void print_ucs2_line(const uint16_t* text, size_t bytes);
void print_ucs4_line(const uint32_t* text, size_t bytes);

// UTF-8 bytes straight to the output buffer.
void print_utf8(const char* text, size_t bytes);
// Bypasses the buffer (after flushing it): the fatal report path.
void write_raw(const char* text, size_t bytes);
void flush_output();

}  // namespace zor::platform
