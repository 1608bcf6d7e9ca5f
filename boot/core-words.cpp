// Binding of the core global words (see core-words.h for what is bound and when).
#include "boot/core-words.h"

#include <cstdint>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-registry.h"

#include "boot/action-specs-data.inc"

namespace zor::boot {

void bind_global(const char* name, const cell* value) {
    cell* held = stack::push_copy(value);
    cell* word = stack::push_copy(word::make_global_from_name(name));
    word::set_in_context(word, held, context::global, false);
    stack::drop_slots(2);
}

void load_static_text(cell* into, std::string_view text) {
    lexer::scan_request request;
    int64_t consumed = 0;
    lexer::scan_buffer(into, reinterpret_cast<const uint8_t*>(text.data()), text.size(), request, &consumed);
}

namespace {

// Types that exist only inside the runtime: no value a script holds has them.
bool is_internal_type(int type) { return type == TYPE_SYMBOL || type == TYPE_CONTEXT || type == TYPE_TRIPLE; }

// datatype! itself is the boot environment's first word (boot/base.zor).
bool is_bound_by_boot_source(int type) { return type == TYPE_DATATYPE; }

void bind_datatypes() {
    for (int t = 1; t <= type_registry::max_type_id; ++t) {
        const char* name = type_registry::type_entries[t].name;
        if (!name || is_internal_type(t) || is_bound_by_boot_source(t)) continue;
        const cell value = datatype::value_of(static_cast<type_id>(t));
        bind_global(name, &value);
    }
}

// The named typesets are source (boot/constants.zor), bound at the boot's third step. A
// native checks its arguments against the typesets its spec names once it is first
// called, so the one that the first two steps' natives name (`type?`'s any-type!) is
// bound here first, with the members that boot/constants.zor gives it again.
void bind_first_typesets() {
    cell members;
    natives::named_typeset("any-type!", &members);
    bind_global("any-type!", &members);
}

// Reads spec data (name index [spec] per entry) with the lexer and binds each name to a
// native! or action! of that index and spec. The text is static data that nothing moves.
void bind_callables(std::string_view source, type_id type) {
    cell* loaded = stack::push_slot();
    load_static_text(loaded, source);

    int64_t length = block::rest_length(loaded);
    for (int64_t i = 0; i < length; i += 3) {
        // Each cell is copied out before the next allocation can move the loaded block.
        cell* name = stack::push_copy(block::get_cell(loaded, i));
        if (!name->is(TYPE_WORD) || i + 2 >= length) raise::throw_error(err::script_invalid_arg, name);
        cell* index = stack::push_copy(block::get_cell(loaded, i + 1));
        cell* spec = stack::push_copy(block::get_cell(loaded, i + 2));
        if (!index->is(TYPE_INTEGER) || !spec->is(TYPE_BLOCK)) raise::throw_error(err::script_invalid_arg, name);

        cell* argument = block::push_empty(2);
        block::append_copy(argument, spec);
        block::append_copy(argument, index);
        cell* made = native::make(nullptr, argument, type);
        word::set_in_context(name, made, context::global, false);
        stack::drop_slots(5);
    }
    stack::drop_slots(1);
}

}  // namespace

std::string_view action_specs_source() { return ACTION_SPECS_SOURCE; }

void install_core_words() {
    bind_datatypes();
    bind_first_typesets();
    bind_callables(action_specs_source(), TYPE_ACTION);
    bind_callables(natives::specs_source(), TYPE_NATIVE);
}

}  // namespace zor::boot
