// The multi-way partition at splitters against a reference that places each element by
// comparisons on the values themselves (NumPy's order), never by the engine's keys: every
// bucket bit for bit in input order, over duplicates, NaN and both zeros, splitters equal to
// and outside the data, and bucket counts that widen the bucket numbers.
#include <gtest/gtest.h>

#include "partition/multiway_partition.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

template <class T>
class PartitionAtSplitters : public ::testing::Test {};
using PartitionTypes = ::testing::Types<f64, i64>;
TYPED_TEST_SUITE(PartitionAtSplitters, PartitionTypes);

// NaNs equal one another and lie above every number; -0.0 == 0.0.
template <class T>
bool reference_less(T a, T b) {
    if constexpr (std::is_same_v<T, f64>)
        if (std::isnan(a) || std::isnan(b)) return !std::isnan(a);
    return a < b;
}

// k sorted splitters, elements of `in` (ties) and, for odd k, some of the special values (which
// may leave the last bucket empty); tie positions at 0, at n and between, ascending among equals.
template <class T>
std::pair<std::vector<T>, std::vector<i64>> draw_splitters(const std::vector<T>& in, std::size_t k, std::mt19937_64& rng) {
    const std::vector<T> special = special_values<T>();
    std::vector<T> values;
    for (std::size_t j = 0; j < k; ++j)
        values.push_back(!in.empty() && (k % 2 == 0 || rng() % 4) ? in[rng() % in.size()] : special[rng() % special.size()]);
    std::sort(values.begin(), values.end(), reference_less<T>);
    const u64 n = in.size();
    std::vector<i64> ties;
    for (std::size_t j = 0; j < k; ++j) {
        const u64 r = rng() % 3;
        ties.push_back(static_cast<i64>(r == 0 ? 0 : r == 1 ? n : rng() % (n + 1)));
        if (j > 0 && !reference_less(values[j - 1], values[j])) ties[j] = std::max(ties[j], ties[j - 1]);
    }
    return {values, ties};
}

// The splitters are drawn from `pool`, by default the input.
template <class T>
void check_partition(const std::vector<T>& in, std::size_t k, std::mt19937_64& rng, const std::string& what,
                     const std::vector<T>* pool = nullptr) {
    const auto [values, ties] = draw_splitters(pool ? *pool : in, k, rng);
    std::vector<u64> keys;
    for (T v : values) keys.push_back(numpy_order_key(v));
    std::size_t at = 0;
    ASSERT_EQ(check_splitters(keys.data(), ties.data(), k, at), SplitterCheck::kOk) << what;
    // Element i lies above the splitters below it and the equal ones whose tie it reaches.
    std::vector<std::vector<T>> expected(k + 1);
    for (std::size_t i = 0; i < in.size(); ++i) {
        auto b = static_cast<std::size_t>(std::partition_point(values.begin(), values.end(), [&](T v) {
                                              return reference_less(v, in[i]);
                                          }) - values.begin());
        while (b < k && !reference_less(in[i], values[b]) && ties[b] <= static_cast<i64>(i)) ++b;
        expected[b].push_back(in[i]);
    }
    // The buckets one after another in one guarded slice, bucket b at [bounds[b], bounds[b + 1]).
    std::vector<std::size_t> bounds(k + 2);
    const std::vector<T> out = sorted_with_guards(in, [&](T* v, std::size_t n) {
        const MultiwayPartition<T> partition(in.data(), n, keys.data(), ties.data(), k);
        std::vector<T*> places(k + 1);
        for (std::size_t b = 0; b <= k; ++b) {
            places[b] = v + bounds[b];
            bounds[b + 1] = bounds[b] + partition.count(b);
        }
        partition.scatter(places.data());
    });
    for (std::size_t b = 0; b <= k; ++b) {
        ASSERT_EQ(bounds[b + 1] - bounds[b], expected[b].size()) << what << ", bucket " << b;
        ASSERT_TRUE(same_bits(expected[b], out.begin() + static_cast<std::ptrdiff_t>(bounds[b]))) << what << ", bucket " << b;
    }
}

}  // namespace

// 256 and 257 buckets, 65 536 and 65 537: where the bucket numbers widen.
TYPED_TEST(PartitionAtSplitters, MatchesReference) {
    using T = TypeParam;
    std::mt19937_64 rng(11);
    for (const char* name : {"random", "sorted", "all_equal", "few_distinct", "extremes", "duplicates"})
        for (std::size_t n : {0, 1, 7, 1000, 20000})
            for (std::size_t k : {1, 2, 11, 255, 256, 1000}) {
                std::vector<T> in = make_pattern<T>(name, n, k);
                if constexpr (std::is_same_v<T, f64>)  // NaNs of both signs among the few values
                    if (std::string(name) == "few_distinct")
                        for (std::size_t i = 0; i < n; i += 5) in[i] = i % 2 ? kPosNaN : kNegNaN;
                check_partition(in, k, rng, std::string(name) + ", n = " + std::to_string(n) + ", k = " + std::to_string(k));
            }
    // Splitters from the lower half of the data, so that the last bucket is not empty.
    const std::vector<T> in = make_pattern<T>("random", 3000, 1);
    std::vector<T> lower = in;
    std::sort(lower.begin(), lower.end());
    lower.resize(lower.size() / 2);
    for (std::size_t k : {65535, 65536}) check_partition(in, k, rng, "k = " + std::to_string(k), &lower);
}

TEST(PartitionAtSplittersF64, CheckRejectsUnsortedSplittersAndDescendingTies) {
    const std::vector<std::tuple<std::vector<f64>, std::vector<i64>, SplitterCheck, std::size_t>> cases = {
        {{1.0, 0.5}, {0, 0}, SplitterCheck::kUnsorted, 1},
        {{0.0, 1.0, kPosNaN, 2.0}, {0, 0, 0, 0}, SplitterCheck::kUnsorted, 3},
        {{-0.0, 0.0, 0.0}, {5, 3, 4}, SplitterCheck::kTiesDecrease, 1},
        {{kNegNaN, kPosNaN}, {7, 6}, SplitterCheck::kTiesDecrease, 1},
        {{-1.0, 0.0, -0.0, kNegNaN}, {0, 1, 1, 0}, SplitterCheck::kOk, 4},
    };
    for (const auto& [values, ties, expected, expected_at] : cases) {
        std::vector<u64> keys;
        for (f64 v : values) keys.push_back(numpy_order_key(v));
        std::size_t at = 0;
        EXPECT_EQ(check_splitters(keys.data(), ties.data(), keys.size(), at), expected);
        EXPECT_EQ(at, expected_at);
    }
}
