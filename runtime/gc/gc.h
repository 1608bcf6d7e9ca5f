// The garbage collector: a stop-the-world, precise mark-and-compact collector over the
// memory manager's nodes, series frames and big series.
//
// The one rule the collector lives by: no raw pointer into a series buffer and no bare
// node_ref held only by a C++ local survives anything that can allocate. Every
// allocation may collect; a collection moves buffers (compaction slides them down within
// and across series frames) and may move nodes (evacuation of sparsely used node frames,
// after which every reachable reference is rewritten while it is marked). What is
// reachable is exactly what the roots reach:
//   - the runtime root cell (block::root) and everything in it, and every fixed
//     (tracked-heap) series with what it holds;
//   - the argument stack from its first cell to its top, and the call frames;
//   - the global context, the symbol table's hashtable, the type words;
//   - the slot table; every registered mark callback; every live root_guard.
// Build new values in argument-stack slots whose header stays unset! until complete, and
// read buffers again through their node after each allocation. A buffer whose address
// must live across a callback is pinned (memory::FLAG_PINNED): compaction leaves it in
// place, though it still has to be reachable.
//
// Marking uses an explicit mark stack, never native recursion, so nesting depth is
// bounded only by memory. Each datatype's references are described by one function in a
// table indexed by type id (runtime/gc/gc-mark.cpp).
//
// In torture mode (environment ZOR_GC_TORTURE=1) every allocation collects, compacts and
// evacuates node frames (the newest, and in all but large heaps all of them), freed buffer
// space is filled with 0xDB, and every node that marking follows is checked, so a stale
// pointer or node fails at once (a stale node is reported with where it was found)
// instead of much later.
//
// Modules with roots of their own (the interpreter's current code position, lexer
// states, a codec's table of emitted series) register a mark callback that marks them
// with the functions below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::gc {

// The byte that fills freed buffer space in torture mode.
inline constexpr uint8_t POISON_BYTE = 0xDB;

// The GC-enabled flag: allocation collects only while it is 1 (0 during start-up).
extern uint32_t enabled;
// The node-compaction flag: while 1, a collection first evacuates sparse node frames.
// Code that must not see nodes move across its allocations (a table rebuild keyed by
// node) clears it for the duration.
extern uint32_t node_compaction;

// Start-up (the last step of runtime init): the counters.
void init();

// One collection now, whatever the flag says. Does nothing when called from inside a
// collection (a mark callback or a release callback must not allocate).
void collect();
// The allocator's trigger, called when no series frame has comfortable room and before
// every big series: a collection when the flag allows it and enough bytes were carved
// since the last collection (a multiple of what it left alive, and at least a fixed
// floor); otherwise the allocator takes a new frame. So the work of tracing a large live
// heap is spread over proportionally much new allocation, instead of repeated for each
// frame that fills.
void trigger();
// The trigger before a big series of the given bytes. Big buffers are paced at a factor
// of one: a collection comes once the big bytes carved since the last one would pass
// what survived it (and the floor), so dead gigabyte buffers never pile up beyond about
// the live data, whatever the frames' pacing allows.
void trigger_big(int64_t bytes);
// Called by every allocation: collects in torture mode.
void torture_point();
bool torture_mode();
// Switches torture mode on or off for the rest of the process (tests and benchmarks).
void set_torture_mode(bool on);

// The pacing of the trigger: after a collection that left `survived` bytes in the series
// frames and big series, allowance_after(survived) more may be carved before the trigger
// collects again. A multiple of what survived spreads the cost of tracing and compacting
// over proportionally much allocation; the floor keeps small heaps from being collected
// for every frame that fills. Compaction keeps emptied frames for the same allowance.
inline constexpr int64_t GROWTH_FACTOR = 5;
inline constexpr int64_t MINIMUM_ALLOWANCE = int64_t(16) << 20;
inline int64_t allowance_after(int64_t survived) {
    return survived * GROWTH_FACTOR > MINIMUM_ALLOWANCE ? survived * GROWTH_FACTOR : MINIMUM_ALLOWANCE;
}

// Collections completed, and collections that evacuated at least one node frame.
uint32_t cycle_count();
uint32_t evacuation_count();
// Time spent in collections since start-up, in nanoseconds (for benchmarks).
uint64_t collection_time_ns();
bool in_collection_q();

// --- Marking: for mark callbacks and the marking hooks of other modules -------------------
//
// Valid only while a collection marks. Each takes the address of the reference so that a
// node moved by evacuation can be rewritten in place; a zero reference is ignored.

// Marks the buffer of the series and, when it was not marked before and holds cells (unit
// 16), everything its cells reference; answers whether it was not marked before.
bool mark_series(node_ref* reference);
// The same, for a reference documented to name a cell series.
bool mark_block(node_ref* reference);
// Marks a context: its two-cell series, its key table, its values (unless they live on
// the argument stack) and what its self cell references.
bool mark_context(node_ref* reference);
// Marks what each cell of the range references (the range itself is not a series), and
// everything reachable from there, before it returns.
void mark_cells(cell* first, cell* end);
// Marks a hashtable (the node of its record series) with everything it owns. Record
// tables (kinds 3 and 4) are weak: their records survive only while their key series is
// reachable through other paths.
void mark_table(node_ref* reference);
// Whether the series' buffer is marked in this collection (after relocation).
bool is_marked(node_ref node);
// The node that replaced the given one in this collection's evacuation, else the same.
node_ref relocated(node_ref node);

// Mark callbacks run in every collection after the built-in roots, in registration
// order. Adding reuses the first hole that a removal left, or grows the list.
using mark_callback = void (*)();
void add_mark_callback(mark_callback callback);
// Removes the first matching entry; nothing when it is not registered.
void remove_mark_callback(mark_callback callback);
int mark_callback_count();
// The registered callbacks in list order, holes skipped (for tests that check what a
// piece of code left registered).
mark_callback mark_callback_at(int i);

// Keeps cells that live outside every root (a C++ local, a module's static cell) marked
// and relocated while the guard lives. Guards may end in any order.
class root_guard {
public:
    explicit root_guard(cell* first, size_t count = 1);
    ~root_guard();
    root_guard(const root_guard&) = delete;
    root_guard& operator=(const root_guard&) = delete;

private:
    friend void mark_root_guards();
    cell* first_;
    size_t count_;
    root_guard* previous_;
    root_guard* next_;
};

}  // namespace zor::gc
