// DEFLATE (RFC 1951) with the zlib (RFC 1950) and gzip (RFC 1952) wrappers: the codec
// behind `compress` and `decompress`.
//
// The compressor writes one final block with the fixed Huffman codes, finding matches in
// a table of 1,024 hash buckets of four positions each, without lazy matching: small and
// fast rather than tight. The decompressor reads stored, fixed and dynamic blocks.
//
// Every entry point writes into an output_area and answers a result code:
//   0 done; 1 the output did not fit (the area's size then says how much is needed);
//   2 bad input; 3 a stored block runs past the end of the input; 4 a block of type 3;
//   5 a distance reaches before the start of the output.
// An area without a grow routine has a fixed capacity: bytes beyond it are counted, not
// written, so that a caller can retry once with the exact size. An area with one asks it
// for more room as the output grows (the decompressors' callers use this, so that the
// untrusted size fields of the input are only hints); when the grow routine refuses, the
// entry answers 1 at once.
//
// Invariants for callers: input is untrusted; no entry reads outside the input it is
// given nor writes outside the area's capacity. Nothing here touches series or the
// collector: callers pass byte ranges that stay put while the call runs (copies, or
// buffers that nothing allocates around).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zor::deflate {

enum result : int {
    DONE = 0,
    OUTPUT_TOO_SMALL = 1,
    BAD_INPUT = 2,
    STORED_PAST_INPUT = 3,
    BAD_BLOCK_TYPE = 4,
    DISTANCE_TOO_FAR = 5,
};

struct output_area {
    uint8_t* data = nullptr;
    size_t capacity = 0;
    // Bytes produced so far (may exceed capacity in a fixed area: the size needed).
    size_t size = 0;
    // Makes room for at least `needed` bytes (updating data and capacity) and answers
    // true, or answers false. Null for a fixed area.
    bool (*grow)(output_area& area, size_t needed) = nullptr;
    void* context = nullptr;
};

// Size of the zlib and gzip framing around a raw stream.
inline constexpr size_t ZLIB_OVERHEAD = 6;
inline constexpr size_t GZIP_OVERHEAD = 18;

// Compressors: a raw stream, a zlib stream (header 78 01, Adler-32 trailer) and a gzip
// member (header 1F 8B 08 00 00000000 04 04, CRC-32 and length trailer). The area is
// normally fixed; its size afterwards is the stream's full size even when it did not fit.
// gzip_compress hands input that already is a well-formed gzip member back unchanged.
int compress_fixed(output_area& out, const uint8_t* input, size_t length);
int zlib_compress(output_area& out, const uint8_t* input, size_t length);
int gzip_compress(output_area& out, const uint8_t* input, size_t length);

// Decompressors. inflate reads a raw stream (input that ends before a final block does
// gives what was decoded until then); zlib_decompress checks the header and the
// Adler-32 of the output; gzip_decompress checks the header fields, the CRC-32 and the
// length of the output (modulo 2^32).
int inflate(output_area& out, const uint8_t* input, size_t length);
int zlib_decompress(output_area& out, const uint8_t* input, size_t length);
int gzip_decompress(output_area& out, const uint8_t* input, size_t length);

// The length field of a gzip member's trailer (the size of its data modulo 2^32), or -1
// when the input is too short to be one. A hint only: the data may lie.
int64_t gzip_size_hint(const uint8_t* input, size_t length);

}  // namespace zor::deflate
