// series!: the navigation and plain modifying actions that every series type inherits.
// They move raw units of the buffer's width; the element kind only matters where a unit
// becomes a value (pick, take, random/only) or a value becomes a unit (poke).
#include "runtime/datatypes/series.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <vector>

#include "platform/fatal.h"
#include "platform/random.h"
#include "runtime/value/action-signatures.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/owner-track.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/binding/word-table.h"
#include "runtime/value/type-classes.h"
#include "runtime/value/upcalls.h"

namespace zor::series {

using memory::series_buffer;

namespace {

series_buffer* buffer_of(const cell* s) { return memory::buffer_of(s->w2); }

// A series value without a buffer cannot be walked: refuse it rather than read node 0.
void require_buffer(const cell* s) {
    if (s->w2 == 0 || !memory::buffer_of(s->w2)) raise::throw_error(err::script_invalid_arg, s);
}

int64_t unit_of(const cell* s) { return buffer_of(s)->unit(); }

std::byte* unit_address(const cell* s, int64_t position) { return buffer_of(s)->head + position * unit_of(s); }

// The index with a negative one counted as 0 (it may still lie past the tail).
int64_t raw_index(const cell* s) { return std::max<int64_t>(index_of(s), 0); }

int32_t to_int32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

[[noreturn]] void out_of_range(int64_t value) {
    cell* slot = integer::make_in(stack::push_slot(), to_int32(value));
    raise::throw_error(err::script_out_of_range, slot);
}

[[noreturn]] void invalid_arg(const cell* value) {
    cell* slot = stack::push_copy(value);
    raise::throw_error(err::script_invalid_arg, slot);
}

// --- Vector elements: little-endian numbers of the buffer's width -------------------------------

int64_t read_signed(const std::byte* at, uint32_t width) {
    switch (width) {
        case 1: return static_cast<int8_t>(*at);
        case 2: {
            int16_t v;
            std::memcpy(&v, at, 2);
            return v;
        }
        case 4: {
            int32_t v;
            std::memcpy(&v, at, 4);
            return v;
        }
        default: platform::quit_with_error(platform::RUNTIME_ERROR_NO_SWITCH, 0);
    }
}

double read_float(const std::byte* at, uint32_t width) {
    if (width == 4) {
        float f;
        std::memcpy(&f, at, 4);
        return double(f);
    }
    if (width == 8) {
        double d;
        std::memcpy(&d, at, 8);
        return d;
    }
    platform::quit_with_error(platform::RUNTIME_ERROR_NO_SWITCH, 0);
}

cell* push_vector_element(const std::byte* at, uint32_t width, uint32_t element_type) {
    cell* slot = stack::push_slot();
    cell::init_unset(slot);
    switch (element_type) {
        case TYPE_CHAR: {
            // Code points are never negative: a char element is read without its sign.
            int64_t v = read_signed(at, width);
            uint32_t mask = width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
            *slot = cell{TYPE_CHAR, 0, static_cast<uint32_t>(v) & mask, 0};
            break;
        }
        case TYPE_INTEGER: integer::make_in(slot, static_cast<int32_t>(read_signed(at, width))); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            float_::store(slot, read_float(at, width));
            slot->header = element_type;
            break;
        default: platform::quit_with_error(platform::RUNTIME_ERROR_NO_SWITCH, 0);
    }
    return slot;
}

void store_vector_element(std::byte* at, uint32_t width, const cell* value) {
    switch (value->type()) {
        case TYPE_CHAR:
        case TYPE_INTEGER: {
            uint32_t v = value->w2;
            std::memcpy(at, &v, std::min<uint32_t>(width, 4));
            break;
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double d = float_::get(value);
            if (width == 8) {
                std::memcpy(at, &d, 8);
            } else {
                float f = float_::to_single(d);
                std::memcpy(at, &f, 4);
            }
            break;
        }
        default: {
            cell* type = datatype::make_in(stack::push_slot(), value->type());
            raise::throw_error(err::script_invalid_type, type);
        }
    }
}

// --- Ownership report words ---------------------------------------------------------------------

// The action words of the reports. "remove" and "insert" are predefined as symbols only,
// so their reports carry an unbound word of the symbol.
struct report_entry {
    predefined_cell* word;
    int32_t* symbol;
};

const report_entry report_words[] = {
    {&words::change, nullptr},    {&words::changed, nullptr},  {&words::clear, nullptr},
    {&words::cleared, nullptr},   {&words::append, nullptr},   {&words::appended, nullptr},
    {nullptr, &symbols::insert},  {&words::inserted, nullptr}, {&words::move, nullptr},
    {&words::moved, nullptr},     {&words::poke, nullptr},     {&words::poked, nullptr},
    {&words::put, nullptr},       {&words::put_ed, nullptr},   {nullptr, &symbols::remove},
    {&words::removed, nullptr},   {&words::random, nullptr},   {&words::randomized, nullptr},
    {&words::reverse, nullptr},   {&words::reversed, nullptr}, {&words::sort, nullptr},
    {&words::sorted, nullptr},    {&words::swap, nullptr},     {&words::swaped, nullptr},
    {&words::take, nullptr},      {&words::taken, nullptr},    {&words::trim, nullptr},
    {&words::trimmed, nullptr},
};
static_assert(sizeof report_words / sizeof report_words[0] == TRIMMED + 1, "one report word per change");

bool may_be_owned(const cell* s) {
    // An owned series carries the owned flag on its buffer (image!: in its cell), so a
    // series without it has no record to look up.
    if (s->is(TYPE_IMAGE)) return (s->header & 0x10000) != 0;
    if (s->w2 == 0) return false;
    series_buffer* b = memory::buffer_of(s->w2);
    return b && (b->flags & memory::FLAG_OWNED);
}

// The bounds check shared by pick and poke: the unit position of a 1-based position n
// counted from the index, or -1 when it falls outside the series.
int64_t pick_position(const cell* s, int n) {
    if (n == 0) return -1;
    int64_t p = index_of(s) + int64_t(n) - (n > 0 ? 1 : 0);
    if (p < 0 || p >= total_length(s)) return -1;
    return p;
}

bool is_hash(const cell* s) { return s->is(TYPE_HASH); }

// Copies every byte of the buffer's flags that a new series of the same kind keeps: the
// unit width and the flags of its content, not those of ownership or of its storage.
uint32_t kept_flags(uint32_t flags) {
    return flags & ~(memory::FLAG_OWNED | memory::FLAG_BIG | memory::FLAG_HEAP | memory::FLAG_MID_HEAD |
                     memory::FLAG_PINNED | memory::FLAG_MARK);
}

}  // namespace

// --- Kinds --------------------------------------------------------------------------------------------

element_kind kind_of(type_id type) {
    if (type_classes::is(type, type_classes::ANY_BLOCK)) return ELEMENTS_CELLS;
    if (type_classes::is(type, type_classes::ANY_STRING)) return ELEMENTS_TEXT;
    switch (type) {
        case TYPE_MAP: return ELEMENTS_CELLS;
        case TYPE_BINARY: return ELEMENTS_BINARY;
        case TYPE_VECTOR: return ELEMENTS_VECTOR;
        default: return ELEMENTS_OTHER;
    }
}

bool is_block_like(type_id type) { return type_classes::is(type, type_classes::ANY_BLOCK); }

bool is_series_type(type_id type) { return type_classes::is(type, type_classes::SERIES); }

// --- Shared routines ----------------------------------------------------------------------------------

int64_t total_length(const cell* s) {
    series_buffer* b = buffer_of(s);
    return (b->tail - b->head) / int64_t(b->unit());
}

bool is_at_tail(const cell* s) {
    series_buffer* b = buffer_of(s);
    return b->head + int64_t(index_of(s)) * int64_t(b->unit()) >= b->tail;
}

bool advance(cell* s, int64_t n) {
    int64_t length = total_length(s);
    int64_t reached = int64_t(index_of(s)) + n;
    if (reached <= length && reached >= 0) s->w1 = static_cast<uint32_t>(reached);
    return reached >= length;
}

int64_t get_length(cell* s, bool from_head) {
    int64_t length = total_length(s);
    if (from_head) return length;
    int64_t index = raw_index(s);
    if (index > length) {
        s->w1 = static_cast<uint32_t>(length);
        return 0;
    }
    return length - index;
}

int64_t clamped_index(const cell* s) { return std::clamp<int64_t>(index_of(s), 0, total_length(s)); }

int64_t at_skip_index(const cell* s, const cell* offset, bool at) {
    if (!offset->is(TYPE_INTEGER)) invalid_arg(offset);
    int64_t n = integer::read_cell(offset);
    int64_t target = int64_t(index_of(s)) + n - (at && n >= 1 ? 1 : 0);
    return std::clamp<int64_t>(target, 0, total_length(s));
}

void invalid_refine_arg(refinement_name name, const cell* argument) {
    predefined_cell* word = name == REFINEMENT_PART   ? &refinements::part
                            : name == REFINEMENT_SKIP ? &refinements::skip
                                                      : &refinements::compare;
    cell* argument_slot = stack::push_copy(argument);
    cell* word_slot = stack::push_slot();
    if (word->root_index >= 0) {
        *word_slot = *word->get();
    } else {
        *word_slot = none::value;
    }
    raise::throw_error(err::script_invalid_refine_arg, word_slot, argument_slot);
}

int64_t part_count(const cell* s, const cell* part) {
    if (part->is(TYPE_INTEGER)) return integer::read_cell(part);
    if (part->type() == s->type() && part->w2 == s->w2) return int64_t(index_of(part)) - int64_t(index_of(s));
    invalid_refine_arg(REFINEMENT_PART, part);
}

sort_request sort_refinements(const cell* series, int64_t index, int64_t length, const cell* skip,
                              const cell* comparator, const cell* part, bool all) {
    sort_request r{index, length - index, 1, 0, nullptr};
    if (part) {
        int64_t n = part_count(series, part);
        if (n < 0) {
            // The units before the index; none when that passes the head.
            r.start = std::max<int64_t>(index + n, 0);
            r.count = index + n < 0 ? 0 : -n;
        } else {
            r.count = std::min(n, r.count);
        }
    }
    if (skip) {
        if (!skip->is(TYPE_INTEGER)) invalid_refine_arg(REFINEMENT_SKIP, skip);
        r.size = integer::read_cell(skip);
        if (r.size < 1 || (r.count > 0 && (r.size > r.count || r.count % r.size != 0))) {
            invalid_refine_arg(REFINEMENT_SKIP, skip);
        }
    }
    if (all && !skip) raise::throw_error(err::script_bad_refines);
    if (comparator) {
        if (comparator->is(TYPE_FUNCTION)) {
            upcalls::installed(upcalls::call_comparator);
            r.function = stack::push_copy(comparator);
        } else if (comparator->is(TYPE_INTEGER)) {
            if (!skip || all) raise::throw_error(err::script_bad_refines);
            r.offset = integer::read_cell(comparator);
            if (r.offset < 1 || r.offset > r.size) {
                raise::throw_error(err::script_out_of_range, stack::push_copy(comparator));
            }
            --r.offset;
        } else {
            invalid_refine_arg(REFINEMENT_COMPARE, comparator);
        }
    }
    return r;
}

// --- Ownership reports --------------------------------------------------------------------------------

bool notify(cell* s, change_word word, const cell* value, int64_t index, int64_t part) {
    if (!may_be_owned(s)) return false;
    const report_entry& entry = report_words[word];
    int pushed = 0;
    cell* word_slot = nullptr;
    if (entry.word && entry.word->root_index >= 0) {
        word_slot = stack::push_copy(entry.word->get());
        ++pushed;
    } else if (entry.symbol && *entry.symbol > 0) {
        word_slot = stack::push_slot();
        *word_slot = cell{TYPE_WORD, 0, static_cast<uint32_t>(*entry.symbol), word::INDEX_UNRESOLVED};
        ++pushed;
    }
    cell* value_slot = nullptr;
    if (value) {
        value_slot = stack::push_copy(value);
        ++pushed;
    }
    bool owned = owner_track::notify_change(s, word_slot, value_slot, to_int32(index), to_int32(part));
    stack::drop_slots(pushed);
    return owned;
}

// --- The hash! index ----------------------------------------------------------------------------------

namespace hash_index {

void (*delete_range)(node_ref, int64_t, int64_t) = nullptr;
bool (*shift_indexes)(node_ref, int64_t, int64_t, int64_t, bool) = nullptr;
void (*rebuild)(node_ref, int64_t) = nullptr;
void (*move_entries)(node_ref, int64_t, int64_t, int64_t) = nullptr;

namespace {
template <typename F> F installed(F f) {
    if (!f) raise::throw_error(err::internal_not_done);
    return f;
}
}  // namespace

void call_delete_range(node_ref table, int64_t position, int64_t count) {
    installed(delete_range)(table, position, count);
}
bool call_shift_indexes(node_ref table, int64_t delta, int64_t from, int64_t count, bool shift_index) {
    return installed(shift_indexes)(table, delta, from, count, shift_index);
}
void call_rebuild(node_ref table, int64_t request) { installed(rebuild)(table, request); }
void call_move_entries(node_ref table, int64_t to, int64_t from, int64_t count) {
    installed(move_entries)(table, to, from, count);
}

void reenter_cell(cell* hash, int64_t position) {
    hashtable::delete_cell(hash->w3, buffer_of(hash)->head_cell() + position);
    enter_cell(hash, position);
}

int enter_cell(cell* hash, int64_t position) {
    int32_t status = 0;
    hashtable::put_with_status(hash->w3, buffer_of(hash)->head_cell() + position, &status);
    return status;
}

}  // namespace hash_index

// --- Elements -----------------------------------------------------------------------------------------

cell* push_element(const cell* s, int64_t position) {
    std::byte* at = unit_address(s, position);
    switch (kind_of(s->type())) {
        case ELEMENTS_CELLS: return stack::push_copy(reinterpret_cast<cell*>(at));
        case ELEMENTS_BINARY: return integer::make_in(stack::push_slot(), static_cast<uint8_t>(*at));
        case ELEMENTS_VECTOR:
            return push_vector_element(at, static_cast<uint32_t>(unit_of(s)), s->w3);
        case ELEMENTS_OTHER: invalid_arg(s);
        case ELEMENTS_TEXT: break;
    }
    uint32_t code = string::read_unit(at, static_cast<uint32_t>(unit_of(s)));
    cell* slot = stack::push_slot();
    *slot = cell{TYPE_CHAR, 0, code, 0};
    return slot;
}

cell* copy_range(cell* s, cell* result, int64_t start, int64_t count) {
    uint32_t header = (s->header & FLAG_NEW_LINE) | s->type();
    uint32_t extra = s->is(TYPE_VECTOR) ? s->w3 : 0;
    int64_t unit = unit_of(s);
    if (result != s) cell::init_unset(result);
    // A new buffer of at least one unit, so that it can grow by doubling later.
    node_ref node = memory::alloc_series(std::max<int64_t>(count, 1), static_cast<uint32_t>(unit), 0);
    series_buffer* source = buffer_of(s);
    series_buffer* copy = memory::buffer_of(node);
    copy->flags = kept_flags(source->flags) | (copy->flags & memory::FLAG_BIG);
    std::memcpy(copy->head, source->head + start * unit, static_cast<size_t>(count * unit));
    copy->tail = copy->head + count * unit;
    result->w1 = 0;
    result->w2 = node;
    result->w3 = extra;
    result->header = header;
    return result;
}

void remove_range(cell* s, int64_t start, int64_t count) {
    series_buffer* b = buffer_of(s);
    int64_t unit = b->unit();
    int64_t length = (b->tail - b->head) / unit;
    start = std::clamp<int64_t>(start, 0, length);
    count = std::clamp<int64_t>(count, 0, length - start);
    if (count == 0) return;
    std::byte* from = b->head + (start + count) * unit;
    std::memmove(b->head + start * unit, from, static_cast<size_t>(b->tail - from));
    b->tail -= count * unit;
}

// --- Navigation ------------------------------------------------------------------------------------------

cell* at() {
    cell* s = stack::argument(0);
    require_buffer(s);
    s->w1 = static_cast<uint32_t>(at_skip_index(s, stack::argument(1), true));
    return s;
}

cell* skip() {
    cell* s = stack::argument(0);
    require_buffer(s);
    s->w1 = static_cast<uint32_t>(at_skip_index(s, stack::argument(1), false));
    return s;
}

cell* next() {
    cell* s = stack::argument(0);
    require_buffer(s);
    int64_t index = raw_index(s);
    if (index + 1 <= total_length(s)) s->w1 = static_cast<uint32_t>(index + 1);
    return s;
}

cell* back() {
    cell* s = stack::argument(0);
    require_buffer(s);
    // A stale index counts from the tail, so back always lands inside the series.
    int64_t index = std::min<int64_t>(raw_index(s), total_length(s));
    if (index_of(s) > 0) s->w1 = static_cast<uint32_t>(std::max<int64_t>(index - 1, 0));
    return s;
}

cell* head() {
    cell* s = stack::argument(0);
    s->w1 = 0;
    return s;
}

cell* tail() {
    cell* s = stack::argument(0);
    require_buffer(s);
    s->w1 = static_cast<uint32_t>(total_length(s));
    return s;
}

cell* head_q() { return index_of(stack::argument(0)) == 0 ? &logic::true_value : &logic::false_value; }

cell* tail_q() {
    cell* s = stack::argument(0);
    require_buffer(s);
    return is_at_tail(s) ? &logic::true_value : &logic::false_value;
}

cell* index_q() { return integer::make_in(stack::push_slot(), to_int32(int64_t(index_of(stack::argument(0))) + 1)); }

int length_q(cell* s) {
    require_buffer(s);
    return to_int32(get_length(s, false));
}

// --- Reading and writing elements ---------------------------------------------------------------------

cell* pick(cell* s, int index, cell* index_cell) {
    (void)index_cell;
    require_buffer(s);
    int64_t p = pick_position(s, index);
    if (p < 0) return &none::value;
    return push_element(s, p);
}

cell* poke(cell* s, int index, cell* value) {
    require_buffer(s);
    int64_t p = pick_position(s, index);
    if (p < 0) out_of_range(index);
    element_kind kind = kind_of(s->type());
    switch (kind) {
        case ELEMENTS_VECTOR:
            // float! and percent! hold the same double: either fits the other's vector.
            if (value->type() != s->w3 &&
                !((value->is(TYPE_FLOAT) || value->is(TYPE_PERCENT)) && (s->w3 == TYPE_FLOAT || s->w3 == TYPE_PERCENT))) {
                invalid_arg(value);
            }
            break;
        case ELEMENTS_BINARY:
            if (!value->is(TYPE_INTEGER) && !value->is(TYPE_CHAR)) invalid_arg(value);
            break;
        case ELEMENTS_TEXT:
            if (!value->is(TYPE_CHAR)) invalid_arg(value);
            break;
        case ELEMENTS_CELLS: break;
        default: invalid_arg(s);
    }
    bool owned = notify(s, POKE, value, p, 1);
    // The report may have run user code: the position must still be inside the series.
    if (p >= total_length(s)) out_of_range(index);
    if (kind == ELEMENTS_CELLS && is_hash(s)) {
        hashtable::delete_cell(s->w3, buffer_of(s)->head_cell() + p);
    }
    std::byte* at = unit_address(s, p);
    switch (kind) {
        case ELEMENTS_CELLS:
            *reinterpret_cast<cell*>(at) = *value;
            if (is_hash(s)) hash_index::enter_cell(s, p);
            break;
        case ELEMENTS_VECTOR: store_vector_element(at, static_cast<uint32_t>(unit_of(s)), value); break;
        case ELEMENTS_BINARY: *at = static_cast<std::byte>(value->w2 & 0xFF); break;
        default: string::write_codepoint_at(buffer_of(s), at, value->w2); break;
    }
    if (owned) notify(s, POKED, value, p, 1);
    return value;
}

// --- Modifying actions ---------------------------------------------------------------------------------

cell* clear(cell* s) {
    require_buffer(s);
    int64_t index = raw_index(s);
    int64_t count = total_length(s) - index;
    if (count <= 0) return s;
    bool owned = notify(s, CLEAR, nullptr, index, count);
    if (is_hash(s)) hash_index::call_delete_range(s->w3, index, count);
    series_buffer* b = buffer_of(s);
    std::byte* new_tail = b->head + index * int64_t(b->unit());
    if (new_tail < b->tail) b->tail = new_tail;
    if (owned) notify(s, CLEARED, nullptr, index, 0);
    return s;
}

cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    (void)deep, (void)types;  // the block types copy deeply; a flat series has nothing nested
    require_buffer(value);
    int64_t length = total_length(value);
    int64_t index = raw_index(value);
    int64_t start = index;
    int64_t count = std::max<int64_t>(length - index, 0);
    if (part) {
        if (part->is(TYPE_PAIR)) {
            int64_t x = static_cast<int32_t>(part->w2);
            int64_t y = static_cast<int32_t>(part->w3);
            start = std::max<int64_t>(x < 0 ? index + x : index + x - 1, 0);
            count = y < x ? 0 : y - x;
        } else {
            count = part_count(value, part);
            if (count < 0) {
                start = index + count;
                count = -count;
                if (start < 0) {
                    start = 0;
                    count = index;
                }
            }
        }
    }
    if (start > length) {
        start = length;
        count = 0;
    }
    count = std::min(count, length - start);
    return copy_range(value, result, start, count);
}

cell* remove(cell* s, cell* part, cell* key) {
    require_buffer(s);
    int64_t count = 1;
    if (part) {
        count = part_count(s, part);
        if (count < 1) return s;
    }
    int64_t start = raw_index(s);
    cell* answer = s;
    if (key) {
        cell* found = actions::handler<ACTION_FIND>(s)(s, key, nullptr, false, true, false, false, nullptr,
                                                         nullptr, false, false, false, false);
        if (found->is(TYPE_NONE)) return &none::value;
        start = index_of(found);
        answer = stack::push_copy(found);
        ++count;
    }
    int64_t length = total_length(s);
    if (start >= length) return answer;
    bool owned = notify(s, REMOVE, nullptr, start, count);
    length = total_length(s);
    if (start < length) {
        count = std::min(count, length - start);
        remove_range(s, start, count);
        if (is_hash(s)) {
            // The removed cells leave the index, and the cells after them move down.
            int64_t rest = total_length(s) - start;
            if (hash_index::call_shift_indexes(s->w3, -count, start + count, rest, true)) {
                hash_index::call_rebuild(s->w3, total_length(s));
            }
        }
    }
    if (owned) notify(s, REMOVED, nullptr, start, 0);
    return answer;
}

cell* reverse(cell* s, cell* part, cell* skip_argument) {
    require_buffer(s);
    int64_t length = total_length(s);
    int64_t index = raw_index(s);
    if (index >= length) return s;
    int64_t count = length - index;
    if (part) {
        count = part_count(s, part);
        if (count < 1) return s;
        count = std::min(count, length - index);
    }
    int64_t skip_size = 1;
    if (skip_argument) {
        if (!skip_argument->is(TYPE_INTEGER)) invalid_refine_arg(REFINEMENT_SKIP, skip_argument);
        skip_size = integer::read_cell(skip_argument);
        if (skip_size == count) return s;
        if (skip_size < 1) out_of_range(skip_size);
        if (count < skip_size || count % skip_size != 0) invalid_refine_arg(REFINEMENT_SKIP, skip_argument);
    }
    bool owned = notify(s, REVERSE, nullptr, index, count);
    // The report may have shortened the series: reverse what is left of the range.
    length = total_length(s);
    count = std::min(count, std::max<int64_t>(length - index, 0)) / skip_size * skip_size;
    int64_t unit = unit_of(s);
    int64_t record = unit * skip_size;
    std::vector<std::byte> scratch(static_cast<size_t>(record));
    int64_t records = count / skip_size;
    bool hash = is_hash(s);
    for (int64_t i = 0, j = records - 1; i < j; ++i, --j) {
        if (hash) {
            // Both records leave the index before they change places: an entry left naming a
            // cell whose value changed would keep an equal value out of its bucket.
            for (int64_t k = 0; k < skip_size; ++k) {
                hashtable::delete_cell(s->w3, buffer_of(s)->head_cell() + index + i * skip_size + k);
                hashtable::delete_cell(s->w3, buffer_of(s)->head_cell() + index + j * skip_size + k);
            }
        }
        std::byte* left = unit_address(s, index + i * skip_size);
        std::byte* right = unit_address(s, index + j * skip_size);
        std::memcpy(scratch.data(), left, static_cast<size_t>(record));
        std::memcpy(left, right, static_cast<size_t>(record));
        std::memcpy(right, scratch.data(), static_cast<size_t>(record));
        if (hash) {
            for (int64_t k = 0; k < skip_size; ++k) {
                hash_index::enter_cell(s, index + i * skip_size + k);
                hash_index::enter_cell(s, index + j * skip_size + k);
            }
        }
    }
    if (owned) notify(s, REVERSED, nullptr, index, 0);
    return s;
}

cell* take(cell* s, cell* part, bool deep, bool last) {
    (void)deep;  // the block types copy deeply what they take
    require_buffer(s);
    int64_t length = total_length(s);
    int64_t index = raw_index(s);
    if (index >= length) return &none::value;
    int64_t rest = length - index;
    int64_t count = 1;
    int64_t start = last ? length - 1 : index;
    if (part) {
        if (part->is(TYPE_INTEGER)) {
            count = integer::read_cell(part);
        } else if (part->type() == s->type() && part->w2 == s->w2) {
            int64_t position = index_of(part);
            count = position < index ? 0 : last ? length - position : position - index;
        } else {
            invalid_refine_arg(REFINEMENT_PART, part);
        }
        if (count < 0) {
            // Units before the index; there are none to take from the tail end or the head.
            if (last || index == 0) return copy_range(s, stack::push_slot(), index, 0);
            count = std::min(-count, index);
            start = index - count;
        } else {
            count = std::min(count, rest);
            // Nothing asked for, nothing taken: an empty series and no change.
            if (count == 0) return copy_range(s, stack::push_slot(), index, 0);
            start = last ? length - count : index;
        }
    }
    bool owned = notify(s, TAKE, nullptr, index, count);
    // The report may have changed the series: take what is still there.
    length = total_length(s);
    start = std::min(start, length);
    count = std::min(count, length - start);
    cell* result;
    if (part) {
        result = copy_range(s, stack::push_slot(), start, count);
        if (is_hash(s)) {
            // The taken cells form a hash! with an index of their own.
            node_ref table = hashtable::make(count, result, hashtable::KIND_HASH, 0);
            result->w3 = table;
        }
    } else {
        if (count < 1) return &none::value;
        result = push_element(s, start);
    }
    if (is_hash(s)) hash_index::call_delete_range(s->w3, start, count);
    remove_range(s, start, count);
    if (is_hash(s)) {
        int64_t moved = total_length(s) - start;
        if (hash_index::call_shift_indexes(s->w3, -count, start + count, moved, false)) {
            hash_index::call_rebuild(s->w3, total_length(s));
        }
    }
    if (owned) notify(s, TAKEN, nullptr, index, 0);
    return result;
}

cell* move(cell* origin, cell* target, cell* part) {
    if (!type_classes::is(target->type(), type_classes::SERIES)) {
        cell* where = stack::push_slot();
        *where = stack::current_function_word();
        cell* type = datatype::make_in(stack::push_slot(), target->type());
        cell* argument = stack::push_slot();
        *argument = raise::parameter_word(1);
        raise::throw_error(err::script_expect_arg, where, type, argument);
    }
    require_buffer(origin);
    element_kind from_kind = kind_of(origin->type());
    element_kind to_kind = kind_of(target->type());
    if (from_kind == ELEMENTS_OTHER || to_kind == ELEMENTS_OTHER) {
        // An image keeps its pixels with the image back-end, not in a buffer of units.
        cell* from_type = datatype::make_in(stack::push_slot(), origin->type());
        cell* to_type = datatype::make_in(stack::push_slot(), target->type());
        raise::throw_error(err::script_move_bad, from_type, to_type);
    }
    require_buffer(target);
    if (is_at_tail(origin)) return target;
    int64_t origin_index = raw_index(origin);
    int64_t available = total_length(origin) - origin_index;
    int64_t count = 1;
    if (part) {
        count = part_count(origin, part);
        if (count < 1) return target;
    }
    count = std::min(count, available);

    if (origin->w2 != target->w2) {
        auto move_bad = [&]() {
            cell* from_type = datatype::make_in(stack::push_slot(), origin->type());
            cell* to_type = datatype::make_in(stack::push_slot(), target->type());
            raise::throw_error(err::script_move_bad, from_type, to_type);
        };
        if ((from_kind == ELEMENTS_CELLS) != (to_kind == ELEMENTS_CELLS)) move_bad();
        int64_t unit = unit_of(origin);
        int64_t target_unit = unit_of(target);
        if (unit != target_unit) {
            if (from_kind != ELEMENTS_TEXT || to_kind != ELEMENTS_TEXT) move_bad();
            int64_t target_index = clamped_index(target);
            bool owned = notify(target, MOVE, origin, origin_index, count);
            string::move_units(origin, count * unit, target);
            if (owned) notify(target, MOVED, nullptr, target_index, count);
            return target;
        }
        int64_t bytes = count * unit;
        bool owned = notify(target, MOVE, origin, origin_index, count);
        // The report may have changed either series.
        count = std::min(count, std::max<int64_t>(total_length(origin) - origin_index, 0));
        bytes = count * unit;
        int64_t target_index = clamped_index(target);
        series_buffer* tb = buffer_of(target);
        if (tb->tail + bytes > tb->data_end()) {
            int64_t needed = (tb->tail - tb->head) + bytes;
            memory::expand_series(tb, memory::growth_size(needed, 2 * needed));
        }
        tb = buffer_of(target);
        series_buffer* ob = buffer_of(origin);
        std::byte* insert_at = tb->head + target_index * unit;
        std::memmove(insert_at + bytes, insert_at, static_cast<size_t>(tb->tail - insert_at));
        tb->tail += bytes;
        std::memcpy(insert_at, ob->head + origin_index * unit, static_cast<size_t>(bytes));
        remove_range(origin, origin_index, count);
        if (is_hash(origin)) {
            int64_t rest = total_length(origin) - origin_index;
            if (hash_index::call_shift_indexes(origin->w3, -count, origin_index + count, rest, true)) {
                hash_index::call_rebuild(origin->w3, total_length(origin));
            }
        }
        if (is_hash(target)) {
            int64_t rest = total_length(target) - target_index - count;
            if (hash_index::call_shift_indexes(target->w3, count, target_index, rest, true)) {
                hash_index::call_rebuild(target->w3, total_length(target));
            } else {
                for (int64_t i = 0; i < count; ++i) {
                    if (hash_index::enter_cell(target, target_index + i) == 2) break;
                }
            }
        }
        if (owned) notify(target, MOVED, nullptr, target_index, count);
        return target;
    }

    // Within one series: the moved units end up starting at the destination.
    int64_t length = total_length(origin);
    int64_t destination = std::clamp<int64_t>(index_of(target), 0, length);
    if (destination == origin_index) return target;
    bool forward = destination > origin_index;
    if (forward && destination != length && length - destination < count) return origin;
    bool owned = notify(target, MOVE, origin, origin_index, count);
    length = total_length(origin);
    if (origin_index + count > length) return target;  // the report shortened the series
    destination = std::min(destination, length);
    int64_t unit = unit_of(origin);
    std::vector<std::byte> moved(static_cast<size_t>(count * unit));
    std::memcpy(moved.data(), unit_address(origin, origin_index), moved.size());
    int64_t final_index;
    if (forward) {
        final_index = destination == length ? length - count : destination;
        std::memmove(unit_address(origin, origin_index), unit_address(origin, origin_index + count),
                     static_cast<size_t>((final_index - origin_index) * unit));
    } else {
        final_index = destination;
        std::memmove(unit_address(origin, destination + count), unit_address(origin, destination),
                     static_cast<size_t>((origin_index - destination) * unit));
    }
    std::memcpy(unit_address(origin, final_index), moved.data(), moved.size());
    if (is_hash(origin)) hash_index::call_move_entries(origin->w3, final_index, origin_index, count);
    if (owned) notify(target, MOVED, nullptr, final_index, count);
    return target;
}

cell* random(cell* s, bool seed, bool secure, bool only) {
    require_buffer(s);
    int64_t length = total_length(s);
    int64_t index = std::min(raw_index(s), length);
    int64_t unit = unit_of(s);
    if (seed) {
        series_buffer* b = buffer_of(s);
        random::seed(hashtable::murmur3_bytes(b->head + index * unit, (length - index) * unit));
        return &unset::value;
    }
    int64_t rest = length - index;
    if (only) {
        if (rest <= 0) return &none::value;
        int32_t k = random::pick_int(to_int32(rest), secure);
        return push_element(s, index + k - 1);
    }
    bool owned = notify(s, RANDOM, nullptr, index, rest);
    length = total_length(s);
    std::vector<std::byte> scratch(static_cast<size_t>(unit));
    for (int64_t position = index; position < length; ++position) {
        int32_t k = random::pick_int(to_int32(length - position), secure);
        if (k == 1) continue;
        std::byte* here = unit_address(s, position);
        std::byte* there = unit_address(s, position + k - 1);
        std::memcpy(scratch.data(), here, static_cast<size_t>(unit));
        std::memcpy(here, there, static_cast<size_t>(unit));
        std::memcpy(there, scratch.data(), static_cast<size_t>(unit));
    }
    if (is_hash(s)) hash_index::call_rebuild(s->w3, total_length(s));
    if (owned) notify(s, RANDOMIZED, nullptr, index, rest);
    return s;
}

cell* reflect(cell* s, int field_symbol) {
    if (symbols::owned > 0 && symbol::canonical_id(field_symbol) == symbol::canonical_id(symbols::owned)) {
        cell* owner = s->w2 ? owner_track::find_owner(s->w2) : nullptr;
        return owner ? owner : &none::value;
    }
    raise::throw_error(err::internal_not_done);
}

cell* modify(cell* target, cell* field, cell* value, bool case_sensitive) {
    (void)case_sensitive;
    if (!word::is_any_word_type(field->type()) || symbols::owned <= 0 ||
        symbol::canonical_id(static_cast<int32_t>(field->w2)) != symbol::canonical_id(symbols::owned)) {
        return value;
    }
    if (value->is(TYPE_NONE)) {
        owner_track::clear_owner_deep(target);
    } else if (value->is(TYPE_BLOCK)) {
        int64_t index = clamped_index(value);
        if (total_length(value) - index < 2) invalid_arg(value);
        cell* owner = stack::push_copy(buffer_of(value)->head_cell() + index);
        cell* word = stack::push_copy(buffer_of(value)->head_cell() + index + 1);
        if (!owner->is(TYPE_OBJECT) || !word::is_any_word_type(word->type())) invalid_arg(value);
        owner_track::set_owner_deep(target, owner, word);
    }
    return value;
}

// --- Registration ---------------------------------------------------------------------------------------

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_RANDOM>(&random);
    list.set<ACTION_REFLECT>(&reflect);
    list.set<ACTION_AT>(&at);
    list.set<ACTION_BACK>(&back);
    list.set<ACTION_CLEAR>(&clear);
    list.set<ACTION_COPY>(&copy);
    list.set<ACTION_HEAD>(&head);
    list.set<ACTION_HEAD_Q>(&head_q);
    list.set<ACTION_INDEX_Q>(&index_q);
    list.set<ACTION_LENGTH_Q>(&length_q);
    list.set<ACTION_MOVE>(&move);
    list.set<ACTION_NEXT>(&next);
    list.set<ACTION_PICK>(&pick);
    list.set<ACTION_POKE>(&poke);
    list.set<ACTION_REMOVE>(&remove);
    list.set<ACTION_REVERSE>(&reverse);
    list.set<ACTION_SKIP>(&skip);
    list.set<ACTION_TAIL>(&tail);
    list.set<ACTION_TAIL_Q>(&tail_q);
    list.set<ACTION_TAKE>(&take);
    list.set<ACTION_MODIFY>(&modify);
    type_registry::register_type(TYPE_SERIES, TYPE_NONE_ID, "series!", list);
}

}  // namespace zor::series
