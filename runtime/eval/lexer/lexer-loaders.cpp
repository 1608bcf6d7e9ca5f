// The token-class tables of the lexer's scanners and loaders, and the loaders of the
// name-like classes: words (with their set-, get- and lit- forms), issues, refinements,
// and the construction syntax #(...).
//
// Words are interned straight from the UTF-8 bytes of the input and bound in the global
// context the way word::make_global_in_cell binds every new word, so a word read from
// text and the same word made by the runtime share one global value slot.
#include "runtime/eval/lexer/lexer-loaders.h"

#include <array>
#include <cstring>

#include "runtime/binding/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/word.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/text/unicode.h"

namespace zor::lexer {

// --- Shared readers --------------------------------------------------------------------------

bool is_ascii(const uint8_t* start, const uint8_t* end) {
    for (const uint8_t* p = start; p < end; ++p) {
        if (*p >= 0x80) return false;
    }
    return true;
}

int32_t decode_character(const uint8_t* p, const uint8_t* end, const uint8_t** next) {
    if (*p < 0x80) {
        *next = p + 1;
        return *p;
    }
    int32_t codepoint;
    *next = unicode::decode_utf8_char(p, end, codepoint);
    return codepoint;
}

bool is_valid_utf8(const uint8_t* start, const uint8_t* end) {
    const uint8_t* p = start;
    while (p < end) {
        if (decode_character(p, end, &p) < 0) return false;
    }
    return true;
}

namespace {

// --- Words -----------------------------------------------------------------------------------------

// The bytes after which a path step may end: the lexer's path-end character classes
// (blank, LF, brackets, parentheses, "{", quote, colon, "<", semicolon, the letters and
// signs of the "other" class, the UTF-8 lead bytes and the bad bytes) and NUL.
bool is_path_end_byte(uint8_t b) {
    switch (b) {
        case 0: case '\t': case '\r': case ' ': case '\n': case '[': case ']': case '(': case ')':
        case '{': case '"': case ':': case '<': case ';':
        case '!': case '&': case '*': case '?': case '_': case '`': case '|': case '~':
            return true;
        default:
            break;
    }
    if (b >= 0xC0) return true;
    if ((b >= 'G' && b <= 'S') || (b >= 'U' && b <= 'W') || b == 'Y' || b == 'Z') return true;
    return b == 'g' || (b >= 'i' && b <= 'w') || b == 'y' || b == 'z';
}

// The end of a word-like token at its first Unicode blank. Every blank is outside ASCII,
// so an ASCII token keeps its end.
const uint8_t* word_end_of(const uint8_t* start, const uint8_t* end) {
    return is_ascii(start, end) ? end : scan_word_end(start, end);
}

// Writes a word of the type, interned from the name bytes and bound in the global
// context, into a new output cell.
void emit_word(state& s, const uint8_t* name, const uint8_t* name_end, type_id type) {
    cell* out = new_cell(s);
    uint32_t new_line = out->header & FLAG_NEW_LINE;
    int32_t symbol = symbol::make_from_utf8(reinterpret_cast<const char*>(name), name_end - name);
    word::make_global_in_cell(symbol, out);
    set_final_type(out, new_line, type);
}

// Reads the word forms. Answers through the out-parameters the name's range and type,
// after checking the decorations; leaves the input position at the word's end.
type_id read_word_form(state& s, const uint8_t* start, const uint8_t* end, const uint8_t** name,
                       const uint8_t** name_end) {
    const uint8_t* word_end = word_end_of(start, end);
    s.position = word_end;
    const uint8_t* first = start;
    const uint8_t* last = word_end;
    type_id type = TYPE_WORD;

    if (s.forced_type == TYPE_WORD) {
        // A path head: its decoration made the path's type. The machine hands over the
        // bare name; a decoration left in the range is dropped all the same.
        if (first < last && (*first == '\'' || *first == ':')) ++first;
        if (last > first && last[-1] == ':') --last;
    } else {
        if (first < last && *first == '\'') {
            type = TYPE_LIT_WORD;
            ++first;
        } else if (first < last && *first == ':') {
            type = TYPE_GET_WORD;
            ++first;
        }
        if (last > first && last[-1] == ':') {
            if (type == TYPE_LIT_WORD) raise_error(s, start, end, TYPE_LIT_WORD);
            if (type == TYPE_GET_WORD) raise_error(s, start, end, TYPE_WORD);
            type = TYPE_SET_WORD;
            --last;
        } else if (word_end == end && end < s.input_end && *end == ':') {
            // A colon right after the word ends a set-path; nowhere else may it follow.
            const uint8_t* after = end + 1;
            bool path_end = after >= s.input_end || is_path_end_byte(*after);
            if (s.start_state != PATH_START_STATE || !path_end) raise_error(s, start, end, TYPE_WORD);
        }
    }
    if (first >= last) raise_error(s, start, end, type);
    if (!is_ascii(first, last) && !is_valid_utf8(first, last)) raise_error(s, start, end, type);
    *name = first;
    *name_end = last;
    return type;
}

// "/" alone, and "'/", ":/" and "/:", are the word "/" in its forms.
bool is_slash_word(const uint8_t* start, const uint8_t* end) {
    int64_t n = end - start;
    if (n == 1) return *start == '/';
    if (n != 2) return false;
    return (start[1] == '/' && (start[0] == '\'' || start[0] == ':')) || (start[0] == '/' && start[1] == ':');
}

// --- Construction syntax -----------------------------------------------------------------------

bool equal_caseless(const uint8_t* text, int64_t n, const char* name, int64_t name_length) {
    if (n != name_length) return false;
    for (int64_t i = 0; i < n; ++i) {
        uint8_t a = text[i], b = static_cast<uint8_t>(name[i]);
        if (a >= 'a' && a <= 'z') a = static_cast<uint8_t>(a - 32);
        if (b >= 'a' && b <= 'z') b = static_cast<uint8_t>(b - 32);
        if (a != b) return false;
    }
    return true;
}

// The value that the text between "#(" and ")" names; false when it names none.
bool construction_value(const uint8_t* text, int64_t n, cell* value) {
    struct constant {
        const char* name;
        cell value;
    };
    static const constant constants[] = {
        {"true", cell{TYPE_LOGIC, 1, 0, 0}},
        {"false", cell{TYPE_LOGIC, 0, 0, 0}},
        {"none", cell{TYPE_NONE, 0, 0, 0}},
        {"unset", cell{TYPE_UNSET, 0, 0, 0}},
    };
    for (const constant& c : constants) {
        if (equal_caseless(text, n, c.name, static_cast<int64_t>(std::strlen(c.name)))) {
            *value = c.value;
            return true;
        }
    }
    for (int id = 1; id <= type_registry::max_type_id; ++id) {
        const type_registry::type_entry& entry = type_registry::type_entries[id];
        if (!entry.name) continue;
        int64_t full = static_cast<int64_t>(std::strlen(entry.name));
        if (equal_caseless(text, n, entry.name, entry.name_length) || equal_caseless(text, n, entry.name, full)) {
            *value = datatype::value_of(static_cast<type_id>(id));
            return true;
        }
    }
    return false;
}

void scan_word(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
    if (!loader_follows(s)) load_word(s, start, end, flags, false);
}

void scan_issue(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
    if (!loader_follows(s)) load_issue(s, start, end, flags, false);
}

// --- The tables ----------------------------------------------------------------------------------

struct class_routines {
    token_routine scanner;
    token_routine loader;
};

constexpr std::array<class_routines, TOKEN_CLASS_COUNT + 1> make_table() {
    std::array<class_routines, TOKEN_CLASS_COUNT + 1> table{};
    table[TOKEN_CONSTRUCTION] = {scan_construction, nullptr};
    table[TOKEN_STRING] = {scan_string, load_string};
    table[TOKEN_WORD] = {scan_word, load_word};
    table[TOKEN_ISSUE] = {scan_issue, load_issue};
    table[TOKEN_INTEGER] = {nullptr, load_integer};
    table[TOKEN_REFINEMENT] = {nullptr, load_refinement};
    table[TOKEN_CHAR] = {nullptr, load_char};
    table[TOKEN_FILE] = {nullptr, load_file};
    table[TOKEN_BINARY] = {nullptr, load_binary};
    table[TOKEN_PERCENT] = {nullptr, load_percent};
    table[TOKEN_FLOAT] = {nullptr, load_float};
    table[TOKEN_SPECIAL_FLOAT] = {nullptr, load_special_float};
    table[TOKEN_TUPLE] = {nullptr, load_tuple};
    table[TOKEN_DATE] = {nullptr, load_date};
    table[TOKEN_PAIR] = {nullptr, load_pair};
    table[TOKEN_POINT] = {nullptr, load_point};
    table[TOKEN_TIME] = {nullptr, load_time};
    table[TOKEN_MONEY] = {nullptr, load_money};
    table[TOKEN_TAG] = {nullptr, load_tag};
    table[TOKEN_URL] = {nullptr, load_url};
    table[TOKEN_EMAIL] = {nullptr, load_email};
    table[TOKEN_HEX_INTEGER] = {nullptr, load_hex_integer};
    table[TOKEN_RAW_STRING] = {nullptr, load_raw_string};
    table[TOKEN_REF] = {nullptr, load_ref};
    return table;
}

constexpr std::array<class_routines, TOKEN_CLASS_COUNT + 1> routines = make_table();

}  // namespace

token_routine token_scanner(int token_class) {
    if (token_class < 1 || token_class > TOKEN_CLASS_COUNT) return nullptr;
    return routines[static_cast<size_t>(token_class)].scanner;
}

token_routine token_loader(int token_class) {
    if (token_class < 1 || token_class > TOKEN_CLASS_COUNT) return nullptr;
    return routines[static_cast<size_t>(token_class)].loader;
}

// --- Words, issues, refinements --------------------------------------------------------------------

void load_word(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* name;
    const uint8_t* name_end;
    type_id type = read_word_form(s, start, end, &name, &name_end);
    s.token_type = type;
    if (load) emit_word(s, name, name_end, type);
}

void load_issue(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* word_end = word_end_of(start, end);
    s.position = word_end;
    if (word_end - start < 2 || *start != '#') raise_error(s, start, end, TYPE_ISSUE);
    const uint8_t* name = start + 1;
    if (!is_ascii(name, word_end) && !is_valid_utf8(name, word_end)) raise_error(s, start, end, TYPE_ISSUE);
    if (!load) return;
    cell* out = new_cell(s);
    uint32_t new_line = out->header & FLAG_NEW_LINE;
    int32_t symbol = symbol::make_from_utf8(reinterpret_cast<const char*>(name), word_end - name);
    // An issue names its symbol in the global context but is never bound to a slot.
    *out = cell{TYPE_ISSUE | new_line, context::global, static_cast<uint32_t>(symbol), word::INDEX_UNRESOLVED};
}

void load_refinement(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (is_slash_word(start, end)) {
        load_word(s, start, end, flags, load);
        return;
    }
    const uint8_t* word_end = word_end_of(start, end);
    s.position = word_end;
    if (word_end - start < 2 || *start != '/') raise_error(s, start, end, TYPE_REFINEMENT);
    const uint8_t* name = start + 1;
    if (!is_ascii(name, word_end) && !is_valid_utf8(name, word_end)) raise_error(s, start, end, TYPE_REFINEMENT);
    s.token_type = TYPE_REFINEMENT;
    if (load) emit_word(s, name, word_end, TYPE_REFINEMENT);
}

// --- Construction syntax ---------------------------------------------------------------------------

void scan_construction(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    // The token ends at its ")", which belongs to it.
    if (end >= s.input_end || *end != ')' || end - start < 2 || start[0] != '#' || start[1] != '(') {
        s.position = end;
        raise_error(s, start, end, ERROR_BAD_CONSTRUCTION);
    }
    s.position = end + 1;
    cell value;
    if (!construction_value(start + 2, end - (start + 2), &value)) raise_error(s, start, end + 1, ERROR_BAD_CONSTRUCTION);
    s.token_type = value.type();
    if (load) put_value(s, value);
}

}  // namespace zor::lexer
