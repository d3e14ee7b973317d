// Shared by the engine's sort tests: seeded named input patterns, a sentinel-framed run,
// the sorted-permutation check, NaN helpers, and the comparison-sort probes (a counting
// comparator, an adaptive pivot adversary, comparator failures at every point).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <limits>
#include <mutex>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

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

// Ordinary values: f64 of both signs over many magnitudes (never NaN), i64 and u64 over
// their full range (u64 above 2^63 catches a signed comparison).
template <class T>
T random_value(std::mt19937_64& rng) {
    if constexpr (std::is_same_v<T, f64>) {
        const f64 m = std::uniform_real_distribution<f64>(-1.0, 1.0)(rng);
        return std::ldexp(m, static_cast<int>(rng() % 80) - 40);
    } else {
        return static_cast<T>(rng());
    }
}

// Small ranks as elements, order preserved for every type; u64 straddles the sign bit.
template <class T>
T rank_value(u64 rank) {
    if constexpr (std::is_same_v<T, f64>) return static_cast<f64>(static_cast<i64>(rank) - 1000) * 0.5;
    else if constexpr (std::is_same_v<T, i64>) return static_cast<i64>(rank) - 1000;
    else return rank + (u64{1} << 63) - 1000;
}

// Values where orders and keys go wrong: for f64 both zeros first, then infinities,
// subnormals and the extremes; for the integers their limits, 0, +-1 and a top-byte step.
template <class T>
std::vector<T> special_values() {
    if constexpr (std::is_same_v<T, f64>) {
        using L = std::numeric_limits<f64>;
        return {-0.0, 0.0, -L::infinity(), L::infinity(), L::denorm_min(), -L::denorm_min(),
                L::max(), L::lowest(), L::min(), 1.0, -1.0};
    } else {
        using L = std::numeric_limits<T>;
        return {L::min(), L::max(), T(0), static_cast<T>(-1), T(1), static_cast<T>(u64{1} << 56),
                static_cast<T>((u64{1} << 56) - 1)};
    }
}

inline std::vector<std::string> pattern_names() {
    return {"random",   "sorted",     "reversed",    "all_equal",     "few_distinct", "organ_pipe",  "sawtooth",
            "push_front", "push_middle", "max_at_end", "nearly_sorted", "one_top_digit", "small_range", "extremes",
            "duplicates"};
}

template <class T>
std::vector<T> make_pattern(const std::string& name, std::size_t n, u64 seed) {
    std::mt19937_64 rng(seed * 1000003 + n);
    std::vector<T> v(n);
    for (auto& x : v) x = random_value<T>(rng);
    if (name == "sorted" || name == "reversed" || name == "push_front" || name == "push_middle" ||
        name == "max_at_end" || name == "nearly_sorted") {
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
    } else if (name == "few_distinct") {
        // For f64 both zeros, which compare equal but differ in bits and in key.
        for (auto& x : v) {
            const u64 r = rng() % 8;
            x = std::is_same_v<T, f64> && r < 2 ? static_cast<T>(r ? 0.0 : -0.0) : rank_value<T>(r);
        }
    } else if (name == "organ_pipe") {
        for (std::size_t i = 0; i < n; ++i) v[i] = rank_value<T>(std::min(i, n - i));
    } else if (name == "sawtooth") {
        const std::size_t tooth = std::max<std::size_t>(n / 7, 5);
        for (std::size_t i = 0; i < n; ++i) v[i] = rank_value<T>(i % tooth);
    } else if (name == "one_top_digit") {
        // All keys share their top byte, so the first split leaves one full bucket.
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

// The place of x in the radix paths' order, read from its bits here rather than taken
// from the engine's keys, so that a wrong key cannot vouch for itself: first the sign
// class, then the rank within it. f64 by sign and magnitude: a set sign bit first, larger
// magnitudes first among those (NaNs with the sign bit set, -inf, .., -0.0), then +0.0 up
// to +inf and the NaNs with the sign bit clear. i64 by sign, then its bits (two's
// complement keeps each sign's values in unsigned order); u64 by value.
template <class T>
std::pair<int, u64> reference_key(T x) {
    const u64 b = std::bit_cast<u64>(x);
    if constexpr (std::is_same_v<T, f64>) {
        const u64 magnitude = b & ~(u64{1} << 63);
        return (b >> 63) != 0 ? std::pair{0, ~magnitude} : std::pair{1, magnitude};
    } else if constexpr (std::is_same_v<T, i64>) {
        return {x < 0 ? 0 : 1, b};
    } else {
        return {0, b};
    }
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

// Holds exactly the input's bit patterns and is ascending; `by_key` demands the radix
// paths' total order (every -0.0 before every +0.0, NaNs at the ends by sign), which
// comparison sorts do not give.
template <class T>
::testing::AssertionResult sorted_permutation(const std::vector<T>& in, const std::vector<T>& out,
                                              bool by_key = false) {
    if (in.size() != out.size()) return ::testing::AssertionFailure() << "length changed";
    if (sorted_bits(in) != sorted_bits(out)) return ::testing::AssertionFailure() << "not a permutation";
    for (std::size_t i = 1; i < out.size(); ++i) {
        const bool ok = by_key ? reference_key(out[i - 1]) <= reference_key(out[i]) : !(out[i] < out[i - 1]);
        if (!ok) return ::testing::AssertionFailure() << "out of order at " << i << " of " << out.size();
    }
    return ::testing::AssertionSuccess();
}

// Runs sort(ptr, n) on a copy of `in` framed by sentinel zones, which must come back
// untouched; returns the slice as the sort left it.
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

// Runs f; returns its panic's message, or "no panic".
template <class F>
std::string panic_message(F&& f) {
    try { f(); } catch (const Panic& p) { return std::string(p.message()); }
    return "no panic";
}

// Sorts v in place; panicking or not, v must stay a permutation. Returns the panic's message.
template <class Sort>
std::string sort_outcome(std::vector<f64>& v, Sort sort) {
    const std::vector<f64> in = v;
    const std::string message = panic_message([&] { sort(v.data(), v.size()); });
    EXPECT_EQ(sorted_bits(in), sorted_bits(v)) << "not a permutation of the input";
    return message;
}

// ----- comparison sorts: sort(ptr, n) on an element type's order, sort(ptr, n, less) -----

// The kernel tables this processor runs: the scalar one, and the vector ones it has.
inline std::vector<const simd::KernelSet*> kernel_tables() {
    std::vector<const simd::KernelSet*> tables;
    for (simd::Isa isa : {simd::Isa::kScalar, simd::Isa::kAvx2, simd::Isa::kAvx512})
        if (const simd::KernelSet* set = simd::kernels_for(isa)) tables.push_back(set);
    return tables;
}

template <class Traits, class Sort>
void expect_sorts_every_pattern(Sort sort, const std::vector<std::size_t>& lengths) {
    using T = typename Traits::value_type;
    for (std::size_t n : lengths)
        for (const std::string& p : pattern_names()) {
            const std::vector<T> in = make_pattern<T>(p, n, 7);
            ASSERT_TRUE(sorted_permutation(in, sorted_with_guards(in, sort))) << p << ", n = " << n;
        }
}

// The element type's comparator as a caller's comparator: the sorts that take one know
// nothing of it (for f64 it panics on a NaN).
template <class Traits>
struct TraitsLess {
    bool operator()(typename Traits::value_type a, typename Traits::value_type b) const { return Traits::is_less(a, b); }
};

// Counts comparisons (atomic: parts sorted on other threads count too) and, when given a
// limit, throws once the count passes it: the NaN panic can only strike where a NaN is
// compared; this reaches every comparison, including those made while an element is held.
struct ComparatorFailure {};

template <class Traits>
struct CountingLess {
    std::atomic<u64>* count;
    u64 throw_after = ~u64{0};
    bool operator()(typename Traits::value_type a, typename Traits::value_type b) const {
        if (count->fetch_add(1, std::memory_order_relaxed) == throw_after) throw ComparatorFailure{};
        return Traits::is_less(a, b);
    }
};

// An adversary that decides the order of the elements only as the sort compares them
// (after McIlroy): every element starts as "gas", above all solid values; when two gas
// elements meet, the one that looks like a pivot candidate is frozen to the next smallest
// value. The answers stay consistent, so the frozen values form an input on which the
// sort has just made these very comparisons: a bad case built for its pivot choice.
struct PivotAdversary {
    explicit PivotAdversary(std::size_t n) : ranks(n, n), gas(n) {}
    bool less(u64 x, u64 y) {
        std::lock_guard<std::mutex> lock(mutex);  // the pool may compare on several threads
        ++comparisons;
        if (ranks[x] == gas && ranks[y] == gas) ranks[x == candidate ? x : y] = next_solid++;
        if (ranks[x] == gas) candidate = x;
        else if (ranks[y] == gas) candidate = y;
        return ranks[x] < ranks[y];
    }
    std::mutex mutex;
    std::vector<u64> ranks;
    u64 gas, next_solid = 0, candidate = 0, comparisons = 0;
};

// Runs the adversary, then replays the input it built with a counting comparator: both
// runs must stay within factor * n * log2(n) comparisons and sort.
template <class Traits, class Sort>
void expect_adversary_bounded(Sort sort, std::size_t n, double factor) {
    using T = typename Traits::value_type;
    PivotAdversary adversary(n);
    std::vector<u64> indices(n);
    std::iota(indices.begin(), indices.end(), u64{0});
    sort(indices.data(), n, [&adversary](u64 x, u64 y) { return adversary.less(x, y); });
    const double bound = factor * static_cast<double>(n) * std::bit_width(n);
    EXPECT_LE(static_cast<double>(adversary.comparisons), bound) << "while building, n = " << n;
    for (std::size_t i = 1; i < n; ++i)
        ASSERT_LE(adversary.ranks[indices[i - 1]], adversary.ranks[indices[i]]) << "adversary run";
    std::vector<T> input(n);
    for (std::size_t i = 0; i < n; ++i) input[i] = rank_value<T>(adversary.ranks[i]);
    std::vector<T> output = input;
    std::atomic<u64> count{0};
    sort(output.data(), n, CountingLess<Traits>{&count});
    EXPECT_LE(static_cast<double>(count.load()), bound) << "replay, n = " << n;
    EXPECT_TRUE(sorted_permutation(input, output));
}

// NaNs in f64 input: the sort panics with the comparator's message before any element
// moves. Short slices get a NaN at every position; a lone NaN is never compared and sorts.
template <class Sort>
void expect_nan_panics(Sort sort) {
    std::mt19937_64 rng(0x4A4E);
    auto run = [&](const std::vector<f64>& in, const std::string& what) {
        std::string message;
        const std::vector<f64> out = sorted_with_guards(in, [&](f64* v, std::size_t n) { message = panic_message([&] { sort(v, n); }); });
        EXPECT_EQ(message, in.size() > 1 ? kNoneUnwrap : "no panic") << what;
        ASSERT_TRUE(same_bits(in, out.begin())) << "moved elements, " << what;
    };
    run({-std::nan("")}, "n = 1");
    for (std::size_t n : {2, 3, 16, 17, 20, 21, 33, 64, 65, 128, 129, 300}) {
        const std::vector<f64> clean = make_pattern<f64>("random", n, n);
        for (std::size_t at = 0; at < n; ++at) {
            std::vector<f64> in = clean;
            in[at] = -std::nan("");
            run(in, "n = " + std::to_string(n) + ", NaN at " + std::to_string(at));
        }
    }
    for (std::size_t n : {256, 257, 1000, 2001, 5000, 100'000, 300'000}) {
        for (std::size_t nans : {1, 3}) {
            std::vector<f64> in = make_pattern<f64>(rng() % 2 ? "random" : "sorted", n, rng());
            for (std::size_t k = 0; k < nans; ++k) in[rng() % n] = std::bit_cast<f64>(0x7FF8'0000'0000'0000ULL | (rng() & 0xFFFF));
            run(in, "n = " + std::to_string(n));
        }
    }
}

// Interrupts sort at many points of its run; each time the slice must hold a permutation.
template <class Traits, class Sort>
void expect_permutation_when_interrupted(Sort sort) {
    using T = typename Traits::value_type;
    std::mt19937_64 rng(0x1E7);
    for (std::size_t n : {2, 20, 21, 60, 300, 3000, 5000}) {
        for (const char* p : {"random", "nearly_sorted", "few_distinct"}) {
            const std::vector<T> in = make_pattern<T>(p, n, n);
            for (u64 k = 0; k < 64 * n; k += 1 + k / 8 + rng() % 3) {
                const std::vector<T> out = sorted_with_guards(in, [&](T* v, std::size_t m) {
                    std::atomic<u64> count{0};
                    try { sort(v, m, CountingLess<Traits>{&count, k}); } catch (const ComparatorFailure&) {}
                });
                ASSERT_EQ(sorted_bits(in), sorted_bits(out)) << p << ", n = " << n << ", k = " << k;
                ASSERT_FALSE(::testing::Test::HasFailure()) << "the guards, " << p << ", n = " << n << ", k = " << k;
            }
        }
    }
}

}  // namespace tamarind::testing
