// Comparison sorts for short slices and small buckets. Both sort in place, allocate
// nothing and leave a permutation of the input if the comparator panics.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "slice/parallel_quicksort.hpp"
#include "sorts/insertion_sort.hpp"

namespace tamarind {

// Unstable sort of v[0, n) for any n: the pattern-defeating quicksort on the calling
// thread. O(n log n) comparisons in the worst case; non-descending input is left unchanged
// after n - 1 comparisons (plus at most 12 of pivot choice), strictly descending input is
// reversed; a comparator panic (NaN for f64) at the first comparison it fails leaves a
// permutation of the input.
template <class T, class Less>
void unstable_sort(T* v, std::size_t n, Less less) {
    const auto limit = static_cast<std::uint32_t>(std::bit_width(n));
    quicksort_step<false>(v, n, less, nullptr, limit);
}

}  // namespace tamarind
