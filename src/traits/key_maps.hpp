// Key maps, one per element type: the unsigned 64-bit key whose unsigned order is the
// radix paths' order, and the switches of the radix paths that follow from the keys. Each
// provides:
//   value_type             the element type;
//   to_key(x)              the key;
//   from_key(k)            its inverse: keys and bit patterns correspond one to one, so equal
//                          keys mean equal bits;
//   kSmallNonNegativeAsU64 whether rollercoaster_sort hands the top-level bucket of the
//                          non-negative values below 2^56 to the u64 sorts (i64 only: the
//                          bit patterns of one sign sort in unsigned order).
// Keys: f64 follows IEEE 754 totalOrder (NaNs with the sign bit set first, then -inf, the
// negatives, -0.0, +0.0, the positives, +inf, NaNs with the sign bit clear last); i64 is
// the bit pattern with the sign bit flipped; u64 is the value itself.
#pragma once

#include <bit>

#include "types/element.hpp"

namespace tamarind {

struct F64KeyMap {
    using value_type = f64;
    static constexpr bool kSmallNonNegativeAsU64 = false;

    static u64 to_key(f64 x) noexcept {
        const u64 b = std::bit_cast<u64>(x);
        // Negative values: complement (reverses their order and clears the sign bit);
        // non-negative values: set the sign bit. The mask is all ones or just the sign bit.
        const u64 mask = static_cast<u64>(static_cast<i64>(b) >> 63) | kSignBit;
        return b ^ mask;
    }
    static f64 from_key(u64 key) noexcept {
        // A set top bit marks a non-negative value (clear it); else the complement.
        const u64 mask = static_cast<u64>(static_cast<i64>(~key) >> 63) | kSignBit;
        return std::bit_cast<f64>(key ^ mask);
    }

    // A signed image in key order: negatives have all but the sign bit flipped, which
    // reverses them below the non-negatives (the key with its top bit flipped).
    static i64 signed_key(f64 x) noexcept {
        const i64 b = std::bit_cast<i64>(x);
        return b ^ static_cast<i64>(static_cast<u64>(b >> 63) >> 1);
    }
};

// The integer element types: kKeyFlip is XORed into the bit pattern to make the key.
template <class T, u64 kKeyFlip>
struct IntegerKeyMap {
    using value_type = T;
    static constexpr bool kSmallNonNegativeAsU64 = false;
    static u64 to_key(T x) noexcept { return static_cast<u64>(x) ^ kKeyFlip; }
    static T from_key(u64 key) noexcept { return static_cast<T>(key ^ kKeyFlip); }
};

struct I64KeyMap : IntegerKeyMap<i64, kSignBit> {
    static constexpr bool kSmallNonNegativeAsU64 = true;
};
struct U64KeyMap : IntegerKeyMap<u64, 0> {};

}  // namespace tamarind
