// The transcode native: the lexer's entry for text in a string! or UTF-8 bytes in a
// binary!. It turns the refinements into the lexer's request (one value for /next, /one
// and /scan; the scan modes; the /into target; the /trace callback), the /part argument
// into a length, and the lexer's answer into the result: the block of values, the one
// value (with the rest of the input for /next), or the datatype of the first token.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"

namespace zor::natives {

namespace {

enum transcode_refinement : int {
    REFINEMENT_NEXT, REFINEMENT_ONE, REFINEMENT_PRESCAN, REFINEMENT_SCAN, REFINEMENT_PART,
    REFINEMENT_INTO, REFINEMENT_TRACE,
};

// The positions of the argument words among the spec's words (for script/expect-arg).
constexpr int SPEC_POSITION_DST = 8;
constexpr int SPEC_POSITION_CALLBACK = 10;

// The UTF-8 byte order mark that a binary! source may begin with.
constexpr uint8_t BYTE_ORDER_MARK[3] = {0xEF, 0xBB, 0xBF};

// How many units of the source to scan: the rest from its index, or what /part says.
int64_t scan_length(cell* source, const cell* part) {
    const int64_t rest = series::get_length(source, false);
    if (!part) return rest;
    int64_t length;
    if (part->is(TYPE_INTEGER)) {
        length = integer::read_cell(part);
    } else if (part->type() == source->type()) {
        length = int64_t(series::clamped_index(part)) - series::index_of(source);
    } else {
        cell first = *source;
        cell second = *part;
        raise::throw_error(err::script_not_same_type, &first, &second);
    }
    return length < 0 ? 0 : length > rest ? rest : length;
}

bool starts_with_byte_order_mark(const cell* binary, int64_t length) {
    if (length <= 2) return false;
    const std::byte* at = memory::buffer_of(binary->w2)->head + series::index_of(binary);
    for (int i = 0; i < 3; ++i) {
        if (static_cast<uint8_t>(at[i]) != BYTE_ORDER_MARK[i]) return false;
    }
    return true;
}

}  // namespace

uint32_t native_transcode(const native_invocation& call) {
    cell* source = stack::argument(0);
    if (!source->is(TYPE_STRING) && !source->is(TYPE_BINARY)) raise::expect_arg(source->type(), 0);
    const bool next = call.has(REFINEMENT_NEXT);
    const bool prescan = call.has(REFINEMENT_PRESCAN);
    const bool scan = call.has(REFINEMENT_SCAN);
    cell* part = call.has(REFINEMENT_PART) ? stack::argument(call.position(REFINEMENT_PART)) : nullptr;
    cell* into = call.has(REFINEMENT_INTO) ? stack::argument(call.position(REFINEMENT_INTO)) : nullptr;
    cell* callback = call.has(REFINEMENT_TRACE) ? stack::argument(call.position(REFINEMENT_TRACE)) : nullptr;
    if (into && !into->is(TYPE_BLOCK)) raise::expect_arg(into->type(), SPEC_POSITION_DST);
    if (callback && !callback->is(TYPE_FUNCTION) && !callback->is(TYPE_ROUTINE)) {
        raise::expect_arg(callback->type(), SPEC_POSITION_CALLBACK);
    }

    cell* working = stack::push_slot();
    int64_t length = scan_length(source, part);
    if (source->is(TYPE_BINARY) && starts_with_byte_order_mark(source, length)) {
        source->w1 += 3;
        length -= 3;
    }

    lexer::scan_request request;
    request.single = next || call.has(REFINEMENT_ONE) || scan;
    request.prescan = prescan;
    request.scan = scan;
    request.callback = callback;
    request.source = source;
    request.into = into;
    int64_t consumed = 0;
    if (source->is(TYPE_STRING)) lexer::scan_string(working, source, length, request, &consumed);
    else lexer::scan_binary(working, source, length, request, &consumed);
    if ((prescan || scan) && length == 0) cell::init_unset(working);

    if (next) {
        cell* result = block::push_empty(2);
        block::append_copy(result, working);
        cell rest = *source;
        rest.w1 = static_cast<uint32_t>(series::index_of(source) + consumed);
        block::append_copy(result, &rest);
        *working = *result;
    }
    *stack::result_slot() = *working;
    stack::keep_result_slot();
    return 0;
}

}  // namespace zor::natives
