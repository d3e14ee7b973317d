// Element policy, one traits type per element type. Every traits type provides:
//   value_type             the element type;
//   to_key(x)              the unsigned 64-bit key whose unsigned order is the sorted order;
//   from_key(k)            its inverse: keys and bit patterns correspond one to one, so equal
//                          keys mean equal bits;
//   is_less(a, b)          the comparison with its contract: panics where it has no answer
//                          (the rule the comparison sorts' NaN gate applies up front);
//   less, less_equal, greater, equal (a, b)
//                          the element type's own operators: never fail, false whenever
//                          an operand is unordered (run detection, the merge, the
//                          insertion steps of prefix_insertion_sort, and the comparison
//                          sorts behind their NaN gate);
//   block_ascending, block_descending, block_equal (x)
//                          the same tests over the eight neighbouring pairs of x[0..8],
//                          without short-circuit (the block scans of run detection);
//   avx2_pairs_hold<test>(x)
//                          (x86-64) the pair test `test` over the 32 neighbouring pairs
//                          of x[0..32] with AVX2, for long runs; only for callers that
//                          checked simd::cpu_supports(simd::Isa::kAvx2);
//   ordered_min_max(a, b)  a, b = the lesser, the other under less, without a branch;
//                          equal elements stay where they are;
//   unordered_bits(x)      a word whose sign bit is set iff is_less would fail on x; OR it
//                          over a slice to learn, branch-free, whether such an element
//                          went by;
//   has_unordered(v, n)    whether v[0, n) holds an element is_less would fail on;
//   kMayBeUnordered        whether such elements exist at all (lets callers drop the checks);
//   kSmallNonNegativeAsU64 whether rollercoaster_sort hands the top-level bucket of the
//                          non-negative values below 2^56 to the u64 sorts (i64 only: the
//                          bit patterns of one sign sort in unsigned order).
// Rules they encode:
//   f64: keys follow IEEE 754 totalOrder: NaNs with the sign bit set first, then -inf, the
//        negatives, -0.0, +0.0, the positives, +inf, NaNs with the sign bit clear last.
//        is_less is IEEE "<" (so -0.0 equals +0.0) and panics when either side is NaN;
//        the plain comparisons are IEEE's, so every one with a NaN is false.
//        F64KeyOrderTraits is the same element ordered by its key instead, for the radix
//        paths' run detection: every comparison answers, -0.0 comes before +0.0.
//   i64: key is the bit pattern with the sign bit flipped; comparisons are signed.
//   u64: key is the value itself; comparisons are unsigned.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <source_location>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "types/element.hpp"
#include "types/panic.hpp"

namespace tamarind {

// The pair tests of run detection: x[j] <= x[j + 1], x[j + 1] <= x[j], x[j] == x[j + 1].
enum class PairTest { Ascending, Descending, Equal };

namespace traits_detail {

// Straight-line scalar block tests for types without a vector form.
template <class T>
inline bool block_ascending(const T* x) noexcept {
    bool ok = true;
    for (int j = 0; j < 8; ++j) ok &= x[j] <= x[j + 1];
    return ok;
}
template <class T>
inline bool block_descending(const T* x) noexcept {
    bool ok = true;
    for (int j = 0; j < 8; ++j) ok &= x[j + 1] <= x[j];
    return ok;
}
template <class T>
inline bool block_equal(const T* x) noexcept {
    bool ok = true;
    for (int j = 1; j < 9; ++j) ok &= x[0] == x[j];
    return ok;
}

}  // namespace traits_detail

struct F64Traits {
    using value_type = f64;
    static constexpr bool kMayBeUnordered = true;
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

    // Four pairs at a time with the IEEE predicates themselves where SSE2 is available
    // (every x86-64), so -0.0 == +0.0 and every comparison with NaN is false.
    static bool block_ascending(const f64* x) noexcept {
#if defined(__SSE2__)
        __m128d ok = _mm_cmple_pd(_mm_loadu_pd(x), _mm_loadu_pd(x + 1));
        for (int j = 2; j < 8; j += 2) ok = _mm_and_pd(ok, _mm_cmple_pd(_mm_loadu_pd(x + j), _mm_loadu_pd(x + j + 1)));
        return _mm_movemask_pd(ok) == 3;
#else
        return traits_detail::block_ascending(x);
#endif
    }
    static bool block_descending(const f64* x) noexcept {
#if defined(__SSE2__)
        __m128d ok = _mm_cmple_pd(_mm_loadu_pd(x + 1), _mm_loadu_pd(x));
        for (int j = 2; j < 8; j += 2) ok = _mm_and_pd(ok, _mm_cmple_pd(_mm_loadu_pd(x + j + 1), _mm_loadu_pd(x + j)));
        return _mm_movemask_pd(ok) == 3;
#else
        return traits_detail::block_descending(x);
#endif
    }
    // IEEE equality is transitive here (a NaN equals nothing), so eight equal neighbouring
    // pairs means x[1..8] all equal x[0].
    static bool block_equal(const f64* x) noexcept {
#if defined(__SSE2__)
        const __m128d first = _mm_set1_pd(x[0]);
        __m128d ok = _mm_cmpeq_pd(first, _mm_loadu_pd(x + 1));
        for (int j = 3; j < 9; j += 2) ok = _mm_and_pd(ok, _mm_cmpeq_pd(first, _mm_loadu_pd(x + j)));
        return _mm_movemask_pd(ok) == 3;
#else
        return traits_detail::block_equal(x);
#endif
    }

#if defined(__x86_64__)
    // The ordered IEEE predicates, four pairs at a time.
    template <PairTest test>
    __attribute__((target("avx2"))) static bool avx2_pairs_hold(const f64* x) noexcept {
        __m256d ok = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
        if constexpr (test == PairTest::Equal) {
            // Neighbours all equal (==, which no NaN passes) means all equal to x[0]: one
            // load per four elements instead of two.
            const __m256d first = _mm256_set1_pd(x[0]);
            for (int j = 1; j < 33; j += 4) ok = _mm256_and_pd(ok, _mm256_cmp_pd(_mm256_loadu_pd(x + j), first, _CMP_EQ_OQ));
            return _mm256_movemask_pd(ok) == 0xF;
        }
        for (int j = 0; j < 32; j += 4) {
            const __m256d a = _mm256_loadu_pd(x + j), b = _mm256_loadu_pd(x + j + 1);
            __m256d r;
            if constexpr (test == PairTest::Ascending) r = _mm256_cmp_pd(a, b, _CMP_LE_OQ);
            else r = _mm256_cmp_pd(b, a, _CMP_LE_OQ);
            ok = _mm256_and_pd(ok, r);
        }
        return _mm256_movemask_pd(ok) == 0xF;
    }
#endif

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
// at the ends by sign, -0.0 comes before +0.0, and equal means the same bits.
struct F64KeyOrderTraits : F64Traits {
    static constexpr bool kMayBeUnordered = false;

    // A signed image in the same order: negatives have all but the sign bit flipped, which
    // reverses them below the non-negatives (the key with its top bit flipped).
    static i64 signed_key(f64 x) noexcept {
        const i64 b = std::bit_cast<i64>(x);
        return b ^ static_cast<i64>(static_cast<u64>(b >> 63) >> 1);
    }

    static bool is_less(f64 a, f64 b) noexcept { return signed_key(a) < signed_key(b); }
    static bool less(f64 a, f64 b) noexcept { return signed_key(a) < signed_key(b); }
    static bool less_equal(f64 a, f64 b) noexcept { return signed_key(a) <= signed_key(b); }
    static bool greater(f64 a, f64 b) noexcept { return signed_key(a) > signed_key(b); }
    static bool equal(f64 a, f64 b) noexcept { return std::bit_cast<u64>(a) == std::bit_cast<u64>(b); }

    static bool block_ascending(const f64* x) noexcept {
        bool ok = true;
        for (int j = 0; j < 8; ++j) ok &= signed_key(x[j]) <= signed_key(x[j + 1]);
        return ok;
    }
    static bool block_descending(const f64* x) noexcept {
        bool ok = true;
        for (int j = 0; j < 8; ++j) ok &= signed_key(x[j + 1]) <= signed_key(x[j]);
        return ok;
    }
    static bool block_equal(const f64* x) noexcept {
        bool ok = true;
        for (int j = 1; j < 9; ++j) ok &= equal(x[0], x[j]);
        return ok;
    }

#if defined(__x86_64__)
    // Four pairs at a time. IEEE <= agrees with key order on every pair without a NaN, but
    // for +0.0 before -0.0, which it passes and keys do not: blocks with neither a NaN nor a
    // -0.0 take that one compare per pair, others the exact test on the signed images.
    template <PairTest test>
    __attribute__((target("avx2"))) static bool avx2_pairs_hold(const f64* x) noexcept {
        const __m256i zero = _mm256_setzero_si256();
        if constexpr (test == PairTest::Equal) {
            // Neighbours all equal means all equal to x[0]: one load per four elements.
            const __m256i first = _mm256_set1_epi64x(std::bit_cast<long long>(x[0]));
            __m256i eq = _mm256_set1_epi64x(-1);
            for (int j = 1; j < 33; j += 4)
                eq = _mm256_and_si256(eq, _mm256_cmpeq_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + j)), first));
            return _mm256_movemask_epi8(eq) == -1;
        }
        const __m256d negative_zero = _mm256_castsi256_pd(_mm256_set1_epi64x(std::bit_cast<long long>(-0.0)));
        __m256d ieee = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
        __m256d zeros_seen = _mm256_setzero_pd();
        for (int j = 0; j < 32; j += 4) {
            const __m256d a = _mm256_loadu_pd(x + j), b = _mm256_loadu_pd(x + j + 1);
            // The later element of each pair is the one that must not be a -0.0.
            const __m256d later = test == PairTest::Ascending ? b : a;
            if constexpr (test == PairTest::Ascending) ieee = _mm256_and_pd(ieee, _mm256_cmp_pd(a, b, _CMP_LE_OQ));
            else ieee = _mm256_and_pd(ieee, _mm256_cmp_pd(b, a, _CMP_LE_OQ));
            zeros_seen = _mm256_or_pd(zeros_seen, _mm256_castsi256_pd(_mm256_cmpeq_epi64(
                _mm256_castpd_si256(later), _mm256_castpd_si256(negative_zero))));
        }
        if (_mm256_movemask_pd(ieee) == 0xF && _mm256_movemask_pd(zeros_seen) == 0) [[likely]]
            return true;
        __m256i bad = zero;
        for (int j = 0; j < 32; j += 4) {
            __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + j));
            __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + j + 1));
            a = _mm256_xor_si256(a, _mm256_srli_epi64(_mm256_cmpgt_epi64(zero, a), 1));
            b = _mm256_xor_si256(b, _mm256_srli_epi64(_mm256_cmpgt_epi64(zero, b), 1));
            if constexpr (test == PairTest::Ascending) bad = _mm256_or_si256(bad, _mm256_cmpgt_epi64(a, b));
            else bad = _mm256_or_si256(bad, _mm256_cmpgt_epi64(b, a));
        }
        return _mm256_testz_si256(bad, bad) != 0;
    }
#endif

    static u64 unordered_bits(f64) noexcept { return 0; }
    static bool has_unordered(const f64*, std::size_t) noexcept { return false; }
};

// The integer element types: totally ordered, so every comparison answers and nothing is
// ever unordered. kKeyFlip is XORed into the bit pattern to make the key.
template <class T, u64 kKeyFlip>
struct IntegerTraits {
    using value_type = T;
    static constexpr bool kMayBeUnordered = false;
    static constexpr bool kSmallNonNegativeAsU64 = false;
    static u64 to_key(T x) noexcept { return static_cast<u64>(x) ^ kKeyFlip; }
    static T from_key(u64 key) noexcept { return static_cast<T>(key ^ kKeyFlip); }
    static bool is_less(T a, T b) noexcept { return a < b; }
    static bool less(T a, T b) noexcept { return a < b; }
    static bool less_equal(T a, T b) noexcept { return a <= b; }
    static bool greater(T a, T b) noexcept { return a > b; }
    static bool equal(T a, T b) noexcept { return a == b; }
    static bool block_ascending(const T* x) noexcept { return traits_detail::block_ascending(x); }
    static bool block_descending(const T* x) noexcept { return traits_detail::block_descending(x); }
    // Equality of 64-bit integers is equality of their bytes, sixteen at a time.
    static bool block_equal(const T* x) noexcept {
#if defined(__SSE2__)
        const __m128i first = _mm_set1_epi64x(static_cast<long long>(x[0]));
        auto at = [&](int j) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + j)); };
        __m128i ok = _mm_cmpeq_epi8(first, at(1));
        for (int j = 3; j < 9; j += 2) ok = _mm_and_si128(ok, _mm_cmpeq_epi8(first, at(j)));
        return _mm_movemask_epi8(ok) == 0xFFFF;
#else
        return traits_detail::block_equal(x);
#endif
    }
#if defined(__x86_64__)
    // Four pairs at a time. AVX2 compares 64-bit lanes signed only: the key with its top bit
    // flipped (the value itself for i64) orders that way for both element types. An
    // ascending pair is one where a > b is false.
    template <PairTest test>
    __attribute__((target("avx2"))) static bool avx2_pairs_hold(const T* x) noexcept {
        constexpr u64 kFlip = kKeyFlip ^ kSignBit;
        if constexpr (test == PairTest::Equal) {
            // Neighbours all equal means all equal to x[0]: one load per four elements.
            const __m256i first = _mm256_set1_epi64x(static_cast<long long>(x[0]));
            __m256i eq = _mm256_set1_epi64x(-1);
            for (int j = 1; j < 33; j += 4)
                eq = _mm256_and_si256(eq, _mm256_cmpeq_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + j)), first));
            return _mm256_movemask_epi8(eq) == -1;
        }
        __m256i bad = _mm256_setzero_si256();
        for (int j = 0; j < 32; j += 4) {
            __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + j));
            __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + j + 1));
            if constexpr (kFlip != 0) {
                const __m256i flip = _mm256_set1_epi64x(static_cast<long long>(kFlip));
                a = _mm256_xor_si256(a, flip);
                b = _mm256_xor_si256(b, flip);
            }
            if constexpr (test == PairTest::Ascending) bad = _mm256_or_si256(bad, _mm256_cmpgt_epi64(a, b));
            else bad = _mm256_or_si256(bad, _mm256_cmpgt_epi64(b, a));
        }
        return _mm256_testz_si256(bad, bad) != 0;
    }
#endif
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

struct I64Traits : IntegerTraits<i64, kSignBit> {
    static constexpr bool kSmallNonNegativeAsU64 = true;
};
struct U64Traits : IntegerTraits<u64, 0> {};

// The traits of each element type.
template <class T>
struct TraitsOf;
template <>
struct TraitsOf<f64> {
    using type = F64Traits;
};
template <>
struct TraitsOf<i64> {
    using type = I64Traits;
};
template <>
struct TraitsOf<u64> {
    using type = U64Traits;
};
template <class T>
using traits_of = typename TraitsOf<T>::type;

}  // namespace tamarind
