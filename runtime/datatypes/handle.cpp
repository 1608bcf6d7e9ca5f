// handle!: builders, the hexadecimal text and the value comparison.
#include "runtime/datatypes/handle.h"

#include <cstring>

#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"
#include "runtime/value/type-registry.h"

namespace zor::handle {

namespace {

// Kind k uses entry k; the null kind has no name.
const char* kind_names[KIND_COUNT] = {};

// The value is read before anything is appended: appending may move the buffer of a block
// that holds the value.
int form(cell* value, cell* output, cell* /*part*/, int budget) {
    string::append_c_string(output, string::int_to_hex(static_cast<int32_t>(value_of(value)), false));
    string::append_c_string(output, "h");
    return budget - 9;
}

int mold(cell* value, cell* output, bool /*only*/, bool all, bool /*flat*/, cell* part, int budget,
         int /*indent*/) {
    if (!all) {
        string::append_c_string(output, "handle!");
        return budget - 7;
    }
    cell copy = *value;
    string::append_c_string(output, "#[handle! ");
    budget = form(&copy, output, part, budget - 10);
    if (const char* name = kind_name(kind_of(&copy))) {
        string::append_c_string(output, " ");
        string::append_c_string(output, name);
        budget -= 1 + static_cast<int>(std::strlen(name));
    }
    string::append_c_string(output, "]");
    return budget - 1;
}

// Handles order by their values as signed numbers; the kind plays no part. Anything that
// is not a handle is simply unequal.
int compare(cell* value, cell* other, int /*op*/) {
    if (!other->is(TYPE_HANDLE)) return 1;
    int32_t a = static_cast<int32_t>(value_of(value));
    int32_t b = static_cast<int32_t>(value_of(other));
    return (a > b) - (a < b);
}

}  // namespace

void init_type() {
    kind_names[KIND_NULL] = nullptr;
    kind_names[KIND_FD] = "fd";
    kind_names[KIND_MONITOR] = "monitor";
    kind_names[KIND_WINDOW] = "window";
    kind_names[KIND_FONT] = "font";
    kind_names[KIND_RICH_TEXT] = "rich-text";

    // The parent is integer!, but a handle is no number: nothing is inherited.
    type_registry::action_list list(TYPE_INTEGER);
    for (int a = 1; a <= ACTION_COUNT; ++a) list.unsupported(static_cast<action>(a));
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    type_registry::register_type(TYPE_HANDLE, TYPE_INTEGER, "handle!", list);
}

const char* kind_name(uint32_t kind) { return kind < KIND_COUNT ? kind_names[kind] : nullptr; }

cell* make_at(cell* destination, uint32_t value, uint32_t kind) {
    *destination = cell{TYPE_HANDLE, kind, value, 0xFFFFFFFF};
    return destination;
}

cell* push(uint32_t value, uint32_t kind) { return make_at(stack::push_slot(), value, kind); }

cell* push_null() { return push(0, KIND_NULL); }

cell* set_result(uint32_t value, uint32_t kind) { return make_at(stack::result_slot(), value, kind); }

}  // namespace zor::handle
