// The lexer's two ways out of the token loop: the /trace callback, called with an event
// for each token (`lexer/fire-event`), and the syntax errors (`lexer/raise-error`), which
// a callback may see first and let pass. Also the block of the names of the negative
// pseudo-types that a callback is told of.
//
// A callback runs user code, which may allocate, collect, and scan again: everything it
// is handed is copied out of the output buffer before the call, and the state is read
// again afterwards (a nested scan may have moved the buffer).
#include <algorithm>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/invoke.h"
#include "runtime/eval/lexer/lexer-machine.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/system-object.h"
#include "runtime/text/unicode.h"
#include "runtime/binding/word-table.h"

namespace zor::lexer {

namespace {

// The longest piece of text an error shows.
constexpr int NEAR_BYTES = 30;

struct event_name {
    uint32_t bit;
    const predefined_cell* word;
};
const event_name EVENT_NAMES[] = {
    {EVENT_PRESCAN, &words::prescan}, {EVENT_SCAN, &words::scan},   {EVENT_LOAD, &words::load},
    {EVENT_OPEN, &words::open},       {EVENT_CLOSE, &words::close}, {EVENT_ERROR, &words::error},
};
constexpr uint32_t ALL_EVENTS = EVENT_PRESCAN | EVENT_SCAN | EVENT_LOAD | EVENT_OPEN | EVENT_CLOSE | EVENT_ERROR;

bool is_text_source(const state& s) { return series::kind_of(s.source.type()) == series::ELEMENTS_TEXT; }

// The input address of a character (or byte) offset from the input start.
const uint8_t* address_of(const state& s, int64_t offset) {
    if (offset <= 0) return s.input_start;
    if (!is_text_source(s)) return s.input_start + std::min<int64_t>(offset, s.input_end - s.input_start);
    return unicode::skip_utf8_chars(s.input_start, s.input_end, offset);
}

// What a callback is told the type is.
cell type_argument(int32_t type) {
    if (type > 0) return datatype::value_of(static_cast<type_id>(type));
    // The token classes without a datatype of their own are named by the block that the
    // boot environment keeps in system/lexer/exit-states; none before it exists.
    const cell* names = type < 0 ? system_object::path({symbols::lexer, symbols::exit_states}) : nullptr;
    if (names && names->is(TYPE_BLOCK)) {
        int64_t item = -int64_t(type) - 1;
        if (item < block::rest_length(names)) return *block::get_cell(names, series::index_of(names) + item);
    }
    return none::value;
}


// The error arguments "(line N)" and the text near the error.
cell* push_line_text(int32_t line) {
    cell* text = string::push_empty();
    string::append_c_string(text, "(line ");
    string::append_c_string(text, integer::to_decimal_text(line));
    string::append_c_string(text, ")");
    return text;
}

// The line of an input address: the state's line is the one at the end of the last token
// the machine read, and the line feeds between the two make the difference.
int32_t line_of(const state& s, const uint8_t* at) {
    const uint8_t* mark = s.token_end ? s.token_end : s.input_start;
    int64_t lines = s.line;
    if (at < mark) lines -= std::count(at, mark, '\n');
    else lines += std::count(mark, at, '\n');
    return static_cast<int32_t>(std::max<int64_t>(1, lines));
}

// Up to NEAR_BYTES bytes from the start, stopping before a line feed, a NUL or the end;
// bytes that are no UTF-8 show as U+FFFD, and a character cut by the limit is left out.
cell* push_near_text(const state& s, const uint8_t* start) {
    cell* text = string::push_empty();
    const uint8_t* limit = start + std::min<int64_t>(NEAR_BYTES, s.input_end - start);
    const uint8_t* p = start;
    while (p < limit && *p != '\n' && *p != 0) {
        if (*p < 0x80) {
            string::append_codepoint(text, *p++);
            continue;
        }
        int32_t code_point;
        const uint8_t* next = unicode::decode_utf8_char(p, s.input_end, code_point);
        if (code_point < 0) {
            string::append_codepoint(text, 0xFFFD);
            p = next > p ? next : p + 1;
            continue;
        }
        if (next > limit) break;
        string::append_codepoint(text, static_cast<uint32_t>(code_point));
        p = next;
    }
    return text;
}

// The delimiter a missing-delimiter error names: the closing one of the open type, or its
// opening one when the text at the error is that closing delimiter.
uint32_t expected_delimiter(int32_t open_type, const state& s, const uint8_t* at) {
    uint32_t opening = 0;
    uint32_t closing = 0;
    if (open_type == TYPE_BLOCK || open_type == TYPE_MAP) opening = '[', closing = ']';
    else if (open_type == TYPE_PAREN || open_type == TYPE_POINT2D) opening = '(', closing = ')';
    if (closing && at < s.input_end && *at == closing) return opening;
    return closing;
}

}  // namespace

uint32_t event_mask_of(const cell* callback) {
    if (!callback->is(TYPE_FUNCTION)) return ALL_EVENTS;
    const cell body = *function::extras_cell(callback, function::EXTRAS_BODY);
    if (!body.is(TYPE_BLOCK)) return ALL_EVENTS;
    memory::series_buffer* b = memory::buffer_of(body.w2);
    const int64_t at = static_cast<int32_t>(body.w1);
    if (at < 0 || at >= b->length() || !b->head_cell()[at].is(TYPE_BLOCK)) return ALL_EVENTS;
    const cell filter = b->head_cell()[at];
    memory::series_buffer* names = memory::buffer_of(filter.w2);
    uint32_t bits = 0;
    for (int64_t i = std::max<int64_t>(0, static_cast<int32_t>(filter.w1)); i < names->length(); ++i) {
        const cell& name = names->head_cell()[i];
        if (!name.is(TYPE_WORD)) continue;
        const int32_t canonical = symbol::canonical_id(static_cast<int32_t>(name.w2));
        for (const event_name& e : EVENT_NAMES) {
            if (symbol::canonical_id(e.word->symbol()) == canonical) bits |= e.bit;
        }
    }
    return bits;
}

int64_t offset_of(state& s, const uint8_t* at, offset_mark& mark) {
    at = std::clamp(at, s.input_start, s.input_end);
    if (!is_text_source(s)) return s.source_index + (at - s.input_start);
    // Characters are counted from the nearest known position, forwards or backwards, and
    // the mark moves there. Events come as a start and an end, again and again for the same
    // token and then for the next: with one mark for each, every count spans about one
    // token, so tracing costs the same per token however far into the input it is.
    offset_mark base{s.input_start, 0};
    auto distance = [at](const offset_mark& m) { return at >= m.position ? at - m.position : m.position - at; };
    for (const offset_mark* m : {&s.start_mark, &s.end_mark}) {
        if (m->position && distance(*m) < distance(base)) base = *m;
    }
    int64_t offset = at >= base.position ? base.offset + unicode::count_utf8_chars(base.position, at)
                                         : base.offset - unicode::count_utf8_chars(at, base.position);
    mark = offset_mark{at, offset};
    return s.source_index + offset;
}

bool fire_event(state& s, uint32_t event, int type, cell* value, const uint8_t* start, const uint8_t* end) {
    if (!has_callback(s)) return true;
    if (event == EVENT_SCAN && type == -TOKEN_INVALID) {
        event = EVENT_ERROR;
        type = TYPE_ERROR;
    }
    if (!(s.event_mask & event)) return true;
    if (!end || end < start) end = start;

    // The arguments, built before anything allocates: the value may lie in the output buffer.
    cell arguments[5];
    for (const event_name& e : EVENT_NAMES) {
        if (e.bit == event) arguments[0] = *e.word->get();
    }
    const int64_t from = offset_of(s, start, s.start_mark);
    const int64_t to = offset_of(s, end, s.end_mark);
    const bool at_start = event == EVENT_OPEN || (event == EVENT_PRESCAN && (type == -TOKEN_INVALID || type == TYPE_ERROR));
    const int64_t index = at_start ? from : to;
    arguments[1] = s.source;
    if (series::kind_of(s.source.type()) != series::ELEMENTS_OTHER) arguments[1].w1 = static_cast<uint32_t>(index);
    arguments[2] = type_argument(type);
    integer::make_in(&arguments[3], s.line);
    if (event == EVENT_LOAD && value) {
        arguments[4] = *value;
        cell::clear_new_line(&arguments[4]);
    } else {
        cell::init_unset(&arguments[4]);
        pair::make_at(&arguments[4], static_cast<int32_t>(from + 1), static_cast<int32_t>(to + 1));
    }

    stack::record& st = stack::state;
    cell* const saved_top = st.args_top;
    stack::frame* const saved_frames = st.frames_top;
    const bool is_function = s.callback.is(TYPE_FUNCTION);
    if (is_function) stack::push_function_frame(words::lexer_callback, s.callback.w1);
    else stack::push_call_frame(words::lexer_callback);
    cell* const first = st.args_base;
    if (is_function) {
        function::push_callback_arguments(&s.callback, arguments, 5);
    } else {
        for (const cell& argument : arguments) *stack::push_slot() = argument;
    }
    eval::invoke_function(&s.callback, s.callback.w1, words::lexer_callback, eval::INVOKE_LEXER);
    const bool answer = natives::is_truthy(first);
    // A callback that moved its input argument moves the scan.
    const cell input = first[1];
    if (input.type() == s.source.type() && input.w2 == s.source.w2 && series::kind_of(input.type()) != series::ELEMENTS_OTHER &&
        static_cast<int64_t>(static_cast<int32_t>(input.w1)) != index) {
        s.moved_position = address_of(s, static_cast<int32_t>(input.w1) - s.source_index);
    }
    if (is_function) stack::pop_function_frame();
    else stack::pop_frame();
    st.args_top = saved_top;
    st.frames_top = saved_frames;
    return answer;
}

void raise_error(state& s, const uint8_t* start, const uint8_t* end, int kind) {
    // Cells the failing step began are no values.
    if (s.output_tail > s.step_tail) s.output_tail = s.step_tail;
    if (!start) start = has_open_series(s) ? s.input_start + innermost_marker(s)->w3 : s.input_start;
    if (!end || end < start) end = start;
    if (s.start_state == START_BRACED) abandon_braced_string(s);
    if (!s.load_mode) {
        s.token_type = TYPE_ERROR;
        close_pending_path(s);
        throw quiet_stop{};
    }
    if (has_callback(s)) {
        int32_t type = kind > 0               ? kind
                       : s.open_type > 0      ? s.open_type
                       : s.token_type > 0     ? s.token_type
                       : s.forced_type > 0    ? s.forced_type
                                              : TYPE_ERROR;
        close_pending_path(s);
        if (!fire_event(s, EVENT_ERROR, type, nullptr, start, end)) throw quiet_stop{};
    }
    if (is_path_type(s.open_type)) kind = ERROR_BAD_CHAR;

    cell* line = push_line_text(line_of(s, start));
    cell* near = push_near_text(s, start);
    switch (kind) {
        case ERROR_BAD_CHAR: raise::throw_error(err::syntax_bad_char, line, near);
        case ERROR_BAD_CONSTRUCTION: raise::throw_error(err::syntax_malconstruct, line, near);
        case ERROR_WRONG_CLOSE:
        case ERROR_MISSING_CLOSE: {
            cell delimiter;
            char_::make_in(&delimiter, expected_delimiter(s.open_type, s, start));
            raise::throw_error(err::syntax_missing, line, &delimiter, near);
        }
        default: {
            cell type = datatype::value_of(kind > 0 && kind < TYPE_TOTAL_COUNT ? static_cast<type_id>(kind) : TYPE_ERROR);
            raise::throw_error(err::syntax_invalid, line, &type, near);
        }
    }
}

}  // namespace zor::lexer
