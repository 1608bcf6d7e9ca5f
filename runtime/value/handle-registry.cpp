// The external handle registry: a class table and a record table, both in the tracked
// heap, with a used list (most recent first) and a free list threaded through the
// records by index.
#include "runtime/value/handle-registry.h"

#include <cstring>

#include "runtime/memory/heap.h"
#include "runtime/errors/raise.h"

namespace zor::handle_registry {

namespace {

struct class_entry {
    uint32_t tag;
    release_callback release;
};

class_entry* classes = nullptr;
int32_t classes_used = 0;
int32_t classes_capacity = 0;

record* records = nullptr;
int32_t records_capacity = 0;
int32_t used_head = NO_INDEX;
int32_t free_head = NO_INDEX;
int32_t used_records = 0;

[[noreturn]] void raise_out_of_range(int64_t n) {
    cell value{TYPE_INTEGER, 0, static_cast<uint32_t>(static_cast<int32_t>(n)), 0};
    raise::throw_error(err::script_out_of_range, &value);
}

// Chains records from..capacity-1 into the free list in index order, ending at `tail`.
void chain_free(int32_t from, int32_t tail) {
    for (int32_t i = from; i < records_capacity; ++i) {
        records[i] = record{FREE_MARKER, nullptr, i + 1 < records_capacity ? i + 1 : tail};
    }
}

void grow_records() {
    int32_t old_capacity = records_capacity;
    if (old_capacity > INT32_MAX / 2) raise::throw_error(err::internal_no_memory);
    records_capacity = old_capacity * 2;
    records = static_cast<record*>(heap::resize(records, sizeof(record) * static_cast<size_t>(records_capacity)));
    // The new records go behind whatever is still free.
    chain_free(old_capacity, NO_INDEX);
    if (free_head == NO_INDEX) {
        free_head = old_capacity;
    } else {
        int32_t last = free_head;
        while (records[last].next != NO_INDEX) last = records[last].next;
        records[last].next = old_capacity;
    }
}

bool is_used(int32_t index) {
    return index >= 0 && index < records_capacity && records[index].flags != FREE_MARKER;
}

record& used_record(int32_t index) {
    if (!is_used(index)) raise_out_of_range(index);
    return records[index];
}

void ensure_init() {
    if (!records) init();
}

// Takes the record off the used list and puts it on the free list.
void unlink_and_free(int32_t index) {
    if (used_head == index) {
        used_head = records[index].next;
    } else {
        int32_t at = used_head;
        while (at != NO_INDEX && records[at].next != index) at = records[at].next;
        if (at != NO_INDEX) records[at].next = records[index].next;
    }
    records[index] = record{FREE_MARKER, nullptr, free_head};
    free_head = index;
    --used_records;
}

}  // namespace

void init() {
    heap::release(classes);
    heap::release(records);
    classes_capacity = INITIAL_CLASSES;
    classes = static_cast<class_entry*>(heap::allocate(sizeof(class_entry) * INITIAL_CLASSES));
    classes_used = 0;
    records_capacity = INITIAL_RECORDS;
    records = static_cast<record*>(heap::allocate(sizeof(record) * INITIAL_RECORDS));
    chain_free(0, NO_INDEX);
    free_head = 0;
    used_head = NO_INDEX;
    used_records = 0;
}

int32_t register_class(uint32_t class_tag, release_callback release) {
    ensure_init();
    if (classes_used >= int32_t(CLASS_MASK)) {
        cell limit{TYPE_INTEGER, 0, CLASS_MASK, 0};
        raise::throw_error(err::internal_limit_hit, &limit);
    }
    if (classes_used == classes_capacity) {
        classes_capacity *= 2;
        classes = static_cast<class_entry*>(heap::resize(classes, sizeof(class_entry) * classes_capacity));
    }
    classes[classes_used++] = class_entry{class_tag, release};
    return classes_used;
}

int32_t new_handle(void* resource, uint32_t flags) {
    ensure_init();
    int32_t class_id = static_cast<int32_t>(flags & CLASS_MASK);
    if (class_id > classes_used) raise_out_of_range(class_id);
    if (free_head == NO_INDEX || records[free_head].next == NO_INDEX) grow_records();
    int32_t index = free_head;
    free_head = records[index].next;
    records[index] = record{flags & ~(FLAG_MARK | FREE_MARKER), resource, used_head};
    used_head = index;
    ++used_records;
    return index;
}

void replace_object(int32_t index, void* resource) {
    record& r = used_record(index);
    void* old = r.resource;
    uint32_t flags = r.flags;
    r.resource = resource;
    if (old != resource) release_resource(flags, old);
}

void free_handle(int32_t index, bool release) {
    record& r = used_record(index);
    uint32_t flags = r.flags;
    void* resource = r.resource;
    // Unlinked first, so a release callback never sees a half-freed record.
    unlink_and_free(index);
    if (release) release_resource(flags, resource);
}

bool mark_handle(int32_t index, void* resource) {
    if (!is_used(index)) return false;
    record& r = records[index];
    if (resource) r.resource = resource;
    if (r.flags & FLAG_MARK) return false;
    r.flags |= FLAG_MARK;
    return true;
}

void release_resource(uint32_t flags, void* resource) {
    int32_t class_id = static_cast<int32_t>(flags & CLASS_MASK);
    if (class_id < 1 || class_id > classes_used) return;
    if (release_callback release = classes[class_id - 1].release) release(resource);
}

void for_each_of_class(int32_t class_id, void (*function)(int32_t class_id, void* resource)) {
    for (int32_t i = used_head; i != NO_INDEX; i = records[i].next) {
        if (static_cast<int32_t>(records[i].flags & CLASS_MASK) == class_id) function(class_id, records[i].resource);
    }
}

void sweep() {
    int32_t previous = NO_INDEX;
    int32_t index = used_head;
    while (index != NO_INDEX) {
        record& r = records[index];
        int32_t next = r.next;
        if (r.flags & FLAG_MARK) {
            r.flags &= ~FLAG_MARK;
            previous = index;
        } else {
            uint32_t flags = r.flags;
            void* resource = r.resource;
            if (previous == NO_INDEX) used_head = next; else records[previous].next = next;
            r = record{FREE_MARKER, nullptr, free_head};
            free_head = index;
            --used_records;
            release_resource(flags, resource);
        }
        index = next;
    }
}

const record* record_at(int32_t index) {
    if (index < 0 || index >= records_capacity) return nullptr;
    return &records[index];
}

int32_t capacity() { return records_capacity; }
int32_t used_count() { return used_records; }

}  // namespace zor::handle_registry
