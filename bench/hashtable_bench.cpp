// Hashing and table work against the standard library, like for like.
//
//   string_hash_* vs std_hash_string_*: the case-folding string hash of a string! value
//     (upper-cases each character, one MurmurHash3 block per character) against
//     std::hash<std::string> on the same ASCII text, at 8, 64 and 1024 characters.
//   murmur3_bytes vs std_hash_string_*: MurmurHash3 over raw bytes, the hash of binary!.
//   map_put_find vs unordered_map_put_find: 100,000 integer keys entered into a map!-kind
//     table (key cells appended to its block, compared by the integer! compare action) and
//     each looked up once, against std::unordered_map<int32_t, int32_t> doing the same.
//   records_put_get vs unordered_map_put_find: the record kind keyed by 32-bit integers.
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/memory.h"
#include "tests/unit/runtime_fixture.h"

namespace {

namespace hashtable = zor::hashtable;
using zor::cell;
using zor::node_ref;

std::string ascii_text(int64_t n) {
    std::string text;
    for (int64_t i = 0; i < n; ++i) text += char('a' + (i * 7) % 26);
    return text;
}

void reset_stack() {
    zor::stack::state.args_base = zor::stack::state.args_top = zor::stack::state.args_begin;
}

void string_hash(benchmark::State& state) {
    zor::testing::ensure_runtime();
    reset_stack();
    std::string text = ascii_text(state.range(0));
    cell* value = zor::string::load_onto_stack(zor::unicode::input_bytes::at(text.data()), int64_t(text.size()),
                                               zor::string::ENCODING_UTF8);
    for (auto _ : state) benchmark::DoNotOptimize(hashtable::hash_value(value, false));
    state.SetBytesProcessed(state.iterations() * state.range(0));
    reset_stack();
}
BENCHMARK(string_hash)->Arg(8)->Arg(64)->Arg(1024);

void string_hash_case_sensitive(benchmark::State& state) {
    zor::testing::ensure_runtime();
    reset_stack();
    std::string text = ascii_text(state.range(0));
    cell* value = zor::string::load_onto_stack(zor::unicode::input_bytes::at(text.data()), int64_t(text.size()),
                                               zor::string::ENCODING_UTF8);
    for (auto _ : state) benchmark::DoNotOptimize(hashtable::hash_value(value, true));
    state.SetBytesProcessed(state.iterations() * state.range(0));
    reset_stack();
}
BENCHMARK(string_hash_case_sensitive)->Arg(8)->Arg(64)->Arg(1024);

void murmur3_bytes(benchmark::State& state) {
    std::string text = ascii_text(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(text.data());
        benchmark::DoNotOptimize(hashtable::murmur3_bytes(text.data(), int64_t(text.size())));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(murmur3_bytes)->Arg(8)->Arg(64)->Arg(1024);

void std_hash_string(benchmark::State& state) {
    std::string text = ascii_text(state.range(0));
    std::hash<std::string> hasher;
    for (auto _ : state) {
        benchmark::DoNotOptimize(text.data());
        benchmark::DoNotOptimize(hasher(text));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(std_hash_string)->Arg(8)->Arg(64)->Arg(1024);

constexpr int32_t KEYS = 100'000;

inline int32_t key_at(int32_t i) { return static_cast<int32_t>(uint32_t(i) * 2654435u + 17u); }

void map_put_find(benchmark::State& state) {
    zor::testing::ensure_runtime();
    for (auto _ : state) {
        reset_stack();
        cell* block = zor::block::make_in(zor::stack::push_slot(), 2 * KEYS);
        cell* table_cell = zor::stack::push_slot();
        cell::init_unset(table_cell);
        node_ref table = hashtable::make(0, block, hashtable::KIND_MAP, 0);
        *table_cell = cell{zor::TYPE_MAP, 0, block->w2, table};
        for (int32_t i = 0; i < KEYS; ++i) {
            cell pair[2] = {{zor::TYPE_INTEGER, 0, uint32_t(key_at(i)), 0}, {zor::TYPE_INTEGER, 0, uint32_t(i), 0}};
            zor::block::append_copy(block, &pair[0]);
            zor::block::append_copy(block, &pair[1]);
            benchmark::DoNotOptimize(hashtable::put(table, zor::block::get_cell(block, 2 * int64_t(i))));
        }
        cell* sought = zor::stack::push_slot();
        for (int32_t i = 0; i < KEYS; ++i) {
            *sought = cell{zor::TYPE_INTEGER, 0, uint32_t(key_at(i)), 0};
            benchmark::DoNotOptimize(hashtable::find(table, sought, 0, 1, 0, false, false));
        }
    }
    state.SetItemsProcessed(state.iterations() * KEYS);
    reset_stack();
}
BENCHMARK(map_put_find)->Unit(benchmark::kMillisecond);

void records_put_get(benchmark::State& state) {
    zor::testing::ensure_runtime();
    for (auto _ : state) {
        reset_stack();
        cell* table_cell = zor::stack::push_slot();
        cell::init_unset(table_cell);
        node_ref table = hashtable::make(0, nullptr, hashtable::KIND_RECORDS, 1);
        *table_cell = cell{zor::TYPE_MAP, 0, 0, table};
        for (int32_t i = 0; i < KEYS; ++i) {
            cell* value = hashtable::put_record(table, key_at(i));
            *value = cell{zor::TYPE_INTEGER, 0, uint32_t(i), 0};
        }
        for (int32_t i = 0; i < KEYS; ++i) benchmark::DoNotOptimize(hashtable::get_record(table, key_at(i)));
    }
    state.SetItemsProcessed(state.iterations() * KEYS);
    reset_stack();
}
BENCHMARK(records_put_get)->Unit(benchmark::kMillisecond);

void unordered_map_put_find(benchmark::State& state) {
    for (auto _ : state) {
        std::unordered_map<int32_t, int32_t> map;
        for (int32_t i = 0; i < KEYS; ++i) map.emplace(key_at(i), i);
        for (int32_t i = 0; i < KEYS; ++i) benchmark::DoNotOptimize(map.find(key_at(i)));
    }
    state.SetItemsProcessed(state.iterations() * KEYS);
}
BENCHMARK(unordered_map_put_find)->Unit(benchmark::kMillisecond);

}  // namespace
