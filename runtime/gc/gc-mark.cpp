// The marking pass: what each datatype references, the explicit mark stack that traces
// cell series without native recursion, hashtables, and weak record tables.
//
// Each type's references are one function in a table indexed by the header's type byte;
// the function names the node words of the cell by what they hold (a plain series, a
// cell series to trace, a context, a hashtable, a handle-registry index). It is written
// once as a template over a visitor, so the same description serves marking and the
// relocation-only rewrite of cells that the collector must not keep alive (the records of
// weak tables). A type whose cell holds no node has no function. Whether a series is
// traced depends on its buffer (unit 16 is a cell series), never on the value that
// reached it first; a buffer's mark lives in its frame's live map (gc-live-map.cpp), or
// in its header for big and tracked-heap buffers.
//
// Invariant: nothing here allocates from the series frames. Cell series are traced from
// head to tail through raw pointers, which is safe because no buffer moves while marking.
//
// The assertions (builds without NDEBUG) check each node and cell as the mark reaches it:
// a few compares on data the mark reads anyway, so that a corrupt cell or a node that
// outlived its buffer stops the collection where it is found, not later and elsewhere.
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "runtime/binding/context.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc-internal.h"
#include "runtime/gc/gc.h"
#include "runtime/value/handle-registry.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/heap.h"

namespace zor::gc {

namespace {

using memory::series_buffer;

// A growable array of plain values from the tracked heap.
template <typename T> struct growable {
    T* items = nullptr;
    size_t count = 0;
    size_t capacity = 0;

    void push(T value) {
        if (count == capacity) {
            capacity = capacity ? capacity * 2 : 1024;
            items = static_cast<T*>(heap::resize(items, capacity * sizeof(T)));
        }
        items[count++] = value;
    }
    // Gives back memory that one unusual collection (very deep nesting) made the array
    // take; an ordinary peak is kept, so that the next collection does not have to take
    // (and fault in) the same memory again.
    void shrink_to_default() {
        if (capacity > (size_t(1) << 22)) {
            heap::release(items);
            items = nullptr;
            capacity = 0;
        }
        count = 0;
    }
};

// Cells waiting to be traced: the rest of each cell range being walked. The walk is
// depth first (a cell series is entered as soon as it is marked, its parent's rest kept
// here), so buffers are read while their headers are still in the cache and in the
// order they were made, which is mostly their order in memory.
struct cell_range {
    cell* next;
    cell* end;
};
growable<cell_range> mark_stack;
growable<series_buffer*> heap_marked;     // tracked-heap buffers marked in this collection
growable<node_ref> weak_tables;           // record tables reached in this collection
uint64_t marks_set = 0;                   // buffers newly marked, for the weak-table fixpoint
bool checking_nodes = false;              // torture mode: every followed node is checked

// In torture mode every reference is checked before it is followed, so that a node kept
// where the collector cannot see it (and so left stale by an earlier collection) is
// reported with the place that held it, instead of faulting somewhere inside the mark.
[[noreturn]] void report_stale_node(const node_ref* reference, node_ref node) {
    auto place = reinterpret_cast<uintptr_t>(reference);
    const auto* holder = reinterpret_cast<const cell*>(place & ~uintptr_t(15));
    std::fprintf(stderr,
                 "*** Collector: stale node %u at %p (word %d of a cell of type %u, if it lies in a cell); "
                 "a node was held across an allocation where the collector could not see it\n",
                 node, static_cast<const void*>(reference), int((place & 15) / 4), holder->header & HEADER_TYPE_MASK);
    std::abort();
}

void check_node(const node_ref* reference, node_ref node) {
    size_t region = static_cast<uint32_t>(node - memory::FIRST_NODE_REGION) / memory::NODE_REGION_BYTES;
    if (region >= node_map_count || !node_maps[region].frame || node_maps[region].frame->evacuate) {
        report_stale_node(reference, node);
    }
    const memory::node_frame* f = node_maps[region].frame;
    if (node < f->first || node >= f->first + f->count * static_cast<node_ref>(sizeof(void*)) ||
        (node - f->first) % sizeof(void*) != 0) {
        report_stale_node(reference, node);
    }
    // A free slot holds the next free node (below 4 GiB); a used one a buffer's address.
    auto slot = reinterpret_cast<uintptr_t>(memory::slot_of(node));
    if (slot != 0 && (slot <= UINT32_MAX || memory::slot_of(node)->node != node)) report_stale_node(reference, node);
}

// A node reference names a slot of the node space: past the unused first page, at a
// multiple of the slot size.
inline bool is_node_slot(node_ref node) { return node >= memory::FIRST_NODE_REGION && node % sizeof(void*) == 0; }

// The reference in place, rewritten when evacuation moved its node.
inline node_ref follow(node_ref* reference) {
    node_ref node = *reference;
    assert(!node || is_node_slot(node));
    if (node && relocating()) {
        node_ref moved = relocation_of(node);
        if (moved) *reference = node = moved;
    }
    if (node && checking_nodes) check_node(reference, node);
    return node;
}

inline node_ref follow_value(node_ref node) {
    assert(!node || is_node_slot(node));
    if (node && relocating()) {
        node_ref moved = relocation_of(node);
        if (moved) return moved;
    }
    return node;
}

// Sets the mark bit of the node's buffer; answers whether it was clear.
// A buffer in a series frame is marked in its frame's live map; a big or tracked-heap
// buffer (or, defensively, one found in no frame) by the mark bit of its header.
inline bool set_mark(node_ref node) {
    series_buffer* b = memory::buffer_of(node);
    if (!b) return false;
    // A live node's slot holds its buffer's address (a free one the next free node, below
    // 4 GiB), and the buffer, in use, names the node back.
    assert(reinterpret_cast<uintptr_t>(b) > UINT32_MAX && b->node == node && (b->flags & memory::FLAG_IN_USE));
    int in_frame = (b->flags & (memory::FLAG_BIG | memory::FLAG_HEAP)) ? -1 : mark_in_frame(b);
    if (in_frame == 0) return false;
    if (in_frame < 0) {
        if (b->flags & memory::FLAG_MARK) return false;
        b->flags |= memory::FLAG_MARK;
        if (!(b->flags & memory::FLAG_BIG)) heap_marked.push(b);  // the big-series sweep clears the others
    }
    note_live_node(node);
    ++marks_set;
    return true;
}

inline bool buffer_marked(const series_buffer* b) {
    if (b->flags & memory::FLAG_MARK) return true;
    return !(b->flags & (memory::FLAG_BIG | memory::FLAG_HEAP)) && marked_in_frame(b);
}

// Whether a buffer is traced follows from the buffer, never from the value that reached
// it: every series whose unit is a cell is a cell series and is traced, however it was
// first reached (a block held for a moment by a binary! cell must still have its cells
// traced, or they would be missed once the buffer counts as marked); a series of any
// other unit is never read as cells.
inline void schedule_trace(series_buffer* b) {
    assert(b->data() <= b->head && b->head <= b->tail && b->tail <= b->data_end());
    if (b->unit() == sizeof(cell) && b->tail > b->head) mark_stack.push({b->head_cell(), b->tail_cell()});
}

// Marks the series and, when it was not marked before, traces it if it holds cells.
inline bool reach(node_ref node) {
    if (!set_mark(node)) return false;
    schedule_trace(memory::buffer_of(node));
    return true;
}

void mark_table_node(node_ref* reference);
void mark_handle_index(uint32_t index);

// --- Visitors ----------------------------------------------------------------------------

// Marking: keeps what the word names alive (and rewrites it when its node moved). The
// kinds differ in what the word is documented to hold; a cell series is traced whichever
// kind reaches it first.
struct marking {
    static void series(node_ref* reference) {
        if (node_ref node = follow(reference)) reach(node);
    }
    static void cells(node_ref* reference) { series(reference); }
    static void context(node_ref* reference) { series(reference); }
    static void table(node_ref* reference) { mark_table_node(reference); }
    static void handle(uint32_t index) { mark_handle_index(index); }
};

// Relocation only: rewrites moved nodes, keeps nothing alive.
struct relocating_only {
    static void series(node_ref* reference) { follow(reference); }
    static void cells(node_ref* reference) { follow(reference); }
    static void context(node_ref* reference) { follow(reference); }
    static void table(node_ref* reference) { follow(reference); }
    static void handle(uint32_t) {}
};

// --- What each datatype references ---------------------------------------------------------

using reference_function = void (*)(cell*);

// block!, paren!, the four path types: the cell series (word 2).
template <typename V> void block_references(cell* c) { V::cells(&c->w2); }

// hash! and map!: the cell series (word 2) and the hashtable record (word 3).
template <typename V> void indexed_block_references(cell* c) {
    V::cells(&c->w2);
    V::table(&c->w3);
}

// string!, file!, url!, tag!, email!, ref!: the series (word 2) and the node of the
// encoding cache (word 3).
template <typename V> void any_string_references(cell* c) {
    V::series(&c->w2);
    V::series(&c->w3);
}

// binary!, bitset!, vector! and the comparison routines' internal string view: the
// series (word 2). vector!'s word 3 is its element type id, binary!'s is unused.
template <typename V> void series_references(cell* c) { V::series(&c->w2); }

// symbol!: the string form (word 2, 0 until made) and the UTF-8 name (word 3).
template <typename V> void symbol_references(cell* c) {
    V::series(&c->w2);
    V::series(&c->w3);
}

// context!: the key table (word 1) and, unless the values live on the argument stack
// (where word 2 is a slot index), the value block.
template <typename V> void context_references(cell* c) {
    V::table(&c->w1);
    if (!(c->header & context::FLAG_ON_STACK)) V::cells(&c->w2);
}

// The word types and issue!: the context they are bound to (word 1, 0 when unbound).
// A context is traced as the cell series it is, which also covers the words naming
// `self`.
template <typename V> void word_references(cell* c) { V::context(&c->w1); }

// native!, action!: the spec block (word 2) and the extras series (word 3); word 1 is a
// table index.
template <typename V> void native_references(cell* c) {
    V::cells(&c->w2);
    V::cells(&c->w3);
}

// op!: as its source; made from a function! or routine!, word 1 is that context.
template <typename V> void op_references(cell* c) {
    uint32_t source = (c->header >> 16) & 0xFF;
    if (source == TYPE_FUNCTION || source == TYPE_ROUTINE) V::context(&c->w1);
    V::cells(&c->w2);
    V::cells(&c->w3);
}

// function!, routine!: the context (word 1), spec (word 2) and extras (word 3).
template <typename V> void function_references(cell* c) {
    V::context(&c->w1);
    V::cells(&c->w2);
    V::cells(&c->w3);
}

// object!, error!, port!: the context (word 1) and the change node (word 3). The change
// node's two cells name the handler spec blocks their local counts were taken for (word
// 3 of each); those stay alive with it, so a cached spec node can never be reused by
// another series and mistaken for the cached one.
template <typename V> void object_references(cell* c) {
    V::context(&c->w1);
    V::series(&c->w3);
    if constexpr (std::is_same_v<V, marking>) {
        if (c->w3) {
            series_buffer* b = memory::buffer_of(c->w3);
            for (cell* slot = b->head_cell(); slot < b->tail_cell(); ++slot) V::cells(&slot->w3);
        }
    }
}

// handle!: its handle-registry record (word 3) when not negative.
template <typename V> void handle_references(cell* c) {
    if (static_cast<int32_t>(c->w3) >= 0) V::handle(c->w3);
}

// image!: word 2 is the handle-registry index of its image record.
template <typename V> void image_references(cell* c) { V::handle(c->w2); }

// event!: the field block (word 2) of a script-made event (word 3 bit 0x10000).
inline constexpr uint32_t EVENT_SCRIPT_MADE = 0x10000;
template <typename V> void event_references(cell* c) {
    if (c->w3 & EVENT_SCRIPT_MADE) V::cells(&c->w2);
}

// The internal string view of the comparison and hashing routines.
inline constexpr int TYPE_STRING_VIEW = 56;

template <typename V> struct reference_table {
    reference_function by_type[256] = {};

    constexpr reference_table() {
        for (int t : {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}) {
            by_type[t] = block_references<V>;
        }
        by_type[TYPE_HASH] = indexed_block_references<V>;
        by_type[TYPE_MAP] = indexed_block_references<V>;
        for (int t : {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF}) {
            by_type[t] = any_string_references<V>;
        }
        for (int t : {int(TYPE_BINARY), int(TYPE_BITSET), int(TYPE_VECTOR), TYPE_STRING_VIEW}) {
            by_type[t] = series_references<V>;
        }
        by_type[TYPE_SYMBOL] = symbol_references<V>;
        by_type[TYPE_CONTEXT] = context_references<V>;
        for (int t : {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE}) {
            by_type[t] = word_references<V>;
        }
        by_type[TYPE_NATIVE] = native_references<V>;
        by_type[TYPE_ACTION] = native_references<V>;
        by_type[TYPE_OP] = op_references<V>;
        by_type[TYPE_FUNCTION] = function_references<V>;
        by_type[TYPE_ROUTINE] = function_references<V>;
        for (int t : {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}) by_type[t] = object_references<V>;
        by_type[TYPE_HANDLE] = handle_references<V>;
        by_type[TYPE_IMAGE] = image_references<V>;
        by_type[TYPE_EVENT] = event_references<V>;
        // Everything else (datatype!, unset!, none!, logic!, char!, integer!, float!,
        // triple!, typeset!, pair!, percent!, tuple!, series!, time!, date!, money!,
        // point2D!, point3D!, and a removed map! pair's type 0) holds no node.
    }
};

constexpr reference_table<marking> marking_table;
constexpr reference_table<relocating_only> relocating_table;

void relocate_cell_range(cell* first, cell* end) {
    for (cell* c = first; c < end; ++c) {
        if (reference_function f = relocating_table.by_type[c->header & HEADER_TYPE_MASK]) f(c);
    }
}

// --- Hashtables ------------------------------------------------------------------------------

// What the hashtable's own marking hook is lent. The table's node words have been
// rewritten already (relocate_table_words), so the nodes it passes are current; they are
// followed anyway for the hooks of tables reached some other way. mark_series is the one
// marking that never traces: it keeps the record series of weak tables without keeping
// what their records name.
void hook_mark_series(node_ref node) {
    if ((node = follow_value(node))) set_mark(node);
}
void hook_mark_cells(node_ref node) {
    if ((node = follow_value(node))) reach(node);
}
bool hook_is_marked(node_ref node) {
    node = follow_value(node);
    if (!node) return false;
    series_buffer* b = memory::buffer_of(node);
    return b && buffer_marked(b);
}
const hashtable::gc_marker table_marker{hook_mark_series, hook_mark_cells, hook_is_marked};

inline void relocate_word(int32_t* word) {
    node_ref node = static_cast<node_ref>(*word);
    node_ref moved = follow_value(node);
    if (moved != node) *word = static_cast<int32_t>(moved);
}

// The record series names its arrays by node in plain words, and record tables keep
// nodes in their key cells and values in their record cells: none of these are traced
// as cells, so evacuation's moves are rewritten here, once, when the table is marked.
void relocate_table_words(node_ref table) {
    auto* r = reinterpret_cast<hashtable::table_record*>(memory::buffer_of(table)->head);
    relocate_word(&r->flags);
    relocate_word(&r->keys);
    relocate_word(&r->values);
    if (r->kind == hashtable::KIND_HASH) relocate_word(&r->width);
    if (r->kind == hashtable::KIND_HASH || r->kind == hashtable::KIND_MAP) relocate_word(&r->duplicates);
    if (r->kind < hashtable::KIND_RECORDS || !r->values || r->width < int32_t(sizeof(cell))) return;
    series_buffer* records = memory::buffer_of(static_cast<node_ref>(r->values));
    int64_t total = records->tail - records->head;
    for (int64_t offset = 0; offset + r->width <= total; offset += r->width) {
        cell* key_cell = reinterpret_cast<cell*>(records->head + offset);
        if (key_cell->header != TYPE_UNSET) continue;  // deleted record
        key_cell->w1 = follow_value(key_cell->w1);
        relocate_cell_range(key_cell + 1, key_cell + r->width / int64_t(sizeof(cell)));
    }
}

void mark_table_node(node_ref* reference) {
    node_ref table = follow(reference);
    if (!table) return;
    set_mark(table);
    if (!first_table_visit(table)) return;
    if (relocating()) relocate_table_words(table);
    auto* r = reinterpret_cast<hashtable::table_record*>(memory::buffer_of(table)->head);
    if (r->kind >= hashtable::KIND_RECORDS) weak_tables.push(table);
    hashtable::gc_mark(table, table_marker);
}

void mark_handle_index(uint32_t index) { handle_registry::mark_handle(static_cast<int32_t>(index), nullptr); }

// Marks the value cells of every record whose key (and, for ownership records, whose
// owner object) is alive.
void keep_live_records(node_ref table) {
    auto* r = reinterpret_cast<hashtable::table_record*>(memory::buffer_of(table)->head);
    if (!r->values || r->width < int32_t(sizeof(cell))) return;
    series_buffer* records = memory::buffer_of(static_cast<node_ref>(r->values));
    int64_t cells = r->width / int64_t(sizeof(cell));
    int64_t total = records->tail - records->head;
    for (int64_t offset = 0; offset + r->width <= total; offset += r->width) {
        cell* key_cell = reinterpret_cast<cell*>(records->head + offset);
        if (key_cell->header != TYPE_UNSET || !hook_is_marked(key_cell->w1)) continue;
        if (r->kind == hashtable::KIND_OWNERSHIP && cells > 2) {
            const cell* owner = key_cell + 2;
            if (owner->type() == TYPE_OBJECT && owner->w1 && !hook_is_marked(owner->w1)) continue;
        }
        mark_stack.push({key_cell + 1, key_cell + cells});
    }
}

}  // namespace

// --- The pass --------------------------------------------------------------------------------

void begin_marking(bool check_nodes) {
    checking_nodes = check_nodes;
    mark_stack.count = 0;
    heap_marked.count = 0;
    weak_tables.count = 0;
}

void drain_mark_stack() {
    while (mark_stack.count) {
        cell_range& top = mark_stack.items[mark_stack.count - 1];
        cell* c = top.next;
        cell* end = top.end;
        reference_function f = nullptr;
        for (; c < end; ++c) {
            uint32_t type = c->header & HEADER_TYPE_MASK;
            assert(type < TYPE_TABLE_SIZE);  // every cell of a traced series has a known type
            if ((f = marking_table.by_type[type])) break;
        }
        if (c == end) {
            --mark_stack.count;
            continue;
        }
        top.next = c + 1;  // before the call, which may push (and move the stack)
        f(c);
    }
}

void settle_weak_tables() {
    // Values kept by a live record may make further keys live: repeat until a round
    // marks nothing new.
    for (;;) {
        uint64_t before = marks_set;
        for (size_t i = 0; i < weak_tables.count; ++i) keep_live_records(weak_tables.items[i]);
        drain_mark_stack();
        if (marks_set == before) break;
    }
    for (size_t i = 0; i < weak_tables.count; ++i) hashtable::sweep_records(weak_tables.items[i], table_marker);
}

void clear_heap_marks() {
    for (size_t i = 0; i < heap_marked.count; ++i) heap_marked.items[i]->flags &= ~memory::FLAG_MARK;
    heap_marked.count = 0;
}

void end_marking() {
    mark_stack.shrink_to_default();
    heap_marked.shrink_to_default();
    weak_tables.shrink_to_default();
}

// --- Public marking --------------------------------------------------------------------------

bool mark_series(node_ref* reference) {
    node_ref node = follow(reference);
    return node && reach(node);
}

bool mark_block(node_ref* reference) { return mark_series(reference); }

bool mark_context(node_ref* reference) { return mark_block(reference); }

void mark_cells(cell* first, cell* end) {
    if (first >= end) return;
    assert(reinterpret_cast<uintptr_t>(first) % alignof(cell) == 0);
    // Traced at once: the range may be a callback's own local cells.
    mark_stack.push({first, end});
    drain_mark_stack();
}

void mark_table(node_ref* reference) { mark_table_node(reference); }

bool is_marked(node_ref node) { return hook_is_marked(node); }

node_ref relocated(node_ref node) { return follow_value(node); }

}  // namespace zor::gc
