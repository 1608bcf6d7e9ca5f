// native! and action!: making them from [spec index], their reflection, texts and
// identity comparison.
#include "runtime/datatypes/native.h"

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/callable.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"
#include "runtime/binding/word-table.h"

namespace zor::native {

namespace {

inline constexpr int EXTRAS_CELLS = 2;

[[noreturn]] void bad_make_arg(type_id type, const cell* spec) {
    cell target;
    datatype::make_in(&target, type);
    raise::bad_make_arg(&target, spec);
}

// Whether the 1-based index names a native of the natives table (a filled entry: the table
// has room beyond the natives that exist) or one of the 62 actions.
bool names_entry(type_id type, int32_t index) {
    if (type == TYPE_NATIVE) return upcalls::native_exists && upcalls::native_exists(index);
    return index >= 1 && index <= ACTION_COUNT;
}

bool is_field(int field_symbol, int32_t symbol) {
    return symbol::canonical_id(field_symbol) == symbol::canonical_id(symbol);
}

int append_text(cell* output, const char* text, int length, int budget) {
    string::append_c_string(output, text);
    return callable::spend(budget, length);
}

}  // namespace

cell* make(cell* /*value*/, cell* spec, type_id type) {
    // The argument holds exactly the two cells [spec index] from its own index, the first a
    // block. (Counting from the buffer's head and adding the spec's own index would accept
    // blocks of other lengths and read cells that are not the argument's.)
    if (!spec->is(TYPE_BLOCK)) bad_make_arg(type, spec);
    int32_t at = series::index_of(spec);
    if (at < 0 || block::rest_length(spec) != 2 || !block::get_cell(spec, at)->is(TYPE_BLOCK)) {
        bad_make_arg(type, spec);
    }

    cell* result = stack::push_slot();
    cell* argument = stack::push_copy(spec);
    node_ref extras = memory::alloc_unset_cells(EXTRAS_CELLS);
    // Complete at once: from here on the cell itself keeps the spec and the extras alive.
    *result = cell{type, 0, block::get_cell(argument, at)->w2, extras};

    node_ref arguments = context::make_from_words(argument, true, false, context::KIND_FUNCTION);
    // The extras series has room for both cells, so appending them allocates nothing and
    // the new context's node cannot move before its cell is copied.
    memory::series_buffer* x = memory::buffer_of(result->w3);
    *memory::alloc_tail_cell(x) = *context::context_cell(arguments);
    *memory::alloc_tail_cell(x) = cell{TYPE_NONE, 0, 0, 0};

    const cell index = *block::get_cell(argument, at + 1);
    if (!index.is(TYPE_INTEGER) || !names_entry(type, integer::read_cell(&index))) bad_make_arg(type, spec);
    result->w1 = static_cast<uint32_t>(integer::read_cell(&index) - 1);
    stack::drop_slots(1);
    return result;
}

cell* reflect(cell* value, int field_symbol) {
    if (is_field(field_symbol, symbols::spec)) {
        cell spec = callable::spec_block(value);
        return stack::push_copy(&spec);
    }
    if (is_field(field_symbol, symbols::body)) {
        uint32_t source = (value->header >> 16) & 0xFF;
        if (value->is(TYPE_OP) && (source == TYPE_FUNCTION || source == TYPE_ROUTINE)) {
            return stack::push_copy(memory::buffer_of(value->w3)->head_cell());
        }
        return integer::push(table_index(value));
    }
    raise::throw_error(err::internal_not_done);
}

int form(cell* /*value*/, cell* output, cell* /*part*/, int budget) { return append_text(output, "?native?", 8, budget); }

// "make native! [" ... "]" around the spec block molded with the caller's options.
int mold_as(const char* opening, cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget,
            int indent) {
    stack::slot_mark mark;
    cell spec_cell = callable::spec_block(value);
    cell* spec = stack::push_copy(&spec_cell);
    budget = append_text(output, opening, 14, budget);
    budget = block::mold(spec, output, only, all, flat, part, budget, indent);
    return append_text(output, "]", 1, budget);
}

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    return mold_as("make native! [", value, output, only, all, flat, part, budget, indent);
}

int compare(cell* value, cell* other, int op) { return callable::compare_identity(value, other, op, value->w1, other->w1); }

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_REFLECT>(&reflect);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    type_registry::register_type(TYPE_NATIVE, TYPE_NONE_ID, "native!", list);
}

}  // namespace zor::native

namespace zor::action_ {

int form(cell* /*value*/, cell* output, cell* /*part*/, int budget) {
    string::append_c_string(output, "?action?");
    return callable::spend(budget, 8);
}

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    return native::mold_as("make action! [", value, output, only, all, flat, part, budget, indent);
}

int compare(cell* value, cell* other, int op) { return callable::compare_identity(value, other, op, value->w1, other->w1); }

void init_type() {
    // Everything but reflect is action!'s own or not supported.
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&native::make);
    list.inherit(ACTION_REFLECT);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    type_registry::register_type(TYPE_ACTION, TYPE_NATIVE, "action!", list);
}

}  // namespace zor::action_
