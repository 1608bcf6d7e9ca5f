// The text and series conversion natives: dehex and enhex (percent-coding), debase and
// enbase (the base-2/16/58/64 codecs), uppercase and lowercase, the new-line markers of
// blocks (new-line, new-line?), the type aliasing of as and the system form of a path
// (to-local-file).
//
// Each prepares its arguments and hands the work to the module that owns the mechanism;
// a native that makes new text builds it in an argument-stack slot above its arguments
// and copies it into the result slot at the end. A result whose datatype has no module
// yet (the string-like types other than string! from as) raises internal/not-done rather
// than handing out a value that nothing can print or use.
#include <algorithm>
#include <cstring>
#include <string>

#include "runtime/text/case-fold.h"
#include "codecs/base-codecs.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "codecs/url-percent.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-registry.h"
#include "runtime/text/unicode.h"
#include "runtime/value/type-classes.h"

namespace zor::natives {

namespace {

// The mode of enhex for the other string types: the url class (anything but the
// unreserved mode selects it).
constexpr int MODE_URL_CLASS = 0;

// Whether the datatype's module exists: a registered type without one cannot even mold.
bool has_module(type_id type) { return type_registry::handler_of(type, ACTION_MOLD) != nullptr; }

// The base of debase and enbase: 64 unless /base (refinement 0) gives one.
int32_t base_argument(const native_invocation& call) {
    return call.has(0) ? integer::read_cell(stack::argument(call.position(0))) : 64;
}

[[noreturn]] void invalid_base(const native_invocation& call) {
    // Only a /base argument can name an unknown base.
    raise::throw_error(err::script_invalid_arg, stack::argument(call.position(0)));
}

// Copies a value made in a slot above the arguments into the result slot.
uint32_t answer(const cell* made) {
    stack::set_result_truncate(made);
    return 0;
}

bool is_block_kind(type_id type) { return type_classes::is(type, type_classes::ANY_BLOCK) && type != TYPE_HASH; }

// The cells of a block-like value, and its index clamped to 0..length.
int64_t cell_count(const cell* list) { return memory::buffer_of(list->w2)->length(); }
int64_t list_index(const cell* list) { return std::clamp<int64_t>(series::index_of(list), 0, cell_count(list)); }
cell* cell_at(const cell* list, int64_t n) { return memory::buffer_of(list->w2)->head_cell() + n; }

void set_new_line(cell* c, bool on) {
    if (on) c->header |= FLAG_NEW_LINE;
    else cell::clear_new_line(c);
}

uint32_t change_case(const native_invocation& call, bool upper) {
    // The /part limit's cell follows the value, so its position is never 0, which the
    // case-folding module reads as "no /part".
    int part_index = call.has(0) ? call.position(0) : 0;
    case_fold::change_case_value(stack::argument(0), part_index, upper);
    stack::keep_result_slot();
    return 0;
}

}  // namespace

// --- Percent-coding -----------------------------------------------------------------------------

// dehex value: a new string! with the escapes of the value's text (from its index)
// decoded.
uint32_t native_dehex(const native_invocation&) {
    cell* value = stack::argument(0);
    if (!string::is_any_string(value->type())) raise::expect_arg(value->type(), 0);
    cell* decoded = string::make_empty(stack::push_slot(), std::max<int64_t>(string::rest_length(value), 0));
    url::percent_decode(value, decoded);
    return answer(decoded);
}

// enhex value: a new string! with the value's text (from its index) percent-encoded;
// a string! keeps only the unreserved characters, the other string types (which name
// resources) also keep the url punctuation.
uint32_t native_enhex(const native_invocation&) {
    cell* value = stack::argument(0);
    if (!string::is_any_string(value->type())) raise::expect_arg(value->type(), 0);
    int mode = value->is(TYPE_STRING) ? url::MODE_UNRESERVED : MODE_URL_CLASS;
    cell* encoded = string::make_empty(stack::push_slot(), std::max<int64_t>(string::rest_length(value), 0));
    url::percent_encode(value, -1, encoded, mode);
    return answer(encoded);
}

// --- Base codecs ---------------------------------------------------------------------------------

// debase value /base base-value: the bytes that the text (from its index) encodes in the
// base, as a binary!; none! when the text is not valid in that base.
uint32_t native_debase(const native_invocation& call) {
    cell* value = stack::argument(0);
    if (!string::is_any_string(value->type())) raise::expect_arg(value->type(), 0);
    int32_t base = base_argument(call);
    binary::decoded (*decoder)(const std::byte*, int64_t, uint32_t) = nullptr;
    switch (base) {
        case 2: decoder = &binary::decode_base2; break;
        case 16: decoder = &binary::decode_base16; break;
        case 58: decoder = &binary::decode_base58; break;
        case 64: break;
        default: invalid_base(call);
    }
    int64_t count = std::max<int64_t>(string::rest_length(value), 0);
    cell* made = nullptr;
    if (base == 64) {
        // Base 64, the common case of large texts, decodes straight into the new binary:
        // made first, then the text is read (the decoder allocates nothing collected).
        made = binary::make_at(stack::push_slot(), binary::base64_decoded_room(count));
        const std::byte* text = string::get_position(value);
        memory::series_buffer* bytes = memory::buffer_of(made->w2);
        int64_t length = binary::decode_base64_into(text, count, memory::buffer_of(value->w2)->unit(),
                                                    reinterpret_cast<uint8_t*>(bytes->head));
        if (length >= 0) bytes->tail = bytes->head + length;
        else made = nullptr;
    } else {
        // The decoders allocate nothing from the collected heap: the text stays where it is.
        const std::byte* text = string::get_position(value);
        binary::decoded bytes = decoder(text, count, memory::buffer_of(value->w2)->unit());
        if (bytes) made = binary::load(bytes->data(), int64_t(bytes->size()));
    }
    if (!made) {
        stack::clear_frame_args();
        *stack::result_slot() = none::value;
        stack::keep_result_slot();
        return 0;
    }
    return answer(made);
}

// enbase value /base base-value: the text of the value's bytes in the base, as a
// string!; a string! is encoded as UTF-8 first, a binary! from its index.
uint32_t native_enbase(const native_invocation& call) {
    cell* value = stack::argument(0);
    int32_t base = base_argument(call);
    // A string! is encoded as UTF-8 first, into a copy of its own (the encoding cache may
    // move when the text is allocated); a binary! is read where it is, after that.
    std::string utf8;
    if (value->is(TYPE_STRING)) {
        int64_t byte_count = -1;
        const char* bytes = unicode::string_to_utf8(value, &byte_count);
        utf8.assign(bytes, size_t(byte_count));
    } else if (!value->is(TYPE_BINARY)) {
        raise::expect_arg(value->type(), 0);
    }
    // The room each encoder may need, computed wide so that an overflow is seen.
    int64_t n = value->is(TYPE_BINARY) ? binary::get_length(value) : int64_t(utf8.size());
    int64_t size = 0;
    uint8_t* (*encoder)(uint8_t*, const uint8_t*, int64_t) = nullptr;
    switch (base) {
        case 64: size = 4 * (n / 3) + (4 * (n % 3)) / 3 + 2 * (n / 32) + 5; encoder = &binary::encode_base64; break;
        case 58: size = 2 * n; encoder = &binary::encode_base58; break;
        case 16: size = 2 * n + n / 32 + 32; encoder = &binary::encode_base16; break;
        case 2: size = 8 * n + 2 * (n / 8) + 4; encoder = &binary::encode_base2; break;
        default: invalid_base(call);
    }
    if (size > INT32_MAX) raise::throw_error(err::script_too_long);
    cell* text = string::make_empty(stack::push_slot(), size);
    // Nothing allocates from here on: the addresses stay valid.
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    if (value->is(TYPE_BINARY)) {
        memory::series_buffer* source = memory::buffer_of(value->w2);
        bytes = reinterpret_cast<const uint8_t*>(source->head) + (source->length() - n);
    }
    memory::series_buffer* buffer = memory::buffer_of(text->w2);
    uint8_t* start = reinterpret_cast<uint8_t*>(buffer->head);
    uint8_t* end = encoder(start, bytes, n);
    buffer->tail = buffer->head + (end - start);
    return answer(text);
}

// --- Case ------------------------------------------------------------------------------------------

// uppercase string /part limit and lowercase: the value changed in place (a string from its
// index, or a char!).
uint32_t native_uppercase(const native_invocation& call) { return change_case(call, true); }
uint32_t native_lowercase(const native_invocation& call) { return change_case(call, false); }

// --- New-line markers ----------------------------------------------------------------------------

// new-line position value /all /skip size: sets or clears the new-line marker of the cell
// at the position, or with /all or /skip of every cell from it to the tail: counting
// those cells from 0, a cell whose count is a multiple of the size (every cell for size
// 1) gets the marker when value is true and loses it when false, and the others the
// opposite. The result is the position.
uint32_t native_new_line(const native_invocation& call) {
    cell* position = stack::argument(0);
    bool on = is_truthy(stack::argument(1));
    bool every = call.has(0);
    bool skip = call.has(1);
    int64_t index = list_index(position);
    int64_t length = cell_count(position);
    if (!every && !skip) {
        if (index < length) set_new_line(cell_at(position, index), on);
    } else {
        int64_t size = 1;
        if (skip) {
            cell* size_cell = stack::argument(call.position(1));
            size = integer::read_cell(size_cell);
            if (size < 1) raise::throw_error(err::script_out_of_range, size_cell);
        }
        // Marking allocates nothing: the buffer stays put for the walk.
        for (int64_t i = index; i < length; ++i) {
            bool mark = size == 1 || (i - index) % size == 0;
            set_new_line(cell_at(position, i), mark == on);
        }
    }
    stack::keep_result_slot();
    return 0;
}

// new-line? position: whether the cell at the position carries the new-line marker.
uint32_t native_new_line_q(const native_invocation&) {
    cell* position = stack::argument(0);
    int64_t index = list_index(position);
    bool marked = index < cell_count(position) && (cell_at(position, index)->header & FLAG_NEW_LINE) != 0;
    logic::set_result(marked ? 1 : 0);
    stack::keep_result_slot();
    return 0;
}

// --- Paths -------------------------------------------------------------------------------------------

// to-local-file path /full: a new string! holding the system form of the path (a file! or
// string!, from its index); with /full a relative path gets the current directory first.
uint32_t native_to_local_file(const native_invocation& call) {
    cell* path = stack::argument(0);
    cell* local = string::make_empty(stack::push_slot(), std::max<int64_t>(string::rest_length(path), 1));
    file::to_local_path(path, local, call.has(0));
    return answer(local);
}

// --- as --------------------------------------------------------------------------------------------

// as type spec: the spec's own series under another type of its class (the block-like
// block!, paren! and paths, or the string types), shared, not copied. The type is a
// datatype!, or a value of the type wanted.
uint32_t native_as(const native_invocation&) {
    const cell* type = stack::argument(0);
    cell* spec = stack::argument(1);
    type_id target = type->is(TYPE_DATATYPE) ? static_cast<type_id>(type->w1) : type->type();
    type_id source = spec->type();
    bool same_class = (is_block_kind(target) && is_block_kind(source)) ||
                      (string::is_any_string(target) && string::is_any_string(source));
    if (!same_class) {
        cell* from = datatype::push(source);
        cell* to = datatype::push(target);
        raise::throw_error(err::script_not_same_class, from, to);
    }
    if (!has_module(target)) raise::throw_error(err::internal_not_done);
    cell::set_type(spec, target);
    return answer(spec);
}

}  // namespace zor::natives
