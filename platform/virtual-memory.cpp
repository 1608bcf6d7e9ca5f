// Virtual memory on mmap: plain anonymous mappings for frames and big series, and one
// reservation for the node space whose pages are committed with mprotect.
#include "platform/virtual-memory.h"

#include <sys/mman.h>

#include "runtime/eval/throw.h"

namespace zor::platform {

void* alloc_virtual(size_t bytes, bool executable) {
    int protection = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* p = mmap(nullptr, bytes, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw zor_throw{THROW_ALLOC_FAILED};
    return p;
}

void free_virtual(void* address, size_t bytes) {
    if (munmap(address, bytes) != 0) throw zor_throw{THROW_FREE_FAILED};
}

void* reserve_address_space(size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) throw zor_throw{THROW_ALLOC_FAILED};
    return p;
}

void commit(void* address, size_t bytes) {
    if (mprotect(address, bytes, PROT_READ | PROT_WRITE) != 0) throw zor_throw{THROW_ALLOC_FAILED};
}

void decommit(void* address, size_t bytes) {
    madvise(address, bytes, MADV_DONTNEED);
    mprotect(address, bytes, PROT_NONE);
}

}  // namespace zor::platform
