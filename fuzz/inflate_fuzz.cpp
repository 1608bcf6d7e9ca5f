// The deflate decoder under libFuzzer: every input is inflated raw, as zlib and as gzip,
// into a fixed area (small, so most outputs overflow and are counted) and into a growable
// one with a cap, and the two must agree: the same code and size, and the same bytes
// where the fixed area holds them. A crash, a sanitizer report, a hang or a disagreement
// is a finding. Valid streams are rare in random bytes, so the first byte of the input
// also picks a wrapper to put around the rest, which reaches the block decoder often.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/checksum.h"
#include "codecs/deflate.h"

namespace {

namespace deflate = zor::deflate;

constexpr size_t GROW_LIMIT = 1 << 22;

bool grow(deflate::output_area& area, size_t needed) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(area.context);
    if (needed > GROW_LIMIT) return false;
    bytes->resize(std::max(needed, std::min(GROW_LIMIT, bytes->size() * 2 + 64)));
    area.data = bytes->data();
    area.capacity = bytes->size();
    return true;
}

using entry = int (*)(deflate::output_area&, const uint8_t*, size_t);

void check(entry decode, const uint8_t* data, size_t size) {
    std::vector<uint8_t> grown;
    deflate::output_area growing;
    growing.grow = &grow;
    growing.context = &grown;
    int grown_code = decode(growing, data, size);

    uint8_t fixed_bytes[300];
    deflate::output_area fixed;
    fixed.data = fixed_bytes;
    fixed.capacity = sizeof fixed_bytes;
    int fixed_code = decode(fixed, data, size);

    if (grown_code == deflate::OUTPUT_TOO_SMALL) return;  // past the cap: nothing to compare
    // A fixed area that overflows stops at 1 where a growable one would have reached a
    // later fault or a trailer check; otherwise the two agree exactly.
    if (fixed_code == deflate::OUTPUT_TOO_SMALL) {
        if (fixed.size != growing.size) std::abort();
        if (grown_code != deflate::DONE && grown_code != deflate::BAD_INPUT) std::abort();
        size_t common = std::min(fixed.capacity, growing.size);
        if (common && std::memcmp(fixed_bytes, growing.data, common) != 0) std::abort();
        return;
    }
    if (fixed_code != grown_code) std::abort();
    if (fixed_code == deflate::DONE &&
        (fixed.size != growing.size || (fixed.size && std::memcmp(fixed_bytes, growing.data, fixed.size) != 0))) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check(&deflate::inflate, data, size);
    check(&deflate::zlib_decompress, data, size);
    check(&deflate::gzip_decompress, data, size);
    if (size == 0) return 0;
    // The rest of the input inside a well-formed frame, so that the trailer checks run.
    std::vector<uint8_t> framed;
    const uint8_t* body = data + 1;
    const size_t body_size = size - 1;
    if (data[0] & 1) {
        framed = {0x78, 0x01};
        framed.insert(framed.end(), body, body + body_size);
        uint32_t adler = zor::checksum::adler32(body, body_size);
        for (int shift = 24; shift >= 0; shift -= 8) framed.push_back(uint8_t(adler >> shift));
        check(&deflate::zlib_decompress, framed.data(), framed.size());
    } else {
        framed = {0x1F, 0x8B, 0x08, uint8_t(data[0] >> 3 & 0x1E), 0, 0, 0, 0, 0, 3};
        framed.insert(framed.end(), body, body + body_size);
        for (int i = 0; i < 8; ++i) framed.push_back(uint8_t(body_size >> (8 * (i & 3))));
        check(&deflate::gzip_decompress, framed.data(), framed.size());
    }
    return 0;
}
