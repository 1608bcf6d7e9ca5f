// datatype!: values that name a datatype. Payload word 1 holds the named type's id; the
// text comes from the registry's entry for that id.
#include "runtime/datatypes/datatype.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"
#include "runtime/value/type-registry.h"

namespace zor::datatype {

namespace {

// The registry entry of the named type, or null for an id that no type registered.
const type_registry::type_entry* entry_of(const cell* value) {
    uint32_t id = value->w1;
    if (id == 0 || id >= static_cast<uint32_t>(TYPE_TABLE_SIZE)) return nullptr;
    const type_registry::type_entry& entry = type_registry::type_entries[id];
    return entry.name ? &entry : nullptr;
}

// Appends the first n characters of the type's name.
int append_name(const type_registry::type_entry& entry, int n, cell* output, int budget) {
    string::append_bytes(output, entry.name, n);
    return budget - n;
}

// --- Actions ---------------------------------------------------------------------------

// The name without its "!": integer! forms as "integer".
int form(cell* value, cell* output, cell* /*part*/, int budget) {
    const type_registry::type_entry* entry = entry_of(value);
    if (!entry) return budget;
    return append_name(*entry, entry->name_length, output, budget);
}

// The name with its "!"; /all wraps it in the construction syntax "#(...)".
int mold(cell* value, cell* output, bool /*only*/, bool all, bool /*flat*/, cell* /*part*/, int budget,
         int /*indent*/) {
    const type_registry::type_entry* entry = entry_of(value);
    if (!entry) return budget;
    if (all) {
        string::append_c_string(output, "#(");
        budget -= 2;
    }
    budget = append_name(*entry, entry->name_length + 1, output, budget);
    if (all) {
        string::append_c_string(output, ")");
        budget -= 1;
    }
    return budget;
}

// Datatypes only know equality: the same named id is equal, anything else is not.
int compare(cell* value, cell* other, int op) {
    switch (op) {
        case COMPARE_EQUAL:
        case COMPARE_NOT_EQUAL:
        case COMPARE_STRICT_EQUAL:
        case COMPARE_SAME: case COMPARE_FIND:
            return other->is(TYPE_DATATYPE) && other->w1 == value->w1 ? 0 : 1;
        default:
            return -2;
    }
}

}  // namespace

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    type_registry::register_type(TYPE_DATATYPE, TYPE_NONE_ID, "datatype!", list);
}

cell* make_in(cell* destination, type_id type) {
    *destination = cell{TYPE_DATATYPE, type, 0, 0};
    return destination;
}

cell* make_at_tail(cell* block, type_id type) { return make_in(block::alloc_tail_cell(block), type); }

cell* push(type_id type) { return make_in(stack::push_slot(), type); }

}  // namespace zor::datatype
