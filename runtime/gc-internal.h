// What the collector's own files share: the marking pass, node-frame evacuation with its
// relocation map, the live maps, series-frame compaction and the pacing of the trigger.
// Nothing outside runtime/gc*.cpp and the memory manager's sweeps includes this.
//
// Invariant: everything here runs inside a collection, where nothing allocates from the
// series frames; buffers stay where they are until compaction, and nodes stay where
// evacuation put them until the node frames are swept.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zor::gc {

// --- Marking (gc-mark.cpp) --------------------------------------------------------------

// Resets the mark stack and the per-collection lists; with check_nodes, every node that
// marking follows is checked first and a stale one ends the process with a report.
void begin_marking(bool check_nodes);
// Traces everything the mark stack still holds.
void drain_mark_stack();
// Keeps the records of weak tables whose keys are marked (repeating until nothing new is
// marked), then deletes the others.
void settle_weak_tables();
// Clears the marks of tracked-heap buffers, which compaction does not visit.
void clear_heap_marks();
// Releases the mark stack's memory when it grew large in this collection.
void end_marking();
// The marking of the root guards (gc.cpp).
void mark_root_guards();

// --- Node-frame evacuation (gc-evacuate.cpp) ----------------------------------------------

// Moves the used nodes of sparse node frames into other frames and records each move in
// the relocation map; frames emptied so carry the evacuation flag until they are swept.
// Answers whether a frame was evacuated.
bool evacuate_node_frames(bool torture);
// Whether a relocation map is active in this collection.
extern bool relocation_active;
inline bool relocating() { return relocation_active; }
// The replacement of a node, or 0 when it did not move.
node_ref relocation_of(node_ref node);
void free_relocation_map();

// --- Pacing ---------------------------------------------------------------------------------

// How many bytes may be carved after a collection that left `survived` bytes alive before
// the trigger collects again: a multiple of what survived, so that the cost of tracing
// and compacting is spread over proportionally much allocation, and never less than a
// floor, so that small heaps are not collected for every frame that fills.
inline constexpr int64_t GROWTH_FACTOR = 2;
inline constexpr int64_t MINIMUM_ALLOWANCE = 4 * memory::FIRST_FRAME_SIZE;
inline int64_t allowance_after(int64_t survived) {
    return survived * GROWTH_FACTOR > MINIMUM_ALLOWANCE ? survived * GROWTH_FACTOR : MINIMUM_ALLOWANCE;
}

// --- Live maps (gc-live-map.cpp) ----------------------------------------------------------

// One bit per 16 bytes of a series frame, set at the start of each marked buffer.
struct series_frame_map {
    std::byte* start;
    std::byte* end;
    uint64_t* bits;
};
// One bit per node slot of a node frame, set for each marked series' node; indexed by
// the frame's region in the node space.
struct node_frame_map {
    memory::node_frame* frame;
    uint64_t* bits;
};
extern series_frame_map* series_maps;  // in series-frame list (address) order
extern size_t series_map_count;
extern node_frame_map* node_maps;
extern size_t node_map_count;

// Clears and sizes the maps for the frames there are now.
void build_live_maps();
void note_live_in_frame(const memory::series_buffer* buffer);
// Records a newly marked series: its node, and its buffer when it lies in a frame.
inline void note_live(node_ref node, const memory::series_buffer* buffer) {
    size_t region = static_cast<uint32_t>(node - memory::FIRST_NODE_REGION) / memory::NODE_REGION_BYTES;
    if (region < node_map_count) {
        const node_frame_map& map = node_maps[region];
        if (map.bits) {
            uint32_t slot = (node - map.frame->first) / static_cast<uint32_t>(sizeof(void*));
            map.bits[slot >> 6] |= uint64_t(1) << (slot & 63);
        }
    }
    if (!(buffer->flags & (memory::FLAG_BIG | memory::FLAG_HEAP))) note_live_in_frame(buffer);
}
// The first marked buffer of series frame map_index at or after `from`, before `end`.
std::byte* next_live_buffer(size_t map_index, std::byte* from, std::byte* end);
// Every node frame's free list becomes its unmarked slots (in ascending order) and its
// used count the marked ones; evacuated frames are left for the sweep to release.
void rebuild_node_free_lists();

// --- Compaction (gc-compact.cpp) -------------------------------------------------------------

// Slides marked buffers down within and across series frames and releases frames left
// empty (keeping what the next collection period will need). Clears the marks it passes.
void compact_series_frames(bool poison);

}  // namespace zor::gc
