// The single-threaded entry for f64 and i64: every length threshold one below and at it,
// every named pattern, and both outcomes for NaN above the comparison-sort range.
#include <gtest/gtest.h>

#include "sort_test_support.hpp"
#include "sorts/rollercoaster_sort.hpp"
#include "sorts/single_threaded_sort.hpp"
#include "sorts/voracious_sort.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

template <class T>
class SingleThreadedSort : public ::testing::Test {};
using EntryTypes = ::testing::Types<f64, i64>;
TYPED_TEST_SUITE(SingleThreadedSort, EntryTypes);

template <class T>
void check(const std::vector<T>& in, const std::string& what) {
    expect_sorts_like_std(in, [](T* v, std::size_t n) { single_threaded_sort(v, n); }, what);
}

}  // namespace

TYPED_TEST(SingleThreadedSort, EveryPatternAtEveryThreshold) {
    std::vector<std::size_t> lengths(41);
    std::iota(lengths.begin(), lengths.end(), std::size_t{0});
    // Each threshold the single-threaded path passes through, one either side of it.
    for (std::size_t t : {kRadixComparisonMax, kDlsdBucketComparisonMax, kRollercoasterSmallComparisonMax,
                          kStF64ComparisonMax, kI64SmallNonNegativeVergeMin, kStF64RollercoasterMin,
                          kDlsdBucketVoraciousMax, kStI64ComparisonMax, kVoraciousScatterMax,
                          kRollercoasterTwoLevelMax, kRollercoasterSmallMax})
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

// Radix paths order by key: every -0.0 before every +0.0, denormals in place.
TEST(SingleThreadedSortF64, SpecialsByKeyInRadixChunks) {
    std::mt19937_64 rng(13);
    const f64 specials[] = {INFINITY, -INFINITY, 0.0, -0.0, std::numeric_limits<f64>::denorm_min(),
                            -std::numeric_limits<f64>::denorm_min(), 5e-310, -5e-310};
    for (std::size_t n : {kStF64ComparisonMax + 1, kStF64RollercoasterMin - 1, kStF64RollercoasterMin, std::size_t{100000}}) {
        std::vector<f64> in(n);
        for (auto& x : in) x = rng() % 2 ? specials[rng() % 8] : std::ldexp(static_cast<f64>(rng() % 1000) - 500, -1060);
        const std::vector<f64> out = sorted_with_guards(in, [](f64* v, std::size_t m) { single_threaded_sort(v, m); });
        EXPECT_TRUE(sorted_permutation(in, out, true)) << n;
    }
}

// NaN: the comparison range panics; radix passes place NaNs by key (first and last by
// sign) and the call succeeds; where the merge or the prefix repair cannot place one, the
// order check panics. Either way the array keeps its elements.
TEST(SingleThreadedSortF64, NaNOutcomes) {
    auto sort = [](f64* v, std::size_t n) { single_threaded_sort(v, n); };
    for (std::size_t n : {std::size_t{1}, std::size_t{2}, kInsertionSortMax, kInsertionSortMax + 1, kStF64ComparisonMax}) {
        std::vector<f64> v = make_pattern<f64>("random", n, 5);
        v[n / 2] = kPosNaN;
        EXPECT_EQ(sort_outcome(v, sort), n > 1 ? std::string(kNoneUnwrap) : "no panic") << n;
    }
    for (std::size_t n : {kStF64ComparisonMax + 1, std::size_t{500}, kStF64RollercoasterMin - 1, kStF64RollercoasterMin,
                          std::size_t{1000}, std::size_t{100000}}) {
        std::vector<f64> v = make_pattern<f64>("random", n, 6);
        v[3] = kPosNaN, v[5] = kNegNaN;
        ASSERT_EQ(sort_outcome(v, sort), "no panic") << n;
        EXPECT_EQ(std::bit_cast<u64>(v.front()), std::bit_cast<u64>(kNegNaN)) << n;
        EXPECT_EQ(std::bit_cast<u64>(v.back()), std::bit_cast<u64>(kPosNaN)) << n;
        for (std::size_t i = 2; i + 1 < n; ++i) ASSERT_LE(v[i - 1], v[i]) << n;
    }
    // A run of 600, then a tail whose sort puts a NaN last: the merge cannot place it.
    std::vector<f64> v(1000);
    std::mt19937_64 rng(7);
    for (std::size_t i = 0; i < 1000; ++i) v[i] = i < 600 ? static_cast<f64>(i) : static_cast<f64>(rng() % 1000) - 1.5;
    v[650] = kPosNaN;
    EXPECT_EQ(sort_outcome(v, sort), kNoneUnwrap) << "merge";
    // A signalling NaN that shares its 16-bit key prefix with +inf, before it: the prefix
    // repair cannot place it. The same two values in key order need no repair.
    // (Written through its bits: a copied f64 constant may arrive quieted.)
    const u64 snan = 0x7FF0000000000001ULL, inf = 0x7FF0000000000000ULL;
    for (bool key_order : {false, true}) {
        std::vector<f64> w = make_pattern<f64>("random", 500, 8);
        w[3] = std::bit_cast<f64>(key_order ? inf : snan);
        w[4] = std::bit_cast<f64>(key_order ? snan : inf);
        EXPECT_EQ(sort_outcome(w, sort), key_order ? "no panic" : std::string(kNoneUnwrap)) << "prefix repair";
        EXPECT_TRUE(!key_order || std::isnan(w.back()));
    }
}
