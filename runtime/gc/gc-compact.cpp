// Series-frame compaction.
//
// The frames are visited in address order; in each, the marked buffers are found through
// the live map, which also holds their marks (dead buffers are never read, nor are live
// ones that stay where they are). A marked buffer slides down over the space of the dead
// ones before it, or into the free tail of the frame before while that frame keeps more
// than 0xCCCC bytes of room; contiguous buffers move as one run with one overlapping
// move. Each moved buffer's node, head and tail follow it. A
// pinned buffer stays where it is, and the buffers after it slide down to it. A frame
// left empty is released unless it is the last one, or unless it is needed to give the
// next collection period its room (see allowance_after).
#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/gc/gc-internal.h"
#include "runtime/gc/gc.h"

namespace zor::gc {

namespace {

using memory::series_buffer;
using memory::series_frame;

inline std::byte* frame_start(series_frame* f) { return reinterpret_cast<std::byte*>(f + 1); }
inline int64_t footprint(const series_buffer* b) { return int64_t(sizeof(series_buffer)) + b->size; }
inline int64_t room_of(const series_frame* f) { return f->end - f->fill; }

// Marked buffers that move together: bytes at `from` go to `to` in one overlapping move.
struct pending_run {
    std::byte* from = nullptr;
    std::byte* to = nullptr;
    int64_t bytes = 0;
};

void flush_run(pending_run& run) {
    if (run.bytes && run.from != run.to) {
        std::memmove(run.to, run.from, static_cast<size_t>(run.bytes));
        ptrdiff_t delta = run.to - run.from;
        for (std::byte* p = run.to; p < run.to + run.bytes;) {
            auto* b = reinterpret_cast<series_buffer*>(p);
            b->head += delta;
            b->tail += delta;
            memory::slot_of(b->node) = b;
            p += footprint(b);
        }
    }
    run.bytes = 0;
}

void add_to_run(pending_run& run, std::byte* from, std::byte* to, int64_t bytes) {
    if (run.bytes && run.from + run.bytes == from && run.to + run.bytes == to) {
        run.bytes += bytes;
        return;
    }
    flush_run(run);
    run = {from, to, bytes};
}

void poison_range(std::byte* from, std::byte* to) {
    if (from < to) std::memset(from, POISON_BYTE, static_cast<size_t>(to - from));
}

// Compacts one frame; `target` is the frame before it that may receive its buffers.
// Answers whether the frame is empty afterwards.
bool compact_frame(size_t map_index, series_frame* frame, series_frame* target, bool poison) {
    std::byte* end = frame->fill;
    std::byte* dest = frame_start(frame);
    bool receiving = target && room_of(target) > memory::FRAME_ROOM_MINIMUM;
    pending_run run;
    std::byte* next = nullptr;
    for (std::byte* at = next_live_buffer(map_index, dest, end, &next); at;
         at = next_live_buffer(map_index, next, end, &next)) {
        int64_t step = next - at;
        if (at == dest && !receiving) {
            // In place already: the whole run of live buffers is passed over unread.
            flush_run(run);
            dest = next = end_of_live_run(map_index, at, end);
            continue;
        }
        auto* b = reinterpret_cast<series_buffer*>(at);
        if (b->flags & memory::FLAG_PINNED) {
            flush_run(run);
            if (poison) poison_range(dest, at);
            dest = next;
        } else if (receiving && target->fill + step < target->end) {
            add_to_run(run, at, target->fill, step);
            target->fill += step;
            if (room_of(target) <= memory::FRAME_ROOM_MINIMUM) receiving = false;
        } else {
            // A buffer that does not fit cuts the run; the rest stays in its own frame.
            receiving = false;
            add_to_run(run, at, dest, step);
            dest += step;
        }
    }
    flush_run(run);
    if (poison) poison_range(dest, end);
    frame->fill = dest;
    return dest == frame_start(frame);
}

}  // namespace

void compact_series_frames(bool poison) {
    series_frame* target = nullptr;
    std::vector<series_frame*> emptied;
    size_t map_index = 0;
    for (series_frame* frame = memory::state.series_head; frame; frame = frame->next, ++map_index) {
        if (compact_frame(map_index, frame, target, poison) && frame->next) {
            emptied.push_back(frame);  // receives nothing: it is released or kept empty
        } else {
            target = frame;
        }
    }
    // Emptied frames are released, except as many as the allocation that the trigger
    // allows before the next collection would otherwise have to make again at once.
    int64_t live = 0, room = 0;
    for (series_frame* f = memory::state.series_head; f; f = f->next) {
        live += f->fill - frame_start(f);
        room += room_of(f);
    }
    int64_t wanted = allowance_after(live);
    for (series_frame* f : emptied) {
        if (room - room_of(f) < wanted) continue;
        room -= room_of(f);
        memory::free_series_frame(f);
    }
    // Allocation resumes in the first frame with comfortable room, else the last one.
    series_frame* current = memory::state.series_tail;
    for (series_frame* f = memory::state.series_head; f; f = f->next) {
        if (room_of(f) > memory::FRAME_ROOM_MINIMUM) {
            current = f;
            break;
        }
    }
    memory::state.series_current = current;
}

}  // namespace zor::gc
