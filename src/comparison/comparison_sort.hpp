// Comparison sorts for short slices and small buckets: unstable_sort, and comparison_sort,
// the ladder the radix sorts use below their thresholds. Both sort in place, allocate
// nothing and leave a permutation of the input if the comparator panics.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "comparison/insertion_sort.hpp"
#include "comparison/quicksort.hpp"
#include "comparison/small_sort.hpp"
#include "traits/traits.hpp"

namespace tamarind {

// Unstable sort of v[0, n) for any n: the pattern-defeating quicksort on the calling
// thread. O(n log n) comparisons in the worst case; non-descending input is left unchanged
// after n - 1 comparisons (plus at most 12 of pivot choice), strictly descending input is
// reversed; a comparator panic (NaN for f64) at the first comparison it fails leaves a
// permutation of the input.
//
// With an element type's own comparator (LessOf), a NaN stops the call before anything
// moves: one scan, failing through the comparator, so with its message. The sort then runs
// on the order that cannot fail, with the vector kernels where the processor has them: up
// to the base case's length (the networks') without a data-dependent branch (after the two
// order scans) and with that as the quicksort's base case above; the comparison counts above
// hold for other comparators.
template <class T, class Less>
void unstable_sort(T* v, std::size_t n, Less less) {
    const auto limit = static_cast<std::uint32_t>(std::bit_width(n));
    if constexpr (kIsTraitsLess<Less>) {
        using Traits = typename Less::traits_type;
        if (!kIsOrderedLess<Less> && has_unordered<Traits>(v, n)) check_ordered(v, n, less);
        with_ordered_less<Traits>([&](const auto& ordered) {
            if (n <= quicksort::base_case_max<std::decay_t<decltype(ordered)>>()) {
                sort_short_ordered(v, n, ordered);
            } else {
                quicksort_step<SequentialFork>(v, n, ordered, nullptr, limit);
            }
        });
    } else {
        quicksort_step<SequentialFork>(v, n, less, nullptr, limit);
    }
}

// Sorts v[0, n) by comparison: nothing below 2 elements, insertion sort up to
// kInsertionSortMax, the unstable sort above. Callers bound n by their own thresholds.
template <class Traits>
void comparison_sort(typename Traits::value_type* v, std::size_t n) {
    if (n < 2) return;
    if (n <= kInsertionSortMax)
        insertion_sort(v, n, LessOf<Traits>{});
    else
        unstable_sort(v, n, LessOf<Traits>{});
}

}  // namespace tamarind
