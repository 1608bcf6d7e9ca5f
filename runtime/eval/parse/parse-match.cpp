// Matching one rule value at the input position, counting runs of a character or a
// charset in one pass, and the searches of to and thru, for each kind of input: text
// (code points of any width, folded unless the case flag is set), bytes, and cells.
//
// Nothing here allocates per matched unit: the loops read the input buffer in place and
// no value is built for a unit that is only compared.
#include <algorithm>
#include <string>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/parse/parse-machine.h"
#include "runtime/eval/stack.h"
#include "runtime/text/case-fold.h"

namespace zor::parse {

namespace {

bool is_text_type(type_id t) { return series::kind_of(t) == series::ELEMENTS_TEXT; }

// A charset read once for a loop (valid until the next allocation).
struct charset {
    const uint8_t* bytes;
    int64_t bits;
    bool complement;
    explicit charset(const cell* b)
        : bytes(bitset::get_bytes(b)), bits(bitset::byte_count(b) * 8), complement(bitset::is_complemented(b)) {}
    bool has(uint32_t c) const {
        return int64_t(c) < bits ? (bytes[c >> 3] & (0x80 >> (c & 7))) != 0 : complement;
    }
};

uint32_t unit_at(memory::series_buffer* b, uint32_t unit, int64_t i) {
    return string::read_unit(b->head + i * int64_t(unit), unit);
}

uint32_t fold(uint32_t c) { return case_fold::to_upper(c); }

// The bytes a rule value stands for against binary input, empty for a value that has none.
bool value_bytes(const cell* value, std::string* out) {
    if (value->is(TYPE_BINARY)) {
        const std::vector<uint8_t> bytes = binary::rest_bytes(value);
        out->assign(bytes.begin(), bytes.end());
        return true;
    }
    if (is_text_type(value->type())) {
        *out = string::to_utf8(value);
        if (value->is(TYPE_TAG)) *out = "<" + *out + ">";
        return true;
    }
    if (value->is(TYPE_CHAR)) {
        const uint32_t c = value->w2;
        std::string s;
        if (c < 0x80) s.push_back(char(c));
        else if (c < 0x800) s += {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
        else if (c < 0x10000) s += {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
        else s += {char(0xF0 | (c >> 18)), char(0x80 | ((c >> 12) & 0x3F)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
        *out = s;
        return true;
    }
    return false;
}

bool bytes_at(machine& m, int64_t at, const std::string& bytes) {
    if (at + int64_t(bytes.size()) > m.end()) return false;
    const std::byte* p = m.input_buffer()->head + at;
    return std::equal(bytes.begin(), bytes.end(), reinterpret_cast<const char*>(p));
}

// Text rule values: the units a match spans, -1 when there is none at the position.
int64_t match_text_at(machine& m, int64_t at, const cell* value) {
    memory::series_buffer* b = m.input_buffer();
    const int64_t end = m.end();
    const type_id t = value->type();
    if (t == TYPE_BITSET) {
        if (at >= end) return -1;
        return charset(value).has(unit_at(b, b->unit(), at)) ? 1 : -1;
    }
    if (t == TYPE_CHAR) {
        if (at >= end) return -1;
        const uint32_t c = unit_at(b, b->unit(), at);
        const uint32_t wanted = value->w2;
        return (m.case_sensitive ? c == wanted : fold(c) == fold(wanted)) ? 1 : -1;
    }
    if (is_text_type(t)) {
        const int64_t length = string::rest_length(value) + (t == TYPE_TAG ? 2 : 0);
        if (at + length > end) return -1;
        if (length == 0) return 0;
        cell here = *m.input;
        here.w1 = static_cast<uint32_t>(at);
        const int32_t op = m.case_sensitive ? COMPARE_STRICT_EQUAL : COMPARE_EQUAL;
        return string::match_value_at_position(&here, value, op) ? length : -1;
    }
    return -1;
}

int64_t match_bytes_at(machine& m, int64_t at, const cell* value) {
    const int64_t end = m.end();
    if (value->is(TYPE_BITSET)) {
        if (at >= end) return -1;
        const uint8_t byte = static_cast<uint8_t>(m.input_buffer()->head[at]);
        return charset(value).has(byte) ? 1 : -1;
    }
    std::string bytes;
    if (!value_bytes(value, &bytes)) return -1;
    return bytes_at(m, at, bytes) ? int64_t(bytes.size()) : -1;
}

bool cell_equal(machine& m, const cell* item, const cell* value) {
    cell left = *item;
    cell right = *value;
    const bool lit_forms = word::is_any_word_type(left.type()) || word::is_any_word_type(right.type()) ||
                           left.is(TYPE_LIT_PATH) || right.is(TYPE_LIT_PATH);
    int op;
    if (lit_forms) op = m.case_sensitive ? COMPARE_LIT_FORM_EQUAL : COMPARE_LIT_FORM_EQUAL_FOLDED;
    else op = m.case_sensitive ? COMPARE_STRICT_EQUAL : COMPARE_EQUAL;
    return actions::compare(&left, &right, op);
}

bool typeset_has_type(const cell* typeset, type_id t) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(typeset);
    return (bytes[4 + (t >> 3)] & (0x80 >> (t & 7))) != 0;
}

bool type_matches(const cell* rule, type_id t) {
    if (rule->is(TYPE_DATATYPE)) return static_cast<type_id>(rule->w1) == t;
    return typeset_has_type(rule, t);
}

// A datatype against bytes: the next token the lexer finds there must be of that type.
int64_t match_token(machine& m, const cell* rule) {
    const int64_t length = m.end() - m.index;
    if (length <= 0) return -1;
    cell* found = stack::push_slot();
    cell* source = stack::push_copy(m.input);
    source->w1 = static_cast<uint32_t>(m.index);
    lexer::scan_request request;
    request.single = true;
    request.scan = true;
    request.source = source;
    int64_t consumed = 0;
    lexer::scan_binary(found, source, length, request, &consumed);
    const cell answer = *found;
    stack::drop_slots(2);
    if (!answer.is(TYPE_DATATYPE) || consumed <= 0) return -1;
    return type_matches(rule, static_cast<type_id>(answer.w1)) ? std::min(consumed, length) : -1;
}

}  // namespace

input_kind kind_of_input(type_id type) {
    switch (series::kind_of(type)) {
        case series::ELEMENTS_TEXT: return INPUT_TEXT;
        case series::ELEMENTS_BINARY: return INPUT_BYTES;
        default: return INPUT_CELLS;
    }
}

cell item_at(const machine& m, int64_t position) {
    memory::series_buffer* b = m.input_buffer();
    cell item;
    switch (m.kind) {
        case INPUT_TEXT: char_::make_in(&item, unit_at(b, b->unit(), position)); break;
        case INPUT_BYTES: integer::make_in(&item, static_cast<uint8_t>(b->head[position])); break;
        case INPUT_CELLS: item = b->head_cell()[position]; cell::clear_new_line(&item); break;
    }
    return item;
}

int64_t match_value(machine& m, const cell* value) {
    const bool is_type = value->is(TYPE_DATATYPE) || value->is(TYPE_TYPESET);
    switch (m.kind) {
        case INPUT_TEXT:
            if (is_type) raise::throw_error(err::script_parse_unsupported);
            return match_text_at(m, m.index, value);
        case INPUT_BYTES:
            if (is_type) return match_token(m, value);
            return match_bytes_at(m, m.index, value);
        case INPUT_CELLS: {
            if (m.index >= m.end()) return -1;
            const cell item = m.input_buffer()->head_cell()[m.index];
            if (is_type) return type_matches(value, item.type()) ? 1 : -1;
            return cell_equal(m, &item, value) ? 1 : -1;
        }
    }
    return -1;
}

bool counts_at_once(const machine& m, const cell* value) {
    if (m.kind == INPUT_TEXT) return value->is(TYPE_CHAR) || value->is(TYPE_BITSET);
    if (m.kind == INPUT_BYTES) return value->is(TYPE_BITSET) || (value->is(TYPE_CHAR) && value->w2 < 0x80);
    return false;
}

int64_t count_run(machine& m, const cell* value, int64_t max) {
    memory::series_buffer* b = m.input_buffer();
    const int64_t start = m.index;
    int64_t limit = m.end();
    if (max >= 0 && start + max < limit) limit = start + max;
    int64_t i = start;
    if (m.kind == INPUT_BYTES) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(b->head);
        if (value->is(TYPE_BITSET)) {
            const charset set(value);
            while (i < limit && set.has(bytes[i])) ++i;
        } else {
            const uint8_t wanted = static_cast<uint8_t>(value->w2);
            while (i < limit && bytes[i] == wanted) ++i;
        }
        return i - start;
    }
    const uint32_t unit = b->unit();
    if (value->is(TYPE_BITSET)) {
        const charset set(value);
        if (unit == 1) {
            const auto* p = reinterpret_cast<const uint8_t*>(b->head);
            while (i < limit && set.has(p[i])) ++i;
        } else {
            while (i < limit && set.has(unit_at(b, unit, i))) ++i;
        }
        return i - start;
    }
    const uint32_t wanted = value->w2;
    if (m.case_sensitive) {
        while (i < limit && unit_at(b, unit, i) == wanted) ++i;
    } else {
        const uint32_t folded = fold(wanted);
        while (i < limit && fold(unit_at(b, unit, i)) == folded) ++i;
    }
    return i - start;
}

bool is_simple_search(const cell* value) {
    switch (value->type()) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_DATATYPE: case TYPE_TYPESET: case TYPE_INTEGER:
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD:
        case TYPE_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
            return false;
        default: return true;
    }
}

bool search(machine& m, const cell* value, int64_t* found, int64_t* length) {
    const int64_t end = m.end();
    switch (m.kind) {
        case INPUT_CELLS:
            for (int64_t i = m.index; i < end; ++i) {
                const cell item = m.input_buffer()->head_cell()[i];
                if (cell_equal(m, &item, value)) {
                    *found = i;
                    *length = 1;
                    return true;
                }
            }
            return false;
        case INPUT_TEXT: {
            const type_id t = value->type();
            if (t != TYPE_CHAR && t != TYPE_BITSET && !is_text_type(t)) {
                cell bad = *value;
                raise::throw_error(err::script_parse_rule, &bad);
            }
            if (t == TYPE_CHAR || t == TYPE_BITSET) {
                memory::series_buffer* b = m.input_buffer();
                const uint32_t unit = b->unit();
                if (t == TYPE_BITSET) {
                    const charset set(value);
                    for (int64_t i = m.index; i < end; ++i) {
                        if (set.has(unit_at(b, unit, i))) return *found = i, *length = 1, true;
                    }
                    return false;
                }
                const uint32_t wanted = m.case_sensitive ? value->w2 : case_fold::to_lower(value->w2);
                for (int64_t i = m.index; i < end; ++i) {
                    uint32_t c = unit_at(b, unit, i);
                    if (!m.case_sensitive) c = case_fold::to_lower(c);
                    if (c == wanted) return *found = i, *length = 1, true;
                }
                return false;
            }
            for (int64_t i = m.index; i <= end; ++i) {
                const int64_t n = match_text_at(m, i, value);
                if (n >= 0) return *found = i, *length = n, true;
            }
            return false;
        }
        case INPUT_BYTES: {
            if (value->is(TYPE_BITSET)) {
                const charset set(value);
                const auto* bytes = reinterpret_cast<const uint8_t*>(m.input_buffer()->head);
                for (int64_t i = m.index; i < end; ++i) {
                    if (set.has(bytes[i])) return *found = i, *length = 1, true;
                }
                return false;
            }
            std::string wanted;
            if (!value_bytes(value, &wanted)) {
                cell bad = *value;
                raise::throw_error(err::script_parse_rule, &bad);
            }
            const auto* head = reinterpret_cast<const char*>(m.input_buffer()->head);
            const std::string_view haystack(head + m.index, size_t(end - m.index));
            const size_t at = haystack.find(wanted);
            if (at == std::string_view::npos) return false;
            *found = m.index + int64_t(at);
            *length = int64_t(wanted.size());
            return true;
        }
    }
    return false;
}

}  // namespace zor::parse
