// Virtual memory on mmap: plain anonymous mappings for frames and big series, and
// reservations committed with mprotect, sized from the process's address-space limit.
#include "platform/virtual-memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/console-output.h"
#include "platform/fatal.h"
#include "runtime/eval/throw.h"

namespace zor::platform {
namespace {

constexpr size_t MiB = size_t{1} << 20;

// Each large reservation takes at most this share of the budget.
constexpr size_t RESERVATION_SHARE = 8;

// The process's limit in bytes, SIZE_MAX when it has none.
size_t address_space_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
    return static_cast<size_t>(limit.rlim_cur);
}

// The bytes mapped now (the first field of /proc/self/statm, in pages); 0 when unknown.
size_t mapped_bytes() {
    int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[64];
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return 0;
    text[n] = '\0';
    return static_cast<size_t>(std::strtoull(text, nullptr, 10)) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

void* alloc_virtual(size_t bytes, bool executable) {
    int protection = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* p = mmap(nullptr, bytes, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw zor_throw{THROW_ALLOC_FAILED};
    // Advice only: where huge pages are off or none is free, the block keeps small pages.
    if (bytes >= HUGE_PAGE_SIZE) madvise(p, bytes, MADV_HUGEPAGE);
    return p;
}

void* resize_virtual(void* address, size_t old_bytes, size_t new_bytes) {
    void* p = mremap(address, old_bytes, new_bytes, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) throw zor_throw{THROW_ALLOC_FAILED};
    // A block that has just reached the size asks for huge pages from here on.
    if (old_bytes < HUGE_PAGE_SIZE && new_bytes >= HUGE_PAGE_SIZE) madvise(p, new_bytes, MADV_HUGEPAGE);
    return p;
}

void free_virtual(void* address, size_t bytes) {
    if (munmap(address, bytes) != 0) throw zor_throw{THROW_FREE_FAILED};
}

void* reserve_address_space(size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void commit(void* address, size_t bytes) {
    if (mprotect(address, bytes, PROT_READ | PROT_WRITE) != 0) throw zor_throw{THROW_ALLOC_FAILED};
}

void decommit(void* address, size_t bytes) {
    madvise(address, bytes, MADV_DONTNEED);
    mprotect(address, bytes, PROT_NONE);
}

size_t address_space_budget() {
    static const size_t budget = [] {
        size_t limit = address_space_limit();
        if (limit == SIZE_MAX) return SIZE_MAX;
        size_t mapped = mapped_bytes();
        return limit > mapped ? limit - mapped : size_t{0};
    }();
    return budget;
}

size_t reservation_size(size_t wanted, size_t minimum, size_t granule) {
    size_t budget = address_space_budget();
    size_t size = wanted;
    if (budget != SIZE_MAX && budget / RESERVATION_SHARE < size) size = budget / RESERVATION_SHARE;
    size = size / granule * granule;
    return size < minimum ? minimum : size;
}

size_t smaller_reservation(size_t bytes, size_t minimum, size_t granule) {
    size_t half = bytes / 2 / granule * granule;
    return half < minimum || half == 0 ? 0 : half;
}

void reservation_failed(const char* purpose, size_t bytes) {
    char line[200];
    size_t mib = (bytes + MiB - 1) / MiB;
    size_t limit = address_space_limit();
    int n = limit == SIZE_MAX
                ? std::snprintf(line, sizeof line, "*** Error: cannot reserve %zu MiB of address space for %s\n", mib,
                                purpose)
                : std::snprintf(line, sizeof line,
                                "*** Error: cannot reserve %zu MiB of address space for %s (limit %zu MiB)\n", mib,
                                purpose, limit / MiB);
    if (n > 0) write_raw(line, std::min(static_cast<size_t>(n), sizeof line - 1));
    exit_process(1);
}

}  // namespace zor::platform
