// The core global words: the first part of the boot environment's installation, which
// binds in the global context the words every piece of code needs before anything else
// of the boot environment exists:
//
//   - every datatype word to its datatype! (all registered types except the internal
//     symbol!, context! and triple!, which no script value has);
//   - `none`, `true` and `false`;
//   - the named typesets (`number!`, `series!`, ... `any-type!`, in their binding order;
//     `series!` thereby names the typeset, not the datatype);
//   - every action that has a word to an action! made from its spec block in
//     runtime/data/action-specs.zor, and every native to a native! made from its spec
//     block in runtime/data/natives-specs.zor (both read with the lexer);
//   - the operator words whose callables exist: + - * / % = <> == =? < > <= >= ** and or
//     xor. (// << >> >>> are made from mezzanines and routines that the rest of the boot
//     environment installs.)
//
// It runs once at start-up, after the runtime start-up and before the collector is
// switched on (start-up word collection still on); it is written to be safe with the
// collector running as well (every value it builds sits in an argument-stack slot).
#pragma once

#include <string_view>

namespace zor::boot {

void install_core_words();

// The actions' spec data as embedded in the program (name index [spec] per action).
std::string_view action_specs_source();

// The operator words and the words of the callables they are made from, in binding order.
struct operator_word {
    const char* name;
    const char* source;
};
extern const operator_word OPERATOR_WORDS[];
extern const int OPERATOR_WORD_COUNT;

}  // namespace zor::boot
