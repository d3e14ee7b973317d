// Pattern-defeating quicksort, parallel over the worker pool: the sequential step of
// comparison/quicksort.hpp with a fork policy that sorts the two sides of a large partition
// through pool::join, the left side on the current thread.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "comparison/quicksort.hpp"
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

// Slices up to this long are sorted on the calling thread: waking a worker costs the
// scheduler tens of microseconds, about what the split would save on a slice this short
// (its first partition alone, which no worker can share, is a tenth of its sort).
inline constexpr std::size_t kCallingThreadMax = 1 << 15;
// Slices the NaN scan splits across the pool have more than this many elements: below, one
// thread scans them in less time than a worker takes to wake.
inline constexpr std::size_t kParallelScanMin = 1 << 18;

// has_unordered, spread over the pool in halves above kParallelScanMin elements.
template <class Traits>
bool has_unordered_on_pool(const typename Traits::value_type* v, std::size_t n) {
    if (n <= kParallelScanMin) return has_unordered<Traits>(v, n);
    const std::size_t half = n / 2;
    bool left = false;
    bool right = false;
    pool::join([&] { left = has_unordered_on_pool<Traits>(v, half); },
               [&] { right = has_unordered_on_pool<Traits>(v + half, n - half); });
    return left || right;
}

}  // namespace quicksort

// Sorts v[0, n) ascending under is_less, in place and unstably, splitting large partitions
// across the worker pool. Allocates nothing; a comparator panic (NaN for f64) propagates
// once every part has stopped and leaves v a permutation of its input.
//
// A slice of at most kCallingThreadMax elements never touches the pool. With an element
// type's own comparator, a NaN stops the call before anything moves (one scan, on the pool
// above kParallelScanMin), and the sort runs on the order that cannot fail, with the vector
// kernels where the processor has them.
template <class T, class Less>
void parallel_quicksort(T* v, std::size_t n, Less is_less) {
    using namespace quicksort;
    const auto limit = static_cast<std::uint32_t>(std::bit_width(n));
    // Only a slice this long reaches the pool. A worker is woken ahead of the first fork
    // (the NaN scan's or the first partition's), so that its wake-up overlaps the work done
    // here before it.
    const bool may_fork = n > kCallingThreadMax;
    if constexpr (kIsTraitsLess<Less>) {
        using Traits = typename Less::traits_type;
        // Integers need no scan (and must not fork one onto the pool for nothing).
        if constexpr (!kIsOrderedLess<Less> && Traits::kMayBeUnordered) {
            const bool scan_on_pool = n > kParallelScanMin;
            if (scan_on_pool) pool::wake_for_work_soon();
            const bool unordered = scan_on_pool ? has_unordered_on_pool<Traits>(v, n) : has_unordered<Traits>(v, n);
            // Fails through the comparator itself, with its message.
            if (unordered) check_ordered(v, n, is_less);
        }
        with_ordered_less<Traits>([&](const auto& ordered) {
            if (n <= base_case_max<std::decay_t<decltype(ordered)>>()) {
                sort_short_ordered(v, n, ordered);
                return;
            }
            // Sorted input (all equal included) is settled by one scan, which needs no
            // worker (and waking one costs the caller as much as the scan of a 100 000
            // elements).
            if (is_non_descending(v, n, ordered)) return;
            if (!may_fork) {
                quicksort_step<SequentialFork>(v, n, ordered, nullptr, limit);
                return;
            }
            pool::wake_for_work_soon();
            quicksort_step<PoolFork>(v, n, ordered, nullptr, limit);
        });
    } else if (may_fork) {
        pool::wake_for_work_soon();
        quicksort_step<PoolFork>(v, n, is_less, nullptr, limit);
    } else {
        quicksort_step<SequentialFork>(v, n, is_less, nullptr, limit);
    }
}

}  // namespace tamarind
