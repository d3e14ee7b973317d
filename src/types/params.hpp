// Digit parameters shared by every radix sort, and the two ways of numbering digit levels.
//
// A key is cut into digits of `radix` bits. Two numberings exist:
//   top-aligned:    level 0 is the `radix` bits just below the first `offset` key bits (MSD
//                   steps and the diverted LSD passes); a last level that runs past bit 0 is
//                   narrowed to the bits that remain.
//   bottom-aligned: level max_level - 1 is key bits [0, radix) (plain LSD passes); `offset`
//                   plays no part.
// A digit travels as (shifted mask, shift) and is read as (key & mask) >> shift.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "types/element.hpp"
#include "types/panic.hpp"

namespace tamarind {

struct Params {
    u64 level;        // first (most significant) level that still needs sorting
    u64 radix;        // digit width in bits
    u64 offset;       // leading key bits that need no sorting
    u64 max_level;    // number of digit levels in play
    u64 radix_range;  // buckets per level, 2^radix
};

// One-byte digits: the width run detection hands every fallback sort, and the width of the
// bucket sorts and the parallel sort; a level then has kByteRadixRange buckets.
inline constexpr u64 kByteRadix = 8;
inline constexpr std::size_t kByteRadixRange = std::size_t{1} << kByteRadix;

// The most buckets any level uses (9-bit digits).
inline constexpr std::size_t kMaxRadixRange = 512;

struct Digit {
    u64 mask;   // already shifted into place
    u64 shift;

    u64 of(u64 key) const noexcept { return (key & mask) >> shift; }
};

// Digit of `level` counted from just below the first p.offset key bits.
inline Digit top_aligned_digit(const Params& p, u64 level) noexcept {
    const u64 t = p.offset + (level + 1) * p.radix;
    u64 mask = (u64{1} << p.radix) - 1;
    u64 shift = 0;
    if (t > 64) {
        const u64 cut = t - 64;
        mask = cut >= p.radix ? 0 : mask >> cut;
    } else {
        shift = 64 - t;
    }
    // shift == 64 only when t == 0, i.e. radix 0, which no caller uses.
    return {shift >= 64 ? 0 : mask << shift, shift >= 64 ? 0 : shift};
}

// Digit of `level` counted so that level max_level - 1 holds the lowest key bits.
inline Digit bottom_aligned_digit(const Params& p, u64 level) {
    if (level >= p.max_level) [[unlikely]]
        panic(messages::kLevelPastMaxLevel);
    const u64 shift = (p.max_level - 1 - level) * p.radix;
    const u64 mask = (u64{1} << p.radix) - 1;
    return {mask << shift, shift};
}

// Number of significant bits of a key: 0 for 0, else index of the highest set bit plus 1.
inline u64 significant_bits(u64 key) noexcept {
    return static_cast<u64>(64 - std::countl_zero(key));
}

}  // namespace tamarind
