// The tracked heap: malloc blocks behind a 32-byte header that links them in one list.
#include "runtime/memory/heap.h"

#include <cstdint>
#include <cstdlib>

#include "platform/fatal.h"

namespace zor::heap {
namespace {

struct alignas(16) block_header {
    block_header* next;
    block_header* previous;
    size_t bytes;
    uint64_t reserved;
};
static_assert(sizeof(block_header) == 32);

block_header* first = nullptr;
size_t count = 0;
size_t live_bytes = 0;  // every live block with its header

void link(block_header* h) {
    h->previous = nullptr;
    h->next = first;
    if (first) first->previous = h;
    first = h;
    ++count;
    live_bytes += sizeof(block_header) + h->bytes;
}

void unlink(block_header* h) {
    if (h->previous) h->previous->next = h->next; else first = h->next;
    if (h->next) h->next->previous = h->previous;
    --count;
    live_bytes -= sizeof(block_header) + h->bytes;
}

}  // namespace

void* try_allocate(size_t bytes) {
    auto* h = static_cast<block_header*>(std::malloc(sizeof(block_header) + bytes));
    if (!h) return nullptr;
    h->bytes = bytes;
    link(h);
    return h + 1;
}

void* allocate(size_t bytes) {
    void* p = try_allocate(bytes);
    if (!p) platform::quit_with_error(platform::RUNTIME_ERROR_NO_MEMORY, 0);
    return p;
}

void* resize(void* block, size_t bytes) {
    if (!block) return allocate(bytes);
    auto* h = static_cast<block_header*>(block) - 1;
    unlink(h);
    auto* moved = static_cast<block_header*>(std::realloc(h, sizeof(block_header) + bytes));
    if (!moved) {
        link(h);
        platform::quit_with_error(platform::RUNTIME_ERROR_NO_MEMORY, 0);
    }
    moved->bytes = bytes;
    link(moved);
    return moved + 1;
}

void release(void* block) {
    if (!block) return;
    auto* h = static_cast<block_header*>(block) - 1;
    unlink(h);
    std::free(h);
}

void release_all() {
    while (first) {
        block_header* h = first;
        unlink(h);
        std::free(h);
    }
}

size_t block_count() { return count; }

size_t total_bytes() { return live_bytes; }

}  // namespace zor::heap
