// The action table, the handler look-up with its errors and port forwarding, the typed
// dispatchers, and the 61 action entries that turn refinement positions into the
// arguments of the handlers.
#include "runtime/eval/actions.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <utility>

#include "platform/fatal.h"
#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/word-table.h"
#include "runtime/value/type-classes.h"

namespace zor::actions {

namespace detail {
entry_routine entry_table[ACTION_COUNT] = {};
}
using detail::entry_table;

namespace {

// Port actor arrays by 1-based id. They are registered once by the modules that serve
// ports and live as long as the process.
constexpr int MAX_PORT_ACTORS = 32;
const port_actor* port_actors[MAX_PORT_ACTORS] = {};
int port_actor_count = 0;

// The field of a port object that holds its actor.
constexpr int32_t PORT_ACTOR_FIELD = 2;

cell* base(int n) { return stack::argument(n); }

// The argument cell of a refinement, null when the refinement is absent.
cell* refinement_cell(int32_t position) { return position >= 0 ? stack::argument(position) : nullptr; }
bool given(int32_t position) { return position >= 0; }


// The handler of a type's row; a missing one raises script/expect-arg naming the type.
action_entry type_handler(type_id type, action a) {
    action_entry found = type_registry::handler_of(type, a);
    if (!found) raise::expect_arg(type, 0);
    return found;
}

// The actor handlers of a port, or null when its actor field holds no handle!.
const port_actor* actor_of(const cell* port) {
    node_ref context = port->w1;
    if (context == 0 || context::values_on_stack(context)) return nullptr;
    const cell* actor = context::value_at(context, PORT_ACTOR_FIELD);
    if (!actor || !actor->is(TYPE_HANDLE)) return nullptr;
    // A handle naming no registered array serves nothing: its actions are refused below.
    static const port_actor no_actions{};
    uint32_t id = handle::value_of(actor);
    return id >= 1 && id <= uint32_t(port_actor_count) ? port_actors[id - 1] : &no_actions;
}

// The dispatch type of make and to: the type a datatype! names, else the value's own.
type_id dispatch_type(const cell* value) {
    if (value->is(TYPE_DATATYPE) && value->w1 >= 1 && value->w1 <= uint32_t(type_registry::max_type_id)) {
        return static_cast<type_id>(value->w1);
    }
    return value->type();
}

// An integer! argument of a refinement (form and mold's limit, the dup count); any other
// type raises script/expect-arg naming the parameter at that spec position.
int32_t integer_argument(const cell* value, int parameter) {
    if (!value->is(TYPE_INTEGER)) raise::expect_arg(value->type(), parameter);
    return integer::read_cell(value);
}

void set_none_result() {
    stack::clear_frame_args();
    *stack::result_slot() = none::value;
}

// --- form and mold -----------------------------------------------------------------------------

// The entry's part: an empty string at once for a limit below 1; else a new string that the
// call fills, cut to the limit when /part was given. The string becomes the result.
template <typename Fill>
void text_entry(int32_t part, int limit_parameter, Fill fill) {
    cell* limit_cell = refinement_cell(part);
    int32_t limit = INT32_MAX;
    if (limit_cell) limit = integer_argument(limit_cell, limit_parameter);
    cell* output = string::push_empty();
    if (limit >= 1) {
        fill(base(0), output, limit_cell, limit);
        if (limit_cell) string::truncate(output, limit);
    }
    stack::set_result_truncate(output);
}

// --- append, insert and change ---------------------------------------------------------------------

// The value types that a /part count may take its elements from.
bool takes_part(type_id type) { return type_classes::is(type, type_classes::SERIES) || type == TYPE_MAP; }

// Spec positions of append, insert and change: series 0, value 1, /part 2, length 3,
// /only 4, /dup 5, count 6.
constexpr int DUP_COUNT_PARAMETER = 6;

// Converts /part and /dup of append and insert, where /part limits the value inserted;
// answers false when the call ends at once with the series unchanged (the series is then
// the result), else the part count (-1 without /part) and the dup count (1 without /dup).
bool insertion_counts(int32_t part, int32_t dup, int* part_count, int* dup_count) {
    *part_count = -1;
    *dup_count = 1;
    if (given(part)) {
        cell* value = base(1);
        cell* limit = base(part);
        if (!takes_part(value->type()) || value->w2 == 0 || !memory::buffer_of(value->w2)) {
            raise::throw_error(err::script_invalid_part, limit);
        }
        int64_t length = series::total_length(value);
        int64_t index = std::clamp<int64_t>(series::index_of(value), 0, length);
        value->w1 = static_cast<uint32_t>(index);
        int64_t count;
        if (limit->is(TYPE_INTEGER)) {
            count = integer::read_cell(limit);
        } else {
            if (!limit->is(value->type()) || limit->w2 != value->w2) {
                raise::throw_error(err::script_invalid_refine_arg, refinements::part, limit);
            }
            count = std::clamp<int64_t>(series::index_of(limit), 0, length) - index;
        }
        if (count == 0 || (count < 0 && index == 0)) return false;
        if (count < 0) {
            int64_t start = std::max<int64_t>(index + count, 0);
            value->w1 = static_cast<uint32_t>(start);
            count = index - start;
        }
        *part_count = static_cast<int>(std::min<int64_t>(count, INT32_MAX));
    }
    if (given(dup)) {
        *dup_count = integer_argument(base(dup), DUP_COUNT_PARAMETER);
        if (*dup_count < 1) return false;
    }
    return true;
}

// --- The uniform routines of the table ----------------------------------------------------------

template <typename> struct arity;
template <typename... Arguments> struct arity<void (*)(Arguments...)> {
    static constexpr int value = static_cast<int>(sizeof...(Arguments));
};

template <auto Entry, size_t... I> void unpack(const int32_t* refinements, std::index_sequence<I...>) {
    Entry(refinements[I]...);
}

template <auto Entry> void uniform(const int32_t* refinements) {
    unpack<Entry>(refinements, std::make_index_sequence<arity<decltype(Entry)>::value>{});
}

struct table_row {
    entry_routine routine;
    int refinements;
};

// A row of the table: an entry whose parameters are not one per refinement of the
// action's spec does not compile.
template <auto Entry, int Refinements> constexpr table_row row() {
    static_assert(arity<decltype(Entry)>::value == Refinements, "one entry parameter per refinement of the spec");
    return {&uniform<Entry>, Refinements};
}

// The action table in action order (from runtime/data/action-specs.zor); set-path has no
// entry: paths are set through eval-path.
#include "runtime/eval/action-table.inc"

// A simple entry: the handler reads the argument stack itself.
template <action A> void simple_entry() { stack::set_result(handler<A>(base(0))()); }

}  // namespace

// --- Handler look-up -----------------------------------------------------------------------------

action_entry find_other_handler(const cell* value, action a) {
    if (value->is(TYPE_PORT) && a >= PORT_FIRST_ACTION) {
        if (const port_actor* actor = actor_of(value)) {
            action_entry found = actor->handlers[a - PORT_FIRST_ACTION];
            if (!found) raise::throw_error(err::access_no_port_action);
            return found;
        }
    }
    return type_handler(value->type(), a);
}

action_entry find_path_handler(const cell* parent, action a, const cell* path, const cell* element,
                               int element_position) {
    action_entry found = type_registry::handler_of(parent->type(), a);
    if (found) return found;
    // The element and the path may lie in a series buffer, which building the error moves.
    cell* held_element = stack::push_copy(element);
    cell* parent_type = datatype::push(parent->type());
    if (!path) raise::throw_error(err::script_bad_path_type2, held_element, parent_type);
    // The path up to the element that produced the value (the failing element excluded),
    // as a new path of the same type: it names what "returned" the value.
    cell* held = stack::push_copy(path);
    cell* cut = stack::push_slot();
    cell::init_unset(cut);
    int64_t length = series::total_length(held);
    int64_t start = std::clamp<int64_t>(series::index_of(held), 0, length);
    int64_t end = std::clamp<int64_t>(int64_t(element_position), start, length);
    series::copy_range(held, cut, start, end - start);
    raise::throw_error(err::script_bad_path_type, held, parent_type, cut);
}

int32_t register_port_actor(const port_actor* actor) {
    if (port_actor_count >= MAX_PORT_ACTORS) raise::throw_error(err::internal_limit_hit);
    port_actors[port_actor_count++] = actor;
    return port_actor_count;
}

cell* make_port_actor_handle(cell* destination, int32_t actor_id) {
    return handle::make_at(destination, static_cast<uint32_t>(actor_id), handle::KIND_NULL);
}

// --- Typed dispatchers -----------------------------------------------------------------------------

cell* dispatch_make(cell* value, cell* spec, type_id type) {
    return reinterpret_cast<action_handler<ACTION_MAKE>>(type_handler(type, ACTION_MAKE))(value, spec, type);
}
cell* dispatch_random(cell* value, bool seed, bool secure, bool only) {
    return handler<ACTION_RANDOM>(value)(value, seed, secure, only);
}
cell* dispatch_reflect(cell* value, int field_symbol) { return handler<ACTION_REFLECT>(value)(value, field_symbol); }
cell* dispatch_to(cell* value, cell* spec, type_id type) {
    return reinterpret_cast<action_handler<ACTION_TO>>(type_handler(type, ACTION_TO))(value, spec, type);
}
int dispatch_form(cell* value, cell* output, cell* part, int budget) {
    return handler<ACTION_FORM>(value)(value, output, part, budget);
}
int dispatch_mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    return handler<ACTION_MOLD>(value)(value, output, only, all, flat, part, budget, indent);
}
cell* dispatch_eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                         int position, int pass_through, bool get_only, bool tail, bool in_place) {
    auto found = reinterpret_cast<action_handler<ACTION_EVAL_PATH>>(
        find_path_handler(parent, ACTION_EVAL_PATH, path, element, position));
    return found(parent, element, value, path, grandparent, previous, position, pass_through, get_only, tail,
                 in_place);
}
int dispatch_compare(cell* value, cell* other, int op) {
    return handler<ACTION_COMPARE>(value)(value, other, op);
}
cell* dispatch_negate(cell* value) { return handler<ACTION_NEGATE>(value)(value); }
cell* dispatch_round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                     bool half_ceiling) {
    return handler<ACTION_ROUND>(value)(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
}
int dispatch_even_q(cell* value) { return handler<ACTION_EVEN_Q>(value)(value); }
int dispatch_odd_q(cell* value) { return handler<ACTION_ODD_Q>(value)(value); }
cell* dispatch_complement(cell* value) { return handler<ACTION_COMPLEMENT>(value)(value); }
cell* dispatch_append(cell* series, cell* value, int part, bool only, int dup) {
    return handler<ACTION_APPEND>(series)(series, value, part, only, dup, true);
}
cell* dispatch_insert(cell* series, cell* value, int part, bool only, int dup) {
    return handler<ACTION_INSERT>(series)(series, value, part, only, dup, false);
}
cell* dispatch_change(cell* series, cell* value, int part, bool only, int dup) {
    return handler<ACTION_CHANGE>(series)(series, value, part, only, dup);
}
cell* dispatch_clear(cell* series) { return handler<ACTION_CLEAR>(series)(series); }
cell* dispatch_copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    return handler<ACTION_COPY>(value)(value, result, part, deep, types);
}
cell* dispatch_find(cell* series, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any,
                    cell* with, cell* skip, bool last, bool reverse, bool tail, bool match) {
    return handler<ACTION_FIND>(series)(series, value, part, only, case_sensitive, same, any, with, skip, last,
                                        reverse, tail, match);
}
cell* dispatch_select(cell* series, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any,
                      cell* with, cell* skip, bool last, bool reverse) {
    return handler<ACTION_SELECT>(series)(series, value, part, only, case_sensitive, same, any, with, skip, last,
                                          reverse);
}
int dispatch_length_q(cell* series) { return handler<ACTION_LENGTH_Q>(series)(series); }
cell* dispatch_move(cell* origin, cell* target, cell* part) {
    return handler<ACTION_MOVE>(origin)(origin, target, part);
}
cell* dispatch_pick(cell* series, int index, cell* index_cell) {
    return handler<ACTION_PICK>(series)(series, index, index_cell);
}
cell* dispatch_poke(cell* series, int index, cell* value) { return handler<ACTION_POKE>(series)(series, index, value); }
cell* dispatch_put(cell* series, cell* key, cell* value, bool case_sensitive) {
    return handler<ACTION_PUT>(series)(series, key, value, case_sensitive);
}
cell* dispatch_remove(cell* series, cell* part, cell* key) {
    return handler<ACTION_REMOVE>(series)(series, part, key);
}
cell* dispatch_reverse(cell* series, cell* part, cell* skip) {
    return handler<ACTION_REVERSE>(series)(series, part, skip);
}
cell* dispatch_sort(cell* series, bool case_sensitive, cell* skip, cell* comparator, cell* part, bool all,
                    bool reverse, bool stable) {
    return handler<ACTION_SORT>(series)(series, case_sensitive, skip, comparator, part, all, reverse, stable);
}
cell* dispatch_swap(cell* series, cell* other) { return handler<ACTION_SWAP>(series)(series, other); }
cell* dispatch_take(cell* series, cell* part, bool deep, bool last) {
    return handler<ACTION_TAKE>(series)(series, part, deep, last);
}
cell* dispatch_trim(cell* series, bool head, bool tail, bool automatic, bool lines, bool all, cell* with) {
    return handler<ACTION_TRIM>(series)(series, head, tail, automatic, lines, all, with);
}
cell* dispatch_create(cell* port) { return handler<ACTION_CREATE>(port)(port); }
cell* dispatch_close(cell* port) { return handler<ACTION_CLOSE>(port)(port); }
cell* dispatch_delete(cell* file) { return handler<ACTION_DELETE>(file)(file); }
cell* dispatch_modify(cell* target, cell* field, cell* value, bool case_sensitive) {
    return handler<ACTION_MODIFY>(target)(target, field, value, case_sensitive);
}
cell* dispatch_open(cell* port, bool create, bool read, bool write, bool seek, cell* allow) {
    return handler<ACTION_OPEN>(port)(port, create, read, write, seek, allow);
}
cell* dispatch_open_q(cell* port) { return handler<ACTION_OPEN_Q>(port)(port); }
cell* dispatch_query(cell* target) { return handler<ACTION_QUERY>(target)(target); }
cell* dispatch_read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as) {
    return handler<ACTION_READ>(source)(source, part, seek, binary, lines, info, as);
}
cell* dispatch_rename(cell* from, cell* to) { return handler<ACTION_RENAME>(from)(from, to); }
cell* dispatch_update(cell* port) { return handler<ACTION_UPDATE>(port)(port); }
cell* dispatch_write(cell* destination, cell* data, bool binary, bool lines, bool info, bool append, cell* part,
                     cell* seek, cell* allow, cell* as) {
    return handler<ACTION_WRITE>(destination)(destination, data, binary, lines, info, append, part, seek, allow,
                                              as);
}

// --- The generic comparison ---------------------------------------------------------------------

// The sort orders (COMPARE_SORT, COMPARE_SORT_CASE) have no truth value: sorting reads the
// handlers' answers itself.
bool is_compare_code(int32_t op) {
    return (op >= COMPARE_EQUAL && op <= COMPARE_GREATER_OR_EQUAL) || (op >= COMPARE_SAME && op <= COMPARE_FIND);
}

bool compare(cell* value, cell* other, int op) {
    int answer = dispatch_compare(value, other, op);
    switch (op) {
        case COMPARE_EQUAL:
        case COMPARE_STRICT_EQUAL:
        case COMPARE_SAME:
        case COMPARE_LIT_FORM_EQUAL:
        case COMPARE_LIT_FORM_EQUAL_FOLDED:
        case COMPARE_FIND: return answer == 0;
        case COMPARE_NOT_EQUAL: return answer != 0;
        default: break;
    }
    if (answer == -2) {
        // Either value may lie in a series buffer, which building the error moves.
        cell* held_value = stack::push_copy(value);
        cell* held_other = stack::push_copy(other);
        raise::throw_error(err::script_invalid_compare, held_value, held_other);
    }
    switch (op) {
        case COMPARE_LESSER: return answer < 0;
        case COMPARE_LESSER_OR_EQUAL: return answer < 1;
        case COMPARE_GREATER: return answer >= 1;
        case COMPARE_GREATER_OR_EQUAL: return answer >= 0;
        default: platform::quit_with_error(platform::RUNTIME_ERROR_NO_SWITCH, 0);
    }
}

void compare_to_logic(int op) {
    bool answer = compare(base(0), base(1), op);
    logic::set_result(answer ? 1 : 0);
}

int pick_index(const cell* index) {
    switch (index->type()) {
        case TYPE_LOGIC: return logic::get_value(index) == 1 ? 1 : 2;
        case TYPE_CHAR: return static_cast<int32_t>(index->w2);
        case TYPE_INTEGER: return integer::read_cell(index);
        default: return 0;
    }
}

// --- The table -----------------------------------------------------------------------------------

int refinement_count(int index) { return index >= 1 && index <= ACTION_COUNT ? rows[index - 1].refinements : 0; }

void set_entry(int index, entry_routine routine) {
    if (index >= 1 && index <= ACTION_COUNT) entry_table[index - 1] = routine;
}

void fill_table(int count, const entry_routine* routines) {
    for (int i = 0; i < count && i < ACTION_COUNT; ++i) entry_table[i] = routines[i];
}

void init_table() {
    entry_routine routines[ACTION_COUNT];
    for (int i = 0; i < ACTION_COUNT; ++i) routines[i] = rows[i].routine;
    fill_table(ACTION_COUNT, routines);
}

// --- The entries -------------------------------------------------------------------------------------

void entry_make() {
    cell* value = base(0);
    stack::set_result(dispatch_make(value, base(1), dispatch_type(value)));
}

void entry_random(int32_t seed, int32_t secure, int32_t only) {
    stack::set_result(dispatch_random(base(0), given(seed), given(secure), given(only)));
}

void entry_reflect() {
    cell* field = base(1);
    if (!word::is_any_word_type(field->type())) raise::throw_error(err::script_invalid_arg, field);
    stack::set_result(dispatch_reflect(base(0), static_cast<int32_t>(field->w2)));
}

void entry_to() {
    cell* value = base(0);
    stack::set_result(dispatch_to(value, base(1), dispatch_type(value)));
}

// form's spec: value 0, /part 1, limit 2.
void entry_form(int32_t part) {
    text_entry(part, 2, [](cell* value, cell* output, cell* limit_cell, int32_t limit) {
        dispatch_form(value, output, limit_cell, limit);
    });
}

// mold's spec: value 0, /only 1, /all 2, /flat 3, /part 4, limit 5.
void entry_mold(int32_t only, int32_t all, int32_t flat, int32_t part) {
    text_entry(part, 5, [&](cell* value, cell* output, cell* limit_cell, int32_t limit) {
        dispatch_mold(value, output, given(only), given(all), given(flat), limit_cell, limit, 0);
    });
}

void entry_eval_path(int32_t set) {
    cell* parent = base(0);
    cell* element = base(1);
    cell* value = refinement_cell(set);
    stack::set_result(dispatch_eval_path(parent, element, value, nullptr, nullptr, nullptr, -1, 0, false, true, false));
}

void entry_compare() {
    // The code comes from the caller's argument: an unknown one is refused as bad input
    // rather than ending the process.
    cell* op = base(2);
    if (!op->is(TYPE_INTEGER) || !is_compare_code(integer::read_cell(op))) {
        raise::throw_error(err::script_invalid_arg, op);
    }
    compare_to_logic(integer::read_cell(op));
}

void entry_absolute() { simple_entry<ACTION_ABSOLUTE>(); }
void entry_add() { simple_entry<ACTION_ADD>(); }
void entry_divide() { simple_entry<ACTION_DIVIDE>(); }
void entry_multiply() { simple_entry<ACTION_MULTIPLY>(); }
void entry_negate() { stack::set_result(dispatch_negate(base(0))); }
void entry_power() { simple_entry<ACTION_POWER>(); }
void entry_remainder() { simple_entry<ACTION_REMAINDER>(); }

void entry_round(int32_t to, int32_t even, int32_t down, int32_t half_down, int32_t floor, int32_t ceiling,
                 int32_t half_ceiling) {
    stack::set_result(dispatch_round(base(0), refinement_cell(to), given(even), given(down), given(half_down),
                                     given(floor), given(ceiling), given(half_ceiling)));
}

void entry_subtract() { simple_entry<ACTION_SUBTRACT>(); }
void entry_even_q() { logic::set_result(dispatch_even_q(base(0)) != 0 ? 1 : 0); }
void entry_odd_q() { logic::set_result(dispatch_odd_q(base(0)) != 0 ? 1 : 0); }
void entry_and_t() { simple_entry<ACTION_AND_T>(); }
void entry_complement() { stack::set_result(dispatch_complement(base(0))); }
void entry_or_t() { simple_entry<ACTION_OR_T>(); }
void entry_xor_t() { simple_entry<ACTION_XOR_T>(); }

void entry_append(int32_t part, int32_t only, int32_t dup) {
    int part_count, dup_count;
    if (!insertion_counts(part, dup, &part_count, &dup_count)) return;
    stack::set_result(dispatch_append(base(0), base(1), part_count, given(only), dup_count));
}

void entry_at() { simple_entry<ACTION_AT>(); }
void entry_back() { simple_entry<ACTION_BACK>(); }

// change's /part is the length of the target that is replaced: an integer!, or a position
// in the target's own series (the length from the target's index to it). Nothing before
// the index is replaced, so a count below 0 replaces nothing. Answers -1 without /part.
int change_part_count(int32_t part) {
    if (!given(part)) return -1;
    cell* target = base(0);
    cell* limit = base(part);
    if (limit->is(TYPE_INTEGER)) return std::max(integer::read_cell(limit), 0);
    if (!takes_part(target->type()) || !limit->is(target->type()) || limit->w2 != target->w2) {
        raise::throw_error(err::script_invalid_refine_arg, refinements::part, limit);
    }
    int64_t length = series::total_length(target);
    int64_t count = std::clamp<int64_t>(series::index_of(limit), 0, length) -
                    std::clamp<int64_t>(series::index_of(target), 0, length);
    return static_cast<int>(std::max<int64_t>(count, 0));
}

void entry_change(int32_t part, int32_t only, int32_t dup) {
    int dup_count = 1;
    if (given(dup)) {
        dup_count = integer_argument(base(dup), DUP_COUNT_PARAMETER);
        if (dup_count < 1) return;
    }
    const int part_count = change_part_count(part);
    stack::set_result(dispatch_change(base(0), base(1), part_count, given(only), dup_count));
}

void entry_clear() { stack::set_result(dispatch_clear(base(0))); }

// copy's spec: value 0, /part 1, length 2, /deep 3, /types 4, kind 5.
void entry_copy(int32_t part, int32_t deep, int32_t types) {
    cell* kind = refinement_cell(types);
    if (kind && !kind->is(TYPE_DATATYPE) && !kind->is(TYPE_TYPESET)) raise::expect_arg(kind->type(), 5);
    cell* destination = stack::push_slot();
    cell::init_unset(destination);
    cell* copied = dispatch_copy(base(0), destination, refinement_cell(part), given(deep), kind);
    stack::set_result_truncate(copied);
}

void entry_find(int32_t part, int32_t only, int32_t case_sensitive, int32_t same, int32_t any, int32_t with,
                int32_t skip, int32_t last, int32_t reverse, int32_t tail, int32_t match) {
    stack::set_result(dispatch_find(base(0), base(1), refinement_cell(part), given(only), given(case_sensitive),
                                    given(same), given(any), refinement_cell(with), refinement_cell(skip),
                                    given(last), given(reverse), given(tail), given(match)));
}

void entry_head() { simple_entry<ACTION_HEAD>(); }
void entry_head_q() { simple_entry<ACTION_HEAD_Q>(); }
void entry_index_q() { simple_entry<ACTION_INDEX_Q>(); }

void entry_insert(int32_t part, int32_t only, int32_t dup) {
    int part_count, dup_count;
    if (!insertion_counts(part, dup, &part_count, &dup_count)) return;
    stack::set_result(dispatch_insert(base(0), base(1), part_count, given(only), dup_count));
}

void entry_length_q() {
    int length = dispatch_length_q(base(0));
    if (length == -1) {
        set_none_result();
        return;
    }
    integer::make_in(stack::result_slot(), length);
}

void entry_move(int32_t part) { stack::set_result(dispatch_move(base(0), base(1), refinement_cell(part))); }
void entry_next() { simple_entry<ACTION_NEXT>(); }
void entry_pick() { stack::set_result(dispatch_pick(base(0), pick_index(base(1)), base(1))); }
void entry_poke() { stack::set_result(dispatch_poke(base(0), pick_index(base(1)), base(2))); }

void entry_put(int32_t case_sensitive) {
    stack::set_result(dispatch_put(base(0), base(1), base(2), given(case_sensitive)));
}

void entry_remove(int32_t part, int32_t key) {
    stack::set_result(dispatch_remove(base(0), refinement_cell(part), refinement_cell(key)));
}

void entry_reverse(int32_t part, int32_t skip) {
    stack::set_result(dispatch_reverse(base(0), refinement_cell(part), refinement_cell(skip)));
}

void entry_select(int32_t part, int32_t only, int32_t case_sensitive, int32_t same, int32_t any, int32_t with,
                  int32_t skip, int32_t last, int32_t reverse) {
    stack::set_result(dispatch_select(base(0), base(1), refinement_cell(part), given(only), given(case_sensitive),
                                      given(same), given(any), refinement_cell(with), refinement_cell(skip),
                                      given(last), given(reverse)));
}

void entry_sort(int32_t case_sensitive, int32_t skip, int32_t compare, int32_t part, int32_t all, int32_t reverse,
                int32_t stable) {
    stack::set_result(dispatch_sort(base(0), given(case_sensitive), refinement_cell(skip), refinement_cell(compare),
                                    refinement_cell(part), given(all), given(reverse), given(stable)));
}

void entry_skip() { simple_entry<ACTION_SKIP>(); }
void entry_swap() { stack::set_result(dispatch_swap(base(0), base(1))); }
void entry_tail() { simple_entry<ACTION_TAIL>(); }
void entry_tail_q() { simple_entry<ACTION_TAIL_Q>(); }

void entry_take(int32_t part, int32_t deep, int32_t last) {
    stack::set_result(dispatch_take(base(0), refinement_cell(part), given(deep), given(last)));
}

void entry_trim(int32_t head, int32_t tail, int32_t automatic, int32_t lines, int32_t all, int32_t with) {
    stack::set_result(dispatch_trim(base(0), given(head), given(tail), given(automatic), given(lines), given(all),
                                    refinement_cell(with)));
}

void entry_create() { stack::set_result(dispatch_create(base(0))); }
void entry_close() { stack::set_result(dispatch_close(base(0))); }
void entry_delete() { stack::set_result(dispatch_delete(base(0))); }

void entry_modify(int32_t case_sensitive) {
    // The result is the target as it was passed, whatever the handler answers.
    cell* target = stack::push_copy(base(0));
    dispatch_modify(base(0), base(1), base(2), given(case_sensitive));
    stack::set_result_truncate(target);
}

void entry_open(int32_t create, int32_t read, int32_t write, int32_t seek, int32_t allow) {
    stack::set_result(
        dispatch_open(base(0), given(create), given(read), given(write), given(seek), refinement_cell(allow)));
}

void entry_open_q() { stack::set_result(dispatch_open_q(base(0))); }
void entry_query() { stack::set_result(dispatch_query(base(0))); }

void entry_read(int32_t part, int32_t seek, int32_t binary, int32_t lines, int32_t info, int32_t as) {
    stack::set_result(dispatch_read(base(0), refinement_cell(part), refinement_cell(seek), given(binary),
                                    given(lines), given(info), refinement_cell(as)));
}

void entry_rename() { stack::set_result(dispatch_rename(base(0), base(1))); }
void entry_update() { stack::set_result(dispatch_update(base(0))); }

void entry_write(int32_t binary, int32_t lines, int32_t info, int32_t append, int32_t part, int32_t seek,
                 int32_t allow, int32_t as) {
    stack::set_result(dispatch_write(base(0), base(1), given(binary), given(lines), given(info), given(append),
                                     refinement_cell(part), refinement_cell(seek), refinement_cell(allow),
                                     refinement_cell(as)));
}

}  // namespace zor::actions
