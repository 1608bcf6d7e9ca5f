// The total heap limit: how many bytes the memory manager may hold from the system at
// once (series frames, big series and node frames together). Reaching it raises the
// catchable internal/no-memory long before the system's own out-of-memory killer would
// end the process.
//
// By default the limit is three quarters of physical memory, and three quarters of the
// address-space limit (RLIMIT_AS) when that is smaller. The environment variable
// ZOR_HEAP_LIMIT sets it instead: a whole number of bytes, optionally followed by K, M, G
// or T (powers of 1024, either case, an optional trailing "B" or "iB"), at least 16M.
#pragma once

#include <cstdint>
#include <string_view>

namespace zor::heap_limit {

inline constexpr int64_t MINIMUM_LIMIT = int64_t(16) << 20;

// Reads the variable (or works out the default) for the rest of the process. A value
// that is no size ends start-up with one clear line and status 1.
void init();
// The limit in bytes.
int64_t limit();
// The size that the text gives, or -1 when it is none (the variable's syntax).
int64_t parse_size(std::string_view text);

}  // namespace zor::heap_limit
