// The upward-call hooks start empty; boot/runtime-init.cpp fills them.
#include "runtime/value/upcalls.h"

#include "runtime/errors/raise.h"

namespace zor::upcalls {

void (*run_block)(const cell* block, bool pass_result) = nullptr;
void (*invoke_function)(cell* function, node_ref context, const cell* word, uint32_t flags) = nullptr;
cell* (*call_comparator)(cell* function, cell* first, cell* second) = nullptr;
const cell& (*current_code)() = nullptr;
void (*error_raised)(cell* error) = nullptr;
bool (*native_exists)(int32_t index) = nullptr;
bool (*scan_text)(const char* utf8, int64_t length, cell* out) = nullptr;
void (*scan_string)(cell* string, cell* block) = nullptr;
void (*clear_before_print)() = nullptr;
void (*resume_after_print)() = nullptr;
cell* (*event_type_word)(const cell* event) = nullptr;
void (*set_event_type)(cell* event, const cell* word) = nullptr;
cell* (*event_field)(const cell* event, int accessor) = nullptr;

void raise_not_installed() { raise::throw_error(err::internal_not_done); }

}  // namespace zor::upcalls
