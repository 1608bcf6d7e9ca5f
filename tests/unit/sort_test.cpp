// The element sorts: results against a reference sort over many shapes and sizes,
// stability, odd element sizes, linear work on runs, and the state left behind when the
// comparator throws.
#include "runtime/datatypes/series-sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "runtime/datatypes/error.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/memory/heap.h"
#include "tests/unit/runtime_fixture.h"

namespace {

using zor::sort::comparator;

// An element whose key decides the order and whose sequence number records where it
// started, so stability and "nothing lost or duplicated" can be checked.
struct keyed {
    int32_t key;
    int32_t sequence;
};

struct call_counter {
    int64_t calls = 0;
    int64_t throw_at = -1;  // the call that throws, -1 for none
};

int compare_keyed(const void* x, const void* y, void* counter_arg, void*) {
    auto* counter = static_cast<call_counter*>(counter_arg);
    if (counter && ++counter->calls == counter->throw_at) throw std::runtime_error("comparator");
    keyed a, b;
    std::memcpy(&a, x, sizeof a);
    std::memcpy(&b, y, sizeof b);
    return a.key < b.key ? -1 : a.key > b.key ? 1 : 0;
}

using sort_function = void (*)(void*, int64_t, int64_t, void*, void*, comparator);

struct named_sort {
    const char* name;
    sort_function run;
    bool stable;
};

const named_sort SORTS[] = {
    {"quick_sort", zor::sort::quick_sort, false},
    {"stable_merge_sort", zor::sort::stable_merge_sort, true},
};

// Input shapes that exercise the presorted paths, the run detection and the partition.
struct shape {
    const char* name;
    std::function<int32_t(int64_t i, int64_t n, std::mt19937& random)> key;
    int64_t displaced_per_thousand;  // random exchanges after generation
};

const std::vector<shape>& shapes() {
    static const std::vector<shape> all = {
        {"random", [](int64_t, int64_t, std::mt19937& r) { return int32_t(r() % 1000000); }, 0},
        {"sorted", [](int64_t i, int64_t, std::mt19937&) { return int32_t(i); }, 0},
        {"reversed", [](int64_t i, int64_t n, std::mt19937&) { return int32_t(n - i); }, 0},
        {"all equal", [](int64_t, int64_t, std::mt19937&) { return int32_t(7); }, 0},
        {"organ pipe", [](int64_t i, int64_t n, std::mt19937&) { return int32_t(i < n / 2 ? i : n - i); }, 0},
        {"few distinct", [](int64_t, int64_t, std::mt19937& r) { return int32_t(r() % 4); }, 0},
        {"sawtooth", [](int64_t i, int64_t, std::mt19937&) { return int32_t(i % 37); }, 0},
        {"nearly sorted", [](int64_t i, int64_t, std::mt19937&) { return int32_t(i); }, 10},
        {"nearly reversed", [](int64_t i, int64_t n, std::mt19937&) { return int32_t(n - i); }, 10},
        {"sorted, smallest last", [](int64_t i, int64_t n, std::mt19937&) { return int32_t(i + 1 == n ? -1 : i); }, 0},
        {"sorted, largest first", [](int64_t i, int64_t n, std::mt19937&) { return int32_t(i == 0 ? n : i); }, 0},
        {"sorted with equal runs", [](int64_t i, int64_t, std::mt19937&) { return int32_t(i / 5); }, 0},
    };
    return all;
}

std::vector<keyed> make_input(const shape& s, int64_t n, std::mt19937& random) {
    std::vector<keyed> v(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) v[size_t(i)] = {s.key(i, n, random), int32_t(i)};
    if (n > 1) {
        for (int64_t k = 0; k < n * s.displaced_per_thousand / 1000 + (s.displaced_per_thousand ? 1 : 0); ++k)
            std::swap(v[random() % n], v[random() % n]);
    }
    return v;
}

// Sequence numbers 0 .. n-1 each exactly once.
bool is_permutation_of_input(const std::vector<keyed>& v) {
    std::vector<int32_t> seen;
    for (const keyed& k : v) seen.push_back(k.sequence);
    std::sort(seen.begin(), seen.end());
    for (size_t i = 0; i < seen.size(); ++i)
        if (seen[i] != int32_t(i)) return false;
    return true;
}

using zor::testing::raised_code;

class SortTest : public ::testing::Test {
protected:
    void SetUp() override { zor::testing::ensure_runtime(); }
};

TEST_F(SortTest, ZeroOrOneElementCallsNoComparator) {
    for (const named_sort& s : SORTS) {
        for (int64_t n : {0, 1}) {
            keyed data[1] = {{42, 0}};
            call_counter counter;
            s.run(data, n, sizeof(keyed), &counter, nullptr, compare_keyed);
            EXPECT_EQ(counter.calls, 0) << s.name << " n=" << n;
            EXPECT_EQ(data[0].key, 42) << s.name;
        }
    }
}

TEST_F(SortTest, AgreesWithReferenceSortOnEveryShapeAndSize) {
    // Sizes straddle the insertion cutoff (7), the minimum run (24), the seed region
    // (63 above 511) and the presorted threshold (n / 512).
    const int64_t sizes[] = {2, 3, 7, 8, 9, 23, 24, 25, 63, 64, 100, 511, 512, 513, 1000, 1025, 4097, 20000, 100003};
    std::mt19937 random(12345);
    for (const named_sort& s : SORTS) {
        for (const shape& sh : shapes()) {
            for (int64_t n : sizes) {
                std::vector<keyed> data = make_input(sh, n, random);
                std::vector<keyed> expected = data;
                std::stable_sort(expected.begin(), expected.end(),
                                 [](const keyed& a, const keyed& b) { return a.key < b.key; });
                s.run(data.data(), n, sizeof(keyed), nullptr, nullptr, compare_keyed);
                ASSERT_TRUE(is_permutation_of_input(data)) << s.name << " " << sh.name << " n=" << n;
                for (int64_t i = 0; i < n; ++i) {
                    ASSERT_EQ(data[i].key, expected[i].key) << s.name << " " << sh.name << " n=" << n << " at " << i;
                    // The stable sort must also reproduce the reference's order of equal keys.
                    if (s.stable) {
                        ASSERT_EQ(data[i].sequence, expected[i].sequence)
                            << s.name << " " << sh.name << " n=" << n << " at " << i;
                    }
                }
            }
        }
    }
}

TEST_F(SortTest, StableSortKeepsInputOrderOfEqualKeys) {
    // Descending key blocks force strictly-descending run reversal next to equal keys,
    // the case where a non-strict reversal would break stability.
    std::mt19937 random(99);
    for (int64_t n : {30, 500, 5000, 70000}) {
        for (int distinct : {1, 2, 3, 50}) {
            std::vector<keyed> data(static_cast<size_t>(n));
            for (int64_t i = 0; i < n; ++i)
                data[i] = {int32_t(distinct - 1 - i * distinct / n), int32_t(i)};
            for (int64_t i = 0; i < n / 10; ++i) data[random() % n].key = int32_t(random() % distinct);
            zor::sort::stable_merge_sort(data.data(), n, sizeof(keyed), nullptr, nullptr, compare_keyed);
            for (int64_t i = 1; i < n; ++i) {
                ASSERT_LE(data[i - 1].key, data[i].key) << "n=" << n << " at " << i;
                if (data[i - 1].key == data[i].key) {
                    ASSERT_LT(data[i - 1].sequence, data[i].sequence)
                        << "n=" << n << " distinct=" << distinct << " at " << i;
                }
            }
        }
    }
}

// Elements of a given byte size whose first byte is the key and whose other bytes are a
// function of the key and the element's start position, so a torn exchange shows.
struct sized_case {
    int64_t element_size;
    int64_t n;
};

int compare_first_byte(const void* x, const void* y, void*, void*) {
    return int(*static_cast<const uint8_t*>(x)) - int(*static_cast<const uint8_t*>(y));
}

TEST_F(SortTest, SortsElementSizesThatAreNotWordMultiples) {
    const sized_case cases[] = {{1, 1000}, {2, 1000}, {3, 777}, {5, 300}, {16, 2000}, {1, 9}, {3, 8}};
    std::mt19937 random(7);
    for (const named_sort& s : SORTS) {
        for (const sized_case& c : cases) {
            std::vector<std::string> elements;
            std::vector<uint8_t> data;
            for (int64_t i = 0; i < c.n; ++i) {
                std::string e(size_t(c.element_size), '\0');
                e[0] = char(random() % 200);
                for (int64_t b = 1; b < c.element_size; ++b) e[b] = char(e[0] * 31 + i * 7 + b);
                elements.push_back(e);
                data.insert(data.end(), e.begin(), e.end());
            }
            data.push_back(0xEE);  // nothing may be written past the last element
            s.run(data.data(), c.n, c.element_size, nullptr, nullptr, compare_first_byte);
            EXPECT_EQ(data.back(), 0xEE) << s.name;
            std::vector<std::string> got;
            for (int64_t i = 0; i < c.n; ++i)
                got.emplace_back(reinterpret_cast<const char*>(&data[i * c.element_size]), size_t(c.element_size));
            std::vector<std::string> expected = elements;
            std::stable_sort(expected.begin(), expected.end(),
                             [](const std::string& a, const std::string& b) { return uint8_t(a[0]) < uint8_t(b[0]); });
            if (s.stable) {
                EXPECT_EQ(got, expected) << s.name << " size " << c.element_size;
                continue;
            }
            for (int64_t i = 0; i < c.n; ++i)
                ASSERT_EQ(got[i][0], expected[i][0]) << s.name << " size " << c.element_size << " at " << i;
            std::sort(expected.begin(), expected.end());
            std::sort(got.begin(), got.end());
            EXPECT_EQ(got, expected) << s.name << " size " << c.element_size << ": elements were torn";
        }
    }
}

TEST_F(SortTest, RunsAreSortedWithLinearComparisons) {
    // Sorted, strictly descending and all-equal inputs: both sorts must recognise the run
    // and not fall back to insertion or partitioning.
    struct run_case {
        const char* name;
        int32_t (*key)(int64_t i, int64_t n);
    };
    const run_case cases[] = {
        {"ascending", [](int64_t i, int64_t) { return int32_t(i); }},
        {"strictly descending", [](int64_t i, int64_t n) { return int32_t(n - i); }},
        {"all equal", [](int64_t, int64_t) { return int32_t(3); }},
    };
    const int64_t n = 100000;
    for (const named_sort& s : SORTS) {
        for (const run_case& c : cases) {
            std::vector<keyed> data(n);
            for (int64_t i = 0; i < n; ++i) data[i] = {c.key(i, n), int32_t(i)};
            call_counter counter;
            s.run(data.data(), n, sizeof(keyed), &counter, nullptr, compare_keyed);
            EXPECT_LE(counter.calls, 2 * n) << s.name << " " << c.name;
            for (int64_t i = 1; i < n; ++i) ASSERT_LE(data[i - 1].key, data[i].key) << s.name << " " << c.name;
        }
    }
}

TEST_F(SortTest, QuickSortDoesNearLinearWorkOnNearlySortedInput) {
    // A few displaced elements in sorted or reversed input: the presorted pass gathers a
    // long sorted prefix and the partition sort only places the rest (a plain partition
    // sort needs about 15 comparisons per element here). An out-of-place first element
    // makes the first pair point the wrong way: the sampled score must overrule it.
    struct near_case {
        const char* name;
        bool reversed;
        int64_t displaced_per_ten_thousand;
        bool first_out_of_place;
    };
    const near_case cases[] = {
        {"sorted, 1 in 10000 displaced", false, 1, false},
        {"sorted, 10 in 10000 displaced", false, 10, false},
        {"sorted, 100 in 10000 displaced", false, 100, false},
        {"reversed, 10 in 10000 displaced", true, 10, false},
        {"reversed, 100 in 10000 displaced", true, 100, false},
        {"sorted, largest first", false, 0, true},
        {"reversed, smallest first", true, 0, true},
    };
    std::mt19937 random(31);
    const int64_t n = 100000;
    for (const near_case& c : cases) {
        std::vector<keyed> data(n);
        for (int64_t i = 0; i < n; ++i) data[i] = {int32_t(c.reversed ? n - i : i), int32_t(i)};
        if (c.first_out_of_place) data[0].key = c.reversed ? -1 : int32_t(n);
        for (int64_t k = 0; k < n * c.displaced_per_ten_thousand / 10000; ++k)
            std::swap(data[random() % n], data[random() % n]);
        call_counter counter;
        zor::sort::quick_sort(data.data(), n, sizeof(keyed), &counter, nullptr, compare_keyed);
        EXPECT_LE(counter.calls, 3 * n) << c.name;
        for (int64_t i = 1; i < n; ++i) ASSERT_LE(data[i - 1].key, data[i].key) << c.name;
    }
}

TEST_F(SortTest, ThrowingComparatorLeavesAPermutationOfTheInput) {
    // Throw points early, in the middle of run building, during merging/partitioning and
    // near the end; the stable sort's work buffer must be released as well.
    std::mt19937 random(2024);
    const int64_t sizes[] = {2, 10, 30, 200, 600, 5000};
    for (const named_sort& s : SORTS) {
        for (const shape& sh : shapes()) {
            for (int64_t n : sizes) {
                // Count the comparisons of an undisturbed run of the same input first.
                const std::vector<keyed> input = make_input(sh, n, random);
                std::vector<keyed> probe = input;
                call_counter full;
                s.run(probe.data(), n, sizeof(keyed), &full, nullptr, compare_keyed);
                for (int64_t at : {int64_t(1), full.calls / 3 + 1, full.calls / 2 + 1, full.calls * 9 / 10 + 1, full.calls}) {
                    std::vector<keyed> data = input;
                    call_counter counter;
                    counter.throw_at = at;
                    size_t blocks_before = zor::heap::block_count();
                    EXPECT_THROW(s.run(data.data(), n, sizeof(keyed), &counter, nullptr, compare_keyed),
                                 std::runtime_error)
                        << s.name << " " << sh.name << " n=" << n << " throw at " << at;
                    EXPECT_EQ(zor::heap::block_count(), blocks_before) << s.name << ": work buffer leaked";
                    ASSERT_TRUE(is_permutation_of_input(data))
                        << s.name << " " << sh.name << " n=" << n << " throw at " << at;
                }
            }
        }
    }
}

int compare_at_random(const void*, const void*, void* random_arg, void*) {
    return int((*static_cast<std::mt19937*>(random_arg))() % 3) - 1;
}

TEST_F(SortTest, InconsistentComparatorStillYieldsAPermutation) {
    // A user comparator need not be an order; the sorts must stay inside the data.
    std::mt19937 random(5);
    for (const named_sort& s : SORTS) {
        for (int64_t n : {8, 64, 700, 20000}) {
            std::vector<keyed> data(size_t(n) + 1);
            for (int64_t i = 0; i < n; ++i) data[i] = {int32_t(i), int32_t(i)};
            data[n] = {-99, -99};
            s.run(data.data(), n, sizeof(keyed), &random, nullptr, compare_at_random);
            EXPECT_EQ(data[n].key, -99) << s.name << " wrote past the end";
            data.pop_back();
            EXPECT_TRUE(is_permutation_of_input(data)) << s.name << " n=" << n;
        }
    }
}

TEST_F(SortTest, StableSortRaisesTooLongWhenTheWorkBufferExceeds32Bits) {
    // The size check comes before any element is touched, so no data is needed.
    struct overflow_case {
        int64_t n;
        int64_t element_size;
    };
    const overflow_case cases[] = {
        {(int64_t(INT32_MAX) + 1) * 2, 1},   // n / 2 = 2^31 bytes
        {(int64_t(1) << 28) + 2, 16},        // 2^27 + 1 cells
        {int64_t(1) << 40, 3},
    };
    for (const overflow_case& c : cases) {
        call_counter counter;
        int code = raised_code([&] {
            zor::sort::stable_merge_sort(nullptr, c.n, c.element_size, &counter, nullptr, compare_keyed);
        });
        EXPECT_EQ(code, zor::error_catalogue::code_of(zor::err::script_too_long)) << "n=" << c.n;
        EXPECT_EQ(counter.calls, 0);
    }
}

}  // namespace
