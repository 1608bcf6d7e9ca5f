// The lexer's token loop: the state machine that finds each token and its class, the
// scanners of the structural classes (brackets, braced strings, paths, comments, commas,
// the end and invalid tokens), the opening and closing of series in the output buffer,
// and the hand-over of every literal token to its scanner and loader.
//
// One step reads one token: two table look-ups per byte until a final state, then the
// token's class decides. A step that raises quietly (/scan, /prescan, or a callback
// that answered false to the error) ends where it is and the scan goes on after the
// token; raise_error has dropped the cells the step made. Every step moves the input on
// by at least one byte, unless it ends the input.
#include <algorithm>
#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/map.h"
#include "runtime/eval/lexer/lexer-machine.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/text/unicode.h"

namespace zor::lexer {

namespace {

token_routine scanners[TOKEN_CLASS_COUNT + 1] = {};
token_routine loaders[TOKEN_CLASS_COUNT + 1] = {};

inline uint32_t class_of(uint8_t byte) { return character_table[byte] & 0xFF; }

// The bytes that may stand in a point literal before its first comma.
constexpr bool is_point_byte(uint8_t b) {
    return b == '\t' || b == ' ' || b == '#' || b == '+' || b == '-' || b == '.' || (b >= '0' && b <= '9') ||
           b == 'A' || b == 'E' || b == 'F' || b == 'I' || b == 'N' || b == 'a' || b == 'e' || b == 'f' ||
           b == 'i' || b == 'n';
}

// Where the rest of a broken token ends: a bad token covers at least the byte that broke
// it and runs on to the next blank, line feed, bracket, parenthesis, brace, quote,
// semicolon or NUL, so that a scan that goes on after it starts afresh.
const uint8_t* bad_token_end(const state& s, const uint8_t* start, const uint8_t* end) {
    const uint8_t* p = std::min(std::max(end, start + 1), s.input_end);
    while (p < s.input_end) {
        switch (*p) {
            case 0: case '\t': case '\n': case '\r': case ' ': case '[': case ']': case '(': case ')':
            case '{': case '}': case '"': case ';':
                return p;
            default:
                ++p;
        }
    }
    return p;
}

// Where the input goes on after a token that was skipped or failed: past the byte that
// ended it when that byte belongs to the token (a closing bracket, quote, parenthesis,
// brace, "%" or ">"), else at it.
const uint8_t* token_stop(const state& s, int token_class, const uint8_t* start, const uint8_t* end) {
    const uint8_t* stop = end;
    switch (token_class) {
        case TOKEN_END: return s.input_end;
        case TOKEN_INVALID: return bad_token_end(s, start, end);
        case TOKEN_BLOCK_OPEN: case TOKEN_BLOCK_CLOSE: case TOKEN_PAREN_OPEN: case TOKEN_PAREN_CLOSE:
        case TOKEN_BRACE_OPEN: case TOKEN_BRACE_CLOSE: case TOKEN_MAP_OPEN: case TOKEN_PATH_HEAD:
        case TOKEN_CONSTRUCTION: case TOKEN_COMMA: case TOKEN_STRING: case TOKEN_CHAR: case TOKEN_BINARY:
        case TOKEN_PERCENT: case TOKEN_POINT: case TOKEN_TAG:
            stop = end + 1;
            break;
        case TOKEN_FILE:
            if (end - start > 1 && start[1] == '"') stop = end + 1;
            break;
        default:
            break;
    }
    return std::min(stop, s.input_end);
}

// The datatype a callback is told of for the token: its type, or minus its class when
// it has none.
int32_t reported_type(const state& s, int token_class) {
    if (s.forced_type > 0) return s.forced_type;
    return s.token_type > 0 ? s.token_type : -token_class;
}

// The byte range a callback is told of: a literal whose closing byte was consumed
// reaches to the input position; a point literal includes its parentheses.
void event_range(const state& s, int token_class, const uint8_t*& start, const uint8_t*& end) {
    if (s.position > end) end = s.position;
    if (token_class == TOKEN_POINT) {
        if (start > s.input_start) --start;
        if (end < s.input_end && *end == ')') ++end;
    }
}

// A literal token (classes 14-36, and the word of a path head): checked, told to the
// callback, loaded, and the loaded value told to the callback.
void take_value(state& s, int token_class, const uint8_t* start, const uint8_t* end, uint32_t flags) {
    token_routine scanner = scanners[token_class];
    token_routine loader = loaders[token_class];
    const bool callback = has_callback(s);
    if (!s.load_mode || scanner || (callback && (s.event_mask & EVENT_SCAN))) {
        if (scanner) scanner(s, start, end, flags, false);
        else if (loader) loader(s, start, end, flags, false);
    }
    bool load = true;
    if (callback) {
        const uint8_t* from = start;
        const uint8_t* to = end;
        event_range(s, token_class, from, to);
        load = fire_event(s, EVENT_SCAN, reported_type(s, token_class), nullptr, from, to);
    } else if (!s.load_mode) {
        load = false;
    }
    if (!load || !loader) return;
    const uint32_t before = s.output_tail;
    loader(s, start, end, flags, true);
    if (callback && s.output_tail > before) {
        const uint8_t* from = start;
        const uint8_t* to = end;
        event_range(s, token_class, from, to);
        cell* value = output_at(s.output_tail - 1);
        if (!fire_event(s, EVENT_LOAD, value->type(), value, from, to)) s.output_tail = before;
    }
    s.step_tail = s.output_tail;
}

// The new series of the innermost marker replaces it; the head moves back out.
void finish_series(state& s, int32_t type) {
    const uint32_t marker_index = s.output_head - 1;
    const uint32_t count = s.output_tail - s.output_head;
    cell* slot = stack::push_slot();
    block::make_empty(slot, count);
    memory::series_buffer* buffer = memory::buffer_of(slot->w2);
    // Nothing allocates from here on: the cells go over as they are.
    std::memcpy(buffer->head, output_at(s.output_head), size_t(count) * sizeof(cell));
    buffer->tail = buffer->head + size_t(count) * sizeof(cell);
    if (type == TYPE_MAP) map::make_at(slot, slot, count);
    cell* marker = output_at(marker_index);
    const uint32_t back = marker->w1;
    const uint32_t new_line = marker->header & FLAG_NEW_LINE;
    *marker = *slot;
    marker->header = static_cast<uint32_t>(type) | new_line;
    stack::drop_slots(1);
    s.output_tail = marker_index + 1;
    s.output_head = marker_index - back;
    s.step_tail = s.output_tail;
    s.start_state = is_path_type(open_series_type(s)) ? START_PATH : START_NORMAL;
}

// The series type a closed marker of the type becomes; a map!'s pairs are checked (an even
// count, keys of the types a map accepts).
int32_t closed_type(state& s, int32_t type) {
    if (type == TYPE_POINT2D) return TYPE_PAREN;
    if (type != TYPE_MAP) return type;
    if (!s.load_mode) return TYPE_BLOCK;
    bool keys_fit = (s.output_tail - s.output_head) % 2 == 0;
    for (uint32_t i = s.output_head; keys_fit && i < s.output_tail; i += 2) {
        keys_fit = map::test_key_type(output_at(i)->type());
    }
    if (!keys_fit) {
        const uint8_t* delimiter = s.input_start + innermost_marker(s)->w3;
        raise_error(s, delimiter, s.position, TYPE_MAP);
    }
    return TYPE_MAP;
}

// "(": a point literal when a comma comes before anything but a number.
bool point_follows(const state& s) {
    const uint8_t* p = s.position;
    if (s.input_end - p < 4) return false;
    while (p < s.input_end && is_point_byte(*p)) ++p;
    return p < s.input_end && *p == ',';
}

void open_brace(state& s, const uint8_t* end, uint32_t flags) {
    s.position = end + 1;
    if (s.brace_depth == 0) {
        fire_event(s, EVENT_OPEN, TYPE_STRING, nullptr, end, end + 1);
        s.braced_start = end;
        s.braced_flags = s.token_new_lines > 0 ? FLAG_BRACED_NEW_LINE : 0;
    }
    ++s.brace_depth;
    s.braced_flags |= flags;
    s.start_state = START_BRACED;
}

void close_brace(state& s, const uint8_t* end, uint32_t flags) {
    s.braced_flags |= flags;
    s.position = end + 1;
    if (--s.brace_depth > 0) {
        if (s.position >= s.input_end) raise_error(s, s.braced_start, s.position, TYPE_STRING);
        return;
    }
    const uint8_t* start = s.braced_start;
    const uint32_t string_flags = s.braced_flags;
    abandon_braced_string(s);
    fire_event(s, EVENT_CLOSE, TYPE_STRING, nullptr, start, end + 1);
    // The string's new-line flag is the one of its opening brace.
    s.token_new_lines = (string_flags & FLAG_BRACED_NEW_LINE) ? 1 : 0;
    s.token_type = TYPE_STRING;
    take_value(s, TOKEN_STRING, start, end + 1, string_flags);
}

void open_path(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags) {
    type_id type = *start == '\'' ? TYPE_LIT_PATH : *start == ':' ? TYPE_GET_PATH : TYPE_PATH;
    // In a path from here on, so that an error in the head word ends the path too.
    if (open_series(s, type, start, start)) s.start_state = START_PATH;
    s.forced_type = TYPE_WORD;
    take_value(s, TOKEN_WORD, type == TYPE_PATH ? start : start + 1, end, flags & ~FLAG_COLON);
    s.position = std::min(end + 1, s.input_end);
}

void take_comma(state& s, const uint8_t* end) {
    s.position = end + 1;
    if (has_open_series(s)) {
        cell* marker = innermost_marker(s);
        if (marker_type(marker) == TYPE_PAREN) {
            marker->w2 = TYPE_POINT2D | (1u << 16);
            return;
        }
        if (marker_type(marker) == TYPE_POINT2D) {
            marker->w2 += 1u << 16;
            return;
        }
    }
    raise_error(s, end, end + 1, TYPE_POINT2D);
}

// The scanners of classes 1-13.
void scan_structure(state& s, int token_class, const uint8_t* start, const uint8_t* end, uint32_t flags) {
    switch (token_class) {
        case TOKEN_END:
            s.position = s.input_end;
            return;
        case TOKEN_INVALID: {
            const int kind = token_type_table[s.last_state];
            const uint8_t* stop = bad_token_end(s, start, end);
            // A braced string is shown from its opening brace, a broken path from its start.
            if (s.brace_depth > 0 && s.braced_start) start = s.braced_start;
            else if (s.start_state == START_PATH && is_path_type(open_series_type(s))) start = nullptr;
            raise_error(s, start, stop, kind ? kind : ERROR_BAD_CHAR);
        }
        case TOKEN_BLOCK_OPEN:
            s.position = end + 1;
            open_series(s, TYPE_BLOCK, end, end + 1);
            return;
        case TOKEN_BLOCK_CLOSE:
            s.position = end + 1;
            close_series(s, TYPE_BLOCK, end, end + 1);
            return;
        case TOKEN_PAREN_OPEN:
            s.position = end + 1;
            if (point_follows(s)) {
                s.saved_token_new_lines = s.token_new_lines;
                s.start_state = START_POINT;
                return;
            }
            open_series(s, TYPE_PAREN, end, end + 1);
            return;
        case TOKEN_PAREN_CLOSE:
            s.position = end + 1;
            close_series(s, TYPE_PAREN, end, end + 1);
            return;
        case TOKEN_BRACE_OPEN:
            open_brace(s, end, flags);
            return;
        case TOKEN_BRACE_CLOSE:
            close_brace(s, end, flags);
            return;
        case TOKEN_MAP_OPEN:
            s.position = end + 1;
            open_series(s, TYPE_MAP, start, end + 1);
            return;
        case TOKEN_PATH_HEAD:
            open_path(s, start, end, flags);
            return;
        case TOKEN_CONSTRUCTION: {
            const uint32_t before = s.output_tail;
            if (scanners[TOKEN_CONSTRUCTION]) scanners[TOKEN_CONSTRUCTION](s, start, end, flags, s.load_mode != 0);
            if (s.output_tail > before) s.token_type = output_at(s.output_tail - 1)->type();
            s.step_tail = s.output_tail;
            return;
        }
        case TOKEN_COMMENT:
            fire_event(s, EVENT_SCAN, -TOKEN_COMMENT, nullptr, start, end);
            return;
        case TOKEN_COMMA:
            take_comma(s, end);
            return;
        default:
            return;
    }
}

// After an element of a path: the path ends, becomes a set-path, or goes on after "/".
void continue_path(state& s) {
    const uint8_t* p = s.position;
    if (p >= s.input_end || path_end_table[class_of(*p)]) {
        if (p < s.input_end && *p == ':') {
            if (open_series_type(s) != TYPE_PATH) raise_error(s, nullptr, p + 1, TYPE_PATH);
            s.position = ++p;
            if (p < s.input_end && *p == '/') raise_error(s, nullptr, p + 1, TYPE_PATH);
            close_series(s, TYPE_SET_PATH, p - 1, p);
        } else {
            close_series(s, -1, p, p);
        }
        return;
    }
    if (*p == '/') {
        s.position = ++p;
        if (p >= s.input_end || *p == ':') raise_error(s, nullptr, std::min(p + 1, s.input_end), TYPE_PATH);
    }
}

// The leading Unicode blanks of a word token: the address after them.
const uint8_t* skip_unicode_blanks(const uint8_t* p, const uint8_t* end) {
    while (p < end && *p >= 0xC2) {
        int32_t code_point;
        const uint8_t* next = unicode::decode_utf8_char(p, end, code_point);
        if (code_point < 0 || !is_unicode_blank(static_cast<uint32_t>(code_point))) break;
        p = next;
    }
    return p;
}

}  // namespace

void init_machine() {
    for (int c = 1; c <= TOKEN_CLASS_COUNT; ++c) {
        scanners[c] = c == TOKEN_CONSTRUCTION || c >= TOKEN_STRING ? token_scanner(c) : nullptr;
        loaders[c] = c >= TOKEN_STRING ? token_loader(c) : nullptr;
    }
}

bool open_series(state& s, type_id type, const uint8_t* delimiter, const uint8_t* end) {
    if (open_series_type(s) == TYPE_POINT2D) raise_error(s, delimiter, end, TYPE_POINT2D);
    if (!fire_event(s, EVENT_OPEN, type, nullptr, delimiter, end)) return false;
    const uint32_t back = s.output_tail - s.output_head;
    cell* marker = new_cell(s);
    marker->header = TYPE_TRIPLE | (marker->header & FLAG_NEW_LINE);
    marker->w1 = back;
    marker->w2 = type;
    marker->w3 = static_cast<uint32_t>(delimiter - s.input_start);
    s.output_head = s.step_tail = s.output_tail;
    s.start_state = START_NORMAL;
    return true;
}

void close_series(state& s, int32_t expected, const uint8_t* start, const uint8_t* end) {
    const int32_t open = open_series_type(s);
    const bool matches = open != 0 && (expected == -1 || open == expected || (expected == TYPE_BLOCK && open == TYPE_MAP) ||
                                       (expected == TYPE_SET_PATH && open == TYPE_PATH));
    if (!matches) {
        s.open_type = open ? open : expected;
        raise_error(s, start, end, ERROR_WRONG_CLOSE);
    }
    const int32_t type = expected == TYPE_SET_PATH ? TYPE_SET_PATH : open;
    if (!fire_event(s, EVENT_CLOSE, type, nullptr, start, end)) {
        s.start_state = START_NORMAL;
        return;
    }
    finish_series(s, closed_type(s, type));
    s.token_type = type;
}

void close_pending_path(state& s) {
    if (s.start_state != START_PATH || !is_path_type(open_series_type(s))) return;
    if (s.output_tail > s.output_head) {
        finish_series(s, open_series_type(s));
        return;
    }
    // A path without elements is no value: its marker goes.
    const uint32_t marker_index = s.output_head - 1;
    s.output_head = marker_index - innermost_marker(s)->w1;
    s.output_tail = s.step_tail = marker_index;
    s.start_state = is_path_type(open_series_type(s)) ? START_PATH : START_NORMAL;
}

void abandon_braced_string(state& s) {
    s.brace_depth = 0;
    s.braced_flags = 0;
    s.braced_start = nullptr;
    if (s.start_state == START_BRACED) s.start_state = START_NORMAL;
}

void close_all_series(state& s) {
    while (has_open_series(s)) {
        cell* marker = innermost_marker(s);
        const int32_t type = marker_type(marker);
        if (!is_path_type(type)) {
            finish_series(s, type == TYPE_PAREN || type == TYPE_POINT2D ? TYPE_PAREN : TYPE_BLOCK);
            continue;
        }
        const uint32_t marker_index = s.output_head - 1;
        const uint32_t back = marker->w1;
        std::memmove(output_at(marker_index), output_at(s.output_head),
                     size_t(s.output_tail - s.output_head) * sizeof(cell));
        --s.output_tail;
        s.output_head = marker_index - back;
    }
    s.step_tail = s.output_tail;
    s.start_state = START_NORMAL;
}

void scan_tokens(state& s, bool single, bool prescan) {
    const uint8_t* const input_end = s.input_end;
    const bool callback = has_callback(s);
    int32_t step_line = s.line;
    for (;;) {
        const int32_t begin_state = s.start_state;
        const uint8_t* const begin = s.position;

        // The machine: one token, two look-ups per byte.
        const uint8_t* p = begin;
        uint32_t machine = static_cast<uint32_t>(begin_state);
        uint32_t previous = machine;
        uint32_t flags = 0;
        size_t skip = 0;
        int32_t line = s.line;
        while (p < input_end) {
            const uint32_t entry = character_table[*p];
            flags |= entry;
            previous = machine;
            machine = transition_table[machine][entry & 0xFF];
            if (machine >= READING_STATE_COUNT) break;
            skip += skip_table[machine];
            line += line_table[entry & 0xFF];
            ++p;
        }
        if (machine < READING_STATE_COUNT) {
            previous = machine;
            machine = transition_table[machine][CLASS_END];
        }
        flags &= FLAGS_MASK;
        const int token_class = static_cast<int>(machine) - READING_STATE_COUNT;
        const uint8_t* const start = begin + skip;
        s.position = s.token_end = p;
        s.line = line;
        s.token_new_lines = line - step_line;
        s.last_state = static_cast<int32_t>(previous);
        s.forced_type = -1;
        s.token_type = token_type_table[machine];
        s.open_type = 0;
        s.step_tail = s.output_tail;

        // A word that starts with Unicode blanks is read again after them.
        if (token_class == TOKEN_WORD && start < p && *start >= 0xC2) {
            const uint8_t* after = skip_unicode_blanks(start, p);
            if (after != start) {
                s.position = after;
                continue;
            }
        }

        bool structure_done = false;
        try {
            if (prescan && token_class <= TOKEN_STRING) {
                if (token_class <= TOKEN_COMMA) {
                    scan_structure(s, token_class, start, p, flags);
                    structure_done = true;
                } else if (scanners[TOKEN_STRING]) {
                    scanners[TOKEN_STRING](s, start, std::min(p + 1, input_end), flags, false);
                }
            }
            bool go_on = !prescan;
            if (callback && begin_state != START_BRACED) {
                const uint8_t* from = start;
                const uint8_t* to = token_stop(s, token_class, start, p);
                if (token_class == TOKEN_POINT) event_range(s, token_class, from, to);
                go_on = fire_event(s, EVENT_PRESCAN, reported_type(s, token_class), nullptr, from, to);
            }
            if (go_on) {
                if (token_class <= TOKEN_COMMA) {
                    if (!structure_done) scan_structure(s, token_class, start, p, flags);
                } else {
                    if (token_class == TOKEN_POINT) s.token_new_lines = s.saved_token_new_lines;
                    // "..." reaches the loaders with both quotes.
                    take_value(s, token_class, start, token_class == TOKEN_STRING ? std::min(p + 1, input_end) : p,
                               flags);
                }
            } else {
                s.position = std::max(s.position, token_stop(s, token_class, start, p));
            }
            if (s.start_state == START_PATH && token_class != TOKEN_PATH_HEAD && token_class != TOKEN_INVALID) {
                continue_path(s);
            }
        } catch (const quiet_stop&) {
            s.position = std::max(s.position, token_stop(s, token_class, start, p));
        }
        if (begin_state == START_POINT && s.start_state == START_POINT) s.start_state = START_NORMAL;
        if (s.moved_position) {
            s.position = s.moved_position;
            s.moved_position = nullptr;
        }
        // Every step moves on, even when a callback sent the input back to where it began.
        if (s.position <= begin && begin < input_end) s.position = begin + 1;

        if ((single || prescan) && s.token_type > 0 && s.start_state == START_NORMAL && s.brace_depth == 0) {
            const uint32_t count = s.output_tail - s.output_base;
            if ((!s.load_mode && count == 0) || (count == 1 && !has_open_series(s))) break;
        }
        s.previous_token_type = s.token_type;
        if (s.position >= input_end) {
            // The input may not end inside a braced string, nor where a path element is due.
            try {
                if (s.brace_depth > 0) raise_error(s, s.braced_start, input_end, TYPE_STRING);
                if (s.start_state == START_PATH) raise_error(s, nullptr, input_end, TYPE_PATH);
            } catch (const quiet_stop&) {
                abandon_braced_string(s);
            }
            break;
        }
        step_line = s.line;
    }
}

}  // namespace zor::lexer
