// MSD radix sort that splits large slices in place (msd_step) and small ones by stable
// scatter (msd_sort). It runs on the buckets that dlsd_core's repair hands back when they
// are short or share few key bits.
#pragma once

#include <cstddef>

#include "comparison/comparison_sort.hpp"
#include "radix/histograms.hpp"
#include "radix/key_scan.hpp"
#include "radix/msd_sort.hpp"
#include "radix/ska_sort.hpp"
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
    Params child = p;
    child.level = p.level + 1;
    msd_step<Traits>(v, n, p, [&](typename Traits::value_type* bucket, std::size_t m, std::size_t) {
        voracious_sort<Traits>(bucket, m, child);
    });
}

}  // namespace tamarind
