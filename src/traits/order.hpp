// Orders, one or two per element type: the comparator of the comparison sorts and the plain
// comparisons, with the NaN policy. Each provides:
//   value_type             the element type;
//   is_less(a, b)          the comparison with its contract: panics where it has no answer
//                          (the rule the comparison sorts' NaN gate applies up front);
//   less, less_equal, greater, equal (a, b)
//                          the element type's own operators: never fail, false whenever
//                          an operand is unordered (run detection, the merge, the
//                          insertion steps of prefix_insertion_sort, and the comparison
//                          sorts behind their NaN gate);
//   unordered_bits(x)      a word whose sign bit is set iff is_less would fail on x; OR it
//                          over a slice to learn, branch-free, whether such an element
//                          went by;
//   has_unordered(v, n)    whether v[0, n) holds an element is_less would fail on;
//   kMayBeUnordered        whether such elements exist at all (lets callers drop the checks);
// and, the orders of the comparison sorts,
//   ordered_min_max(a, b)  a, b = the lesser, the other under less, without a branch;
//                          equal elements stay where they are.
// Rules they encode:
//   F64Order: is_less is IEEE "<" (so -0.0 equals +0.0) and panics when either side is
//        NaN; the plain comparisons are IEEE's, so every one with a NaN is false.
//   F64KeyOrder: f64 ordered by its key (IEEE 754 totalOrder, key_maps.hpp) instead, for
//        the radix paths' run detection: every comparison answers, -0.0 comes before +0.0.
//   IntegerOrder: i64 signed, u64 unsigned.
#pragma once

#include <bit>
#include <cstddef>
#include <source_location>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "traits/key_maps.hpp"
#include "types/element.hpp"
#include "types/panic.hpp"

namespace tamarind {

struct F64Order {
    using value_type = f64;
    static constexpr bool kMayBeUnordered = true;

    static bool is_less(f64 a, f64 b,
                        std::source_location where = std::source_location::current()) {
        // An unordered pair has no answer; the unlikely branch keeps the ordered path tight.
        if (a != a || b != b) [[unlikely]]
            panic(kNoneUnwrap, where);
        return a < b;
    }

    static bool less(f64 a, f64 b) noexcept { return a < b; }
    static bool less_equal(f64 a, f64 b) noexcept { return a <= b; }
    static bool greater(f64 a, f64 b) noexcept { return a > b; }
    static bool equal(f64 a, f64 b) noexcept { return a == b; }

    static void ordered_min_max(f64& a, f64& b) noexcept {
#if defined(__SSE2__)
        // minsd x, y gives x < y ? x : y and maxsd x, y gives x > y ? x : y: exactly the
        // exchange under '<', with a kept in place when the two are equal.
        const __m128d va = _mm_set_sd(a);
        const __m128d vb = _mm_set_sd(b);
        a = _mm_cvtsd_f64(_mm_min_sd(vb, va));
        b = _mm_cvtsd_f64(_mm_max_sd(va, vb));
#else
        const u64 mask = u64{0} - static_cast<u64>(b < a);
        const u64 diff = (std::bit_cast<u64>(a) ^ std::bit_cast<u64>(b)) & mask;
        a = std::bit_cast<f64>(std::bit_cast<u64>(a) ^ diff);
        b = std::bit_cast<f64>(std::bit_cast<u64>(b) ^ diff);
#endif
    }

    static u64 unordered_bits(f64 x) noexcept {
        // A NaN's magnitude bits exceed those of infinity, which sets the top bit of
        // (infinity - magnitude).
        constexpr u64 kInfinity = 0x7FF0'0000'0000'0000ULL;
        return kInfinity - (std::bit_cast<u64>(x) & ~kSignBit);
    }

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

// f64 ordered by its key (IEEE 754 totalOrder) rather than by IEEE comparison: the order
// of the radix paths, for the steps there that compare values in place (run detection and
// the merge; the radix sorts themselves work on keys). Every comparison answers: NaNs sit
// at the ends by sign, -0.0 comes before +0.0, and equal means the same bits. No
// ordered_min_max: the comparison sorts never take this order.
struct F64KeyOrder {
    using value_type = f64;
    static constexpr bool kMayBeUnordered = false;

    static bool is_less(f64 a, f64 b) noexcept { return less(a, b); }
    static bool less(f64 a, f64 b) noexcept { return F64KeyMap::signed_key(a) < F64KeyMap::signed_key(b); }
    static bool less_equal(f64 a, f64 b) noexcept { return F64KeyMap::signed_key(a) <= F64KeyMap::signed_key(b); }
    static bool greater(f64 a, f64 b) noexcept { return F64KeyMap::signed_key(a) > F64KeyMap::signed_key(b); }
    static bool equal(f64 a, f64 b) noexcept { return std::bit_cast<u64>(a) == std::bit_cast<u64>(b); }

    static u64 unordered_bits(f64) noexcept { return 0; }
    static bool has_unordered(const f64*, std::size_t) noexcept { return false; }
};

// The integer element types: totally ordered, so every comparison answers and nothing is
// ever unordered.
template <class T>
struct IntegerOrder {
    using value_type = T;
    static constexpr bool kMayBeUnordered = false;
    static bool is_less(T a, T b) noexcept { return a < b; }
    static bool less(T a, T b) noexcept { return a < b; }
    static bool less_equal(T a, T b) noexcept { return a <= b; }
    static bool greater(T a, T b) noexcept { return a > b; }
    static bool equal(T a, T b) noexcept { return a == b; }
    // A conditional select (cmov) for the lesser, XOR for the other.
    static void ordered_min_max(T& a, T& b) noexcept {
        const T lo = b < a ? b : a;
        const T hi = a ^ b ^ lo;
        a = lo;
        b = hi;
    }
    static u64 unordered_bits(T) noexcept { return 0; }
    static bool has_unordered(const T*, std::size_t) noexcept { return false; }
};

}  // namespace tamarind
