// Series allocation against malloc/free: 10 million small allocations, sizes cycling
// 16..256 bytes, collection off.
//
// Our manager never frees (the collector reclaims), so each benchmark allocates inside a
// manager of its own, with the runtime's frames set aside. Two pairs compare like with
// like ("per_alloc" is the time per allocation):
//
//   series_fresh_frames   vs malloc_batch_then_free: all 10 million stay live until the
//     end, so both touch about 1.7 GB of new memory (page faults included). Our frames are
//     released between iterations, outside the timing.
//   series_batches_reset  vs malloc_batches_then_free: batches of 10,000 that fit a frame
//     or two; ours rewinds its frames and node free lists after each batch (timed, as a
//     collection that found nothing alive would leave them), malloc frees each block
//     (timed). Both reuse warm memory.
//
// malloc_free_each (one block allocated and freed at a time) is the floor: a single hot
// chunk, nothing the collector-based design can reproduce, listed for reference.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "tests/unit/runtime_fixture.h"

namespace {

namespace memory = zor::memory;

constexpr int64_t BATCH = 10'000'000;

inline int64_t size_at(int64_t i) { return 16 + (i & 15) * 16; }

void set_per_allocation_counter(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * BATCH);
    state.counters["per_alloc"] = benchmark::Counter(
        double(BATCH), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The runtime's manager is set aside while a benchmark allocates in its own.
class own_manager {
public:
    own_manager() : saved_(memory::state), saved_collection_(zor::gc::enabled) {
        zor::gc::enabled = 0;
        memory::state = memory::manager{};
    }
    ~own_manager() {
        memory::release_all();
        memory::state = saved_;
        zor::gc::enabled = saved_collection_;
    }
    own_manager(const own_manager&) = delete;
    own_manager& operator=(const own_manager&) = delete;

    // Back to nothing: the next batch makes (and first touches) its frames again.
    static void release() {
        memory::release_all();
        memory::state = memory::manager{};
    }

    // Every frame kept but empty. Only for batches that fit the first frames: refilling
    // many rewound frames would make new ones instead (the frame-room rule stops at the
    // first frame with room, and full frames still have room for small requests).
    static void rewind() {
        for (memory::series_frame* f = memory::state.series_head; f; f = f->next) {
            f->fill = reinterpret_cast<std::byte*>(f + 1);
        }
        memory::state.series_current = memory::state.series_head;
        for (memory::node_frame* f = memory::state.node_head; f; f = f->next) {
            memory::init_node_free_list(f);
            f->used = 0;
        }
        memory::state.node_current = memory::state.node_head;
    }

private:
    memory::manager saved_;
    uint32_t saved_collection_;
};

void allocate_batch() {
    for (int64_t i = 0; i < BATCH; ++i) {
        zor::node_ref node = memory::alloc_bytes(size_at(i));
        benchmark::DoNotOptimize(node);
    }
}

void series_fresh_frames(benchmark::State& state) {
    zor::testing::ensure_runtime();
    own_manager manager;
    for (auto _ : state) {
        allocate_batch();
        state.PauseTiming();
        own_manager::release();
        state.ResumeTiming();
    }
    set_per_allocation_counter(state);
}

constexpr int64_t SMALL_BATCH = 10'000;

void series_batches_reset(benchmark::State& state) {
    zor::testing::ensure_runtime();
    own_manager manager;
    for (auto _ : state) {
        for (int64_t batch = 0; batch < BATCH / SMALL_BATCH; ++batch) {
            for (int64_t i = 0; i < SMALL_BATCH; ++i) {
                zor::node_ref node = memory::alloc_bytes(size_at(i));
                benchmark::DoNotOptimize(node);
            }
            own_manager::rewind();
        }
    }
    set_per_allocation_counter(state);
}

void malloc_batches_then_free(benchmark::State& state) {
    std::vector<void*> blocks(static_cast<size_t>(SMALL_BATCH));
    for (auto _ : state) {
        for (int64_t batch = 0; batch < BATCH / SMALL_BATCH; ++batch) {
            for (int64_t i = 0; i < SMALL_BATCH; ++i) blocks[size_t(i)] = std::malloc(static_cast<size_t>(size_at(i)));
            benchmark::DoNotOptimize(blocks.data());
            for (int64_t i = 0; i < SMALL_BATCH; ++i) std::free(blocks[size_t(i)]);
            benchmark::ClobberMemory();
        }
    }
    set_per_allocation_counter(state);
}

void malloc_free_each(benchmark::State& state) {
    for (auto _ : state) {
        for (int64_t i = 0; i < BATCH; ++i) {
            void* p = std::malloc(static_cast<size_t>(size_at(i)));
            benchmark::DoNotOptimize(p);
            std::free(p);
        }
    }
    set_per_allocation_counter(state);
}

void malloc_batch_then_free(benchmark::State& state) {
    std::vector<void*> blocks(static_cast<size_t>(BATCH));
    for (auto _ : state) {
        for (int64_t i = 0; i < BATCH; ++i) blocks[size_t(i)] = std::malloc(static_cast<size_t>(size_at(i)));
        benchmark::DoNotOptimize(blocks.data());
        for (int64_t i = 0; i < BATCH; ++i) std::free(blocks[size_t(i)]);
        benchmark::ClobberMemory();
    }
    set_per_allocation_counter(state);
}

BENCHMARK(series_fresh_frames)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(malloc_batch_then_free)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(series_batches_reset)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(malloc_batches_then_free)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(malloc_free_each)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
