// bitset!: making bitsets from specs, membership tests, setting and clearing bits, the set
// operations, comparison and the "make bitset! #{...}" text.
//
// Every routine reads and writes membership through the rule of bitset.h (stored bits,
// then the complement flag for the numbers beyond them), so that a complemented bitset
// behaves as the exact complement of what it lists under every action.
#include "runtime/datatypes/bitset.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/value/type-registry.h"

namespace zor::bitset {

namespace {

using memory::series_buffer;

series_buffer* buffer(const cell* bits) { return memory::buffer_of(bits->w2); }
uint8_t fill_byte(bool complemented) { return complemented ? 0xFF : 0x00; }
uint8_t mask(int64_t n) { return static_cast<uint8_t>(0x80u >> (n & 7)); }

[[noreturn]] void raise_with(err id, const cell* value) {
    // A copy in a stack slot stays valid while the error is made.
    raise::throw_error(id, stack::push_copy(value));
}

[[noreturn]] void raise_type_and(err id, const cell* value) {
    cell* value_copy = stack::push_copy(value);
    cell* type = datatype::push(TYPE_BITSET);
    raise::throw_error(id, type, value_copy);
}

[[noreturn]] void unusable_spec(const cell* spec, int errors) {
    switch (errors) {
        case ERRORS_MAKE: raise_type_and(err::script_bad_make_arg, spec);
        case ERRORS_TO: raise_type_and(err::script_bad_to_arg, spec);
        default: raise_with(err::script_invalid_arg, spec);
    }
}

bool is_minus_word(const cell& c) {
    return c.is(TYPE_WORD) && symbols::minus > 0 &&
           symbol::canonical_id(static_cast<int32_t>(c.w2)) == symbol::canonical_id(symbols::minus);
}

bool is_not_word(const cell& c) {
    return c.is(TYPE_WORD) && symbols::not_ > 0 &&
           symbol::canonical_id(static_cast<int32_t>(c.w2)) == symbol::canonical_id(symbols::not_);
}

// The number a char!, integer! or float! (truncated) stands for. Negative numbers pass
// only when testing; a float beyond the 32-bit range is out of range.
int64_t number_of(const cell& value, bool testing) {
    int64_t n = 0;
    switch (value.type()) {
        case TYPE_CHAR: n = char_::codepoint_of(&value); break;
        case TYPE_INTEGER: n = integer::read_cell(&value); break;
        default: {
            double d = float_::get(&value);
            if (!(d > -2147483649.0 && d < 2147483648.0)) raise_with(err::script_out_of_range, &value);
            n = static_cast<int64_t>(std::trunc(d));
        }
    }
    if (n < 0 && !testing) raise_with(err::script_out_of_range, &value);
    return n;
}

// Calls visit(lo, hi) for every number or range the spec lists, in order, until it
// answers false; answers false then. Allocates nothing but error values, so buffers read
// here stay put.
template <typename Visit>
bool walk(const cell& spec, int errors, bool testing, Visit&& visit) {
    switch (spec.type()) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            int64_t n = number_of(spec, testing);
            return visit(n, n);
        }
        case TYPE_STRING: {
            series_buffer* s = memory::buffer_of(spec.w2);
            uint32_t unit = s->unit();
            int64_t length = s->length();
            int64_t index = std::clamp<int64_t>(static_cast<int32_t>(spec.w1), 0, length);
            for (int64_t i = index; i < length; ++i) {
                int64_t c = string::read_unit(memory::buffer_of(spec.w2)->head + i * unit, unit);
                if (!visit(c, c)) return false;
            }
            return true;
        }
        case TYPE_BLOCK: {
            int64_t length = memory::buffer_of(spec.w2)->length();
            int64_t index = std::clamp<int64_t>(static_cast<int32_t>(spec.w1), 0, length);
            for (int64_t i = index; i < length; ++i) {
                const cell element = memory::buffer_of(spec.w2)->head_cell()[i];
                if ((element.is(TYPE_CHAR) || element.is(TYPE_INTEGER)) && i + 1 < length &&
                    is_minus_word(memory::buffer_of(spec.w2)->head_cell()[i + 1])) {
                    if (i + 2 >= length) raise::throw_error(err::script_past_end);
                    const cell upper = memory::buffer_of(spec.w2)->head_cell()[i + 2];
                    if (upper.type() != element.type()) raise_with(err::script_invalid_arg, &upper);
                    int64_t lo = number_of(element, testing);
                    int64_t hi = number_of(upper, testing);
                    if (hi < lo) raise::throw_error(err::script_past_end);
                    if (!visit(lo, hi)) return false;
                    i += 2;
                    continue;
                }
                if (element.is(TYPE_BINARY)) raise::throw_error(err::internal_not_done);
                switch (element.type()) {
                    case TYPE_CHAR: case TYPE_INTEGER: case TYPE_FLOAT: case TYPE_STRING: case TYPE_BLOCK:
                        if (!walk(element, errors, testing, visit)) return false;
                        break;
                    default: unusable_spec(&element, errors);
                }
            }
            return true;
        }
        case TYPE_BINARY: raise::throw_error(err::internal_not_done);
        default: unusable_spec(&spec, errors);
    }
}

// Grows the stored bytes to n (nothing when there are as many already), the new bytes
// holding the implied bits, so membership does not change.
void ensure_bytes(cell* bits, int64_t n) {
    series_buffer* b = buffer(bits);
    int64_t count = b->tail - b->head;
    if (count >= n) return;
    uint8_t fill = fill_byte((b->flags & memory::FLAG_COMPLEMENT) != 0);
    if (b->data_end() - b->head < n) b = memory::expand_series(b, std::max<int64_t>(n, 2 * count));
    b = buffer(bits);
    std::memset(b->head + count, fill, static_cast<size_t>(n - count));
    b->tail = b->head + n;
}

void put_bit(uint8_t* bytes, int64_t n, bool on) {
    if (on) bytes[n >> 3] |= mask(n);
    else bytes[n >> 3] &= static_cast<uint8_t>(~mask(n));
}

// Makes the cell (rooted) a new bitset of n bytes of the fill, flagged as asked.
cell* make_in(cell* destination, int64_t n, bool complemented) {
    if (n > INT32_MAX) raise::throw_error(err::internal_no_memory);
    node_ref node = memory::alloc_filled_bytes(n, fill_byte(complemented));
    series_buffer* b = memory::buffer_of(node);
    b->tail = b->head + n;
    if (complemented) b->flags |= memory::FLAG_COMPLEMENT;
    *destination = cell{TYPE_BITSET, 0, node, 0};
    return destination;
}

// A copy of the bytes and the flag into the (rooted) destination; source may be it.
cell* copy_into(const cell* source, cell* destination) {
    cell* held = stack::push_copy(source);
    series_buffer* b = buffer(held);
    bool complemented = (b->flags & memory::FLAG_COMPLEMENT) != 0;
    node_ref node = memory::copy_series_part(b, 0, b->tail - b->head);
    if (complemented) memory::buffer_of(node)->flags |= memory::FLAG_COMPLEMENT;
    *destination = cell{TYPE_BITSET, 0, node, 0};
    stack::drop_slots(1);
    return destination;
}

// The inverted copy: the exact complement of the set.
cell* complement_into(const cell* source, cell* destination) {
    copy_into(source, destination);
    series_buffer* b = buffer(destination);
    for (std::byte* p = b->head; p < b->tail; ++p) *p = ~*p;
    b->flags ^= memory::FLAG_COMPLEMENT;
    return destination;
}

bool is_zero_value(const cell* value) {
    switch (value->type()) {
        case TYPE_NONE: return true;
        case TYPE_LOGIC: return logic::get_value(value) == 0;
        case TYPE_INTEGER: return integer::read_cell(value) == 0;
        case TYPE_FLOAT: return float_::get(value) == 0.0;
        default: return false;
    }
}

// Sets or clears what the spec lists, with the ownership reports.
void change_bits(cell* bits, const cell* spec_cell, bool set, series::change_word before,
                 series::change_word after) {
    // The spec may lie in a block (a path's element) that the reports below can move.
    stack::slot_mark mark;
    const cell* spec = stack::push_copy(spec_cell);
    bool owned = series::notify(bits, before, spec, 0, 0);
    process_spec(spec, bits, set ? OP_SET : OP_CLEAR, false, ERRORS_ARG);
    if (owned) series::notify(bits, after, spec, 0, 0);
}

int serialize(const cell* bits, cell* output, const cell* part, int budget) {
    // The text is built first: appending may move the buffer that holds the bitset.
    series_buffer* b = buffer(bits);
    bool complemented = (b->flags & memory::FLAG_COMPLEMENT) != 0;
    std::string text = "make bitset! ";
    budget -= 13;
    if (complemented) {
        text += "[not ";
        budget -= 5;
    }
    text += "#{";
    budget -= 2;
    bool cut = false;
    for (std::byte* p = b->head; p < b->tail; ++p) {
        if (part && budget <= 0) {
            cut = true;
            break;
        }
        auto byte = static_cast<uint8_t>(*p);
        text += string::byte_to_hex(complemented ? static_cast<uint8_t>(~byte) : byte);
        budget -= 2;
    }
    if (!cut && !(part && budget <= 0)) {
        text += complemented ? "}]" : "}";
        budget -= complemented ? 2 : 1;
    }
    string::append_bytes(output, text.data(), static_cast<int64_t>(text.size()));
    return budget;
}

// --- The action handlers -------------------------------------------------------------------

cell* make(cell* /*value*/, cell* spec, type_id /*type*/) { return make_from_spec(spec, false); }
cell* to(cell* /*value*/, cell* spec, type_id /*type*/) { return make_from_spec(spec, true); }

int form(cell* value, cell* output, cell* part, int budget) { return serialize(value, output, part, budget); }

int mold(cell* value, cell* output, bool /*only*/, bool /*all*/, bool /*flat*/, cell* part, int budget,
         int /*indent*/) {
    return serialize(value, output, part, budget);
}

cell* pick_spec(cell* bits, const cell* spec) {
    return process_spec(spec, bits, OP_TEST, false, ERRORS_ARG) ? &logic::true_value : &logic::false_value;
}

cell* poke_spec(cell* bits, const cell* spec, cell* value) {
    change_bits(bits, spec, !is_zero_value(value), series::POKE, series::POKED);
    return value;
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* /*path*/, cell* /*grandparent*/,
                cell* /*previous*/, int /*position*/, int /*pass_through*/, bool /*get_only*/, bool /*tail*/,
                bool /*in_place*/) {
    if (!element->is(TYPE_INTEGER) && !element->is(TYPE_CHAR)) raise::invalid_type(element->type());
    return value ? poke_spec(parent, element, value) : pick_spec(parent, element);
}

int compare(cell* value, cell* other, int op) {
    if (!other->is(TYPE_BITSET)) return -2;
    if (op == 9) return value->w2 == other->w2 ? 0 : 1;
    series_buffer* a = buffer(value);
    series_buffer* b = buffer(other);
    int64_t la = a->tail - a->head;
    int64_t lb = b->tail - b->head;
    if (la != lb) return la < lb ? -1 : 1;
    if (la == 0) return 0;
    bool ca = (a->flags & memory::FLAG_COMPLEMENT) != 0;
    bool cb = (b->flags & memory::FLAG_COMPLEMENT) != 0;
    if (ca != cb) return ca ? 1 : -1;
    for (int64_t i = la - 1; i >= 0; --i) {
        auto x = static_cast<uint8_t>(a->head[i]);
        auto y = static_cast<uint8_t>(b->head[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

cell* negate(cell* value) { return complement_into(value, value); }

cell* complement(cell* value) {
    cell* slot = stack::push_slot();
    return complement_into(value, slot);
}

cell* and_t() { return apply_set_op(6); }
cell* or_t() { return apply_set_op(5); }
cell* xor_t() { return apply_set_op(7); }

cell* append(cell* series, cell* value, int /*part*/, bool /*only*/, int /*dup*/, bool append) {
    change_bits(series, value, true, append ? series::APPEND : series::INSERT,
                append ? series::APPENDED : series::INSERTED);
    return series;
}

// clear empties the set: every stored byte 00 and no complement, whatever it was.
cell* clear(cell* series) {
    bool owned = series::notify(series, series::CLEAR, nullptr, 0, 0);
    series_buffer* b = buffer(series);
    std::memset(b->head, 0, static_cast<size_t>(b->tail - b->head));
    b->flags &= ~memory::FLAG_COMPLEMENT;
    if (owned) series::notify(series, series::CLEARED, nullptr, 0, 0);
    return series;
}

cell* copy(cell* value, cell* result, cell* /*part*/, bool /*deep*/, cell* /*types*/) {
    return copy_into(value, result);
}

cell* find(cell* series, cell* value, cell* /*part*/, bool /*only*/, bool /*case_sensitive*/, bool /*same*/,
           bool /*any*/, cell* /*with*/, cell* /*skip*/, bool /*last*/, bool /*reverse*/, bool /*tail*/,
           bool /*match*/) {
    return process_spec(value, series, OP_TEST, false, ERRORS_ARG) ? &logic::true_value : &none::value;
}

int length_q(cell* series) {
    int64_t bits = byte_count(series) * 8;
    return bits > INT32_MAX ? INT32_MAX : static_cast<int>(bits);
}

cell* pick(cell* series, int /*index*/, cell* index_cell) { return pick_spec(series, index_cell); }

// The action entry passes the index as a number; the spec itself is the call's second
// argument.
cell* poke(cell* series, int /*index*/, cell* value) { return poke_spec(series, stack::argument(1), value); }

cell* remove(cell* series, cell* /*part*/, cell* key) {
    if (!key) raise::throw_error(err::script_missing_arg);
    change_bits(series, key, false, series::REMOVE, series::REMOVED);
    return series;
}

}  // namespace

// --- Module operations -----------------------------------------------------------------------

uint8_t* get_bytes(const cell* bits) { return reinterpret_cast<uint8_t*>(buffer(bits)->head); }

int64_t byte_count(const cell* bits) {
    series_buffer* b = buffer(bits);
    return b->tail - b->head;
}

bool is_complemented(const cell* bits) { return (buffer(bits)->flags & memory::FLAG_COMPLEMENT) != 0; }

bool has(const cell* bits, int64_t n) {
    series_buffer* b = buffer(bits);
    bool complemented = (b->flags & memory::FLAG_COMPLEMENT) != 0;
    if (n < 0 || n >= 8 * (b->tail - b->head)) return complemented;
    return (static_cast<uint8_t>(b->head[n >> 3]) & mask(n)) != 0;
}

int64_t process_spec(const cell* spec_cell, cell* bits, int op, bool nested, int errors) {
    (void)nested;
    // Held in a stack slot, which the collector keeps current while the bitset grows.
    stack::slot_mark mark;
    const cell& spec = *stack::push_copy(spec_cell);
    if (op == OP_TEST) {
        return walk(spec, errors, true, [&](int64_t lo, int64_t hi) {
            // Only the stored bits need a look: beyond them, the flag answers for all.
            int64_t stored = 8 * byte_count(bits);
            bool complemented = is_complemented(bits);
            if (lo < 0 || hi >= stored) {
                if (!complemented) return false;
            }
            for (int64_t n = std::max<int64_t>(lo, 0); n <= hi && n < stored; ++n) {
                if (!has(bits, n)) return false;
            }
            return true;
        }) ? 1 : 0;
    }
    int64_t highest = -1;
    walk(spec, errors, false, [&](int64_t, int64_t hi) {
        highest = std::max(highest, hi);
        return true;
    });
    int64_t needed = std::max<int64_t>((highest + 8) >> 3, 1);
    if (op == OP_MEASURE) return needed;
    bool complemented = is_complemented(bits);
    bool set = op == OP_SET;
    // Only a change against the implied tail needs the bytes stored.
    if (set != complemented) ensure_bytes(bits, needed);
    walk(spec, errors, false, [&](int64_t lo, int64_t hi) {
        uint8_t* bytes = get_bytes(bits);
        int64_t stored = 8 * byte_count(bits);
        for (int64_t n = lo; n <= hi && n < stored; ++n) put_bit(bytes, n, set);
        return true;
    });
    return needed;
}

cell* make_from_spec(cell* spec_cell, bool to) {
    cell* spec = stack::push_copy(spec_cell);
    cell* result = stack::push_slot();
    bool complemented = false;
    if (spec->is(TYPE_BLOCK)) {
        int64_t length = memory::buffer_of(spec->w2)->length();
        int64_t index = std::clamp<int64_t>(static_cast<int32_t>(spec->w1), 0, length);
        if (index < length && is_not_word(memory::buffer_of(spec->w2)->head_cell()[index])) {
            complemented = true;
            spec->w1 = static_cast<uint32_t>(index + 1);
            if (index + 1 < length && memory::buffer_of(spec->w2)->head_cell()[index + 1].is(TYPE_BINARY)) {
                *spec = memory::buffer_of(spec->w2)->head_cell()[index + 1];
            }
        }
    }
    switch (spec->type()) {
        case TYPE_BITSET: return copy_into(spec, result);
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            if (to) raise_type_and(err::script_bad_to_arg, spec);
            int64_t n = number_of(*spec, false);
            return make_in(result, (n + 7) >> 3, false);
        }
        case TYPE_BINARY: {
            int64_t length = memory::buffer_of(spec->w2)->length();
            int64_t index = std::clamp<int64_t>(static_cast<int32_t>(spec->w1), 0, length);
            make_in(result, length - index, complemented);
            series_buffer* from = memory::buffer_of(spec->w2);
            series_buffer* into = buffer(result);
            for (int64_t i = 0; i < length - index; ++i) {
                auto byte = static_cast<uint8_t>(from->head[index + i]);
                into->head[i] = std::byte(complemented ? static_cast<uint8_t>(~byte) : byte);
            }
            return result;
        }
        default: {
            int errors = to ? ERRORS_TO : ERRORS_MAKE;
            int64_t needed = process_spec(spec, nullptr, OP_MEASURE, false, errors);
            make_in(result, needed, complemented);
            process_spec(spec, result, complemented ? OP_CLEAR : OP_SET, false, errors);
            return result;
        }
    }
}

cell* apply_set_op(int op) {
    cell* first = stack::argument(0);
    if (op == 8) return first;
    cell* second = stack::argument(1);
    if (!second->is(TYPE_BITSET)) raise::invalid_type(second->type());
    int64_t la = byte_count(first);
    int64_t lb = byte_count(second);
    bool ca = is_complemented(first);
    bool cb = is_complemented(second);
    auto combine = [op](uint8_t a, uint8_t b) -> uint8_t {
        switch (op) {
            case 5: case 9: return a | b;
            case 6: case 10: return a & b;
            case 11: return static_cast<uint8_t>(a & ~b);
            default: return a ^ b;  // 7, 12
        }
    };
    bool complemented = combine(ca ? 1 : 0, cb ? 1 : 0) != 0;
    int64_t length = std::max(la, lb);
    cell* result = stack::push_slot();
    make_in(result, length, complemented);
    // The operands are read again: making the result may have moved their buffers.
    const uint8_t* a = get_bytes(first);
    const uint8_t* b = get_bytes(second);
    uint8_t* r = get_bytes(result);
    for (int64_t i = 0; i < length; ++i) {
        uint8_t x = i < la ? a[i] : fill_byte(ca);
        uint8_t y = i < lb ? b[i] : fill_byte(cb);
        r[i] = combine(x, y);
    }
    if (op == 6) {
        // and~ stores no more than the shorter operand, unless that would drop members.
        int64_t kept = length;
        while (kept > std::min(la, lb) && r[kept - 1] == fill_byte(complemented)) --kept;
        buffer(result)->tail = buffer(result)->head + kept;
    }
    return stack::set_result(result);
}

cell* push(const cell* bits) { return stack::push_copy(bits); }

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_REFLECT>(&series::reflect);
    list.set<ACTION_TO>(&to);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_EVAL_PATH>(&eval_path);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_NEGATE>(&negate);
    list.set<ACTION_AND_T>(&and_t);
    list.set<ACTION_COMPLEMENT>(&complement);
    list.set<ACTION_OR_T>(&or_t);
    list.set<ACTION_XOR_T>(&xor_t);
    list.set<ACTION_APPEND>(&append);
    list.set<ACTION_CLEAR>(&clear);
    list.set<ACTION_COPY>(&copy);
    list.set<ACTION_FIND>(&find);
    list.set<ACTION_INSERT>(&append);
    list.set<ACTION_LENGTH_Q>(&length_q);
    list.set<ACTION_PICK>(&pick);
    list.set<ACTION_POKE>(&poke);
    list.set<ACTION_REMOVE>(&remove);
    list.set<ACTION_MODIFY>(&series::modify);
    type_registry::register_type(TYPE_BITSET, TYPE_NONE_ID, "bitset!", list);
}

}  // namespace zor::bitset
