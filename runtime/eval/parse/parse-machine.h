// The parse engine's registers, its stack records and the routines its modules share
// (parse-engine.cpp runs the states; parse-match.cpp matches, searches and counts;
// parse-effects.cpp changes words, targets and the input; parse-trace.cpp calls the
// /trace callback).
//
// Rule stack records, each a few cells of the rule-stack block:
// - a block frame, pushed when a sub-rule block is entered: the enclosing rule block (a
//   block! cell at its head index) and a triple! {cursor in it, input index at entry,
//   input length at entry};
// - an operation frame, pushed when a keyword operation or a repetition begins: a
//   triple! {minimum, maximum (-1 no limit), counter from 1}, a triple! {rule cursor
//   before the operation's rule, input index, input length}, and a pair! {kind, extra};
//   `into` keeps the enclosing input series in one more cell below them, and its part
//   limit in the first triple's minimum.
// The top cell tells them apart: a pair! ends an operation frame, a triple! a block frame.
//
// Invariant: every position is an index (into the rules block, the input, the stacks);
// no pointer into a buffer outlives a step that can allocate, evaluate or call back.
#pragma once

#include <cstdint>

#include "runtime/eval/parse/parse.h"
#include "runtime/memory/memory.h"
#include "runtime/value/cell.h"

namespace zor::parse {

enum operation : int32_t {
    OP_REPEAT = -1,
    OP_TO = -2,
    OP_THRU = -3,
    OP_COPY = -4,
    OP_SET = -5,
    OP_NOT = -6,
    OP_INTO = -7,  // only while pending: the frame records the item's datatype instead
    OP_REMOVE = -9,
    OP_WHILE = -11,
    OP_COLLECT = -12,
    OP_KEEP = -13,
    OP_KEEP_PAREN = -14,
    OP_AHEAD = -16,
    OP_INSERT = -17,
    OP_CHANGE = -18,
    OP_CASE = -19,
};

// collect's targets (the frame's extra value).
enum collect_target : int32_t { COLLECT_PLAIN = 0, COLLECT_SET = 1, COLLECT_INTO = 2, COLLECT_AFTER = 3 };

enum input_kind : uint8_t { INPUT_TEXT, INPUT_BYTES, INPUT_CELLS };

struct machine {
    cell* input = nullptr;   // rooted: the current input series (its own index unused)
    cell* rules = nullptr;   // rooted: the current rule block (node and head index)
    cell* answer = nullptr;  // rooted: the block of a top-level collect, else none!
    const cell* callback = nullptr;
    input_kind kind = INPUT_TEXT;
    int64_t cursor = 0;      // the current rule item, an index into the rule block
    int64_t index = 0;       // the current input position
    int64_t part = -1;       // the /part end (absolute index), -1 for none
    bool match = true;
    bool case_sensitive = false;
    int32_t collect_depth = 0;
    // The operation a keyword has announced, pushed by the push-rule state.
    int32_t pending_kind = 0;
    int32_t pending_min = 0;
    int32_t pending_max = 0;
    int32_t pending_extra = 0;
    int64_t stack_base = 0;    // rule stack cells below this parse's outermost block frame
    int64_t collect_base = 0;  // collect stack cells below this parse's
    bool stopped = false;      // the tracer answered false

    // The input's buffer and its end (the tail, or the /part limit when that is nearer).
    memory::series_buffer* input_buffer() const { return memory::buffer_of(input->w2); }
    int64_t tail() const { return input_buffer()->length(); }
    int64_t end() const {
        const int64_t t = tail();
        return part >= 0 && part < t ? part : t;
    }
    memory::series_buffer* rule_buffer() const { return memory::buffer_of(rules->w2); }
    int64_t rule_end() const { return rule_buffer()->length(); }
    // The rule item at an index (valid until the next allocation); null past the end.
    const cell* rule_at(int64_t i) const {
        memory::series_buffer* b = rule_buffer();
        return i >= 0 && i < b->length() ? b->head_cell() + i : nullptr;
    }
    void set_input(const cell* series);
};

// --- The stacks (parse-engine.cpp) ------------------------------------------------------------

// The rule stack's buffer (read afresh after anything that allocates).
memory::series_buffer* rule_stack();
// The collect stack's block cell (rooted by the engine's mark callback).
cell* collect_stack_cell();
// The rule stack as a block! cell at the head of this parse's records (for the tracer).
cell rule_stack_value(const machine& m);

// --- Matching (parse-match.cpp) ------------------------------------------------------------------

// The kind of input a series type gives (binary!, any-string, else cells).
input_kind kind_of_input(type_id type);
// Matches one rule value at the input position: answers the number of units matched
// (0 or more), or -1 for no match. A datatype or typeset against text raises
// parse-unsupported.
int64_t match_value(machine& m, const cell* value);
// The units from the position on that match the value (a char! or bitset!), up to max
// (-1 no limit), for a repetition over text or bytes.
int64_t count_run(machine& m, const cell* value, int64_t max);
// Whether count_run serves the value over this input.
bool counts_at_once(const machine& m, const cell* value);
// to and thru with a simple value: the position where the value first matches from the
// input position (within the end), and its matched length; false when absent. A value
// that cannot be searched for in the input raises parse-rule.
bool search(machine& m, const cell* value, int64_t* found, int64_t* length);
// Whether a value can be searched for directly (else to and thru run it as a sub-rule).
bool is_simple_search(const cell* value);
// The input item at a position as a value: a byte as integer!, a character as char!, a
// cell as itself.
cell item_at(const machine& m, int64_t position);

// --- Effects (parse-effects.cpp) -----------------------------------------------------------------

// Assigns a copy of a rooted value to a word (the word copied first: it may lie in the rules).
void assign(const cell* word, const cell* value);
// The value of a word in a rule; unset raises script/no-value.
cell word_value(const cell* word);
// Makes out (rooted) a copy of the input from start to end (ordered), of the input's type.
void copy_input(machine& m, int64_t start, int64_t end, cell* out);
// Appends a value (a rooted cell) to the innermost collect block.
void keep_value(machine& m, const cell* value, bool pick);
// keep of the input from start to the position.
void keep_input(machine& m, int64_t start, bool pick);
// Opens a collect level: a new block on the collect stack.
void open_collect(machine& m);
// Closes the innermost collect level on success or failure, delivering its block to its
// target (the word at the frame's cursor for set, into and after).
void close_collect(machine& m, bool success, int32_t target, int64_t word_cursor);
// Checks a collect into/after target word: its value must be a series.
void check_collect_target(const cell* word);
// Removes the input from start to the position (either order); the position goes back.
void remove_input(machine& m, int64_t start);
// Evaluates the value item of insert and change (a paren runs, a word gives its value).
// The value is left in out (rooted).
void modification_value(machine& m, const cell* item, cell* out);
// insert: puts the value at the position and moves past it.
void insert_input(machine& m, const cell* value, bool only);
// change: replaces the input from start to the position with the value; the position
// moves past the new content.
void change_input(machine& m, int64_t start, const cell* value, bool only);
// Evaluates a paren of the rules as an action: answers the pending exit code (0 when
// none), leaving its value in out (rooted) when out is given.
[[nodiscard]] uint32_t run_paren(machine& m, const cell* paren, cell* out);

// --- Tracing (parse-trace.cpp) -------------------------------------------------------------------

enum trace_event : uint8_t { TRACE_PUSH, TRACE_POP, TRACE_FETCH, TRACE_MATCH, TRACE_ITERATE, TRACE_PAREN, TRACE_END };
// Calls the callback with the event; false when it asks the parse to stop.
bool fire(machine& m, trace_event event);

}  // namespace zor::parse
