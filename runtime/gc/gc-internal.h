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

#include "runtime/value/cell.h"
#include "runtime/memory/memory.h"

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
// Clears the header marks of the tracked-heap buffers marked in this collection.
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

// --- Live maps (gc-live-map.cpp) ----------------------------------------------------------

// The marks of the buffers in series frames: one bit per 16 bytes set at the start of
// each marked buffer, and another set just past its end, so that compaction knows where
// live buffers are, and how long, without reading them. (Big and tracked-heap buffers,
// which are not in frames, carry the mark in their header instead.)
struct series_frame_map {
    std::byte* start;
    std::byte* end;
    uint64_t* starts;
    uint64_t* ends;
};
// One bit per node slot of a node frame, set for each marked series' node; indexed by
// the frame's region in the node space.
struct node_frame_map {
    memory::node_frame* frame;
    uint64_t* bits;
    uint64_t* tables;  // set for each hashtable whose contents were marked
};
extern series_frame_map* series_maps;  // in series-frame list (address) order
extern size_t series_map_count;
extern node_frame_map* node_maps;
extern size_t node_map_count;

// Clears and sizes the maps for the frames there are now.
void build_live_maps();
// Marks a buffer that lies in a series frame: 1 when newly marked, 0 when it was marked
// already, -1 when it lies in no frame.
int mark_in_frame(const memory::series_buffer* buffer);
// Whether a buffer in a series frame is marked (false when it lies in no frame).
bool marked_in_frame(const memory::series_buffer* buffer);
// Records a marked series' node.
inline void note_live_node(node_ref node) {
    size_t region = static_cast<uint32_t>(node - memory::FIRST_NODE_REGION) / memory::NODE_REGION_BYTES;
    if (region >= node_map_count) return;
    const node_frame_map& map = node_maps[region];
    if (!map.bits) return;
    uint32_t slot = (node - map.frame->first) / static_cast<uint32_t>(sizeof(void*));
    map.bits[slot >> 6] |= uint64_t(1) << (slot & 63);
}
// Whether this is the first time in this collection that the hashtable named by the node
// has its contents marked (its record series may have been marked already as a plain
// series, by something that held it for a moment).
inline bool first_table_visit(node_ref table) {
    size_t region = static_cast<uint32_t>(table - memory::FIRST_NODE_REGION) / memory::NODE_REGION_BYTES;
    if (region >= node_map_count || !node_maps[region].tables) return false;
    uint32_t slot = (table - node_maps[region].frame->first) / static_cast<uint32_t>(sizeof(void*));
    uint64_t bit = uint64_t(1) << (slot & 63);
    uint64_t& word = node_maps[region].tables[slot >> 6];
    if (word & bit) return false;
    word |= bit;
    return true;
}
// The start of the first marked buffer of series frame map_index at or after `from` and
// before `end`, or null; with its end in *buffer_end.
std::byte* next_live_buffer(size_t map_index, std::byte* from, std::byte* end, std::byte** buffer_end);
// The end of the run of contiguous marked buffers that begins with the one at `at`.
std::byte* end_of_live_run(size_t map_index, std::byte* at, std::byte* end);
// Every node frame's free list becomes its unmarked slots (in ascending order) and its
// used count the marked ones; evacuated frames are left for the sweep to release.
void rebuild_node_free_lists();

// --- Compaction (gc-compact.cpp) -------------------------------------------------------------

// Slides marked buffers down within and across series frames and releases frames left
// empty (keeping what the next collection period will need).
void compact_series_frames(bool poison);

}  // namespace zor::gc
