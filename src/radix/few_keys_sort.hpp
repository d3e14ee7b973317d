// Counting sort for slices that hold only a handful of distinct keys (categories, flags,
// enumerations), wherever they lie in the key space: one pass counts each key through a
// small perfect-hash table built from a sample, one pass writes every key as often as it
// was counted (counting_sort.hpp's steps, with the hash as the key-to-slot map). It runs
// before run detection's fallback sort on every stretch of kFewKeysMin elements or more,
// and before the parallel quicksort; it declines, having moved nothing, as soon as a key
// outside the table turns up, and the caller sorts the slice as it would have.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "radix/counting_sort.hpp"
#include "radix/four_way_counts.hpp"
#include "traits/traits.hpp"
#include "types/params.hpp"

namespace tamarind {

// Slices shorter than this are not sampled: the sample of 256 keys, each looked up among
// those found, is a fixed cost that the vector quicksort, with few levels on few keys, does
// not pay. 16 keys, least TSC ticks per element of sort_f64_st / sort_i64_st, count against
// quicksort (AVX2): 6.6 / 6.6 against 6.3 / 4.7 at 1000, 5.1 / 5.1 against 4.4 / 4.4 at
// 1500, 4.6 / 4.4 against 5.0 / 4.3 at 1999. From 10^4 on the count runs at about 2.5,
// whatever the number of keys, against 3 to 7 for the quicksort from 4 keys up.
inline constexpr std::size_t kFewKeysMin = 1750;
// Most distinct keys the table holds.
inline constexpr std::size_t kFewKeysMax = 32;
// Keys read, at an even stride, to guess the key set before the full pass.
inline constexpr std::size_t kFewKeysSample = 256;

namespace detail {

inline constexpr unsigned kFewKeysSlotBits = 10;
// Odd multipliers tried in turn until the sampled keys land in distinct slots; with at
// most 32 keys in 1024 slots, each succeeds with probability above 0.6.
inline constexpr std::array<u64, 8> kFewKeysMultipliers = {
    0x9E3779B97F4A7C15ULL, 0xC2B2AE3D27D4EB4FULL, 0x165667B19E3779F9ULL, 0xD6E8FEB86659FD93ULL,
    0xFF51AFD7ED558CCDULL, 0xC4CEB9FE1A85EC53ULL, 0x94D049BB133111EBULL, 0xBF58476D1CE4E5B9ULL,
};

// Element set of a slice, as bit patterns, with its slot table: slot[s] is the index in
// keys of the pattern that hashes to s. Every empty slot points at keys[0], whose own slot
// is elsewhere, so a pattern that hashes to an empty slot never equals the one it is
// compared with.
struct FewKeysTable {
    std::array<u64, kFewKeysMax> keys;  // element bits, not sort keys
    std::size_t count = 0;
    u64 multiplier = 0;
    std::array<std::uint8_t, std::size_t{1} << kFewKeysSlotBits> slot;

    std::size_t slot_of(u64 key) const noexcept {
        return static_cast<std::size_t>((key * multiplier) >> (64 - kFewKeysSlotBits));
    }

    // Builds a collision-free table for keys[0, count); false when no multiplier gives one.
    bool build() noexcept {
        for (u64 m : kFewKeysMultipliers) {
            multiplier = m;
            slot.fill(kFewKeysMax);  // unused marker while building
            bool distinct = true;
            for (std::size_t j = 0; j < count && distinct; ++j) {
                std::uint8_t& s = slot[slot_of(keys[j])];
                distinct = s == kFewKeysMax;
                s = static_cast<std::uint8_t>(j);
            }
            if (!distinct) continue;
            for (std::uint8_t& s : slot)
                if (s == kFewKeysMax) s = 0;
            return true;
        }
        return false;
    }
};

// Sampled keys after which a sample of one key so far stops: the slice is all equal or
// nearly, which the callers' order scans settle for less than the rest of the sample costs.
inline constexpr std::size_t kFewKeysOneKeyStop = 32;

// The distinct elements (as bits) of an evenly spread sample of v[0, n), or false when
// there are more than kFewKeysMax, the first kFewKeysOneKeyStop are one key, or one of
// them is unordered (a NaN: the caller's sort reports it).
template <class Traits>
bool sample_keys(const typename Traits::value_type* v, std::size_t n, FewKeysTable& table) {
    const std::size_t stride = n / kFewKeysSample;
    // One bit per hash of the keys found: a key whose bit is clear is new without a search,
    // so slices of many keys decline after about kFewKeysMax cheap steps.
    u64 seen = 0;
    for (std::size_t i = 0; i < kFewKeysSample; ++i) {
        const typename Traits::value_type x = v[i * stride];
        if constexpr (Traits::kMayBeUnordered)
            if (Traits::unordered_bits(x) & kSignBit) return false;
        const u64 b = std::bit_cast<u64>(x);
        const u64 bit = u64{1} << ((b * kFewKeysMultipliers[0]) >> 58);
        const auto known = table.keys.begin() + static_cast<std::ptrdiff_t>(table.count);
        if ((seen & bit) != 0 && std::find(table.keys.begin(), known, b) != known) {
            if (i == kFewKeysOneKeyStop && table.count == 1) return false;
            continue;
        }
        seen |= bit;
        if (table.count == kFewKeysMax) return false;
        table.keys[table.count++] = b;
    }
    return true;
}

}  // namespace detail

// Sorts v[0, n) and returns true when all its keys are among the few that a sample finds;
// returns false, with v untouched, otherwise. Keys and bit patterns correspond one to one,
// so the result is bit for bit that of any other sort by key.
template <class Traits>
bool few_keys_sort(typename Traits::value_type* v, std::size_t n) {
    if (n < kFewKeysMin) return false;
    detail::FewKeysTable table;
    // A sample of one key is an all-equal slice or nearly: the callers' order scans settle
    // that for less than a count costs.
    if (!detail::sample_keys<Traits>(v, n, table) || table.count < 2) return false;
    if (!table.build()) return false;

    // Counted in blocks, between which a key outside the table ends the count.
    u64 tables[4 * kFewKeysMax] = {};
    constexpr std::size_t kBlock = 1 << 14;
    for (std::size_t start = 0; start < n; start += kBlock) {
        u64 foreign = 0;  // OR of (bits ^ the table's bits at their slot): nonzero on a miss
        count_four_ways(tables, kFewKeysMax, start, std::min(n, start + kBlock), [&](std::size_t i) {
            const u64 b = std::bit_cast<u64>(v[i]);  // bits identify keys one to one
            const std::size_t j = table.slot[table.slot_of(b)];
            foreign |= b ^ table.keys[j];
            return j;
        });
        if (foreign != 0) return false;
    }
    sum_four_ways(tables, kFewKeysMax, table.count, tables);  // into the first table

    // Written in key order: (key, count) pairs sorted by key.
    using T = typename Traits::value_type;
    std::array<std::pair<u64, u64>, kFewKeysMax> order;
    for (std::size_t j = 0; j < table.count; ++j) order[j] = {Traits::to_key(std::bit_cast<T>(table.keys[j])), tables[j]};
    std::sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(table.count));
    u64* const starts = tables + kFewKeysMax;  // count + 1 entries in the spent tables
    starts[0] = 0;
    for (std::size_t j = 0; j < table.count; ++j) starts[j + 1] = starts[j] + order[j].second;
    write_runs<Traits>(v, 0, n, starts, table.count, [&](std::size_t j) { return order[j].first; });
    return true;
}

// A fallback for run detection that counts a stretch of few keys, and hands any other
// to sort(chunk, m).
template <class Traits, class Fallback>
struct FewKeysFirst {
    Fallback sort;

    void operator()(typename Traits::value_type* chunk, std::size_t m) {
        if (!few_keys_sort<Traits>(chunk, m)) sort(chunk, m);
    }
};

template <class Traits, class Fallback>
FewKeysFirst<Traits, Fallback> few_keys_first(Fallback sort) {
    return {std::move(sort)};
}

}  // namespace tamarind
