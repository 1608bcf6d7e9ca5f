// Action dispatch: the action table of the 62 entry routines, the handler look-up by the
// first argument's type (with the I/O actions of a port forwarded to its actor), and the
// typed dispatchers through which the runtime calls one type's handler directly.
//
// Calling convention of an action entry (what an action! value calls): the action's
// positional arguments lie on the argument stack from args_base in spec order, followed by
// the argument cells of its refinements in spec order; the first argument cell is also
// the result slot. The entry receives one integer per refinement of the action's spec, in
// spec order: -1 when the refinement is absent, else the offset in cells from args_base of
// the refinement's first argument (for a refinement without arguments, where its
// arguments would stand). Presence is tested as ">= 0", since a refinement's argument may
// sit at any offset. The entry converts those integers into what the handler takes (a
// flag, a cell or null, a count of -1), calls the handler and leaves the result in the
// result slot. Each entry exists twice: as a typed C++ function (entry_find(part, only,
// ...)) for compiled callers, and as the table's uniform routine, which takes the array of
// positions and unpacks it.
//
// Invariant for callers: args_base names the call's first argument, and every refinement
// position handed in lies below args_top. Entries never keep a pointer into a series
// buffer across a handler call; the cells they hand to handlers are argument-stack cells.
#pragma once

#include <cstdint>

#include "runtime/eval/action-entries.inc"
#include "runtime/value/action-signatures.h"
#include "runtime/value/cell.h"
#include "runtime/value/type-registry.h"

namespace zor::actions {

// --- Handler look-up ---------------------------------------------------------------------------

// The handler of the action for the value. A port! whose actor field holds a handle! serves
// the actions from append (25) on through that handle's handler array (null entry:
// access/no-port-action); every other value through its type's row of the registry (null
// entry: script/expect-arg naming the current function, the type and the first parameter).
// find_handler for the values it does not answer at once: ports, and types without the action.
action_entry find_other_handler(const cell* value, action a);
// Every action call passes here: the type's row read inline, the rest out of line.
[[gnu::always_inline]] inline action_entry find_handler(const cell* value, action a) {
    if (!value->is(TYPE_PORT)) [[likely]] {
        if (action_entry found = type_registry::handler_of(value->type(), a)) [[likely]]
            return found;
    }
    return find_other_handler(value, a);
}
// The eval-path handler of the parent. A missing one raises script/bad-path-type2 with
// (element, parent's datatype) without a path, else script/bad-path-type with (path,
// parent's datatype, a copy of the path truncated after the element at element_position).
action_entry find_path_handler(const cell* parent, action a, const cell* path, const cell* element,
                               int element_position);

template <action A> action_handler<A> handler(const cell* value) {
    return reinterpret_cast<action_handler<A>>(find_handler(value, A));
}

// A port's actor handlers: an array of 38 handlers for the actions 25 (append) to 62
// (write), entry a - 25 for action a, null where the actor does not serve the action. A
// handle! in a port's actor field (the port object's third field) names such an array by
// its registered id and makes the port forward those actions to it.
inline constexpr int PORT_FIRST_ACTION = ACTION_APPEND;
inline constexpr int PORT_ACTION_COUNT = ACTION_COUNT - ACTION_APPEND + 1;
struct port_actor {
    action_entry handlers[PORT_ACTION_COUNT];
};
// Registers an actor array (static storage that lives as long as the process) and
// answers its 1-based id, the value that a handle! in a port's actor field carries to name
// it. A handle naming no registered array serves no action.
int32_t register_port_actor(const port_actor* actor);
// Makes the cell a handle! naming a registered actor array.
cell* make_port_actor_handle(cell* destination, int32_t actor_id);

// --- Typed dispatchers ---------------------------------------------------------------------------
//
// (value, converted arguments) -> the handler's answer; each finds the value's handler with
// find_handler and calls it with the same arguments.

cell* dispatch_make(cell* value, cell* spec, type_id type);
cell* dispatch_random(cell* value, bool seed, bool secure, bool only);
cell* dispatch_reflect(cell* value, int field_symbol);
cell* dispatch_to(cell* value, cell* spec, type_id type);
int dispatch_form(cell* value, cell* output, cell* part, int budget);
int dispatch_mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
cell* dispatch_eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                         int position, int pass_through, bool get_only, bool tail, bool in_place);
// -1, 0, 1 (or any negative and positive answer), or -2 when the values cannot be compared.
int dispatch_compare(cell* value, cell* other, int op);
cell* dispatch_negate(cell* value);
cell* dispatch_round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                     bool half_ceiling);
int dispatch_even_q(cell* value);
int dispatch_odd_q(cell* value);
cell* dispatch_complement(cell* value);
cell* dispatch_append(cell* series, cell* value, int part, bool only, int dup);
cell* dispatch_insert(cell* series, cell* value, int part, bool only, int dup);
cell* dispatch_change(cell* series, cell* value, int part, bool only, int dup);
cell* dispatch_clear(cell* series);
// The same cell may be both value and result.
cell* dispatch_copy(cell* value, cell* result, cell* part, bool deep, cell* types);
cell* dispatch_find(cell* series, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any,
                    cell* with, cell* skip, bool last, bool reverse, bool tail, bool match);
cell* dispatch_select(cell* series, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any,
                      cell* with, cell* skip, bool last, bool reverse);
int dispatch_length_q(cell* series);
cell* dispatch_move(cell* origin, cell* target, cell* part);
cell* dispatch_pick(cell* series, int index, cell* index_cell);
cell* dispatch_poke(cell* series, int index, cell* value);
cell* dispatch_put(cell* series, cell* key, cell* value, bool case_sensitive);
cell* dispatch_remove(cell* series, cell* part, cell* key);
cell* dispatch_reverse(cell* series, cell* part, cell* skip);
cell* dispatch_sort(cell* series, bool case_sensitive, cell* skip, cell* comparator, cell* part, bool all,
                    bool reverse, bool stable);
cell* dispatch_swap(cell* series, cell* other);
cell* dispatch_take(cell* series, cell* part, bool deep, bool last);
cell* dispatch_trim(cell* series, bool head, bool tail, bool automatic, bool lines, bool all, cell* with);
cell* dispatch_create(cell* port);
cell* dispatch_close(cell* port);
cell* dispatch_delete(cell* file);
cell* dispatch_modify(cell* target, cell* field, cell* value, bool case_sensitive);
cell* dispatch_open(cell* port, bool create, bool read, bool write, bool seek, cell* allow);
cell* dispatch_open_q(cell* port);
cell* dispatch_query(cell* target);
cell* dispatch_read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as);
cell* dispatch_rename(cell* from, cell* to);
cell* dispatch_update(cell* port);
cell* dispatch_write(cell* destination, cell* data, bool binary, bool lines, bool info, bool append, cell* part,
                     cell* seek, cell* allow, cell* as);

// --- The generic comparison ----------------------------------------------------------------------

// The comparison as a truth value. An answer of -2 is "not equal" for the equality codes
// (COMPARE_EQUAL, COMPARE_NOT_EQUAL, COMPARE_STRICT_EQUAL and COMPARE_SAME to COMPARE_FIND)
// and raises script/invalid-compare with the two values for the orderings COMPARE_LESSER to
// COMPARE_GREATER_OR_EQUAL; any other code is an internal fault (runtime error 101).
bool compare(cell* value, cell* other, int op);
// `actions/compare-to-logic`: compares the cells at args_base and args_base + 1 and stores
// the answer as a logic! in the result slot.
void compare_to_logic(int op);
// Whether a comparison code is one that compare accepts (all but the two sort orders).
bool is_compare_code(int32_t op);

// `actions/pick-index`: the machine index of pick and poke: logic! true 1 and false 2, the
// value of a char! or an integer!, 0 for any other type (the handler decides).
int pick_index(const cell* index);

// --- The action table ------------------------------------------------------------------------------

// The uniform entry: the refinement positions of the action's spec, in spec order (null
// for an action without refinements).
using entry_routine = void (*)(const int32_t* refinements);

// The number of refinements in each action's spec, by 1-based index (0 for set-path).
int refinement_count(int index);
namespace detail {
extern entry_routine entry_table[ACTION_COUNT];
}
// The entry routine of a 1-based action index; null outside 1..ACTION_COUNT, for set-path
// (8), and before init_table.
inline entry_routine entry(int index) {
    return index >= 1 && index <= ACTION_COUNT ? detail::entry_table[index - 1] : nullptr;
}
// Fills the entry of a 1-based action index (outside 1..ACTION_COUNT nothing happens).
void set_entry(int index, entry_routine routine);
// `actions/fill-table`: stores the routines at the 1-based indexes 1..count, in order.
void fill_table(int count, const entry_routine* routines);
// `actions/init-table`: fills the table with the 62 entries (set-path null). Runs once at
// start-up, after every datatype has registered.
void init_table();

// --- The entries -------------------------------------------------------------------------------------
//
// actions::entry_<name> for every action with a routine (set-path has none), declared in
// action-entries.inc from runtime/data/action-specs.zor: one int32_t per refinement of the
// action's spec, in spec order. Each takes its refinement positions and leaves the result
// in the result slot. The simple entries (absolute, add, divide, multiply, power,
// remainder, subtract, and~, or~, xor~, at, back, head, head?, index?, next, skip, tail,
// tail?) take none: their handlers read the argument stack themselves.

}  // namespace zor::actions
