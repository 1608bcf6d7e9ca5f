// port!: making a port from a spec and a scheme, forwarding the actions to the actor's
// functions, read and write as open/copy/close sequences, and the text forms (see
// port.h).
//
// A forwarded action is a function call frame named by the action word holding the port,
// the action's arguments, then for each refinement in the action's spec order a logic!
// flag followed by its argument (none! when absent), and the actor function's local
// section; its result is the action's result.
#include "runtime/datatypes/port.h"

#include <initializer_list>
#include <string_view>

#include "runtime/binding/context.h"
#include "runtime/binding/symbol.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/stack.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"

namespace zor::port {

namespace {

// The fields of the prototypes used when `system` does not provide them.
constexpr std::string_view URL_PARTS_FIELDS =
    "[scheme: none user-info: none host: none port: none path: none target: none query: none fragment: none "
    "ref: none]";
constexpr std::string_view PORT_FIELDS =
    "[spec: none scheme: none actor: none awake: none state: none data: none extra: none]";

cell word_of(const char* name) { return integer::named_word(name); }

// The field of an object by name, or null when the value is not an object or has no such
// field.
cell* field_of(const cell* object, const char* name) {
    if (!object || !(object->is(TYPE_OBJECT) || object->is(TYPE_PORT))) return nullptr;
    const cell word = word_of(name);
    int32_t index = object::field_index(object->w1, &word);
    return index >= 0 ? context::value_at(object->w1, index) : nullptr;
}

// system/<name>, or null.
cell* system_field(const char* name) {
    const cell system_word = word_of("system");
    if (!system_word.is(TYPE_WORD)) return nullptr;
    cell* system = word::get_value(word::make_global_from_name("system"));
    return field_of(system, name);
}

// Pushes the prototype object system/standard/<name>, or one made of the fields given.
cell* push_prototype(const char* name, std::string_view fields) {
    cell* found = field_of(system_field("standard"), name);
    if (found && found->is(TYPE_OBJECT)) return stack::push_copy(found);
    cell* block = stack::push_slot();
    cell::init_unset(block);
    upcalls::installed(upcalls::scan_text)(fields.data(), static_cast<int64_t>(fields.size()), block);
    return object::construct(block, nullptr, false);
}

// The scheme object of a scheme word in the registry: a block of name/scheme pairs
// (the names compared caselessly, the first match winning) or an object whose fields are
// the names. Null when the registry is neither or has no such name.
cell* find_scheme(cell* schemes, const cell* name) {
    if (!schemes) return nullptr;
    if (schemes->is(TYPE_OBJECT)) return object::field_value(schemes, name);
    if (!schemes->is(TYPE_BLOCK)) return nullptr;
    const int32_t wanted = symbol::canonical_id(static_cast<int32_t>(name->w2));
    const int64_t head = series::index_of(schemes);
    const int64_t length = block::rest_length(schemes);
    for (int64_t i = 0; i + 1 < length; i += 2) {
        const cell* key = block::get_cell(schemes, head + i);
        if (key->is(TYPE_WORD) && symbol::canonical_id(static_cast<int32_t>(key->w2)) == wanted)
            return block::get_cell(schemes, head + i + 1);
    }
    return nullptr;
}

cell* flag(bool on) { return on ? &logic::true_value : &logic::false_value; }
cell* or_none(cell* c) { return c ? c : &none::value; }

// The actor's function of the action's name called with the port and the arguments;
// answers the pushed result.
cell* forward(action a, const cell* port, std::initializer_list<const cell*> arguments) {
    cell* saved_top = stack::state.args_top;
    cell* held = stack::push_copy(port);
    cell* actor = field_of(held, "actor");
    if (!actor || !actor->is(TYPE_OBJECT)) raise::throw_error(err::access_invalid_port);
    cell* actor_held = stack::push_copy(actor);
    cell* word = stack::push_slot();
    *word = word_of(action_names[a - 1]);
    cell* function = field_of(actor_held, action_names[a - 1]);
    if (!function || !function->is(TYPE_FUNCTION)) raise::throw_error(err::access_no_port_action, word);
    function = stack::push_copy(function);
    // The arguments are copied before the frame opens: they may lie below it.
    cell* first_argument = stack::state.args_top;
    for (const cell* argument : arguments) stack::push_copy(argument ? argument : &none::value);
    const int64_t argument_count = stack::state.args_top - first_argument;
    stack::push_function_frame(word, function->w1);
    cell* first = stack::state.args_top;
    stack::push_copy(held);
    for (int64_t i = 0; i < argument_count; ++i) stack::push_copy(first_argument + i);
    function::push_locals(std::max(function::count_locals(function->w2, 0, false), 0));
    const int64_t section = context::key_count(function->w1);
    while (stack::state.args_top - first < section) stack::push_copy(&none::value);
    upcalls::installed(upcalls::invoke_function)(function, actor_held->w1, word, upcalls::INVOKE_PORT);
    const cell result = *first;
    stack::pop_function_frame();
    stack::state.args_top = saved_top;
    return stack::push_copy(&result);
}

cell* push_integer(int64_t n) { return integer::push(static_cast<int32_t>(n)); }

// --- Make and the text forms -------------------------------------------------------------------

cell* make(cell* /*value*/, cell* spec, type_id /*type*/) {
    cell* result = stack::push_slot();
    cell::init_unset(result);
    cell* source = stack::push_copy(spec);
    cell* spec_object = stack::push_slot();
    if (source->is(TYPE_OBJECT)) {
        *spec_object = *source;
    } else {
        cell* parts = push_prototype("url-parts", URL_PARTS_FIELDS);
        *spec_object = *object::make(parts, source, TYPE_OBJECT);
        spec_object->w2 = object::EMPTY_CLASS_ID;
        *context::self_cell(spec_object->w1) = *spec_object;
    }
    const cell* scheme = context::value_count(spec_object->w1) > 0 ? context::value_at(spec_object->w1, 0) : nullptr;
    if (!scheme || !scheme->is(TYPE_WORD)) raise::throw_error(err::access_no_scheme, source);
    cell* scheme_word = stack::push_copy(scheme);
    cell* prototype = push_prototype("port", PORT_FIELDS);
    cell* made = object::push_copy(prototype, true, nullptr, false);
    cell::set_type(made, TYPE_PORT);
    made->w2 = object::PORT_CLASS_ID;
    *context::self_cell(made->w1) = *made;
    if (cell* field = field_of(made, "spec")) *field = *spec_object;
    if (cell* field = field_of(made, "scheme")) *field = *scheme_word;
    cell* found = find_scheme(system_field("schemes"), scheme_word);
    if (!found || !found->is(TYPE_OBJECT)) raise::throw_error(err::access_unknown_scheme, source);
    cell* actor = field_of(found, "actor");
    if (!actor || !(actor->is(TYPE_OBJECT) || actor->is(TYPE_HANDLE))) {
        raise::throw_error(err::access_invalid_actor, source);
    }
    if (cell* field = field_of(made, "actor")) *field = *actor;
    *result = *made;
    return result;
}

int append_text(cell* output, const char* text, int budget) {
    string::append_c_string(output, text);
    return budget - static_cast<int>(std::string_view(text).size());
}

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    budget = append_text(output, "make port! [", budget);
    budget = object::mold_fields(value, output, only, all, flat, part, budget, indent + 1, true);
    if (indent >= 1) budget = string::append_indent(output, indent, budget);
    return append_text(output, "]", budget);
}

int form(cell* value, cell* output, cell* part, int budget) {
    return mold(value, output, false, false, false, part, budget, 0);
}

// --- Forwarded actions ---------------------------------------------------------------------------

cell* append(cell* port, cell* value, int part, bool only, int dup, bool append_flag) {
    cell* length = part >= 0 ? push_integer(part) : nullptr;
    cell* count = dup > 1 ? push_integer(dup) : nullptr;
    return forward(append_flag ? ACTION_APPEND : ACTION_INSERT, port,
                   {value, flag(part >= 0), or_none(length), flag(only), flag(dup > 1), or_none(count)});
}
cell* insert(cell* port, cell* value, int part, bool only, int dup, bool) {
    return append(port, value, part, only, dup, false);
}
cell* change(cell* port, cell* value, int part, bool only, int dup) {
    cell* length = part >= 0 ? push_integer(part) : nullptr;
    cell* count = dup > 1 ? push_integer(dup) : nullptr;
    return forward(ACTION_CHANGE, port,
                   {value, flag(part >= 0), or_none(length), flag(only), flag(dup > 1), or_none(count)});
}

// The navigation actions read their arguments from the stack.
template <action A> cell* forward_port_only() { return forward(A, stack::argument(0), {}); }
template <action A> cell* forward_with_argument() { return forward(A, stack::argument(0), {stack::argument(1)}); }

cell* clear(cell* port) { return forward(ACTION_CLEAR, port, {}); }
cell* copy(cell* port, cell* /*result*/, cell* part, bool deep, cell* types) {
    return forward(ACTION_COPY, port, {flag(part), or_none(part), flag(deep), flag(types), or_none(types)});
}
cell* find(cell* port, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any, cell* with,
           cell* skip, bool last, bool reverse, bool tail, bool match) {
    return forward(ACTION_FIND, port,
                   {value, flag(part), or_none(part), flag(only), flag(case_sensitive), flag(same), flag(any),
                    flag(with), or_none(with), flag(skip), or_none(skip), flag(last), flag(reverse), flag(tail),
                    flag(match)});
}
cell* select(cell* port, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any, cell* with,
             cell* skip, bool last, bool reverse) {
    return forward(ACTION_SELECT, port,
                   {value, flag(part), or_none(part), flag(only), flag(case_sensitive), flag(same), flag(any),
                    flag(with), or_none(with), flag(skip), or_none(skip), flag(last), flag(reverse)});
}
int length_q(cell* port) {
    cell* answer = forward(ACTION_LENGTH_Q, port, {});
    return answer->is(TYPE_INTEGER) ? integer::read_cell(answer) : -1;
}
cell* move(cell* port, cell* target, cell* part) {
    return forward(ACTION_MOVE, port, {target, flag(part), or_none(part)});
}
cell* pick(cell* port, int index, cell* index_cell) {
    return forward(ACTION_PICK, port, {index_cell ? index_cell : push_integer(index)});
}
cell* poke(cell* port, int index, cell* value) {
    cell* held = stack::push_copy(value);
    return forward(ACTION_POKE, port, {push_integer(index), held});
}
cell* put(cell* port, cell* key, cell* value, bool case_sensitive) {
    return forward(ACTION_PUT, port, {key, value, flag(case_sensitive)});
}
cell* remove(cell* port, cell* part, cell* /*key*/) { return forward(ACTION_REMOVE, port, {flag(part), or_none(part)}); }
cell* reverse(cell* port, cell* part, cell* /*skip*/) {
    return forward(ACTION_REVERSE, port, {flag(part), or_none(part)});
}
cell* sort(cell* port, bool case_sensitive, cell* skip, cell* comparator, cell* part, bool all, bool reverse,
           bool stable) {
    return forward(ACTION_SORT, port,
                   {flag(case_sensitive), flag(skip), or_none(skip), flag(comparator), or_none(comparator), flag(part),
                    or_none(part), flag(all), flag(reverse), flag(stable)});
}
cell* swap(cell* port, cell* other) { return forward(ACTION_SWAP, port, {other}); }
cell* take(cell* port, cell* part, bool deep, bool last) {
    return forward(ACTION_TAKE, port, {flag(part), or_none(part), flag(deep), flag(last)});
}
cell* trim(cell* port, bool head, bool tail, bool automatic, bool lines, bool all, cell* with) {
    return forward(ACTION_TRIM, port,
                   {flag(head), flag(tail), flag(automatic), flag(lines), flag(all), flag(with), or_none(with)});
}
cell* create(cell* port) { return forward(ACTION_CREATE, port, {}); }
cell* close(cell* port) { return forward(ACTION_CLOSE, port, {}); }
cell* delete_(cell* port) { return forward(ACTION_DELETE, port, {}); }
cell* modify(cell* port, cell* field, cell* value, bool case_sensitive) {
    return forward(ACTION_MODIFY, port, {field, value, flag(case_sensitive)});
}
cell* open(cell* port, bool create_new, bool read, bool write, bool seek, cell* allow) {
    return forward(ACTION_OPEN, port, {flag(create_new), flag(read), flag(write), flag(seek), or_none(allow)});
}
cell* query(cell* port) { return forward(ACTION_QUERY, port, {}); }
cell* rename(cell* port, cell* to) { return forward(ACTION_RENAME, port, {to}); }
cell* update(cell* port) { return forward(ACTION_UPDATE, port, {}); }

// read: open, copy (with read's /part), close; the copy's result.
cell* read(cell* port, cell* part, cell* /*seek*/, bool, bool, bool, cell* /*as*/) {
    cell* held = stack::push_copy(port);
    cell* part_held = part ? stack::push_copy(part) : nullptr;
    open(held, false, false, false, false, nullptr);
    cell* result = copy(held, nullptr, part_held, false, nullptr);
    close(held);
    return result;
}

// write: open/write, insert the data (with a /part length when an integer is given),
// copy, close; the copy's result.
cell* write(cell* port, cell* data, bool, bool, bool, bool, cell* part, cell*, cell*, cell*) {
    cell* held = stack::push_copy(port);
    cell* data_held = stack::push_copy(data);
    int length = part && part->is(TYPE_INTEGER) ? integer::read_cell(part) : -1;
    open(held, false, false, true, false, nullptr);
    append(held, data_held, length, false, -1, false);
    cell* result = copy(held, nullptr, nullptr, false, nullptr);
    close(held);
    return result;
}

}  // namespace

void init_type() {
    type_registry::action_list list(TYPE_OBJECT);
    for (action a : {ACTION_RANDOM, ACTION_TO, ACTION_SET_PATH, ACTION_ABSOLUTE, ACTION_ADD, ACTION_DIVIDE,
                     ACTION_MULTIPLY, ACTION_NEGATE, ACTION_POWER, ACTION_REMAINDER, ACTION_ROUND, ACTION_SUBTRACT,
                     ACTION_EVEN_Q, ACTION_ODD_Q, ACTION_AND_T, ACTION_COMPLEMENT, ACTION_OR_T, ACTION_XOR_T,
                     ACTION_OPEN_Q}) {
        list.unsupported(a);
    }
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_APPEND>(&append);
    list.set<ACTION_AT>(&forward_with_argument<ACTION_AT>);
    list.set<ACTION_BACK>(&forward_port_only<ACTION_BACK>);
    list.set<ACTION_CHANGE>(&change);
    list.set<ACTION_CLEAR>(&clear);
    list.set<ACTION_COPY>(&copy);
    list.set<ACTION_FIND>(&find);
    list.set<ACTION_HEAD>(&forward_port_only<ACTION_HEAD>);
    list.set<ACTION_HEAD_Q>(&forward_port_only<ACTION_HEAD_Q>);
    list.set<ACTION_INDEX_Q>(&forward_port_only<ACTION_INDEX_Q>);
    list.set<ACTION_INSERT>(&insert);
    list.set<ACTION_LENGTH_Q>(&length_q);
    list.set<ACTION_MOVE>(&move);
    list.set<ACTION_NEXT>(&forward_port_only<ACTION_NEXT>);
    list.set<ACTION_PICK>(&pick);
    list.set<ACTION_POKE>(&poke);
    list.set<ACTION_PUT>(&put);
    list.set<ACTION_REMOVE>(&remove);
    list.set<ACTION_REVERSE>(&reverse);
    list.set<ACTION_SELECT>(&select);
    list.set<ACTION_SORT>(&sort);
    list.set<ACTION_SKIP>(&forward_with_argument<ACTION_SKIP>);
    list.set<ACTION_SWAP>(&swap);
    list.set<ACTION_TAIL>(&forward_port_only<ACTION_TAIL>);
    list.set<ACTION_TAIL_Q>(&forward_port_only<ACTION_TAIL_Q>);
    list.set<ACTION_TAKE>(&take);
    list.set<ACTION_TRIM>(&trim);
    list.set<ACTION_CREATE>(&create);
    list.set<ACTION_CLOSE>(&close);
    list.set<ACTION_DELETE>(&delete_);
    list.set<ACTION_MODIFY>(&modify);
    list.set<ACTION_OPEN>(&open);
    list.set<ACTION_QUERY>(&query);
    list.set<ACTION_READ>(&read);
    list.set<ACTION_RENAME>(&rename);
    list.set<ACTION_UPDATE>(&update);
    list.set<ACTION_WRITE>(&write);
    type_registry::register_type(TYPE_PORT, TYPE_OBJECT, "port!", list);
}

}  // namespace zor::port
