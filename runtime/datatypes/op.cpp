// op!: making an operator from a callable, and its texts and comparison.
#include "runtime/datatypes/op.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/callable.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/fast-paths.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/binding/word-table.h"

namespace zor::op {

namespace {

bool names(const cell* word, int32_t symbol) {
    return symbol::canonical_id(static_cast<int32_t>(word->w2)) == symbol::canonical_id(symbol);
}

int append_text(cell* output, const char* text, int length, int budget) {
    string::append_c_string(output, text);
    return callable::spend(budget, length);
}

// The inline core that may stand for a call of an op! of the source (see inline_code):
// read from the descriptors that the source's calls use, built now unless building them
// would raise, which the op's first call then does, as it would have without this.
int inline_code_of(cell* source) {
    const int code = fast_paths::operator_code(source->type(), native::table_index(source));
    if (code < 0) return -1;
    // The type blocks (a leading block holds attributes, which no descriptor reads).
    memory::series_buffer* b = memory::buffer_of(callable::spec_block(source).w2);
    for (const cell* c = b->head_cell() + 1; c < b->tail_cell(); ++c) {
        if (c->is(TYPE_BLOCK) && !typeset::reads_cleanly(c)) return -1;
    }
    stack::slot_mark mark;
    return fast_paths::takes_inline_operands(function::argument_descriptors(source)) ? code : -1;
}

}  // namespace

bool check_arity(const cell* spec) {
    memory::series_buffer* b = memory::buffer_of(spec->w2);
    int count = 0;
    bool plain_seen = false;
    for (const cell* c = b->head_cell(); c < b->tail_cell(); ++c) {
        switch (c->type()) {
            case TYPE_WORD:
                ++count;
                plain_seen = true;
                break;
            case TYPE_LIT_WORD: case TYPE_GET_WORD:
                if (!plain_seen) return false;
                ++count;
                break;
            case TYPE_SET_WORD:
                return count == 2;
            case TYPE_REFINEMENT:
                return (names(c, refinements::local.symbol()) || names(c, refinements::extern_.symbol())) && count == 2;
            default:
                break;
        }
    }
    return count == 2;
}

cell* make(cell* /*value*/, cell* spec, type_id /*type*/) {
    type_id source = spec->type();
    switch (source) {
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE:
            break;
        default: {
            cell type;
            datatype::make_in(&type, source);
            raise::throw_error(err::script_invalid_type, &type);
        }
    }
    cell source_spec = callable::spec_block(spec);
    if (!check_arity(&source_spec)) raise::throw_error(err::script_bad_op_spec);
    return push_of(spec);
}

cell* push_of(cell* source) {
    const type_id type = source->type();
    const int code = inline_code_of(source);
    cell* result = stack::push_copy(source);
    if (type == TYPE_FUNCTION || type == TYPE_ROUTINE) {
        *function::extras_cell(result, function::EXTRAS_OP_SOURCE) = *source;
    }
    result->header = (uint32_t(type) << SOURCE_SHIFT) | (uint32_t(code + 1) << INLINE_SHIFT) | TYPE_OP;
    return result;
}

int form(cell* /*value*/, cell* output, cell* /*part*/, int budget) { return append_text(output, "?op?", 4, budget); }

// "make op! func " and the source function's spec and body; "make op! [" and the spec and
// "]" for any other source. The spec is molded with the default options, the body with
// the caller's.
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    stack::slot_mark mark;
    bool of_function = source_type(value) == TYPE_FUNCTION;
    cell spec_cell = callable::spec_block(value);
    cell* spec = stack::push_copy(&spec_cell);
    cell* body = stack::push_copy(of_function ? function::extras_cell(value, function::EXTRAS_BODY) : &spec_cell);
    budget = append_text(output, "make op! ", 9, budget);
    budget = of_function ? append_text(output, "func ", 5, budget) : append_text(output, "[", 1, budget);
    budget = block::mold(spec, output, false, false, false, part, budget, indent);
    if (!of_function) return append_text(output, "]", 1, budget);
    if (!body->is(TYPE_BLOCK)) return budget;
    return actions::dispatch_mold(body, output, only, all, flat, part, budget, indent);
}

int compare(cell* value, cell* other, int op) { return callable::compare_identity(value, other, op, value->w1, other->w1); }

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.inherit(ACTION_REFLECT);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    type_registry::register_type(TYPE_OP, TYPE_NATIVE, "op!", list);
}

}  // namespace zor::op
