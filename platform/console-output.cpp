// The console writer: units are encoded as UTF-8 into a 1,024-byte buffer, which is
// written out as soon as more than 1,020 bytes are pending and at the end of every call.
// Output that cannot be written ends the process (see console-output.h).
#include "platform/console-output.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>

#include "platform/fatal.h"
#include "runtime/text/output-hooks.h"
#include "runtime/text/unicode.h"

namespace zor::platform {
namespace {

constexpr size_t BUFFER_SIZE = 1024;
// Past this many pending bytes the buffer is written: the longest UTF-8 sequence (4
// bytes) always fits after it.
constexpr size_t FLUSH_THRESHOLD = 1020;

char buffer[BUFFER_SIZE];
size_t used = 0;
bool console = false;
// Standard output was closed when the process started; descriptor 1 then holds
// /dev/null, so that no file opened later takes its place and receives the output.
bool started_closed = false;

// The bytes written after the last line end (or carriage return), the latest of them only
// when there were more: where the line editor's prompt will start.
constexpr size_t LINE_TAIL_LIMIT = 4096;
std::string line_tail;

void note_line_tail(const char* p, size_t n) {
    size_t from = n;
    while (from > 0 && p[from - 1] != '\n' && p[from - 1] != '\r') --from;
    if (from > 0) line_tail.clear();
    line_tail.append(p + from, n - from);
    if (line_tail.size() > LINE_TAIL_LIMIT) line_tail.erase(0, line_tail.size() - LINE_TAIL_LIMIT);
}

// Writes everything; answers 0, or the errno of the write that failed.
int write_all(const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(STDOUT_FILENO, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return 0;
}

void write_error_line(const char* text) {
    size_t n = std::strlen(text);
    while (n > 0) {
        ssize_t w = ::write(STDERR_FILENO, text, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        text += w;
        n -= static_cast<size_t>(w);
    }
}

// Nothing more can be shown: a reader that went away (a pipe into `head`) is the normal
// end of a filter, quiet and successful; any other failure (a full disk, a closed
// descriptor) would lose the output unseen, so it is told on standard error and the
// process fails.
[[noreturn]] void output_failed(int error) {
    used = 0;
    if (error == EPIPE) exit_process(0);
    char line[160];
    std::snprintf(line, sizeof line, "*** Error: cannot write to standard output: %s\n", std::strerror(error));
    write_error_line(line);
    exit_process(1);
}

void write_out(const char* p, size_t n) {
    if (n == 0) return;
    int error = started_closed ? EBADF : write_all(p, n);
    if (error) output_failed(error);
    note_line_tail(p, n);
}

void put_byte(char c) {
    buffer[used++] = c;
    if (used > FLUSH_THRESHOLD) flush_output();
}

void put_code_point(uint32_t c) {
    if (c < 0x80) {
        put_byte(static_cast<char>(c));
        return;
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
    used += static_cast<size_t>(unicode::encode_utf8_char(c, reinterpret_cast<uint8_t*>(buffer + used)));
    if (used > FLUSH_THRESHOLD) flush_output();
}

void put_bytes(const char* p, size_t n) {
    while (n > 0) {
        size_t room = BUFFER_SIZE - used;
        size_t chunk = n < room ? n : room;
        std::memcpy(buffer + used, p, chunk);
        used += chunk;
        p += chunk;
        n -= chunk;
        if (used > FLUSH_THRESHOLD) flush_output();
    }
}

template <typename Unit> void put_units(const void* text, size_t bytes) {
    size_t count = bytes / sizeof(Unit);
    for (size_t i = 0; i < count; ++i) {
        Unit u;
        std::memcpy(&u, static_cast<const char*>(text) + i * sizeof(Unit), sizeof(Unit));
        put_code_point(u);
    }
}

// A number's text: written, then shown to the raw-text hooks.
void print_number_text(const char* text, size_t length) {
    put_bytes(text, length);
    flush_output();
    output_hooks::call_text_hooks(text, length, 0);
}

// snprintf formats integers the same in every locale (no grouping without the ' flag).
template <typename Value> void print_formatted(const char* format, Value value) {
    char text[16];
    int n = std::snprintf(text, sizeof text, format, value);
    print_number_text(text, static_cast<size_t>(n));
}

// "%.Ng" of the value: std::to_chars gives exactly that text, whatever the process locale.
void print_general(double value, int precision) {
    char text[64];
    auto done = std::to_chars(text, text + sizeof text, value, std::chars_format::general, precision);
    print_number_text(text, static_cast<size_t>(done.ptr - text));
}

}  // namespace

void init_console_output() {
    // A closed reader of our output is seen as EPIPE from write, not as a signal.
    signal(SIGPIPE, SIG_IGN);
    if (::fcntl(STDOUT_FILENO, F_GETFD) < 0 && errno == EBADF) {
        started_closed = true;
        int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (fd >= 0 && fd != STDOUT_FILENO) {
            ::dup2(fd, STDOUT_FILENO);
            ::close(fd);
        }
    }
    console = ::isatty(STDOUT_FILENO) == 1;
}

bool is_console() { return console; }

std::string_view output_line_tail() { return line_tail; }

int console_columns() {
    if (!console) return 0;
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

void write_text(const void* text, size_t bytes, int unit, bool line_end) {
    switch (unit) {
        case 1: put_units<uint8_t>(text, bytes); break;
        case 2: put_units<uint16_t>(text, bytes); break;
        case 4: put_units<uint32_t>(text, bytes); break;
        default: break;  // callers pass 1, 2 or 4
    }
    if (line_end) put_byte('\n');
    flush_output();
}

namespace {

void print_text(const void* text, size_t bytes, int unit, bool line_end) {
    write_text(text, bytes, unit, line_end);
    output_hooks::call_text_hooks(text, bytes, 0);
}

}  // namespace

void print_latin1(const uint8_t* text, size_t bytes) { print_text(text, bytes, 1, false); }
void print_ucs2(const uint16_t* text, size_t bytes) { print_text(text, bytes, 2, false); }
void print_ucs4(const uint32_t* text, size_t bytes) { print_text(text, bytes, 4, false); }
void print_latin1_line(const uint8_t* text, size_t bytes) { print_text(text, bytes, 1, true); }
void print_ucs2_line(const uint16_t* text, size_t bytes) { print_text(text, bytes, 2, true); }
void print_ucs4_line(const uint32_t* text, size_t bytes) { print_text(text, bytes, 4, true); }

const char* print_c_string(const char* text) {
    size_t length = std::strlen(text);
    put_bytes(text, length);
    flush_output();
    output_hooks::call_text_hooks(text, length, 0);
    return text;
}

void print_integer(int32_t value) { print_formatted("%i", static_cast<int>(value)); }
void print_hex_byte(uint32_t value) { print_formatted("%02X", static_cast<unsigned>(value)); }
void print_hex(uint32_t value) { print_formatted("%08X", static_cast<unsigned>(value)); }
void print_float64(double value) { print_general(value, 16); }
void print_float32(float value) { print_general(static_cast<double>(value), 7); }

void print_utf8(const char* text, size_t bytes) {
    put_bytes(text, bytes);
    flush_output();
}

void write_raw(const char* text, size_t bytes) {
    // The fatal report: whatever fails here, the process is ending anyway.
    size_t n = used;
    used = 0;
    if (!started_closed) {
        (void)write_all(buffer, n);
        (void)write_all(text, bytes);
    }
}

void flush_output() {
    if (used == 0) return;
    size_t n = used;
    used = 0;
    write_out(buffer, n);
}

}  // namespace zor::platform
