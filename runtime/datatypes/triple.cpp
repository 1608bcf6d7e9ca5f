// triple!: the text form, "make triple! [a b c]"; mold is the same text.
#include "runtime/datatypes/triple.h"

#include <cstring>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/value/type-registry.h"

namespace zor::triple {

namespace {

int append_number(cell* output, uint32_t word, int budget) {
    const char* text = integer::to_decimal_text(static_cast<int32_t>(word));
    string::append_c_string(output, text);
    return budget - static_cast<int>(std::strlen(text));
}

int form(cell* value, cell* output, cell* /*part*/, int budget) {
    // Read the words first: the appends below may move the output's buffer, never the value.
    const uint32_t words[3] = {value->w1, value->w2, value->w3};
    string::append_c_string(output, "make triple! [");
    budget -= 14;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            string::append_c_string(output, " ");
            budget -= 1;
        }
        budget = append_number(output, words[i], budget);
    }
    string::append_c_string(output, "]");
    return budget - 1;
}

int mold(cell* value, cell* output, bool /*only*/, bool /*all*/, bool /*flat*/, cell* part, int budget,
         int /*indent*/) {
    return form(value, output, part, budget);
}

}  // namespace

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    type_registry::register_type(TYPE_TRIPLE, TYPE_NONE_ID, "triple!", list);
}

}  // namespace zor::triple
