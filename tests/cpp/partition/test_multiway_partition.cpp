// The multi-way partition at splitters against a reference that places each element by
// comparisons on the values themselves (NumPy's order), never by the engine's keys: every
// bucket bit for bit in input order, and the bounds; over duplicates, splitters inside,
// equal to and outside the data, NaN and both zeros, and bucket counts that change the width
// of the bucket numbers.
#include <gtest/gtest.h>

#include <cmath>

#include "partition/multiway_partition.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

template <class T>
class PartitionAtSplitters : public ::testing::Test {};
using PartitionTypes = ::testing::Types<f64, i64>;
TYPED_TEST_SUITE(PartitionAtSplitters, PartitionTypes);

// NumPy's order, from comparisons: NaNs equal one another and above every number, -0.0 == 0.0.
template <class T>
bool reference_less(T a, T b) {
    if constexpr (std::is_same_v<T, f64>) {
        if (std::isnan(a)) return false;
        if (std::isnan(b)) return true;
    }
    return a < b;
}
template <class T>
bool reference_equal(T a, T b) {
    return !reference_less(a, b) && !reference_less(b, a);
}

template <class T>
struct Splitters {
    std::vector<T> values;
    std::vector<i64> ties;
};

// The bucket of x at `position`: the splitters below it, and the equal ones whose tie
// position it reaches.
template <class T>
std::size_t reference_bucket(const Splitters<T>& s, T x, std::size_t position) {
    const auto below = std::partition_point(s.values.begin(), s.values.end(), [&](T v) { return reference_less(v, x); });
    std::size_t b = static_cast<std::size_t>(below - s.values.begin());
    while (b < s.values.size() && reference_equal(s.values[b], x) && s.ties[b] <= static_cast<i64>(position)) ++b;
    return b;
}

template <class T>
void check_partition(const std::vector<T>& in, const Splitters<T>& s, const std::string& what) {
    const std::size_t k = s.values.size(), n = in.size();
    std::vector<u64> keys(k);
    for (std::size_t j = 0; j < k; ++j) keys[j] = numpy_order_key(s.values[j]);
    std::size_t at = 0;
    ASSERT_EQ(check_splitters(keys.data(), s.ties.data(), k, at), SplitterCheck::kOk) << what;

    std::vector<std::vector<T>> expected(k + 1);
    for (std::size_t i = 0; i < n; ++i) expected[reference_bucket(s, in[i], i)].push_back(in[i]);
    std::vector<std::size_t> bounds(k + 2, 0);
    const std::vector<T> out = sorted_with_guards(in, [&](T* v, std::size_t m) {
        multiway_partition(in.data(), v, m, keys.data(), s.ties.data(), k, bounds.data());
    });
    std::size_t start = 0;
    for (std::size_t b = 0; b <= k; ++b) {
        ASSERT_EQ(bounds[b], start) << what << ", bucket " << b;
        ASSERT_TRUE(same_bits(expected[b], out.begin() + static_cast<std::ptrdiff_t>(start))) << what << ", bucket " << b;
        start += expected[b].size();
    }
    EXPECT_EQ(bounds[k + 1], n) << what;
}

// k splitters drawn from the data (so that elements equal them), some moved past either
// end of it, sorted; tie positions at 0, at n and in between, ascending among equals.
template <class T>
Splitters<T> draw_splitters(const std::vector<T>& in, std::size_t k, std::mt19937_64& rng) {
    Splitters<T> s;
    const std::vector<T> special = special_values<T>();
    for (std::size_t j = 0; j < k; ++j) {
        const u64 r = rng() % 8;
        s.values.push_back(!in.empty() && r < 6 ? in[rng() % in.size()] : special[rng() % special.size()]);
    }
    std::sort(s.values.begin(), s.values.end(), reference_less<T>);
    const i64 n = static_cast<i64>(in.size());
    for (std::size_t j = 0; j < k; ++j) {
        const u64 r = rng() % 4;
        s.ties.push_back(r == 0 ? 0 : r == 1 ? n : static_cast<i64>(rng() % static_cast<u64>(n + 1)));
    }
    for (std::size_t j = 1; j < k; ++j)
        if (reference_equal(s.values[j], s.values[j - 1])) s.ties[j] = std::max(s.ties[j], s.ties[j - 1]);
    return s;
}

}  // namespace

// 256 and 257 buckets, 65 536 and 65 537: where the bucket numbers widen.
TYPED_TEST(PartitionAtSplitters, MatchesReferenceOverPatternsAndBucketCounts) {
    using T = TypeParam;
    std::mt19937_64 rng(11);
    for (const char* name : {"random", "sorted", "all_equal", "few_distinct", "extremes", "duplicates"})
        for (std::size_t n : {0, 1, 7, 1000, 20000})
            for (std::size_t k : {1, 2, 11, 255, 256, 1000}) {
                const std::vector<T> in = make_pattern<T>(name, n, k);
                check_partition(in, draw_splitters(in, k, rng), std::string(name) + ", n = " + std::to_string(n) + ", k = " + std::to_string(k));
            }
    for (std::size_t k : {65535, 65536}) {
        const std::vector<T> in = make_pattern<T>("random", 3000, 1);
        check_partition(in, draw_splitters(in, k, rng), "k = " + std::to_string(k));
    }
}

// Equal elements spread over the buckets by position, and by nothing else.
TYPED_TEST(PartitionAtSplitters, SplitsEqualElementsByTiePosition) {
    using T = TypeParam;
    const std::vector<T> in(100, rank_value<T>(3));
    const Splitters<T> s{{rank_value<T>(3), rank_value<T>(3), rank_value<T>(3)}, {0, 40, 90}};
    check_partition(in, s, "all equal");
    std::vector<u64> keys;
    for (T v : s.values) keys.push_back(numpy_order_key(v));
    std::vector<T> out(100);
    std::vector<std::size_t> bounds(5);
    multiway_partition(in.data(), out.data(), 100, keys.data(), s.ties.data(), 3, bounds.data());
    EXPECT_EQ(bounds, (std::vector<std::size_t>{0, 0, 40, 90, 100}));
}

// NaN of either sign above every number and equal to one another, -0.0 equal to +0.0.
TEST(PartitionAtSplittersF64, OrdersNanAndZerosAsNumPy) {
    std::mt19937_64 rng(3);
    const std::vector<f64> values{kPosNaN, kNegNaN, -0.0, 0.0, 1.0, -1.0, std::numeric_limits<f64>::infinity()};
    std::vector<f64> in(5000);
    for (auto& x : in) x = values[rng() % values.size()];
    for (std::size_t k : {1, 3, 9, 40}) check_partition(in, draw_splitters(in, k, rng), "k = " + std::to_string(k));
    check_partition(in, Splitters<f64>{{-0.0, 0.0, kNegNaN, kPosNaN}, {2500, 2600, 100, 4000}}, "zeros and NaNs");
}

TEST(PartitionAtSplittersF64, CheckRejectsUnsortedSplittersAndDescendingTies) {
    auto check = [](std::vector<f64> values, std::vector<i64> ties, SplitterCheck expected, std::size_t expected_at) {
        std::vector<u64> keys;
        for (f64 v : values) keys.push_back(numpy_order_key(v));
        std::size_t at = 0;
        EXPECT_EQ(check_splitters(keys.data(), ties.data(), keys.size(), at), expected);
        if (expected != SplitterCheck::kOk) {
            EXPECT_EQ(at, expected_at);
        }
    };
    check({1.0, 0.5}, {0, 0}, SplitterCheck::kUnsorted, 1);
    check({0.0, 1.0, kPosNaN, 2.0}, {0, 0, 0, 0}, SplitterCheck::kUnsorted, 3);
    check({-0.0, 0.0, 0.0}, {5, 3, 4}, SplitterCheck::kTiesDecrease, 1);
    check({kNegNaN, kPosNaN}, {7, 6}, SplitterCheck::kTiesDecrease, 1);
    check({-1.0, 0.0, -0.0, kNegNaN}, {0, 1, 1, 0}, SplitterCheck::kOk, 0);
}
