// The natives that front the byte codecs: `checksum` (CRC-32, Adler-32, the Internet
// checksum, the digests and their HMACs) and `compress` / `decompress` (deflate, zlib and
// gzip). Each turns its arguments into a byte range, runs the codec, and makes the
// result.
//
// The codecs allocate nothing collected, so a byte range may point into a binary!'s
// buffer while a codec runs; it is taken only after every allocation the call needs, and
// dropped before the result is made.
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "codecs/checksum.h"
#include "codecs/deflate.h"
#include "platform/crypto.h"
#include "runtime/binding/symbol.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file-io.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/output-hooks.h"
#include "runtime/text/unicode.h"

namespace zor::natives {

namespace {

// The method word's name, compared without regard to case (the canonical symbol of any
// spelling names the same method).
bool method_is(const cell* word, std::string_view name) {
    std::string_view spelled = symbol::name_of(symbol::canonical_id(static_cast<int32_t>(word->w2)));
    if (spelled.size() != name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char c = spelled[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != name[i]) return false;
    }
    return true;
}

[[noreturn]] void invalid_arg(const cell* value) {
    cell copy = *value;
    raise::throw_error(err::script_invalid_arg, &copy);
}

// The UTF-8 of any string from its index, copied out of the encoding cache.
std::vector<uint8_t> utf8_copy(cell* string) {
    int64_t length = -1;
    const char* text = unicode::string_to_utf8(string, &length);
    return std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(text), reinterpret_cast<const uint8_t*>(text) + length);
}

// The bytes of a binary! (from its index) or a string (its UTF-8), copied.
std::vector<uint8_t> data_bytes(cell* data) {
    if (data->is(TYPE_BINARY)) return binary::rest_bytes(data);
    return utf8_copy(data);
}

enum class method_kind { none, tcp, crc32, adler32, digest, hash };

struct checksum_method {
    method_kind kind = method_kind::none;
    crypto::digest digest = crypto::digest::md5;
};

checksum_method checksum_method_of(const cell* word) {
    static constexpr std::pair<std::string_view, crypto::digest> DIGESTS[] = {
        {"md5", crypto::digest::md5},       {"sha1", crypto::digest::sha1},     {"sha256", crypto::digest::sha256},
        {"sha384", crypto::digest::sha384}, {"sha512", crypto::digest::sha512},
    };
    if (method_is(word, "tcp")) return {method_kind::tcp};
    if (method_is(word, "crc32")) return {method_kind::crc32};
    if (method_is(word, "adler32")) return {method_kind::adler32};
    if (method_is(word, "hash")) return {method_kind::hash};
    for (const auto& [name, digest] : DIGESTS) {
        if (method_is(word, name)) return {method_kind::digest, digest};
    }
    return {};
}

enum checksum_refinement : int { REFINEMENT_WITH };
enum decompress_refinement : int { REFINEMENT_SIZE };

// The result slot becomes a binary! holding the bytes.
void result_bytes(const std::vector<uint8_t>& bytes) {
    cell* made = binary::load(bytes.data(), int64_t(bytes.size()));
    stack::set_result_truncate(made);
}

}  // namespace

uint32_t native_checksum(const native_invocation& call) {
    cell* data = stack::argument(0);
    cell* method = stack::argument(1);
    cell* with = call.has(REFINEMENT_WITH) ? stack::argument(call.position(REFINEMENT_WITH)) : nullptr;

    std::vector<uint8_t> bytes;
    if (data->is(TYPE_FILE)) {
        std::optional<std::vector<uint8_t>> read = file_io::read_whole_file(data);
        if (!read) {
            cell copy = *data;
            raise::throw_error(err::access_cannot_open, &copy);
        }
        bytes = std::move(*read);
    } else if (data->is(TYPE_STRING) || data->is(TYPE_BINARY)) {
        bytes = data_bytes(data);
    } else {
        invalid_arg(data);
    }
    if (!word::is_any_word_type(method->type())) invalid_arg(method);
    checksum_method chosen = checksum_method_of(method);
    if (chosen.kind == method_kind::none) invalid_arg(method);

    const uint8_t* at = bytes.data();
    const size_t length = bytes.size();
    switch (chosen.kind) {
    case method_kind::tcp:
    case method_kind::crc32:
    case method_kind::adler32: {
        if (with) invalid_arg(method);
        uint32_t sum = chosen.kind == method_kind::tcp     ? checksum::internet_checksum(at, length)
                       : chosen.kind == method_kind::crc32 ? checksum::crc32(at, length)
                                                           : checksum::adler32(at, length);
        integer::make_in(stack::result_slot(), static_cast<int32_t>(sum));
        stack::keep_result_slot();
        return 0;
    }
    case method_kind::hash: {
        // The hash method's one form asks for a hash-table size under /with; no algorithm
        // is defined for it, which the notice says.
        if (!with || !with->is(TYPE_INTEGER)) {
            cell copy = *method;
            raise::throw_error(err::script_invalid_refine_arg, &copy, with ? with : &copy);
        }
        cell* notice = string::push_empty();
        string::append_c_string(notice, "** /hash support not yet implemented; algorithm TBD.");
        output_hooks::call_value_hooks(notice, true);
        integer::make_in(stack::result_slot(), 0);
        stack::keep_result_slot();
        return 0;
    }
    case method_kind::digest: break;
    case method_kind::none: break;
    }

    std::optional<std::vector<uint8_t>> digest;
    if (!with) {
        digest = crypto::digest_of(chosen.digest, at, length);
    } else if (with->is(TYPE_BINARY) || string::is_any_string(with->type())) {
        std::vector<uint8_t> key = data_bytes(with);
        digest = crypto::hmac_of(chosen.digest, key.data(), key.size(), at, length);
    } else {
        cell copy = *with;
        raise::throw_error(err::script_invalid_refine_arg, method, &copy);
    }
    if (!digest) invalid_arg(method);
    result_bytes(*digest);
    return 0;
}

namespace {

using compressor = int (*)(deflate::output_area&, const uint8_t*, size_t);
using decompressor = int (*)(deflate::output_area&, const uint8_t*, size_t);

// The largest output a binary! can hold.
constexpr size_t OUTPUT_LIMIT = size_t(INT32_MAX);

bool grow_output(deflate::output_area& area, size_t needed) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(area.context);
    if (needed > OUTPUT_LIMIT) return false;
    size_t capacity = bytes->size() < 4096 ? 4096 : bytes->size();
    while (capacity < needed) capacity = capacity > OUTPUT_LIMIT / 2 ? OUTPUT_LIMIT : capacity * 2;
    bytes->resize(capacity);
    area.data = bytes->data();
    area.capacity = capacity;
    return true;
}

}  // namespace

uint32_t native_compress(const native_invocation&) {
    cell* data = stack::argument(0);
    cell* method = stack::argument(1);
    if (!data->is(TYPE_BINARY) && !string::is_any_string(data->type())) invalid_arg(data);
    if (!word::is_any_word_type(method->type())) invalid_arg(method);
    compressor run = method_is(method, "zlib")      ? &deflate::zlib_compress
                     : method_is(method, "deflate") ? &deflate::compress_fixed
                     : method_is(method, "gzip")    ? &deflate::gzip_compress
                                                    : nullptr;
    if (!run) invalid_arg(method);

    // Text is compressed from a copy of its UTF-8; a binary! straight from its buffer.
    std::vector<uint8_t> text;
    cell* input = stack::push_copy(data);
    const bool from_text = !data->is(TYPE_BINARY);
    if (from_text) text = utf8_copy(input);
    const int64_t length = from_text ? int64_t(text.size()) : binary::get_length(input);
    int64_t capacity = length + 32;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (capacity > int64_t(OUTPUT_LIMIT)) raise::throw_error(err::internal_no_memory);
        cell* output = binary::make_at(stack::push_slot(), capacity);
        const uint8_t* in = from_text ? text.data()
                                      : reinterpret_cast<const uint8_t*>(memory::buffer_of(input->w2)->head) +
                                            series::clamped_index(input);
        memory::series_buffer* out_buffer = memory::buffer_of(output->w2);
        deflate::output_area area;
        area.data = reinterpret_cast<uint8_t*>(out_buffer->head);
        area.capacity = size_t(capacity);
        int code = run(area, in, size_t(length));
        if (code == deflate::DONE) {
            out_buffer->tail = out_buffer->head + area.size;
            stack::set_result_truncate(output);
            return 0;
        }
        if (code != deflate::OUTPUT_TOO_SMALL) break;
        capacity = int64_t(area.size);
        stack::drop_slots(1);
    }
    cell copy = *method;
    raise::throw_error(err::script_invalid_data, &copy);
}

uint32_t native_decompress(const native_invocation& call) {
    cell* data = stack::argument(0);
    cell* method = stack::argument(1);
    if (!data->is(TYPE_BINARY)) invalid_arg(data);
    if (!word::is_any_word_type(method->type())) invalid_arg(method);
    int64_t expected = 0;
    if (call.has(REFINEMENT_SIZE)) {
        cell* size = stack::argument(call.position(REFINEMENT_SIZE));
        if (!size->is(TYPE_INTEGER)) invalid_arg(size);
        expected = integer::read_cell(size);
        if (expected < 0) {
            cell copy = *size;
            raise::throw_error(err::script_invalid_arg, &copy);
        }
    }
    const bool gzip = method_is(method, "gzip");
    decompressor run = method_is(method, "zlib")      ? &deflate::zlib_decompress
                       : method_is(method, "deflate") ? &deflate::inflate
                       : gzip                         ? &deflate::gzip_decompress
                                                      : nullptr;
    if (!run) invalid_arg(method);

    // The output grows in memory of its own (the sizes the data declares are hints), and
    // becomes a binary! once it is complete.
    const uint8_t* in = reinterpret_cast<const uint8_t*>(memory::buffer_of(data->w2)->head) +
                        series::clamped_index(data);
    const size_t length = size_t(binary::get_length(data));
    size_t hint = size_t(expected);
    if (gzip) {
        int64_t declared = deflate::gzip_size_hint(in, length);
        if (declared > 0) hint = std::max(hint, std::min(size_t(declared), length * 1032 + 64));
    }
    if (hint == 0) hint = length * 4;
    std::vector<uint8_t> bytes(std::min(std::max<size_t>(hint, 64), OUTPUT_LIMIT));
    deflate::output_area area;
    area.data = bytes.data();
    area.capacity = bytes.size();
    area.grow = &grow_output;
    area.context = &bytes;
    int code = run(area, in, length);
    if (code == deflate::OUTPUT_TOO_SMALL) raise::throw_error(err::internal_no_memory);
    if (code != deflate::DONE) {
        cell copy = *method;
        raise::throw_error(err::script_invalid_data, &copy);
    }
    cell* made = binary::load(area.data, int64_t(area.size));
    stack::set_result_truncate(made);
    return 0;
}

}  // namespace zor::natives
