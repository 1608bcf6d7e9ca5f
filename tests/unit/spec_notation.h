// Test support for the callable and path tests: builds blocks of code-like values on the
// argument stack from a small notation, since the lexer is not needed for it, and molds
// values to text.
//
// Notation: integers (12, -3), floats (1.5), none, "text" (a string!), name! (the datatype
// when one has that name, else a word), name: (set-word!), 'name (lit-word!), :name
// (get-word!), /name (refinement!), #name (issue!), other names (word! bound in the global
// context), [ ] a nested block and ( ) a paren. Everything is built in argument-stack slots
// through the block storage routines, so the collector sees all of it at every step.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/symbol.h"
#include "runtime/type-registry.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zor::testing {

class code_reader {
public:
    explicit code_reader(const std::string& text) : text_(text) {}

    // Pushes the block of every value in the text; answers its slot.
    cell* read_block() {
        cell* block = block::push_empty(4);
        read_into(block, '\0');
        return block;
    }

private:
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

    static bool delimiter(char c) {
        return std::isspace(static_cast<unsigned char>(c)) || c == '[' || c == ']' || c == '(' || c == ')';
    }

    // Pushes one value.
    void read_value() {
        char c = text_[at_];
        if (c == '[' || c == '(') {
            ++at_;
            cell* nested = block::push_empty(4);
            read_into(nested, c == '[' ? ']' : ')');
            if (c == '(') cell::set_type(nested, TYPE_PAREN);
            return;
        }
        if (c == '"') {
            size_t end = text_.find('"', at_ + 1);
            std::string body = text_.substr(at_ + 1, end - at_ - 1);
            at_ = end + 1;
            string::load_onto_stack(unicode::input_bytes::at(body.data()), int64_t(body.size()), string::ENCODING_UTF8);
            return;
        }
        size_t start = at_;
        while (at_ < text_.size() && !delimiter(text_[at_])) ++at_;
        std::string token = text_.substr(start, at_ - start);
        bool number = std::isdigit(static_cast<unsigned char>(token[0])) ||
                      (token[0] == '-' && token.size() > 1 && std::isdigit(static_cast<unsigned char>(token[1])));
        if (number) {
            cell* slot = stack::push_slot();
            if (token.find('.') != std::string::npos) float_::init_cell(slot, std::strtod(token.c_str(), nullptr));
            else integer::make_in(slot, static_cast<int32_t>(std::strtol(token.c_str(), nullptr, 10)));
            return;
        }
        if (token == "none") {
            *stack::push_slot() = cell{TYPE_NONE, 0, 0, 0};
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

    std::string text_;
    size_t at_ = 0;
};

// Pushes the block written in the notation.
inline cell* code(const std::string& text) { return code_reader(text).read_block(); }

// The molded text of a value.
inline std::string molded(const cell* value, bool only = false, bool all = false) {
    cell* held = stack::push_copy(value);
    cell* output = string::push_empty();
    actions::dispatch_mold(held, output, only, all, false, nullptr, 0, 0);
    std::string text = string::to_utf8(output);
    stack::drop_slots(2);
    return text;
}

// The formed text of a value.
inline std::string formed(const cell* value) {
    cell* held = stack::push_copy(value);
    cell* output = string::push_empty();
    actions::dispatch_form(held, output, nullptr, 0);
    std::string text = string::to_utf8(output);
    stack::drop_slots(2);
    return text;
}

// The language error that the action raises: its catalogue code (-1 when none) and its
// first argument molded.
struct raised_error {
    int code = -1;
    std::string arg1;
};
inline raised_error raise_of(const std::function<void()>& action) {
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        action();
    } catch (const zor_throw& thrown) {
        if (thrown.code != THROW_ERROR) throw;
        cell* e = stack::last_slot();
        return {error::code_of(e), molded(error::field_of(e, error::FIELD_ARG1))};
    }
    return {};
}

inline int code_of(err e) { return error_catalogue::code_of(e); }

// The action's handler for a type, cast back to its signature.
template <action A> action_handler<A> handler_for(type_id type) {
    return reinterpret_cast<action_handler<A>>(type_registry::handler_of(type, A));
}

// Runs every test of a fixture on an empty stack with the collector enabled, so that
// ZOR_GC_TORTURE=1 collects, compacts and moves nodes at every allocation.
class stack_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        ensure_runtime();
        stack::state.args_base = stack::state.args_top = stack::state.args_begin;
        stack::state.frames_top = stack::state.frames_begin;
        saved_enabled_ = gc::enabled;
        gc::enabled = 1;
    }
    void TearDown() override {
        gc::enabled = saved_enabled_;
        stack::state.args_base = stack::state.args_top = stack::state.args_begin;
        for (cell* c = stack::state.args_begin; c < stack::state.args_end; ++c) cell::init_unset(c);
    }

private:
    uint32_t saved_enabled_ = 0;
};

}  // namespace zor::testing
