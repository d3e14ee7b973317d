// MSD radix sort by stable scatter through a copy, for slices that fit in cache: the slices
// of voracious_sort up to kVoraciousScatterMax elements.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "comparison/comparison_sort.hpp"
#include "radix/histograms.hpp"
#include "radix/key_scan.hpp"
#include "types/params.hpp"
#include "types/scratch.hpp"

namespace tamarind {

// One stable scatter of v[0, n) (n > kRadixComparisonMax) by the top-aligned digit of p.level,
// then the same for every bucket at the next level, down to p.max_level - 1.
template <class Traits>
void msd_sort(typename Traits::value_type* v, std::size_t n, const Params& p) {
    using T = typename Traits::value_type;
    const Digit digit = top_aligned_digit(p, p.level);
    const std::size_t range = p.radix_range;
    u64 counts_small[kMaxRadixRange], sums_small[kMaxRadixRange + 1], heads_small[kMaxRadixRange];
    std::unique_ptr<u64[]> wide;
    u64 *counts = counts_small, *sums = sums_small, *heads = heads_small;
    if (range > kMaxRadixRange) {
        wide.reset(new u64[3 * range + 1]);
        counts = wide.get();
        sums = counts + range;
        heads = sums + range + 1;
    }
    digit_histogram<Traits>(v, n, counts, range, digit);
    prefix_sums_into(counts, range, sums);
    std::copy(sums, sums + range, heads);
    {
        ScratchBuffer<T> buf(n);
        T* const copy = buf.get();
        std::memcpy(copy, v, n * sizeof(T));
        scatter_by_digit<Traits>(copy, v, n, heads, digit, range);
    }
    if (p.level + 1 >= p.max_level) return;
    Params child = p;
    child.level = p.level + 1;
    for (std::size_t b = 0; b < range; ++b) {
        if (counts[b] < 2) continue;
        T* bucket = v + sums[b];
        const std::size_t m = counts[b];
        if (m > kRadixComparisonMax)
            msd_sort<Traits>(bucket, m, child);
        else
            comparison_sort<Traits>(bucket, m);
    }
}

}  // namespace tamarind
