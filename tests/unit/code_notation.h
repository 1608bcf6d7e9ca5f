// Test support for the interpreter tests: reads code written in a small notation into
// blocks on the argument stack (the lexer is not needed for it), and makes the callable
// values that code calls.
//
// Notation: integers (12, -3), floats (1.5), "text" (string!), none, true and false (the
// values themselves, not words), name! (the datatype when one has that name, else a
// word), name: (set-word!), 'name (lit-word!), :name (get-word!), /name (refinement!),
// #name (issue!), any other name (a word! bound in the global context: + and <= are
// names too), [ ] a block, ( ) a paren, and paths: a/b/c (path!), a/b: (set-path!),
// :a/b (get-path!), 'a/b (lit-path!), whose elements may be names, integers, :name and
// (parens). Every value is built in argument-stack slots through the block storage
// routines, so the collector sees all of it at each step.
#pragma once

#include <cctype>
#include <cstdlib>
#include <string>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/op.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/text/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zor::testing {

class code_notation_reader {
public:
    explicit code_notation_reader(const std::string& text) : text_(text) {}

    // Pushes the block of every value in the text; answers its slot.
    cell* read_block() {
        cell* block = block::push_empty(4);
        read_into(block, '\0');
        return block;
    }

private:
    static bool delimiter(char c) {
        return std::isspace(static_cast<unsigned char>(c)) || c == '[' || c == ']' || c == '(' || c == ')';
    }

    void skip_space() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    }

    void read_into(cell* block, char close) {
        for (;;) {
            skip_space();
            if (at_ >= text_.size()) return;
            if (text_[at_] == close) {
                ++at_;
                return;
            }
            read_value();
            block::append_copy(block, stack::last_slot());
            stack::drop_slots(1);
        }
    }

    // Pushes a nested block or paren whose opening character is at the position.
    void read_nested() {
        char open = text_[at_++];
        cell* nested = block::push_empty(4);
        read_into(nested, open == '[' ? ']' : ')');
        if (open == '(') cell::set_type(nested, TYPE_PAREN);
    }

    static bool is_number(const std::string& token) {
        return !token.empty() && (std::isdigit(static_cast<unsigned char>(token[0])) ||
                                  (token[0] == '-' && token.size() > 1 && std::isdigit(static_cast<unsigned char>(token[1]))));
    }

    // Pushes the value of a token without path separators.
    void push_token(const std::string& token) {
        if (is_number(token)) {
            cell* slot = stack::push_slot();
            if (token.find('.') != std::string::npos) float_::init_cell(slot, std::strtod(token.c_str(), nullptr));
            else integer::make_in(slot, static_cast<int32_t>(std::strtoll(token.c_str(), nullptr, 10)));
            return;
        }
        if (token == "none") {
            *stack::push_slot() = cell{TYPE_NONE, 0, 0, 0};
            return;
        }
        if (token == "true" || token == "false") {
            *stack::push_slot() = cell{TYPE_LOGIC, token == "true" ? 1u : 0u, 0, 0};
            return;
        }
        if (token.size() > 1 && token.back() == '!') {
            for (int t = 1; t <= type_registry::max_type_id; ++t) {
                if (type_registry::type_entries[t].name && token == type_registry::type_entries[t].name) {
                    datatype::make_in(stack::push_slot(), static_cast<type_id>(t));
                    return;
                }
            }
        }
        type_id type = TYPE_WORD;
        std::string name = token;
        if (token.size() > 1 && token.back() == ':') {
            type = TYPE_SET_WORD;
            name.pop_back();
        } else if (token.size() > 1 && (token[0] == '\'' || token[0] == ':' || token[0] == '/' || token[0] == '#')) {
            type = token[0] == '\'' ? TYPE_LIT_WORD : token[0] == ':' ? TYPE_GET_WORD
                 : token[0] == '/' ? TYPE_REFINEMENT : TYPE_ISSUE;
            name.erase(0, 1);
        }
        if (type == TYPE_ISSUE) {
            issue::load_c_string(stack::push_slot(), name.c_str());
            return;
        }
        cell* slot = word::push_global(symbol::make(name.c_str()));
        cell::set_type(slot, type);
    }

    std::string read_token() {
        size_t start = at_;
        while (at_ < text_.size() && !delimiter(text_[at_]) && text_[at_] != '/') ++at_;
        return text_.substr(start, at_ - start);
    }

    // A path: the head token is read; elements follow each "/".
    void read_path(const std::string& head, type_id type) {
        cell* path = block::push_empty(4);
        push_token(head);
        block::append_copy(path, stack::last_slot());
        stack::drop_slots(1);
        bool set = false;
        while (at_ < text_.size() && text_[at_] == '/') {
            ++at_;
            if (at_ < text_.size() && text_[at_] == '(') {
                read_nested();
            } else {
                std::string element = read_token();
                if (element.size() > 1 && element.back() == ':') {
                    element.pop_back();
                    set = true;
                }
                push_token(element);
            }
            block::append_copy(path, stack::last_slot());
            stack::drop_slots(1);
        }
        if (set && at_ < text_.size() && text_[at_] == ':') ++at_;
        if (at_ < text_.size() && text_[at_] == ':') {
            ++at_;
            set = true;
        }
        cell::set_type(path, set ? TYPE_SET_PATH : type);
    }

    // Pushes one value.
    void read_value() {
        char c = text_[at_];
        if (c == '[' || c == '(') {
            read_nested();
            return;
        }
        if (c == '"') {
            size_t end = text_.find('"', at_ + 1);
            std::string body = text_.substr(at_ + 1, end - at_ - 1);
            at_ = end + 1;
            string::load_onto_stack(unicode::input_bytes::at(body.data()), int64_t(body.size()), string::ENCODING_UTF8);
            return;
        }
        type_id path_type = TYPE_PATH;
        size_t start = at_;
        if (c == ':' || c == '\'') {
            path_type = c == ':' ? TYPE_GET_PATH : TYPE_LIT_PATH;
            ++at_;
        }
        // A "/" at the start is a refinement, not a path separator.
        if (at_ < text_.size() && text_[at_] == '/') ++at_;
        std::string token = read_token();
        if (at_ < text_.size() && text_[at_] == '/' && !token.empty()) {
            read_path(token, path_type);
            return;
        }
        push_token(text_.substr(start, at_ - start));
    }

    std::string text_;
    size_t at_ = 0;
};

// Pushes the block written in the notation.
inline cell* read_code(const std::string& text) { return code_notation_reader(text).read_block(); }

// The molded text of a value.
inline std::string mold_of(const cell* value) {
    cell* held = stack::push_copy(value);
    cell* output = string::push_empty();
    actions::dispatch_mold(held, output, false, false, true, nullptr, 0, 0);
    std::string text = string::to_utf8(output);
    stack::drop_slots(2);
    return text;
}

// Sets a global word to a value.
inline void set_global(const char* name, const cell* value) {
    cell* held = stack::push_copy(value);  // kept current while the word is made
    cell* w = word::push_global(symbol::make(name));
    word::set_in_context(w, held, context::global, false);
    stack::drop_slots(2);
}

// Makes a native! (or action!) of a table index with the spec written in the notation and
// binds it to a global word.
inline void define_callable(const char* name, type_id type, int index, const std::string& spec) {
    cell* argument = block::push_empty(2);
    cell* spec_block = read_code(spec);
    block::append_copy(argument, spec_block);
    cell number = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
    block::append_copy(argument, &number);
    cell* made = native::make(nullptr, argument, type);
    set_global(name, made);
    stack::drop_slots(3);
}

// Makes an op! from the value of one global word and binds it to another.
inline void define_op(const char* name, const char* source) {
    cell* w = word::push_global(symbol::make(source));
    cell* value = stack::push_copy(word::get_value(w));
    cell* made = op::make(nullptr, value, TYPE_OP);
    set_global(name, made);
    stack::drop_slots(3);
}

// Makes a function! from a spec and a body written in the notation and binds it.
inline void define_function(const char* name, const std::string& spec, const std::string& body) {
    cell* spec_block = read_code(spec);
    cell* body_block = read_code(body);
    uint32_t flags = function::check_spec(spec_block);
    function::push_new(spec_block, body_block, 0, 0, 0, flags);
    set_global(name, stack::last_slot());
    stack::drop_slots(3);
}

}  // namespace zor::testing
