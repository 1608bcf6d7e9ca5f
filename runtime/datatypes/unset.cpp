// unset!: the value of nothing. It has no payload, forms as nothing and molds as "unset".
#include "runtime/datatypes/unset.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"
#include "runtime/value/type-registry.h"

namespace zor::unset {

cell value{TYPE_UNSET, 0, 0, 0};

namespace {

// make and to: whatever the arguments, the answer is unset.
cell* make(cell* /*value*/, cell* /*spec*/, type_id /*type*/) { return &value; }

int form(cell* /*value*/, cell* /*output*/, cell* /*part*/, int budget) { return budget; }

int mold(cell* /*value*/, cell* output, bool /*only*/, bool all, bool /*flat*/, cell* /*part*/, int budget,
         int /*indent*/) {
    const char* text = all ? "#(unset)" : "unset";
    string::append_c_string(output, text);
    return budget - (all ? 8 : 5);
}

// unset! equals only unset!, and two unsets sort as equal.
int compare(cell* /*value*/, cell* other, int op) {
    if (!other->is(TYPE_UNSET)) return -2;
    switch (op) {
        case COMPARE_EQUAL:
        case COMPARE_NOT_EQUAL:
        case COMPARE_STRICT_EQUAL:
        case COMPARE_SORT:
        case COMPARE_SORT_CASE:
        case COMPARE_SAME:
        case COMPARE_FIND: return 0;
        default: return -2;
    }
}

}  // namespace

void init_type() {
    value = cell{TYPE_UNSET, 0, 0, 0};
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_TO>(&make);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    type_registry::register_type(TYPE_UNSET, TYPE_NONE_ID, "unset!", list);
}

void set_result() { stack::result_slot()->header = TYPE_UNSET; }

cell* make_at_tail(cell* block) {
    cell* c = block::alloc_tail_cell(block);
    *c = cell{TYPE_UNSET, 0, 0, 0};
    return c;
}

cell* push() {
    cell* c = stack::push_slot();
    *c = cell{TYPE_UNSET, 0, 0, 0};
    return c;
}

}  // namespace zor::unset
