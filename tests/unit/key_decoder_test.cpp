// The terminal key decoder: the sequences Linux terminals send for each key, decoded with
// all their bytes at hand; the prefixes that must wait for more; what a timeout makes of
// an unfinished sequence; and UTF-8 with invalid bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/key-decoder.h"

namespace zor {
namespace {

using namespace key_decoder;

key_decoder::decoded decode(const std::string& bytes, bool complete = false) {
    return decode_key(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), complete);
}

struct sequence_case {
    const char* why;
    std::string bytes;
    int32_t code;
};

TEST(KeyDecoder, DecodesEachTerminalsSequences) {
    const std::vector<sequence_case> cases = {
        {"plain letter", "a", 'a'},
        {"Ctrl-A", "\x01", 1},
        {"Ctrl-C", "\x03", 3},
        {"Backspace as DEL", "\x7f", 127},
        {"Backspace as BS", "\x08", 8},
        {"Tab", "\t", 9},
        {"Enter as CR", "\r", KEY_ENTER},
        {"Enter as LF (Ctrl-J, pasted line ends)", "\n", KEY_ENTER},
        {"CSI Up", "\x1b[A", KEY_UP},
        {"CSI Down", "\x1b[B", KEY_DOWN},
        {"CSI Right", "\x1b[C", KEY_RIGHT},
        {"CSI Left", "\x1b[D", KEY_LEFT},
        {"SS3 Up (application cursor mode)", "\x1bOA", KEY_UP},
        {"SS3 Down", "\x1bOB", KEY_DOWN},
        {"SS3 Right", "\x1bOC", KEY_RIGHT},
        {"SS3 Left", "\x1bOD", KEY_LEFT},
        {"CSI Home", "\x1b[H", KEY_HOME},
        {"CSI End", "\x1b[F", KEY_END},
        {"SS3 Home", "\x1bOH", KEY_HOME},
        {"SS3 End", "\x1bOF", KEY_END},
        {"Home, VT220 and Linux console", "\x1b[1~", KEY_HOME},
        {"Home, rxvt", "\x1b[7~", KEY_HOME},
        {"End, VT220 and Linux console", "\x1b[4~", KEY_END},
        {"End, rxvt", "\x1b[8~", KEY_END},
        {"Insert", "\x1b[2~", KEY_INSERT},
        {"Delete", "\x1b[3~", KEY_DELETE},
        {"Page Up", "\x1b[5~", KEY_PAGE_UP},
        {"Page Down", "\x1b[6~", KEY_PAGE_DOWN},
        {"Ctrl-Left, xterm", "\x1b[1;5D", KEY_LEFT},
        {"Shift-Right, xterm", "\x1b[1;2C", KEY_RIGHT},
        {"Alt-Up, xterm", "\x1b[1;3A", KEY_UP},
        {"Ctrl-Home, xterm", "\x1b[1;5H", KEY_HOME},
        {"Shift-End, xterm", "\x1b[1;2F", KEY_END},
        {"Ctrl-Delete, xterm", "\x1b[3;5~", KEY_DELETE},
        {"Shift-Up, rxvt", "\x1b[a", KEY_UP},
        {"Ctrl-Left, rxvt", "\x1bOd", KEY_LEFT},
        {"Ctrl-Delete, rxvt", "\x1b[3^", KEY_DELETE},
        {"Shift-Home, rxvt", "\x1b[7$", KEY_HOME},
        {"Ctrl-Shift-End, rxvt", "\x1b[8@", KEY_END},
        {"Alt-Left as ESC and the sequence", "\x1b\x1b[D", KEY_LEFT},
        {"Alt-x gives x", "\x1bx", 'x'},
        {"Alt-Backspace gives Backspace", "\x1b\x7f", 127},
        {"Shift-Tab gives Tab", "\x1b[Z", 9},
        {"keypad Enter in application mode", "\x1bOM", KEY_ENTER},
        {"F1 (SS3)", "\x1bOP", KEY_NONE},
        {"F5", "\x1b[15~", KEY_NONE},
        {"F1, Linux console", "\x1b[[A", KEY_NONE},
        {"paste start bracket", "\x1b[200~", KEY_NONE},
        {"focus in report", "\x1b[I", KEY_NONE},
        {"SGR mouse report", "\x1b[<0;12;5M", KEY_NONE},
        {"X10 mouse report", "\x1b[M !!", KEY_NONE},
        {"cursor position report", "\x1b[12;40R", KEY_NONE},
        {"two-byte UTF-8", "\xc3\xa9", 0xE9},
        {"three-byte UTF-8", "\xe2\x82\xac", 0x20AC},
        {"four-byte UTF-8", "\xf0\x9f\x98\x80", 0x1F600},
    };
    for (const sequence_case& c : cases) {
        decoded got = decode(c.bytes);
        EXPECT_EQ(got.code, c.code) << c.why;
        EXPECT_EQ(got.consumed, c.bytes.size()) << c.why;
    }
}

TEST(KeyDecoder, TakesOnlyTheFirstKey) {
    decoded got = decode("\x1b[Axyz");
    EXPECT_EQ(got.code, KEY_UP);
    EXPECT_EQ(got.consumed, 3u);
    got = decode("ab");
    EXPECT_EQ(got.code, 'a');
    EXPECT_EQ(got.consumed, 1u);
    // Esc pressed twice: the first is Esc, whatever follows.
    got = decode("\x1b\x1bx");
    EXPECT_EQ(got.code, KEY_ESCAPE);
    EXPECT_EQ(got.consumed, 1u);
}

TEST(KeyDecoder, PrefixesWaitForTheRest) {
    for (const char* prefix : {"\x1b", "\x1b[", "\x1b[1", "\x1b[1;5", "\x1bO", "\x1b\x1b", "\x1b\x1b[", "\x1b[M !",
                               "\x1b[[", "\xc3", "\xe2\x82", "\xf0\x9f\x98"}) {
        decoded got = decode(prefix);
        EXPECT_EQ(got.consumed, 0u) << "prefix of " << prefix + 1;
    }
}

TEST(KeyDecoder, ATimeoutEndsWhatCameSoFar) {
    struct timeout_case {
        const char* why;
        std::string bytes;
        int32_t code;
        size_t consumed;
    };
    const std::vector<timeout_case> cases = {
        {"a lone ESC is Esc", "\x1b", KEY_ESCAPE, 1},
        {"ESC ESC: the first Esc", "\x1b\x1b", KEY_ESCAPE, 1},
        {"ESC [ alone is Alt-[", "\x1b[", '[', 2},
        {"ESC O alone is Alt-O", "\x1bO", 'O', 2},
        {"an unfinished CSI is dropped", "\x1b[1;5", KEY_NONE, 5},
        {"an unfinished UTF-8 character is U+FFFD", "\xe2\x82", int32_t(REPLACEMENT_CHARACTER), 2},
    };
    for (const timeout_case& c : cases) {
        decoded got = decode(c.bytes, true);
        EXPECT_EQ(got.code, c.code) << c.why;
        EXPECT_EQ(got.consumed, c.consumed) << c.why;
    }
}

TEST(KeyDecoder, InvalidUtf8BecomesReplacementCharacters) {
    struct invalid_case {
        const char* why;
        std::string bytes;
        size_t consumed;  // the maximal invalid prefix
    };
    const std::vector<invalid_case> cases = {
        {"a continuation byte alone", "\x80x", 1},
        {"an overlong lead (C0)", "\xc0\xafx", 1},
        {"a lead past U+10FFFF (F5)", "\xf5\x80\x80\x80", 1},
        {"a lead followed by ASCII", "\xc3x", 1},
        {"an overlong three-byte form", "\xe0\x80\x80", 1},
        {"a surrogate", "\xed\xa0\x80", 1},
        {"past U+10FFFF (F4 90)", "\xf4\x90\x80\x80", 1},
        {"a three-byte lead, one good byte, then ASCII", "\xe2\x82x", 2},
    };
    for (const invalid_case& c : cases) {
        decoded got = decode(c.bytes);
        EXPECT_EQ(got.code, int32_t(REPLACEMENT_CHARACTER)) << c.why;
        EXPECT_EQ(got.consumed, c.consumed) << c.why;
    }
    // The character after the bad bytes is intact.
    const std::string text = "\xff\xc3\xa9";
    decoded first = decode(text);
    decoded second = decode_key(reinterpret_cast<const uint8_t*>(text.data()) + first.consumed,
                                text.size() - first.consumed, false);
    EXPECT_EQ(second.code, 0xE9);
}

TEST(KeyDecoder, NothingToDecodeWaits) { EXPECT_EQ(decode("", true).consumed, 0u); }

}  // namespace
}  // namespace zor
