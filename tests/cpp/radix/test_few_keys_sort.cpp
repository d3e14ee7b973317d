// The count of few distinct keys: it sorts by key when every element's key is in the set
// its sample found, and otherwise declines with the slice untouched, so the caller's sort
// (and its NaN report) sees exactly the input.
#include <gtest/gtest.h>

#include "radix/few_keys_sort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

template <class T>
class FewKeysSort : public ::testing::Test {};
using ElementTypes = ::testing::Types<f64, i64, u64>;
TYPED_TEST_SUITE(FewKeysSort, ElementTypes);

// `keys` distinct values, drawn from the extremes of the type (both zeros, infinities,
// subnormals, integer limits) before ordinary ones.
template <class T>
std::vector<T> key_set(std::size_t keys, std::mt19937_64& rng) {
    std::vector<T> special;
    if constexpr (std::is_same_v<T, f64>) {
        using L = std::numeric_limits<f64>;
        special = {-0.0, 0.0, -L::infinity(), L::infinity(), L::denorm_min(), -L::denorm_min(), L::max(), L::lowest()};
    } else {
        using L = std::numeric_limits<T>;
        special = {L::min(), L::max(), T(0), static_cast<T>(-1), T(1)};
    }
    std::vector<T> set;
    auto add = [&](T x) {
        const bool known = std::any_of(set.begin(), set.end(), [&](T y) { return std::bit_cast<u64>(x) == std::bit_cast<u64>(y); });
        if (!known) set.push_back(x);
    };
    for (std::size_t i = 0; i < special.size() && set.size() < keys; ++i) add(special[i]);
    while (set.size() < keys) add(random_value<T>(rng));
    return set;
}

template <class T>
std::vector<T> drawn_from(const std::vector<T>& set, std::size_t n, std::mt19937_64& rng) {
    std::vector<T> v(n);
    for (auto& x : v) x = set[rng() % set.size()];
    return v;
}

template <class T>
bool few_keys(std::vector<T>& v) {
    return few_keys_sort<typename TraitsOf<T>::type>(v.data(), v.size());
}

TYPED_TEST(FewKeysSort, SortsByKeyWhenEveryKeyIsKnown) {
    using T = TypeParam;
    std::mt19937_64 rng(5);
    for (std::size_t keys : {std::size_t{2}, std::size_t{7}, kFewKeysMax})
        for (std::size_t n : {kFewKeysMin, kFewKeysMin + 3, std::size_t{100'003}}) {
            const std::vector<T> in = drawn_from(key_set<T>(keys, rng), n, rng);
            std::vector<T> v = in;
            ASSERT_TRUE(few_keys(v)) << keys << " keys, n = " << n;
            EXPECT_TRUE(sorted_permutation(in, v, true)) << keys << " keys, n = " << n;
        }
}

// Too many keys, a key the sample missed, a NaN, a slice too short, or one key only (which
// the callers' order scans settle for less): nothing moves.
TYPED_TEST(FewKeysSort, DeclinesWithTheSliceUntouched) {
    using T = TypeParam;
    std::mt19937_64 rng(6);
    std::vector<std::pair<const char*, std::vector<T>>> cases;
    cases.emplace_back("too many keys", drawn_from(key_set<T>(kFewKeysMax + 1, rng), 50'000, rng));
    cases.emplace_back("too short", drawn_from(key_set<T>(3, rng), kFewKeysMin - 1, rng));
    cases.emplace_back("one key", drawn_from(key_set<T>(1, rng), 50'000, rng));
    std::vector<T> set = key_set<T>(4, rng);
    const T stranger = key_set<T>(40, rng).back();
    for (std::size_t at : {std::size_t{1}, std::size_t{30'000}, std::size_t{49'999}}) {
        std::vector<T> v = drawn_from(set, 50'000, rng);
        v[at] = stranger;  // off the sample's stride
        cases.emplace_back("a key off the sample", v);
    }
    if constexpr (std::is_same_v<T, f64>) {
        for (f64 nan : {kPosNaN, kNegNaN}) {
            std::vector<T> v = drawn_from(set, 50'000, rng);
            v[0] = nan;  // sampled
            cases.emplace_back("a sampled NaN", v);
            v[0] = set[0];
            v[12'345] = nan;
            cases.emplace_back("a NaN off the sample", v);
        }
    }
    for (auto& [what, in] : cases) {
        std::vector<T> v = in;
        EXPECT_FALSE(few_keys(v)) << what;
        EXPECT_TRUE(std::equal(v.begin(), v.end(), in.begin(), [](T a, T b) {
            return std::bit_cast<u64>(a) == std::bit_cast<u64>(b);
        })) << what;
    }
}

}  // namespace
