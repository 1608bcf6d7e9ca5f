// Output hooks: everything that print and prin output goes through the value hooks
// (string value, newline flag), and every console write can be observed through the
// raw-text hooks (text, length in bytes, flag). The default value hook prints to the
// console; other components add hooks to capture or redirect output. A hook may not add
// or remove hooks while the list is being called.
#pragma once

#include <cstddef>

#include "runtime/value/cell.h"

namespace zor::output_hooks {

using value_hook = void (*)(const cell* string, bool newline);
using text_hook = void (*)(const void* text, size_t length, int flag);

void init();
bool ready();
void add(value_hook value, text_hook text);
void remove(value_hook value, text_hook text);
void call_value_hooks(const cell* string, bool newline);
void call_text_hooks(const void* text, size_t length, int flag);
// The default value hook. It asks the text-mode display (upcalls::clear_before_print,
// upcalls::resume_after_print) to step aside while it writes.
void print_to_console(const cell* string, bool newline);

// For tests: the lists as they stand.
int value_hook_count();
int value_hook_capacity();
value_hook value_hook_at(int i);
int text_hook_count();
text_hook text_hook_at(int i);

}  // namespace zor::output_hooks
