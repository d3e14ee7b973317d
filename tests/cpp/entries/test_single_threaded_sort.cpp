// The single-threaded entry for f64 and i64: every length threshold one below and at it,
// every named pattern, and both outcomes for NaN above the comparison-sort range.
#include <gtest/gtest.h>

#include "entries/single_threaded_sort.hpp"
#include "radix/rollercoaster_sort.hpp"
#include "radix/voracious_sort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

template <class T>
class SingleThreadedSort : public ::testing::Test {};
using EntryTypes = ::testing::Types<f64, i64>;
TYPED_TEST_SUITE(SingleThreadedSort, EntryTypes);

template <class T>
void check(const std::vector<T>& in, const std::string& what) {
    EXPECT_TRUE(sorted_permutation(in, sorted_with_guards(in, [](T* v, std::size_t n) { single_threaded_sort(v, n); })))
        << what;
}

}  // namespace

TYPED_TEST(SingleThreadedSort, EveryPatternAtEveryThreshold) {
    std::vector<std::size_t> lengths(41);
    std::iota(lengths.begin(), lengths.end(), std::size_t{0});
    // Each threshold the single-threaded path passes through, one either side of it.
    for (std::size_t t : {kRadixComparisonMax, kDlsdBucketComparisonMax, kRollercoasterSmallComparisonMax,
                          kStF64ComparisonMax, kI64SmallNonNegativeVergeMin, kStRadixMin,
                          kDlsdBucketVoraciousMax, kStI64ComparisonMax, kVoraciousScatterMax,
                          kRollercoasterSmallMax, kI64ShortRadixMin, kStF64ShortRadixMin, std::size_t{32768} /* digits widen to 10 bits */})
        lengths.insert(lengths.end(), {t - 1, t, t + 1});
    for (const std::string& pattern : pattern_names())
        for (std::size_t n : lengths)
            if (!kSanitized || n <= 10000 || pattern == "random" || pattern == "one_top_digit")
                check(make_pattern<TypeParam>(pattern, n, 3), pattern + " n=" + std::to_string(n));
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
    // Mostly negative with 349 and 350 values below 2^56 among them.
    for (std::size_t small : {349, 350}) {
        std::vector<i64> v(8000);
        for (std::size_t i = 0; i < v.size(); ++i)
            v[i] = i < small ? static_cast<i64>(rng() >> 8) : -static_cast<i64>(rng() >> 1);
        std::shuffle(v.begin(), v.end(), rng);
        check(v, "same-sign bucket of " + std::to_string(small));
    }
}

// NaN: the comparison range panics. The radix range orders by key (every -0.0 before every
// +0.0, subnormals in place) wherever NaNs sit (in random stretches, inside runs, where runs
// meet, beside +inf with which a signalling NaN shares its top bits) and never panics.
// Either way the array keeps its elements.
TEST(SingleThreadedSortF64, NaNAndSpecialsOutcomes) {
    auto sort = [](f64* v, std::size_t n) { single_threaded_sort(v, n); };
    for (std::size_t n : {std::size_t{1}, std::size_t{2}, kDirectSmallSortMax, kDirectSmallSortMax + 1, kStF64ComparisonMax}) {
        std::vector<f64> v = make_pattern<f64>("random", n, 5);
        v[n / 2] = kPosNaN;
        EXPECT_EQ(sort_outcome(v, sort), n > 1 ? std::string(kNoneUnwrap) : "no panic") << n;
    }
    const f64 snan = std::bit_cast<f64>(0x7FF0000000000001ULL);  // through its bits: a constant may arrive quieted
    const f64 specials[] = {INFINITY, -INFINITY, 0.0, -0.0, std::numeric_limits<f64>::denorm_min(),
                            -std::numeric_limits<f64>::denorm_min(), 5e-310, -5e-310};
    std::mt19937_64 rng(7);
    for (std::size_t n : {kStF64ComparisonMax + 1, kStF64RadixMin - 1, kStF64RadixMin, std::size_t{300000}}) {
        std::vector<std::vector<f64>> cases;
        cases.push_back(make_pattern<f64>("random", n, 6));
        cases.back()[3] = kPosNaN, cases.back()[5] = kNegNaN;
        // Runs whose ends and junctions hold NaNs of both signs, then a random tail.
        std::vector<f64> runs(n);
        for (std::size_t i = 0; i < n; ++i) runs[i] = i < n / 2 ? static_cast<f64>(i) : static_cast<f64>(rng() % 1000) - 1.5;
        for (std::size_t at : {n / 4, n / 2 - 1, n / 2, n - 1}) runs[at] = at % 2 ? kPosNaN : kNegNaN;
        cases.push_back(runs);
        std::vector<f64> pair = make_pattern<f64>("random", n, 8);
        pair[3] = snan, pair[4] = INFINITY;
        cases.push_back(pair);
        cases.emplace_back(n, kPosNaN);
        cases.emplace_back(n);
        for (auto& x : cases.back()) x = rng() % 2 ? specials[rng() % 8] : std::ldexp(static_cast<f64>(rng() % 1000) - 500, -1060);
        for (std::size_t c = 0; c < cases.size(); ++c) {
            std::vector<f64> v = cases[c];
            ASSERT_EQ(sort_outcome(v, sort), "no panic") << n << ", case " << c;
            EXPECT_TRUE(sorted_permutation(cases[c], v, true)) << n << ", case " << c;
        }
    }
}
