// Field reads of the boot environment's `system` object (see system-object.h).
#include "runtime/binding/system-object.h"

#include "runtime/binding/context.h"
#include "runtime/binding/word-table.h"

namespace zor::system_object {

cell* object() {
    if (!context::global) return nullptr;
    cell* value = context::value_of_symbol(context::global, symbols::system);
    return value && value->is(TYPE_OBJECT) ? value : nullptr;
}

cell* field(const cell* object, int32_t symbol) {
    if (!object || !object->is(TYPE_OBJECT) || !object->w1) return nullptr;
    return context::value_of_symbol(object->w1, symbol);
}

cell* path(std::initializer_list<int32_t> symbols) {
    cell* at = object();
    for (int32_t symbol : symbols) {
        if (!at) return nullptr;
        at = field(at, symbol);
    }
    return at;
}

}  // namespace zor::system_object
