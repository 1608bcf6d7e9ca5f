// The LZ codec: the runtime's own LZ77 compressor and decompressor for compressed
// boot-image payloads.
//
// A blob is little-endian: a 32-bit compressed size (the bytes after the 8-byte header),
// a 32-bit uncompressed size, then chunks back to back. A chunk is a 32-bit length L
// (1 .. 0x100000 bytes of output) and a bit stream packed least significant bit first,
// padded with zero bits to a byte boundary. A token is a flag bit, then either 8 bits of
// a literal byte (flag 0) or a length code and a distance code (flag 1): a match copies
// 3..566 bytes one at a time from 1..0x40000 bytes behind, so an overlapping copy
// repeats a pattern. Matches never reach outside their own chunk.
//
// Invariants for callers: a blob is untrusted input. decompress never reads beyond the
// blob_length bytes it is given nor writes beyond its output, and answers null for any
// inconsistency rather than partial output. compress needs a destination of at least
// `length` bytes and writes nothing beyond them. Neither touches series buffers or the
// collector; the buffers they work in come from the tracked heap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zor::lz {

inline constexpr int32_t HEADER_SIZE = 8;
inline constexpr int32_t MAX_CHUNK = 0x100000;
inline constexpr int32_t MIN_MATCH = 3;
inline constexpr int32_t MAX_MATCH = 566;
inline constexpr int32_t WINDOW = 0x40000;
// Inputs shorter than this are not worth compressing.
inline constexpr int64_t MIN_INPUT = 128;

// Appends bits to an output area of fixed capacity. A byte is written when it completes;
// a write or reservation beyond the capacity sets `failed` and writes nothing.
struct bit_writer {
    uint8_t* output = nullptr;
    int64_t capacity = 0;
    int64_t position = 0;  // bytes written or reserved
    uint64_t pending = 0;  // bits not yet written, the first in bit 0
    int pending_count = 0;
    bool failed = false;
};

// Reads bits from an input area. Reading past its end sets `overrun` and yields zero
// bits, so a decoder checks the flag instead of every read.
struct bit_reader {
    const uint8_t* input = nullptr;
    int64_t limit = 0;     // bytes available
    int64_t position = 0;  // the next unread byte
    uint64_t pending = 0;
    int pending_count = 0;
    bool overrun = false;
};

// Appends the low `count` bits (0..32) of value, least significant first.
void put_bits(int count, uint32_t value, bit_writer& state);
// Reserves `bytes` output bytes at the current byte position and answers their address,
// or null (setting `failed`) when the capacity would be exceeded.
uint8_t* reserve(bit_writer& state, int64_t bytes);
// Drops the bits of a partly written byte, so the next write starts a new byte.
void reset(bit_writer& state);

// The next `count` bits (0..32), the first read in bit 0.
uint32_t get_bits(int count, bit_reader& state);
// Drops what remains of a partly read byte, so the next read starts at `position`.
void reset(bit_reader& state);

// Compresses length bytes of source into a blob at destination and answers its total
// size (8 + compressed size), or -1 when the input is shorter than 128 bytes, too long
// for the blob's 32-bit size fields, or would not compress into length - 8 bytes (the
// caller then stores it uncompressed). The destination must hold at least length bytes.
int64_t compress(const uint8_t* source, int64_t length, uint8_t* destination);

// Decompresses the blob in the blob_length bytes at blob. Answers a tracked-heap buffer
// of capacity uncompressed size + 8 (the bytes past the output are zero) and stores the
// output size when output_size is not null; answers null, and stores 0, for a corrupt
// blob: a truncated one, bad chunk lengths, a match outside its chunk, a bit stream that
// runs out, or an output that is not exactly the uncompressed size the header states.
uint8_t* decompress(const uint8_t* blob, size_t blob_length, int64_t* output_size);

// Frees a buffer made by decompress (null is ignored).
void release_buffer(uint8_t* buffer);

}  // namespace zor::lz
