// Element policy, one traits type per element type. Every traits type provides:
//   value_type           the element type;
//   to_key(x)            the unsigned 64-bit key whose unsigned order is the sorted order;
//   is_less(a, b)        the comparator of the comparison sorts;
//   greater(a, b)        a plain a > b that never fails (the insertion steps of
//                        prefix_insertion_sort).
//   ordered_less(a, b)   is_less for operands known to be ordered (no NaN): never fails,
//                        so branch-free sorts may use it once has_unordered said no;
//   has_unordered(v, n)  whether v[0, n) holds an element is_less would fail on;
//   kMayBeUnordered      whether such elements exist at all (lets callers drop the checks).
// Rules they encode:
//   f64: keys follow IEEE 754 totalOrder: NaNs with the sign bit set first, then -inf, the
//        negatives, -0.0, +0.0, the positives, +inf, NaNs with the sign bit clear last.
//        is_less is IEEE "<" (so -0.0 equals +0.0) and panics when either side is NaN.
//        greater is IEEE ">", false whenever a NaN is involved.
//   i64: key is the bit pattern with the sign bit flipped; comparisons are signed.
//   u64: key is the value itself; comparisons are unsigned.
#pragma once

#include <bit>
#include <cstddef>
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
    static constexpr bool kMayBeUnordered = true;

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

    static bool ordered_less(f64 a, f64 b) noexcept { return a < b; }

    static bool has_unordered(const f64* v, std::size_t n) noexcept {
        // No early exit: four independent accumulators keep the scan one compare per
        // element and let it run at load throughput.
        bool u0 = false, u1 = false, u2 = false, u3 = false;
        std::size_t i = 0;
        for (; i + 4 <= n; i += 4) {
            u0 |= v[i] != v[i];
            u1 |= v[i + 1] != v[i + 1];
            u2 |= v[i + 2] != v[i + 2];
            u3 |= v[i + 3] != v[i + 3];
        }
        for (; i < n; ++i) u0 |= v[i] != v[i];
        return (u0 | u1) | (u2 | u3);
    }
};

struct I64Traits {
    using value_type = i64;
    static constexpr bool kMayBeUnordered = false;
    static u64 to_key(i64 x) noexcept { return static_cast<u64>(x) ^ kSignBit; }
    static bool is_less(i64 a, i64 b) noexcept { return a < b; }
    static bool greater(i64 a, i64 b) noexcept { return a > b; }
    static bool ordered_less(i64 a, i64 b) noexcept { return a < b; }
    static bool has_unordered(const i64*, std::size_t) noexcept { return false; }
};

struct U64Traits {
    using value_type = u64;
    static constexpr bool kMayBeUnordered = false;
    static u64 to_key(u64 x) noexcept { return x; }
    static bool is_less(u64 a, u64 b) noexcept { return a < b; }
    static bool greater(u64 a, u64 b) noexcept { return a > b; }
    static bool ordered_less(u64 a, u64 b) noexcept { return a < b; }
    static bool has_unordered(const u64*, std::size_t) noexcept { return false; }
};

// The comparator of a traits type as a function object, for the comparison sorts.
template <class Traits>
struct LessOf {
    using traits_type = Traits;
    bool operator()(typename Traits::value_type a, typename Traits::value_type b) const {
        return Traits::is_less(a, b);
    }
};

// The same order for slices checked free of unordered elements: never fails.
template <class Traits>
struct OrderedLessOf {
    using traits_type = Traits;
    bool operator()(typename Traits::value_type a, typename Traits::value_type b) const noexcept {
        return Traits::ordered_less(a, b);
    }
};

// Comparators known never to fail.
template <class Less>
inline constexpr bool kIsOrderedLess = false;
template <class Traits>
inline constexpr bool kIsOrderedLess<OrderedLessOf<Traits>> = true;

// Comparators that can hand a sort over to the traits' ordered_less.
template <class Less>
inline constexpr bool kIsTraitsLess = kIsOrderedLess<Less>;
template <class Traits>
inline constexpr bool kIsTraitsLess<LessOf<Traits>> = true;

// Stops the call through less itself, with its message and source location, if v[0, n)
// holds an element it would fail on; nothing has moved then. Afterwards the slice may be
// sorted with OrderedLessOf<Traits>, which gives the same answers.
template <class Traits>
void check_ordered(const typename Traits::value_type* v, std::size_t n, const LessOf<Traits>& less) {
    // Fewer than two elements need no comparison, so a lone NaN is left where it is.
    if (n < 2 || !Traits::has_unordered(v, n)) [[likely]]
        return;
    for (std::size_t i = 0; i < n; ++i) less(v[i], v[i]);
}

// A slice handed on with OrderedLessOf has been checked already.
template <class Traits>
void check_ordered(const typename Traits::value_type*, std::size_t, const OrderedLessOf<Traits>&) noexcept {}

}  // namespace tamarind
