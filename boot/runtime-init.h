// The runtime's start-up: initialises the core services in a fixed order, registers
// every datatype, makes the root blocks and the evaluation stack. Later steps rely on
// the earlier ones, so the order is fixed.
#pragma once

namespace zor::runtime_init {

void start();
// The runtime's build stamp.
const char* build_date();
// Releases the memory manager's frames and the tracked heap (tests and shut-down).
void shutdown();

}  // namespace zor::runtime_init
