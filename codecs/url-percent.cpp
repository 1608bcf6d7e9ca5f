// Percent-encoding and -decoding of text (see url-percent.h).
#include "codecs/url-percent.h"

#include <string>
#include <string_view>
#include <vector>

#include "runtime/datatypes/string.h"
#include "runtime/memory/memory.h"
#include "runtime/text/unicode.h"

namespace zor::url {

namespace {

int hex_value(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

// The code points of the string from its (clamped) index. Reading allocates nothing, and
// the copy lets the caller grow other series afterwards.
std::vector<uint32_t> code_points_of(cell* string) {
    const std::byte* at = string::get_position(string);
    int64_t count = string::rest_length(string);
    uint32_t unit = memory::buffer_of(string->w2)->unit();
    std::vector<uint32_t> points(size_t(count > 0 ? count : 0));
    for (uint32_t& point : points) {
        point = unicode::read_unit(at, unit);
        at += unit;
    }
    return points;
}

// The byte of the escape at a position ("%" and two hexadecimal digits), or -1.
int escape_at(const std::vector<uint32_t>& text, size_t position) {
    if (position + 2 >= text.size() || text[position] != '%') return -1;
    int high = hex_value(text[position + 1]);
    int low = hex_value(text[position + 2]);
    return high < 0 || low < 0 ? -1 : high << 4 | low;
}

}  // namespace

void percent_encode(cell* string, int64_t length, cell* output, int mode) {
    int64_t byte_count = length;
    const char* utf8 = unicode::string_to_utf8(string, &byte_count);
    // Copied out of the encoding cache before the output grows.
    std::string bytes(utf8, size_t(byte_count));
    std::string encoded;
    encoded.reserve(bytes.size());
    for (char c : bytes) {
        auto byte = static_cast<uint8_t>(c);
        if (keeps_byte(byte, mode)) {
            encoded.push_back(c);
        } else {
            encoded.push_back('%');
            encoded.append(string::byte_to_hex(byte));
        }
    }
    string::append_bytes(output, encoded.data(), int64_t(encoded.size()));
}

void percent_decode(cell* string, cell* output) {
    std::vector<uint32_t> text = code_points_of(string);
    size_t position = 0;
    while (position < text.size()) {
        int byte = escape_at(text, position);
        if (byte >= 0) {
            int length = unicode::utf8_lead_byte_length(static_cast<uint8_t>(byte));
            if (length <= 1) {
                string::append_codepoint(output, uint32_t(byte));
                position += 3;
                continue;
            }
            uint8_t sequence[4] = {static_cast<uint8_t>(byte)};
            bool complete = true;
            for (int k = 1; k < length && complete; ++k) {
                int next = escape_at(text, position + 3 * size_t(k));
                complete = next >= 0;
                if (complete) sequence[k] = static_cast<uint8_t>(next);
            }
            if (complete) {
                int32_t codepoint = -1;
                const uint8_t* end = unicode::decode_utf8_char(sequence, sequence + length, codepoint);
                if (codepoint >= 0 && end == sequence + length) {
                    string::append_codepoint(output, uint32_t(codepoint));
                    position += 3 * size_t(length);
                    continue;
                }
            }
        }
        string::append_codepoint(output, text[position]);
        ++position;
    }
}

}  // namespace zor::url
