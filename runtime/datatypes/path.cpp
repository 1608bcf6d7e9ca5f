// The path types: registration, cell builders, make and to, form and mold, copy; and the
// cell builder of paren!.
#include "runtime/datatypes/path.h"

#include <algorithm>
#include <cmath>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/callable.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/type-classes.h"

namespace zor::path {

namespace {

int64_t length_of(const cell* block) { return memory::buffer_of(block->w2)->length(); }

// A new block-like value made typed as the target: no flags, no word 3.
cell* retyped(cell* value, type_id type) {
    value->header = type;
    value->w3 = 0;
    return value;
}

cell* push_typed(cell* value, type_id type) {
    value->header = type;
    return stack::push_copy(value);
}

// A size given as a number: an integer!, or a float! or percent! truncated toward zero.
int64_t capacity_of(const cell* size) {
    if (size->is(TYPE_INTEGER)) return integer::read_cell(size);
    double d = float_::get(size);
    if (!(d > -2147483649.0 && d < 2147483648.0)) raise::throw_error(err::script_out_of_range, size);
    return static_cast<int64_t>(std::trunc(d));
}

// Every element from the index, formed or molded, joined by "/". The series stays on the
// mold cycle stack meanwhile, so a path inside itself is written as its cycle mark.
int write_elements(cell* path, cell* output, bool mold, bool only, bool all, bool flat, cell* part, int budget,
                   int indent) {
    if (mold_guard::emit_cycle_mark(path, output, &budget, mold)) return budget;
    stack::slot_mark mark;
    cell* held = stack::push_copy(path);
    cell* element = stack::push_slot();
    mold_guard::scope guard(held->w2);
    int64_t first = std::clamp<int64_t>(series::index_of(held), 0, length_of(held));
    for (int64_t i = first; i < length_of(held); ++i) {
        if (part && budget < 1) break;
        *element = *block::get_cell(held, i);
        budget = mold ? actions::dispatch_mold(element, output, only, all, flat, part, budget, indent)
                      : actions::dispatch_form(element, output, part, budget);
        if (i + 1 < length_of(held)) {
            string::append_c_string(output, "/");
            budget = callable::spend(budget, 1);
        }
    }
    return budget;
}

int append_marker(cell* output, const char* marker, int budget) {
    string::append_c_string(output, marker);
    return callable::spend(budget, 1);
}

}  // namespace

cell* push(cell* value) { return push_typed(value, TYPE_PATH); }

cell* make_empty(cell* destination, int64_t capacity) {
    block::make_empty(destination, std::max<int64_t>(capacity, 1));
    destination->header = TYPE_PATH;
    return destination;
}

cell* make(cell* /*value*/, cell* spec, type_id type) {
    if (type_classes::is(spec->type(), type_classes::ANY_BLOCK)) return retyped(block::push_copy(spec, false, false), type);
    if (type_classes::is(spec->type(), type_classes::NUMBER)) {
        return retyped(block::push_empty(std::max<int64_t>(capacity_of(spec), 1)), type);
    }
    cell target;
    datatype::make_in(&target, type);
    raise::bad_make_arg(&target, spec);
}

cell* to(cell* value, cell* spec, type_id type) {
    switch (spec->type()) {
        case TYPE_OBJECT: case TYPE_TYPESET: case TYPE_MAP: {
            cell* result = block::push_empty(1);
            block::append_copy(result, spec);
            return retyped(result, type);
        }
        default:
            return retyped(block::to(value, spec, type), type);
    }
}

int form(cell* path, cell* output, cell* part, int budget) {
    return write_elements(path, output, false, false, false, false, part, budget, 0);
}

int mold(cell* path, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    return write_elements(path, output, true, only, all, flat, part, budget, indent);
}

cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    type_id type = value->type();
    block::copy(value, result, part, deep, types);
    cell::set_type(result, type);
    return result;
}

void init_type() {
    type_registry::action_list list(TYPE_BLOCK);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_TO>(&to);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COPY>(&copy);
    list.unsupported(ACTION_RANDOM).unsupported(ACTION_SET_PATH).unsupported(ACTION_SORT);
    for (int a = ACTION_ABSOLUTE; a <= ACTION_XOR_T; ++a) list.unsupported(static_cast<action>(a));
    for (int a = ACTION_TRIM; a <= ACTION_DELETE; ++a) list.unsupported(static_cast<action>(a));
    for (int a = ACTION_OPEN; a <= ACTION_WRITE; ++a) list.unsupported(static_cast<action>(a));
    type_registry::register_type(TYPE_PATH, TYPE_BLOCK, "path!", list);
}

}  // namespace zor::path

namespace zor::lit_path {

cell* push(cell* value) { return path::push_typed(value, TYPE_LIT_PATH); }

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    budget = path::append_marker(output, "'", budget);
    return path::mold(value, output, only, all, flat, part, budget, indent);
}

void init_type() {
    type_registry::action_list list(TYPE_PATH);
    list.set<ACTION_MOLD>(&mold);
    type_registry::register_type(TYPE_LIT_PATH, TYPE_PATH, "lit-path!", list);
}

}  // namespace zor::lit_path

namespace zor::set_path {

cell* push(cell* value) { return path::push_typed(value, TYPE_SET_PATH); }

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    budget = path::mold(value, output, only, all, flat, part, budget, indent);
    return path::append_marker(output, ":", budget);
}

void init_type() {
    type_registry::action_list list(TYPE_PATH);
    list.set<ACTION_MOLD>(&mold);
    type_registry::register_type(TYPE_SET_PATH, TYPE_PATH, "set-path!", list);
}

}  // namespace zor::set_path

namespace zor::get_path {

cell* push(cell* value) { return path::push_typed(value, TYPE_GET_PATH); }

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    budget = path::append_marker(output, ":", budget);
    return path::mold(value, output, only, all, flat, part, budget, indent);
}

void init_type() {
    type_registry::action_list list(TYPE_PATH);
    list.set<ACTION_MOLD>(&mold);
    type_registry::register_type(TYPE_GET_PATH, TYPE_PATH, "get-path!", list);
}

}  // namespace zor::get_path

namespace zor::paren {

cell* push(cell* value) { return path::push_typed(value, TYPE_PAREN); }

}  // namespace zor::paren
