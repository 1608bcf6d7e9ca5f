// error!: the error values that the runtime raises, and the error report.
#include "runtime/datatypes/error.h"

#include <cstdio>
#include <cstring>

#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory.h"
#include "runtime/output-hooks.h"
#include "runtime/type-registry.h"

namespace zor::error {

namespace {

// The interpreter's current code position; unset! until evaluation starts.
cell unset_position{TYPE_UNSET, 0, 0, 0};

cell* fields(const cell* error) { return memory::buffer_of(error->w1)->head_cell(); }

int append(cell* output, const char* text, int budget) {
    string::append_c_string(output, text);
    return budget - static_cast<int>(std::strlen(text));
}

int append_field(cell* output, cell* value, int budget) {
    if (value->is(TYPE_STRING)) {
        int64_t before = string::rest_length(output);
        string::append_units(output, value);
        return budget - static_cast<int>(string::rest_length(output) - before);
    }
    cell limit{TYPE_INTEGER, 0, 80, 0};
    return actions::dispatch_mold(value, output, false, false, true, &limit, 80, 0) - 80 + budget;
}

}  // namespace

void init_type() {
    type_registry::action_list list(TYPE_OBJECT);
    list.set<ACTION_FORM>(+[](cell* value, cell* output, cell* part, int budget) {
        return form_report(value, output, part, budget);
    });
    type_registry::register_type(TYPE_ERROR, TYPE_OBJECT, "error!", list);
}

cell* create(err id, const cell* arg1, const cell* arg2, const cell* arg3) {
    // The arguments wait in stack slots while the fields are allocated: a collection may
    // move what they refer to, and only rooted cells are kept current.
    cell* held = stack::state.args_top;
    for (const cell* a : {arg1, arg2, arg3}) stack::push_copy(a ? a : &none::value);
    node_ref node = memory::alloc_cells(FIELD_COUNT);
    memory::series_buffer* b = memory::buffer_of(node);
    cell* f = b->head_cell();
    for (int i = 0; i < FIELD_COUNT; ++i) f[i] = none::value;
    f[FIELD_CODE] = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(error_catalogue::code_of(id)), 0};
    for (int i = 0; i < 3; ++i) f[FIELD_ARG1 + i] = held[i];
    f[FIELD_NEAR] = unset_position;
    b->tail = b->head + FIELD_COUNT * sizeof(cell);
    *held = cell{TYPE_ERROR, node, ERROR_CLASS_ID, 0};
    stack::drop_slots(2);
    return held;
}

cell* field_of(const cell* error, field f) { return fields(error) + f; }

int code_of(const cell* error) { return static_cast<int32_t>(field_of(error, FIELD_CODE)->w2); }

void set_where(cell* error, const cell* where) {
    cell* w = field_of(error, FIELD_WHERE);
    if (w->is(TYPE_NONE)) *w = *where;
}

void record_stack_level(cell* error, int level) {
    cell* s = field_of(error, FIELD_STACK);
    if (!s->is(TYPE_BLOCK)) *s = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(level), 0};
}

int form_report(cell* error, cell* output, cell* part, int budget) {
    (void)part;
    int code = code_of(error);
    int category_index = code / 100;
    int id_index = code % 100 + 2;
    const error_catalogue::catalogue_id* id = error_catalogue::id_at(category_index, id_index);
    if (!id) {
        // An unknown category or id reports internal/invalid-error.
        category_index = error_catalogue::category_index(err::internal_invalid_error);
        id = &error_catalogue::id_of(err::internal_invalid_error);
    }
    budget = append(output, "*** ", budget);
    budget = append(output, error_catalogue::category(category_index).type, budget);
    budget = append(output, ": ", budget);
    const error_catalogue::template_piece* pieces = error_catalogue::pieces(*id);
    for (int i = 0; i < id->piece_count; ++i) {
        const auto& piece = pieces[i];
        if (piece.kind == error_catalogue::template_piece_kind::text) {
            budget = append(output, piece.text, budget);
        } else {
            budget = append_field(output, field_of(error, static_cast<field>(FIELD_ARG1 + piece.argument - 1)), budget);
        }
        if (i + 1 < id->piece_count && id->kind == error_catalogue::template_kind::block) budget = append(output, " ", budget);
    }
    budget = append(output, "\n*** Where: ", budget);
    cell* where = field_of(error, FIELD_WHERE);
    if (where->is(TYPE_STRING)) {
        budget = append_field(output, where, budget);
    } else if (where->is(TYPE_WORD) && type_registry::handler_of(TYPE_WORD, ACTION_FORM)) {
        budget = actions::dispatch_form(where, output, nullptr, budget);
    } else {
        budget = append(output, "???", budget);
    }
    budget = append(output, "\n*** Near : ", budget);
    cell limit{TYPE_INTEGER, 0, 40, 0};
    int64_t before = string::rest_length(output);
    actions::dispatch_mold(field_of(error, FIELD_NEAR), output, true, false, true, &limit, 40, 0);
    if (string::rest_length(output) - before > 40) string::truncate(output, before + 40);
    budget -= static_cast<int>(string::rest_length(output) - before);
    return budget;
}

void print_report(cell* error) {
    cell* output = string::push_empty();
    form_report(error, output, nullptr, 0x7FFFFFFF);
    output_hooks::call_value_hooks(output, true);
    stack::drop_slots(1);
}

}  // namespace zor::error
