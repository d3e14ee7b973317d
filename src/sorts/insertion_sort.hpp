// Insertion sort for short slices, and the single insertion step that the
// pattern-defeating quicksort also uses to repair nearly sorted input.
#pragma once

#include <cstddef>

namespace tamarind {

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

// Sorts v[0, n) by insertion; meant for n <= 20. Makes n - 1 comparisons on sorted input,
// and every element takes part in at least one comparison when n >= 2.
template <class T, class Less>
void insertion_sort(T* v, std::size_t n, Less less) {
    for (std::size_t i = 1; i < n; ++i) insert_tail(v, i, less);
}

}  // namespace tamarind
