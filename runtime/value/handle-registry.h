// The external handle registry: records for resources that the memory manager does not
// own (a decoded bitmap of the imaging back-end, say). A value holds the 0-based index of
// its record; the collector marks the records that live values reach and, after marking,
// releases every other record through its class's release callback, walking the records
// from the most recently made to the oldest.
//
// Record: flags (bits 0-7 the 1-based class id, bit 31 the collector mark; the value
// 0x40000000 alone marks a free record), the resource pointer, and the index of the next
// record on the used list or the free list (-1 ends a list).
//
// Invariants for callers: a release callback only releases its resource; it must not
// allocate from the memory manager nor call back into the registry (it runs inside a
// collection). Indexes passed in come from values this registry handed out; a stale or
// invalid one raises script/out-of-range instead of reaching another record.
#pragma once

#include <cstdint>

namespace zor::handle_registry {

inline constexpr uint32_t CLASS_MASK = 0xFF;
inline constexpr uint32_t FLAG_MARK = 0x80000000;
inline constexpr uint32_t FREE_MARKER = 0x40000000;
inline constexpr int32_t INITIAL_CLASSES = 20;
inline constexpr int32_t INITIAL_RECORDS = 1000;
inline constexpr int32_t NO_INDEX = -1;

using release_callback = void (*)(void* resource);

struct record {
    uint32_t flags;
    void* resource;
    int32_t next;
};

// Start-up: the class table (20 entries) and the record table (1,000 free records).
void init();

// Appends a class and answers its 1-based id. More classes than fit a record's class
// bits (255) raise internal/limit-hit.
int32_t register_class(uint32_t class_tag, release_callback release);

// Takes the free list's head for the resource, doubling the table first when that is
// the last free record, and puts it at the head of the used list. The class id (bits
// 0-7 of flags) must be 0 (no release) or a registered class.
int32_t new_handle(void* resource, uint32_t flags);
// Stores a new resource pointer; a different old one is released through the class.
void replace_object(int32_t index, void* resource);
// Unlinks the record and puts it on the free list, releasing the resource first when
// `release` is set.
void free_handle(int32_t index, bool release);
// The collector's mark: sets the mark bit and, with a non-null pointer, stores it as
// the resource (no release). Answers whether the record was unmarked before. Indexes
// that name no used record are ignored.
bool mark_handle(int32_t index, void* resource);
// Calls the release callback of class (flags & 0xFF) with the pointer; nothing for class
// 0, an unknown class or a class without a callback.
void release_resource(uint32_t flags, void* resource);
// Calls the function with (class id, resource) for every used record of the class, most
// recent first.
void for_each_of_class(int32_t class_id, void (*function)(int32_t class_id, void* resource));
// After marking: unmarked used records are released and freed; marked ones lose the mark.
void sweep();

// Reading.
const record* record_at(int32_t index);  // the record, or null for an index out of range
int32_t capacity();
int32_t used_count();

}  // namespace zor::handle_registry
