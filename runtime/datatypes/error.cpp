// error!: making errors (by the runtime, from a code, a block or a string), their fields,
// the call trail, and the error report.
//
// The call trail reads the frame records up to the frame position kept in the stack
// field. By the time it is read the frames above the current top have been popped: their
// records are still in place, but the contexts they name may have been collected since,
// so for those frames only the global context is consulted.
#include "runtime/datatypes/error.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/fatal.h"
#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue-objects.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/text/output-hooks.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"
#include "runtime/binding/word-table.h"

namespace zor::error {

namespace {

namespace objects = error_catalogue_objects;

cell settings_root{TYPE_NONE, 0, 0, 0};
cell unset_cell{TYPE_UNSET, 0, 0, 0};
// Where writes to a field go when an error lacks it (never read back).
cell missing_field{TYPE_NONE, 0, 0, 0};
int creating = 0;
constexpr int64_t ERROR_STACK_ROOM = 64;

enum settings_field : int { SETTINGS_TRACE_DEPTH = 2, SETTINGS_SOURCE_FILES = 3 };

void mark_settings() { gc::mark_cells(&settings_root, &settings_root + 1); }

int spend(int budget, int64_t written) { return static_cast<int>(std::max<int64_t>(int64_t(budget) - written, INT_MIN)); }

int append(cell* output, const char* text, int budget) {
    string::append_c_string(output, text);
    return spend(budget, static_cast<int64_t>(std::strlen(text)));
}

int append_string(cell* output, const cell* text, int budget) {
    string::append_units(output, text);
    return spend(budget, std::max<int64_t>(string::rest_length(text), 0));
}

bool names(int32_t symbol, const predefined_cell& word) {
    return word.root_index >= 0 && symbol > 0 && symbol::canonical_id(symbol) == symbol::canonical_id(word.symbol());
}

const cell* setting(int index) {
    if (!settings_root.is(TYPE_OBJECT)) return nullptr;
    return context::value_at(settings_root.w1, index);
}

// The trace depth setting when it is a positive integer, else 0.
int32_t trace_depth() {
    const cell* depth = setting(SETTINGS_TRACE_DEPTH);
    return depth && depth->is(TYPE_INTEGER) && integer::read_cell(depth) > 0 ? integer::read_cell(depth) : 0;
}

// A new error: a copy of the standard error prototype retyped to error!, class 1, the
// near field holding the interpreter's current code position. Answers the slot.
cell* push_blank() {
    if (!objects::ready()) {
        // Only a fault of start-up itself can raise before the catalogue exists.
        platform::quit_with_error(platform::RUNTIME_ERROR_ASSERTION, 0);
    }
    cell* made = object::push_copy(objects::standard_error(), false, nullptr, false);
    made->header = TYPE_ERROR;
    made->w2 = ERROR_CLASS_ID;
    made->w3 = 0;
    *context::self_cell(made->w1) = *made;
    if (upcalls::current_code) *field_of(made, FIELD_NEAR) = upcalls::current_code();
    else cell::init_unset(field_of(made, FIELD_NEAR));
    return made;
}

void set_code(cell* error, int32_t code) { integer::make_in(field_of(error, FIELD_CODE), code); }

// The category and id words of a catalogue entry. When the catalogue objects no longer
// name it (a script changed them), a global word of the generated name stands in.
void set_type_and_id(cell* error, int category_index, int id_index) {
    cell* word = stack::push_slot();
    if (!objects::category_word(category_index, word)) {
        word::make_global_in_cell(symbol::make(error_catalogue::category(category_index).name), word);
    }
    *field_of(error, FIELD_TYPE) = *word;
    if (!objects::id_word(category_index, id_index, word)) {
        const error_catalogue::catalogue_id* id = error_catalogue::id_at(category_index, id_index);
        word::make_global_in_cell(symbol::make(id ? id->name : "invalid-error"), word);
    }
    *field_of(error, FIELD_ID) = *word;
    stack::drop_slots(1);
}

// The value of the field named by the word in the error, or the shared none.
const cell* field_named(const cell* error, const cell* word) {
    int32_t index = context::find_symbol(error->w1, static_cast<int32_t>(word->w2), true);
    const cell* value = index >= 0 ? context::value_at(error->w1, index) : nullptr;
    return value ? value : &none::value;
}

// Rewrites the error as internal/invalid-error naming the word that was not found.
void rewrite_as_invalid(cell* error, const cell* culprit) {
    cell* held = stack::push_copy(culprit);
    *field_of(error, FIELD_ARG1) = *held;
    err e = err::internal_invalid_error;
    set_type_and_id(error, error_catalogue::category_index(e), error_catalogue::id_index(e));
    set_code(error, error_catalogue::code_of(e));
    stack::drop_slots(1);
}

// --- The call trail ---------------------------------------------------------------------------

bool is_callable(type_id t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

// The symbol of a frame that the trail lists, 0 when it leaves the frame out.
int32_t listed_symbol(const stack::frame* f, int32_t detail) {
    int32_t symbol = static_cast<int32_t>(f->symbol());
    if (symbol == 0 || symbol > symbol::count()) return 0;
    if (uint32_t(symbol) == stack::state.body_symbol || uint32_t(symbol) == stack::state.anon_symbol) return 0;
    if (detail > 1) return symbol;
    bool live = f < stack::state.frames_top;
    node_ref context = live && f->word_context ? f->word_context : context::global;
    const cell* value = context::value_of_symbol(context, symbol);
    return value && value->is(TYPE_FUNCTION) ? symbol : 0;
}

// The frames from the bottom up to the level (a frame position) that the trail walks.
int32_t trail_end(int32_t level) {
    int64_t capacity = stack::state.frames_end - stack::state.frames_begin;
    return static_cast<int32_t>(std::clamp<int64_t>(level, 0, capacity));
}

void collect_call_trail(int32_t detail, cell* block, int32_t level) {
    cell* word = stack::push_slot();
    int32_t end = trail_end(level);
    for (int32_t i = 0; i < end; ++i) {
        int32_t symbol = listed_symbol(stack::state.frames_begin + i, detail);
        if (!symbol) continue;
        word::make_global_in_cell(symbol, word);
        block::append_copy(block, word);
    }
    stack::drop_slots(1);
}

int form_call_trail(int32_t detail, cell* output, int32_t level, int budget) {
    cell* word = stack::push_slot();
    int32_t end = trail_end(level);
    for (int32_t i = 0; i < end; ++i) {
        int32_t symbol = listed_symbol(stack::state.frames_begin + i, detail);
        if (!symbol) continue;
        word::make_global_in_cell(symbol, word);
        budget = actions::dispatch_form(word, output, nullptr, budget);
        budget = append(output, " ", budget);
    }
    stack::drop_slots(1);
    return budget;
}

// Molds the value on one line without its outer brackets, cut at the limit; answers the
// budget less the characters written.
// Molds (or forms) the value onto the output. A value that cannot be shown (its mold
// raises: a point too large for its notation, a nesting too deep) shows as the name of
// its datatype instead, so a report always comes out whole and printing one never raises.
// Answers what is left of the budget, as the actions do.
int show_value(cell* value, cell* output, bool formed, bool only, cell* part, int budget) {
    int64_t before = string::length_from_head(output);
    type_id type = value->type();
    {
        stack::stack_guard guard;
        stack::push_try_frame();
        try {
            int left = formed ? actions::dispatch_form(value, output, part, budget)
                              : actions::dispatch_mold(value, output, only, false, true, part, budget, 0);
            stack::pending_code = 0;
            return left;
        } catch (const zor_throw& thrown) {
            if (thrown.code != THROW_ERROR) throw;
            stack::pending_code = 0;
        }
    }
    string::truncate(output, before);
    const type_registry::type_entry& entry = type_registry::type_entries[type];
    return append(output, entry.name, budget);
}

int append_molded_line(cell* value, cell* output, int limit, int budget) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(value);
    cell* part = integer::push(limit);
    int64_t before = string::length_from_head(output);
    (void)show_value(held, output, false, true, part, limit);
    int64_t written = string::length_from_head(output) - before;
    if (written > limit) {
        string::truncate(output, before + limit);
        written = limit;
    }
    return spend(budget, written);
}

// --- The error! actions -------------------------------------------------------------------------

cell* make(cell* /*value*/, cell* spec, type_id /*type*/) {
    cell* result = stack::push_slot();
    cell* source = stack::push_copy(spec);
    if (source->is(TYPE_STRING)) {
        *result = *create(err::user_message, source, nullptr, nullptr);
        stack::state.args_top = result + 1;
        return result;
    }
    if (!source->is(TYPE_INTEGER) && !source->is(TYPE_BLOCK)) {
        cell type = datatype::value_of(TYPE_ERROR);
        raise::bad_make_arg(&type, source);
    }
    cell* made = push_blank();
    if (source->is(TYPE_INTEGER)) {
        int32_t code = integer::read_cell(source);
        int32_t category = code / 100;
        if (code < 0 || category >= objects::category_count()) raise::throw_error(err::script_out_of_range, source);
        cell* word = stack::push_slot();
        if (!objects::category_word(category, word)) raise::throw_error(err::script_out_of_range, source);
        *field_of(made, FIELD_TYPE) = *word;
        if (!objects::id_word(category, code % 100 + 2, word)) raise::throw_error(err::script_out_of_range, source);
        *field_of(made, FIELD_ID) = *word;
        set_code(made, code);
    } else {
        int64_t at = series::clamped_index(source);
        int64_t length = memory::buffer_of(source->w2)->length();
        cell* first = stack::push_copy(at < length ? block::get_cell(source, at) : &unset_cell);
        int32_t category = -1, id = -1;
        if (first->is(TYPE_WORD)) {
            category = objects::category_index_of(static_cast<int32_t>(first->w2));
            if (category < 0) raise::throw_error(err::script_invalid_spec_field, words::type);
            *field_of(made, FIELD_TYPE) = *first;
            if (at + 1 >= length) raise::throw_error(err::script_invalid_spec_field, words::id);
            cell* second = stack::push_copy(block::get_cell(source, at + 1));
            if (!second->is(TYPE_WORD)) raise::throw_error(err::script_invalid_arg, second);
            id = objects::id_index_of(category, static_cast<int32_t>(second->w2));
            if (id < 0) raise::throw_error(err::script_invalid_spec_field, words::id);
            *field_of(made, FIELD_ID) = *second;
        } else if (first->is(TYPE_SET_WORD)) {
            context::bind_block(source, made->w1, true);
            object::evaluate_spec(source);
            cell* type = stack::push_copy(field_of(made, FIELD_TYPE));
            if (type->is(TYPE_WORD)) category = objects::category_index_of(static_cast<int32_t>(type->w2));
            if (category < 0) raise::throw_error(err::script_invalid_spec_field, words::type);
            cell* id_word = stack::push_copy(field_of(made, FIELD_ID));
            if (id_word->is(TYPE_WORD)) id = objects::id_index_of(category, static_cast<int32_t>(id_word->w2));
            if (id < 0) raise::throw_error(err::script_invalid_spec_field, words::id);
        } else {
            raise::throw_error(err::internal_invalid_error);
        }
        set_code(made, category * 100 + id - 2);
    }
    *result = *made;
    stack::state.args_top = result + 1;
    return result;
}

int form(cell* value, cell* output, cell* part, int budget) { return form_report(value, output, part, budget); }

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    if (mold_guard::emit_cycle_mark(value, output, &budget, true)) return budget;
    if (!only) budget = append(output, "make error! [", budget);
    budget = object::mold_fields(value, output, only, all, flat, part, budget, indent + 1, true);
    if (indent > 0) budget = string::append_indent(output, indent, budget);
    if (!only) budget = append(output, "]", budget);
    return budget;
}

int compare(cell* value, cell* other, int op) {
    if (!other->is(TYPE_ERROR)) return -2;
    return object::compare(value, other, op);
}

}  // namespace

// --- Registration and making -----------------------------------------------------------------------

void init_type() {
    // The settings root is registered with the type, so the set of roots does not change
    // when the settings are first set.
    static bool registered = false;
    if (!registered) {
        gc::add_mark_callback(&mark_settings);
        registered = true;
    }
    type_registry::action_list list(TYPE_OBJECT);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_EVAL_PATH>(&object::eval_path);
    list.set<ACTION_COMPARE>(&compare);
    type_registry::register_type(TYPE_ERROR, TYPE_OBJECT, "error!", list);
}

cell* create(err id, const cell* arg1, const cell* arg2, const cell* arg3) {
    // Making an error that fails itself cannot be reported as a language error.
    if (creating > 0) {
        platform::quit_with_error(id == err::internal_no_memory ? platform::RUNTIME_ERROR_NO_MEMORY
                                                                 : platform::RUNTIME_ERROR_ASSERTION,
                                  0);
    }
    struct creating_scope {
        creating_scope() { ++creating; }
        ~creating_scope() { --creating; }
    } scope;
    // The arguments wait in guarded cells while the error is allocated: a collection may
    // move what they refer to, and only rooted cells are kept current.
    cell held[3] = {arg1 ? *arg1 : none::value, arg2 ? *arg2 : none::value, arg3 ? *arg3 : none::value};
    gc::root_guard guard(held, 3);
    // Making an error takes a few dozen stack cells. An overflowing stack is abandoned by
    // the error anyway (the catch point restores it), so its last cells are taken over.
    if (stack::state.args_end - stack::state.args_top < ERROR_STACK_ROOM) {
        stack::state.args_top = std::max(stack::state.args_begin, stack::state.args_end - ERROR_STACK_ROOM);
    }
    cell* result = stack::push_slot();
    cell* made = push_blank();
    set_code(made, error_catalogue::code_of(id));
    set_type_and_id(made, error_catalogue::category_index(id), error_catalogue::id_index(id));
    for (int i = 0; i < 3; ++i) *field_of(made, static_cast<field>(FIELD_ARG1 + i)) = held[i];
    *result = *made;
    stack::state.args_top = result + 1;
    return result;
}

cell* field_of(const cell* error, field f) {
    cell* value = context::value_at(error->w1, f);
    if (value) return value;
    missing_field = none::value;
    return &missing_field;
}

int code_of(const cell* error) {
    const cell* code = field_of(error, FIELD_CODE);
    return code->is(TYPE_INTEGER) ? integer::read_cell(code) : -1;
}

int32_t get_type_symbol(const cell* error) {
    const cell* type = field_of(error, FIELD_TYPE);
    return word::is_any_word_type(type->type()) ? static_cast<int32_t>(type->w2) : 0;
}

int32_t get_id_symbol(const cell* error) {
    const cell* id = field_of(error, FIELD_ID);
    return word::is_any_word_type(id->type()) ? static_cast<int32_t>(id->w2) : 0;
}

void set_where(cell* error, const cell* where) {
    cell* w = field_of(error, FIELD_WHERE);
    if (w->is(TYPE_NONE)) *w = *where;
}

void record_stack_level(cell* error, int level) {
    cell* s = field_of(error, FIELD_STACK);
    if (!s->is(TYPE_BLOCK)) integer::make_in(s, level);
}

void capture_stack(cell* error) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(error);
    cell* stack_field = field_of(held, FIELD_STACK);
    if (stack_field->is(TYPE_INTEGER)) {
        int32_t level = integer::read_cell(stack_field);
        int32_t detail = std::max(trace_depth(), 1);
        cell* trail = block::push_empty(20);
        collect_call_trail(detail, trail, level);
        *field_of(held, FIELD_STACK) = *trail;
    }
    const cell* files = setting(SETTINGS_SOURCE_FILES);
    if (files && files->is(TYPE_BLOCK) && block::rest_length(files) > 0) {
        cell* source = stack::push_copy(files);
        cell* copy = block::push_copy(source, false, false);
        *field_of(held, FIELD_FILES) = *copy;
    }
}

cell get_argument_word(int n) {
    const stack::frame* found = nullptr;
    for (const stack::frame* f = stack::state.frames_top; f > stack::state.frames_begin;) {
        --f;
        uint32_t symbol = f->symbol();
        if (symbol == 0 || symbol == stack::state.body_symbol || symbol == stack::state.anon_symbol) continue;
        found = f;
        break;
    }
    cell anon = words::anon.root_index >= 0 ? *words::anon.get() : none::value;
    if (!found || static_cast<int32_t>(found->symbol()) > symbol::count()) return anon;
    node_ref context = found->word_context ? found->word_context : context::global;
    const cell* value = context::value_of_symbol(context, static_cast<int32_t>(found->symbol()));
    if (!value || !is_callable(value->type()) || !value->w2 || n < 0) return anon;
    memory::series_buffer* spec = memory::buffer_of(value->w2);
    int position = 0;
    for (const cell* c = spec->head_cell(); c < spec->tail_cell(); ++c) {
        type_id t = c->type();
        if (t != TYPE_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD && t != TYPE_REFINEMENT) continue;
        if (position++ == n) return *c;
    }
    return anon;
}

int expand_template(cell* template_block, cell* output, cell* error, int budget) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(template_block);
    cell* e = stack::push_copy(error);
    cell* item = stack::push_slot();
    cell* part = integer::push(MESSAGE_FIELD_LIMIT);
    bool syntax = names(get_type_symbol(e), words::syntax);
    for (int64_t i = 0;; ++i) {
        int64_t length = memory::buffer_of(held->w2)->length();
        if (i >= length) break;
        *item = *block::get_cell(held, i);
        if (item->is(TYPE_STRING)) {
            budget = append_string(output, item, budget);
        } else if (item->is(TYPE_WORD) || item->is(TYPE_GET_WORD)) {
            *item = *field_named(e, item);
            int64_t before = string::length_from_head(output);
            // Dropping the frame empties the stack down to the frame's base: the top is put
            // back where it was.
            cell* top = stack::state.args_top;
            stack::push_call_frame(nullptr);
            (void)show_value(item, output, syntax, false, part, MESSAGE_FIELD_LIMIT);
            stack::pop_frame_drop_values();
            stack::state.args_top = top;
            int64_t written = string::length_from_head(output) - before;
            if (written > MESSAGE_FIELD_LIMIT) {
                string::truncate(output, before + MESSAGE_FIELD_LIMIT);
                written = MESSAGE_FIELD_LIMIT;
            }
            budget = spend(budget, written);
        }
        if (i + 1 < memory::buffer_of(held->w2)->length()) budget = append(output, " ", budget);
    }
    return budget;
}

int form_report(cell* error, cell* output, cell* part, int budget) {
    stack::slot_mark mark;
    cell* e = stack::push_copy(error);
    cell* category = stack::push_slot();
    cell* message = stack::push_slot();
    cell* scratch = stack::push_slot();
    budget = append(output, "*** ", budget);

    // The category object, then the template; what the catalogue lacks is reported as an
    // invalid error naming it.
    *scratch = *field_of(e, FIELD_TYPE);
    int32_t category_index =
        word::is_any_word_type(scratch->type()) ? objects::category_index_of(static_cast<int32_t>(scratch->w2)) : -1;
    if (category_index < 0) {
        rewrite_as_invalid(e, scratch);
        category_index = error_catalogue::category_index(err::internal_invalid_error);
    }
    const cell* category_object = objects::category(category_index);
    *category = category_object ? *category_object : none::value;
    *scratch = *field_of(e, FIELD_ID);
    int32_t id_index = -1;
    if (category->is(TYPE_OBJECT) && word::is_any_word_type(scratch->type())) {
        id_index = objects::id_index_of(category_index, static_cast<int32_t>(scratch->w2));
    }
    if (id_index < 0 || !category->is(TYPE_OBJECT) || !context::value_at(category->w1, id_index) ||
        context::value_at(category->w1, id_index)->is(TYPE_NONE)) {
        rewrite_as_invalid(e, scratch);
        category_index = error_catalogue::category_index(err::internal_invalid_error);
        id_index = error_catalogue::id_index(err::internal_invalid_error);
        category_object = objects::category(category_index);
        *category = category_object ? *category_object : none::value;
    }
    const cell* found = category->is(TYPE_OBJECT) ? context::value_at(category->w1, id_index) : nullptr;
    *message = found ? *found : none::value;
    // A word template stands for a field of the error (user/message: arg1).
    bool from_field = false;
    if (message->is(TYPE_WORD)) {
        *message = *field_named(e, message);
        from_field = true;
    }

    // The title: the category's `type` text.
    const cell* title = category->is(TYPE_OBJECT) ? context::value_at(category->w1, 1) : nullptr;
    *scratch = title ? *title : none::value;
    if (scratch->is(TYPE_STRING)) budget = append_string(output, scratch, budget);
    else budget = actions::dispatch_form(scratch, output, nullptr, budget);
    budget = append(output, ": ", budget);

    if (message->is(TYPE_STRING)) {
        budget = append_string(output, message, budget);
    } else if (message->is(TYPE_BLOCK)) {
        budget = expand_template(message, output, e, budget);
    } else if (from_field) {
        budget = show_value(message, output, true, false, nullptr, budget);
    } else {
        // A template that is no text at all: no message, and the error names its category.
        *scratch = *field_of(e, FIELD_TYPE);
        rewrite_as_invalid(e, scratch);
    }

    budget = append(output, "\n*** Where: ", budget);
    *scratch = *field_of(e, FIELD_WHERE);
    if (scratch->is(TYPE_WORD)) budget = actions::dispatch_form(scratch, output, nullptr, budget);
    else if (scratch->is(TYPE_STRING)) budget = append_string(output, scratch, budget);
    else budget = append(output, "???", budget);

    budget = append(output, "\n*** Near : ", budget);
    *scratch = *field_of(e, FIELD_NEAR);
    budget = append_molded_line(scratch, output, NEAR_LIMIT, budget);

    if (trace_depth() > 0) {
        *scratch = *field_of(e, FIELD_STACK);
        if (scratch->is(TYPE_INTEGER)) {
            budget = append(output, "\n*** Stack: ", budget);
            budget = form_call_trail(trace_depth(), output, integer::read_cell(scratch), budget);
        } else if (scratch->is(TYPE_BLOCK)) {
            budget = append(output, "\n*** Stack: ", budget);
            budget = show_value(scratch, output, true, false, part, budget);
        }
    }

    *scratch = *field_of(e, FIELD_FILES);
    if (scratch->is(TYPE_BLOCK)) {
        budget = append(output, "\n*** Files: ", budget);
        budget = append_molded_line(scratch, output, NEAR_LIMIT, budget);
    }
    return budget;
}

void print_report(cell* error) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(error);
    cell* output = string::push_empty();
    form_report(held, output, nullptr, INT_MAX);
    output_hooks::call_value_hooks(output, true);
}

void set_settings(const cell* settings) { settings_root = *settings; }

}  // namespace zor::error
