// Insertion sort for short slices, and the single insertion step that the
// pattern-defeating quicksort also uses to repair nearly sorted input.
#pragma once

#include <cstddef>

#include "comparison/small_sort.hpp"
#include "traits/traits.hpp"

namespace tamarind {

// Slices up to this long are insertion-sorted by the comparison sorts; longer ones are
// partitioned (or merged, in small_sort) first.
inline constexpr std::size_t kInsertionSortMax = 20;

// Inserts v[i] into the sorted prefix v[0, i), leaving v[0, i] sorted; equal elements are
// not moved past each other. The element being inserted is held aside and written back
// into the gap before a comparator panic continues, so v stays a permutation.
template <class T, class Less>
inline void insert_tail(T* v, std::size_t i, const Less& less) {
    if (!less(v[i], v[i - 1])) return;
    T held = v[i];
    std::size_t hole = i;
    try {
        do {
            v[hole] = v[hole - 1];
            --hole;
        } while (hole > 0 && less(held, v[hole - 1]));
    } catch (...) {
        v[hole] = held;
        throw;
    }
    v[hole] = held;
}

// Sorts v[0, n); meant for n <= kInsertionSortMax. With an element type's own comparator, a NaN stops
// the call before anything moves and the rest runs branch-free (random input makes the
// insertion loop mispredict about once per element). With any other comparator it is a
// plain insertion sort: n - 1 comparisons on sorted input, and every element takes part
// in at least one comparison when n >= 2, so a failing comparator always fails.
template <class T, class Less>
void insertion_sort(T* v, std::size_t n, Less less) {
    if constexpr (kIsTraitsLess<Less>) {
        check_ordered(v, n, less);
        const OrderedLessOf<typename Less::traits_type> ordered;
        if (n <= kSmallSortMax) [[likely]] {
            small_sort(v, n, ordered);
        } else {
            for (std::size_t i = 1; i < n; ++i) insert_tail(v, i, ordered);
        }
    } else {
        for (std::size_t i = 1; i < n; ++i) insert_tail(v, i, less);
    }
}

}  // namespace tamarind
