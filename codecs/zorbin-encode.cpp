// The ZORBIN encoders (compact and fixed): one recursive walk that writes a record per
// value into plain C++ buffers, tracks every series, context and object it has written
// by node so that a second meeting becomes a reference path, and assembles the header,
// the symbol table and the records into one binary! at the end.
//
// The walk holds the collector off from start to end: its table of emitted series is
// keyed by node, and naming a symbol can allocate its string form, so a collection in
// between could move a node that the table (or a buffer pointer on the C++ stack) still
// names. Nothing collected is allocated until the result binary, after the walk.
#include "codecs/zorbin.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "codecs/zorbin-format.h"
#include "platform/process.h"
#include "runtime/binding/context.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/op.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"

namespace zor::zorbin {

mode current_mode = mode::run_time;

namespace {

using namespace format;
using memory::buffer_of;
using memory::series_buffer;

// Restores the collector's flag on every exit of an encoding.
class collector_held_off {
public:
    collector_held_off() : saved_(gc::enabled) { gc::enabled = 0; }
    ~collector_held_off() { gc::enabled = saved_; }
    collector_held_off(const collector_held_off&) = delete;
    collector_held_off& operator=(const collector_held_off&) = delete;

private:
    uint32_t saved_;
};

bool is_global(node_ref context) { return context == 0 || context == context::global; }

// A 32-bit key to a 32-bit value, in one flat array with linear probing: the walk meets
// a series per string and block, a million of them in a large structure, and a node per
// entry would cost an allocation each. Key 0 marks an empty slot and is kept aside.
class flat_table {
public:
    // The value stored for the key, or -1 after storing `value` for it.
    int64_t find_or_add(uint32_t key, uint32_t value) {
        if (key == 0) {
            if (zero_stored_) return int64_t(zero_value_);
            zero_stored_ = true;
            zero_value_ = value;
            return -1;
        }
        if ((count_ + 1) * 2 > slots_.size()) grow();
        size_t mask = slots_.size() - 1;
        for (size_t at = fmix(key) & mask;; at = (at + 1) & mask) {
            slot& s = slots_[at];
            if (s.key == key) return int64_t(s.value);
            if (s.key == 0) {
                s = slot{key, value};
                ++count_;
                return -1;
            }
        }
    }

private:
    struct slot {
        uint32_t key;
        uint32_t value;
    };
    static uint32_t fmix(uint32_t h) {
        h ^= h >> 16;
        h *= 0x85EBCA6Bu;
        h ^= h >> 13;
        h *= 0xC2B2AE35u;
        return h ^ (h >> 16);
    }
    void grow() {
        std::vector<slot> old(slots_.empty() ? 256 : slots_.size() * 2, slot{0, 0});
        old.swap(slots_);
        size_t mask = slots_.size() - 1;
        for (const slot& s : old) {
            if (s.key == 0) continue;
            size_t at = fmix(s.key) & mask;
            while (slots_[at].key != 0) at = (at + 1) & mask;
            slots_[at] = s;
        }
    }

    std::vector<slot> slots_;
    size_t count_ = 0;
    bool zero_stored_ = false;
    uint32_t zero_value_ = 0;
};

// The records as they are written. Small encodings stay in the C++ heap and are copied
// into the result at the end. A large one moves, once, into the result binary itself, a
// big series that then grows in place (its OS block remapped, its bytes never copied),
// with room left in front of the records for the header and the symbol table: the
// records are written to fresh memory once and never copied again.
class byte_sink {
public:
    byte_sink() = default;
    ~byte_sink() { std::free(heap_); }
    byte_sink(const byte_sink&) = delete;
    byte_sink& operator=(const byte_sink&) = delete;

    void push(uint8_t b) {
        if (at_ == end_) grow(1);
        *at_++ = b;
    }
    // n bytes at the end, to be written by the caller.
    uint8_t* extend(size_t n) {
        if (size_t(end_ - at_) < n) grow(n);
        uint8_t* p = at_;
        at_ += n;
        return p;
    }
    size_t size() const { return size_t(at_ - begin_); }
    bool empty() const { return at_ == begin_; }
    const uint8_t* data() const { return begin_; }
    bool in_series() const { return series_.w2 != 0; }

    // The result (pushed) with the front bytes, then the strings, before the records.
    // Only once the records are in the series.
    cell* finish(const std::vector<uint8_t>& front, const std::string& strings) {
        int64_t used = int64_t(size());
        int64_t front_size = int64_t(front.size() + strings.size());
        cell* result = stack::push_copy(&series_);
        series_buffer* b = buffer_of(result->w2);
        std::byte* start = b->data() + FRONT_ROOM - front_size;
        if (front_size > FRONT_ROOM) {
            if (b->size < front_size + used) b = memory::expand_series(b, front_size + used);
            std::memmove(b->data() + front_size, b->data() + FRONT_ROOM, size_t(used));
            start = b->data();
        }
        int64_t offset = start - b->data();
        b->head = b->data();
        b->tail = start + front_size + used;
        b = memory::trim_series(b);
        start = b->data() + offset;
        std::memcpy(start, front.data(), front.size());
        if (!strings.empty()) std::memcpy(start + front.size(), strings.data(), strings.size());
        b->head = start;
        return result;
    }

private:
    // Past this the records go into the result series, a big one from the start.
    static constexpr size_t SERIES_BYTES = size_t(memory::MAX_FRAME_SIZE) * 2;
    // What the series keeps in front of the records; a front that outgrows it moves the
    // records up once at the end.
    static constexpr int64_t FRONT_ROOM = 64 * 1024;

    void grow(size_t n) {
        size_t used = size();
        size_t capacity = size_t(end_ - begin_);
        // Past the series limit the result could never be made: stop before taking more.
        if (used + n + size_t(FRONT_ROOM) > size_t(memory::MAX_SERIES_BYTES)) {
            raise::throw_error(err::internal_no_memory);
        }
        size_t wanted = std::max({capacity * 2, used + n, size_t(4096)});
        wanted = std::min(wanted, size_t(memory::MAX_SERIES_BYTES - FRONT_ROOM));
        uint8_t* grown;
        if (!in_series() && wanted < SERIES_BYTES) {
            grown = static_cast<uint8_t*>(std::realloc(heap_, wanted));
            if (!grown) raise::throw_error(err::internal_no_memory);
            heap_ = grown;
        } else {
            // The collector is held off while the walk runs: the new series needs no
            // root until then, and a big buffer never moves. The guard keeps it for the
            // time between the walk and the result.
            series_buffer* b;
            if (!in_series()) {
                series_.w2 = memory::alloc_bytes(int64_t(wanted) + FRONT_ROOM);
                series_.header = TYPE_BINARY;
                b = buffer_of(series_.w2);
                if (used) std::memcpy(b->data() + FRONT_ROOM, heap_, used);
                std::free(heap_);
                heap_ = nullptr;
            } else {
                b = memory::expand_series(buffer_of(series_.w2), int64_t(wanted) + FRONT_ROOM);
            }
            grown = reinterpret_cast<uint8_t*>(b->data() + FRONT_ROOM);
            wanted = size_t(b->size - FRONT_ROOM);
        }
        begin_ = grown;
        at_ = grown + used;
        end_ = grown + wanted;
    }

    uint8_t* heap_ = nullptr;
    uint8_t* begin_ = nullptr;
    uint8_t* at_ = nullptr;
    uint8_t* end_ = nullptr;
    cell series_{TYPE_NONE, 0, 0, 0};  // a binary! once the records move into it
    gc::root_guard series_root_{&series_};
};

class encoder {
public:
    explicit encoder(bool compact) : compact_(compact) {}

    void emit(const cell* value, uint32_t position);
    cell* assemble();

private:
    // --- Primitive writers ---------------------------------------------------------------
    void byte(uint8_t b) { records_.push(b); }
    void raw_word(uint32_t w) {
        uint8_t* at = records_.extend(4);
        at[0] = uint8_t(w);
        at[1] = uint8_t(w >> 8);
        at[2] = uint8_t(w >> 16);
        at[3] = uint8_t(w >> 24);
    }
    void varint(uint32_t v) {
        while (v >= 0x80) {
            records_.push(static_cast<uint8_t>(v | 0x80));
            v >>= 7;
        }
        records_.push(static_cast<uint8_t>(v));
    }
    // A count or index: a varint (compact) or a word (fixed).
    void field(uint32_t v) { compact_ ? varint(v) : raw_word(v); }
    // A signed value: a zigzag varint (compact) or a word (fixed).
    void signed_field(int32_t v) { compact_ ? varint(zigzag(v)) : raw_word(static_cast<uint32_t>(v)); }
    void bytes(const void* data, size_t n) {
        if (n == 0) return;
        std::memcpy(records_.extend(n), data, n);
    }
    void pad_to(size_t multiple) {
        while (records_.size() % multiple) records_.push(0);
    }

    // The compact record's front: prefixes and the type byte.
    void type_byte(const cell* v, type_id type, bool reference, bool flag) {
        if (v->header & FLAG_NEW_LINE) byte(PREFIX_NEW_LINE);
        if (reference) byte(PREFIX_REFERENCE);
        byte(static_cast<uint8_t>(type | (flag ? TYPE_BYTE_FLAG : 0)));
    }
    // The fixed record's header word.
    void header_word(const cell* v, uint32_t header) {
        if (v->header & FLAG_NEW_LINE) header |= FIXED_NEW_LINE;
        raw_word(header);
    }

    uint32_t symbol_index(int32_t symbol);

    // --- Reference tracking ----------------------------------------------------------------
    // The stored path of a key met before; or -1, after storing the current path (the
    // enclosing positions and this one) as the key's first occurrence.
    int64_t track(node_ref key, uint32_t position) {
        auto [entry, first] = emitted_.try_emplace(key, static_cast<uint32_t>(path_store_.size()));
        if (!first) return int64_t(entry->second);
        path_store_.push_back(static_cast<uint32_t>(path_.size() + 1));
        path_store_.insert(path_store_.end(), path_.begin(), path_.end());
        path_store_.push_back(position);
        return -1;
    }
    void write_path(int64_t at) {
        uint32_t count = path_store_[size_t(at)];
        field(count);
        for (uint32_t i = 1; i <= count; ++i) field(path_store_[size_t(at) + i]);
    }

    [[noreturn]] void not_serializable(type_id type) {
        cell datatype = datatype::value_of(type);
        raise::throw_error(err::access_no_codec, &datatype);
    }

    void emit_cells(const cell* first, int64_t count);
    void emit_series_reference(const cell* v, type_id type, int64_t path);
    void emit_block(const cell* v, uint32_t position);
    void emit_map(const cell* v, uint32_t position);
    void emit_units(const cell* v, uint32_t position);
    void emit_bitset(const cell* v, uint32_t position);
    void emit_float(const cell* v);
    void emit_word(const cell* v, uint32_t position);
    void emit_owner(node_ref context, uint32_t position);
    void emit_context(node_ref context);
    void emit_object(const cell* v, uint32_t position, bool tracked);
    void emit_error(const cell* v, uint32_t position);
    void emit_function(const cell* v, uint32_t position, bool tracked);
    void emit_callable(const cell* v, uint32_t position);

    bool compact_;
    byte_sink records_;
    std::vector<int32_t> symbols_;                     // symbol ids in first-use order
    flat_table symbol_at_;                             // symbol id -> index in symbols_
    std::string strings_;                              // the names, NUL-terminated
    std::vector<uint32_t> offsets_;                    // each name's offset in strings_
    std::vector<uint32_t> path_;                       // positions of the enclosing values
    // Node-based rather than flat: its nodes come from the C++ heap's pools, reused from one
    // encoding to the next, where a flat array of this size would be fresh pages each time.
    std::unordered_map<node_ref, uint32_t> emitted_;   // key -> its path in path_store_
    std::vector<uint32_t> path_store_;                 // count, then positions, per path
};

uint32_t encoder::symbol_index(int32_t symbol) {
    uint32_t index = static_cast<uint32_t>(symbols_.size());
    int64_t found = symbol_at_.find_or_add(static_cast<uint32_t>(symbol), index);
    if (found >= 0) return static_cast<uint32_t>(found);
    symbols_.push_back(symbol);
    offsets_.push_back(static_cast<uint32_t>(strings_.size()));
    std::string_view name = symbol::name_of(symbol);
    strings_.append(name.data(), name.size());
    strings_.push_back('\0');
    if (!compact_) {
        while (strings_.size() % 8) strings_.push_back('\0');
    }
    return index;
}

void encoder::emit_cells(const cell* first, int64_t count) {
    // Nothing allocates collected memory during the walk, so the buffer stays in place.
    for (int64_t i = 0; i < count; ++i) emit(first + i, static_cast<uint32_t>(i));
}

void encoder::emit_series_reference(const cell* v, type_id type, int64_t path) {
    bool has_head = v->w1 != 0 && type != TYPE_BITSET && type != TYPE_MAP;
    if (compact_) {
        bool flag = has_head || (type == TYPE_BITSET && (buffer_of(v->w2)->flags & memory::FLAG_COMPLEMENT));
        type_byte(v, type, true, flag);
        if (has_head) varint(v->w1);
    } else {
        uint32_t header = type | FIXED_REFERENCE;
        if (type == TYPE_BITSET && (buffer_of(v->w2)->flags & memory::FLAG_COMPLEMENT)) header |= FIXED_COMPLEMENT;
        if (string::is_any_string(type) || type == TYPE_BINARY || type == TYPE_VECTOR) {
            header |= buffer_of(v->w2)->unit() << FIXED_SMALL_SHIFT;
        }
        header_word(v, header);
        if (type != TYPE_BITSET && type != TYPE_MAP) raw_word(v->w1);
    }
    write_path(path);
}

void encoder::emit_block(const cell* v, uint32_t position) {
    type_id type = v->type();
    int64_t path = track(v->w2, position);
    if (path >= 0) return emit_series_reference(v, type, path);
    series_buffer* b = buffer_of(v->w2);
    int64_t count = b->length();
    if (compact_) {
        type_byte(v, type, false, v->w1 != 0);
        if (v->w1 != 0) varint(v->w1);
    } else {
        header_word(v, type);
        raw_word(v->w1);
    }
    field(static_cast<uint32_t>(count));
    path_.push_back(position);
    emit_cells(b->head_cell(), count);
    path_.pop_back();
}

void encoder::emit_map(const cell* v, uint32_t position) {
    int64_t path = track(v->w2, position);
    if (path >= 0) return emit_series_reference(v, TYPE_MAP, path);
    series_buffer* b = buffer_of(v->w2);
    const cell* pairs = b->head_cell();
    int64_t cells = b->length() & ~int64_t(1);
    // Removed pairs (value header 0) are left out, so positions count written pairs.
    int64_t live = 0;
    for (int64_t i = 0; i < cells; i += 2) live += pairs[i + 1].header != 0;
    if (compact_) type_byte(v, TYPE_MAP, false, false);
    else header_word(v, TYPE_MAP);
    field(static_cast<uint32_t>(live * 2));
    path_.push_back(position);
    uint32_t at = 0;
    for (int64_t i = 0; i < cells; i += 2) {
        if (pairs[i + 1].header == 0) continue;
        emit(pairs + i, at++);
        emit(pairs + i + 1, at++);
    }
    path_.pop_back();
}

// string!, file!, url!, tag!, email!, ref!, binary! and vector!: units of raw data.
void encoder::emit_units(const cell* v, uint32_t position) {
    type_id type = v->type();
    int64_t path = track(v->w2, position);
    if (path >= 0) return emit_series_reference(v, type, path);
    series_buffer* b = buffer_of(v->w2);
    uint32_t width = b->unit();
    int64_t units = b->length();
    size_t data_bytes = size_t(units) * width;
    if (compact_) {
        type_byte(v, type, false, v->w1 != 0);
        if (v->w1 != 0) varint(v->w1);
        if (type == TYPE_BINARY) {
            varint(static_cast<uint32_t>(units));
        } else if (type == TYPE_VECTOR) {
            byte(static_cast<uint8_t>(unit_code(width) | (v->w3 << 2)));
            varint(static_cast<uint32_t>(units));
        } else {
            varint(static_cast<uint32_t>(units << 2) | unit_code(width));
        }
        bytes(b->head, data_bytes);
    } else {
        header_word(v, type | (width << FIXED_SMALL_SHIFT));
        raw_word(v->w1);
        raw_word(static_cast<uint32_t>(units));
        if (type == TYPE_VECTOR) raw_word(v->w3);
        bytes(b->head, data_bytes);
        pad_to(4);
    }
}

void encoder::emit_bitset(const cell* v, uint32_t position) {
    int64_t path = track(v->w2, position);
    if (path >= 0) return emit_series_reference(v, TYPE_BITSET, path);
    series_buffer* b = buffer_of(v->w2);
    bool complemented = (b->flags & memory::FLAG_COMPLEMENT) != 0;
    int64_t count = b->tail - b->head;
    if (compact_) {
        type_byte(v, TYPE_BITSET, false, complemented);
        varint(static_cast<uint32_t>(count));
        bytes(b->head, size_t(count));
    } else {
        header_word(v, TYPE_BITSET | (complemented ? FIXED_COMPLEMENT : 0));
        raw_word(static_cast<uint32_t>(count));
        bytes(b->head, size_t(count));
        pad_to(4);
    }
}

// float!, percent!, time!.
void encoder::emit_float(const cell* v) {
    type_id type = v->type();
    if (compact_) {
        double d = float_::get(v);
        bool negative_zero = d == 0.0 && std::signbit(d);
        if (!negative_zero && type != TYPE_PERCENT && d >= -2147483000.0 && d <= 2147483000.0 && d == std::trunc(d)) {
            type_byte(v, type, false, true);
            varint(zigzag(static_cast<int32_t>(d)));
            return;
        }
        if (!negative_zero && type == TYPE_PERCENT && d >= -21474836.0 && d <= 21474836.0) {
            double hundredths = std::round(d * 100.0);  // halves away from zero
            if (hundredths / 100.0 == d) {
                type_byte(v, type, false, true);
                varint(zigzag(static_cast<int32_t>(hundredths)));
                return;
            }
        }
        type_byte(v, type, false, false);
        raw_word(v->w2);
        raw_word(v->w3);
    } else {
        while (records_.size() % 8) raw_word(0);
        header_word(v, type);
        raw_word(v->w3);
        raw_word(v->w2);
    }
}

// A word's owner, written right after the word: the object or function whose context it
// is, as a full record whose children continue the word's path.
void encoder::emit_owner(node_ref context, uint32_t position) {
    cell owner = *context::self_cell(context);
    path_.push_back(position);
    if (owner.is(TYPE_OBJECT) && owner.w1 == context) emit_object(&owner, position, false);
    else if (owner.is(TYPE_FUNCTION) && owner.w1 == context) emit_function(&owner, position, false);
    else {
        path_.pop_back();
        not_serializable(owner.is(TYPE_UNSET) ? TYPE_CONTEXT : owner.type());
    }
    path_.pop_back();
}

void encoder::emit_word(const cell* v, uint32_t position) {
    type_id type = v->type();
    uint32_t symbol = symbol_index(static_cast<int32_t>(v->w2));
    if (type == TYPE_ISSUE || is_global(v->w1)) {
        if (compact_) {
            type_byte(v, type, false, false);
            varint(symbol);
        } else {
            header_word(v, type | (type == TYPE_ISSUE ? 0 : FIXED_WORD_BINDING));
            raw_word(symbol);
            if (type != TYPE_ISSUE) raw_word(v->w3);
        }
        return;
    }
    int64_t path = track(v->w1, position);
    if (compact_) {
        type_byte(v, type, path >= 0, true);
        varint(symbol);
        varint(zigzag(static_cast<int32_t>(v->w3)));
    } else {
        header_word(v, type | (path >= 0 ? FIXED_REFERENCE : 0));
        raw_word(symbol);
        raw_word(v->w3);
    }
    if (path >= 0) return write_path(path);
    emit_owner(v->w1, position);
}

void encoder::emit_context(node_ref context) {
    const cell* record = context::context_cell(context);
    uint32_t kind = context::kind_of(context);
    bool on_stack = context::values_on_stack(context);
    bool self = (record->header & context::FLAG_SELF) != 0;
    int32_t keys = context::key_count(context);
    bool values = false;
    if (!on_stack) {
        for (int32_t i = 0; i < keys && !values; ++i) {
            const cell* value = context::value_at(context, i);
            values = value && !value->is(TYPE_UNSET);
        }
    }
    if (compact_) {
        byte(TYPE_CONTEXT);
        byte(static_cast<uint8_t>(kind | (on_stack ? CONTEXT_ON_STACK : 0) | (self ? CONTEXT_SELF : 0) |
                                  (values ? CONTEXT_VALUES : 0)));
    } else {
        raw_word(TYPE_CONTEXT | (kind << FIXED_CONTEXT_KIND_SHIFT) | (on_stack ? FIXED_CONTEXT_ON_STACK : 0) |
                 (self ? FIXED_CONTEXT_SELF : 0) | (values ? FIXED_CONTEXT_VALUES : 0));
    }
    field(static_cast<uint32_t>(keys));
    for (int32_t i = 0; i < keys; ++i) field(symbol_index(static_cast<int32_t>(context::word_at(context, i)->w2)));
    if (!values) return;
    for (int32_t i = 0; i < keys; ++i) {
        const cell* value = context::value_at(context, i);
        cell unset{TYPE_UNSET, 0, 0, 0};
        emit(value ? value : &unset, static_cast<uint32_t>(i));
    }
}

// The index of a change handler's field, in the change node's word layout.
int32_t handler_word(node_ref context, int32_t wanted) {
    int32_t keys = context::key_count(context);
    for (int32_t i = 0; i < keys; ++i) {
        int32_t symbol = static_cast<int32_t>(context::word_at(context, i)->w2);
        if (symbol::canonical_id(symbol) == symbol::canonical_id(wanted)) return i << 16;
    }
    return -1;
}

// object!: the path stack already holds the object's position when `tracked` is false
// (the owner record of a word); otherwise it is pushed here.
void encoder::emit_object(const cell* v, uint32_t position, bool tracked) {
    if (tracked) {
        int64_t path = track(v->w1, position);
        if (path >= 0) {
            if (compact_) type_byte(v, TYPE_OBJECT, true, false);
            else header_word(v, TYPE_OBJECT | FIXED_REFERENCE);
            return write_path(path);
        }
        path_.push_back(position);
    }
    bool change = v->w3 != 0;
    if (compact_) type_byte(v, TYPE_OBJECT, false, change);
    else header_word(v, TYPE_OBJECT | (change ? FIXED_CHANGE_NODE : 0));
    signed_field(static_cast<int32_t>(v->w2));
    if (change) {
        signed_field(handler_word(v->w1, words::on_change_star.symbol()));
        signed_field(handler_word(v->w1, words::on_deep_change_star.symbol()));
    }
    if (compact_) {
        varint(0);
        varint(0);
    }
    emit_context(v->w1);
    if (tracked) path_.pop_back();
}

void encoder::emit_error(const cell* v, uint32_t position) {
    int64_t path = track(v->w1, position);
    if (path >= 0) {
        if (compact_) type_byte(v, TYPE_ERROR, true, false);
        else header_word(v, TYPE_ERROR | FIXED_REFERENCE);
        return write_path(path);
    }
    if (compact_) type_byte(v, TYPE_ERROR, false, false);
    else header_word(v, TYPE_ERROR);
    field(static_cast<uint32_t>(error::code_of(v)));
    path_.push_back(position);
    for (int f = error::FIELD_ARG1; f <= error::FIELD_STACK; ++f) {
        const cell* value = error::field_of(v, static_cast<error::field>(f));
        cell none{TYPE_NONE, 0, 0, 0};
        emit(value ? value : &none, static_cast<uint32_t>(f - error::FIELD_ARG1));
    }
    path_.pop_back();
}

void encoder::emit_function(const cell* v, uint32_t position, bool tracked) {
    const cell* body = function::extras_cell(v, function::EXTRAS_BODY);
    if (!body || !body->is(TYPE_BLOCK)) not_serializable(TYPE_FUNCTION);  // a compiled body
    if (tracked) {
        int64_t path = track(v->w1, position);
        if (path >= 0) {
            if (compact_) type_byte(v, TYPE_FUNCTION, true, false);
            else header_word(v, TYPE_FUNCTION | FIXED_REFERENCE);
            return write_path(path);
        }
        path_.push_back(position);
    }
    cell spec{TYPE_BLOCK, 0, v->w2, 0};
    cell body_block = *body;
    if (compact_) type_byte(v, TYPE_FUNCTION, false, false);
    else header_word(v, TYPE_FUNCTION);
    field(static_cast<uint32_t>(buffer_of(spec.w2)->length()));
    field(static_cast<uint32_t>(buffer_of(body_block.w2)->length()));
    emit_context(v->w1);
    body_block.header = TYPE_BLOCK;  // new-line flags of the body cell are not the function's
    emit(&spec, 0);
    emit(&body_block, 1);
    if (tracked) path_.pop_back();
}

// native! and action!: the entry's index, then the spec block, whose path is the
// callable's own (the decoder's walk of a native leads into its spec).
void encoder::emit_callable(const cell* v, uint32_t position) {
    if (compact_) type_byte(v, v->type(), false, false);
    else header_word(v, v->type());
    field(v->w1 + 1);
    cell spec{TYPE_BLOCK, 0, v->w2, 0};
    emit(&spec, position);
}

void encoder::emit(const cell* v, uint32_t position) {
    if (platform::native_stack_low()) raise::throw_error(err::internal_stack_overflow);
    type_id type = v->type();
    switch (type) {
        case TYPE_UNSET: case TYPE_NONE:
            if (compact_) type_byte(v, type, false, false);
            else header_word(v, type);
            return;
        case TYPE_LOGIC:
            if (compact_) {
                if (v->header & FLAG_NEW_LINE) byte(PREFIX_NEW_LINE);
                byte(v->w1 == 1 ? LEAD_TRUE : LEAD_FALSE);
            } else {
                header_word(v, type);
                raw_word(v->w1 == 1);
            }
            return;
        case TYPE_DATATYPE:
            if (compact_) type_byte(v, type, false, false);
            else header_word(v, type);
            field(v->w1);
            return;
        case TYPE_CHAR:
            if (compact_) type_byte(v, type, false, false);
            else header_word(v, type);
            field(v->w2);
            return;
        case TYPE_INTEGER: {
            int32_t n = static_cast<int32_t>(v->w2);
            if (compact_ && n >= 0 && n <= 63) {
                if (v->header & FLAG_NEW_LINE) byte(PREFIX_NEW_LINE);
                byte(static_cast<uint8_t>(LEAD_SHORT_INTEGER + n));
                return;
            }
            if (compact_) type_byte(v, type, false, false);
            else header_word(v, type);
            signed_field(n);
            return;
        }
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: return emit_float(v);
        case TYPE_PAIR:
            if (compact_) type_byte(v, type, false, false);
            else header_word(v, type);
            signed_field(static_cast<int32_t>(v->w2));
            signed_field(static_cast<int32_t>(v->w3));
            return;
        case TYPE_POINT2D: case TYPE_POINT3D:
            if (compact_) type_byte(v, type, false, false);
            else header_word(v, type);
            raw_word(v->w1);
            raw_word(v->w2);
            if (type == TYPE_POINT3D) raw_word(v->w3);
            return;
        case TYPE_DATE: {
            bool timed = (v->w1 & 0x10000) != 0;
            if (compact_) {
                type_byte(v, type, false, timed);
                raw_word(v->w1);
                if (timed) {
                    raw_word(v->w2);
                    raw_word(v->w3);
                }
            } else {
                header_word(v, type);
                raw_word(v->w1);
                raw_word(v->w3);
                raw_word(v->w2);
            }
            return;
        }
        case TYPE_TYPESET: case TYPE_TUPLE: case TYPE_MONEY: {
            uint8_t payload[12];
            std::memcpy(payload, &v->w1, 4);
            std::memcpy(payload + 4, &v->w2, 4);
            std::memcpy(payload + 8, &v->w3, 4);
            if (!compact_) {
                uint32_t header = type;
                if (type == TYPE_TUPLE) header |= uint32_t(tuple::length_of(v)) << FIXED_SMALL_SHIFT;
                if (type == TYPE_MONEY && money::is_negative_bit(v)) header |= FIXED_MONEY_SIGN;
                header_word(v, header);
                raw_word(v->w1);
                raw_word(v->w2);
                raw_word(v->w3);
                return;
            }
            if (type == TYPE_TYPESET) {
                int n = 12;
                while (n > 0 && payload[n - 1] == 0) --n;
                type_byte(v, type, false, false);
                byte(static_cast<uint8_t>(n));
                bytes(payload, size_t(n));
            } else if (type == TYPE_TUPLE) {
                int length = tuple::length_of(v);
                type_byte(v, type, false, length != 3);
                if (length != 3) byte(static_cast<uint8_t>(length));
                bytes(payload, size_t(length));
            } else {
                type_byte(v, type, false, money::is_negative_bit(v));
                bytes(payload, 12);
            }
            return;
        }
        case TYPE_ISSUE: case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        case TYPE_REFINEMENT:
            return emit_word(v, position);
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_HASH:
            return emit_block(v, position);
        case TYPE_MAP: return emit_map(v, position);
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
        case TYPE_BINARY: case TYPE_VECTOR:
            return emit_units(v, position);
        case TYPE_BITSET: return emit_bitset(v, position);
        case TYPE_CONTEXT: {
            // A bare context cell: its keys and values continue the cell's path.
            path_.push_back(position);
            emit_context(v->w1);
            path_.pop_back();
            return;
        }
        case TYPE_OBJECT: return emit_object(v, position, true);
        case TYPE_ERROR: return emit_error(v, position);
        case TYPE_FUNCTION: return emit_function(v, position, true);
        case TYPE_NATIVE: case TYPE_ACTION: return emit_callable(v, position);
        case TYPE_OP: {
            type_id source_type = op::source_type(v);
            cell source{source_type, v->w1, v->w2, v->w3};
            if (source_type == TYPE_FUNCTION) {
                const cell* original = function::extras_cell(v, function::EXTRAS_OP_SOURCE);
                if (original && original->is(TYPE_FUNCTION)) source = *original;
            } else if (source_type != TYPE_NATIVE && source_type != TYPE_ACTION) {
                not_serializable(source_type);
            }
            source.header &= ~FLAG_NEW_LINE;
            if (compact_) type_byte(v, type, false, false);
            else header_word(v, type | (uint32_t(source_type) << FIXED_SOURCE_SHIFT));
            return emit(&source, position);
        }
        default: not_serializable(type);
    }
}

cell* encoder::assemble() {
    bool symbols = !symbols_.empty();
    std::vector<uint8_t> front;
    auto put_word = [&front](uint32_t w) {
        for (int shift = 0; shift < 32; shift += 8) front.push_back(uint8_t(w >> shift));
    };
    auto put_varint = [&front](uint32_t v) {
        while (v >= 0x80) {
            front.push_back(static_cast<uint8_t>(v | 0x80));
            v >>= 7;
        }
        front.push_back(static_cast<uint8_t>(v));
    };
    auto put_field = [&](uint32_t v) { compact_ ? put_varint(v) : put_word(v); };
    for (char c : MAGIC) front.push_back(static_cast<uint8_t>(c));
    front.push_back(VERSION);
    front.push_back(static_cast<uint8_t>((compact_ ? FLAG_COMPACT : 0) | (symbols ? FLAG_SYMBOLS : 0)));
    int64_t total = int64_t(records_.size()) + int64_t(strings_.size()) + 4 * int64_t(offsets_.size()) + 40;
    if (total > memory::MAX_SERIES_BYTES) raise::throw_error(err::internal_no_memory);
    put_field(1);
    put_field(static_cast<uint32_t>(records_.size()));
    if (symbols) {
        put_field(static_cast<uint32_t>(symbols_.size()));
        put_field(static_cast<uint32_t>(strings_.size()));
        for (uint32_t offset : offsets_) put_word(offset);
    }
    if (records_.in_series()) return records_.finish(front, strings_);
    // The result is the first collected allocation, made with the collector's own flag.
    cell* result = binary::make_at(stack::push_slot(), total);
    series_buffer* b = buffer_of(result->w2);
    std::byte* at = b->head;
    std::memcpy(at, front.data(), front.size());
    at += front.size();
    if (symbols) {
        std::memcpy(at, strings_.data(), strings_.size());
        at += strings_.size();
    }
    if (!records_.empty()) std::memcpy(at, records_.data(), records_.size());
    at += records_.size();
    b->tail = at;
    return result;
}

cell* encode(const cell* value, bool compact) {
    cell held = *value;
    gc::root_guard root(&held);
    current_mode = mode::run_time;
    encoder e(compact);
    {
        collector_held_off off;
        e.emit(&held, 0);
    }
    return e.assemble();
}

}  // namespace

cell* encode_compact(const cell* value) { return encode(value, true); }
cell* encode_fixed(const cell* value) { return encode(value, false); }

}  // namespace zor::zorbin
