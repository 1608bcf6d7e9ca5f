// tag!, email! and ref!: their registrations, molds and the email halves (see
// tag-email-ref.h). Everything else is string!'s.
#include "runtime/datatypes/tag-email-ref.h"

#include <algorithm>
#include <string_view>

#include "runtime/binding/symbol.h"
#include "runtime/datatypes/callable.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/value/type-registry.h"

namespace zor {

namespace {

// The slots none of the three supports beyond what string! leaves out.
void leave_out_common(type_registry::action_list& list) {
    list.unsupported(ACTION_RANDOM);
    list.unsupported(ACTION_SORT);
    list.unsupported(ACTION_TRIM);
}

}  // namespace

// --- tag! ---------------------------------------------------------------------------------------

namespace tag {

namespace {
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    (void)only, (void)all, (void)flat, (void)indent;
    return form(value, output, part, budget);
}
}  // namespace

int form(cell* value, cell* output, cell* part, int budget) {
    string::append_codepoint(output, '<');
    int left = string::form(value, output, part, callable::spend(budget, 1));
    string::append_codepoint(output, '>');
    return callable::spend(left, 1);
}

void init_type() {
    type_registry::action_list list(TYPE_STRING);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    leave_out_common(list);
    type_registry::register_type(TYPE_TAG, TYPE_STRING, "tag!", list);
}

}  // namespace tag

// --- email! -------------------------------------------------------------------------------------

namespace email {

namespace {

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    (void)only, (void)all, (void)flat, (void)indent;
    return string::form(value, output, part, budget);
}

bool names(const cell* word, std::string_view name) {
    std::string_view spelled = symbol::name_of(static_cast<int32_t>(word->w2));
    return std::equal(spelled.begin(), spelled.end(), name.begin(), name.end(), [](char a, char b) {
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
        return a == b;
    });
}

[[noreturn]] void invalid_path(cell* path, cell* element) {
    cell* where = stack::push_copy(path ? path : &none::value);
    raise::throw_error(err::script_invalid_path, where, stack::push_copy(element));
}

}  // namespace

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int position, int pass_through, bool get_only, bool tail, bool in_place) {
    if (element->is(TYPE_INTEGER)) {
        return string::eval_path(parent, element, value, path, grandparent, previous, position, pass_through,
                                 get_only, tail, in_place);
    }
    if (!element->is(TYPE_WORD)) invalid_path(path, element);
    bool user = names(element, "user");
    if (!user && !names(element, "host")) invalid_path(path, element);

    cell* address = stack::push_copy(parent);
    int64_t rest = std::max<int64_t>(string::rest_length(address), 0);
    int64_t index = string::length_from_head(address) - rest;
    int64_t at_sign = string::find_char(address, '@');
    int64_t user_length = at_sign < 0 ? rest : at_sign;
    // The half's start from the head and its length.
    int64_t start = user ? index : index + std::min(user_length + 1, rest);
    int64_t count = user ? user_length : rest - std::min(user_length + 1, rest);

    if (!value) {
        cell* from = stack::push_copy(address);
        from->w1 = static_cast<uint32_t>(start);
        cell* half = string::make_empty(stack::push_slot(), std::max<int64_t>(count, 1));
        string::concatenate(half, from, count, 0, true, string::CONCATENATE_APPEND);
        return half;
    }
    cell* text = stack::push_copy(value);
    cell* at = stack::push_copy(address);
    at->w1 = static_cast<uint32_t>(start);
    // An address without "@" gets one before the host it is given.
    if (!user && at_sign < 0) {
        string::append_codepoint(at, '@');
        at->w1 = static_cast<uint32_t>(start + 1);
    }
    string::change(at, text, static_cast<int>(std::min<int64_t>(count, INT32_MAX)), false, -1);
    return address;
}

void init_type() {
    type_registry::action_list list(TYPE_STRING);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_EVAL_PATH>(&eval_path);
    leave_out_common(list);
    type_registry::register_type(TYPE_EMAIL, TYPE_STRING, "email!", list);
}

}  // namespace email

// --- ref! ---------------------------------------------------------------------------------------

namespace ref {

namespace {
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    (void)only, (void)all, (void)flat, (void)indent;
    string::append_codepoint(output, '@');
    return string::form(value, output, part, callable::spend(budget, 1));
}
}  // namespace

void init_type() {
    type_registry::action_list list(TYPE_STRING);
    list.set<ACTION_MOLD>(&mold);
    list.unsupported(ACTION_EVAL_PATH);
    list.unsupported(ACTION_APPEND);
    list.unsupported(ACTION_PUT);
    leave_out_common(list);
    type_registry::register_type(TYPE_REF, TYPE_STRING, "ref!", list);
}

}  // namespace ref

}  // namespace zor
