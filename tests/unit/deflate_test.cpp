// The deflate codec and the checksums it uses, at the edges the Python oracle
// (tests/program/deflate_oracle.py) does not reach: exact result codes and written-back
// sizes, fixed areas too small by any amount, growable areas that refuse, hand-built
// streams of every fault, and the published check values. Inputs sit in heap blocks of
// exactly their size, so a sanitizer build catches any read past them.
#include "codecs/checksum.h"
#include "codecs/deflate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace deflate = zor::deflate;
namespace checksum = zor::checksum;
using bytes = std::vector<uint8_t>;

bytes of(const std::string& text) { return bytes(text.begin(), text.end()); }

// Runs an entry point on an exact-size copy of the input with a fixed area of the given
// capacity; answers the code, and the output (capacity bytes at most) and size.
struct run_result {
    int code;
    size_t size;
    bytes output;
};
run_result run(int (*entry)(deflate::output_area&, const uint8_t*, size_t), const bytes& input, size_t capacity) {
    auto in = std::make_unique<uint8_t[]>(input.size() + 1);
    if (!input.empty()) std::memcpy(in.get(), input.data(), input.size());
    auto out = std::make_unique<uint8_t[]>(capacity + 1);
    deflate::output_area area;
    area.data = out.get();
    area.capacity = capacity;
    int code = entry(area, in.get(), input.size());
    size_t kept = std::min(area.size, capacity);
    return {code, area.size, bytes(out.get(), out.get() + kept)};
}

bytes text_sample() {
    std::string text;
    for (int i = 0; text.size() < 20000; ++i) text += "line " + std::to_string(i % 97) + " of the sample text\n";
    return of(text);
}

TEST(Checksums, PublishedValues) {
    const bytes digits = of("123456789");
    EXPECT_EQ(checksum::crc32(digits.data(), digits.size()), 0xCBF43926u);
    EXPECT_EQ(checksum::crc32(nullptr, 0), 0u);
    const bytes abc = of("abc");
    EXPECT_EQ(checksum::adler32(abc.data(), abc.size()), 589u << 16 | 295u);
    EXPECT_EQ(checksum::adler32(nullptr, 0), 1u);
    // RFC 1071's example: the words 0001 f203 f4f5 f6f7 sum to ddf2 (folded).
    const bytes rfc1071 = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
    EXPECT_EQ(checksum::internet_checksum(rfc1071.data(), rfc1071.size()), uint16_t(~0xDDF2));
    const bytes odd = {0x01, 0x02, 0x03};
    EXPECT_EQ(checksum::internet_checksum(odd.data(), odd.size()), uint16_t(~(0x0102 + 0x0300)));
    EXPECT_EQ(checksum::internet_checksum(nullptr, 0), 0xFFFF);
}

TEST(Checksums, LongInputsStayExact) {
    // All-ones words overflow a 32-bit sum after 65,537 of them (128 KiB); the folded
    // one's-complement sum of n words of FFFF is FFFF, so the checksum is 0.
    bytes ones(1 << 20, 0xFF);
    EXPECT_EQ(checksum::internet_checksum(ones.data(), ones.size()), 0);
    // Adler-32 and CRC-32 fed in pieces agree with one pass.
    bytes data = text_sample();
    uint32_t adler = checksum::ADLER32_START, crc = checksum::CRC32_START;
    for (size_t at = 0; at < data.size(); at += 777) {
        size_t n = std::min<size_t>(777, data.size() - at);
        adler = checksum::adler32_update(adler, data.data() + at, n);
        crc = checksum::crc32_update(crc, data.data() + at, n);
    }
    EXPECT_EQ(adler, checksum::adler32(data.data(), data.size()));
    EXPECT_EQ(checksum::crc32_finish(crc), checksum::crc32(data.data(), data.size()));
}

TEST(DeflateCompress, SmallInputs) {
    EXPECT_EQ(run(deflate::compress_fixed, {}, 64).output, (bytes{0x03, 0x00}));
    // Four equal bytes: no match before the third position, so four literals.
    run_result four = run(deflate::compress_fixed, of("aaaa"), 64);
    run_result inflated = run(deflate::inflate, four.output, 64);
    EXPECT_EQ(inflated.output, of("aaaa"));
    EXPECT_EQ(four.size, 6u);  // 3 header bits + 4 x 8 + 7 end bits = 42 bits
}

TEST(DeflateCompress, TooSmallAreasReportTheFullSize) {
    const bytes data = text_sample();
    using entry_fn = int (*)(deflate::output_area&, const uint8_t*, size_t);
    for (entry_fn entry : {entry_fn(deflate::compress_fixed), entry_fn(deflate::zlib_compress),
                           entry_fn(deflate::gzip_compress)}) {
        run_result full = run(entry, data, data.size() + 64);
        ASSERT_EQ(full.code, deflate::DONE);
        const size_t framing = entry == entry_fn(deflate::zlib_compress)   ? deflate::ZLIB_OVERHEAD
                               : entry == entry_fn(deflate::gzip_compress) ? deflate::GZIP_OVERHEAD
                                                                           : 0;
        for (size_t capacity : {size_t(0), size_t(5), size_t(17), full.size / 2, full.size - 1}) {
            run_result small = run(entry, data, capacity);
            if (capacity < framing) {
                EXPECT_EQ(small.code, deflate::BAD_INPUT) << capacity;
                continue;
            }
            EXPECT_EQ(small.code, deflate::OUTPUT_TOO_SMALL) << capacity;
            EXPECT_EQ(small.size, full.size) << capacity;
        }
        EXPECT_EQ(run(entry, data, full.size).output, full.output);
    }
    // The wrappers' header does not fit: 2 and the input size plus the framing.
    EXPECT_EQ(run(deflate::zlib_compress, data, 5).code, deflate::BAD_INPUT);
    EXPECT_EQ(run(deflate::zlib_compress, data, 5).size, data.size() + 6);
    EXPECT_EQ(run(deflate::gzip_compress, data, 17).size, data.size() + 18);
}

TEST(DeflateCompress, GzipPassesOnlyRealGzipThrough) {
    run_result member = run(deflate::gzip_compress, of("some text some text"), 128);
    ASSERT_EQ(member.code, deflate::DONE);
    EXPECT_EQ(run(deflate::gzip_compress, member.output, 128).output, member.output);
    // The magic bytes alone are not enough: such input is compressed like any other.
    bytes fake = {0x1F, 0x8B, 0x08, 'x', 'y', 'z'};
    run_result wrapped = run(deflate::gzip_compress, fake, 128);
    ASSERT_EQ(wrapped.code, deflate::DONE);
    EXPECT_NE(wrapped.output, fake);
    EXPECT_EQ(run(deflate::gzip_decompress, wrapped.output, 128).output, fake);
}

TEST(Inflate, FixedAreasCountWhatDoesNotFit) {
    const bytes data = text_sample();
    run_result stream = run(deflate::zlib_compress, data, data.size() + 64);
    for (size_t capacity : {size_t(0), size_t(1), size_t(1000), data.size() - 1}) {
        run_result small = run(deflate::zlib_decompress, stream.output, capacity);
        EXPECT_EQ(small.code, deflate::OUTPUT_TOO_SMALL) << capacity;
        EXPECT_EQ(small.size, data.size()) << capacity;
        EXPECT_TRUE(std::equal(small.output.begin(), small.output.end(), data.begin())) << capacity;
    }
    EXPECT_EQ(run(deflate::zlib_decompress, stream.output, data.size()).output, data);
}

TEST(Inflate, HandBuiltStreams) {
    struct stream_case {
        const char* why;
        bytes stream;
        int code;
        bytes output;
    };
    const stream_case cases[] = {
        {"stored block, NLEN not checked", {0x01, 0x03, 0x00, 0x12, 0x34, 'a', 'b', 'c'}, deflate::DONE, of("abc")},
        {"stored block past the input", {0x01, 0x05, 0x00, 0xFA, 0xFF, 'a', 'b'}, deflate::STORED_PAST_INPUT, {}},
        {"block type 3", {0x07, 0x00}, deflate::BAD_BLOCK_TYPE, {}},
        // Fixed block: literal 'a' (0x91 reversed), then length 3 distance 2 (too far).
        {"distance before the start", {0x4B, 0x04, 0x42, 0x00}, deflate::DISTANCE_TOO_FAR, {}},
        {"empty input", {}, deflate::DONE, {}},
        {"input ends inside a block", {0x4B, 0x4C, 0x02}, deflate::DONE, of("ab")},
        // Dynamic header whose first code-length symbol is a repeat with nothing before it.
        {"repeat without a previous length", {0x05, 0x00, 0x02, 0x24}, deflate::BAD_INPUT, {}},
    };
    for (const stream_case& c : cases) {
        run_result r = run(deflate::inflate, c.stream, 64);
        EXPECT_EQ(r.code, c.code) << c.why;
        if (c.code == deflate::DONE) {
            EXPECT_EQ(r.output, c.output) << c.why;
        }
    }
}

TEST(Inflate, WrapperChecks) {
    const bytes data = of("wrapper checks wrapper checks");
    bytes z = run(deflate::zlib_compress, data, 128).output;
    bytes g = run(deflate::gzip_compress, data, 128).output;
    for (size_t n = 0; n < 6; ++n) EXPECT_EQ(run(deflate::zlib_decompress, bytes(z.begin(), z.begin() + n), 128).code, 2);
    bytes dictionary = z;
    dictionary[1] = 0x20;  // 78 20: preset dictionary (and still a multiple of 31)
    EXPECT_EQ((0x78 * 256 + 0x20) % 31, 0);
    EXPECT_EQ(run(deflate::zlib_decompress, dictionary, 128).code, deflate::BAD_INPUT);
    bytes wrong_sum = z;
    wrong_sum.back() ^= 1;
    EXPECT_EQ(run(deflate::zlib_decompress, wrong_sum, 128).code, deflate::BAD_INPUT);
    bytes reserved = g;
    reserved[3] = 32;
    EXPECT_EQ(run(deflate::gzip_decompress, reserved, 128).code, deflate::BAD_INPUT);
    bytes lying = g;
    lying[lying.size() - 4] ^= 0x40;  // the length field no longer matches
    EXPECT_EQ(run(deflate::gzip_decompress, lying, 128).code, deflate::BAD_INPUT);
    bytes name_runs_off = {0x1F, 0x8B, 0x08, 0x08, 0, 0, 0, 0, 0, 3};
    name_runs_off.resize(30, 'n');  // FNAME without its NUL
    EXPECT_EQ(run(deflate::gzip_decompress, name_runs_off, 128).code, deflate::BAD_INPUT);
    EXPECT_EQ(deflate::gzip_size_hint(g.data(), g.size()), int64_t(data.size()));
    EXPECT_EQ(deflate::gzip_size_hint(g.data(), 17), -1);
}

// A growable area over a vector that refuses to pass a limit.
struct limited_vector {
    bytes storage;
    size_t limit;
};
bool grow_limited(deflate::output_area& area, size_t needed) {
    auto* v = static_cast<limited_vector*>(area.context);
    if (needed > v->limit) return false;
    v->storage.resize(std::max(needed, std::min(v->limit, v->storage.size() * 2 + 16)));
    area.data = v->storage.data();
    area.capacity = v->storage.size();
    return true;
}

TEST(Inflate, GrowableAreas) {
    const bytes data = text_sample();
    bytes stream = run(deflate::gzip_compress, data, data.size() + 64).output;
    for (size_t limit : {data.size(), data.size() - 1}) {
        limited_vector v{{}, limit};
        deflate::output_area area;
        area.grow = &grow_limited;
        area.context = &v;
        int code = deflate::gzip_decompress(area, stream.data(), stream.size());
        if (limit >= data.size()) {
            EXPECT_EQ(code, deflate::DONE);
            EXPECT_EQ(bytes(area.data, area.data + area.size), data);
        } else {
            EXPECT_EQ(code, deflate::OUTPUT_TOO_SMALL);
        }
    }
}

}  // namespace
