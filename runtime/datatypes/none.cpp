// none!: the value of no value. It has no payload. As a series it is always empty, so
// the series actions that read from it answer none instead of raising.
#include "runtime/datatypes/none.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"
#include "runtime/value/type-registry.h"

namespace zor::none {

cell value{TYPE_NONE, 0, 0, 0};

namespace {

// make and to: whatever the arguments, the answer is none.
cell* make(cell* /*value*/, cell* /*spec*/, type_id /*type*/) { return &value; }

int form(cell* /*value*/, cell* output, cell* /*part*/, int budget) {
    string::append_c_string(output, "none");
    return budget - 4;
}

int mold(cell* /*value*/, cell* output, bool /*only*/, bool all, bool /*flat*/, cell* /*part*/, int budget,
         int /*indent*/) {
    string::append_c_string(output, all ? "#(none)" : "none");
    return budget - (all ? 7 : 4);
}

// none! equals only none!, and two nones sort as equal.
int compare(cell* /*value*/, cell* other, int op) {
    if (!other->is(TYPE_NONE)) return -2;
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

// The series actions on the empty series that none stands for.
cell* clear(cell* /*series*/) { return &value; }

cell* find(cell* /*series*/, cell* /*value*/, cell* /*part*/, bool /*only*/, bool /*case_sensitive*/,
           bool /*same*/, bool /*any*/, cell* /*with*/, cell* /*skip*/, bool /*last*/, bool /*reverse*/,
           bool /*tail*/, bool /*match*/) {
    return &value;
}

// -1 is the length? entry's code for a none result.
int length_q(cell* /*series*/) { return -1; }

cell* remove(cell* /*series*/, cell* /*part*/, cell* /*key*/) { return &value; }

cell* select(cell* /*series*/, cell* /*value*/, cell* /*part*/, bool /*only*/, bool /*case_sensitive*/,
             bool /*same*/, bool /*any*/, cell* /*with*/, cell* /*skip*/, bool /*last*/, bool /*reverse*/) {
    return &value;
}

cell* take(cell* /*series*/, cell* /*part*/, bool /*deep*/, bool /*last*/) { return &value; }

}  // namespace

void init_type() {
    value = cell{TYPE_NONE, 0, 0, 0};
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_TO>(&make);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_CLEAR>(&clear);
    list.set<ACTION_FIND>(&find);
    list.set<ACTION_LENGTH_Q>(&length_q);
    list.set<ACTION_REMOVE>(&remove);
    list.set<ACTION_SELECT>(&select);
    list.set<ACTION_TAKE>(&take);
    type_registry::register_type(TYPE_NONE, TYPE_NONE_ID, "none!", list);
}

void set_result() { stack::result_slot()->header = TYPE_NONE; }

cell* make_at_tail(cell* block) {
    cell* c = block::alloc_tail_cell(block);
    *c = cell{TYPE_NONE, 0, 0, 0};
    return c;
}

cell* push() {
    cell* c = stack::push_slot();
    *c = cell{TYPE_NONE, 0, 0, 0};
    return c;
}

}  // namespace zor::none
