// Comparison sorts for short slices and small buckets. Both sort in place, allocate
// nothing and leave a permutation of the input if the comparator panics.
#pragma once

#include <algorithm>
#include <cstddef>

namespace tamarind {

// Sorts v[0, n) by insertion; meant for n <= 20. The element being inserted is held
// aside and written back into the gap before a comparator panic continues.
template <class T, class Less>
void insertion_sort(T* v, std::size_t n, Less less) {
    for (std::size_t i = 1; i < n; ++i) {
        if (!less(v[i], v[i - 1])) continue;
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
}

// Unstable O(n log n) sort for any n.
// Placeholder until the pattern-defeating quicksort lands.
template <class T, class Less>
void unstable_sort(T* v, std::size_t n, Less less) {
    std::sort(v, v + n, less);
}

}  // namespace tamarind
