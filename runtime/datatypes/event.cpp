// event!: making script-made events, the accessors of pick and paths, and the
// registration (see event.h).
//
// The field block is made only when a field that lives there is given; until then the
// event answers the defaults (none, none, 0x0, 0). Values read from the spec are copied
// into stack slots before anything allocates.
#include "runtime/datatypes/event.h"

#include <string_view>

#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"

namespace zor::event {

namespace {

// Accessor indexes.
enum accessor : int {
    FIELD_TYPE = 1, FIELD_FACE, FIELD_WINDOW, FIELD_OFFSET, FIELD_KEY, FIELD_PICKED, FIELD_FLAGS,
    FIELD_AWAY_Q, FIELD_DOWN_Q, FIELD_MID_DOWN_Q, FIELD_ALT_DOWN_Q, FIELD_AUX_DOWN_Q, FIELD_CTRL_Q,
    FIELD_SHIFT_Q, FIELD_ORIENTATION, FIELD_COUNT = FIELD_ORIENTATION,
};

// The accessor words in index order.
const int32_t* const ACCESSOR_SYMBOLS[FIELD_COUNT] = {
    &symbols::type,       &symbols::face,       &symbols::window,     &symbols::offset,     &symbols::key,
    &symbols::picked,     &symbols::flags,      &symbols::away_q,     &symbols::down_q,     &symbols::mid_down_q,
    &symbols::alt_down_q, &symbols::aux_down_q, &symbols::ctrl_q,     &symbols::shift_q,    &symbols::orientation,
};

// The flag bit each of the tests away? .. shift? reads.
constexpr uint32_t TEST_BITS[] = {0x4000000, 0x2000000, 0x1000000, 0x800000, 0x400000, 0x10000000, 0x20000000};

// The words of a flags block, by bit.
struct flag_word {
    const char* name;
    uint32_t bit;
};
constexpr flag_word FLAG_WORDS[] = {
    {"aux-down", 0x400000}, {"alt-down", 0x800000}, {"mid-down", 0x1000000}, {"down", 0x2000000},
    {"away", 0x4000000},    {"control", 0x10000000}, {"shift", 0x20000000},  {"alt", 0x40000000},
    {"command", 0x80000000},
};

// Cells of the field block.
enum block_cell : int { CELL_FACE = 0, CELL_WINDOW = 1, CELL_OFFSET = 2, CELL_PICKED = 3, BLOCK_CELLS = 4 };

bool is_word(const cell* c) { return c->type() >= TYPE_WORD && c->type() <= TYPE_GET_WORD; }

int32_t canonical(const cell* word) { return symbol::canonical_id(static_cast<int32_t>(word->w2)); }

// The accessor a word names, or 0.
int accessor_of_word(const cell* word) {
    for (int i = 0; i < FIELD_COUNT; ++i) {
        if (canonical(word) == symbol::canonical_id(*ACCESSOR_SYMBOLS[i])) return i + 1;
    }
    return 0;
}

// The bit of a flag word, or 0 for another word.
uint32_t flag_bit(const cell* word) {
    for (const flag_word& f : FLAG_WORDS) {
        int32_t id = symbol::find(f.name);
        if (id != 0 && canonical(word) == symbol::canonical_id(id)) return f.bit;
    }
    return 0;
}

bool script_made(const cell* event) { return (event->w3 & FLAG_SCRIPT_MADE) != 0; }

cell* block_cell_of(const cell* event, int n) { return memory::buffer_of(event->w2)->head_cell() + n; }

// Gives the event (a rooted cell) its field block with the defaults, once.
void ensure_block(cell* event) {
    if (event->w2 != 0) return;
    stack::slot_mark mark;
    cell* fields = block::push_empty(BLOCK_CELLS);
    none::make_at_tail(fields);
    none::make_at_tail(fields);
    pair::make_in_block(fields, 0, 0);
    integer::append_to_block(fields, 0);
    event->w2 = fields->w2;
}

// The block of the flag words whose bits are set, in bit order.
cell* push_flags_block(uint32_t flags) {
    cell* made = block::push_empty(4);
    for (const flag_word& f : FLAG_WORDS) {
        if (!(flags & f.bit)) continue;
        cell* word = word::make_global_from_name(f.name);
        *block::alloc_tail_cell(made) = *word;
    }
    return made;
}

// The field of an accessor, pushed or a shared cell.
cell* field_of(cell* event, int field) {
    if (!script_made(event)) return upcalls::installed(upcalls::event_field)(event, field);
    const bool has_block = event->w2 != 0;
    switch (field) {
        case FIELD_TYPE: return stack::push_copy(upcalls::installed(upcalls::event_type_word)(event));
        case FIELD_FACE: return has_block ? stack::push_copy(block_cell_of(event, CELL_FACE)) : &none::value;
        case FIELD_WINDOW: return has_block ? stack::push_copy(block_cell_of(event, CELL_WINDOW)) : &none::value;
        case FIELD_OFFSET: return has_block ? stack::push_copy(block_cell_of(event, CELL_OFFSET)) : pair::push(0, 0);
        case FIELD_KEY: {
            uint32_t code = event->w3 & 0xFFFF;
            if (code == 0) return &none::value;
            cell* key = stack::push_slot();
            *key = cell{TYPE_CHAR, 0, code, 0};
            return key;
        }
        case FIELD_PICKED: return has_block ? stack::push_copy(block_cell_of(event, CELL_PICKED)) : integer::push(0);
        case FIELD_FLAGS: return push_flags_block(event->w3);
        case FIELD_ORIENTATION: return &none::value;
        default: return (event->w3 & TEST_BITS[field - FIELD_AWAY_Q]) ? &logic::true_value : &logic::false_value;
    }
}

// --- Actions -----------------------------------------------------------------------------------------

cell* make(cell* /*value*/, cell* spec, type_id /*type*/) {
    cell* result = stack::push_slot();
    *result = cell{TYPE_EVENT, 0, 0, FLAG_SCRIPT_MADE};
    if (!spec->is(TYPE_BLOCK)) return result;
    cell* held = stack::push_copy(spec);
    cell* value = stack::push_slot();
    const int64_t end = series::total_length(held);
    for (int64_t i = series::clamped_index(held); i + 1 < end; ++i) {
        const cell* name = block::get_cell(held, i);
        if (!name->is(TYPE_SET_WORD)) continue;
        const int32_t id = canonical(name);
        *value = *block::get_cell(held, i + 1);
        // A word bound to a context stands for its value.
        if ((value->is(TYPE_WORD) || value->is(TYPE_GET_WORD)) && value->w1 != 0) *value = *word::get_value(value);
        auto is = [&](int32_t symbol) { return id == symbol::canonical_id(symbol); };
        if (is(symbols::type)) {
            if (value->is(TYPE_WORD) || value->is(TYPE_LIT_WORD)) upcalls::installed(upcalls::set_event_type)(result, value);
        } else if (is(symbols::key)) {
            if (value->is(TYPE_CHAR)) result->w3 |= value->w2 & 0xFFFF;
        } else if (is(symbols::flags)) {
            if (value->is(TYPE_BLOCK)) {
                for (int64_t j = series::clamped_index(value); j < series::total_length(value); ++j) {
                    const cell* flag = block::get_cell(value, j);
                    if (is_word(flag)) result->w3 |= flag_bit(flag);
                }
            }
        } else {
            int slot = -1;
            if ((is(symbols::face) || is(symbols::window)) && value->is(TYPE_OBJECT)) {
                slot = is(symbols::face) ? CELL_FACE : CELL_WINDOW;
            } else if (is(symbols::offset) && (value->is(TYPE_PAIR) || value->is(TYPE_POINT2D))) {
                slot = CELL_OFFSET;
            } else if (is(symbols::picked) && value->is(TYPE_INTEGER)) {
                slot = CELL_PICKED;
            }
            if (slot < 0) continue;
            ensure_block(result);
            *block_cell_of(result, slot) = *value;
        }
    }
    return result;
}

int form(cell* /*value*/, cell* output, cell* /*part*/, int budget) {
    string::append_c_string(output, "event");
    return budget - 5;
}

int mold(cell* value, cell* output, bool /*only*/, bool /*all*/, bool /*flat*/, cell* part, int budget,
         int /*indent*/) {
    return form(value, output, part, budget);
}

int compare(cell* /*value*/, cell* other, int op) {
    if (!other->is(TYPE_EVENT)) return -2;
    // Events are all equal, and have no order.
    return op >= 3 && op <= 6 ? -2 : 0;
}

cell* pick(cell* value, int index, cell* index_cell) {
    if (index_cell && is_word(index_cell)) {
        int field = accessor_of_word(index_cell);
        if (field == 0) raise::throw_error(err::script_cannot_use, index_cell, value);
        return field_of(value, field);
    }
    if (index < 1 || index > FIELD_COUNT) {
        cell number{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
        raise::throw_error(err::script_out_of_range, index_cell ? index_cell : &number);
    }
    return field_of(value, index);
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* /*grandparent*/, cell* /*previous*/,
                int /*position*/, int /*pass_through*/, bool /*get_only*/, bool /*tail*/, bool /*in_place*/) {
    int field = 0;
    if (element->is(TYPE_INTEGER)) {
        int32_t n = static_cast<int32_t>(element->w2);
        if (n >= 1 && n <= FIELD_COUNT) field = n;
    } else if (is_word(element)) {
        field = accessor_of_word(element);
    }
    if (field == 0) raise::throw_error(err::script_invalid_path, path, element);
    if (!value) return field_of(parent, field);
    if (field != FIELD_TYPE || !value->is(TYPE_WORD)) raise::throw_error(err::script_bad_path_set, path, element);
    upcalls::installed(upcalls::set_event_type)(parent, value);
    return value;
}

}  // namespace

cell* push_argument(const cell* value) { return stack::push_copy(value); }

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_EVAL_PATH>(&eval_path);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_PICK>(&pick);
    type_registry::register_type(TYPE_EVENT, TYPE_NONE_ID, "event!", list);
}

}  // namespace zor::event
