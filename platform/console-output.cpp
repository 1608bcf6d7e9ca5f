// Console printers: code units are encoded as UTF-8 into one buffer that is written to
// standard output when full and on flush.
#include "platform/console-output.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/output-hooks.h"

namespace zor::platform {
namespace {

constexpr size_t BUFFER_SIZE = 16384;
char buffer[BUFFER_SIZE];
size_t used = 0;

void write_all(const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(STDOUT_FILENO, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;  // a closed pipe or a full disk loses the output, not the process
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}

void put_bytes(const char* p, size_t n) {
    if (n >= BUFFER_SIZE) {
        flush_output();
        write_all(p, n);
        return;
    }
    if (used + n > BUFFER_SIZE) flush_output();
    std::memcpy(buffer + used, p, n);
    used += n;
}

// Code points are written as UTF-8; an unpaired surrogate or a value past U+10FFFF
// becomes U+FFFD so that the output stays valid UTF-8.
void put_code_point(uint32_t c) {
    char u[4];
    size_t n;
    if (c < 0x80) {
        u[0] = static_cast<char>(c);
        n = 1;
    } else if (c < 0x800) {
        u[0] = static_cast<char>(0xC0 | (c >> 6));
        u[1] = static_cast<char>(0x80 | (c & 0x3F));
        n = 2;
    } else {
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
        if (c < 0x10000) {
            u[0] = static_cast<char>(0xE0 | (c >> 12));
            u[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            u[2] = static_cast<char>(0x80 | (c & 0x3F));
            n = 3;
        } else {
            u[0] = static_cast<char>(0xF0 | (c >> 18));
            u[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            u[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            u[3] = static_cast<char>(0x80 | (c & 0x3F));
            n = 4;
        }
    }
    put_bytes(u, n);
}

template <typename Unit>
void print_units(const Unit* text, size_t bytes, bool line) {
    output_hooks::call_text_hooks(text, bytes, 0);
    size_t count = bytes / sizeof(Unit);
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = text[i];
        if (c < 0x80) {
            if (used == BUFFER_SIZE) flush_output();
            buffer[used++] = static_cast<char>(c);
        } else {
            put_code_point(c);
        }
    }
    if (line) put_bytes("\n", 1);
}

}  // namespace

void init_console_output() {
    // A closed reader of our output must not kill the process.
    signal(SIGPIPE, SIG_IGN);
}

void print_latin1(const uint8_t* text, size_t bytes) { print_units(text, bytes, false); }
void print_ucs2(const uint16_t* text, size_t bytes) { print_units(text, bytes, false); }
void print_ucs4(const uint32_t* text, size_t bytes) { print_units(text, bytes, false); }
void print_latin1_line(const uint8_t* text, size_t bytes) { print_units(text, bytes, true); }
void print_ucs2_line(const uint16_t* text, size_t bytes) { print_units(text, bytes, true); }
void print_ucs4_line(const uint32_t* text, size_t bytes) { print_units(text, bytes, true); }

void print_utf8(const char* text, size_t bytes) { put_bytes(text, bytes); }

void write_raw(const char* text, size_t bytes) {
    flush_output();
    write_all(text, bytes);
}

void flush_output() {
    if (used == 0) return;
    size_t n = used;
    used = 0;
    write_all(buffer, n);
}

}  // namespace zor::platform
