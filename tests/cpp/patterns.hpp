// Seeded named input patterns and result checks shared by the engine's sort tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "traits/traits.hpp"

namespace tamarind::testing {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

template <class T>
struct TraitsOf;
template <> struct TraitsOf<f64> { using type = F64Traits; };
template <> struct TraitsOf<i64> { using type = I64Traits; };
template <> struct TraitsOf<u64> { using type = U64Traits; };

// A spread of ordinary values: both signs, many magnitudes, never NaN.
template <class T>
T random_value(std::mt19937_64& rng) {
    if constexpr (std::is_same_v<T, f64>) {
        const double m = std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
        return std::ldexp(m, static_cast<int>(rng() % 80) - 40);
    } else {
        return static_cast<T>(rng());
    }
}

template <class T>
T from_index(std::size_t i) {
    return static_cast<T>(i);
}

inline const std::vector<std::string>& pattern_names() {
    static const std::vector<std::string> names = {
        "random", "sorted", "reversed", "all_equal", "few_distinct", "organ_pipe", "sawtooth",
        "push_front", "push_middle", "max_at_end", "one_top_digit", "small_range", "extremes", "duplicates"};
    return names;
}

template <class T>
std::vector<T> make_pattern(const std::string& name, std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed * 1000003 + n);
    std::vector<T> v(n);
    auto random_fill = [&] { for (auto& x : v) x = random_value<T>(rng); };
    if (name == "random") {
        random_fill();
    } else if (name == "sorted" || name == "reversed" || name == "push_front" || name == "push_middle" ||
               name == "max_at_end") {
        random_fill();
        std::sort(v.begin(), v.end());
        if (name == "reversed") std::reverse(v.begin(), v.end());
        if (name == "push_front" && n > 1) std::rotate(v.begin(), v.end() - 1, v.end());
        if (name == "push_middle" && n > 1) std::rotate(v.begin() + n / 2, v.end() - 1, v.end());
        if (name == "max_at_end" && n > 1) { std::shuffle(v.begin(), v.end() - 1, rng); }
    } else if (name == "all_equal") {
        std::fill(v.begin(), v.end(), random_value<T>(rng));
    } else if (name == "few_distinct") {
        T pool[5];
        for (auto& p : pool) p = random_value<T>(rng);
        for (auto& x : v) x = pool[rng() % 5];
    } else if (name == "organ_pipe") {
        for (std::size_t i = 0; i < n; ++i) v[i] = from_index<T>(std::min(i, n - i));
    } else if (name == "sawtooth") {
        for (std::size_t i = 0; i < n; ++i) v[i] = from_index<T>(i % 97);
    } else if (name == "one_top_digit") {
        // All keys share their top byte, so the first split leaves one full bucket.
        for (auto& x : v) {
            if constexpr (std::is_same_v<T, f64>) x = 1.0 + std::uniform_real_distribution<double>(0, 1)(rng);
            else x = static_cast<T>((u64{0x01} << 56) | (rng() >> 8));
        }
    } else if (name == "small_range") {
        for (auto& x : v) x = static_cast<T>(rng() % 1001);
    } else if (name == "extremes") {
        std::vector<T> special;
        if constexpr (std::is_same_v<T, f64>) {
            const f64 inf = std::numeric_limits<f64>::infinity();
            special = {-inf, inf, -0.0, 0.0, std::numeric_limits<f64>::denorm_min(),
                       -std::numeric_limits<f64>::denorm_min(), std::numeric_limits<f64>::max(),
                       std::numeric_limits<f64>::lowest(), std::numeric_limits<f64>::min(), 1.0, -1.0};
        } else {
            special = {std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), T(0), T(1), static_cast<T>(-1),
                       static_cast<T>(u64{1} << 56), static_cast<T>((u64{1} << 56) - 1)};
        }
        for (auto& x : v) x = rng() % 3 ? special[rng() % special.size()] : random_value<T>(rng);
    } else if (name == "duplicates") {
        for (auto& x : v) x = random_value<T>(rng);
        for (std::size_t i = 0; i < n; ++i) if (rng() % 4) v[i] = v[rng() % (i + 1)];
    } else {
        ADD_FAILURE() << "unknown pattern " << name;
    }
    return v;
}

template <class T>
std::vector<u64> sorted_bits(const std::vector<T>& v) {
    std::vector<u64> b(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) b[i] = std::bit_cast<u64>(v[i]);
    std::sort(b.begin(), b.end());
    return b;
}

// Output holds exactly the input's values and is ascending; `by_key` also demands key order
// (every -0.0 before every +0.0), which radix paths guarantee and comparison sorts do not.
template <class T>
::testing::AssertionResult sorted_permutation(const std::vector<T>& in, const std::vector<T>& out,
                                              bool by_key = false) {
    using Traits = typename TraitsOf<T>::type;
    if (in.size() != out.size()) return ::testing::AssertionFailure() << "length changed";
    if (sorted_bits(in) != sorted_bits(out)) return ::testing::AssertionFailure() << "not a permutation";
    for (std::size_t i = 1; i < out.size(); ++i) {
        const bool ok = by_key ? Traits::to_key(out[i - 1]) <= Traits::to_key(out[i]) : !(out[i] < out[i - 1]);
        if (!ok) return ::testing::AssertionFailure() << "out of order at " << i << " of " << out.size();
    }
    return ::testing::AssertionSuccess();
}

// Runs sort(ptr, n) on a copy framed by sentinels and checks the frame survived.
template <class T, class Sort>
std::vector<T> sorted_with_guards(const std::vector<T>& in, Sort sort) {
    const T guard = std::bit_cast<T>(u64{0x5A5A5A5A5A5A5A5A});
    std::vector<T> framed(in.size() + 2, guard);
    std::copy(in.begin(), in.end(), framed.begin() + 1);
    sort(framed.data() + 1, in.size());
    EXPECT_EQ(std::bit_cast<u64>(framed.front()), std::bit_cast<u64>(guard));
    EXPECT_EQ(std::bit_cast<u64>(framed.back()), std::bit_cast<u64>(guard));
    return {framed.begin() + 1, framed.end() - 1};
}

inline f64 nan_with_bits(u64 bits) { return std::bit_cast<f64>(bits); }
inline const f64 kPosNaN = nan_with_bits(0x7FF8000000000000ULL);
inline const f64 kNegNaN = nan_with_bits(0xFFF8000000000000ULL);

}  // namespace tamarind::testing
