// Pattern-defeating quicksort, parallel over the worker pool: the step of
// comparison/quicksort.hpp with a fork policy that sorts the two sides of a large partition
// through pool::join, the left side on the current thread. Runs for rayon_sort_* and for
// sort_* below the radix sort's threshold (and its stretches that do not split well). Like
// the sorts of comparison_sort.hpp it takes an element type's traits (the NaN gate, then
// the kernels) or a comparator.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "comparison/comparison_sort.hpp"
#include "comparison/nan_gate.hpp"
#include "comparison/quicksort.hpp"
#include "entries/handoff_rules.hpp"
#include "pool/join.hpp"

namespace tamarind {

// Splits through the pool: the left side runs here, the right one is offered to other
// workers.
struct PoolFork {
    static constexpr bool kParallel = true;
    template <class A, class B>
    static void join(A&& a, B&& b) {
        pool::join(a, b);
    }
};

namespace quicksort {

// The quicksort from the top on order: through the pool above kCallingThreadMax elements
// (kLateCallingThreadMax while the workers are late),
// with a worker woken ahead of the first partition (which no worker can share), so that its
// wake-up overlaps that partition.
template <class T, class Order>
void sort_from_top(T* v, std::size_t n, const Order& order) {
    const auto limit = static_cast<std::uint32_t>(std::bit_width(n));
    if (n <= kCallingThreadMax || (n <= kLateCallingThreadMax && pool::workers_late())) {
        quicksort_step<SequentialFork>(v, n, order, nullptr, limit);
        return;
    }
    pool::wake_for_work_soon();
    quicksort_step<PoolFork>(v, n, order, nullptr, limit);
}

}  // namespace quicksort

// Sorts v[0, n), which holds no NaN, ascending in the order of Traits on the given kernels,
// in place and unstably. A slice of at most kCallingThreadMax elements never touches the
// pool.
template <class Traits>
void parallel_quicksort_nan_free(typename Traits::value_type* v, std::size_t n,
                                 const simd::Kernels<typename Traits::value_type>& kernels) {
    static_assert(kIsElementOrder<Traits>, "the kernels sort by the element type's own order");
    if (n <= kernels.network_max) {
        kernels.sort_short(v, n);
        return;
    }
    // Sorted input (all equal included) is settled by one scan, which needs no worker (and
    // waking one costs the caller as much as the scan of a 100 000 elements).
    if (kernels.is_non_descending(v, n)) return;
    quicksort::sort_from_top(v, n, quicksort::KernelOrder<Traits>::for_sort(kernels, n));
}

// The same on the best kernels.
template <class Traits>
void parallel_quicksort_nan_free(typename Traits::value_type* v, std::size_t n) {
    parallel_quicksort_nan_free<Traits>(v, n, simd::best_kernels()->template of<typename Traits::value_type>());
}

// The same for any v[0, n): the NaN gate first (its scan on the pool above kParallelScanMin
// elements).
template <class Traits>
void parallel_quicksort(typename Traits::value_type* v, std::size_t n) {
    check_no_nan_on_pool<Traits>(v, n);
    parallel_quicksort_nan_free<Traits>(v, n);
}

// Sorts v[0, n) ascending under any comparator, in place and unstably, splitting large
// partitions across the worker pool. Allocates nothing; a comparator panic propagates once
// every part has stopped and leaves v a permutation of its input.
template <class T, class Less>
void parallel_quicksort(T* v, std::size_t n, Less less) {
    quicksort::sort_from_top(v, n, quicksort::ComparatorOrder<Less>{less});
}

}  // namespace tamarind
