// Pattern-defeating quicksort on the calling thread: the engine's unstable sort. The
// parallel sort (slice/parallel_quicksort.hpp) runs the same step with a fork policy that
// splits large partitions across the worker pool.
//
// Median-based pivot choice that also guesses sorted and descending input, block
// partitioning (comparisons collected branch-free into byte offsets, elements moved by one
// cyclic permutation per pass), a fast path for runs of elements equal to an earlier pivot,
// pattern breaking after unbalanced partitions, and heapsort once too many partitions were
// unbalanced, which bounds the worst case at O(n log n) comparisons.
//
// No allocation: the only state is a pair of 128-byte offset arrays on the stack. The one
// failure is the comparator's panic; every element held aside while a comparison can throw
// is written back first, so an interrupted sort leaves a permutation of its input.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "comparison/insertion_sort.hpp"
#include "comparison/small_sort.hpp"
#include "simd/kernels.hpp"
#include "traits/traits.hpp"

namespace tamarind {

namespace quicksort {

// Slices of at most this many elements are insertion-sorted.
inline constexpr std::size_t kInsertionThreshold = 20;
// Partitions whose sides both have at most this many elements stay on the current thread.
inline constexpr std::size_t kSequentialThreshold = 2000;
// From this length each pivot candidate is first replaced by the median of its neighbourhood.
inline constexpr std::size_t kMedianOfMediansThreshold = 50;
// Index swaps in pivot choice read as a descending slice: all 12 of the four median-of-three
// steps, which only happens from kMedianOfMediansThreshold elements.
inline constexpr std::size_t kMaxPivotSwaps = 12;
// Out-of-order pairs repaired at most when a slice looks sorted.
inline constexpr int kNearlySortedSteps = 5;
// Below this length a slice that looks sorted is only checked, never repaired.
inline constexpr std::size_t kNearlySortedMinimum = 50;
// Elements per block of the block partition.
inline constexpr std::size_t kBlock = 128;
// A partition is balanced when its smaller side holds at least len / kBalanceDivisor elements.
inline constexpr std::size_t kBalanceDivisor = 8;

static_assert(kBlock <= 256, "block offsets are stored in bytes");
static_assert(kInsertionThreshold >= 8,
              "pivot choice and pattern breaking index around len / 4 and need a few elements");

// Slices the sort hands whole to its branch-free base case when it runs on a comparator
// that cannot fail (the slice was checked for NaN): sorting them by network costs less than
// partitioning them. kOrderedBaseCase for the scalar networks; the vector kernels' networks
// take up to simd::kNetworkMax elements.
inline constexpr std::size_t kOrderedBaseCase = kSmallSortMax;
static_assert(kOrderedBaseCase >= kInsertionThreshold, "the ordered base case takes over from insertion sort");
static_assert(simd::kNetworkMax >= kOrderedBaseCase, "the vector networks take at least the scalar base case");

template <class Less>
constexpr std::size_t base_case_max() {
    if constexpr (simd::kHasKernels<Less>) {
        return simd::kNetworkMax;
    } else if constexpr (kIsOrderedLess<Less>) {
        return kOrderedBaseCase;
    } else {
        return kInsertionThreshold;
    }
}

struct PivotChoice {
    std::size_t index;
    bool likely_sorted;
};

// Picks a pivot index of v[0, n), n > kInsertionThreshold: the median of three candidates
// at n/4, n/2 and 3n/4 (each first the median of its neighbours when n is large enough).
// No swap at all suggests sorted input; all of them suggest descending input, which is
// reversed here so that the caller may find it sorted.
template <class T, class Less>
PivotChoice choose_pivot(T* v, std::size_t n, const Less& is_less) {
    const std::size_t quarter = n / 4;
    std::size_t a = quarter;
    std::size_t b = 2 * quarter;
    std::size_t c = 3 * quarter;
    std::size_t swaps = 0;

    // Only the indices move, never the elements; by selects rather than branches, since
    // on unsorted data each comparison is a coin toss.
    auto sort2 = [&](std::size_t& i, std::size_t& j) {
        const bool out_of_order = is_less(v[j], v[i]);
        const std::size_t lo = out_of_order ? j : i;
        j = out_of_order ? i : j;
        i = lo;
        swaps += out_of_order;
    };
    auto sort3 = [&](std::size_t& i, std::size_t& j, std::size_t& k) {
        sort2(i, j);
        sort2(j, k);
        sort2(i, j);
    };
    auto sort_adjacent = [&](std::size_t& t) {
        std::size_t lo = t - 1;
        std::size_t hi = t + 1;
        sort3(lo, t, hi);
    };

    if (n >= kMedianOfMediansThreshold) {
        sort_adjacent(a);
        sort_adjacent(b);
        sort_adjacent(c);
    }
    sort3(a, b, c);

    if (swaps < kMaxPivotSwaps) return {b, swaps == 0};
    std::reverse(v, v + n);
    return {n - 1 - b, true};
}

// Swaps three elements around the middle of v[0, n) with positions from a xorshift
// generator seeded by n, to break the pattern behind an unbalanced partition.
template <class T>
void break_patterns(T* v, std::size_t n) {
    std::uint64_t seed = n;
    const std::size_t mask = std::bit_ceil(n) - 1;
    const std::size_t pos = n / 4 * 2;
    for (std::size_t i = 0; i < 3; ++i) {
        std::uint64_t x = seed;
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        seed = x;
        std::size_t other = static_cast<std::size_t>(x) & mask;
        if (other >= n) other -= n;  // mask < 2n, so one subtraction lands inside
        std::swap(v[pos - 1 + i], v[other]);
    }
}

// Finds v[0, n) sorted or repairs up to kNearlySortedSteps out-of-order pairs; returns
// whether v is sorted now. Sorted input costs exactly n - 1 comparisons.
template <class T, class Less>
bool repair_nearly_sorted(T* v, std::size_t n, const Less& is_less) {
    // The vector scan settles sorted input (and runs of equal elements) several times
    // faster; it stops at the first vector out of order, where the repair starts over.
    if constexpr (simd::kHasKernels<Less>) {
        if (is_less.kernels->is_non_descending(v, n)) return true;
    }
    std::size_t i = 1;
    for (int step = 0; step < kNearlySortedSteps; ++step) {
        while (i < n && !is_less(v[i], v[i - 1])) ++i;
        if (i == n) return true;
        if (n < kNearlySortedMinimum) return false;
        std::swap(v[i - 1], v[i]);
        // v[0, i - 1) is sorted; after the insertion so is v[0, i + 1), since the element
        // swapped to i was the largest of the prefix.
        if (i >= 2) insert_tail(v, i - 1, is_less);
    }
    return false;
}

// Partitions v[0, n) into elements equal to v[p] followed by greater ones, knowing that no
// element is less than v[p]; returns the number of equal elements (the pivot included).
template <class T, class Less>
std::size_t partition_equal(T* v, std::size_t n, std::size_t p, const Less& is_less) {
    std::swap(v[0], v[p]);
    if constexpr (simd::kHasKernels<Less>) {
        // Nothing compared here can fail, so v[0] may stay where it is.
        return 1 + is_less.kernels->partition_not_greater(v + 1, n - 1, v[0]);
    }
    // The pivot is held in a local; v[0] keeps its copy untouched, so a comparator panic
    // leaves a permutation without a write-back.
    const T pivot = v[0];
    T* t = v + 1;
    std::size_t l = 0;
    std::size_t r = n - 1;
    for (;;) {
        while (l < r && !is_less(pivot, t[l])) ++l;
        while (l < r && is_less(pivot, t[r - 1])) --r;
        if (l >= r) break;
        --r;
        std::swap(t[l], t[r]);
        ++l;
    }
    return l + 1;
}

// Moves the elements of w[0, n) that are less than pivot to the front and returns how many
// there are. Blocks of up to kBlock elements from each end are scanned branch-free into
// byte offsets of misplaced elements; the misplaced pairs are then exchanged by one cyclic
// permutation, which writes each element once instead of twice as pairwise swaps would.
template <class T, class Less>
std::size_t partition_in_blocks(T* w, std::size_t n, T pivot, const Less& is_less) {
    T* l = w;
    T* r = w + n;
    std::size_t block_l = kBlock;
    std::size_t block_r = kBlock;
    std::uint8_t offsets_l[kBlock];
    std::uint8_t offsets_r[kBlock];
    std::uint8_t* start_l = offsets_l;
    std::uint8_t* end_l = offsets_l;
    std::uint8_t* start_r = offsets_r;
    std::uint8_t* end_r = offsets_r;

    for (;;) {
        // The last pass shares what lies between the cursors out between the two blocks, so
        // that the blocks meet exactly.
        const bool is_done = static_cast<std::size_t>(r - l) <= 2 * kBlock;
        if (is_done) {
            std::size_t rem = static_cast<std::size_t>(r - l);
            // A list still holding offsets belongs to a full block that is still in place.
            if (start_l < end_l || start_r < end_r) rem -= kBlock;
            if (start_l < end_l) {
                block_r = rem;
            } else if (start_r < end_r) {
                block_l = rem;
            } else {
                block_l = rem / 2;
                block_r = rem - block_l;
            }
        }

        // The offset is stored every time and the list end advances by the comparison's
        // result: no branch depends on the data.
        if (start_l == end_l) {
            start_l = offsets_l;
            end_l = offsets_l;
            const T* elem = l;
            for (std::size_t i = 0; i < block_l; ++i) {
                *end_l = static_cast<std::uint8_t>(i);
                end_l += !is_less(elem[i], pivot);
            }
        }
        if (start_r == end_r) {
            start_r = offsets_r;
            end_r = offsets_r;
            const T* elem = r - 1;
            for (std::size_t i = 0; i < block_r; ++i) {
                *end_r = static_cast<std::uint8_t>(i);
                end_r += is_less(*(elem - i), pivot);
            }
        }

        const std::size_t count =
            std::min(static_cast<std::size_t>(end_l - start_l), static_cast<std::size_t>(end_r - start_r));
        if (count > 0) {
            // No comparison happens here, so the element held aside cannot be lost to a panic.
            auto left = [&]() -> T& { return l[*start_l]; };
            auto right = [&]() -> T& { return *(r - 1 - *start_r); };
            const T held = left();
            left() = right();
            for (std::size_t k = 1; k < count; ++k) {
                ++start_l;
                right() = left();
                ++start_r;
                left() = right();
            }
            right() = held;
            ++start_l;
            ++start_r;
        }

        if (start_l == end_l) l += block_l;
        if (start_r == end_r) r -= block_r;
        if (is_done) break;
    }

    // At most one list still holds offsets; move its elements to the border, last listed
    // first, so that each exchange touches a position not yet settled.
    if (start_l < end_l) {
        while (start_l < end_l) {
            --end_l;
            --r;
            std::swap(l[*end_l], *r);
        }
        return static_cast<std::size_t>(r - w);
    }
    if (start_r < end_r) {
        while (start_r < end_r) {
            --end_r;
            std::swap(*l, *(r - 1 - *end_r));
            ++l;
        }
    }
    return static_cast<std::size_t>(l - w);
}

struct PartitionResult {
    std::size_t mid;
    bool was_partitioned;
};

// Partitions v[0, n) around v[p]: afterwards v[mid] is the pivot, everything before it is
// less and nothing after it is. was_partitioned says no element had to move.
template <class T, class Less>
PartitionResult partition(T* v, std::size_t n, std::size_t p, const Less& is_less) {
    std::swap(v[0], v[p]);
    // Held in a local (a register in the hot loops); v[0] keeps its copy untouched until the
    // final exchange, so a comparator panic leaves a permutation without a write-back.
    const T pivot = v[0];
    T* t = v + 1;
    std::size_t l = 0;
    std::size_t r = n - 1;
    // Skip the prefix and suffix that are already on their side.
    while (l < r && is_less(t[l], pivot)) ++l;
    while (l < r && !is_less(t[r - 1], pivot)) --r;
    std::size_t mid = l;
    if constexpr (simd::kHasKernels<Less>) {
        mid += is_less.kernels->partition_less(t + l, r - l, pivot);
    } else {
        mid += partition_in_blocks(t + l, r - l, pivot, is_less);
    }
    v[0] = v[mid];
    v[mid] = pivot;
    return {mid, l >= r};
}

// Sorts v[0, n) by heapsort: O(n log n) comparisons whatever the input.
template <class T, class Less>
void heapsort(T* v, std::size_t n, const Less& is_less) {
    auto sift_down = [&](std::size_t node, std::size_t end) {
        for (;;) {
            std::size_t child = 2 * node + 1;
            if (child >= end) return;
            if (child + 1 < end && is_less(v[child], v[child + 1])) ++child;
            if (!is_less(v[node], v[child])) return;
            std::swap(v[node], v[child]);
            node = child;
        }
    };
    for (std::size_t i = n / 2; i-- > 0;) sift_down(i, n);
    for (std::size_t i = n; i-- > 1;) {
        std::swap(v[0], v[i]);
        sift_down(0, i);
    }
}

}  // namespace quicksort

// Keeps every partition on the calling thread.
struct SequentialFork {
    static constexpr bool kParallel = false;
};

// Sorts v[0, n) under is_less. pred, when not null, points at an element just left of v
// that is less than or equal to every element of v (the pivot of an enclosing partition).
// limit is the number of unbalanced partitions still tolerated before heapsort.
// With a Fork whose kParallel is true, partitions with a side above kSequentialThreshold
// elements sort their two sides through Fork::join; with SequentialFork everything stays on
// the calling thread.
template <class Fork, class T, class Less>
void quicksort_step(T* v, std::size_t n, const Less& is_less, std::type_identity_t<const T*> pred,
                    std::uint32_t limit) {
    using namespace quicksort;
    static_assert(std::is_trivially_copyable_v<T>, "elements are moved by plain copies");

    bool was_balanced = true;
    bool was_partitioned = true;
    for (;;) {
        if (n <= base_case_max<Less>()) {
            // Branch-free for the element types' own comparators.
            if constexpr (simd::kHasKernels<Less>) {
                is_less.kernels->sort_network(v, n);
            } else {
                insertion_sort(v, n, is_less);
            }
            return;
        }
        if (limit == 0) {
            heapsort(v, n, is_less);
            return;
        }
        if (!was_balanced) {
            break_patterns(v, n);
            --limit;
        }

        const auto [pivot, likely_sorted] = choose_pivot(v, n, is_less);
        // Only worth trying when the last partition moved nothing and was balanced: the
        // slice is then probably (nearly) sorted already.
        if (was_balanced && was_partitioned && likely_sorted) {
            if (repair_nearly_sorted(v, n, is_less)) return;
        }

        // A pivot no greater than pred equals the smallest value of this slice: put every
        // copy of it in place at once. This keeps inputs with many duplicates O(n log k).
        if (pred != nullptr && !is_less(*pred, v[pivot])) {
            const std::size_t mid = partition_equal(v, n, pivot, is_less);
            v += mid;
            n -= mid;
            continue;
        }

        const auto [mid, partitioned] = partition(v, n, pivot, is_less);
        was_balanced = std::min(mid, n - mid) >= n / kBalanceDivisor;
        was_partitioned = partitioned;

        T* const left = v;
        const std::size_t left_n = mid;
        const T* const middle = v + mid;
        T* const right = v + mid + 1;
        const std::size_t right_n = n - mid - 1;

        if (!Fork::kParallel || std::max(left_n, right_n) <= kSequentialThreshold) {
            // Recursing into the shorter side keeps the stack depth O(log n).
            if (left_n < right_n) {
                quicksort_step<Fork>(left, left_n, is_less, pred, limit);
                v = right;
                n = right_n;
                pred = middle;
            } else {
                quicksort_step<Fork>(right, right_n, is_less, middle, limit);
                v = left;
                n = left_n;
            }
        } else {
            // The left side runs here; the right one is offered to other workers. The pivot
            // between them is only read, as the right side's pred.
            if constexpr (Fork::kParallel) {
                Fork::join([&] { quicksort_step<Fork>(left, left_n, is_less, pred, limit); },
                           [&] { quicksort_step<Fork>(right, right_n, is_less, middle, limit); });
            }
            return;
        }
    }
}

// Whether v[0, n) holds an element the comparator of Traits would fail on (a NaN), by the
// vector scan where the processor has one.
template <class Traits>
bool has_unordered(const typename Traits::value_type* v, std::size_t n) {
    if constexpr (!Traits::kMayBeUnordered) {
        return false;
    } else {
        const simd::KernelSet* kernels = simd::best_kernels();
        return kernels != nullptr ? kernels->has_nan(v, n) : Traits::has_unordered(v, n);
    }
}

// Calls f with the order of Traits for slices free of NaN: the vector kernels' where the
// processor has them, else the scalar one.
template <class Traits, class F>
void with_ordered_less(F&& f) {
    using T = typename Traits::value_type;
    if (const simd::KernelSet* kernels = simd::best_kernels()) {
        f(simd::KernelLess<Traits>{&kernels->template of<T>()});
    } else {
        f(OrderedLessOf<Traits>{});
    }
}

// Whether no element of v[0, n) is less than the one before it, under an order that cannot
// fail: by the vector scan where the processor has one.
template <class T, class Less>
bool is_non_descending(const T* v, std::size_t n, const Less& ordered) {
    if constexpr (simd::kHasKernels<Less>) {
        return ordered.kernels->is_non_descending(v, n);
    } else {
        return std::is_sorted(v, v + n, ordered);
    }
}

// Sorts v[0, n), n <= base_case_max<Less>(), under an order that cannot fail; non-descending
// input is left unchanged (bit for bit: equal -0.0 and +0.0 too), strictly descending input
// reversed.
template <class T, class Less>
void sort_short_ordered(T* v, std::size_t n, const Less& ordered) {
    if constexpr (simd::kHasKernels<Less>) {
        if (n < 2 || is_non_descending(v, n, ordered)) return;
        if (ordered.kernels->is_strictly_descending(v, n)) {
            std::reverse(v, v + n);
            return;
        }
        ordered.kernels->sort_network(v, n);
    } else {
        small_sort(v, n, ordered);
    }
}

}  // namespace tamarind
