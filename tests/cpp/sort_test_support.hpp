// Shared helpers for the comparison-sort tests: seeded input patterns, a guarded buffer,
// the sorted-permutation check, a counting comparator and an adaptive pivot adversary.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <mutex>
#include <numeric>
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

using ElementTraits = ::testing::Types<F64Traits, I64Traits, U64Traits>;

// Maps 64 random bits to an element: f64 values of both signs over many magnitudes,
// i64 and u64 over their full range (u64 values above 2^63 catch a signed comparison).
template <class T>
T element_from(u64 bits) {
    if constexpr (std::is_same_v<T, f64>) {
        return static_cast<f64>(static_cast<i64>(bits)) * 0x1p-40;
    } else {
        return static_cast<T>(bits);
    }
}

// Small integers as elements, order preserved for every type.
template <class T>
T element_at(u64 rank) {
    if constexpr (std::is_same_v<T, f64>) {
        return static_cast<f64>(static_cast<i64>(rank) - 1000) * 0.5;
    } else if constexpr (std::is_same_v<T, i64>) {
        return static_cast<i64>(rank) - 1000;
    } else {
        return rank + (u64{1} << 63) - 1000;  // straddles the sign bit
    }
}

enum class Pattern {
    kRandom,
    kSorted,
    kReversed,
    kAllEqual,
    kFewDistinct,
    kOrganPipe,
    kSawtooth,
    kPushFront,
    kPushMiddle,
    kNearlySorted,
};

inline constexpr Pattern kAllPatterns[] = {
    Pattern::kRandom,    Pattern::kSorted,    Pattern::kReversed,  Pattern::kAllEqual,
    Pattern::kFewDistinct, Pattern::kOrganPipe, Pattern::kSawtooth, Pattern::kPushFront,
    Pattern::kPushMiddle, Pattern::kNearlySorted,
};

inline const char* pattern_name(Pattern p) {
    switch (p) {
        case Pattern::kRandom: return "random";
        case Pattern::kSorted: return "sorted";
        case Pattern::kReversed: return "reversed";
        case Pattern::kAllEqual: return "all equal";
        case Pattern::kFewDistinct: return "few distinct";
        case Pattern::kOrganPipe: return "organ pipe";
        case Pattern::kSawtooth: return "sawtooth";
        case Pattern::kPushFront: return "push front";
        case Pattern::kPushMiddle: return "push middle";
        case Pattern::kNearlySorted: return "nearly sorted";
    }
    return "?";
}

template <class T>
std::vector<T> make_pattern(Pattern p, std::size_t n, std::mt19937_64& rng) {
    std::vector<T> v(n);
    switch (p) {
        case Pattern::kRandom:
            for (T& x : v) x = element_from<T>(rng());
            break;
        case Pattern::kSorted:
            for (std::size_t i = 0; i < n; ++i) v[i] = element_at<T>(i);
            break;
        case Pattern::kReversed:
            for (std::size_t i = 0; i < n; ++i) v[i] = element_at<T>(n - i);
            break;
        case Pattern::kAllEqual:
            std::fill(v.begin(), v.end(), element_at<T>(7));
            break;
        case Pattern::kFewDistinct:
            for (std::size_t i = 0; i < n; ++i) {
                const u64 r = rng() % 8;
                if constexpr (std::is_same_v<T, f64>) {
                    // Both zeros, which compare equal but differ in bits.
                    v[i] = r == 0 ? -0.0 : r == 1 ? 0.0 : element_at<T>(r);
                } else {
                    v[i] = element_at<T>(r);
                }
            }
            break;
        case Pattern::kOrganPipe:
            for (std::size_t i = 0; i < n; ++i) v[i] = element_at<T>(std::min(i, n - i));
            break;
        case Pattern::kSawtooth: {
            const std::size_t tooth = std::max<std::size_t>(n / 7, 5);
            for (std::size_t i = 0; i < n; ++i) v[i] = element_at<T>(i % tooth);
            break;
        }
        case Pattern::kPushFront:
            for (std::size_t i = 0; i < n; ++i) v[i] = element_at<T>(i + 1);
            if (n > 0) v[n - 1] = element_at<T>(0);
            break;
        case Pattern::kPushMiddle:
            for (std::size_t i = 0; i < n; ++i) v[i] = element_at<T>(2 * i);
            if (n > 0) v[n - 1] = element_at<T>(n | 1);
            break;
        case Pattern::kNearlySorted:
            for (std::size_t i = 0; i < n; ++i) v[i] = element_at<T>(i);
            for (std::size_t k = 0; n > 1 && k < 3; ++k) std::swap(v[rng() % n], v[rng() % n]);
            break;
    }
    return v;
}

// A copy of the input between guard zones that must come back untouched.
template <class T>
class GuardedBuffer {
public:
    static constexpr std::size_t kGuard = 16;

    explicit GuardedBuffer(const std::vector<T>& input) : n_(input.size()), storage_(n_ + 2 * kGuard) {
        for (std::size_t i = 0; i < kGuard; ++i) {
            storage_[i] = sentinel(i);
            storage_[kGuard + n_ + i] = sentinel(i + kGuard);
        }
        std::copy(input.begin(), input.end(), storage_.begin() + kGuard);
    }

    T* data() { return storage_.data() + kGuard; }
    std::size_t size() const { return n_; }
    std::vector<T> contents() const {
        return std::vector<T>(storage_.begin() + kGuard, storage_.begin() + kGuard + n_);
    }

    bool guards_intact() const {
        for (std::size_t i = 0; i < kGuard; ++i) {
            if (!same_bits(storage_[i], sentinel(i))) return false;
            if (!same_bits(storage_[kGuard + n_ + i], sentinel(i + kGuard))) return false;
        }
        return true;
    }

private:
    static T sentinel(std::size_t i) { return std::bit_cast<T>(0x5EA1'0000'0000'0000ULL + i); }
    static bool same_bits(T a, T b) { return std::bit_cast<u64>(a) == std::bit_cast<u64>(b); }

    std::size_t n_;
    std::vector<T> storage_;
};

template <class T>
std::vector<u64> bits_of(const std::vector<T>& v) {
    std::vector<u64> bits(v.size());
    std::transform(v.begin(), v.end(), bits.begin(), [](T x) { return std::bit_cast<u64>(x); });
    return bits;
}

// The elements' bit patterns in key order: equal exactly when two slices hold the same
// multiset (telling -0.0 from +0.0 and one NaN from another).
template <class Traits>
std::vector<u64> key_sorted_bits(const std::vector<typename Traits::value_type>& v) {
    std::vector<u64> keys(v.size());
    std::transform(v.begin(), v.end(), keys.begin(), [](auto x) { return Traits::to_key(x); });
    std::sort(keys.begin(), keys.end());
    return keys;
}

// Ordered, equal value by value to std::sort's result, and the same multiset of bits.
template <class Traits>
::testing::AssertionResult is_sorted_permutation(const std::vector<typename Traits::value_type>& input,
                                                 const std::vector<typename Traits::value_type>& output) {
    using T = typename Traits::value_type;
    std::vector<T> expected = input;
    std::sort(expected.begin(), expected.end(), [](T a, T b) { return a < b; });
    for (std::size_t i = 0; i < output.size(); ++i) {
        if (!(output[i] == expected[i]))
            return ::testing::AssertionFailure() << "first difference from std::sort at index " << i;
    }
    if (key_sorted_bits<Traits>(input) != key_sorted_bits<Traits>(output))
        return ::testing::AssertionFailure() << "not a permutation of the input";
    return ::testing::AssertionSuccess();
}

// Runs sort on a guarded copy of input and checks the result.
template <class Traits, class Sort>
void expect_sorts(const std::vector<typename Traits::value_type>& input, Sort sort, const std::string& what) {
    GuardedBuffer<typename Traits::value_type> buffer(input);
    sort(buffer.data(), buffer.size(), LessOf<Traits>{});
    ASSERT_TRUE(buffer.guards_intact()) << what << ": wrote outside the slice";
    ASSERT_TRUE(is_sorted_permutation<Traits>(input, buffer.contents())) << what;
}

// Every length up to 1100, the thresholds and one either side, and a few larger slices.
inline std::vector<std::size_t> test_lengths() {
    std::vector<std::size_t> lengths(1101);
    std::iota(lengths.begin(), lengths.end(), std::size_t{0});
    for (std::size_t n : {1999, 2000, 2001, 2002, 4001, 4003, 8192, 20000}) lengths.push_back(n);
    return lengths;
}

inline std::vector<std::size_t> large_lengths() {
    if (kSanitized) return {100'000};
    return {100'000, 1'000'000};
}

template <class Traits, class Sort>
void expect_sorts_every_pattern(Sort sort, const std::vector<std::size_t>& lengths) {
    using T = typename Traits::value_type;
    std::mt19937_64 rng(0x7A3A'21D5);
    for (std::size_t n : lengths) {
        for (Pattern p : kAllPatterns) {
            expect_sorts<Traits>(make_pattern<T>(p, n, rng), sort,
                                 std::string(pattern_name(p)) + ", n = " + std::to_string(n));
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

// Counts comparisons; atomic so that parts sorted on other threads count too.
template <class Traits>
struct CountingLess {
    std::atomic<u64>* count;
    bool operator()(typename Traits::value_type a, typename Traits::value_type b) const {
        count->fetch_add(1, std::memory_order_relaxed);
        return Traits::is_less(a, b);
    }
};

// An adversary that decides the order of the elements only as the sort compares them
// (after McIlroy): every element starts as "gas", above all solid values; when two gas
// elements meet, the one that looks like a pivot candidate is frozen to the next smallest
// value. The answers are always consistent, so the frozen values form an input on which
// the sort has just made these very comparisons: a bad case built for its pivot choice.
class PivotAdversary {
public:
    explicit PivotAdversary(std::size_t n) : values_(n, n), gas_(n) {}

    struct Less {
        PivotAdversary* self;
        bool operator()(u64 x, u64 y) const { return self->less(x, y); }
    };
    Less comparator() { return Less{this}; }

    u64 comparisons() const { return comparisons_; }

    // The input it built, as ranks 0..n (unfrozen gas elements all share the top rank).
    const std::vector<u64>& ranks() const { return values_; }

private:
    bool less(u64 x, u64 y) {
        // The pool may compare on several threads; the answers must stay one total order.
        std::lock_guard<std::mutex> lock(mutex_);
        ++comparisons_;
        if (values_[x] == gas_ && values_[y] == gas_) values_[x == candidate_ ? x : y] = next_solid_++;
        if (values_[x] == gas_) {
            candidate_ = x;
        } else if (values_[y] == gas_) {
            candidate_ = y;
        }
        return values_[x] < values_[y];
    }

    std::mutex mutex_;
    std::vector<u64> values_;
    u64 gas_;
    u64 next_solid_ = 0;
    u64 candidate_ = 0;
    u64 comparisons_ = 0;
};

// Runs the adversary against sort (which sorts u64 indices with a comparator), then sorts
// the input it built with a counting comparator. Both runs must stay within
// factor * n * log2(n) comparisons and the second must sort.
template <class Traits, class Sort>
void expect_adversary_bounded(Sort sort, std::size_t n, double factor) {
    using T = typename Traits::value_type;
    PivotAdversary adversary(n);
    std::vector<u64> indices(n);
    std::iota(indices.begin(), indices.end(), u64{0});
    sort(indices.data(), n, adversary.comparator());
    const double bound = factor * static_cast<double>(n) * std::bit_width(n);
    EXPECT_LE(static_cast<double>(adversary.comparisons()), bound) << "while building, n = " << n;
    for (std::size_t i = 1; i < n; ++i)
        ASSERT_LE(adversary.ranks()[indices[i - 1]], adversary.ranks()[indices[i]]) << "adversary run";

    std::vector<T> input(n);
    for (std::size_t i = 0; i < n; ++i) input[i] = element_at<T>(adversary.ranks()[i]);
    std::vector<T> output = input;
    std::atomic<u64> count{0};
    sort(output.data(), n, CountingLess<Traits>{&count});
    EXPECT_LE(static_cast<double>(count.load()), bound) << "replay, n = " << n;
    EXPECT_TRUE(is_sorted_permutation<Traits>(input, output));
}

// Random f64 input with NaNs at random places: the sort must panic with the comparator's
// message, stay inside the slice and leave a permutation of the input.
template <class Sort>
void expect_nan_panics(Sort sort) {
    std::mt19937_64 rng(0x4A4E);
    std::vector<std::size_t> lengths = {2, 3, 20, 21, 49, 50, 51, 129, 256, 257, 1000, 2001, 5000, 100'000};
    for (std::size_t n = 4; n < 1100; n += 37) lengths.push_back(n);
    for (std::size_t n : lengths) {
        for (std::size_t nans : {std::size_t{1}, std::size_t{3}}) {
            std::vector<f64> input = make_pattern<f64>(rng() % 2 ? Pattern::kRandom : Pattern::kSorted, n, rng);
            for (std::size_t k = 0; k < nans; ++k)
                input[rng() % n] = std::bit_cast<f64>(0x7FF8'0000'0000'0000ULL | (rng() & 0xFFFF));
            GuardedBuffer<f64> buffer(input);
            try {
                sort(buffer.data(), n, LessOf<F64Traits>{});
                ADD_FAILURE() << "no panic, n = " << n;
            } catch (const Panic& p) {
                EXPECT_EQ(p.message(), kNoneUnwrap);
            }
            ASSERT_TRUE(buffer.guards_intact()) << "n = " << n;
            ASSERT_EQ(key_sorted_bits<F64Traits>(input), key_sorted_bits<F64Traits>(buffer.contents()))
                << "not a permutation after the panic, n = " << n;
        }
    }
}

// A comparator that throws at its k-th call: the NaN panic can only strike where a NaN is
// compared, which never happens while an insertion holds an element aside; this reaches
// every comparison.
struct ComparatorFailure {};

template <class Traits>
struct ThrowingLess {
    std::atomic<u64>* remaining;
    bool operator()(typename Traits::value_type a, typename Traits::value_type b) const {
        if (remaining->fetch_sub(1, std::memory_order_relaxed) == 0) throw ComparatorFailure{};
        return Traits::is_less(a, b);
    }
};

// Interrupts sort at many points of its run; each time the slice must hold a permutation.
template <class Traits, class Sort>
void expect_permutation_when_interrupted(Sort sort) {
    using T = typename Traits::value_type;
    std::mt19937_64 rng(0x1E7);
    for (std::size_t n : {2, 20, 21, 60, 300, 3000, 5000}) {
        for (Pattern p : {Pattern::kRandom, Pattern::kNearlySorted, Pattern::kFewDistinct}) {
            const std::vector<T> input = make_pattern<T>(p, n, rng);
            for (u64 k = 0; k < 64 * n; k += 1 + k / 8 + rng() % 3) {
                GuardedBuffer<T> buffer(input);
                std::atomic<u64> remaining{k};
                try {
                    sort(buffer.data(), n, ThrowingLess<Traits>{&remaining});
                } catch (const ComparatorFailure&) {
                }
                ASSERT_TRUE(buffer.guards_intact()) << pattern_name(p) << ", n = " << n << ", k = " << k;
                ASSERT_EQ(key_sorted_bits<Traits>(input), key_sorted_bits<Traits>(buffer.contents()))
                    << "not a permutation: " << pattern_name(p) << ", n = " << n << ", k = " << k;
            }
        }
    }
}

}  // namespace tamarind::testing
