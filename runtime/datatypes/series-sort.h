// In-place sorts of fixed-size raw elements, ordered by a comparator callback.
//
// `sort` on blocks and strings hands its work to these two: quick_sort, unstable, adapts
// to presorted input and allocates nothing; stable_merge_sort, a natural merge sort that
// keeps equal elements in input order and borrows a work buffer of n / 2 elements. They
// know nothing of values: they move elements of element_size bytes and ask the comparator
// for their order, passing arg1 and arg2 through untouched.
//
// Invariant: the comparator runs user code and may throw. Both sorts move elements only by
// exchanges or through a work buffer that is written back before an exception leaves, so
// whenever the comparator throws, the data is still a permutation of the input and no
// memory is leaked. An inconsistent comparator (one that is not a total order) yields some
// permutation, never an access outside the n elements.
//
// The comparator must not allocate in a way that can move the data being sorted: callers
// that sort a series buffer pin it for the duration.
#pragma once

#include <cstdint>

namespace zor::sort {

// Negative when x sorts before y, 0 when they are equal, positive when x sorts after y.
using comparator = int (*)(const void* x, const void* y, void* arg1, void* arg2);

// Unstable, no extra memory beyond the recursion; near-linear on sorted, reversed and
// nearly sorted input. n below 2 (or an element_size below 1) leaves the data untouched.
void quick_sort(void* base, int64_t n, int64_t element_size, void* arg1, void* arg2,
                comparator compare);

// Stable. Raises script/too-long when the work buffer of n / 2 elements would exceed the
// 32-bit size limit, internal/no-memory when it cannot be allocated.
void stable_merge_sort(void* base, int64_t n, int64_t element_size, void* arg1, void* arg2,
                       comparator compare);

}  // namespace zor::sort
