// The boot routines that reach the runtime's own state: the process exit, quiet
// assignment, the shifts, the print natives' newline flag, the argument stack, the call
// trace and the tracing switch.
//
// Invariant: none of them evaluates code or keeps a pointer into a series buffer across
// an allocation; the assignments here never fire an object's change handlers (that is
// their purpose: change handlers write back through them without re-firing).
#include "boot/routines/routines.h"

#include "boot/routine-table.h"
#include "boot/routines/routine-calls.h"
#include "platform/fatal.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/tracing.h"
#include "runtime/memory/memory.h"

namespace zor::boot {

namespace {

using eval::routine_arguments;
using namespace routine_calls;

// script/expect-arg naming the routine, the argument's datatype and the argument's word.
[[noreturn]] void expect_arg(const char* routine, const cell* value, const char* argument) {
    cell* where = stack::push_copy(word::make_global_from_name(routine));
    cell type = datatype::value_of(value->type());
    cell* argument_word = stack::push_copy(word::make_global_from_name(argument));
    raise::throw_error(err::script_expect_arg, where, &type, argument_word);
}

// quit-return status: ends the process now. Output already printed is flushed and the
// terminal restored, so the status is all that nothing after it sees.
uint64_t quit_return(const routine_arguments& arguments) {
    platform::exit_process(integer_argument(arguments, 0));
}

// set-quiet word value: assigns in the word's context without the on-change* call.
// Cell-calling, as both arguments may be of any type.
cell* set_quiet(cell* arguments) {
    cell* word = arguments;
    switch (word->type()) {
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
            break;
        default:
            expect_arg("set-quiet", word, "word");
    }
    if (!word->w1) raise::throw_error(err::script_not_defined, word);
    word::set_in_context(word, arguments + 1, word->w1, false);
    return arguments + 1;
}

// set-slot-quiet series value: overwrites the cell at the series' position, unless the
// position is at or past the tail; no owner hears of it. Cell-calling.
cell* set_slot_quiet(cell* arguments) {
    cell* series = arguments;
    switch (series->type()) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH:
            break;
        default:
            expect_arg("set-slot-quiet", series, "series");
    }
    memory::series_buffer* buffer = memory::buffer_of(series->w2);
    const int64_t index = series::index_of(series);
    if (index >= 0 && index < buffer->length()) buffer->head_cell()[index] = arguments[1];
    return nullptr;
}

template <bool left, bool logical>
uint64_t shift(const routine_arguments& arguments) {
    const int32_t result = natives::shift_bits(integer_argument(arguments, 0), integer_argument(arguments, 1),
                                               left, logical);
    cell value;
    integer::make_in(&value, result);
    return answer(value);
}

// last-lf?: whether the last print or prin output ended with a line break.
uint64_t last_lf_q(const routine_arguments&) {
    cell value;
    logic::make_in(&value, natives::last_newline_flag != 0);
    return answer(value);
}

// stack-size?: the cells on the argument stack, the call's own result slot included, so
// `pick-stack stack-size?` names the cell that holds its own argument.
uint64_t stack_size_q(const routine_arguments&) {
    result_slot();
    return static_cast<uint64_t>(stack::state.args_top - stack::state.args_begin);
}

// pick-stack idx: a copy of the idx-th cell from the bottom, below the cell of idx itself.
uint64_t pick_stack(const routine_arguments& arguments) {
    const int64_t index = integer_argument(arguments, 0);
    const int64_t size = stack::state.args_top - stack::state.args_begin;
    if (index > 0 && index < size) return answer(stack::state.args_begin[index - 1]);
    return answer(none::value);
}

// frame-index?: the cells below the current call's argument base.
uint64_t frame_index_q(const routine_arguments&) {
    return static_cast<uint64_t>(stack::state.args_base - stack::state.args_begin);
}

// collect-calls blk: appends the call trace, word and base index per frame.
uint64_t collect_calls(const routine_arguments& arguments) {
    stack::collect_trace(cell_argument(arguments, 0));
    return answer(unset_value());
}

// tracing?: whether the interpreter is reporting tracing events now.
uint64_t tracing_q(const routine_arguments&) {
    cell value;
    logic::make_in(&value, tracing::active);
    return answer(value);
}

const boot_routine SYSTEM_ROUTINES[] = {
    {"quit-return", code_of<&quit_return>(), false, -1},
    {"set-quiet", code_of<&set_quiet>(), true, -1},
    {"set-slot-quiet", code_of<&set_slot_quiet>(), true, -1},
    {"shift-right", code_of<&shift<false, false>>(), false, -1},
    {"shift-left", code_of<&shift<true, false>>(), false, -1},
    {"shift-logical", code_of<&shift<false, true>>(), false, -1},
    {"last-lf?", code_of<&last_lf_q>(), false, -1},
    {"stack-size?", code_of<&stack_size_q>(), false, TYPE_INTEGER},
    {"pick-stack", code_of<&pick_stack>(), false, -1},
    {"frame-index?", code_of<&frame_index_q>(), false, TYPE_INTEGER},
    {"collect-calls", code_of<&collect_calls>(), false, -1},
    {"tracing?", code_of<&tracing_q>(), false, -1},
};

}  // namespace

void register_system_routines() { register_routines(SYSTEM_ROUTINES); }

}  // namespace zor::boot
