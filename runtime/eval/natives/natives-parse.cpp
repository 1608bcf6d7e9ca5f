// The parse native: turns /case, /part and /trace into the engine's request and the
// engine's answer into the result, and hands back a break, continue, return or exit that
// left a rule action, as do does.
#include <cmath>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/word-table.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/parse/parse.h"
#include "runtime/eval/stack.h"

namespace zor::natives {

namespace {

enum parse_refinement : int { REFINEMENT_CASE, REFINEMENT_PART, REFINEMENT_TRACE };

// The positions of the argument words among the spec's words (for script/expect-arg).
constexpr int SPEC_POSITION_INPUT = 0;
constexpr int SPEC_POSITION_RULES = 1;
constexpr int SPEC_POSITION_LENGTH = 4;
constexpr int SPEC_POSITION_CALLBACK = 6;

// The /part end as an absolute index of the input. An end before the input's index is
// the index itself: the rules then run against an empty input.
int64_t part_end(const cell* input, const cell* length) {
    const int64_t index = series::index_of(input);
    int64_t end;
    if (length->is(TYPE_INTEGER)) {
        end = index + integer::read_cell(length);
    } else if (length->is(TYPE_FLOAT) || length->is(TYPE_PERCENT)) {
        const double d = float_::get(length);
        const double clamped = std::isnan(d) ? 0.0 : std::fmax(-2147483648.0, std::fmin(2147483647.0, d));
        end = index + static_cast<int64_t>(std::trunc(clamped));
    } else if (length->type() == input->type() && length->w2 == input->w2) {
        end = series::index_of(length);
    } else {
        cell name = *refinements::part.get();
        cell bad = *length;
        raise::throw_error(err::script_invalid_refine_arg, &name, &bad);
    }
    return end < index ? index : end;
}

}  // namespace

// parse input rules /case /part length /trace callback
uint32_t native_parse(const native_invocation& call) {
    const bool interpreter_caller = called_by_interpreter();
    cell* input = stack::argument(0);
    const type_id input_type = input->type();
    if (!series::is_series_type(input_type) || input_type == TYPE_VECTOR || input_type == TYPE_IMAGE ||
        input_type == TYPE_MAP) {
        raise::expect_arg(input_type, SPEC_POSITION_INPUT);
    }
    if (!stack::argument(1)->is(TYPE_BLOCK)) raise::expect_arg(stack::argument(1)->type(), SPEC_POSITION_RULES);
    const cell* callback = nullptr;
    if (call.has(REFINEMENT_TRACE)) {
        callback = stack::argument(call.position(REFINEMENT_TRACE));
        if (!callback->is(TYPE_FUNCTION) && !callback->is(TYPE_ROUTINE)) {
            raise::expect_arg(callback->type(), SPEC_POSITION_CALLBACK);
        }
    }
    parse::request r;
    if (call.has(REFINEMENT_PART)) {
        const cell* length = stack::argument(call.position(REFINEMENT_PART));
        if (!length->is(TYPE_INTEGER) && !length->is(TYPE_FLOAT) && !length->is(TYPE_PERCENT) &&
            !series::is_series_type(length->type())) {
            raise::expect_arg(length->type(), SPEC_POSITION_LENGTH);
        }
        r.part = part_end(input, length);
    }
    r.case_sensitive = call.has(REFINEMENT_CASE);
    r.callback = callback;
    r.input = stack::push_copy(input);
    r.rules = stack::push_copy(stack::argument(1));
    cell* result = stack::push_slot();
    uint32_t code = 0;
    code = stack::catch_exits([&] { code = parse::run(r, result); });
    if (code) return pass_exit(code, interpreter_caller);
    *stack::result_slot() = *result;
    stack::keep_result_slot();
    return 0;
}

}  // namespace zor::natives
