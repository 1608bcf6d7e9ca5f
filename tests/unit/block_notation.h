// Test support for the block and series tests: builds blocks on the argument stack from a
// small notation (the lexer is not needed for it) and describes values as text.
//
// Notation: integers (12, -3), floats (1.5), none, true, false, datatype names (integer!),
// other names become word! values, [ ] a nested block, ( ) a paren, and ~ before a value
// gives it the new-line marker. Every value is built in argument-stack slots through the
// block storage routines, so the collector sees all of it.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "tests/unit/runtime_fixture.h"

namespace zor::testing {

class notation_reader {
public:
    explicit notation_reader(const std::string& text) : text_(text) {}

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
            bool new_line = false;
            if (text_[at_] == '~') {
                new_line = true;
                ++at_;
                skip_space();
            }
            cell* value = read_value();
            if (new_line) value->header |= FLAG_NEW_LINE;
            block::append_copy(block, value);
            stack::drop_slots(1);
        }
    }

    cell* read_value() {
        char c = text_[at_];
        if (c == '[' || c == '(') {
            ++at_;
            cell* nested = block::push_empty(4);
            read_into(nested, c == '[' ? ']' : ')');
            if (c == '(') cell::set_type(nested, TYPE_PAREN);
            return nested;
        }
        size_t start = at_;
        while (at_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[at_])) && text_[at_] != '[' &&
               text_[at_] != ']' && text_[at_] != '(' && text_[at_] != ')') {
            ++at_;
        }
        std::string token = text_.substr(start, at_ - start);
        bool number = !token.empty() && (std::isdigit(static_cast<unsigned char>(token[0])) ||
                                          (token[0] == '-' && token.size() > 1));
        cell* slot = stack::push_slot();
        if (number && token.find('.') != std::string::npos) {
            float_::init_cell(slot, std::strtod(token.c_str(), nullptr));
        } else if (number) {
            integer::make_in(slot, static_cast<int32_t>(std::strtol(token.c_str(), nullptr, 10)));
        } else if (token == "none") {
            *slot = cell{TYPE_NONE, 0, 0, 0};
        } else if (token == "true" || token == "false") {
            *slot = cell{TYPE_LOGIC, token == "true" ? 1u : 0u, 0, 0};
        } else if (token.back() == '!') {
            int id = 0;
            for (int t = 1; t <= type_registry::max_type_id; ++t) {
                if (token == type_registry::type_entries[t].name) id = t;
            }
            EXPECT_NE(id, 0) << token;
            datatype::make_in(slot, static_cast<type_id>(id));
        } else {
            stack::drop_slots(1);
            slot = word::push_global(symbol::make(token.c_str()));
        }
        return slot;
    }

    std::string text_;
    size_t at_ = 0;
};

// Pushes the block written in the notation.
inline cell* build(const std::string& text) { return notation_reader(text).read_block(); }

// The molded text of a value (its cells from its index for a block).
inline std::string mold_text(const cell* value, bool only = false, bool flat = false) {
    cell* held = stack::push_copy(value);
    cell* output = string::push_empty();
    actions::dispatch_mold(held, output, only, false, flat, nullptr, 0, 0);
    std::string text = string::to_utf8(output);
    stack::drop_slots(2);
    return text;
}

// A series as "@index [cells from the head]" so that both its position and its content
// show; any other value as its mold.
inline std::string describe(const cell* value) {
    if (!series::is_block_like(value->type())) return mold_text(value);
    cell* head = stack::push_copy(value);
    std::string index = std::to_string(series::index_of(head));
    head->w1 = 0;
    std::string text = "@" + index + " " + mold_text(head);
    stack::drop_slots(1);
    return text;
}

inline int code_of(err e) { return error_catalogue::code_of(e); }

// The fixture of the block and series tests. Each starts, like every unit test, on an
// empty stack with the collector enabled (tests/unit/runtime_isolation.h), so that
// ZOR_GC_TORTURE=1 collects, compacts and moves nodes at every allocation the routines
// make.
class collected_fixture : public ::testing::Test {
protected:
    // Empties the argument stack: each case builds its series in the first slot, which is
    // then also args_base, where the action entries leave the series.
    void reset_stack() { stack::state.args_top = stack::state.args_base = stack::state.args_begin; }
};

}  // namespace zor::testing
