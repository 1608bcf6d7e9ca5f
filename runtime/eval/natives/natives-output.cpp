// The output natives print and prin: one body that turns the value into text (a block is
// reduced first) and hands it to the output hooks with the newline flag, and the
// last-newline flag that records which of the two printed last.
//
// A block is reduced into the shared print work block (a root block), from its tail on,
// so nested prints (a print inside a function called while an outer print reduces) append
// after the outer print's values. Every print removes exactly the values it added and puts
// the block's index back however it ends (normally, by a pending exit from the reduction,
// or by an error), so the outer print still sees its own values only. The work block is
// read afresh after every allocation: its buffer and the root block's buffer may move.
#include <cstdint>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/output-hooks.h"

namespace zor::natives {

uint32_t last_newline_flag = 0;

namespace {

// The newline flag that prin passes.
uint32_t no_newline = 0;

int64_t work_length() { return memory::buffer_of(print_work_block()->w2)->length(); }

// Moves the work block's index to its tail for one print, and on scope exit removes what
// was added after that tail and restores the index. Touches no stack and allocates
// nothing, so it is safe while an error unwinds.
class work_block_scope {
public:
    work_block_scope() : saved_index_(print_work_block()->w1), start_(work_length()) {
        print_work_block()->w1 = static_cast<uint32_t>(start_);
    }
    ~work_block_scope() {
        cell* work = print_work_block();
        if (memory::buffer_of(work->w2)->length() > start_) block::truncate(work, start_);
        work->w1 = saved_index_;
    }
    work_block_scope(const work_block_scope&) = delete;
    work_block_scope& operator=(const work_block_scope&) = delete;

    int64_t start() const { return start_; }

private:
    uint32_t saved_index_;
    int64_t start_;
};

// Forms the value in the result slot into a new string above it; answers the string's slot.
cell* push_formed_result() {
    cell* output = string::push_empty();
    actions::dispatch_form(stack::result_slot(), output, nullptr, 0);
    return output;
}

// The body shared by print and prin.
uint32_t output_value(uint32_t newline) {
    cell* value = stack::result_slot();
    if (value->is(TYPE_BLOCK)) {
        work_block_scope scope;
        stack::state.args_top = stack::argument(1);
        stack::push_copy(print_work_block());
        const int32_t into = 1;  // /into: its argument at offset 1
        uint32_t code = natives::call(NATIVE_REDUCE, &into, 1, false);
        if (code != 0) return code;
        // The reduced values: the work block from the tail this print started at.
        cell* reduced = stack::result_slot();
        *reduced = *print_work_block();
        cell::clear_new_line(reduced);
        reduced->w1 = static_cast<uint32_t>(scope.start());
        stack::keep_result_slot();
        output_hooks::call_value_hooks(push_formed_result(), newline != 0);
    } else if (value->is(TYPE_STRING)) {
        value->w1 = static_cast<uint32_t>(series::clamped_index(value));
        stack::keep_result_slot();
        output_hooks::call_value_hooks(stack::result_slot(), newline != 0);
    } else {
        stack::keep_result_slot();
        output_hooks::call_value_hooks(push_formed_result(), newline != 0);
    }
    last_newline_flag = newline;
    stack::clear_frame_args();
    cell::init_unset(stack::result_slot());
    stack::keep_result_slot();
    return 0;
}

}  // namespace

uint32_t native_print(const native_invocation&) { return output_value(1); }
uint32_t native_prin(const native_invocation&) { return output_value(no_newline); }

}  // namespace zor::natives
