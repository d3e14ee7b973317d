// MSD radix sort that splits large slices in place and small ones by stable scatter.
#pragma once

#include <cstddef>

#include "sorts/histograms.hpp"
#include "sorts/msd_sort.hpp"
#include "sorts/ska_sort.hpp"
#include "sorts/utils.hpp"
#include "types/params.hpp"

namespace tamarind {

// Slices up to this long are split by msd_sort's scatter through a copy (cache-sized);
// longer ones in place by ska_swap.
inline constexpr std::size_t kVoraciousScatterMax = 30000;

// Sorts v[0, n) by the top-aligned digits of levels p.level to p.max_level - 1, with
// comparison sorts where the buckets get small.
template <class Traits>
void voracious_sort(typename Traits::value_type* v, std::size_t n, const Params& p) {
    if (n <= kRadixComparisonMax) {
        comparison_sort<Traits>(v, n);
        return;
    }
    if (n <= kVoraciousScatterMax) {
        msd_sort<Traits>(v, n, p);
        return;
    }
    const Digit digit = top_aligned_digit(p, p.level);
    const std::size_t range = p.radix_range;
    std::vector<u64> arrays(2 * range + 1);
    u64* counts = arrays.data();
    u64* sums = counts + range;
    digit_histogram<Traits>(v, n, counts, range, digit);
    ska_partition<Traits>(v, counts, sums, range, digit);
    if (p.level + 1 >= p.max_level) return;
    Params child = p;
    child.level = p.level + 1;
    for (std::size_t b = 0; b < range; ++b)
        if (counts[b] >= 2) voracious_sort<Traits>(v + sums[b], counts[b], child);
}

}  // namespace tamarind
