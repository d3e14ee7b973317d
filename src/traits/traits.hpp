// Element policy, one traits type per element type. Every traits type provides:
//   value_type           the element type;
//   to_key(x)            the unsigned 64-bit key whose unsigned order is the sorted order;
//   is_less(a, b)        the comparator of the comparison sorts;
//   greater(a, b)        a plain a > b that never fails (the insertion steps of
//                        prefix_insertion_sort).
// Rules they encode:
//   f64: keys follow IEEE 754 totalOrder: NaNs with the sign bit set first, then -inf, the
//        negatives, -0.0, +0.0, the positives, +inf, NaNs with the sign bit clear last.
//        is_less is IEEE "<" (so -0.0 equals +0.0) and panics when either side is NaN.
//        greater is IEEE ">", false whenever a NaN is involved.
//   i64: key is the bit pattern with the sign bit flipped; comparisons are signed.
//   u64: key is the value itself; comparisons are unsigned.
#pragma once

#include <bit>
#include <cstdint>
#include <source_location>

#include "types/panic.hpp"

namespace tamarind {

using f64 = double;
using i64 = std::int64_t;
using u64 = std::uint64_t;

inline constexpr u64 kSignBit = 0x8000'0000'0000'0000ULL;

struct F64Traits {
    using value_type = f64;

    static u64 to_key(f64 x) noexcept {
        const u64 b = std::bit_cast<u64>(x);
        // Negative values: complement (reverses their order and clears the sign bit);
        // non-negative values: set the sign bit. The mask is all ones or just the sign bit.
        const u64 mask = static_cast<u64>(static_cast<i64>(b) >> 63) | kSignBit;
        return b ^ mask;
    }

    static bool is_less(f64 a, f64 b,
                        std::source_location where = std::source_location::current()) {
        // An unordered pair has no answer; the unlikely branch keeps the ordered path tight.
        if (a != a || b != b) [[unlikely]]
            panic(kNoneUnwrap, where);
        return a < b;
    }

    static bool greater(f64 a, f64 b) noexcept { return a > b; }
};

struct I64Traits {
    using value_type = i64;
    static u64 to_key(i64 x) noexcept { return static_cast<u64>(x) ^ kSignBit; }
    static bool is_less(i64 a, i64 b) noexcept { return a < b; }
    static bool greater(i64 a, i64 b) noexcept { return a > b; }
};

struct U64Traits {
    using value_type = u64;
    static u64 to_key(u64 x) noexcept { return x; }
    static bool is_less(u64 a, u64 b) noexcept { return a < b; }
    static bool greater(u64 a, u64 b) noexcept { return a > b; }
};

// The comparator of a traits type as a function object, for the comparison sorts.
template <class Traits>
struct LessOf {
    bool operator()(typename Traits::value_type a, typename Traits::value_type b) const {
        return Traits::is_less(a, b);
    }
};

}  // namespace tamarind
