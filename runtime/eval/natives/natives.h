// The natives table: the entry routines of the 107 built-in natives by index, 1 `if` ...
// 107 `apply`, in a table of 120 entries, and the calling convention every entry follows.
//
// Calling convention. The caller pushes a call frame naming the native's word, then, from
// args_base, one cell per positional argument in spec order, then the argument cells of
// every refinement in spec order (a refinement itself has no cell; the argument cells of
// an absent refinement are still there and hold none!). It then calls the entry with a
// native_invocation: one integer per refinement of the spec, in spec order, -1 when the
// refinement is absent, else the offset from args_base of its first argument cell (for a
// refinement without arguments, where its arguments would stand); and the check flag, set
// when the argument types are to be tested against the spec's type blocks (the
// interpreter and compiled code set it; the runtime's own internal calls, which pass
// values of the right types, clear it). Presence is always tested as ">= 0"
// (native_invocation::has), since a refinement's first argument may sit at offset 0 of a
// native without positional arguments.
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

#include "runtime/eval/natives/native-index.inc"
#include "runtime/value/cell.h"

namespace zor::natives {

inline constexpr int TABLE_SIZE = 120;
// The most refinements any native's spec has (`now`).
inline constexpr int MAX_REFINEMENTS = 10;

// What an entry receives besides the argument stack.
struct native_invocation {
    const int32_t* refinements = nullptr;  // refinement_count positions, spec order
    int32_t refinement_count = 0;
    bool check = false;

    // The position of refinement i (0-based, spec order), -1 when absent or out of range.
    int32_t position(int i) const { return i >= 0 && i < refinement_count ? refinements[i] : -1; }
    bool has(int i) const { return position(i) >= 0; }
};

using native_entry = uint32_t (*)(const native_invocation& call);

// The entry at a 1-based index; null outside 1..TABLE_SIZE or while the position is empty.
native_entry entry(int index);
// Fills the entry at a 1-based index (outside 1..TABLE_SIZE nothing happens).
void set_entry(int index, native_entry handler);
// The entry that start-up installs at a 1-based index (null outside 1..NATIVE_COUNT): the
// interpreter runs a native's work itself only while its table entry is still this one.
native_entry standard_entry(int index);
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

// --- Functions of the boot environment ------------------------------------------------------

// The value of a name in the global context; null when no such word has been made.
const cell* global_value(const char* name);
// Calls a function! (in a slot) as the interpreter calls one: a function frame named by
// the symbol's word, the given arguments, then the rest of its argument section (logic!
// false for a refinement key, none! for the others). The result is pushed; a pending exit
// is left as it is and its code answered.
uint32_t call_function(cell* function, int32_t symbol, const cell* const* arguments, int count);

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
void check_arguments(int index, const native_invocation& call);
// True when every argument that passes the given typesets also passes check_arguments, so
// a caller that has tested the arguments against them may call with the check flag off.
// entries: count (word, typeset) cell pairs in spec order (a refinement! word for each
// refinement), as an argument descriptor block holds them. Allocates nothing.
bool typesets_within(int index, const cell* entries, int count);

// The first type name in the specs that names neither a registered datatype nor a named
// typeset (empty when every name resolves; event! counts once it has registered).
std::string_view unknown_spec_type();

// The members of a typeset named in the natives' specs (any-type!, series! ...), as the
// boot environment's named typesets define them; false for an unknown name.
bool named_typeset(std::string_view name, cell* out);
// The name of the i-th named typeset (from 0, in the order they are bound: each one's
// members are earlier ones or datatypes); null past the last.
const char* named_typeset_name(int i);

// --- Natives the runtime calls directly ----------------------------------------------------------

// `natives/switch-find-case`(push flag, block flag): on the current call's value (args_base)
// and cases block (args_base + 1), finds from the cases block's index the first cell of
// the value's datatype that compare finds equal in equality mode (COMPARE_EQUAL); a block! value
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

// A block argument that a native evaluates: a caller that skipped the type tests must still
// hand a block!, so anything else raises script/expect-arg naming the spec position.
cell* block_argument(cell* value, int spec_position);

// --- The routines -------------------------------------------------------------------------------
//
// The natives' own routines, natives::native_<name> (native_if, native_equal_q ...), as the
// table's entries call them once the type tests (when the check flag is set) have passed.
// They are declared with the enum of native indexes (NATIVE_IF ...) in native-index.inc,
// which the build makes from runtime/data/natives-specs.zor. Callers go through entry() or
// call(), which run the tests; the routines assume arguments of the spec's types. By module:
//
// - natives-conditional.cpp: if, unless, either, any, all, switch, case.
// - natives-compare.cpp: the comparison natives, not, type?.
// - natives-eval.cpp: do, reduce, compose, apply. do of a file! or url! calls the boot
//   environment's `do-file`, and do/expand the preprocessor's `expand`: until those are
//   installed they raise internal/not-done.
// - natives-exits.cpp: try, catch and the exits.
// - natives-functions.cpp: func, function, does, has.
// - natives-words.cpp: words and contexts. A path given to get or set is walked by the
//   interpreter's path evaluation, which selects without regard to case: their /case
//   refinement changes nothing there. extend raises internal/not-done: objects cannot be
//   extended, and map! values are extended by the map datatype, which does not exist yet.
// - natives-math.cpp: branches for point2D! and point3D! run once those types' module has
//   registered, the money! branches once the money module serves them; until then they
//   raise internal/not-done.
// - natives-output.cpp: print and prin reduce a block into the print work block, form the
//   value and hand the text to the output hooks with the newline flag.
// - natives-loops.cpp: while, until, loop, repeat, forever, foreach, forall, remove-each.
// - natives-sets.cpp: unique, union, intersect, exclude and difference hand their sets to
//   the block, string or typeset module with the operation code; a block! and a hash!
//   combine, other sets only with their own type (else script/expect-val). bitset! sets
//   and the difference of two dates raise internal/not-done until their modules exist.
// - natives-text.cpp: text and series conversion. A debase result (binary!) and an `as` to
//   a string type other than string! raise internal/not-done until those datatypes'
//   modules exist.
// - natives-transcode.cpp: the lexer's native.
// - natives.cpp: the natives whose subsystem does not exist yet raise internal/not-done.

// `same?` of two values: identity by type (see natives-compare.cpp).
bool is_same(const cell* value, const cell* other);

// Whether the running native was called by the interpreter (its own call frame carries
// the interpreter flag), asked on entry by the natives that stop exits.
bool called_by_interpreter();
// How do, try and parse end with a break, continue, return or exit that their evaluation
// ended with (its target lies below them): called by the interpreter, the exit stays
// pending and its code is answered, and the interpreter passes it on; called from other
// code, the code is answered with nothing left pending, for the caller to act on (it
// stays in last_throw_code). A throw always stays pending. Answers the code.
uint32_t pass_exit(uint32_t code, bool interpreter_caller);
// `natives/finish-trap`(keep): ends a trap (a compiled try or attempt) whose error is the
// last pushed value: with keep its stack field gets the call trail; an error of type and
// id `throw` (a throw that found no catch) is raised again; any other error becomes the
// current call's result.
void finish_trap(bool keep);

// `shift`'s arithmetic: left (/left), unsigned right (/logical) or arithmetic right;
// a negative count shifts by 0, a count of 32 or more shifts every bit out.
int32_t shift_bits(int32_t data, int32_t bits, bool left, bool logical);

// The last-newline flag: the newline flag of the last print (1) or prin (0).
extern uint32_t last_newline_flag;

// The loops' step operations, which compiled loops call as well. They address the
// iteration state below the loop frame: the series copy at args_base - 2, the loop word
// (or block of words) at args_base - 1 and, for remove-each, the step size (an integer!)
// at args_base - 3. The frame's result slot (args_base) holds the last body value; the
// steps leave it and args_top as they found them.

// `natives/loop-count-to-integer`: a float! count at args_base becomes an integer! cell,
// truncated toward zero; a float no 32-bit integer holds raises script/out-of-range.
void loop_count_to_integer();
// `natives/foreach-set-word`: when the series copy is not at its end, sets the word to
// its next item (a cell of a block-like series, else the pick action's answer at 1) and
// advances the copy by one. Answers whether it stepped. A map! raises script/invalid-arg.
bool foreach_set_word();
// `natives/foreach-set-words`(n): the same for the first n words of the word block: a
// block-like series by the block assignment of `set` (every entry a word type, else
// script/invalid-arg; an unset! item raises script/need-value before any word is set),
// string-like series, binary! and vector! word i = pick at i; none! past the tail. A
// map! needs exactly two words (else script/invalid-arg). Advances the copy by n.
bool foreach_set_words(int32_t n);
// `natives/remove-each-step`(n): when the body's value (args_base) is neither none! nor
// a logic! false, moves the copy back by n and removes that many items there (the remove
// action, with /part from the step size cell when n is not 1).
void remove_each_step(int32_t n);
// The number of words a step assigns (the word block's length from its index, 1 for a
// single word), stored as the step size and answered.
int32_t store_word_count();
// Sets the series copy's index from the word's current value, which must still be that
// series (else script/bad-loop-series with the value).
void restore_series_index();
// `natives/forall-at-end`(advance): the word's value, which must still be the series of
// the copy (else script/bad-loop-series with it), first stepped forward in place when
// advance is set; answers whether it is at its end.
bool forall_at_end(bool advance);
// `natives/forall-set-word`: sets the word to the series copy.
void forall_set_word();
// `natives/repeat-bump`(word): increments the integer! that the counter word holds, in
// place (another value raises script/invalid-arg, overflow math/overflow); a word of an
// object is assigned again so that the object's change handler fires.
void repeat_bump(cell* counter_word);

}  // namespace zor::natives
