// Shared by the engine's tests, with the standard headers they have in common: seeded named
// input patterns, a sentinel-framed run, the sorted-permutation check, an order worked out
// from the bits, and a pool of n workers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "pool/thread_pool.hpp"
#include "simd/kernels.hpp"
#include "traits/traits.hpp"

namespace tamarind::testing {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

using ElementTraits = ::testing::Types<F64Traits, I64Traits, U64Traits>;
using ElementTypes = ::testing::Types<f64, i64, u64>;

inline const f64 kPosNaN = std::bit_cast<f64>(0x7FF8000000000000ULL);
inline const f64 kNegNaN = std::bit_cast<f64>(0xFFF8000000000000ULL);

// f64 of both signs over many magnitudes (never NaN); i64 and u64 over their full range
// (u64 above 2^63 catches a signed comparison).
template <class T>
T random_value(std::mt19937_64& rng) {
    if constexpr (std::is_same_v<T, f64>)
        return std::ldexp(std::uniform_real_distribution<f64>(-1.0, 1.0)(rng), static_cast<int>(rng() % 80) - 40);
    else
        return static_cast<T>(rng());
}

// Small ranks as elements, order preserved for every type; u64 straddles the sign bit.
template <class T>
T rank_value(u64 rank) {
    if constexpr (std::is_same_v<T, f64>) return static_cast<f64>(static_cast<i64>(rank) - 1000) * 0.5;
    else if constexpr (std::is_same_v<T, i64>) return static_cast<i64>(rank) - 1000;
    else return rank + (u64{1} << 63) - 1000;
}

// Where orders and keys go wrong: for f64 both zeros first, then infinities, subnormals and
// the extremes; for the integers their limits, 0, +-1 and a top-byte step.
template <class T>
std::vector<T> special_values() {
    using L = std::numeric_limits<T>;
    if constexpr (std::is_same_v<T, f64>)
        return {-0.0, 0.0, -L::infinity(), L::infinity(), L::denorm_min(), -L::denorm_min(), L::max(), L::lowest(), L::min(), 1.0, -1.0};
    else
        return {L::min(), L::max(), T(0), static_cast<T>(-1), T(1), static_cast<T>(u64{1} << 56), static_cast<T>((u64{1} << 56) - 1)};
}

inline std::vector<std::string> pattern_names() {
    return {"random", "sorted", "reversed", "all_equal", "few_distinct", "organ_pipe", "sawtooth", "push_front",
            "push_middle", "max_at_end", "nearly_sorted", "one_top_digit", "small_range", "extremes", "duplicates"};
}

template <class T>
std::vector<T> make_pattern(const std::string& name, std::size_t n, u64 seed) {
    std::mt19937_64 rng(seed * 1000003 + n);
    std::vector<T> v(n);
    for (auto& x : v) x = random_value<T>(rng);
    if (name == "sorted" || name == "reversed" || name.starts_with("push_") || name == "max_at_end" || name == "nearly_sorted") {
        std::sort(v.begin(), v.end());
        if (name == "reversed") std::reverse(v.begin(), v.end());
        if (n < 2) return v;
        if (name == "push_front") std::rotate(v.begin(), v.end() - 1, v.end());
        if (name == "push_middle") std::rotate(v.begin() + n / 2, v.end() - 1, v.end());
        if (name == "max_at_end") std::shuffle(v.begin(), v.end() - 1, rng);
        // A pair in a hundred exchanged, at least three: enough for the lifting pass to take.
        if (name == "nearly_sorted")
            for (std::size_t k = 0; k < std::max<std::size_t>(3, n / 100); ++k) std::swap(v[rng() % n], v[rng() % n]);
    } else if (name == "all_equal") {
        std::fill(v.begin(), v.end(), random_value<T>(rng));
    } else if (name == "few_distinct") {  // for f64 both zeros: equal to comparisons, not in bits or key
        for (auto& x : v) {
            const u64 r = rng() % 8;
            x = std::is_same_v<T, f64> && r < 2 ? static_cast<T>(r ? 0.0 : -0.0) : rank_value<T>(r);
        }
    } else if (name == "organ_pipe" || name == "sawtooth") {
        const std::size_t tooth = std::max<std::size_t>(n / 7, 5);
        for (std::size_t i = 0; i < n; ++i) v[i] = rank_value<T>(name == "sawtooth" ? i % tooth : std::min(i, n - i));
    } else if (name == "one_top_digit") {  // the first split leaves one full bucket
        for (auto& x : v)
            x = std::is_same_v<T, f64> ? static_cast<T>(1.0 + std::uniform_real_distribution<f64>(0, 1)(rng))
                                       : static_cast<T>((u64{0x01} << 56) | (rng() >> 8));
    } else if (name == "small_range") {
        for (auto& x : v) x = static_cast<T>(rng() % 1001);
    } else if (name == "extremes") {
        const std::vector<T> special = special_values<T>();
        for (auto& x : v) if (rng() % 3) x = special[rng() % special.size()];
    } else if (name == "duplicates") {
        for (std::size_t i = 0; i < n; ++i) if (rng() % 4) v[i] = v[rng() % (i + 1)];
    } else if (name != "random") {
        ADD_FAILURE() << "unknown pattern " << name;
    }
    return v;
}

template <class T>
std::vector<u64> sorted_bits(const std::vector<T>& v) {
    std::vector<u64> b(v.size());
    std::transform(v.begin(), v.end(), b.begin(), [](T x) { return std::bit_cast<u64>(x); });
    std::sort(b.begin(), b.end());
    return b;
}

// a holds, bit for bit, what starts at b (-0.0 and +0.0 differ, as do NaN payloads).
template <class T, class It>
bool same_bits(const std::vector<T>& a, It b) {
    return std::equal(a.begin(), a.end(), b, [](T x, T y) { return std::bit_cast<u64>(x) == std::bit_cast<u64>(y); });
}

// The radix paths' order, read from the bits here rather than taken from the engine's keys,
// so that a wrong key cannot vouch for itself: the sign class, then the rank within it. f64:
// a set sign bit first, larger magnitudes first among those (-NaN, -inf, .., -0.0), then +0.0
// up to +inf and +NaN. i64 by sign, then its bits (two's complement); u64 by value.
template <class T>
std::pair<int, u64> reference_key(T x) {
    const u64 b = std::bit_cast<u64>(x);
    if constexpr (std::is_same_v<T, f64>) return (b >> 63) != 0 ? std::pair{0, ~(b & ~(u64{1} << 63))} : std::pair{1, b};
    else if constexpr (std::is_same_v<T, i64>) return {x < 0 ? 0 : 1, b};
    else return {0, b};
}

template <class T>
std::vector<T> in_reference_order(std::vector<T> v) {
    std::sort(v.begin(), v.end(), [](T a, T b) { return reference_key(a) < reference_key(b); });
    return v;
}

// Input the sorts must recognise as presorted: non-descending with equal -0.0 and +0.0
// among its values (to come back bit for bit), and strictly descending (to come back reversed).
template <class T>
std::pair<std::vector<T>, std::vector<T>> presorted_inputs(std::size_t n) {
    std::vector<T> ascending = make_pattern<T>("few_distinct", n, 5), descending(n);
    std::stable_sort(ascending.begin(), ascending.end(), [](T a, T b) { return a < b; });
    for (std::size_t i = 0; i < n; ++i) descending[i] = rank_value<T>(n - i);
    return {ascending, descending};
}

// Holds exactly the input's bit patterns and is ascending; `by_key` demands the radix paths'
// total order (every -0.0 before every +0.0, NaNs at the ends by sign).
template <class T>
::testing::AssertionResult sorted_permutation(const std::vector<T>& in, const std::vector<T>& out, bool by_key = false) {
    if (sorted_bits(in) != sorted_bits(out)) return ::testing::AssertionFailure() << "not a permutation";
    for (std::size_t i = 1; i < out.size(); ++i)
        if (by_key ? reference_key(out[i]) < reference_key(out[i - 1]) : out[i] < out[i - 1])
            return ::testing::AssertionFailure() << "out of order at " << i << " of " << out.size();
    return ::testing::AssertionSuccess();
}

// Runs sort(ptr, n) on a copy of `in` framed by sentinels, which must come back untouched;
// returns the slice as the sort left it.
template <class T, class Sort>
std::vector<T> sorted_with_guards(const std::vector<T>& in, Sort sort) {
    constexpr std::size_t kGuard = 16;
    std::vector<T> sentinels(in.size() + 2 * kGuard);
    for (std::size_t i = 0; i < sentinels.size(); ++i) sentinels[i] = std::bit_cast<T>(0x5EA1'0000'0000'0000ULL + i);
    std::vector<T> buffer = sentinels;
    std::copy(in.begin(), in.end(), buffer.begin() + kGuard);
    sort(buffer.data() + kGuard, in.size());
    std::vector<T> out(buffer.begin() + kGuard, buffer.end() - kGuard);
    std::copy(sentinels.begin() + kGuard, sentinels.end() - kGuard, buffer.begin() + kGuard);
    EXPECT_TRUE(same_bits(buffer, sentinels.begin())) << "wrote outside the slice, n = " << in.size();
    return out;
}

inline pool::ThreadPool make_pool(std::size_t threads) {
    return pool::ThreadPoolBuilder().num_threads(threads).build().unwrap();
}

// Runs f; returns its panic's message, or "no panic".
template <class F>
std::string panic_message(F&& f) {
    try { f(); } catch (const Panic& p) { return std::string(p.message()); }
    return "no panic";
}

// A comparator's failure, thrown by the probes that interrupt a sort part way.
struct ComparatorFailure {};

}  // namespace tamarind::testing
