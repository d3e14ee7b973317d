// Pattern-defeating quicksort on the calling thread, the step every comparison sort runs:
// unstable_sort (comparison_sort.hpp) calls it directly, parallel_quicksort
// (parallel_quicksort.hpp) with a fork policy that splits large partitions across the
// worker pool.
//
// Median-based pivot choice that also guesses sorted and descending input, partitioning
// without a data-dependent branch, a fast path for runs of elements equal to an earlier
// pivot, pattern breaking after unbalanced partitions, and heapsort once too many
// partitions were unbalanced, which bounds the worst case at O(n log n) comparisons.
//
// The step runs on one of two orders, and nothing else about them is asked:
//   KernelOrder<Traits>: an element type's own order on a slice the NaN gate passed; the
//       base case, partitions and sorted-prefix scan are the kernel table's (never null).
//   ComparatorOrder<Less>: any strict weak order, which may fail (throw) at any comparison;
//       insertion sort below kInsertionThreshold, the scalar partitions above. Every
//       element held aside while a comparison can throw is written back first, so an
//       interrupted sort leaves a permutation of its input.
// No allocation: the only state is on the stack.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "comparison/insertion_sort.hpp"
#include "simd/block_partition.hpp"
#include "simd/kernels.hpp"
#include "simd/small_sort.hpp"

namespace tamarind {

namespace quicksort {

// Slices of at most this many elements are insertion-sorted (ComparatorOrder).
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
// Elements sampled to judge whether a slice within the base case holds few values.
inline constexpr std::size_t kBaseCaseSamples = 8;
// A partition is balanced when its smaller side holds at least len / kBalanceDivisor elements.
inline constexpr std::size_t kBalanceDivisor = 8;

static_assert(kInsertionThreshold >= 8,
              "pivot choice and pattern breaking index around len / 4 and need a few elements");
static_assert(simd::kSmallSortMax >= kInsertionThreshold && simd::kNetworkMax >= kInsertionThreshold,
              "every kernel table's base case (network_max) takes at least what insertion sort would");

// An element type's own order on a slice free of NaN, its steps on a kernel table.
template <class Traits>
struct KernelOrder {
    using T = typename Traits::value_type;
    const simd::Kernels<T>* kernels;
    std::size_t base_case;  // at most kernels->network_max

    // The order for a sort of n elements: the table's base case for its length.
    static KernelOrder for_sort(const simd::Kernels<T>& kernels, std::size_t n) noexcept {
        return {&kernels, n <= simd::kShortQuicksortMax ? kernels.short_sort_base_case : kernels.network_max};
    }

    bool operator()(T a, T b) const noexcept { return Traits::less(a, b); }
    std::size_t base_case_max() const noexcept { return base_case; }
    // Data with few distinct keys ends in base cases of one value, which the network would
    // sort all the same: one whose ends are equal is scanned first (the ends cost any other
    // base case two comparisons).
    void sort_base_case(T* v, std::size_t n) const {
        if (n > 1 && !Traits::less(v[0], v[n - 1]) && !Traits::less(v[n - 1], v[0]) && all_equal(v, n)) return;
        kernels->sort_network(v, n);
    }
    // Whether a slice short enough for the base case is still worth a partition level: the
    // longer half of the base-case lengths whose eight samples show two or three values. The
    // levels below settle each value by the equal-pivot step or the one-value scan, where a
    // network pays its full depth. Sixteen arrays of n keys drawn from k values, geometric
    // mean ns per element, network against partition (Zen 5): AVX-512 n=300 k=3 1.05 / 0.58,
    // n=1000 k=8 0.93 / 0.69, n=3000 k=32 1.53 / 0.97; AVX2 float64 n=1000 k=16 1.75 / 1.27;
    // no other k from 3 to 1000, nor distinct keys, slower at 300 to 10^4 elements.
    bool splits_base_case(const T* v, std::size_t n) const {
        if (n <= base_case / 2) return false;
        T s[kBaseCaseSamples];
        for (std::size_t i = 0; i < kBaseCaseSamples; ++i) s[i] = v[(n - 1) * i / (kBaseCaseSamples - 1)];
        std::size_t distinct = 0;
        for (std::size_t i = 0; i < kBaseCaseSamples; ++i) {
            bool fresh = true;
            for (std::size_t j = 0; j < i; ++j) fresh &= Traits::less(s[i], s[j]) || Traits::less(s[j], s[i]);
            distinct += fresh;
        }
        // One value is left to sort_base_case's scan, which settles it without a partition.
        return distinct >= 2 && distinct <= 3;
    }
    std::size_t partition_less(T* v, std::size_t n, T pivot) const { return kernels->partition_less(v, n, pivot); }
    std::size_t partition_not_greater(T* v, std::size_t n, T pivot) const {
        return kernels->partition_not_greater(v, n, pivot);
    }
    std::size_t non_descending_prefix(const T* v, std::size_t n) const { return kernels->non_descending_prefix(v, n); }
    // Equal bits imply equal values, so a slice that passes is settled in either order.
    bool all_equal(const T* v, std::size_t n) const {
        return kernels->run_scans.forward[static_cast<std::size_t>(simd::PairTest::kEqual)](v, 0, n) + 1 == n;
    }
};

// Any comparator: the same steps written out over it.
template <class Less>
struct ComparatorOrder {
    Less less;

    template <class T>
    bool operator()(const T& a, const T& b) const {
        return less(a, b);
    }
    static constexpr std::size_t base_case_max() noexcept { return kInsertionThreshold; }
    template <class T>
    static constexpr bool splits_base_case(const T*, std::size_t) noexcept {
        return false;
    }
    template <class T>
    void sort_base_case(T* v, std::size_t n) const {
        insertion_sort(v, n, less);
    }
    template <class T>
    std::size_t partition_less(T* v, std::size_t n, T pivot) const {
        return simd::partition_in_blocks(v, n, pivot, less);
    }
    template <class T>
    std::size_t partition_not_greater(T* v, std::size_t n, T pivot) const {
        return simd::swap_partition_not_greater(v, n, pivot, less);
    }
    template <class T>
    std::size_t non_descending_prefix(const T* v, std::size_t n) const {
        if (n == 0) return 0;
        std::size_t i = 1;
        while (i < n && !less(v[i], v[i - 1])) ++i;
        return i;
    }
    template <class T>
    bool all_equal(const T* v, std::size_t n) const {
        for (std::size_t i = 1; i < n; ++i) {
            if (less(v[0], v[i]) || less(v[i], v[0])) return false;
        }
        return true;
    }
};

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
// whether v is sorted now. Sorted input costs exactly n - 1 comparisons (one scan of the
// kernel table for KernelOrder).
template <class T, class Order>
bool repair_nearly_sorted(T* v, std::size_t n, const Order& order) {
    std::size_t i = order.non_descending_prefix(v, n);
    for (int step = 1;; ++step) {
        if (i == n) return true;
        if (n < kNearlySortedMinimum) return false;
        std::swap(v[i - 1], v[i]);
        // v[0, i - 1) is sorted; after the insertion so is v[0, i + 1), since the element
        // swapped to i was the largest of the prefix.
        if (i >= 2) insert_tail(v, i - 1, order);
        if (step == kNearlySortedSteps) return false;
        while (i < n && !order(v[i], v[i - 1])) ++i;
    }
}

// Partitions v[0, n) into elements equal to v[p] followed by greater ones, knowing that no
// element is less than v[p]; returns the number of equal elements (the pivot included).
template <class T, class Order>
std::size_t partition_equal(T* v, std::size_t n, std::size_t p, const Order& order) {
    std::swap(v[0], v[p]);
    // The pivot goes by value; v[0] keeps its copy untouched, so a comparator panic leaves
    // a permutation without a write-back.
    return 1 + order.partition_not_greater(v + 1, n - 1, v[0]);
}

struct PartitionResult {
    std::size_t mid;
    bool was_partitioned;
};

// Partitions v[0, n) around v[p]: afterwards v[mid] is the pivot, everything before it is
// less and nothing after it is. was_partitioned says no element had to move.
template <class T, class Order>
PartitionResult partition(T* v, std::size_t n, std::size_t p, const Order& order) {
    std::swap(v[0], v[p]);
    // Held in a local (a register in the hot loops); v[0] keeps its copy untouched until the
    // final exchange, so a comparator panic leaves a permutation without a write-back.
    const T pivot = v[0];
    T* t = v + 1;
    std::size_t l = 0;
    std::size_t r = n - 1;
    // Skip the prefix and suffix that are already on their side.
    while (l < r && order(t[l], pivot)) ++l;
    while (l < r && !order(t[r - 1], pivot)) --r;
    const std::size_t mid = l + order.partition_less(t + l, r - l, pivot);
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

// Sorts v[0, n) under order. pred, when not null, points at an element just left of v
// that is less than or equal to every element of v (the pivot of an enclosing partition).
// limit is the number of unbalanced partitions still tolerated before heapsort.
// With a Fork whose kParallel is true, partitions with a side above kSequentialThreshold
// elements sort their two sides through Fork::join; with SequentialFork everything stays on
// the calling thread.
template <class Fork, class T, class Order>
void quicksort_step(T* v, std::size_t n, const Order& order, std::type_identity_t<const T*> pred,
                    std::uint32_t limit) {
    using namespace quicksort;
    static_assert(std::is_trivially_copyable_v<T>, "elements are moved by plain copies");

    bool was_balanced = true;
    bool was_partitioned = true;
    for (;;) {
        if (n <= order.base_case_max() && !order.splits_base_case(v, n)) {
            order.sort_base_case(v, n);
            return;
        }
        if (limit == 0) {
            heapsort(v, n, order);
            return;
        }
        if (!was_balanced) {
            break_patterns(v, n);
            --limit;
        }

        const auto [pivot, likely_sorted] = choose_pivot(v, n, order);
        if (likely_sorted) {
            // Only worth trying when the last partition moved nothing and was balanced: the
            // slice is then probably (nearly) sorted already.
            if (was_balanced && was_partitioned) {
                if (repair_nearly_sorted(v, n, order)) return;
            } else if (order.all_equal(v, n)) {
                // Data with few distinct keys leaves slices of one value after a few
                // partitions (their candidates never swap): a read-only scan, which stops at
                // the first other value, settles one where partitioning would move it twice.
                return;
            }
        }

        // A pivot no greater than pred equals the smallest value of this slice: put every
        // copy of it in place at once. This keeps inputs with many duplicates O(n log k).
        if (pred != nullptr && !order(*pred, v[pivot])) {
            const std::size_t mid = partition_equal(v, n, pivot, order);
            v += mid;
            n -= mid;
            continue;
        }

        const auto [mid, partitioned] = partition(v, n, pivot, order);
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
                quicksort_step<Fork>(left, left_n, order, pred, limit);
                v = right;
                n = right_n;
                pred = middle;
            } else {
                quicksort_step<Fork>(right, right_n, order, middle, limit);
                v = left;
                n = left_n;
            }
        } else {
            // The left side runs here; the right one is offered to other workers. The pivot
            // between them is only read, as the right side's pred.
            if constexpr (Fork::kParallel) {
                Fork::join([&] { quicksort_step<Fork>(left, left_n, order, pred, limit); },
                           [&] { quicksort_step<Fork>(right, right_n, order, middle, limit); });
            }
            return;
        }
    }
}

}  // namespace tamarind
