// The two element sorts behind `sort` and `sort/stable`.
//
// quick_sort first measures how presorted the input is and, when it is, gathers a long
// sorted prefix cheaply; the partition-exchange sort then takes that prefix as a hint: a
// sorted block whose median is a good pivot and whose halves need no further work. Without
// a hint it seeds itself from a 63-element region and grows the sorted region sixteen-fold
// per round from an even sample of the range.
//
// stable_merge_sort finds natural runs and merges them in the order given by the power of
// each run boundary (the depth of the boundary in a perfectly balanced merge tree), which
// keeps the merge tree nearly balanced with a stack of one entry per level.
//
// Every index below is checked against the range it walks, never guarded by a sentinel
// alone: the comparator is user code and need not be a consistent order.
#include "runtime/datatypes/series-sort.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/memory/heap.h"
#include "runtime/errors/raise.h"

namespace zor::sort {
namespace {

// The elements being sorted and the comparator that orders them.
struct elements {
    std::byte* base;
    int64_t size;
    void* arg1;
    void* arg2;
    comparator compare;
    bool by_words;  // the size is a multiple of 4: exchange 32-bit words

    std::byte* at(int64_t i) const { return base + i * size; }

    // The comparator's answer for element i against element j.
    int order(int64_t i, int64_t j) const { return compare(at(i), at(j), arg1, arg2); }
    int order(const std::byte* x, const std::byte* y) const { return compare(x, y, arg1, arg2); }

    void swap(int64_t i, int64_t j) const {
        std::byte* x = at(i);
        std::byte* y = at(j);
        if (by_words) {
            for (int64_t offset = 0; offset < size; offset += 4) {
                uint32_t a, b;
                std::memcpy(&a, x + offset, 4);
                std::memcpy(&b, y + offset, 4);
                std::memcpy(x + offset, &b, 4);
                std::memcpy(y + offset, &a, 4);
            }
        } else {
            for (int64_t offset = 0; offset < size; ++offset) std::swap(x[offset], y[offset]);
        }
    }

    // Exchanges [i, i + count) with [j, j + count); the two must not overlap.
    void swap_blocks(int64_t i, int64_t j, int64_t count) const {
        for (int64_t k = 0; k < count; ++k) swap(i + k, j + k);
    }

    // Reverses [from, to).
    void reverse(int64_t from, int64_t to) const {
        for (--to; from < to; ++from, --to) swap(from, to);
    }

    // Moves [source, source + count) to start at destination (destination <= source),
    // keeping its order; the elements it passes end up after it, in some order. Costs
    // O(count) exchanges either way: a block exchange when the two places are apart, a
    // rotation when they overlap.
    void bring_forward(int64_t destination, int64_t source, int64_t count) const {
        if (destination == source || count <= 0) return;
        if (source - destination >= count) {
            swap_blocks(destination, source, count);
        } else {
            reverse(destination, source);
            reverse(source, source + count);
            reverse(destination, source + count);
        }
    }
};

// ---------------------------------------------------------------------------------------
// The unstable sort.

constexpr int64_t SAMPLE_STEP = 97;        // distance between sampled neighbour pairs
constexpr int64_t PRESORTED_DIVISOR = 512; // presorted when |score| > n / 512
constexpr int64_t WINDOW = 10;             // the presorted scan looks at 10 elements at once
constexpr int64_t MINIMUM_STRETCH = 4;     // shorter ordered stretches are left in place
constexpr int64_t SMALL_RANGE = 7;         // insertion sort at or below this many elements
constexpr int64_t SEED_REGION = 63;        // first region of a range above 511 elements
constexpr int64_t SEED_THRESHOLD = 511;
constexpr int64_t WHOLE_RANGE_DIVISOR = 256;  // a hint above n / 256 makes the region n

// Whether x then y are in order for a direction (+1 ascending, -1 descending); equal
// neighbours are in order either way.
inline bool in_direction(const elements& e, int64_t x, int64_t y, int direction) {
    int c = e.order(x, y);
    return direction > 0 ? c <= 0 : c >= 0;
}

// Measures how presorted [0, n) is and, when it counts as presorted, rearranges it so
// that a sorted prefix as long as cheaply possible leads. Returns the prefix length to
// pass as the partition sort's hint (n when everything is sorted), or 0 when the input
// does not count as presorted.
int64_t gather_sorted_prefix(const elements& e, int64_t n) {
    // The first unequal neighbours fix the direction; all equal means sorted.
    int64_t i = 0;
    int direction = 0;
    for (; i + 1 < n; ++i) {
        int c = e.order(i, i + 1);
        if (c != 0) {
            direction = c < 0 ? 1 : -1;
            break;
        }
    }
    if (direction == 0) return n;

    int64_t prefix = i + 2;
    while (prefix < n && in_direction(e, prefix - 1, prefix, direction)) ++prefix;
    if (prefix == n) {
        if (direction < 0) e.reverse(0, n);
        return n;
    }

    // The pair at the prefix's end went against it; sample beyond that.
    int64_t score = direction * prefix;
    for (int64_t j = prefix - 1 + SAMPLE_STEP; j + 1 < n; j += SAMPLE_STEP) {
        int c = e.order(j, j + 1);
        if (c < 0) ++score;
        else if (c > 0) --score;
    }
    if ((score < 0 ? -score : score) <= n / PRESORTED_DIVISOR) return 0;
    if ((score > 0) != (direction > 0)) {
        // The bulk goes the other way: start over from the first element alone.
        prefix = 1;
        direction = -direction;
    }

    // Join ordered stretches of the rest to the prefix, window by window.
    int64_t next = prefix;  // the first element not yet scanned
    while (next < n) {
        int64_t window_end = std::min(next + WINDOW, n);
        int64_t best_start = next, best_length = 1, run_start = next;
        for (int64_t j = next + 1; j < window_end; ++j) {
            if (!in_direction(e, j - 1, j, direction)) {
                run_start = j;
            } else if (j + 1 - run_start > best_length) {
                best_start = run_start;
                best_length = j + 1 - run_start;
            }
        }
        if (best_length < MINIMUM_STRETCH) {
            next = window_end;
            continue;
        }
        // A stretch that reaches the window's end may go on beyond it.
        int64_t stretch_end = best_start + best_length;
        if (stretch_end == window_end) {
            while (stretch_end < n && in_direction(e, stretch_end - 1, stretch_end, direction))
                ++stretch_end;
        }
        next = stretch_end;
        int64_t length = stretch_end - best_start;

        // Where the prefix's end and the stretch's start do not continue each other, cut
        // both back pairwise: the prefix loses its last cut elements and the stretch its
        // first ones, which stay behind among the unsorted elements.
        int64_t limit = std::min(length / 2, prefix / 4);
        int64_t cut = 0;
        while (cut <= limit && !in_direction(e, prefix - 1 - cut, best_start + cut, direction))
            ++cut;
        if (cut <= limit) {
            e.bring_forward(prefix - cut, best_start + cut, length - cut);
            prefix += length - 2 * cut;
        } else if (length > prefix) {
            // They cannot be joined, but the stretch is the longer sorted run: it becomes
            // the prefix, and the old prefix joins the unsorted elements.
            e.bring_forward(0, best_start, length);
            prefix = length;
        }
    }
    if (direction < 0) e.reverse(0, prefix);
    return prefix;
}

void insertion_sort(const elements& e, int64_t first, int64_t n) {
    for (int64_t i = first + 1; i < first + n; ++i)
        for (int64_t j = i; j > first && e.order(j - 1, j) > 0; --j) e.swap(j - 1, j);
}

// Sorts [first, first + n). hint > 0: the first hint elements are sorted; hint < 0: the
// last -hint elements are sorted; 0: nothing is known.
void partition_sort(const elements& e, int64_t first, int64_t n, int64_t hint) {
    while (n > SMALL_RANGE) {
        int64_t sorted = hint < 0 ? -hint : hint;
        if (sorted >= n) return;

        // Set up the region [first, first + region): a sorted block of `lower` elements at
        // its front whose last is the pivot, a sorted block of `upper` elements at least
        // as great as the pivot at its end, and unsorted elements between.
        int64_t region, lower, upper;
        if (sorted > 2) {
            region = sorted > n / WHOLE_RANGE_DIVISOR ? n : 16 * sorted - 1;
            lower = (sorted + 1) / 2;
            upper = sorted / 2;
            if (hint < 0) {
                if (region < n) {
                    e.swap_blocks(first, first + n - sorted, sorted);
                    hint = sorted;
                } else {
                    // The upper half is already at the end of the region.
                    e.bring_forward(first, first + n - sorted, lower);
                }
            }
            if (hint > 0) {
                if (region < n) {
                    // Gather an even sample of the whole range after the sorted prefix.
                    int64_t stride = n / region;
                    for (int64_t k = 0; sorted + k < region; ++k)
                        e.swap(first + sorted + k, first + sorted + k * stride);
                }
                for (int64_t k = 0; k < upper; ++k)
                    e.swap(first + sorted - 1 - k, first + region - 1 - k);
            }
        } else {
            // Median of the first, middle and last elements at position 1; the smallest
            // stays in front of it, the greatest at the region's end.
            region = n > SEED_THRESHOLD ? SEED_REGION : n;
            int64_t last = first + region - 1;
            e.swap(first + region / 2, first + 1);
            if (e.order(first, first + 1) > 0) e.swap(first, first + 1);
            if (e.order(first + 1, last) > 0) {
                e.swap(first + 1, last);
                if (e.order(first, first + 1) > 0) e.swap(first, first + 1);
            }
            lower = 2;
            upper = 1;
        }

        // Partition the unsorted elements: [pivot, equal_end) equal to the pivot,
        // [equal_end, left) less, (right, unsorted_end] greater.
        const int64_t pivot = first + lower - 1;
        const int64_t region_end = first + region;
        int64_t equal_end = pivot + 1;
        int64_t left = pivot + 1;
        int64_t right = region_end - upper - 1;
        for (;;) {
            while (left <= right) {
                int c = e.order(left, pivot);
                if (c > 0) break;
                if (c == 0) {
                    if (left != equal_end) e.swap(left, equal_end);
                    ++equal_end;
                }
                ++left;
            }
            int right_order = 1;
            while (right > left) {
                right_order = e.order(right, pivot);
                if (right_order <= 0) break;
                --right;
            }
            if (right <= left) break;
            e.swap(left, right);
            if (right_order == 0) {
                if (left != equal_end) e.swap(left, equal_end);
                ++equal_end;
            }
            ++left;
            --right;
        }
        // Less, equal, greater: the equal block trades places with the last less elements.
        int64_t equal_count = equal_end - pivot;
        int64_t less_count = left - equal_end;
        int64_t moved = std::min(equal_count, less_count);
        e.swap_blocks(pivot, left - moved, moved);

        int64_t less_part = pivot + less_count - first;  // the lower block included
        int64_t greater_part = region_end - left;        // the upper block included
        if (greater_part > upper) partition_sort(e, left, greater_part, -upper);
        int64_t sorted_lower = lower - 1;  // the pivot's index: the lower block less the pivot
        if (region < n) {
            if (less_part > sorted_lower) partition_sort(e, first, less_part, sorted_lower);
            hint = region;  // the region is sorted now
        } else {
            if (less_part <= sorted_lower) return;
            n = less_part;
            hint = sorted_lower;
        }
    }
    insertion_sort(e, first, n);
}

// ---------------------------------------------------------------------------------------
// The stable sort.

constexpr int64_t MINIMUM_RUN = 24;
constexpr int RUN_STACK_CAPACITY = 65;  // the bottom entry and at most one per power 1..63

// The process-heap work buffer, released on every way out.
class work_buffer {
public:
    explicit work_buffer(int64_t bytes)
        : bytes_(static_cast<std::byte*>(heap::try_allocate(static_cast<size_t>(bytes)))) {
        if (bytes_ == nullptr) raise::throw_error(err::internal_no_memory);
    }
    ~work_buffer() { heap::release(bytes_); }
    work_buffer(const work_buffer&) = delete;
    work_buffer& operator=(const work_buffer&) = delete;
    std::byte* bytes() const { return bytes_; }

private:
    std::byte* bytes_;
};

// Ends the run that starts at `start`: the longest non-descending prefix, or the longest
// strictly descending one reversed (strictly, so equal elements never swap order), then
// extended by insertion to MINIMUM_RUN elements or the end.
int64_t natural_run(const elements& e, int64_t start, int64_t n) {
    int64_t end = start + 1;
    if (end < n) {
        if (e.order(start, end) > 0) {
            do ++end;
            while (end < n && e.order(end - 1, end) > 0);
            e.reverse(start, end);
        } else {
            do ++end;
            while (end < n && e.order(end - 1, end) <= 0);
        }
    }
    for (int64_t minimum = std::min(start + MINIMUM_RUN, n); end < minimum; ++end)
        for (int64_t j = end; j > start && e.order(j - 1, j) > 0; --j) e.swap(j - 1, j);
    return end;
}

// The power of the boundary between runs [s1, e1) and [e1, e2): one more than the number
// of leading binary digits that their midpoints, as fractions of n, share.
int boundary_power(int64_t s1, int64_t e1, int64_t e2, int64_t n) {
    int64_t a = s1 + e1;
    int64_t b = e1 + e2;
    int power = 0;
    while ((a < n) == (b < n)) {
        ++power;
        if (a >= n) {
            a -= n;
            b -= n;
        }
        a *= 2;
        b *= 2;
    }
    return power + 1;
}

// Merges the sorted runs [low, middle) and [middle, high) through the work buffer, which
// holds the shorter run. Elements in the buffer have left a gap of the same size in the
// data; the gap's owner below writes them back whether the merge finishes or the
// comparator throws, so the data is a permutation of the input either way.
void merge(const elements& e, std::byte* work, int64_t low, int64_t middle, int64_t high) {
    const int64_t size = e.size;
    const int64_t left_count = middle - low;
    const int64_t right_count = high - middle;

    struct gap_filler {
        std::byte* gap;        // where the buffered elements go back
        const std::byte* from;  // the first buffered element not yet placed
        int64_t bytes;
        ~gap_filler() {
            if (bytes > 0) std::memcpy(gap, from, static_cast<size_t>(bytes));
        }
    };

    if (right_count < left_count) {
        // From the back: the left element goes first only when it is greater.
        std::memcpy(work, e.at(middle), static_cast<size_t>(right_count * size));
        int64_t left = middle - 1;           // last unplaced left element
        int64_t buffered = right_count - 1;  // last unplaced buffered element
        int64_t destination = high - 1;
        gap_filler filler{e.at(left + 1), work, right_count * size};
        while (buffered >= 0 && left >= low) {
            const std::byte* right = work + buffered * size;
            if (e.order(e.at(left), right) > 0) {
                std::memcpy(e.at(destination), e.at(left), static_cast<size_t>(size));
                --left;
                filler.gap = e.at(left + 1);
            } else {
                std::memcpy(e.at(destination), right, static_cast<size_t>(size));
                --buffered;
                filler.bytes = (buffered + 1) * size;
            }
            --destination;
        }
    } else {
        // From the front: the buffered left element goes first when less or equal.
        std::memcpy(work, e.at(low), static_cast<size_t>(left_count * size));
        int64_t buffered = 0;  // first unplaced buffered element
        int64_t right = middle;
        int64_t destination = low;
        gap_filler filler{e.at(destination), work, left_count * size};
        while (buffered < left_count && right < high) {
            const std::byte* left = work + buffered * size;
            if (e.order(left, e.at(right)) <= 0) {
                std::memcpy(e.at(destination), left, static_cast<size_t>(size));
                ++buffered;
                filler.from = work + buffered * size;
                filler.bytes = (left_count - buffered) * size;
            } else {
                std::memcpy(e.at(destination), e.at(right), static_cast<size_t>(size));
                ++right;
            }
            ++destination;
            filler.gap = e.at(destination);
        }
    }
}

}  // namespace

void quick_sort(void* base, int64_t n, int64_t element_size, void* arg1, void* arg2,
                comparator compare) {
    if (n < 2 || element_size < 1) return;
    const elements e{static_cast<std::byte*>(base), element_size, arg1, arg2, compare,
                     element_size % 4 == 0};
    int64_t hint = gather_sorted_prefix(e, n);
    if (hint >= n) return;
    partition_sort(e, 0, n, hint);
}

void stable_merge_sort(void* base, int64_t n, int64_t element_size, void* arg1, void* arg2,
                       comparator compare) {
    if (n < 2 || element_size < 1) return;
    const int64_t half = n / 2;
    if (half > INT32_MAX / element_size) raise::throw_error(err::script_too_long);
    work_buffer work(half * element_size);
    const elements e{static_cast<std::byte*>(base), element_size, arg1, arg2, compare,
                     element_size % 4 == 0};

    struct run_entry {
        int64_t start;
        int power;
    };
    // Powers on the stack strictly increase from the bottom entry (power 0, never popped).
    run_entry stack[RUN_STACK_CAPACITY];
    int top = 0;
    stack[0] = {0, 0};

    int64_t left_start = 0;
    int64_t left_end = natural_run(e, 0, n);
    while (left_end < n) {
        int64_t right_end = natural_run(e, left_end, n);
        int power = boundary_power(left_start, left_end, right_end, n);
        // The capacity test never fires for a correct power sequence; it only keeps the
        // fixed stack in bounds should it ever be wrong (merging earlier stays stable).
        while (stack[top].power > power || (top > 0 && top == RUN_STACK_CAPACITY - 1)) {
            merge(e, work.bytes(), stack[top].start, left_start, left_end);
            left_start = stack[top].start;
            --top;
        }
        stack[++top] = {left_start, power};
        left_start = left_end;
        left_end = right_end;
    }
    while (top > 0) {
        merge(e, work.bytes(), stack[top].start, left_start, n);
        left_start = stack[top].start;
        --top;
    }
}

}  // namespace zor::sort
