// The single-threaded entry for f64 and i64: every length threshold one below and at it,
// every named pattern, and both outcomes for NaN above the comparison-sort range.
#include <gtest/gtest.h>

#include "patterns.hpp"
#include "sorts/single_threaded_sort.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

template <class T>
class SingleThreadedSort : public ::testing::Test {};
using EntryTypes = ::testing::Types<f64, i64>;
TYPED_TEST_SUITE(SingleThreadedSort, EntryTypes);

const std::vector<std::size_t> kThresholds = {20,   21,   128,  129,   250,   251,   256,   257,    300,    301,
                                              349,  350,  799,  800,   3000,  3001,  7000,  7001,   30000,  30001,
                                              65536, 65537, 128000, 128001};

template <class T>
void check(const std::vector<T>& in, const std::string& what) {
    const std::vector<T> out = sorted_with_guards(in, [](T* v, std::size_t n) { single_threaded_sort(v, n); });
    if constexpr (std::is_same_v<T, i64>) {
        std::vector<T> want = in;
        std::sort(want.begin(), want.end());
        ASSERT_EQ(out, want) << what;
    } else {
        ASSERT_TRUE(sorted_permutation(in, out)) << what;
    }
}

}  // namespace

TYPED_TEST(SingleThreadedSort, EveryShortLength) {
    const std::size_t top = kSanitized ? 400 : 1100;
    for (const std::string pattern : {"random", "sawtooth", "few_distinct", "extremes"})
        for (std::size_t n = 0; n <= top; ++n) check(make_pattern<TypeParam>(pattern, n, 2), pattern + " n=" + std::to_string(n));
}

TYPED_TEST(SingleThreadedSort, EveryPatternAtEveryThreshold) {
    for (const std::string& pattern : pattern_names()) {
        for (std::size_t n : kThresholds) {
            if (kSanitized && n > 10000 && pattern != "random" && pattern != "one_top_digit") continue;
            check(make_pattern<TypeParam>(pattern, n, 3), pattern + " n=" + std::to_string(n));
        }
    }
}

// Data that exercises particular digits and the i64 same-sign bucket.
TEST(SingleThreadedSortI64, DigitShapes) {
    std::mt19937_64 rng(12);
    const std::size_t n = kSanitized ? 20000 : 200000;
    auto fill = [&](auto gen) { std::vector<i64> v(n); for (auto& x : v) x = gen(); return v; };
    const i64 lo = std::numeric_limits<i64>::min(), hi = std::numeric_limits<i64>::max();
    check(fill([&] { return rng() % 8 ? static_cast<i64>(rng()) : (rng() % 2 ? lo : hi); }), "full range with extremes");
    check(fill([&] { return -static_cast<i64>(rng() >> 1) - 1; }), "negative only");
    check(fill([&] { return static_cast<i64>(rng() >> 8); }), "non-negative below 2^56");
    check(fill([&] { return static_cast<i64>(rng() >> 4) - (i64{1} << 59); }), "60-bit spread around zero");
    check(fill([&] { return lo + static_cast<i64>(rng() >> 4); }), "keys of 60 significant bits");
    check(fill([&] { return static_cast<i64>(rng() % 3) - 1; }), "three values");
    // Mostly below 2^56 with 349 and 350 values there among others.
    for (std::size_t small : {349, 350}) {
        std::vector<i64> v(8000);
        for (std::size_t i = 0; i < v.size(); ++i)
            v[i] = i < small ? static_cast<i64>(rng() >> 8) : -static_cast<i64>(rng() >> 1);
        std::shuffle(v.begin(), v.end(), rng);
        check(v, "same-sign bucket of " + std::to_string(small));
    }
}

TEST(SingleThreadedSortF64, DenormalsInfinitiesAndZerosByKeyInRadixChunks) {
    std::mt19937_64 rng(13);
    const f64 specials[] = {INFINITY, -INFINITY, 0.0, -0.0, std::numeric_limits<f64>::denorm_min(),
                            -std::numeric_limits<f64>::denorm_min(), 5e-310, -5e-310};
    for (std::size_t n : {301, 799, 800, 100000}) {
        std::vector<f64> v(n);
        for (auto& x : v) x = rng() % 2 ? specials[rng() % 8] : std::ldexp(static_cast<f64>(rng() % 1000) - 500, -1060);
        check(v, "specials n=" + std::to_string(n));
    }
}

// ----- NaN -----

namespace {

// Sorts a copy; returns whether it panicked (with the comparator's message) and checks
// that the array still holds a permutation of the input either way.
bool sort_panics(std::vector<f64>& v, std::string* message = nullptr) {
    const std::vector<f64> in = v;
    bool panicked = false;
    try {
        single_threaded_sort(v.data(), v.size());
    } catch (const Panic& e) {
        panicked = true;
        if (message) *message = e.message();
    }
    EXPECT_EQ(sorted_bits(in), sorted_bits(v)) << "not a permutation of the input";
    return panicked;
}

}  // namespace

TEST(SingleThreadedSortF64, NaNInComparisonRangePanics) {
    for (std::size_t n : {1, 20, 21, 300}) {
        std::vector<f64> v = make_pattern<f64>("random", n, 5);
        v[n / 2] = kPosNaN;
        std::string message;
        EXPECT_EQ(sort_panics(v, &message), n > 1) << n;
        if (n > 1) {
            EXPECT_EQ(message, kNoneUnwrap);
        }
    }
}

// NaNs that radix passes place by key: the call succeeds with NaNs first and last by sign.
TEST(SingleThreadedSortF64, NaNsPlacedByKeySucceed) {
    for (std::size_t n : {301, 500, 799, 800, 1000, 100000}) {
        std::vector<f64> v = make_pattern<f64>("random", n, 6);
        v[3] = kPosNaN;
        v[5] = kNegNaN;
        ASSERT_FALSE(sort_panics(v)) << n;
        EXPECT_EQ(std::bit_cast<u64>(v.front()), std::bit_cast<u64>(kNegNaN)) << n;
        EXPECT_EQ(std::bit_cast<u64>(v.back()), std::bit_cast<u64>(kPosNaN)) << n;
        for (std::size_t i = 2; i + 1 < n; ++i) ASSERT_LE(v[i - 1], v[i]) << n;
    }
}

// The merge cannot place a NaN: a run of 600 then a tail whose sort puts a NaN last.
TEST(SingleThreadedSortF64, NaNTheMergeCannotPlacePanics) {
    std::vector<f64> v(1000);
    for (std::size_t i = 0; i < 600; ++i) v[i] = static_cast<f64>(i);
    std::mt19937_64 rng(7);
    for (std::size_t i = 600; i < 1000; ++i) v[i] = static_cast<f64>(rng() % 1000) - 1.5;
    v[650] = kPosNaN;
    std::string message;
    EXPECT_TRUE(sort_panics(v, &message));
    EXPECT_EQ(message, kNoneUnwrap);
}

// prefix_insertion_sort cannot place a NaN: a signalling NaN that shares its 16-bit key
// prefix with +inf stays before it.
TEST(SingleThreadedSortF64, NaNThePrefixRepairCannotPlacePanics) {
    std::vector<f64> v = make_pattern<f64>("random", 500, 8);
    v[3] = nan_with_bits(0x7FF0000000000001ULL);
    v[4] = INFINITY;
    std::string message;
    EXPECT_TRUE(sort_panics(v, &message));
    EXPECT_EQ(message, kNoneUnwrap);
    // The same two values in key order need no repair: the call succeeds.
    std::vector<f64> w = make_pattern<f64>("random", 500, 8);
    w[3] = INFINITY;
    w[4] = nan_with_bits(0x7FF0000000000001ULL);
    EXPECT_FALSE(sort_panics(w));
    EXPECT_TRUE(std::isnan(w.back()));
}
