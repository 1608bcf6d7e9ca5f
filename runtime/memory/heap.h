// The tracked heap: the runtime's own tables (type entries, action rows, hook lists,
// root blocks) come from here. Every block is linked into one list so that whatever is
// left can be released as a whole at exit. Blocks are 16-byte aligned.
#pragma once

#include <cstddef>

namespace zor::heap {

// Ends the process with runtime error 94 when memory is exhausted.
void* allocate(size_t bytes);
// As allocate, but answers null on exhaustion so the caller can raise a language error.
void* try_allocate(size_t bytes);
void* resize(void* block, size_t bytes);
void release(void* block);
void release_all();
size_t block_count();
// Bytes of every live block, each counted with its header (memory statistics).
size_t total_bytes();

}  // namespace zor::heap
