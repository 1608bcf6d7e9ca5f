// url!: building from parts, the percent-encoded mold, path access, and the reads and
// writes of file: urls (see url.h).
#include "runtime/datatypes/url.h"

#include <algorithm>
#include <array>
#include <climits>
#include <string>
#include <string_view>
#include <strings.h>

#include "runtime/datatypes/callable.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file-io.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/unicode.h"
#include "runtime/value/type-registry.h"

namespace zor::url {

namespace {

using class_table = std::array<bool, 128>;

constexpr class_table make_class(std::string_view punctuation) {
    class_table kept{};
    for (char c = '0'; c <= '9'; ++c) kept[size_t(c)] = true;
    for (char c = 'A'; c <= 'Z'; ++c) kept[size_t(c)] = true;
    for (char c = 'a'; c <= 'z'; ++c) kept[size_t(c)] = true;
    for (char c : punctuation) kept[size_t(c)] = true;
    return kept;
}

constexpr class_table UNRESERVED_CLASS = make_class("-._~");
constexpr class_table URL_CLASS = make_class("!#$&'()*+,-./:=?@_~");

bool is_block_spec(type_id t) { return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH; }

// Forms a copy of the cell (it may lie in a block's buffer, which forming can move) onto
// the output.
void form_onto(const cell* value, cell* output) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(value);
    actions::dispatch_form(held, output, nullptr, INT32_MAX);
}

cell* element_at(const cell* list, int64_t n) { return memory::buffer_of(list->w2)->head_cell() + n; }

// scheme://host[:port][/segment/segment#fragment] from the block's cells from its index.
// A block of one cell is a scheme alone: "scheme://".
cell* build_from_block(cell* spec, type_id type) {
    cell* held = stack::push_copy(spec);
    int64_t length = memory::buffer_of(held->w2)->length();
    int64_t index = std::clamp<int64_t>(series::index_of(held), 0, length);
    if (index >= length) {
        cell* target = datatype::make_in(stack::push_slot(), type);
        raise::throw_error(err::script_bad_to_arg, target, held);
    }
    cell* result = string::make_empty(stack::push_slot(), 32);
    form_onto(element_at(held, index), result);
    string::append_c_string(result, "://");
    int64_t k = index + 1;
    if (k < length) form_onto(element_at(held, k++), result);
    if (k < length && element_at(held, k)->is(TYPE_INTEGER)) {
        string::append_codepoint(result, ':');
        form_onto(element_at(held, k++), result);
    }
    if (k < length) {
        string::append_codepoint(result, '/');
        for (; k < length; ++k) {
            form_onto(element_at(held, k), result);
            if (k + 1 < length) string::append_codepoint(result, element_at(held, k + 1)->is(TYPE_ISSUE) ? '#' : '/');
        }
    }
    cell::set_type(result, type);
    return result;
}

// The string! handler of an action, for the conversions url! hands on.
template <action A> action_handler<A> string_handler() {
    return reinterpret_cast<action_handler<A>>(type_registry::handler_of(TYPE_STRING, A));
}

[[noreturn]] cell* not_done() { raise::throw_error(err::internal_not_done); }

cell* open(cell*, bool, bool, bool, bool, cell*) { not_done(); }

// A file: url as the file! it names, pushed on the stack: "file:" and then "//" or
// "//localhost" dropped (file:///tmp/a is /tmp/a, file:a is the relative a); null for any
// other scheme.
cell* push_file_of(cell* url) {
    std::string text = string::to_utf8(url);
    if (text.size() < 5 || strncasecmp(text.c_str(), "file:", 5) != 0) return nullptr;
    std::string path = text.substr(5);
    if (path.rfind("//localhost/", 0) == 0) path = path.substr(11);
    else if (path.rfind("//", 0) == 0) path = path.substr(2);
    cell* file = string::load_onto_stack(unicode::input_bytes::at(path.data()), int64_t(path.size()),
                                         string::ENCODING_UTF8);
    cell::set_type(file, TYPE_FILE);
    return file;
}

// file: urls read and write files; other schemes belong to the network services.
cell* read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as) {
    cell* file = push_file_of(source);
    if (!file || info || as) not_done();
    return file_io::read_path(file, part, seek, binary, lines);
}

cell* write(cell* destination, cell* data, bool binary, bool lines, bool info, bool append, cell* part, cell* seek,
            cell* allow, cell* as) {
    cell* file = push_file_of(destination);
    if (!file || info || allow || as) not_done();
    file_io::write_path(file, data, part, seek, binary, append, lines);
    return &unset::value;
}

}  // namespace

bool keeps_byte(uint8_t byte, int mode) {
    if (byte >= 0x80) return false;
    return mode == MODE_UNRESERVED ? UNRESERVED_CLASS[byte] : URL_CLASS[byte];
}

void encode_codepoint(std::string& text, uint32_t codepoint, int mode) {
    uint8_t bytes[4];
    int n = unicode::encode_utf8_char(codepoint, bytes);
    for (int i = 0; i < n; ++i) {
        // Parentheses are url characters, but the lexer ends a url literal at them.
        bool kept = mode == MODE_MOLD ? keeps_byte(bytes[i], MODE_URL) && bytes[i] != '(' && bytes[i] != ')'
                                      : keeps_byte(bytes[i], mode);
        if (kept) {
            text.push_back(static_cast<char>(bytes[i]));
        } else {
            text.push_back('%');
            text.append(string::byte_to_hex(bytes[i]));
        }
    }
}

cell* make(cell* value, cell* spec, type_id type) {
    if (type == TYPE_URL && is_block_spec(spec->type())) return build_from_block(spec, type);
    return string_handler<ACTION_MAKE>()(value, spec, type);
}

cell* to(cell* value, cell* spec, type_id type) {
    if (type == TYPE_URL && is_block_spec(spec->type())) return build_from_block(spec, type);
    return string_handler<ACTION_TO>()(value, spec, type);
}

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    (void)only, (void)all, (void)flat, (void)indent;
    // The encoded text is gathered first: reading the value allocates nothing, and the
    // output then grows once.
    memory::series_buffer* b = memory::buffer_of(value->w2);
    uint32_t unit = b->unit();
    int64_t length = b->length();
    int64_t index = std::clamp<int64_t>(series::index_of(value), 0, length);
    int64_t limit = part ? std::max(budget, 0) : INT64_MAX;
    std::string encoded;
    for (int64_t i = index; i < length && int64_t(encoded.size()) < limit; ++i) {
        encode_codepoint(encoded, string::read_unit(b->head + i * unit, unit), MODE_MOLD);
    }
    int64_t written = std::min<int64_t>(int64_t(encoded.size()), limit);
    string::append_bytes(output, encoded.data(), written);
    return callable::spend(budget, written);
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int position, int pass_through, bool get_only, bool tail, bool in_place) {
    (void)grandparent, (void)previous, (void)position, (void)pass_through, (void)get_only, (void)tail, (void)in_place;
    if (value) {
        cell* where = stack::push_copy(path ? path : &none::value);
        raise::throw_error(err::script_bad_path_set, where, stack::push_copy(element));
    }
    cell* base = stack::push_copy(parent);
    cell* segment = stack::push_copy(element);
    if (segment->is(TYPE_GET_WORD)) *segment = *word::get_value(segment);
    int64_t rest = std::max<int64_t>(string::rest_length(base), 0);
    uint32_t unit = memory::buffer_of(base->w2)->unit();
    cell* result = string::make_in_cell(stack::push_slot(), rest + 16, unit);
    actions::dispatch_form(segment, result, nullptr, INT32_MAX);
    bool base_slash = rest > 0 && string::char_at(base, string::length_from_head(base) - 1) == '/';
    bool segment_slash = string::rest_length(result) > 0 && string::char_at(result, 0) == '/';
    if (!base_slash && !segment_slash) string::insert_codepoint(memory::buffer_of(result->w2), 0, '/');
    int64_t count = base_slash && segment_slash ? rest - 1 : rest;
    if (count > 0) string::concatenate(result, base, count, 0, true, string::CONCATENATE_INSERT);
    cell::set_type(result, parent->type());
    return result;
}

void init_type() {
    type_registry::action_list list(TYPE_STRING);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_TO>(&to);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_EVAL_PATH>(&eval_path);
    list.set<ACTION_OPEN>(&open);
    list.set<ACTION_READ>(&read);
    list.set<ACTION_WRITE>(&write);
    list.unsupported(ACTION_RANDOM);
    list.unsupported(ACTION_REFLECT);
    list.unsupported(ACTION_SORT);
    list.unsupported(ACTION_TRIM);
    type_registry::register_type(TYPE_URL, TYPE_STRING, "url!", list);
}

}  // namespace zor::url
