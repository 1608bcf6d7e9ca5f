// The base-2, base-16, base-58 and base-64 codecs: encodings of known bytes, decodings of
// valid and invalid texts (blanks, comments, pads, wide units), and round trips.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codecs/base-codecs.h"

namespace zor {
namespace {

using bytes = std::vector<uint8_t>;

bytes of(const std::string& text) { return bytes(text.begin(), text.end()); }

std::string encode(int base, const bytes& input) {
    // The natives' sizes are generous; the codecs' own bounds are tighter.
    std::vector<uint8_t> out(8 * input.size() + 8, 0xEE);
    uint8_t* end = nullptr;
    switch (base) {
        case 2: end = binary::encode_base2(out.data(), input.data(), int64_t(input.size())); break;
        case 16: end = binary::encode_base16(out.data(), input.data(), int64_t(input.size())); break;
        case 58: end = binary::encode_base58(out.data(), input.data(), int64_t(input.size())); break;
        default: end = binary::encode_base64(out.data(), input.data(), int64_t(input.size())); break;
    }
    return std::string(out.begin(), out.begin() + (end - out.data()));
}

// The text as units of a width, as a string buffer holds them (little-endian).
std::vector<std::byte> units_of(const std::u32string& text, uint32_t unit) {
    std::vector<std::byte> units;
    for (char32_t c : text) {
        for (uint32_t k = 0; k < unit; ++k) units.push_back(static_cast<std::byte>((uint32_t(c) >> (8 * k)) & 0xFF));
    }
    return units;
}

binary::decoded decode(int base, const std::u32string& text, uint32_t unit = 1) {
    std::vector<std::byte> units = units_of(text, unit);
    int64_t count = int64_t(text.size());
    switch (base) {
        case 2: return binary::decode_base2(units.data(), count, unit);
        case 16: return binary::decode_base16(units.data(), count, unit);
        case 58: return binary::decode_base58(units.data(), count, unit);
        default: return binary::decode_base64(units.data(), count, unit);
    }
}

std::string shown(const binary::decoded& d) {
    if (!d) return "invalid";
    std::string text;
    for (uint8_t b : *d) {
        static const char digits[] = "0123456789ABCDEF";
        text += digits[b >> 4];
        text += digits[b & 0xF];
        text += ' ';
    }
    if (!text.empty()) text.pop_back();
    return text;
}

TEST(BaseCodecs, EncodeKnownBytes) {
    struct encode_case {
        int base;
        bytes input;
        std::string expected;
    };
    const encode_case cases[] = {
        {64, of("abc"), "YWJj"},
        {64, of("ab"), "YWI="},
        {64, of("a"), "YQ=="},
        {64, {}, ""},
        {64, of("hello world"), "aGVsbG8gd29ybGQ="},
        {64, {0xFF, 0xFE, 0xFD}, "//79"},
        {16, {0x01, 0xAB, 0xFF}, "01ABFF"},
        {16, {}, ""},
        {2, {0xA5, 0x01}, "1010010100000001"},
        {58, {0x00, 0x01}, "12"},
        {58, {0x00}, "1"},
        {58, {0x00, 0x00}, "11"},
        {58, of("abc"), "ZiCa"},
        {58, {0xFF}, "5Q"},
        {58, of("hello world"), "StV1DL6CwTryKyV"},
        {58, {0x00, 0x00, 0x28, 0x7F, 0xB4, 0xC9}, "11233QBz"},
        {58, {}, ""},
    };
    for (const encode_case& c : cases) {
        SCOPED_TRACE("base " + std::to_string(c.base) + " -> " + c.expected);
        EXPECT_EQ(encode(c.base, c.input), c.expected);
    }
}

TEST(BaseCodecs, DecodeTexts) {
    struct decode_case {
        int base;
        std::u32string text;
        std::string expected;  // bytes in hex, or "invalid"
    };
    const decode_case cases[] = {
        {64, U"YWJj", "61 62 63"},
        {64, U"YQ==", "61"},
        {64, U"YWI=", "61 62"},
        {64, U"Y===", "invalid"},            // one digit before the pad
        {64, U"YQ", "61"},                   // two pending digits without a pad: one byte
        {64, U"YWI", "61 62"},               // three: two bytes
        {64, U"Y", "invalid"},               // one digit holds less than a byte
        {64, U"YWJjY", "invalid"},
        {64, U"YWJjYQ", "61 62 63 61"},
        {64, U"YW Jj\n\t'", "61 62 63"},     // blanks and apostrophes are skipped
        {64, U"YQ==garbage!", "61"},         // nothing after the pad is read
        {64, U"YW;comment Jj\nJj", "61 62 63"},
        {64, U"YWJj;unended", "61 62 63"},   // the end inside a comment ends the text
        {64, U"YW!j", "invalid"},
        {64, U"YW\u00E9j", "invalid"},      // above 127
        {64, U"", ""},
        {16, U"0 1;x\n02", "01 02"},
        {16, U"ABC", "AB"},                  // a single digit left is dropped
        {16, U"0G", "invalid"},
        {16, U"ff", "FF"},
        {16, U"\u00B0\u00B1", "invalid"},    // above 127: never read as a digit
        {16, U"0\u0130", "invalid"},
        {16, U"", ""},
        {2, U"0110000", "invalid"},          // 7 digits
        {2, U"0110 0001\n0110 0010", "61 62"},
        {2, U"01100001;note\n", "61"},
        {2, U"0110000x", "invalid"},
        {58, U"12", "00 01"},
        {58, U"1", "00"},
        {58, U"11", "00 00"},
        {58, U"Zi'Ca", "61 62 63"},         // the apostrophe is skipped
        {58, U"ZiCa\u00E9zzz", "61 62 63"}, // above 127 ends the text
        {58, U"Zi0a", "invalid"},            // 0 is no base-58 digit
        {58, U"11233QBz", "00 00 28 7F B4 C9"},
        {58, U"", ""},
    };
    for (const decode_case& c : cases) {
        for (uint32_t unit : {1u, 2u, 4u}) {
            // Code points above 0xFF cannot stand in a unit-1 text.
            bool fits = true;
            for (char32_t ch : c.text) fits = fits && (unit > 1 || ch <= 0xFF);
            if (!fits) continue;
            SCOPED_TRACE("base " + std::to_string(c.base) + " unit " + std::to_string(unit) + " case " + c.expected);
            EXPECT_EQ(shown(decode(c.base, c.text, unit)), c.expected);
        }
    }
}

TEST(BaseCodecs, EveryBaseRoundTrips) {
    uint32_t seed = 12345;
    for (int length = 0; length < 70; ++length) {
        bytes input(static_cast<size_t>(length), 0);
        for (uint8_t& b : input) {
            seed = seed * 1103515245 + 12345;
            b = static_cast<uint8_t>(seed >> 16);
        }
        // Leading zero bytes are base 58's special case.
        if (length % 5 == 1) input[0] = 0;
        for (int base : {2, 16, 58, 64}) {
            SCOPED_TRACE("base " + std::to_string(base) + " length " + std::to_string(length));
            std::string text = encode(base, input);
            std::u32string wide(text.begin(), text.end());
            binary::decoded back = decode(base, wide);
            ASSERT_TRUE(back.has_value());
            EXPECT_EQ(*back, input);
        }
    }
}

}  // namespace
}  // namespace zor
