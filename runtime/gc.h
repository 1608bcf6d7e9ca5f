// The collector's entry points as the allocator and the runtime see them.
//
// The allocator calls trigger() when no frame has room and before every big series; a
// collection runs only while the GC-enabled flag is 1 (it is 0 during start-up). In
// torture mode (environment ZOR_GC_TORTURE=1) every allocation is a collection point.
#pragma once

#include <cstdint>

namespace zor::gc {

// The GC-enabled flag.
extern uint32_t enabled;

void init_release_queue();
void init();

// One collection now, whatever the flag says.
void collect();
// A collection when the flag allows it.
void trigger();
// Called by every allocation: collects in torture mode.
void torture_point();
bool torture_mode();

uint32_t cycle_count();

}  // namespace zor::gc
