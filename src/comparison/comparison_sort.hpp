// The comparison sorts on the calling thread: unstable_sort, and comparison_sort, which
// the single-threaded entry and the radix sorts run on slices below their thresholds. All
// sort in place and allocate nothing.
//
// Every comparison sort (these and parallel_quicksort) takes one of two forms, and that
// is the only rule:
//   given an element type's traits (sort<Traits>(v, n)), it is the engine's sort: the NaN
//       gate first (nan_gate.hpp), then the element type's own order on the best kernel
//       table; the *_nan_free forms skip the gate for callers that scanned already;
//   given a comparator (sort(v, n, less)), it is the plain pattern-defeating quicksort on
//       that comparator, which may fail at any comparison and then leaves a permutation.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "comparison/insertion_sort.hpp"
#include "comparison/nan_gate.hpp"
#include "comparison/quicksort.hpp"
#include "simd/kernels.hpp"
#include "simd/small_sort.hpp"
#include "traits/traits.hpp"

namespace tamarind {

// Slices up to this long are sorted by comparison_sort with the scalar networks directly
// (simd::small_sort), on every kernel table; longer ones by unstable_sort.
inline constexpr std::size_t kDirectSmallSortMax = 20;
static_assert(kDirectSmallSortMax <= simd::kSmallSortMax, "small_sort takes every slice handed to it directly");

// The comparison sorts on an element type's own order take its traits, which must be the
// element type's (the kernels order by it).
template <class Traits>
inline constexpr bool kIsElementOrder = std::is_same_v<Traits, traits_of<typename Traits::value_type>>;

// Unstable sort of v[0, n), which holds no NaN, on the given kernels: their short sort up to
// their network length (sorted input left unchanged, strictly descending input reversed),
// the quicksort on them above.
template <class Traits>
void unstable_sort_nan_free(typename Traits::value_type* v, std::size_t n,
                            const simd::Kernels<typename Traits::value_type>& kernels) {
    static_assert(kIsElementOrder<Traits>, "the kernels sort by the element type's own order");
    if (n <= kernels.network_max) {
        kernels.sort_short(v, n);
        return;
    }
    quicksort_step<SequentialFork>(v, n, quicksort::KernelOrder<Traits>::for_sort(kernels, n), nullptr,
                                   static_cast<std::uint32_t>(std::bit_width(n)));
}

// The same on the best kernels.
template <class Traits>
void unstable_sort_nan_free(typename Traits::value_type* v, std::size_t n) {
    unstable_sort_nan_free<Traits>(v, n, simd::best_kernels()->template of<typename Traits::value_type>());
}

// Unstable sort of v[0, n) in the order of Traits: the NaN gate, then unstable_sort_nan_free.
template <class Traits>
void unstable_sort(typename Traits::value_type* v, std::size_t n) {
    check_no_nan<Traits>(v, n);
    unstable_sort_nan_free<Traits>(v, n);
}

// Unstable sort of v[0, n) under any comparator, on the calling thread. O(n log n)
// comparisons in the worst case; non-descending input is left unchanged after n - 1
// comparisons (plus at most 12 of pivot choice), strictly descending input is reversed; a
// comparator panic at the first comparison it fails leaves a permutation of the input.
template <class T, class Less>
void unstable_sort(T* v, std::size_t n, Less less) {
    quicksort_step<SequentialFork>(v, n, quicksort::ComparatorOrder<Less>{less}, nullptr,
                                   static_cast<std::uint32_t>(std::bit_width(n)));
}

// Sorts v[0, n) in the order of Traits: nothing below 2 elements, the NaN gate, the scalar
// networks up to kDirectSmallSortMax, unstable_sort_nan_free above. Callers bound n by their
// own thresholds.
template <class Traits>
void comparison_sort(typename Traits::value_type* v, std::size_t n) {
    if (n < 2) return;
    check_no_nan<Traits>(v, n);
    if (n <= kDirectSmallSortMax)
        simd::small_sort<Traits>(v, n);
    else
        unstable_sort_nan_free<Traits>(v, n);
}

}  // namespace tamarind
