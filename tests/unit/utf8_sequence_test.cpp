// The shared UTF-8 sequence checker: what it answers for whole characters, for starts cut
// short by the end of the bytes, and the length of each maximal invalid prefix (which the
// key decoder turns into one U+FFFD and the text loader reports from).
#include <gtest/gtest.h>

#include <string>

#include "platform/utf8-sequence.h"

namespace zor {
namespace {

TEST(Utf8Sequence, StatusCodePointAndLength) {
    struct sequence_case {
        const char* why;
        std::string bytes;
        utf8::status state;
        uint32_t code_point;  // only for valid
        int length;
    };
    using enum utf8::status;
    const sequence_case cases[] = {
        {"ASCII", "a", valid, 'a', 1},
        {"NUL", std::string(1, '\0'), valid, 0, 1},
        {"two bytes", "\xc3\xa9", valid, 0xE9, 2},
        {"the smallest two-byte form", "\xc2\x80", valid, 0x80, 2},
        {"three bytes", "\xe2\x82\xac", valid, 0x20AC, 3},
        {"the last before the surrogates", "\xed\x9f\xbf", valid, 0xD7FF, 3},
        {"four bytes", "\xf0\x9f\x98\x80", valid, 0x1F600, 4},
        {"the last code point", "\xf4\x8f\xbf\xbf", valid, 0x10FFFF, 4},
        {"a trailing byte after a whole character is not read", "\xc3\xa9\x80", valid, 0xE9, 2},
        {"a two-byte lead alone", "\xc3", incomplete, 0, 1},
        {"a three-byte start", "\xe2\x82", incomplete, 0, 2},
        {"a four-byte start", "\xf0\x9f\x98", incomplete, 0, 3},
        {"a continuation byte alone", "\x80", invalid, 0, 1},
        {"an overlong lead (C0)", "\xc0\xaf", invalid, 0, 1},
        {"an overlong lead (C1)", "\xc1\xbf", invalid, 0, 1},
        {"a lead past U+10FFFF (F5)", "\xf5\x80\x80\x80", invalid, 0, 1},
        {"FF", "\xff", invalid, 0, 1},
        {"a lead followed by ASCII", "\xc3x", invalid, 0, 1},
        {"an overlong three-byte form", "\xe0\x80\x80", invalid, 0, 1},
        {"a surrogate", "\xed\xa0\x80", invalid, 0, 1},
        {"an overlong four-byte form", "\xf0\x8f\xbf\xbf", invalid, 0, 1},
        {"past U+10FFFF (F4 90)", "\xf4\x90\x80\x80", invalid, 0, 1},
        {"one good continuation, then ASCII", "\xe2\x82x", invalid, 0, 2},
        {"two good continuations, then a lead", "\xf0\x9f\x98\xc3", invalid, 0, 3},
    };
    for (const sequence_case& c : cases) {
        utf8::sequence got =
            utf8::check_sequence(reinterpret_cast<const uint8_t*>(c.bytes.data()), int64_t(c.bytes.size()));
        EXPECT_EQ(got.state, c.state) << c.why;
        EXPECT_EQ(got.length, c.length) << c.why;
        if (c.state == valid) {
            EXPECT_EQ(got.code_point, c.code_point) << c.why;
        }
    }
}

// An invalid byte met before the end of a short input wins over the missing rest.
TEST(Utf8Sequence, AnInvalidByteBeforeTheEndIsInvalidNotIncomplete) {
    const uint8_t bytes[] = {0xF0, 0x9F, 0x41};
    utf8::sequence got = utf8::check_sequence(bytes, 3);
    EXPECT_EQ(got.state, utf8::status::invalid);
    EXPECT_EQ(got.length, 2);
    got = utf8::check_sequence(bytes, 2);
    EXPECT_EQ(got.state, utf8::status::incomplete);
    EXPECT_EQ(got.length, 2);
}

}  // namespace
}  // namespace zor
