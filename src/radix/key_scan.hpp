// The key scans the radix sorts start with: the widest key, the bits in which keys differ,
// and (for the first MSD level) that level's histogram in the same sweep.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>

#include "radix/four_way_counts.hpp"
#include "traits/traits.hpp"
#include "types/panic.hpp"
#include "types/params.hpp"

namespace tamarind {

// The radix sorts' entries (dlsd, msd, voracious, rollercoaster) sort slices up to this
// long by comparison: below it a histogram pass costs more than it saves.
inline constexpr std::size_t kRadixComparisonMax = 128;

struct KeyScan {
    u64 bits;    // significant bits of the largest key
    u64 spread;  // OR of every key XOR `first`: with the first key, the bits in which keys differ
};

// Number of significant bits of the largest key of v[0, n) and, in the same sweep, the
// spread of its keys around `first`. The OR of all keys has the same highest bit as their
// maximum and needs no compare per element.
template <class Traits>
KeyScan key_bits_and_spread(const typename Traits::value_type* v, std::size_t n, u64 first) {
    // Plain loops of integer operations, which the compiler vectorizes.
    u64 acc = 0;
    u64 spread = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const u64 key = Traits::to_key(v[i]);
        acc |= key;
        spread |= key ^ first;
    }
    return {significant_bits(acc), spread};
}

// key_bits_and_spread without the spread (around 0 it is the OR of the keys, which the
// compiler sees).
template <class Traits>
u64 key_bits(const typename Traits::value_type* v, std::size_t n) {
    return key_bits_and_spread<Traits>(v, n, 0).bits;
}

// Byte levels below the widest key's leading zeros: level 0 holds its top eight bits.
inline Params width_aligned_params(u64 bits) noexcept {
    return Params{0, kByteRadix, 64 - bits, (bits + kByteRadix - 1) / kByteRadix, kByteRadixRange};
}

// Byte levels below the bits every key shares, given their spread (non-zero): level 0 holds
// the top eight bits in which keys differ, so the first step splits them as finely as a
// byte can. Levels aligned to the widest key may cut across those bits instead: a month of
// nanosecond timestamps from 2026 differs in its low 52 bits, and the level of int64 keys
// (all 64 bits wide, their sign bit flipped) that holds bit 51 holds bits 48 to 55, of
// which the month's keys take ten values.
inline Params spread_aligned_params(u64 spread) noexcept {
    const u64 shared = static_cast<u64>(std::countl_zero(spread));
    return Params{0, kByteRadix, shared, (64 - shared + kByteRadix - 1) / kByteRadix, kByteRadixRange};
}

// The first top-aligned level of p (p.level or later) whose digit not every key shares,
// given their spread (non-zero) as key_bits_and_spread finds it.
inline u64 first_differing_level(const Params& p, u64 spread) noexcept {
    const u64 shared = static_cast<u64>(std::countl_zero(spread));
    return std::max(p.level, (shared - p.offset) / p.radix);
}

// key_bits_and_spread around v[0] (n >= 1) and, in the same sweep, counts[d] = number of
// keys whose `digit` (of at most kByteRadixRange values) is d: the histogram of the first
// MSD step when the caller knows that step's digit in advance, which saves it a pass.
template <class Traits>
KeyScan key_bits_and_counts(const typename Traits::value_type* v, std::size_t n, Digit digit, u64* counts) {
    u64 tables[4 * kByteRadixRange] = {};
    u64 acc = 0;
    const u64 first = Traits::to_key(v[0]);
    u64 spread = 0;
    const u64 mask = digit.mask;
    const u64 shift = digit.shift;
    count_four_ways(tables, kByteRadixRange, 0, n, [&](std::size_t i) {
        const u64 key = Traits::to_key(v[i]);
        acc |= key;
        spread |= key ^ first;
        return (key & mask) >> shift;
    });
    sum_four_ways(tables, kByteRadixRange, kByteRadixRange, counts);
    return {significant_bits(acc), spread};
}

}  // namespace tamarind
