// The ZORBIN decoder (both variants) and the boot loader: reads the envelope, then the
// records one by one into the tail of a target block, rebuilding shared series, bound
// words, objects, functions, natives and errors.
//
// Every record is decoded into a cell that already stands at its place in its parent
// series (unset! until complete), so that a reference path met while the record's own
// children are decoded finds the parent and everything before it. Values under
// construction live in argument-stack slots or in those placed cells; buffers are read
// again through their nodes after every allocation.
//
// Input is hostile: every count, size and index is checked against the bytes left before
// anything is allocated, each record's reads are bounded by the records' end, and whatever
// a record builds is checked to be a value the runtime can hold (code points, unit widths,
// vector element types, date fields, money digits, function contexts that match their
// specs, natives of filled table entries).
#include "codecs/zorbin.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "codecs/lz.h"
#include "codecs/zorbin-format.h"
#include "platform/fatal.h"
#include "platform/process.h"
#include "runtime/binding/context.h"
#include "runtime/binding/hashtable.h"
#include "runtime/binding/symbol.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hash-index.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/op.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue-objects.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"

namespace zor::zorbin {

namespace {

using namespace format;
using memory::buffer_of;
using memory::series_buffer;

// The decoded form of a record's front (prefixes and lead byte, or the fixed header word).
struct record_head {
    type_id type = TYPE_NONE_ID;
    bool new_line = false;
    bool reference = false;
    bool binding = false;     // compact 0xC4 / fixed bit 25 (boot mode)
    bool flag = false;        // compact type-byte bit 6
    bool copy = false;        // a copy of an earlier value
    bool global = false;      // fixed run-time words: bound to the global context
    int32_t short_value = -1; // short integer! 0..63, or logic! 0/1 (type says which)
    uint32_t header = 0;      // the fixed header word
};

bool is_block_type(type_id t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH) || t == TYPE_HASH;
}
bool is_any_word(type_id t) { return t >= TYPE_WORD && t <= TYPE_REFINEMENT; }
bool is_callable(type_id t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}
bool is_unserializable(type_id t) {
    return t == TYPE_ROUTINE || t == TYPE_TRIPLE || t == TYPE_HANDLE || t == TYPE_PORT || t == TYPE_EVENT;
}

// Symbol names are UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool valid_utf8(const uint8_t* s, size_t n) {
    size_t i = 0;
    while (i < n) {
        uint8_t c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra = c >= 0xF5 ? -1 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : -1;
        if (extra < 0 || n - i <= size_t(extra)) return false;
        uint32_t cp = c & (0x3Fu >> extra);
        for (int k = 1; k <= extra; ++k) {
            if ((s[i + size_t(k)] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (s[i + size_t(k)] & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += size_t(extra) + 1;
    }
    return true;
}

class decoder {
public:
    decoder(const uint8_t* data, int64_t size, cell* target, bool boot, int64_t offset_shift)
        : data_(data), end_(data + size), target_(target), boot_(boot), shift_(offset_shift) {}

    void read_envelope(bool compact, bool size_known);
    void decode_all();
    int64_t base() const { return base_; }

private:
    // --- Reading --------------------------------------------------------------------------
    // A fault of the envelope (the header fields, the symbol table, a records length past
    // the end, as in a truncated stream) means the data is not ZORBIN at all; a fault inside
    // the records is an invalid record. Both name the 1-based offset of the failing read.
    [[noreturn]] void invalid(const uint8_t* at) const {
        cell offset{TYPE_INTEGER, 0, static_cast<uint32_t>(int32_t((at - data_) + shift_ + 1)), 0};
        raise::throw_error(in_envelope_ ? err::script_invalid_data : err::script_zb_invalid_record, &offset);
    }
    int64_t left() const { return records_end_ - p_; }
    uint8_t read_byte() {
        if (p_ >= records_end_) invalid(p_);
        return *p_++;
    }
    uint32_t read_word() {
        if (records_end_ - p_ < 4) invalid(p_ < records_end_ ? records_end_ : p_);
        uint32_t w = uint32_t(p_[0]) | uint32_t(p_[1]) << 8 | uint32_t(p_[2]) << 16 | uint32_t(p_[3]) << 24;
        p_ += 4;
        return w;
    }
    uint32_t read_varint() {
        uint32_t value = 0;
        for (int i = 0; i < VARINT_MAX_BYTES; ++i) {
            const uint8_t* at = p_;
            uint8_t b = read_byte();
            if (i == VARINT_MAX_BYTES - 1 && b > 0x0F) invalid(at);
            value |= uint32_t(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return value;
        }
        return value;  // not reached: the fifth byte cannot carry the continuation bit
    }
    uint32_t read_field() { return compact_ ? read_varint() : read_word(); }
    int32_t read_signed() { return compact_ ? unzigzag(read_varint()) : static_cast<int32_t>(read_word()); }
    // A count of things each at least `each` bytes long, not more than the bytes left.
    uint32_t read_count(int64_t each) {
        const uint8_t* at = p_;
        uint32_t n = read_field();
        if (int64_t(n) * each > left()) invalid(at);
        return n;
    }
    const uint8_t* take(int64_t n) {
        if (n < 0 || n > left()) invalid(p_);
        const uint8_t* at = p_;
        p_ += n;
        return at;
    }
    void skip_padding(int64_t multiple) {
        while ((p_ - records_start_) % multiple) read_byte();
    }

    // --- Symbols ----------------------------------------------------------------------------
    int32_t symbol_id(uint32_t index, const uint8_t* at);
    int32_t global_index(int32_t symbol);
    int32_t read_symbol() {
        const uint8_t* at = p_;
        return symbol_id(read_field(), at);
    }

    // --- Records ----------------------------------------------------------------------------
    record_head read_head();
    cell* slot(const cell* series, int64_t position) { return buffer_of(series->w2)->head_cell() + position; }
    void place(const cell* series, int64_t position, cell value, bool new_line) {
        if (new_line) value.header |= FLAG_NEW_LINE;
        *slot(series, position) = value;
    }
    int64_t append_record(cell* series);
    void decode_at(cell* series, int64_t position);
    void decode_records_into(cell* series, uint32_t count);
    cell walk_path();
    node_ref context_of_target(const cell& target, const uint8_t* at);
    // A reference record of an object!, function! or error!: the value met before, found by
    // its path as the owner of a context, placed here. A value of another type is invalid.
    void place_referenced_owner(const record_head& h, cell* series, int64_t position, type_id type, const uint8_t* at);

    void decode_word(const record_head& h, cell* series, int64_t position);
    void decode_series(const record_head& h, cell* series, int64_t position);
    void decode_series_reference(const record_head& h, cell* series, int64_t position, uint32_t head);
    void decode_units(const record_head& h, cell* series, int64_t position, uint32_t head);
    void decode_map(const record_head& h, cell* series, int64_t position);
    void decode_bitset(const record_head& h, cell* series, int64_t position);
    void decode_scalar(const record_head& h, cell* series, int64_t position);
    struct context_head {
        uint32_t kind = 0;
        bool on_stack = false, self = false, values = false;
        std::vector<int32_t> keys;
    };
    context_head read_context_head();
    node_ref make_context(const context_head& c, const uint8_t* at);
    void decode_values(node_ref context, int32_t count);
    void decode_object(const record_head& h, cell* series, int64_t position, const cell* word);
    void decode_function(const record_head& h, cell* series, int64_t position, const cell* word);
    void read_owned_block(cell* function_slot, cell* block, bool body);
    void decode_native(const record_head& h, cell* series, int64_t position);
    void decode_op(const record_head& h, cell* series, int64_t position);
    void decode_error(const record_head& h, cell* series, int64_t position);
    void decode_context(const record_head& h, cell* series, int64_t position);
    void decode_image(const record_head& h, cell* series, int64_t position);

    const uint8_t* data_;
    const uint8_t* end_;
    const uint8_t* p_ = nullptr;
    const uint8_t* records_start_ = nullptr;
    const uint8_t* records_end_ = nullptr;
    cell* target_;
    bool boot_;
    bool compact_ = true;
    bool in_envelope_ = true;
    int64_t shift_;  // added to error offsets (a decompressed payload starts after the header)
    int64_t base_ = 0;

    uint32_t symbol_count_ = 0;
    const uint8_t* offsets_ = nullptr;
    const uint8_t* strings_ = nullptr;
    uint32_t strings_size_ = 0;
    std::vector<int32_t> symbols_;  // interned ids by index, 0 until first use
    std::unordered_map<int32_t, int32_t> global_slots_;  // symbol id -> global value slot
};

// The value slot of a symbol in the global context, interned as the lexer interns a word
// (every spelling shares the slot of the name's first key); kept per symbol, since a
// global slot never changes its index.
int32_t decoder::global_index(int32_t symbol) {
    auto found = global_slots_.find(symbol);
    if (found != global_slots_.end()) return found->second;
    int32_t index = static_cast<int32_t>(word::intern_global(symbol, false, false)->w3);
    global_slots_.emplace(symbol, index);
    return index;
}

int32_t decoder::symbol_id(uint32_t index, const uint8_t* at) {
    if (index >= symbol_count_) invalid(at);
    if (symbols_[index]) return symbols_[index];
    const uint8_t* o = offsets_ + 4 * size_t(index);
    uint32_t offset = uint32_t(o[0]) | uint32_t(o[1]) << 8 | uint32_t(o[2]) << 16 | uint32_t(o[3]) << 24;
    if (offset >= strings_size_) invalid(at);
    const uint8_t* name = strings_ + offset;
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(name, 0, strings_size_ - offset));
    if (!nul || nul == name || !valid_utf8(name, size_t(nul - name))) invalid(at);
    symbols_[index] = symbol::make_from_utf8(reinterpret_cast<const char*>(name), nul - name);
    return symbols_[index];
}

void decoder::read_envelope(bool compact, bool size_known) {
    compact_ = compact;
    p_ = data_ + HEADER_SIZE;
    records_end_ = end_;
    uint8_t flags = data_[7];
    if (!compact && end_ - p_ < 8) invalid(end_);
    read_field();  // the value count: informative only
    const uint8_t* at = p_;
    uint32_t records = read_field();
    if (flags & FLAG_SYMBOLS) {
        const uint8_t* count_at = p_;
        symbol_count_ = read_field();
        strings_size_ = read_field();
        if (size_known && int64_t(symbol_count_) * 4 > left()) invalid(count_at);
        offsets_ = take(int64_t(symbol_count_) * 4);
        if (int64_t(strings_size_) > left()) invalid(count_at);
        strings_ = take(strings_size_);
        if (strings_size_ == 0 ? symbol_count_ != 0 : strings_[strings_size_ - 1] != 0) invalid(count_at);
        symbols_.assign(symbol_count_, 0);
    }
    if (int64_t(records) > left()) invalid(at);
    records_start_ = p_;
    records_end_ = p_ + records;
    in_envelope_ = false;
}

void decoder::decode_all() {
    base_ = buffer_of(target_->w2)->length();
    while (p_ < records_end_) {
        if (!compact_) {
            // Padding words between top-level records.
            if (left() >= 4 && p_[0] == 0 && p_[1] == 0 && p_[2] == 0 && p_[3] == 0) {
                p_ += 4;
                continue;
            }
        }
        append_record(target_);
    }
}

record_head decoder::read_head() {
    record_head h;
    if (!compact_) {
        uint32_t w;
        do {
            w = read_word();
        } while (w == 0);
        h.header = w;
        h.new_line = (w & FIXED_NEW_LINE) != 0;
        uint32_t id = w & FIXED_TYPE_MASK;
        if (id == FIXED_COPY) {
            h.copy = true;
            return h;
        }
        if (id == 0 || id >= TYPE_TOTAL_COUNT) invalid(p_ - 4);
        h.type = static_cast<type_id>(id);
        // op!'s header carries its source type in bits 16-23, over the reference bit.
        h.reference = (w & FIXED_REFERENCE) != 0 && h.type != TYPE_OP;
        if (is_any_word(h.type)) {
            if (boot_) h.binding = (w & FIXED_WORD_BINDING) != 0;
            else h.global = (w & FIXED_WORD_BINDING) != 0;
        }
        return h;
    }
    for (;;) {
        const uint8_t* at = p_;
        uint8_t b = read_byte();
        if (b == PREFIX_NEW_LINE) { h.new_line = true; continue; }
        if (b == PREFIX_REFERENCE) { h.reference = true; continue; }
        if (b == PREFIX_BINDING) {
            if (!boot_) invalid(at);
            h.binding = true;
            continue;
        }
        bool prefixed = h.reference || h.binding;
        if (b >= LEAD_SHORT_INTEGER && b < PREFIX_NEW_LINE) {
            if (prefixed) invalid(at);
            h.type = TYPE_INTEGER;
            h.short_value = b - LEAD_SHORT_INTEGER;
            return h;
        }
        if (b == LEAD_TRUE || b == LEAD_FALSE) {
            if (prefixed) invalid(at);
            h.type = TYPE_LOGIC;
            h.short_value = b == LEAD_TRUE;
            return h;
        }
        if (b == LEAD_COPY) {
            if (prefixed) invalid(at);
            h.copy = true;
            return h;
        }
        if (b >= PREFIX_NEW_LINE) invalid(at);
        uint32_t id = b & TYPE_BYTE_ID_MASK;
        h.flag = (b & TYPE_BYTE_FLAG) != 0;
        if (id == TYPE_BYTE_LONG_ID) id = read_varint();
        if (id == 0 || id >= TYPE_TOTAL_COUNT) invalid(at);
        h.type = static_cast<type_id>(id);
        if (h.binding && !is_any_word(h.type) && h.type != TYPE_ISSUE) invalid(at);
        return h;
    }
}

int64_t decoder::append_record(cell* series) {
    int64_t position = buffer_of(series->w2)->length();
    block::alloc_tail_cell(series);
    decode_at(series, position);
    return position;
}

void decoder::decode_records_into(cell* series, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) append_record(series);
}

// Walks a reference path from the root (the target block, counting from where this load
// began) and answers a copy of the cell it reaches.
cell decoder::walk_path() {
    const uint8_t* at = p_;
    uint32_t count = read_field();
    if (count < 1 || count > uint32_t(PATH_MAX_LENGTH) || int64_t(count) > left()) invalid(at);
    at = p_;
    uint32_t first = read_field();
    series_buffer* root = buffer_of(target_->w2);
    if (int64_t(first) >= root->length() - base_) invalid(at);
    cell current = root->head_cell()[base_ + first];
    for (uint32_t i = 1; i < count; ++i) {
        at = p_;
        uint32_t e = read_field();
        type_id t = current.type();
        if (is_block_type(t) || t == TYPE_MAP || t == TYPE_NATIVE || t == TYPE_ACTION) {
            series_buffer* b = buffer_of(current.w2);
            if (int64_t(e) >= b->length()) invalid(at);
            current = b->head_cell()[e];
            continue;
        }
        node_ref context = 0;
        int64_t index = e;
        if (t == TYPE_OBJECT) context = current.w1;
        else if (t == TYPE_ERROR) { context = current.w1; index += 3; }
        else if (is_any_word(t)) context = current.w1;
        if (context) {
            if (context::values_on_stack(context)) {
                current = *context::self_cell(context);
                if (!current.is(TYPE_FUNCTION)) invalid(at);
                t = TYPE_FUNCTION;
            } else {
                const cell* value = context::value_at(context, static_cast<int32_t>(index));
                if (!value) invalid(at);
                current = *value;
                continue;
            }
        }
        if (t == TYPE_FUNCTION || (t == TYPE_OP && op::source_type(&current) == TYPE_FUNCTION)) {
            if (e == 0) current = cell{TYPE_BLOCK, 0, current.w2, 0};
            else if (e == 1 && t == TYPE_FUNCTION) {
                const cell* body = function::extras_cell(&current, function::EXTRAS_BODY);
                if (!body || !body->is(TYPE_BLOCK)) invalid(at);
                current = *body;
            } else invalid(at);
            continue;
        }
        invalid(at);
    }
    current.header &= ~FLAG_NEW_LINE;
    return current;
}

// The context that a reference to an object, function, op or word names.
void decoder::place_referenced_owner(const record_head& h, cell* series, int64_t position, type_id type,
                                     const uint8_t* at) {
    cell target = walk_path();
    node_ref context = context_of_target(target, at);
    cell self = *context::self_cell(context);
    if (!self.is(type)) invalid(at);
    place(series, position, self, h.new_line);
}

node_ref decoder::context_of_target(const cell& target, const uint8_t* at) {
    type_id t = target.type();
    if (t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_FUNCTION) return target.w1;
    if (t == TYPE_OP && op::source_type(&target) == TYPE_FUNCTION) return target.w1;
    if (is_any_word(t) && target.w1 && target.w1 != context::global) return target.w1;
    invalid(at);
}

void decoder::decode_at(cell* series, int64_t position) {
    if (platform::native_stack_low()) raise::throw_error(err::internal_stack_overflow);
    const uint8_t* at = p_;
    record_head h = read_head();
    if (h.copy) {
        place(series, position, walk_path(), h.new_line);
        return;
    }
    type_id t = h.type;
    if (is_unserializable(t)) {
        cell datatype = datatype::value_of(t);
        raise::throw_error(err::access_no_codec, &datatype);
    }
    if (h.reference && !(is_block_type(t) || string::is_any_string(t) || t == TYPE_BINARY || t == TYPE_VECTOR ||
                         t == TYPE_BITSET || t == TYPE_MAP || t == TYPE_IMAGE || t == TYPE_OBJECT ||
                         t == TYPE_FUNCTION || t == TYPE_ERROR || is_any_word(t))) {
        invalid(at);
    }
    switch (t) {
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        case TYPE_ISSUE:
            return decode_word(h, series, position);
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_HASH: case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG:
        case TYPE_EMAIL: case TYPE_REF: case TYPE_BINARY: case TYPE_VECTOR:
            return decode_series(h, series, position);
        case TYPE_MAP: return decode_map(h, series, position);
        case TYPE_BITSET: return decode_bitset(h, series, position);
        case TYPE_IMAGE: return decode_image(h, series, position);
        case TYPE_CONTEXT: return decode_context(h, series, position);
        case TYPE_OBJECT: return decode_object(h, series, position, nullptr);
        case TYPE_FUNCTION: return decode_function(h, series, position, nullptr);
        case TYPE_NATIVE: case TYPE_ACTION: return decode_native(h, series, position);
        case TYPE_OP: return decode_op(h, series, position);
        case TYPE_ERROR: return decode_error(h, series, position);
        case TYPE_SYMBOL: case TYPE_SERIES: invalid(at);
        default: return decode_scalar(h, series, position);
    }
}

void decoder::decode_scalar(const record_head& h, cell* series, int64_t position) {
    const uint8_t* at = p_;
    type_id t = h.type;
    cell v{t, 0, 0, 0};
    switch (t) {
        case TYPE_UNSET: case TYPE_NONE: break;
        case TYPE_LOGIC:
            if (compact_ && h.short_value < 0) invalid(at - 1);
            v.w1 = compact_ ? uint32_t(h.short_value) : (read_word() != 0);
            break;
        case TYPE_DATATYPE: {
            uint32_t id = read_field();
            if (id == 0 || id >= TYPE_TOTAL_COUNT) invalid(at);
            v.w1 = id;
            break;
        }
        case TYPE_CHAR: {
            uint32_t c = read_field();
            if (c > 0x10FFFF) invalid(at);
            v.w2 = c;
            break;
        }
        case TYPE_INTEGER:
            v.w2 = h.short_value >= 0 ? uint32_t(h.short_value) : static_cast<uint32_t>(read_signed());
            break;
        case TYPE_FLOAT: case TYPE_TIME: case TYPE_PERCENT:
            if (compact_) {
                if (h.flag) {
                    double d = t == TYPE_PERCENT ? double(read_signed()) / 100.0 : double(read_signed());
                    float_::store(&v, d);
                } else {
                    v.w2 = read_word();
                    v.w3 = read_word();
                }
            } else {
                v.w3 = read_word();
                v.w2 = read_word();
            }
            break;
        case TYPE_PAIR:
            v.w2 = static_cast<uint32_t>(read_signed());
            v.w3 = static_cast<uint32_t>(read_signed());
            break;
        case TYPE_POINT2D: case TYPE_POINT3D:
            v.w1 = read_word();
            v.w2 = read_word();
            if (t == TYPE_POINT3D) v.w3 = read_word();
            break;
        case TYPE_DATE: {
            uint32_t date = read_word();
            bool timed = (date & 0x10000) != 0;
            uint32_t month = (date >> 12) & 0xF, day = (date >> 7) & 0x1F, zone_hours = (date >> 2) & 0xF;
            if (compact_ && h.flag != timed) invalid(at);
            if (month < 1 || month > 12 || day < 1 || zone_hours > 15) invalid(at);
            v.w1 = date;
            if (compact_) {
                if (timed) {
                    v.w2 = read_word();
                    v.w3 = read_word();
                }
            } else {
                v.w3 = read_word();
                v.w2 = read_word();
                if (!timed && (v.w2 || v.w3)) invalid(at);
            }
            break;
        }
        case TYPE_TYPESET: case TYPE_TUPLE: case TYPE_MONEY: {
            uint8_t payload[12] = {};
            int length = 3;
            if (!compact_) {
                for (int i = 0; i < 3; ++i) {
                    uint32_t w = read_word();
                    std::memcpy(payload + 4 * i, &w, 4);
                }
                if (t == TYPE_TUPLE) length = int((h.header >> FIXED_SMALL_SHIFT) & FIXED_TUPLE_MASK);
            } else if (t == TYPE_TYPESET) {
                uint8_t n = read_byte();
                if (n > 12) invalid(at);
                std::memcpy(payload, take(n), n);
            } else if (t == TYPE_TUPLE) {
                if (h.flag) length = read_byte();
                if (length < 1 || length > 12) invalid(at);
                std::memcpy(payload, take(length), size_t(length));
            } else {
                std::memcpy(payload, take(12), 12);
            }
            if (t == TYPE_TUPLE) {
                if (length < 1 || length > 12) invalid(at);
                for (int i = length; i < 12; ++i) {
                    if (payload[i]) invalid(at);
                }
                tuple::make_at(&v, length, payload);
                break;
            }
            if (t == TYPE_MONEY) {
                if (payload[0] > money::CURRENCY_COUNT) invalid(at);
                for (int i = 1; i < 12; ++i) {
                    if ((payload[i] >> 4) > 9 || (payload[i] & 0xF) > 9) invalid(at);
                }
                bool negative = compact_ ? h.flag : (h.header & FIXED_MONEY_SIGN) != 0;
                if (negative) v.header |= money::SIGN_BIT;
            }
            std::memcpy(&v.w1, payload, 4);
            std::memcpy(&v.w2, payload + 4, 4);
            std::memcpy(&v.w3, payload + 8, 4);
            break;
        }
        default: invalid(at);
    }
    place(series, position, v, h.new_line);
}

void decoder::decode_word(const record_head& h, cell* series, int64_t position) {
    const uint8_t* at = p_;
    type_id t = h.type;
    int32_t symbol = read_symbol();
    if (t == TYPE_ISSUE) {
        place(series, position, cell{TYPE_ISSUE, context::global, static_cast<uint32_t>(symbol), word::INDEX_UNRESOLVED},
              h.new_line);
        return;
    }
    bool global = compact_ ? !h.flag : h.global;
    int32_t key_index = -1;
    node_ref context = 0;
    if (boot_) {
        // Boot mode: a context position among the root's literals and a key index (fixed:
        // position -1 names the global context).
        int64_t context_position = -1;
        if (compact_ ? h.flag : true) {
            context_position = compact_ ? int64_t(read_varint()) : int64_t(static_cast<int32_t>(read_word()));
            key_index = read_signed();
        }
        if (context_position >= 0) {
            series_buffer* root = buffer_of(target_->w2);
            if (base_ + context_position >= root->length()) invalid(at);
            const cell& holder = root->head_cell()[base_ + context_position];
            if (!holder.is(TYPE_OBJECT) && !holder.is(TYPE_CONTEXT)) invalid(at);
            context = holder.w1;
        }
        global = context == 0;
    } else if (!global) {
        key_index = read_signed();
    } else if (!compact_) {
        read_word();  // the key index of a global word: found again by name
    }
    if (global) {
        int32_t index = global_index(symbol);
        place(series, position, cell{t, context::global, static_cast<uint32_t>(symbol), static_cast<uint32_t>(index)},
              h.new_line);
    } else if (boot_) {
        if (key_index == -1) key_index = context::find_symbol(context, symbol, true);
        if (key_index < -1 || key_index >= context::key_count(context)) invalid(at);
        place(series, position, cell{t, context, static_cast<uint32_t>(symbol), static_cast<uint32_t>(key_index)},
              h.new_line);
    } else {
        cell word{t, 0, static_cast<uint32_t>(symbol), static_cast<uint32_t>(key_index)};
        if (h.new_line) word.header |= FLAG_NEW_LINE;
        if (h.reference) {
            const uint8_t* path_at = p_;
            cell owner = walk_path();
            word.w1 = context_of_target(owner, path_at);
            if (key_index < -1 || key_index >= context::key_count(word.w1)) invalid(at);
            *slot(series, position) = word;
        } else {
            // The owner's record: only its context survives, through the word, which stands in
            // its place while the owner's children are decoded.
            const uint8_t* owner_at = p_;
            record_head owner = read_head();
            if (owner.copy || owner.reference || owner.binding) invalid(owner_at);
            if (owner.type == TYPE_OBJECT) decode_object(owner, series, position, &word);
            else if (owner.type == TYPE_FUNCTION) decode_function(owner, series, position, &word);
            else invalid(owner_at);
            node_ref bound = slot(series, position)->w1;
            if (key_index < -1 || key_index >= context::key_count(bound)) invalid(at);
        }
    }
    if (h.binding) {
        // Boot mode: the next record is the word's value; both leave the block again.
        cell* word = stack::push_copy(slot(series, position));
        word->header &= ~FLAG_NEW_LINE;
        int64_t value_position = append_record(series);
        cell* value = stack::push_copy(slot(series, value_position));
        value->header &= ~FLAG_NEW_LINE;
        word::set_value(word, value);
        block::truncate(series, position);
        stack::drop_slots(2);
    }
}

void decoder::decode_series(const record_head& h, cell* series, int64_t position) {
    type_id t = h.type;
    uint32_t head = 0;
    if (!compact_ || h.flag) {
        const uint8_t* at = p_;
        head = read_field();
        if (head > uint32_t(INT32_MAX)) invalid(at);
    }
    if (h.reference) return decode_series_reference(h, series, position, head);
    if (!is_block_type(t)) return decode_units(h, series, position, head);
    uint32_t count = read_count(compact_ ? 1 : 4);
    cell* made = stack::push_slot();
    *made = cell{TYPE_BLOCK, head, memory::alloc_cells(std::max<uint32_t>(count, 1)), 0};
    if (t == TYPE_HASH) {
        made->w3 = hashtable::make(std::max<int64_t>(count, 1), made, hashtable::KIND_HASH, 0);
        made->header = TYPE_HASH;
    } else {
        made->header = t;
    }
    place(series, position, *made, h.new_line);
    decode_records_into(made, count);
    if (t == TYPE_HASH) hash_index::index_values(made->w3, 0, 1);
    stack::drop_slots(1);
}

void decoder::decode_series_reference(const record_head& h, cell* series, int64_t position, uint32_t head) {
    type_id t = h.type;
    const uint8_t* at = p_;
    cell target = walk_path();
    type_id tt = target.type();
    cell v{t, head, target.w2, 0};
    bool fits;
    if (t == TYPE_HASH) { fits = tt == TYPE_HASH; v.w3 = target.w3; }
    else if (is_block_type(t)) fits = (is_block_type(tt) && tt != TYPE_HASH) || tt == TYPE_HASH || is_callable(tt);
    else if (t == TYPE_MAP) { fits = tt == TYPE_MAP; v.w3 = target.w3; v.w1 = 0; }
    else if (string::is_any_string(t)) fits = string::is_any_string(tt);
    else if (t == TYPE_VECTOR) { fits = tt == TYPE_VECTOR; v.w3 = target.w3; }
    else if (t == TYPE_BITSET) { fits = tt == TYPE_BITSET; v.w1 = 0; }
    else fits = tt == t;
    if (t == TYPE_BITSET) {
        bool complemented = compact_ ? h.flag : (h.header & FIXED_COMPLEMENT) != 0;
        if (fits && complemented != ((buffer_of(target.w2)->flags & memory::FLAG_COMPLEMENT) != 0)) fits = false;
    }
    if (!fits || (is_callable(tt) && t != TYPE_BLOCK)) invalid(at);
    if (is_callable(tt)) v.w2 = target.w2;
    place(series, position, v, h.new_line);
}

void decoder::decode_units(const record_head& h, cell* series, int64_t position, uint32_t head) {
    type_id t = h.type;
    const uint8_t* at = p_;
    uint32_t width = 1, count = 0, element = 0;
    if (compact_) {
        if (t == TYPE_BINARY) {
            count = read_varint();
        } else if (t == TYPE_VECTOR) {
            uint8_t e = read_byte();
            width = unit_width(e & 3);
            element = e >> 2;
            count = read_varint();
        } else {
            uint32_t length = read_varint();
            if ((length & 3) == UNIT_CODE_WIDE) invalid(at);
            width = unit_width(length & 3);
            count = length >> 2;
        }
    } else {
        width = (h.header >> FIXED_SMALL_SHIFT) & FIXED_UNIT_MASK;
        count = read_word();
        if (t == TYPE_VECTOR) element = read_word();
    }
    bool width_ok;
    if (t == TYPE_BINARY) width_ok = width == 1;
    else if (t == TYPE_VECTOR) {
        width_ok = element == TYPE_CHAR || element == TYPE_INTEGER ? (width == 1 || width == 2 || width == 4)
                   : element == TYPE_FLOAT                        ? (width == 4 || width == 8)
                   : element == TYPE_PERCENT                      ? width == 8
                                                                  : false;
    } else width_ok = width == 1 || width == 2 || width == 4;
    if (!width_ok) invalid(at);
    int64_t bytes = int64_t(count) * width;
    const uint8_t* data_at = p_;
    if (bytes > left()) invalid(at);
    if (!compact_ && ((bytes + 3) & ~int64_t(3)) > left()) invalid(at);
    if (string::is_any_string(t) && width == 4) {
        for (int64_t i = 0; i < count; ++i) {
            uint32_t c;
            std::memcpy(&c, data_at + 4 * i, 4);
            if (c > 0x10FFFF) invalid(data_at + 4 * i);
        }
    }
    cell* made = stack::push_slot();
    node_ref node = memory::alloc_series(std::max<int64_t>(count, 1), width, 0);
    *made = cell{t, head, node, t == TYPE_VECTOR ? element : 0};
    series_buffer* b = buffer_of(node);
    if (bytes) std::memcpy(b->head, take(bytes), size_t(bytes));
    b->tail = b->head + bytes;
    if (!compact_) skip_padding(4);
    place(series, position, *made, h.new_line);
    stack::drop_slots(1);
}

void decoder::decode_bitset(const record_head& h, cell* series, int64_t position) {
    if (h.reference) return decode_series_reference(h, series, position, 0);
    uint32_t count = read_count(1);
    bool complemented = compact_ ? h.flag : (h.header & FIXED_COMPLEMENT) != 0;
    cell* made = stack::push_slot();
    *made = cell{TYPE_BITSET, 0, memory::alloc_series(std::max<uint32_t>(count, 1), 1, 0), 0};
    series_buffer* b = buffer_of(made->w2);
    if (count) std::memcpy(b->head, take(count), count);
    b->tail = b->head + count;
    if (complemented) b->flags |= memory::FLAG_COMPLEMENT;
    if (!compact_) skip_padding(4);
    place(series, position, *made, h.new_line);
    stack::drop_slots(1);
}

void decoder::decode_map(const record_head& h, cell* series, int64_t position) {
    if (h.reference) return decode_series_reference(h, series, position, 0);
    const uint8_t* at = p_;
    uint32_t count = read_count(compact_ ? 1 : 4);
    if (count % 2) invalid(at);
    cell* made = stack::push_slot();
    map::make_at(made, nullptr, std::max<int64_t>(count, 2));
    place(series, position, *made, h.new_line);
    cell* data = stack::push_slot();
    *data = cell{TYPE_BLOCK, 0, made->w2, 0};
    decode_records_into(data, count);
    // The table is built from the decoded pairs: they are entered again in order, each key
    // made a key as put makes it (a later duplicate replaces the value of the first).
    cell* pairs = block::push_copy(data, false, false);
    hashtable::clear(made->w3);
    map::extend(made, pairs, true);
    stack::drop_slots(3);
}

void decoder::decode_image(const record_head& h, cell* /*series*/, int64_t /*position*/) {
    const uint8_t* at = p_;
    if (!h.reference) {
        if (!compact_ || h.flag) read_field();
        uint32_t width, height;
        if (compact_) {
            width = read_varint();
            height = read_varint();
        } else {
            uint32_t size = read_word();
            width = size & 0xFFFF;
            height = size >> 16;
        }
        if (width > 65535 || height > 65535 || int64_t(width) * height * 4 > left()) invalid(at);
    }
    // The image! datatype is not part of this build yet.
    raise::throw_error(err::internal_not_done);
}

decoder::context_head decoder::read_context_head() {
    context_head c;
    const uint8_t* at = p_;
    uint32_t flags_word;
    if (compact_) {
        uint8_t type = read_byte();
        if ((type & TYPE_BYTE_ID_MASK) != TYPE_CONTEXT) invalid(at);
        uint8_t flags = read_byte();
        c.kind = flags & CONTEXT_KIND_MASK;
        c.on_stack = flags & CONTEXT_ON_STACK;
        c.self = flags & CONTEXT_SELF;
        c.values = (flags & CONTEXT_VALUES) && !c.on_stack;
    } else {
        flags_word = read_word();
        if ((flags_word & FIXED_TYPE_MASK) != TYPE_CONTEXT) invalid(at);
        c.kind = (flags_word >> FIXED_CONTEXT_KIND_SHIFT) & 3;
        c.on_stack = flags_word & FIXED_CONTEXT_ON_STACK;
        c.self = flags_word & FIXED_CONTEXT_SELF;
        c.values = (flags_word & FIXED_CONTEXT_VALUES) && !c.on_stack;
    }
    if (c.kind > context::KIND_OBJECT) invalid(at);
    uint32_t slots = read_count(compact_ ? 1 : 4);
    c.keys.reserve(slots);
    for (uint32_t i = 0; i < slots; ++i) c.keys.push_back(read_symbol());
    return c;
}

// A new context with the keys, held in a new argument-stack slot (the caller drops it).
node_ref decoder::make_context(const context_head& c, const uint8_t* at) {
    node_ref made = context::make(static_cast<int32_t>(c.keys.size()), c.on_stack, c.self, 0,
                                  static_cast<context::kind>(c.kind));
    cell* held = stack::push_slot();
    *held = cell{TYPE_BLOCK, 0, made, 0};
    for (int32_t symbol : c.keys) {
        int32_t before = context::key_count(held->w2);
        context::add_word(held->w2, symbol);
        if (context::key_count(held->w2) != before + 1) invalid(at);  // a key given twice
    }
    return held->w2;
}

// The values of an object context, decoded in place.
void decoder::decode_values(node_ref context, int32_t count) {
    cell* values = stack::push_slot();
    *values = cell{TYPE_BLOCK, 0, context::context_cell(context)->w2, 0};
    for (int32_t i = 0; i < count; ++i) decode_at(values, i);
    stack::drop_slots(1);
}

// object!: `word` is the word whose owner this record is (it stands at the place), or null
// when the object itself goes there.
void decoder::decode_object(const record_head& h, cell* series, int64_t position, const cell* word) {
    const uint8_t* at = p_;
    if (h.reference) return place_referenced_owner(h, series, position, TYPE_OBJECT, at);
    int32_t class_id = read_signed();
    bool change = compact_ ? h.flag : (h.header & FIXED_CHANGE_NODE) != 0;
    if (change) {
        read_signed();
        read_signed();
    }
    if (compact_) {
        read_count(0);
        read_count(0);
    }
    const uint8_t* context_at = p_;
    context_head c = read_context_head();
    if (c.kind != context::KIND_OBJECT || c.on_stack || !c.self) invalid(context_at);
    cell* saved_top = stack::state.args_top;
    node_ref context = make_context(c, context_at);
    cell* object = object::push_from_context(context, boot_ ? class_id : -1);
    if (word) {
        cell bound = *word;
        bound.w1 = object->w1;
        *slot(series, position) = bound;
    } else {
        place(series, position, *object, h.new_line);
    }
    if (c.values) decode_values(object->w1, static_cast<int32_t>(c.keys.size()));
    if (change) {
        object::refresh_handlers(object);
        if (!word) place(series, position, *object, h.new_line);
    }
    stack::state.args_top = saved_top;
}

// The spec or body block of a function record, decoded into the function's own block, or
// (reference form) taken over from the series the path reaches.
void decoder::read_owned_block(cell* function_slot, cell* block, bool body) {
    const uint8_t* at = p_;
    bool reference = false;
    if (compact_) {
        uint8_t b = read_byte();
        while (b == PREFIX_NEW_LINE || b == PREFIX_REFERENCE) {
            reference |= b == PREFIX_REFERENCE;
            b = read_byte();
        }
        if ((b & TYPE_BYTE_ID_MASK) != TYPE_BLOCK) invalid(at);
        if (b & TYPE_BYTE_FLAG) read_varint();
    } else {
        uint32_t w = read_word();
        if ((w & FIXED_TYPE_MASK) != TYPE_BLOCK) invalid(at);
        reference = (w & FIXED_REFERENCE) != 0;
        read_word();
    }
    if (reference) {
        cell target = walk_path();
        if (!is_block_type(target.type()) || target.is(TYPE_HASH)) invalid(at);
        block->w2 = target.w2;
    } else {
        decode_records_into(block, read_count(compact_ ? 1 : 4));
    }
    if (body) *function::extras_cell(function_slot, function::EXTRAS_BODY) = cell{TYPE_BLOCK, 0, block->w2, 0};
    else function_slot->w2 = block->w2;
}

void decoder::decode_function(const record_head& h, cell* series, int64_t position, const cell* word) {
    const uint8_t* at = p_;
    if (h.reference) return place_referenced_owner(h, series, position, TYPE_FUNCTION, at);
    uint32_t spec_size = read_count(compact_ ? 1 : 4);
    uint32_t body_size = read_count(compact_ ? 1 : 4);
    const uint8_t* context_at = p_;
    context_head c = read_context_head();
    if (c.kind != context::KIND_FUNCTION || !c.on_stack || c.self) invalid(context_at);
    cell* saved_top = stack::state.args_top;
    node_ref context = make_context(c, context_at);
    cell* function = stack::push_slot();
    cell* spec = stack::push_slot();
    *spec = cell{TYPE_BLOCK, 0, memory::alloc_cells(std::max<uint32_t>(spec_size, 1)), 0};
    cell* body = stack::push_slot();
    *body = cell{TYPE_BLOCK, 0, memory::alloc_cells(std::max<uint32_t>(body_size, 1)), 0};
    node_ref extras = memory::alloc_unset_cells(function::EXTRAS_COUNT);
    context = (saved_top)->w2;  // the held context, read again after the allocations
    *function = cell{TYPE_FUNCTION, context, spec->w2, extras};
    series_buffer* x = buffer_of(extras);
    for (int i = 0; i < function::EXTRAS_COUNT; ++i) cell::init_unset(memory::alloc_tail_cell(x));
    *function::extras_cell(function, function::EXTRAS_BODY) = *body;
    *context::self_cell(function->w1) = *function;
    if (word) {
        cell bound = *word;
        bound.w1 = function->w1;
        *slot(series, position) = bound;
    } else {
        place(series, position, *function, h.new_line);
    }
    read_owned_block(function, spec, false);
    read_owned_block(function, body, true);
    // The keys must be exactly what the spec makes: the evaluator lays out a call's
    // arguments by the spec and reads them by the keys.
    cell* spec_cell = stack::push_copy(spec);
    spec_cell->w2 = function->w2;
    uint32_t flags = function::check_spec(spec_cell);
    node_ref fresh = context::make_from_words(spec_cell, true, false, context::KIND_FUNCTION);
    int32_t keys = context::key_count(function->w1);
    if (context::key_count(fresh) != keys) invalid(context_at);
    for (int32_t i = 0; i < keys; ++i) {
        if (context::word_at(fresh, i)->w2 != context::word_at(function->w1, i)->w2) invalid(context_at);
    }
    function->header = TYPE_FUNCTION | (flags & function::ATTRIBUTE_MASK);
    *context::self_cell(function->w1) = *function;
    if (!word) place(series, position, *function, h.new_line);
    stack::state.args_top = saved_top;
}

void decoder::decode_native(const record_head& h, cell* series, int64_t position) {
    const uint8_t* at = p_;
    int32_t index = static_cast<int32_t>(read_field());
    bool exists = h.type == TYPE_NATIVE ? upcalls::native_exists && upcalls::native_exists(index)
                                        : index >= 1 && index <= ACTION_COUNT;
    if (!exists) invalid(at);
    cell* saved_top = stack::state.args_top;
    // The spec is decoded into a block of its own (a path into the native finds nothing
    // until the native is complete).
    cell* holder = stack::push_slot();
    *holder = cell{TYPE_BLOCK, 0, memory::alloc_cells(1), 0};
    const uint8_t* spec_at = p_;
    append_record(holder);
    cell* spec = stack::push_copy(slot(holder, 0));
    if (!spec->is(TYPE_BLOCK)) invalid(spec_at);
    spec->header = TYPE_BLOCK;
    spec->w1 = 0;
    cell* made = stack::push_slot();
    node_ref extras = memory::alloc_unset_cells(2);
    *made = cell{h.type, static_cast<uint32_t>(index - 1), spec->w2, extras};
    node_ref arguments = context::make_from_words(spec, true, false, context::KIND_FUNCTION);
    series_buffer* x = buffer_of(made->w3);
    *memory::alloc_tail_cell(x) = *context::context_cell(arguments);
    *memory::alloc_tail_cell(x) = cell{TYPE_NONE, 0, 0, 0};
    place(series, position, *made, h.new_line);
    if (boot_) {
        // The spec stays as a literal of its own, right after the native.
        cell* kept = block::alloc_tail_cell(series);
        *kept = *spec;
    }
    stack::state.args_top = saved_top;
}

void decoder::decode_op(const record_head& h, cell* series, int64_t position) {
    const uint8_t* at = p_;
    decode_at(series, position);
    cell* source = stack::push_copy(slot(series, position));
    type_id st = source->type();
    if (st != TYPE_NATIVE && st != TYPE_ACTION && st != TYPE_FUNCTION) invalid(at);
    if (!compact_ && ((h.header >> FIXED_SOURCE_SHIFT) & 0xFF) != st) invalid(at);
    cell spec{TYPE_BLOCK, 0, source->w2, 0};
    if (!op::check_arity(&spec)) invalid(at);
    source->header &= ~FLAG_NEW_LINE;
    const cell made = *op::push_of(source);
    place(series, position, made, h.new_line);
    stack::drop_slots(2);
}

void decoder::decode_error(const record_head& h, cell* series, int64_t position) {
    const uint8_t* at = p_;
    if (h.reference) return place_referenced_owner(h, series, position, TYPE_ERROR, at);
    uint32_t code = read_field();
    cell* saved_top = stack::state.args_top;
    cell* word = stack::push_slot();
    int32_t category = static_cast<int32_t>(code / 100);
    if (code > uint32_t(INT32_MAX) || category >= error_catalogue_objects::category_count() ||
        !error_catalogue_objects::category_word(category, word) ||
        !error_catalogue_objects::id_word(category, static_cast<int32_t>(code % 100) + 2, word)) {
        invalid(at);
    }
    cell spec{TYPE_INTEGER, 0, code, 0};
    cell type = datatype::value_of(TYPE_ERROR);
    cell* made = actions::dispatch_make(&type, &spec, TYPE_ERROR);
    place(series, position, *made, h.new_line);
    cell* values = stack::push_slot();
    *values = cell{TYPE_BLOCK, 0, context::context_cell(made->w1)->w2, 0};
    for (int f = error::FIELD_ARG1; f <= error::FIELD_STACK; ++f) decode_at(values, f);
    stack::state.args_top = saved_top;
}

// A bare context record: an object!-typed cell over a new object context.
void decoder::decode_context(const record_head& h, cell* series, int64_t position) {
    const uint8_t* at = p_;
    p_ -= compact_ ? 1 : 4;  // the type byte (or word) is the context record's own
    context_head c = read_context_head();
    if (!boot_ && (c.kind != context::KIND_OBJECT || c.on_stack)) invalid(at);
    cell* saved_top = stack::state.args_top;
    node_ref context = make_context(c, at);
    cell* object = object::push_from_context(context, -1);
    place(series, position, *object, h.new_line);
    if (c.values) decode_values(object->w1, static_cast<int32_t>(c.keys.size()));
    stack::state.args_top = saved_top;
}

}  // namespace

cell* decode(const uint8_t* data, int64_t size, cell* target) {
    bool boot = current_mode == mode::boot;
    cell* held_target = stack::push_copy(target);
    if (size >= 0 && size < HEADER_SIZE) {
        raise::throw_error(err::script_invalid_data, target);
    }
    if (std::memcmp(data, MAGIC, sizeof MAGIC) != 0) {
        if (boot) {
            std::fputs("Error: Not a Zorbin file!\n", stderr);
            platform::exit_process(1);
        }
        raise::throw_error(err::script_invalid_data, target);
    }
    uint8_t flags = data[7];
    const uint8_t* payload = data;
    int64_t payload_size = size;
    uint8_t* scratch = nullptr;
    struct scratch_release {
        uint8_t*& buffer;
        ~scratch_release() { lz::release_buffer(buffer); }
    } release{scratch};
    if (flags & FLAG_COMPRESSED) {
        int64_t out = 0;
        size_t blob = size >= 0 ? size_t(size - HEADER_SIZE) : SIZE_MAX / 2;
        scratch = lz::decompress(data + HEADER_SIZE, blob, &out);
        if (!scratch) {
            if (boot) {
                std::fputs("Error: Zorbin compressed data corrupted!\n", stderr);
                platform::exit_process(1);
            }
            raise::throw_error(err::script_invalid_data, target);
        }
        // The decompressed payload takes the header's place, so offsets stay the stream's.
        std::vector<uint8_t> whole(size_t(out) + HEADER_SIZE);
        std::memcpy(whole.data(), data, HEADER_SIZE);
        std::memcpy(whole.data() + HEADER_SIZE, scratch, size_t(out));
        decoder d(whole.data(), int64_t(whole.size()), held_target, boot, 0);
        d.read_envelope((flags & FLAG_COMPACT) != 0, true);
        d.decode_all();
        stack::drop_slots(1);
        if (boot) literal_base = buffer_of(held_target->w2)->head_cell() + d.base();
        return literal_base;
    }
    decoder d(payload, payload_size, held_target, boot, 0);
    d.read_envelope((flags & FLAG_COMPACT) != 0, size >= 0);
    d.decode_all();
    if (boot) literal_base = buffer_of(held_target->w2)->head_cell() + d.base();
    stack::drop_slots(1);
    return literal_base;
}

void load_boot_data(const uint8_t* image, int64_t size, bool keep_base) {
    cell* saved_base = literal_base;
    mode saved_mode = current_mode;
    uint32_t saved_collector = gc::enabled;
    current_mode = mode::boot;
    gc::enabled = 0;
    try {
        decode(image, size, &block::root);
    } catch (const zor_throw&) {
        std::fputs("Error: Zorbin boot image is invalid!\n", stderr);
        platform::exit_process(1);
    }
    gc::enabled = saved_collector;
    current_mode = saved_mode;
    if (keep_base) literal_base = saved_base;
}

}  // namespace zor::zorbin
