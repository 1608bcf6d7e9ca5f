// Collector entry points. Marking, sweeping and compaction build on the precise roots
// (argument stack, call frames, root blocks, mark callbacks); until they exist a
// collection only counts its cycle.
#include "runtime/gc.h"

#include <cstdlib>
#include <cstring>

namespace zor::gc {

uint32_t enabled = 0;

namespace {
uint32_t cycles = 0;
int torture = -1;  // -1: environment not read yet
}  // namespace

bool torture_mode() {
    if (torture < 0) {
        const char* value = std::getenv("ZOR_GC_TORTURE");
        torture = value && std::strcmp(value, "1") == 0;
    }
    return torture == 1;
}

void init_release_queue() {}

void init() { torture_mode(); }

void collect() { ++cycles; }

void trigger() {
    if (enabled) collect();
}

void torture_point() {
    if (enabled && torture_mode()) collect();
}

uint32_t cycle_count() { return cycles; }

}  // namespace zor::gc
