// Virtual memory for the memory manager's frames and the node space.
#pragma once

#include <cstddef>

namespace zor::platform {

// System-level throw codes of the memory wrappers; the memory manager turns them into
// internal/no-memory and internal/wrong-mem.
inline constexpr unsigned THROW_ALLOC_FAILED = 0x7FFFFFF7;
inline constexpr unsigned THROW_FREE_FAILED = 0x7FFFFFF6;

// Read-write pages (read-write-execute with the flag); throws THROW_ALLOC_FAILED.
void* alloc_virtual(size_t bytes, bool executable);
// Throws THROW_FREE_FAILED.
void free_virtual(void* address, size_t bytes);

// Address space reserved without backing (PROT_NONE), committed piecewise.
void* reserve_address_space(size_t bytes);
void commit(void* address, size_t bytes);    // throws THROW_ALLOC_FAILED
void decommit(void* address, size_t bytes);  // returns the pages, keeps the reservation

inline constexpr size_t PAGE_SIZE = 4096;

}  // namespace zor::platform
