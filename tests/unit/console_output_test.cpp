// Console output: what bytes each printer hands to standard output (captured by pointing
// fd 1 at a temporary file), that they are all there when the call returns, the number
// formats, the raw-text hooks, and the is-console flag of a terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "platform/console-output.h"
#include "runtime/text/output-hooks.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

// Standard output redirected to a temporary file for the life of the object. written()
// reads what reached the file so far, without flushing anything first.
class captured_stdout {
public:
    captured_stdout() {
        platform::flush_output();
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        file_ = std::tmpfile();
        ::dup2(::fileno(file_), STDOUT_FILENO);
    }
    ~captured_stdout() {
        platform::flush_output();
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        std::fclose(file_);
    }
    std::string written() const {
        std::string out;
        char chunk[4096];
        off_t at = 0;
        for (ssize_t n; (n = ::pread(::fileno(file_), chunk, sizeof chunk, at)) > 0; at += n) {
            out.append(chunk, static_cast<size_t>(n));
        }
        return out;
    }

private:
    int saved_ = -1;
    std::FILE* file_ = nullptr;
};

std::string hex_of(const std::string& bytes) {
    std::string out;
    char two[4];
    for (unsigned char b : bytes) {
        std::snprintf(two, sizeof two, "%02X ", b);
        out += two;
    }
    return out;
}

// What the raw-text hooks saw, each call as "text|length|flag"; written_at records how
// many bytes had reached standard output when the hook ran.
std::vector<std::string> hook_calls;
const captured_stdout* capture_in_use = nullptr;
std::vector<size_t> written_at;

void record_text(const void* text, size_t length, int flag) {
    hook_calls.push_back(std::string(static_cast<const char*>(text), length) + "|" + std::to_string(length) + "|" +
                         std::to_string(flag));
    written_at.push_back(capture_in_use ? capture_in_use->written().size() : 0);
}

class ConsoleOutput : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ensure_runtime();
        hook_calls.clear();
        written_at.clear();
    }
};

struct text_case {
    const char* why;
    int unit;
    std::vector<uint32_t> text;
    std::string expected;  // without the line end
};

void print_units(const text_case& c, bool line) {
    switch (c.unit) {
        case 1: {
            std::vector<uint8_t> t(c.text.begin(), c.text.end());
            size_t bytes = t.size();
            line ? platform::print_latin1_line(t.data(), bytes) : platform::print_latin1(t.data(), bytes);
            break;
        }
        case 2: {
            std::vector<uint16_t> t(c.text.begin(), c.text.end());
            size_t bytes = t.size() * 2;
            line ? platform::print_ucs2_line(t.data(), bytes) : platform::print_ucs2(t.data(), bytes);
            break;
        }
        default: {
            std::vector<uint32_t> t(c.text.begin(), c.text.end());
            size_t bytes = t.size() * 4;
            line ? platform::print_ucs4_line(t.data(), bytes) : platform::print_ucs4(t.data(), bytes);
            break;
        }
    }
}

std::vector<uint32_t> of(const std::string& ascii) { return std::vector<uint32_t>(ascii.begin(), ascii.end()); }

TEST_F(ConsoleOutput, EachUnitWidthLeavesAsUtf8AndLineFormsAddLf) {
    const text_case cases[] = {
        {"Latin-1 0xE9", 1, {'c', 'a', 'f', 0xE9}, "caf\xC3\xA9"},
        {"Latin-1 0x80 and 0xFF", 1, {0x80, 0xFF}, "\xC2\x80\xC3\xBF"},
        {"Latin-1 escape sequences untouched", 1, of("\x1B[31mred\x1B[0m \x1B[2J\x1B[5;10H\x1B"),
         "\x1B[31mred\x1B[0m \x1B[2J\x1B[5;10H\x1B"},
        {"UCS-2 across the 1/2/3-byte forms", 2, {'a', 0xE9, 0x3C0, 0x20AC, 0xFFFD}, "a\xC3\xA9\xCF\x80\xE2\x82\xAC\xEF\xBF\xBD"},
        {"UCS-2 lone surrogates become U+FFFD (no pairing)", 2, {0xD83D, 0xDE00, 'x'}, "\xEF\xBF\xBD\xEF\xBF\xBDx"},
        {"UCS-2 escape sequence untouched", 2, of("\x1B[1;31;44mX"), "\x1B[1;31;44mX"},
        {"UCS-4 above U+FFFF", 4, {0x1F600, 0x10FFFF}, "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {"UCS-4 surrogate and out-of-range units become U+FFFD", 4, {0xDC00, 0x110000, 0xFFFFFFFF, 'z'},
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz"},
        {"UCS-4 escape sequence untouched", 4, of("\x1B[K\x1B[?"), "\x1B[K\x1B[?"},
        {"empty text", 1, {}, ""},
        {"a NUL unit is a character like any other", 1, {'a', 0, 'b'}, std::string("a\0b", 3)},
    };
    for (const text_case& c : cases) {
        for (bool line : {false, true}) {
            captured_stdout capture;
            print_units(c, line);
            std::string expected = c.expected + (line ? "\n" : "");
            EXPECT_EQ(hex_of(capture.written()), hex_of(expected)) << c.why << (line ? " (line)" : "");
        }
    }
}

// Nothing waits in a buffer after a print call: the text is in the file before any flush.
TEST_F(ConsoleOutput, EveryCallWritesAllItsBytesBeforeReturning) {
    captured_stdout capture;
    const uint8_t latin[] = {'o', 'n', 'e'};
    platform::print_latin1(latin, sizeof latin);
    EXPECT_EQ(capture.written(), "one");
    const uint16_t wide[] = {' ', 0x3C0};
    platform::print_ucs2_line(wide, sizeof wide);
    EXPECT_EQ(capture.written(), "one \xCF\x80\n");
    platform::print_c_string("two");
    platform::print_integer(3);
    platform::print_utf8("!", 1);
    EXPECT_EQ(capture.written(), "one \xCF\x80\ntwo3!");
}

// Texts longer than the output buffer come out whole: no multi-byte sequence is split or
// lost at a batch boundary.
TEST_F(ConsoleOutput, LongTextsCrossTheBufferIntact) {
    struct long_case {
        const char* why;
        int unit;
        uint32_t code_point;
        size_t count;
        std::string encoded;
    } cases[] = {
        {"Latin-1, 2 bytes each", 1, 0xE9, 3001, "\xC3\xA9"},
        {"UCS-2, 3 bytes each", 2, 0x20AC, 1367, "\xE2\x82\xAC"},
        {"UCS-4, 4 bytes each", 4, 0x1F600, 1025, "\xF0\x9F\x98\x80"},
        {"ASCII", 1, 'x', 5000, "x"},
    };
    for (const long_case& c : cases) {
        text_case text{c.why, c.unit, std::vector<uint32_t>(c.count, c.code_point), ""};
        captured_stdout capture;
        print_units(text, true);
        std::string expected;
        for (size_t i = 0; i < c.count; ++i) expected += c.encoded;
        expected += "\n";
        std::string out = capture.written();
        EXPECT_EQ(out.size(), expected.size()) << c.why;
        EXPECT_TRUE(out == expected) << c.why;
    }
}

TEST_F(ConsoleOutput, NumberPrintersFormatAsTheCLibraryDoes) {
    const double infinity = std::numeric_limits<double>::infinity();
    const struct {
        const char* why;
        std::function<void()> print;
        const char* expected;
    } cases[] = {
        {"%i zero", [] { platform::print_integer(0); }, "0"},
        {"%i negative", [] { platform::print_integer(-42); }, "-42"},
        {"%i lowest", [] { platform::print_integer(INT32_MIN); }, "-2147483648"},
        {"%i highest", [] { platform::print_integer(INT32_MAX); }, "2147483647"},
        {"%02X pads", [] { platform::print_hex_byte(0x5); }, "05"},
        {"%02X upper case", [] { platform::print_hex_byte(0xAB); }, "AB"},
        {"%02X is a minimum width, not a cut", [] { platform::print_hex_byte(0x1234); }, "1234"},
        {"%08X pads", [] { platform::print_hex(0x1F); }, "0000001F"},
        {"%08X full", [] { platform::print_hex(0xDEADBEEF); }, "DEADBEEF"},
        {"%.16g short", [] { platform::print_float64(0.1); }, "0.1"},
        {"%.16g sixteen digits", [] { platform::print_float64(1.0 / 3.0); }, "0.3333333333333333"},
        {"%.16g exponent form", [] { platform::print_float64(1e16); }, "1e+16"},
        {"%.16g rounds the 17th digit", [] { platform::print_float64(123456789012345678.0); }, "1.234567890123457e+17"},
        {"%.16g small exponent", [] { platform::print_float64(1e-5); }, "1e-05"},
        {"%.16g denormal", [] { platform::print_float64(5e-324); }, "4.940656458412465e-324"},
        {"%.16g negative zero", [] { platform::print_float64(-0.0); }, "-0"},
        {"%.16g integral", [] { platform::print_float64(100.0); }, "100"},
        {"%.16g infinity", [=] { platform::print_float64(infinity); }, "inf"},
        {"%.16g negative infinity", [=] { platform::print_float64(-infinity); }, "-inf"},
        {"%.16g NaN", [] { platform::print_float64(std::nan("")); }, "nan"},
        {"%.7g of a widened float", [] { platform::print_float32(0.1f); }, "0.1"},
        {"%.7g seven digits", [] { platform::print_float32(1.0f / 3.0f); }, "0.3333333"},
        {"%.7g exponent form", [] { platform::print_float32(16777217.0f); }, "1.677722e+07"},
        {"%.7g largest float", [] { platform::print_float32(std::numeric_limits<float>::max()); }, "3.402823e+38"},
    };
    for (const auto& c : cases) {
        captured_stdout capture;
        c.print();
        EXPECT_EQ(capture.written(), c.expected) << c.why;
    }
}

// Every printer shows its text to the raw-text hooks, after it reached standard output.
TEST_F(ConsoleOutput, RawTextHooksSeeEachPrintAfterItsBytes) {
    output_hooks::add(nullptr, record_text);
    {
        captured_stdout capture;
        capture_in_use = &capture;
        const char* text = "c-text";
        EXPECT_EQ(platform::print_c_string(text), text);
        platform::print_integer(-7);
        platform::print_hex(255);
        platform::print_float64(2.5);
        const uint8_t latin[] = {'h', 'i'};
        platform::print_latin1_line(latin, sizeof latin);
        const uint16_t wide[] = {'w'};
        platform::print_ucs2(wide, sizeof wide);
        capture_in_use = nullptr;
    }
    output_hooks::remove(nullptr, record_text);

    const std::vector<std::string> expected{
        "c-text|6|0", "-7|2|0", "000000FF|8|0", "2.5|3|0", "hi|2|0", std::string("w\0|2|0", 6),
    };
    EXPECT_EQ(hook_calls, expected);
    // Cumulative bytes written when each hook ran: the call's own bytes included.
    const std::vector<size_t> sizes{6, 8, 16, 19, 22, 23};
    EXPECT_EQ(written_at, sizes);
}

// The is-console flag follows standard output at initialisation: a terminal sets it (and
// its width is known), a file clears it.
TEST_F(ConsoleOutput, IsConsoleFollowsStandardOutputAtInit) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    winsize size{};
    size.ws_col = 132;
    size.ws_row = 40;
    ASSERT_EQ(::ioctl(terminal, TIOCSWINSZ, &size), 0);

    platform::flush_output();
    int saved = ::dup(STDOUT_FILENO);
    ::dup2(terminal, STDOUT_FILENO);
    platform::init_console_output();
    bool on_terminal = platform::is_console();
    int columns = platform::console_columns();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(terminal);
    ::close(master);
    EXPECT_TRUE(on_terminal);
    EXPECT_EQ(columns, 132);

    {
        captured_stdout capture;
        platform::init_console_output();
        EXPECT_FALSE(platform::is_console());
        EXPECT_EQ(platform::console_columns(), 0);
    }
    // Back to what the test process has.
    platform::init_console_output();
}

}  // namespace
}  // namespace zor
