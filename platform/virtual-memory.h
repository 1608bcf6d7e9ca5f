// Virtual memory for the memory manager's frames and the node space, and the sizing of
// the process's large reservations (the node space, the interpreter's stack).
//
// Those reservations are address space only, yet an address-space limit (RLIMIT_AS)
// counts them in full. So each is sized from the limit the process actually runs under,
// and together they leave most of it to the heap and the series frames.
#pragma once

#include <cstddef>

namespace zor::platform {

// System-level throw codes of the memory wrappers; the memory manager turns them into
// internal/no-memory and internal/wrong-mem.
inline constexpr unsigned THROW_ALLOC_FAILED = 0x7FFFFFF7;
inline constexpr unsigned THROW_FREE_FAILED = 0x7FFFFFF6;

// Read-write pages (read-write-execute with the flag); throws THROW_ALLOC_FAILED. A block
// of HUGE_PAGE_SIZE or more asks for huge pages, so filling it takes one fault per 2 MiB
// rather than one per page.
void* alloc_virtual(size_t bytes, bool executable);
// Grows or shrinks a block made by alloc_virtual to new_bytes, keeping its contents. The
// system extends it where it lies when it can and otherwise moves its page tables, never
// its bytes, so the pages written before are neither copied nor touched again. Answers
// the block's address (perhaps a new one); throws THROW_ALLOC_FAILED with the block as it was.
void* resize_virtual(void* address, size_t old_bytes, size_t new_bytes);
// Throws THROW_FREE_FAILED.
void free_virtual(void* address, size_t bytes);

// Address space reserved without backing (PROT_NONE, MAP_NORESERVE), committed piecewise;
// null when refused.
void* reserve_address_space(size_t bytes);
void commit(void* address, size_t bytes);    // throws THROW_ALLOC_FAILED
void decommit(void* address, size_t bytes);  // returns the pages, keeps the reservation

// The address space the process may still map: its RLIMIT_AS less what it had mapped
// when first asked (at start-up, before the large reservations), so that every
// reservation is sized from the same figure. SIZE_MAX when there is no limit.
size_t address_space_budget();

// The size of one large reservation that would like `wanted` bytes: at most an eighth
// of the budget, never below `minimum`, in whole granules.
size_t reservation_size(size_t wanted, size_t minimum, size_t granule);

// The next size to try after `bytes` was refused: half of it in whole granules, or 0
// once that would fall below `minimum`.
size_t smaller_reservation(size_t bytes, size_t minimum, size_t granule);

// Ends start-up when not even the smallest reservation for `purpose` could be had: one
// line saying how much could not be reserved (and the limit, when there is one), then
// status 1.
[[noreturn]] void reservation_failed(const char* purpose, size_t bytes);

inline constexpr size_t PAGE_SIZE = 4096;
inline constexpr size_t HUGE_PAGE_SIZE = size_t(2) << 20;

}  // namespace zor::platform
