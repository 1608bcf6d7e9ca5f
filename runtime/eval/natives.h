// The natives table: the entry routines of the 107 built-in natives by index, 1 `if` ...
// 107 `apply`, in a table of 120 entries, and the calling convention every entry follows.
//
// Calling convention. The caller pushes a call frame naming the native's word, then, from
// args_base, one cell per positional argument in spec order, then the argument cells of
// every refinement in spec order (a refinement itself has no cell; the argument cells of
// an absent refinement are still there and hold none!). It then calls the entry with a
// native_call: one integer per refinement of the spec, in spec order, -1 when the
// refinement is absent, else the offset from args_base of its first argument cell (for a
// refinement without arguments, where its arguments would stand); and the check flag, set
// when the argument types are to be tested against the spec's type blocks (the
// interpreter and compiled code set it; the runtime's own internal calls, which pass
// values of the right types, clear it). Presence is always tested as ">= 0" (native_call::
// has), since a refinement's first argument may sit at offset 0 of a native without
// positional arguments.
//
// The entry reads its arguments from stack::argument(offset) and leaves its result in the
// result slot (args_base): natives whose result is none! or unset! first drop their
// arguments (args_top back to args_base), the others copy the value they produced into the
// slot. The entry answers a throw code: 0 when it ended normally, else the code of a
// break, continue, return, exit or throw that ended an evaluation it ran and that it hands
// back to its caller instead of throwing (throw.h; the interpreter passes it on the same
// way until a frame takes it). Errors are always raised (raise::throw_error), never
// answered.
//
// Each native's spec block is boot data: runtime/data/natives-specs.zor holds one entry per
// native (name, index, spec block) as Zor text, which the build embeds and the boot
// environment loads into the spec blocks of the native! values. The argument typesets of
// the type tests are made at init_table from the same entries.
//
// Invariants: the table is filled once at start-up (init_table) and only read afterwards;
// native! values name their entry by index, never by address.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zor::natives {

inline constexpr int TABLE_SIZE = 120;
inline constexpr int NATIVE_COUNT = 107;
// The most refinements any native's spec has (`now`).
inline constexpr int MAX_REFINEMENTS = 10;

// What an entry receives besides the argument stack.
struct native_call {
    const int32_t* refinements = nullptr;  // refinement_count positions, spec order
    int32_t refinement_count = 0;
    bool check = false;

    // The position of refinement i (0-based, spec order), -1 when absent or out of range.
    int32_t position(int i) const { return i >= 0 && i < refinement_count ? refinements[i] : -1; }
    bool has(int i) const { return position(i) >= 0; }
};

using native_entry = uint32_t (*)(const native_call& call);

// The entry at a 1-based index; null outside 1..TABLE_SIZE or while the position is empty.
native_entry entry(int index);
// Fills the entry at a 1-based index (outside 1..TABLE_SIZE nothing happens).
void set_entry(int index, native_entry handler);
// The number of filled entries (107 after start-up).
int filled_count();
// The table's count: the 1-based position that the next append fills; 1 when empty, 108
// after start-up.
int count();
// Appends the routines at the next free positions, in order. Past the table's end nothing
// more is stored.
void append(int n, const native_entry* routines);
// `natives/init-table`: makes the print work block (kept by the runtime's root block),
// appends the 107 entries in index order and builds the argument typesets of the type
// tests from the specs. Runs once at start-up, after the internal words exist.
void init_table();

// Calls the native of a 1-based index with the refinement positions (refinement_count of
// them, spec order) and the check flag. An index naming no entry raises
// script/invalid-arg with the index.
uint32_t call(int index, const int32_t* refinements, int32_t refinement_count, bool check);

// The print work block (a block! cell of the root block, read afresh after any
// allocation); `print` and `prin` reduce block arguments into it.
cell* print_work_block();

// --- The specs --------------------------------------------------------------------------------

struct spec_entry {
    int index;                   // 1-based
    const char* name;            // the native's word, as the language spells it
    std::string_view spec_text;  // the spec block as Zor text, brackets included
};
// The spec entry of a 1-based index, null outside 1..NATIVE_COUNT.
const spec_entry* spec_of(int index);
// The whole data file as Zor text (name index [spec] per native), for the boot loader.
std::string_view specs_source();
// The number of refinements in the spec of a 1-based index (-1 outside 1..NATIVE_COUNT).
int refinement_count(int index);

// The typeset of the argument at a position of the spec's words (arguments and
// refinements counted together from 0), as the type tests use it; none! when that
// position holds no argument.
cell argument_typeset(int index, int spec_position);

// Tests the arguments of the current call against the native's argument typesets: each
// positional argument, then each argument of every present refinement (at the offset its
// refinement's position gives). A failed test raises script/expect-arg with the native's
// word, the value's datatype and the argument's word.
void check_arguments(int index, const native_call& call);

// The first type name in the specs that names neither a registered datatype nor a named
// typeset (empty when every name resolves; event! counts once it has registered).
std::string_view unknown_spec_type();

// The members of a typeset named in the natives' specs (any-type!, series! ...), as the
// boot environment's named typesets define them; false for an unknown name.
bool named_typeset(std::string_view name, cell* out);

// --- Natives the runtime calls directly ----------------------------------------------------------

// `natives/switch-find-case`(push flag, block flag): on the current call's value (args_base)
// and cases block (args_base + 1), finds from the cases block's index the first cell of
// the value's datatype that compare finds equal in equality mode (code 0); a block! value
// never matches. The scan steps by one cell with the push flag, by two without. After a
// match: with the block flag, the first block! cell after the match (none when there is
// none up to the tail); without it the cell after the match, or the match itself when it
// is the last cell. With the push flag the answer is pushed as a new stack value, else it
// is copied into the result slot. Without a match: none!, pushed or in the result slot.
// Answers the cell written.
cell* switch_find_case(bool push, bool block);

// The truth of a value: false for none! and a logic! whose payload is not 1, true for
// everything else (unset! included).
bool is_truthy(const cell* value);

// --- The routines -------------------------------------------------------------------------------
//
// The natives' own routines, as the table's entries call them once the type tests (when
// the check flag is set) have passed. Callers go through entry() or call(), which run the
// tests; the routines assume arguments of the spec's types.

// Conditionals (natives-conditional.cpp).
uint32_t if_(const native_call& call);
uint32_t unless(const native_call& call);
uint32_t either(const native_call& call);
uint32_t any(const native_call& call);
uint32_t all(const native_call& call);
uint32_t switch_(const native_call& call);
uint32_t case_(const native_call& call);

// Comparison, logic and type (natives-compare.cpp).
uint32_t equal_q(const native_call& call);
uint32_t not_equal_q(const native_call& call);
uint32_t strict_equal_q(const native_call& call);
uint32_t lesser_q(const native_call& call);
uint32_t greater_q(const native_call& call);
uint32_t lesser_or_equal_q(const native_call& call);
uint32_t greater_or_equal_q(const native_call& call);
uint32_t same_q(const native_call& call);
uint32_t not_(const native_call& call);
uint32_t type_q(const native_call& call);

// `same?` of two values: identity by type (see natives-compare.cpp).
bool is_same(const cell* value, const cell* other);

}  // namespace zor::natives
