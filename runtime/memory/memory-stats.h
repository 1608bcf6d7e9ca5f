// Memory statistics: how much the memory manager and the tracked heap hold, as one number
// or as a block that lists every node frame, series frame and big series.
//
// The report runs with the collector switched off (the GC-enabled flag is saved, cleared
// and restored), so the frames it walks do not change under it and the blocks it builds
// are never collected half-made. The numbers are taken before anything is allocated: the
// report's own blocks are not in it.
#pragma once

#include "runtime/value/cell.h"

namespace zor::memory {

inline constexpr int STATS_BYTES_IN_USE = 1;
inline constexpr int STATS_DETAILED = 2;

// Mode 1: the bytes in use (used nodes, the filled part of every series frame, every big
// series). Mode 2 or 3: appends to the result block (a block! in a cell that does not
// move, such as an argument-stack slot), in this order:
//   1. a block of [free used count] per node frame, in list order;
//   2. a block of [free used capacity] bytes per series frame, in address order;
//   3. a block of the size of each big series;
//   4. the bytes the manager holds plus the tracked heap's, headers included;
//   5. the tracked heap's bytes alone;
// each inner block and size on a new line; a total above 2147483647 is a float!. Answers
// 0 then. Any other mode raises script/out-of-range; a result that is not a block! raises
// script/invalid-arg.
double report_stats(cell* result, int mode);

}  // namespace zor::memory
