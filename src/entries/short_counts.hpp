// Short int64 slices, which the entries otherwise sort by comparison, are counted where a
// count is cheaper: a few distinct keys (few_keys_sort), or keys in a range of at most
// twice the slice's length (counting_sort; the counts and the slice stay in cache, so the
// rule for long slices, 64 elements per possible key, does not apply).
#pragma once

#include <bit>
#include <cstddef>

#include "radix/counting_sort.hpp"
#include "radix/few_keys_sort.hpp"
#include "radix/key_scan.hpp"
#include "traits/traits.hpp"

namespace tamarind {

// Sorts v[0, n) and returns true when it is counted; returns false, with v untouched,
// when the caller's comparison sort should take it. The scan for the key range reads
// every element once (vectorized), a few per cent of a comparison sort of the slice.
inline bool count_short_slice(i64* v, std::size_t n) {
    if (few_keys_sort<I64Traits>(v, n)) return true;
    if (n < kFewKeysMin) return false;
    const u64 first = I64Traits::to_key(v[0]);
    const u64 spread = key_bits_and_spread<I64Traits>(v, n, first).spread;
    if (spread == 0) return true;  // every key the same
    // (A width compare first: a shift by 64 bits is undefined.)
    if (std::bit_width(spread) > kCountingWidthMax || (std::size_t{1} << std::bit_width(spread)) > 2 * n) return false;
    counting_sort<I64Traits>(v, n, first, spread);
    return true;
}

}  // namespace tamarind
