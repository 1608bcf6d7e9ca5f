// The evaluation natives: do, reduce, compose and apply, which hand values to the
// interpreter in their various ways.
//
// Every value they build or walk lives in an argument-stack slot (or, across a call that
// cuts the stack to the result slot, in a gc::root_guard), and every block is read again
// through its cell after anything that can evaluate. A break, continue, return, exit or
// throw inside the code they run comes back as the interpreter's pending exit: they
// return its code at once and leave the stacks as they are, except `do`, which first ends
// a tracing session it started and hands the exit back by the rule of pass_exit.
#include <algorithm>
#include <vector>

#include "platform/process.h"
#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/invoke.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/eval/tracing.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "runtime/value/type-classes.h"

namespace zor::natives {

namespace {

const cell none_cell{TYPE_NONE, 0, 0, 0};

cell* argument(int n) { return stack::argument(n); }

int64_t length_of(const cell* series) { return memory::buffer_of(series->w2)->length(); }

// The index of a block-like value clamped to 0..length.
int64_t clamped_index(const cell* series) {
    int64_t i = static_cast<int32_t>(series->w1);
    return std::clamp<int64_t>(i, 0, length_of(series));
}

bool is_any_function(type_id type) {
    return type == TYPE_NATIVE || type == TYPE_ACTION || type == TYPE_OP || type == TYPE_FUNCTION ||
           type == TYPE_ROUTINE;
}

// script/no-arg naming the function's word and the argument's word.
[[noreturn]] void no_arg(const cell* function_word, const cell* argument_word) {
    cell* where = stack::push_copy(function_word);
    cell::set_type(where, TYPE_WORD);
    cell* named = stack::push_copy(argument_word);
    cell::set_type(named, TYPE_WORD);
    raise::throw_error(err::script_no_arg, where, named);
}

// Deep recursion (compose/deep of a deeply nested block) raises the catchable stack
// overflow before the thread's stack runs out.
void check_native_depth() {
    if (platform::native_stack_low()) {
        mold_guard::reset();
        raise::throw_error(err::internal_stack_overflow);
    }
}

}  // namespace

// --- Functions of the boot environment ------------------------------------------------------

// The value of a name in the global context; null when no such word has been made.
const cell* global_value(const char* name) {
    int32_t symbol = symbol::find(name);
    return symbol ? context::value_of_symbol(context::global, symbol) : nullptr;
}

// Calls a function! (in a slot) as the interpreter calls one: a function frame named by
// the symbol's word, the given arguments, then the rest of its argument section (logic!
// false for a refinement key, none! for the others). The result is pushed; a pending exit
// is left as it is.
uint32_t call_function(cell* function, int32_t symbol, const cell* const* arguments, int count) {
    cell* word = stack::push_slot();
    word::make_global_in_cell(symbol, word);
    cell* reserved = stack::push_copy(function);
    stack::push_function_frame(word, function->w1);
    for (int i = 0; i < count; ++i) stack::push_copy(arguments[i]);
    const int32_t keys = context::key_count(function->w1);
    for (int32_t k = count; k < keys; ++k) {
        if (context::word_at(function->w1, k)->is(TYPE_REFINEMENT)) logic::make_in(stack::push_slot(), false);
        else *stack::push_slot() = none_cell;
    }
    eval::invoke_function(reserved, reserved->w1, word, 0);
    if (stack::exit_pending()) return stack::pending_code;
    stack::pop_function_frame();
    *word = *stack::last_slot();
    stack::state.args_top = word + 1;
    return 0;
}

namespace {

// The preprocessor's expand on the block (in place), once the library has installed
// `preprocessor`; until then the code runs as it is.
uint32_t expand_directives(cell* block) {
    const cell* preprocessor = global_value("preprocessor");
    int32_t expand_symbol = symbol::find("expand");
    const cell* expand = preprocessor && preprocessor->is(TYPE_OBJECT) && expand_symbol
                             ? context::value_of_symbol(preprocessor->w1, expand_symbol)
                             : nullptr;
    if (!expand || !expand->is(TYPE_FUNCTION)) return 0;
    cell* function = stack::push_copy(expand);
    const cell no = logic::false_value;
    const cell* arguments[] = {block, &none_cell, &no};
    if (uint32_t code = call_function(function, expand_symbol, arguments, 3)) return code;
    stack::drop_slots(2);  // the result and the function
    return 0;
}

// do of a file! or url!: the boot environment's do-file runs the script. A program that
// unset or replaced the word gets script/no-value naming it.
uint32_t do_file(const native_invocation& call) {
    const cell* do_file_value = global_value("do-file");
    if (!do_file_value || !do_file_value->is(TYPE_FUNCTION)) {
        cell* name = stack::push_slot();
        word::make_global_in_cell(symbol::make("do-file"), name);
        raise::throw_error(err::script_no_value, name);
    }
    cell* function = stack::push_copy(do_file_value);
    const cell* arguments[] = {argument(0), &none_cell, call.has(1) ? argument(call.position(1)) : &none_cell};
    if (uint32_t code = call_function(function, symbol::find("do-file"), arguments, 3)) return code;
    stack::set_result_truncate(stack::last_slot());
    return 0;
}

// --- do -----------------------------------------------------------------------------------

// A block, paren or hash: whole, or with /next one expression (the position word then
// names the block after it). /expand expands the directives first.
uint32_t do_block(const cell* block, const native_invocation& call) {
    cell* code = stack::push_copy(block);
    code->w1 = static_cast<uint32_t>(clamped_index(code));
    if (call.has(0)) {
        if (uint32_t exit = expand_directives(code)) return exit;
        code->w1 = static_cast<uint32_t>(clamped_index(code));
    }
    if (!call.has(2)) {
        uint32_t exit = eval::do_block(code);
        if (!exit) stack::keep_result_slot();
        return exit;
    }
    // The result lands in the result slot and the stack is cut there, so the block and the
    // word are kept under a root guard.
    cell kept[2] = {*code, *argument(call.position(2))};
    gc::root_guard guard(kept, 2);
    int64_t next = eval::do_next(code);
    if (stack::exit_pending()) return stack::pending_code;
    kept[0].w1 = static_cast<uint32_t>(next);
    word::set_value(&kept[1], &kept[0]);
    stack::keep_result_slot();
    return 0;
}

uint32_t evaluate(const native_invocation& call) {
    cell* value = argument(0);
    if (type_classes::is(value->type(), type_classes::ANY_LIST)) return do_block(value, call);
    switch (value->type()) {
        case TYPE_STRING: {
            cell* loaded = stack::push_slot();
            int64_t consumed = 0;
            lexer::scan_string(loaded, value, -1, lexer::scan_request{}, &consumed);
            return do_block(loaded, call);
        }
        case TYPE_FILE: case TYPE_URL:
            return do_file(call);
        case TYPE_PATH:
            eval::eval_path(value, nullptr, 0, false, false, false, nullptr);
            return stack::pending_code;
        case TYPE_ERROR:
            stack::throw_error(value);
        default:
            return eval::eval_value(value);
    }
}

// --- reduce and compose -------------------------------------------------------------------

// Where reduce and compose put their values: a new block, or /into's out (appended when
// out is at its tail, else inserted at its index, each value after the previous one).
struct output {
    cell* result;  // the value to answer: the new block, or out as given
    cell* cursor;  // the insertion point (a slot of its own)
    bool append;
};

output open_output(const native_invocation& call, int into_refinement, int64_t size) {
    if (call.has(into_refinement)) {
        cell* out = argument(call.position(into_refinement));
        cell* cursor = stack::push_copy(out);
        return {out, cursor, static_cast<int32_t>(cursor->w1) >= length_of(cursor)};
    }
    cell* made = block::push_empty(std::max<int64_t>(size, 1));
    return {made, made, true};
}

// Adds one value (a slot), or with splice the items of a block from its index.
void add(output& out, cell* value, bool splice) { block::append(out.cursor, value, -1, !splice, 1, out.append); }

uint32_t finish(const output& out) {
    const cell result = *out.result;
    stack::set_result_truncate(&result);
    return 0;
}

// The slots of the blocks being composed, outermost first: a block met inside itself
// would be composed forever.
struct compose_walk {
    std::vector<cell*> sources;
    bool deep;
    bool only;
};

uint32_t compose_block(compose_walk& walk, cell* source, output& out) {
    check_native_depth();
    for (const cell* outer : walk.sources) {
        if (outer->w2 == source->w2) {
            cell* named = stack::push_copy(source);
            raise::throw_error(err::internal_no_cycle, named);
        }
    }
    walk.sources.push_back(source);
    cell* top = stack::state.args_top;
    for (int64_t i = clamped_index(source); i < length_of(source); ++i) {
        cell* item = stack::push_copy(block::get_cell(source, i));
        if (item->is(TYPE_BLOCK) && walk.deep) {
            cell* nested = block::push_empty(std::max<int64_t>(block::rest_length(item), 1));
            nested->header |= item->header & FLAG_NEW_LINE;
            output inner{nested, nested, true};
            if (uint32_t code = compose_block(walk, item, inner)) return code;
            add(out, nested, false);
        } else if (item->is(TYPE_PAREN)) {
            if (block::rest_length(item) > 0) {
                cell* result = stack::state.args_top;
                if (uint32_t code = eval::eval_block(item, false)) return code;
                if (!result->is(TYPE_UNSET)) add(out, result, result->is(TYPE_BLOCK) && !walk.only);
            }
        } else {
            add(out, item, false);
        }
        stack::state.args_top = top;
    }
    walk.sources.pop_back();
    return 0;
}

// Pushes the value of a one-value expression (a word's value, a function called ...).
uint32_t push_evaluated(const cell* value) {
    stack::push_call_frame(words::body);
    stack::push_slot();
    if (uint32_t code = eval::eval_value(value)) return code;
    stack::pop_frame();
    return 0;
}

// --- apply --------------------------------------------------------------------------------

// The argument descriptor block of a callable (runtime/datatypes/function.h), in a slot.
struct descriptors {
    cell* block;
    int32_t entry_count() const { return integer::read_cell(block::get_cell(block, 1)); }
    int32_t positional() const { return integer::read_cell(block::get_cell(block, 0)); }
    const cell* word(int32_t entry) const { return block::get_cell(block, 2 + 2 * int64_t(entry)); }
    const cell* detail(int32_t entry) const { return block::get_cell(block, 3 + 2 * int64_t(entry)); }
    bool is_refinement(int32_t entry) const { return word(entry)->is(TYPE_REFINEMENT); }
    bool is_local(int32_t entry) const {
        return is_refinement(entry) &&
               symbol::canonical_id(int32_t(word(entry)->w2)) == symbol::canonical_id(refinements::local.symbol());
    }
    int32_t argument_count(int32_t entry) const { return integer::read_cell(detail(entry)); }
};

// apply/all: args is the argument section itself. As in a call written out, a refinement
// that is used needs all its arguments.
void check_all_arguments(const descriptors& d, const cell* args, const cell* function_word) {
    int64_t position = clamped_index(args) + d.positional();
    const int64_t tail = length_of(args);
    for (int32_t e = d.positional(); e < d.entry_count(); ++e) {
        if (!d.is_refinement(e)) continue;
        if (d.is_local(e)) break;
        bool used = position < tail && is_truthy(block::get_cell(args, position));
        if (position < tail) ++position;
        int32_t count = d.argument_count(e);
        if (used && position + count > tail) {
            cell missing = *d.word(e + 1 + static_cast<int32_t>(tail - position));
            no_arg(function_word, &missing);
        }
        position += count;
        e += count;
    }
}

// Appends the cell at a position of a block to another block.
void append_from(cell* destination, const cell* source, int64_t position) {
    cell* value = stack::push_copy(block::get_cell(source, position));
    block::append_copy(destination, value);
    stack::drop_slots(1);
}

// apply/safer: the argument section built from args' values taken as they are: the
// positional arguments, then for every refinement of the spec its flag and its arguments,
// which for the refinements named in the path come from args in the order written.
cell* literal_section(const descriptors& d, cell* args, const cell* path, const cell* function_word) {
    cell* section = block::push_empty(std::max<int32_t>(d.entry_count(), 1));
    int64_t position = clamped_index(args);
    for (int32_t e = 0; e < d.positional(); ++e) {
        if (position < length_of(args)) {
            append_from(section, args, position++);
            continue;
        }
        // As in a call written out: only an optional literal argument may be missing.
        if (d.word(e)->is(TYPE_LIT_WORD) && typeset::has(d.detail(e), TYPE_UNSET)) {
            cell unset;
            cell::init_unset(&unset);
            block::append_copy(section, &unset);
            continue;
        }
        const cell missing = *d.word(e);
        no_arg(function_word, &missing);
    }
    struct refinement {
        int32_t entry;
        int32_t count;
        int64_t first = -1;  // the position in args of its first argument when used
    };
    std::vector<refinement> refinements_of_spec;
    for (int32_t e = d.positional(); e < d.entry_count(); ++e) {
        if (!d.is_refinement(e)) continue;
        if (d.is_local(e)) break;
        refinements_of_spec.push_back({e, d.argument_count(e)});
        e += d.argument_count(e);
    }
    const int64_t path_length = path ? length_of(path) : 0;
    for (int64_t k = path ? clamped_index(path) + 1 : 0; k < path_length; ++k) {
        cell* element = stack::push_copy(block::get_cell(path, k));
        bool use = true;
        if (element->is(TYPE_GET_WORD)) {
            use = is_truthy(word::get_value(element));
        } else if (!element->is(TYPE_WORD)) {
            raise::throw_error(err::script_bad_refine, element);
        }
        refinement* found = nullptr;
        for (refinement& r : refinements_of_spec) {
            if (symbol::canonical_id(int32_t(d.word(r.entry)->w2)) == symbol::canonical_id(int32_t(element->w2))) {
                found = &r;
                break;
            }
        }
        if (!found) {
            cell* where = stack::push_copy(function_word);
            cell::set_type(where, TYPE_WORD);
            cell::set_type(element, TYPE_REFINEMENT);
            raise::throw_error(err::script_no_refine, where, element);
        }
        stack::drop_slots(1);
        if (!use) continue;
        if (found->first >= 0) {
            cell* named = stack::push_copy(path);
            raise::throw_error(err::script_dup_refine, named);
        }
        found->first = position;
        if (position + found->count > length_of(args)) {
            const cell missing = *d.word(found->entry + 1 + static_cast<int32_t>(length_of(args) - position));
            no_arg(function_word, &missing);
        }
        position += found->count;
    }
    for (const refinement& r : refinements_of_spec) {
        cell flag;
        logic::make_in(&flag, r.first >= 0);
        block::append_copy(section, &flag);
        for (int32_t a = 0; a < r.count; ++a) {
            if (r.first >= 0) append_from(section, args, r.first + a);
            else block::append_copy(section, &none_cell);
        }
    }
    return section;
}

// Ends a tracing session while a throw (an error, quit, or an exit crossing C++ code)
// unwinds through `do`. The frames are already cut down to where that throw lands, so
// the tracer's end event runs above a try frame of its own: an error the tracer raises
// there then takes the place of the one passing, instead of finding no try frame left.
// The caller rethrows what was passing when this returns.
void end_session_while_unwinding() {
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        tracing::uninstall();
    } catch (const zor_throw& thrown) {
        if (thrown.code != THROW_ERROR) {
            guard.release();
            throw;
        }
        // The tracer's error lies on the stack's top, where the catch point that takes
        // it looks for it.
        guard.release();
        throw_code(THROW_ERROR);
    }
}

}  // namespace

// do value /expand /args arg /next position /trace callback
uint32_t native_do(const native_invocation& call) {
    const bool interpreter_caller = called_by_interpreter();
    bool traced = false;
    bool marked_caller = false;  // the session made the caller's frame a function body
    if (call.has(3)) {
        stack::frame* caller = stack::frame_depth() >= 2 ? stack::state.frames_top - 2 : nullptr;
        const bool caller_was_body = caller && (caller->header & stack::FRAME_BODY_FLAG);
        traced = tracing::install(argument(call.position(3)));
        marked_caller = traced && caller && !caller_was_body;
    }
    uint32_t code = 0;
    try {
        code = stack::catch_exits([&] { (void)evaluate(call); });
    } catch (const zor_throw&) {
        if (traced) end_session_while_unwinding();
        throw;
    }
    if (traced) {
        tracing::uninstall();
        // A return or exit stopped at the frame the session marked: it goes on from there,
        // now with tracing off, to the function body it was meant for.
        if (marked_caller && (code == THROW_RETURN || code == THROW_EXIT)) {
            code = stack::leave_function(code == THROW_RETURN);
        }
    }
    return code ? pass_exit(code, interpreter_caller) : 0;
}

// reduce value /into out
uint32_t native_reduce(const native_invocation& call) {
    cell* value = argument(0);
    if (!value->is(TYPE_BLOCK)) {
        if (!call.has(0)) {
            if (is_any_function(value->type())) {
                stack::keep_result_slot();
                return 0;
            }
            return eval::eval_value(value);
        }
        output out = open_output(call, 0, 1);
        cell* item = stack::push_copy(value);
        if (!is_any_function(item->type())) {
            if (uint32_t code = push_evaluated(item)) return code;
            item = stack::last_slot();
        }
        add(out, item, false);
        return finish(out);
    }
    cell* code = stack::push_copy(value);
    output out = open_output(call, 0, block::rest_length(code));
    stack::push_call_frame(words::body);
    cell* top = stack::state.args_top;
    for (int64_t position = clamped_index(code); position < length_of(code);) {
        position = eval::eval_next(code, position, true);
        if (stack::exit_pending()) return stack::pending_code;
        cell* item = stack::last_slot();
        cell::clear_new_line(item);
        add(out, item, false);
        stack::state.args_top = top;
    }
    stack::pop_frame_drop_values();
    return finish(out);
}

// compose value /deep /only /into out
uint32_t native_compose(const native_invocation& call) {
    cell* value = argument(0);
    if (!value->is(TYPE_BLOCK)) {
        cell* expected = stack::push_slot();
        *expected = datatype::value_of(TYPE_BLOCK);
        cell* given = stack::push_slot();
        *given = datatype::value_of(value->type());
        raise::throw_error(err::script_expect_val, expected, given);
    }
    cell* source = stack::push_copy(value);
    output out = open_output(call, 2, block::rest_length(source));
    compose_walk walk{{}, call.has(0), call.has(1)};
    if (uint32_t code = compose_block(walk, source, out)) return code;
    return finish(out);
}

// apply func args /all /safer
uint32_t native_apply(const native_invocation& call) {
    const bool all = call.has(0);
    const bool safer = call.has(1);
    cell* func = argument(0);
    cell* args = argument(1);
    cell* callee = stack::push_slot();
    cell* function_word = stack::push_slot();
    const cell* path = nullptr;
    if (func->is(TYPE_WORD)) {
        *function_word = *func;
        *callee = *word::get_value(func);
    } else if (func->type() >= TYPE_PATH && func->type() <= TYPE_GET_PATH) {
        const int64_t head = clamped_index(func);
        if (head >= length_of(func) || !block::get_cell(func, head)->is(TYPE_WORD)) {
            raise::throw_error(err::script_invalid_arg, func);
        }
        *function_word = *block::get_cell(func, head);
        *callee = *word::get_value(function_word);
        if (head + 1 < length_of(func)) path = func;
    } else {
        *function_word = *words::applied;
        *callee = *func;
    }
    if (!is_any_function(callee->type())) raise::throw_error(err::script_invalid_arg, func);
    if (!args->is(TYPE_BLOCK)) {
        cell types;
        typeset::clear(&types);
        typeset::add(&types, TYPE_BLOCK);
        raise::check_arg_type(&types, 1, args);
    }
    stack::set_interpreter_flag();

    uint32_t mode = eval::APPLY_EVALUATED;
    if (all || safer) {
        // Values taken as they are. An op! has two arguments and no refinements: its
        // section is args as given.
        mode = eval::APPLY_ALL | eval::APPLY_SAFER;
        if (all && path) raise::throw_error(err::script_bad_refines);
        if (!callee->is(TYPE_OP)) {
            descriptors d{function::argument_descriptors(callee)};
            if (all) {
                check_all_arguments(d, args, function_word);
            } else {
                args = literal_section(d, args, path, function_word);
                path = nullptr;
            }
        }
    }
    eval::apply(callee, args, mode, path, function_word);
    return stack::pending_code;
}

}  // namespace zor::natives
