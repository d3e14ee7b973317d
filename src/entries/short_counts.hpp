// Short int64 slices, which the entries otherwise sort by comparison, are counted where a
// count is cheaper: a few distinct keys (few_keys_sort), or keys in a range no wider than
// the slice is long (counting_sort, with the short slices' rule: the counts and the slice
// stay in cache).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>

#include "entries/radix_or_quicksort.hpp"
#include "radix/counting_sort.hpp"
#include "radix/few_keys_sort.hpp"
#include "radix/key_scan.hpp"
#include "simd/kernels.hpp"
#include "traits/traits.hpp"

namespace tamarind {

inline constexpr std::size_t kSpreadSample = 16;

// Sorts v[0, n) and returns true when it is counted; returns false, with v untouched,
// when the caller's comparison sort should take it. The scan for the keys' spread reads
// every element once (vectorized), a few per cent of a comparison sort of the slice.
inline bool count_short_slice(i64* v, std::size_t n) {
    // Sorted and reversed slices are settled first, by the vector scans the comparison
    // sorts open with: each stops at the first pair out of its order, so on other data it
    // costs a few elements' reads, and on these it saves the sample and the key scan.
    const simd::Kernels<i64>& kernels = simd::best_kernels()->of<i64>();
    if (kernels.is_non_descending(v, n)) return true;
    if (kernels.is_strictly_descending(v, n)) {
        std::reverse(v, v + n);
        return true;
    }
    if (few_keys_sort<I64Traits>(v, n)) return true;
    if (n < radix_crossings().i64_range_count) return false;
    const u64 first = I64Traits::to_key(v[0]);
    // Sixteen keys at an even stride rule out most wide slices before the scan reads every
    // key: the spread of a sample is part of the spread of the whole.
    u64 sampled = 0;
    for (std::size_t i = 0; i < kSpreadSample; ++i) sampled |= I64Traits::to_key(v[i * (n / kSpreadSample)]) ^ first;
    if (static_cast<u64>(std::bit_width(sampled)) > kCountingWidthMax) return false;
    const u64 spread = key_bits_and_spread<I64Traits>(v, n, first).spread;
    if (spread == 0) return true;  // every key the same
    if (static_cast<u64>(std::bit_width(spread)) > kCountingWidthMax) return false;
    // The keys' own range inside the window, not the whole window: 1000 keys in 0..999
    // take 1000 slots, not 1024.
    const u64 window = (u64{1} << std::bit_width(spread)) - 1;
    u64 lo = window, hi = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const u64 low = I64Traits::to_key(v[i]) & window;
        lo = std::min(lo, low);
        hi = std::max(hi, low);
    }
    const CountingPlan plan{window, lo, hi - lo + 1, first & ~window};
    if (!counting_fits(n, plan.slots, kCountingElementsPerSlotShort)) return false;
    counting_sort<I64Traits>(v, n, plan);
    return true;
}

}  // namespace tamarind
