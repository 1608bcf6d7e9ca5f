// The core global words: what the runtime itself provides, bound in the global context
// before the first boot source runs (boot/boot-environment.h):
//
//   - every datatype word to its datatype! (all registered types except the internal
//     symbol!, context! and triple!, and except datatype!, which the first boot source
//     binds);
//   - every action that has a word to an action! made from its spec block in
//     runtime/data/action-specs.zor, and every native to a native! made from its spec
//     block in runtime/data/natives-specs.zor (both read with the lexer).
//
// The base values, the named typesets, the operators and everything else of the boot environment are Zor
// source in boot/*.zor.
//
// It runs once at start-up, after the runtime start-up and before the collector is
// switched on (start-up word collection still on); it is written to be safe with the
// collector running as well (every value it builds sits in an argument-stack slot).
#pragma once

#include <string_view>

#include "runtime/value/cell.h"

namespace zor::boot {

// Binds the global word of the name to a copy of the value.
void bind_global(const char* name, const cell* value);
// Loads static text (which never moves) into the slot as a block.
void load_static_text(cell* into, std::string_view text);

void install_core_words();

// The actions' spec data as embedded in the program (name index [spec] per action).
std::string_view action_specs_source();

}  // namespace zor::boot
