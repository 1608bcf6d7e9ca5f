// The base-2, base-16, base-58 and base-64 codecs of binary data (see base-codecs.h).
#include "codecs/base-codecs.h"

#include <array>

#include "runtime/text/unicode.h"

namespace zor::binary {

namespace {

// The classes of the base-58 and base-64 decoding tables, beside the digit values.
constexpr uint8_t CLASS_SKIP = 0xFE;
constexpr uint8_t CLASS_INVALID = 0xFF;

// Indexed by a byte; only code points 0..127 can be digits or skipped, so a decoder
// reads a wider code point as invalid without looking it up.
using decoding_table = std::array<uint8_t, 256>;

// A table where each digit of the alphabet has its value, the blanks and the apostrophe
// are skipped, and everything else is invalid.
template <size_t N> constexpr decoding_table make_table(const char (&alphabet)[N]) {
    decoding_table table{};
    for (uint8_t& entry : table) entry = CLASS_INVALID;
    for (size_t i = 0; i + 1 < N; ++i) table[static_cast<uint8_t>(alphabet[i])] = static_cast<uint8_t>(i);
    for (uint8_t skipped : {8, 9, 10, 12, 13, 32, 39}) table[skipped] = CLASS_SKIP;
    return table;
}

constexpr decoding_table BASE58_TABLE = make_table(BASE58_ALPHABET);
constexpr decoding_table BASE64_TABLE = make_table(BASE64_ALPHABET);

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

// The value of a hexadecimal digit, or -1.
int hex_value(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

// Walks the code points of a decoder's input, leaving out comments: a ";" starts one
// that runs to the next line feed (the line feed itself is handed on).
class text_reader {
public:
    text_reader(const std::byte* units, int64_t count, uint32_t unit)
        : at_(units), end_(units + count * unit), unit_(unit) {}

    // The next code point outside comments; false at the end.
    bool next(uint32_t& c) {
        bool in_comment = false;
        while (at_ < end_) {
            c = unicode::read_unit(at_, unit_);
            at_ += unit_;
            if (in_comment) {
                in_comment = c != '\n';
                if (in_comment) continue;
                return true;
            }
            if (c == ';') {
                in_comment = true;
                continue;
            }
            return true;
        }
        return false;
    }

    // The unread units, for a caller that takes a run of plain digits at once.
    const std::byte* position() const { return at_; }
    const std::byte* end() const { return end_; }
    void skip_to(const std::byte* at) { at_ = at; }

private:
    const std::byte* at_;
    const std::byte* end_;
    uint32_t unit_;
};

}  // namespace

// --- Encoders ---------------------------------------------------------------------------------

uint8_t* encode_base2(uint8_t* destination, const uint8_t* bytes, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        for (int bit = 7; bit >= 0; --bit) *destination++ = (bytes[i] >> bit) & 1 ? '1' : '0';
    }
    return destination;
}

uint8_t* encode_base16(uint8_t* destination, const uint8_t* bytes, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        *destination++ = static_cast<uint8_t>(HEX_DIGITS[bytes[i] >> 4]);
        *destination++ = static_cast<uint8_t>(HEX_DIGITS[bytes[i] & 0xF]);
    }
    return destination;
}

uint8_t* encode_base58(uint8_t* destination, const uint8_t* bytes, int64_t count) {
    int64_t zeros = 0;
    while (zeros < count && bytes[zeros] == 0) ++zeros;
    // The number after the leading zeros, divided by 58 in place until nothing is left;
    // the remainders are the digits, least significant first.
    std::vector<uint8_t> number(bytes + zeros, bytes + count);
    std::vector<uint8_t> digits;
    digits.reserve(size_t(2 * count));
    size_t first = 0;
    while (first < number.size()) {
        uint32_t remainder = 0;
        for (size_t i = first; i < number.size(); ++i) {
            uint32_t accumulated = remainder * 256 + number[i];
            number[i] = static_cast<uint8_t>(accumulated / 58);
            remainder = accumulated % 58;
        }
        digits.push_back(static_cast<uint8_t>(BASE58_ALPHABET[remainder]));
        while (first < number.size() && number[first] == 0) ++first;
    }
    for (int64_t i = 0; i < zeros; ++i) *destination++ = '1';
    for (size_t i = digits.size(); i-- > 0;) *destination++ = digits[i];
    return destination;
}

uint8_t* encode_base64(uint8_t* destination, const uint8_t* bytes, int64_t count) {
    int64_t i = 0;
    for (; i + 3 <= count; i += 3) {
        uint32_t group = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) {
            *destination++ = static_cast<uint8_t>(BASE64_ALPHABET[(group >> shift) & 0x3F]);
        }
    }
    int64_t left = count - i;
    if (left > 0) {
        uint32_t group = uint32_t(bytes[i]) << 16 | (left == 2 ? uint32_t(bytes[i + 1]) << 8 : 0);
        *destination++ = static_cast<uint8_t>(BASE64_ALPHABET[(group >> 18) & 0x3F]);
        *destination++ = static_cast<uint8_t>(BASE64_ALPHABET[(group >> 12) & 0x3F]);
        *destination++ = left == 2 ? static_cast<uint8_t>(BASE64_ALPHABET[(group >> 6) & 0x3F]) : BASE64_PAD;
        *destination++ = BASE64_PAD;
    }
    return destination;
}

// --- Decoders -----------------------------------------------------------------------------------

decoded decode_base2(const std::byte* units, int64_t count, uint32_t unit) {
    std::vector<uint8_t> out;
    out.reserve(size_t(count / 8));
    text_reader reader(units, count, unit);
    uint32_t byte = 0;
    int bits = 0;
    uint32_t c;
    while (reader.next(c)) {
        if (c <= ' ') continue;
        if (c != '0' && c != '1') return std::nullopt;
        byte = byte << 1 | (c - '0');
        if (++bits == 8) {
            out.push_back(static_cast<uint8_t>(byte));
            byte = 0;
            bits = 0;
        }
    }
    if (bits != 0) return std::nullopt;
    return out;
}

decoded decode_base16(const std::byte* units, int64_t count, uint32_t unit) {
    std::vector<uint8_t> out;
    out.reserve(size_t(count / 2));
    text_reader reader(units, count, unit);
    uint32_t byte = 0;
    bool high_read = false;
    uint32_t c;
    while (reader.next(c)) {
        if (c <= ' ') continue;
        int value = hex_value(c);
        if (value < 0) return std::nullopt;
        if (high_read) {
            out.push_back(static_cast<uint8_t>(byte << 4 | uint32_t(value)));
        } else {
            byte = uint32_t(value);
        }
        high_read = !high_read;
    }
    return out;
}

decoded decode_base58(const std::byte* units, int64_t count, uint32_t unit) {
    std::vector<uint8_t> digits;
    digits.reserve(size_t(count));
    text_reader reader(units, count, unit);
    uint32_t c;
    while (reader.next(c)) {
        if (c > 127) break;
        uint8_t value = BASE58_TABLE[c];
        if (value == CLASS_SKIP) continue;
        if (value == CLASS_INVALID) return std::nullopt;
        digits.push_back(value);
    }
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) ++zeros;
    // The digits after the leading "1"s, divided by 256 in place until nothing is left;
    // the remainders are the bytes, least significant first.
    std::vector<uint8_t> bytes;
    size_t first = zeros;
    while (first < digits.size()) {
        uint32_t remainder = 0;
        for (size_t i = first; i < digits.size(); ++i) {
            uint32_t accumulated = remainder * 58 + digits[i];
            digits[i] = static_cast<uint8_t>(accumulated / 256);
            remainder = accumulated % 256;
        }
        bytes.push_back(static_cast<uint8_t>(remainder));
        while (first < digits.size() && digits[first] == 0) ++first;
    }
    std::vector<uint8_t> out(zeros, 0);
    out.insert(out.end(), bytes.rbegin(), bytes.rend());
    return out;
}

int64_t base64_decoded_room(int64_t count) { return (count + 3) * 3 / 4; }

int64_t decode_base64_into(const std::byte* units, int64_t count, uint32_t unit, uint8_t* out) {
    uint8_t* written = out;
    text_reader reader(units, count, unit);
    uint32_t group = 0;
    int pending = 0;
    bool padded = false;
    uint32_t c;
    while (true) {
        if (pending == 0 && unit == 1) {
            // The common case: whole groups of four digits in a row, taken without the
            // reader's work per character; anything else goes the general way below.
            const auto* p = reinterpret_cast<const uint8_t*>(reader.position());
            const auto* end = reinterpret_cast<const uint8_t*>(reader.end());
            while (end - p >= 4) {
                uint32_t a = BASE64_TABLE[p[0]], b = BASE64_TABLE[p[1]];
                uint32_t d3 = BASE64_TABLE[p[2]], d4 = BASE64_TABLE[p[3]];
                if ((a | b | d3 | d4) >= 64) break;
                uint32_t bits = a << 18 | b << 12 | d3 << 6 | d4;
                written[0] = static_cast<uint8_t>(bits >> 16);
                written[1] = static_cast<uint8_t>(bits >> 8);
                written[2] = static_cast<uint8_t>(bits);
                written += 3;
                p += 4;
            }
            reader.skip_to(reinterpret_cast<const std::byte*>(p));
        }
        if (!reader.next(c)) break;
        if (c > 127) return -1;
        if (c == uint32_t(BASE64_PAD)) {
            padded = true;
            break;
        }
        uint8_t value = BASE64_TABLE[c];
        if (value == CLASS_SKIP) continue;
        if (value == CLASS_INVALID) return -1;
        group = (group << 6 | value) & 0xFFFFFF;
        if (++pending == 4) {
            written[0] = static_cast<uint8_t>(group >> 16);
            written[1] = static_cast<uint8_t>(group >> 8);
            written[2] = static_cast<uint8_t>(group);
            written += 3;
            group = 0;
            pending = 0;
        }
    }
    // At "=" (whatever follows it is not read) or at the end, the digits of a last group
    // stand for whole bytes: two give one byte, three give two. A single digit holds
    // less than a byte; before "=" no digit at all is a pad out of place.
    if (pending == 1 || (padded && pending == 0)) return -1;
    if (pending == 3) {
        *written++ = static_cast<uint8_t>(group >> 10);
        *written++ = static_cast<uint8_t>(group >> 2);
    } else if (pending == 2) {
        *written++ = static_cast<uint8_t>(group >> 4);
    }
    return written - out;
}

decoded decode_base64(const std::byte* units, int64_t count, uint32_t unit) {
    std::vector<uint8_t> out(size_t(base64_decoded_room(count)));
    int64_t length = decode_base64_into(units, count, unit, out.data());
    if (length < 0) return std::nullopt;
    out.resize(size_t(length));
    return out;
}

}  // namespace zor::binary
