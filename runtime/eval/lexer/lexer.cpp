// The lexer's shared buffers and its driver: the output cell buffer and the UTF-8 work
// buffer that every active scan shares, the chain of active states and the collector's
// view of it, `lexer/scan-buffer` and `lexer/scan-string`, and the services the rest of
// the runtime reaches the lexer through (upcalls::scan_text, upcalls::scan_string).
//
// Invariants: a state lives in the C++ frame of the scan_buffer call that runs it and
// is linked into the chain for exactly that long, whatever ends the call; nested scans
// are linked after it and gone before it returns. The output buffer holds, for each
// state, the cells from its output_base to its output_tail, and a nested state's cells
// start where its enclosing state's end; everything in that range is a valid cell (a
// cell being built is unset!) that the collector marks and relocates in place. The text
// being scanned never moves during the scan: it lies in the work buffer, in a temporary
// buffer, in memory the caller owns, or in a pinned series.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/lexer/lexer-machine.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/text/unicode.h"

namespace zor::lexer {

namespace {

constexpr uint32_t OUTPUT_START_CELLS = 1000;
// Far beyond any text a string can hold; growing past it is reported as no memory.
constexpr uint32_t OUTPUT_MAX_CELLS = uint32_t(1) << 27;
constexpr size_t WORK_BUFFER_BYTES = 100000;
// Byte offsets into the text are kept in 32-bit words.
constexpr size_t MAX_TEXT_BYTES = 0x7FFFFFFF;

cell* output = nullptr;
uint32_t output_capacity = 0;

uint8_t* work_buffer = nullptr;
size_t work_used = 0;

state* first_state = nullptr;
state* last_state = nullptr;

// One bit per code point below the highest Unicode blank.
constexpr uint32_t BLANK_LIMIT = unicode_blanks[std::size(unicode_blanks) - 1] + 1;
uint8_t blank_bits[(BLANK_LIMIT + 7) / 8] = {};

bool initialized = false;

void grow_output(uint64_t needed) {
    uint64_t capacity = output_capacity ? output_capacity : OUTPUT_START_CELLS;
    while (capacity < needed) capacity *= 2;
    if (capacity > OUTPUT_MAX_CELLS) raise::throw_error(err::internal_no_memory);
    void* moved = std::realloc(output, capacity * sizeof(cell));
    if (!moved) raise::throw_error(err::internal_no_memory);
    output = static_cast<cell*>(moved);
    output_capacity = static_cast<uint32_t>(capacity);
}

// Links the state at the end of the chain for the life of the guard.
class chain_link {
public:
    explicit chain_link(state& s) : s_(s) {
        s.previous = last_state;
        s.next = nullptr;
        if (last_state) last_state->next = &s;
        else first_state = &s;
        last_state = &s;
    }
    ~chain_link() {
        // Scans end in the reverse order of their start, so this state is the last.
        last_state = s_.previous;
        if (last_state) last_state->next = nullptr;
        else first_state = nullptr;
    }
    chain_link(const chain_link&) = delete;
    chain_link& operator=(const chain_link&) = delete;

private:
    state& s_;
};

// Room in the work buffer for the life of the guard, or a temporary buffer when the text
// does not fit in what nested scans left free.
class text_room {
public:
    explicit text_room(size_t bytes) {
        if (bytes <= WORK_BUFFER_BYTES - work_used) {
            address_ = work_buffer + work_used;
            taken_ = bytes;
            work_used += bytes;
        } else {
            temporary_.reset(new uint8_t[bytes]);
            address_ = temporary_.get();
        }
    }
    ~text_room() { work_used -= taken_; }
    text_room(const text_room&) = delete;
    text_room& operator=(const text_room&) = delete;
    uint8_t* address() const { return address_; }

private:
    uint8_t* address_ = nullptr;
    size_t taken_ = 0;
    std::unique_ptr<uint8_t[]> temporary_;
};

// The result of a finished scan into the caller's cell. Answers how many values it made.
int64_t build_result(state& s, cell* result, const scan_request& request) {
    uint32_t count = s.output_tail - s.output_base;
    bool single = request.single && !request.block;
    if (!s.load_mode) {
        int32_t type = s.token_type;
        if (type < 0 || type == TYPE_ERROR) *result = datatype::value_of(TYPE_ERROR);
        else if (type == 0) *result = none::value;
        else *result = datatype::value_of(static_cast<type_id>(type));
        return 0;
    }
    if (single) {
        if (count == 0) return 0;
        *result = *output_at(s.output_base);
        if (request.into) block::append_copy(request.into, result);
        return 1;
    }
    if (request.into) {
        // Appending may grow the target block; the cells wait in the output buffer, which
        // nothing but a nested scan could move, and none runs here (append_copy holds each
        // value in a stack slot while it allocates).
        for (uint32_t i = 0; i < count; ++i) {
            cell value = *output_at(s.output_base + i);
            block::append_copy(request.into, &value);
        }
        *result = *request.into;
        return count;
    }
    block::make_empty(result, count);
    memory::series_buffer* buffer = memory::buffer_of(result->w2);
    std::memcpy(buffer->head, output_at(s.output_base), size_t(count) * sizeof(cell));
    buffer->tail = buffer->head + size_t(count) * sizeof(cell);
    return count;
}

// The work of scan_buffer; answers how many values the scan made.
int64_t run_scan(cell* result, const uint8_t* text, size_t length, const scan_request& request,
                 int64_t* consumed) {
    if (!initialized) raise::throw_error(err::internal_not_done);
    if (length > MAX_TEXT_BYTES) raise::throw_error(err::internal_no_memory);
    state s;
    chain_link link(s);
    s.output_base = s.previous ? s.previous->output_tail : 0;
    s.output_head = s.output_tail = s.step_tail = s.output_base;
    s.input_start = s.position = s.token_end = text;
    s.input_end = text + length;
    s.start_mark = s.end_mark = offset_mark{text, 0};
    s.load_mode = request.prescan || request.scan ? 0 : 1;
    s.callback = request.callback ? *request.callback : none::value;
    s.source = request.source ? *request.source : none::value;
    s.source_index = request.source && series::kind_of(s.source.type()) != series::ELEMENTS_OTHER
                         ? static_cast<int32_t>(s.source.w1)
                         : 0;
    if (has_callback(s)) s.event_mask = event_mask_of(&s.callback);

    scan_tokens(s, request.single, request.prescan);

    if (has_open_series(s)) {
        if (s.load_mode) {
            s.open_type = open_series_type(s);
            try {
                raise_error(s, nullptr, nullptr, ERROR_MISSING_CLOSE);
            } catch (const quiet_stop&) {
                // The callback let it pass: what was read is kept, closed where it stopped.
                close_all_series(s);
            }
        } else {
            s.token_type = 0;
            close_all_series(s);
        }
    }
    int64_t made = build_result(s, result, request);
    if (consumed) {
        int64_t bytes = s.position - s.input_start;
        *consumed = s.source.is(TYPE_NONE) || series::kind_of(s.source.type()) != series::ELEMENTS_TEXT
                        ? bytes
                        : offset_of(s, s.position, s.end_mark) - s.source_index;
    }
    return made;
}

}  // namespace

bool scan_text(const char* utf8, int64_t length, cell* out) {
    scan_request request;
    request.single = true;
    cell* result = stack::push_slot();
    int64_t made = run_scan(result, reinterpret_cast<const uint8_t*>(utf8),
                            length < 0 ? 0 : static_cast<size_t>(length), request, nullptr);
    if (made) *out = *result;
    stack::drop_slots(1);
    return made > 0;
}

void scan_string_into_block(cell* string, cell* block) {
    scan_request request;
    request.into = block;
    cell* result = stack::push_slot();
    lexer::scan_string(result, string, -1, request, nullptr);
    stack::drop_slots(1);
}

cell* output_cells() { return output; }

void init() {
    if (!initialized) {
        output_capacity = 0;
        grow_output(OUTPUT_START_CELLS);
        work_buffer = static_cast<uint8_t*>(std::malloc(WORK_BUFFER_BYTES));
        if (!work_buffer) raise::throw_error(err::internal_no_memory);
        for (uint32_t code : unicode_blanks) blank_bits[code >> 3] |= uint8_t(1u << (code & 7));
        gc::add_mark_callback(&mark_active_states);
        initialized = true;
    }
    work_used = 0;
    first_state = last_state = nullptr;
    init_machine();
}

void mark_active_states() {
    for (state* s = first_state; s; s = s->next) {
        gc::mark_cells(output + s->output_base, output + s->output_tail);
        gc::mark_cells(&s->callback, &s->callback + 1);
        gc::mark_cells(&s->source, &s->source + 1);
    }
}

int active_scan_count() {
    int count = 0;
    for (state* s = first_state; s; s = s->next) ++count;
    return count;
}

cell* new_cell(state& s) {
    if (s.output_tail >= output_capacity) grow_output(uint64_t(s.output_tail) + 1);
    cell* c = output + s.output_tail++;
    c->header = TYPE_UNSET | (s.token_new_lines > 0 ? FLAG_NEW_LINE : 0);
    c->w1 = c->w2 = c->w3 = 0;
    return c;
}

bool is_unicode_blank(uint32_t code_point) {
    return code_point < BLANK_LIMIT && (blank_bits[code_point >> 3] >> (code_point & 7)) & 1;
}

const uint8_t* scan_word_end(const uint8_t* start, const uint8_t* end) {
    const uint8_t* p = start;
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        int32_t code_point;
        const uint8_t* next = unicode::decode_utf8_char(p, end, code_point);
        if (code_point >= 0 && is_unicode_blank(static_cast<uint32_t>(code_point))) return p;
        p = next > p ? next : p + 1;
    }
    return end;
}

void scan_buffer(cell* result, const uint8_t* text, size_t length, const scan_request& request,
                 int64_t* consumed) {
    run_scan(result, text, length, request, consumed);
}

void scan_string(cell* result, const cell* string, int64_t length, const scan_request& request,
                 int64_t* consumed) {
    // The string is the source the callback sees; it waits in a stack slot (its buffer
    // may move while the text is scanned, the copy in the work buffer does not).
    cell* source = stack::push_copy(string);
    source->w1 = static_cast<uint32_t>(series::clamped_index(source));
    int64_t rest = string::rest_length(source);
    int64_t count = length < 0 || length > rest ? rest : length;
    memory::series_buffer* buffer = memory::buffer_of(source->w2);
    const uint32_t unit = buffer->unit();
    const std::byte* from = buffer->head + int64_t(static_cast<int32_t>(source->w1)) * unit;
    int64_t bytes = unicode::utf8_size_of_units(from, from + count * unit, unit);
    if (bytes < 0 || static_cast<uint64_t>(bytes) > MAX_TEXT_BYTES) raise::throw_error(err::internal_no_memory);
    text_room room(static_cast<size_t>(bytes) + 1);
    int64_t written = count > 0 ? unicode::encode_string_utf8_into(source, room.address(), count, false) : 0;
    scan_request with_source = request;
    with_source.source = source;
    run_scan(result, room.address(), static_cast<size_t>(written), with_source, consumed);
    stack::drop_slots(1);
}

void scan_binary(cell* result, const cell* binary, int64_t length, const scan_request& request,
                 int64_t* consumed) {
    cell* source = stack::push_copy(binary);
    source->w1 = static_cast<uint32_t>(series::clamped_index(source));
    memory::series_buffer* buffer = memory::buffer_of(source->w2);
    const int64_t rest = buffer->length() - static_cast<int32_t>(source->w1);
    const int64_t count = length < 0 || length > rest ? rest : length;
    if (static_cast<uint64_t>(count) > MAX_TEXT_BYTES) raise::throw_error(err::internal_no_memory);
    text_room room(static_cast<size_t>(count) + 1);
    // Taking the room allocates nothing from the memory manager: the buffer is still where it was.
    std::memcpy(room.address(), buffer->head + static_cast<int32_t>(source->w1), static_cast<size_t>(count));
    scan_request with_source = request;
    with_source.source = source;
    run_scan(result, room.address(), static_cast<size_t>(count), with_source, consumed);
    stack::drop_slots(1);
}

}  // namespace zor::lexer
