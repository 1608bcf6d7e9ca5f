// The boot environment: the Zor sources of boot/ (listed in boot/install-order.txt and
// embedded by the build), installed once at start-up.
//
// install_boot_environment runs each embedded source in the list's order: the text is
// loaded (its words bound in the global context, as the lexer binds every word), the
// `Zor [...]` header skipped, and the code evaluated, interpreted, from the top. While the
// sources run, the global word `boot-routine` holds the helper that makes a routine! of
// the C++ code registered under a name (boot/routine-table.h):
//
//     quit-return: boot-routine 'quit-return [status [integer!]] [...]
//
// It takes the registry name (a word, or a path for routines that are object fields,
// such as 'zorbin/decode, whose name is the path's elements joined by "/"), the spec
// block and the body block that reflection shows, and raises internal/not-done naming
// the routine when no code is registered under the name. The helper is unset once the
// last source has run.
//
// Callers keep: the core words (boot/core-words.h) are bound and every family of
// routines is registered before the call; the collector may be on. The installation has
// no error handling of its own: a language error that nothing in the sources catches
// ends the process with its report and status 254, as any uncaught error does.
#pragma once

#include <string_view>

namespace zor::boot {

void install_boot_environment();

// Binds `boot-routine` to the helper, and unsets it again. install_boot_environment does
// both around the sources.
void install_boot_helper();
void remove_boot_helper();

// Runs one boot source the way install_boot_environment runs each embedded one. The text
// must stay where it is for the call (static data, or a std::string that outlives it).
void install_boot_source(std::string_view text);

// The embedded sources in installation order: their names and their number.
int boot_source_count();
std::string_view boot_source_name(int index);
std::string_view boot_source_text(int index);

}  // namespace zor::boot
