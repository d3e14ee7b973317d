// Insertion sort under a caller's comparator: the base case of the quicksort on a
// comparator (ComparatorOrder in quicksort.hpp), and the single insertion step that the
// quicksort also uses, on either order, to repair nearly sorted input. The element types'
// own orders sort their short slices by network instead (simd/small_sort.hpp).
#pragma once

#include <cstddef>

namespace tamarind {

// Slices up to this long are insertion-sorted by a caller that sorts under its own
// comparator; longer ones go to unstable_sort.
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

// Sorts v[0, n) under less, stably: n - 1 comparisons on sorted input, and every element
// takes part in at least one comparison when n >= 2, so a failing comparator always fails.
// Meant for short slices (n <= kInsertionSortMax).
template <class T, class Less>
void insertion_sort(T* v, std::size_t n, Less less) {
    for (std::size_t i = 1; i < n; ++i) insert_tail(v, i, less);
}

}  // namespace tamarind
