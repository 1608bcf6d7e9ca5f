// Handler look-up and the typed dispatchers of the actions.
#include "runtime/eval/actions.h"

#include "platform/fatal.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/eval/stack.h"
#include "runtime/raise.h"

namespace zor::actions {

action_entry find_handler(const cell* value, action a) {
    action_entry entry = type_registry::handler_of(value->type(), a);
    if (!entry) {
        cell where = stack::current_function_word();
        cell type;
        datatype::make_in(&type, value->type());
        cell argument = raise::parameter_word(0);
        raise::throw_error(err::script_expect_arg, &where, &type, &argument);
    }
    return entry;
}

int dispatch_form(cell* value, cell* output, cell* part, int budget) {
    return handler<ACTION_FORM>(value)(value, output, part, budget);
}

int dispatch_mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    return handler<ACTION_MOLD>(value)(value, output, only, all, flat, part, budget, indent);
}

int dispatch_compare(cell* value, cell* other, int op) {
    return handler<ACTION_COMPARE>(value)(value, other, op);
}

bool compare(cell* value, cell* other, int op) {
    int answer = dispatch_compare(value, other, op);
    switch (op) {
        case 0: case 2: case 9: case 10: case 11: case 12: return answer == 0;
        case 1: return answer != 0;
        default: break;
    }
    if (answer == -2) raise::throw_error(err::script_invalid_compare, value, other);
    switch (op) {
        case 3: return answer < 0;
        case 4: return answer < 1;
        case 5: return answer >= 1;
        case 6: return answer >= 0;
        default: platform::quit_with_error(platform::RUNTIME_ERROR_NO_SWITCH, 0);
    }
}

}  // namespace zor::actions
