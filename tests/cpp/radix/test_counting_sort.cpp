// The counting plan and the sorts built on it. The slice a count rebuilds must be the
// sorted input bit for bit, whatever the split into parts and wherever in the key space
// the keys lie; a count that declines (checked keys, few_keys_sort) leaves the slice
// untouched. Suites carry "Parallel" so that they also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include "radix/counting_sort.hpp"
#include "radix/few_keys_sort.hpp"
#include "radix/lsd_sort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

template <class T>
class CountingSortParallel : public ::testing::Test {};
TYPED_TEST_SUITE(CountingSortParallel, ElementTypes);
template <class T>
class FewKeysSort : public ::testing::Test {};
TYPED_TEST_SUITE(FewKeysSort, ElementTypes);

// n elements whose keys are `base` plus up to `width` random low bits, some slots left empty.
template <class T>
std::vector<T> narrow_keys(std::size_t n, u64 base, u64 width, std::mt19937_64& rng) {
    using Traits = typename TraitsOf<T>::type;
    const u64 low = (u64{1} << width) - 1;
    std::vector<T> v(n);
    for (auto& x : v) {
        const u64 r = rng() & low;
        x = Traits::from_key((base & ~low) | (r % 3 == 0 ? low : r));  // skews toward the top slot
    }
    return v;
}

// `keys` distinct values, the special ones (both zeros, infinities, subnormals, integer
// limits) before ordinary ones.
template <class T>
std::vector<T> key_set(std::size_t keys, std::mt19937_64& rng) {
    const std::vector<T> special = special_values<T>();
    std::vector<T> set;
    for (std::size_t i = 0; set.size() < keys; ++i) {
        const T x = i < special.size() ? special[i] : random_value<T>(rng);
        if (std::none_of(set.begin(), set.end(), [&](T y) { return std::bit_cast<u64>(x) == std::bit_cast<u64>(y); }))
            set.push_back(x);
    }
    return set;
}

template <class T>
std::vector<T> drawn_from(const std::vector<T>& set, std::size_t n, std::mt19937_64& rng) {
    std::vector<T> v(n);
    std::generate(v.begin(), v.end(), [&] { return set[rng() % set.size()]; });
    return v;
}

}  // namespace

TYPED_TEST(CountingSortParallel, RebuildsTheSortedSliceBitForBit) {
    using T = TypeParam;
    using Traits = typename TraitsOf<T>::type;
    std::mt19937_64 rng(7);
    // Key ranges at both ends of the key space and around the sign of each type.
    const std::vector<u64> bases = {0, ~u64{0}, u64{1} << 63, (u64{1} << 63) - 1, 0x3FF0'0000'0000'0000ULL};
    // 0 threads: the sort without a pool, in four tables as the LSD sorts count.
    for (std::size_t threads : {0, 1, 3}) {
        pool::ThreadPool workers = make_pool(std::max<std::size_t>(threads, 1));
        for (u64 base : bases)
            for (u64 width : {u64{1}, u64{5}, u64{10}})
                for (std::size_t n : {kCountingElementsPerSlot << width, (3 * kCountingElementsPerSlot << width) + 1, std::size_t{100'003}}) {
                    const std::vector<T> in = narrow_keys<T>(n, base, width, rng);
                    u64 spread = 0;
                    for (T x : in) spread |= Traits::to_key(x) ^ Traits::to_key(in[0]);
                    if (spread == 0) continue;
                    ASSERT_TRUE(counting_sort_fits(n, spread));
                    const std::vector<T> out = sorted_with_guards(in, [&](T* v, std::size_t m) {
                        CountingPlan plan = spread_plan(Traits::to_key(v[0]), spread);
                        plan.four_way = threads == 0;
                        if (threads == 0) counting_sort<Traits>(v, m, plan);
                        else counting_sort_on<Traits>(v, m, plan, workers);
                    });
                    ASSERT_TRUE(sorted_permutation(in, out, true)) << "threads=" << threads << " base=" << base << " n=" << n;
                }
    }
}

// Checked keys that leave the plan (outside its window, or below or past its slots) make
// the count decline with the slice untouched, on both sides of the four-table bound.
TEST(CountingPlan, CheckedKeysOffThePlanDecline) {
    std::mt19937_64 rng(9);
    for (u64 slots : {u64{600}, kCountingFourWaySlotsMax + 1}) {
        const CountingPlan plan{0xFFFF, 100, slots, u64{7} << 32, slots <= kCountingFourWaySlotsMax};
        std::vector<u64> in(5000);
        for (auto& x : in) x = plan.key_of(rng() % slots);
        const std::vector<u64> out = sorted_with_guards(in, [&](u64* v, std::size_t n) {
            ASSERT_TRUE((counting_sort<U64Traits, PlanKeys::Checked>(v, n, plan)));
        });
        EXPECT_TRUE(sorted_permutation(in, out, true)) << slots;
        for (u64 stray : {plan.key_of(0) | (u64{1} << 40), plan.key_of(0) - 1, plan.key_of(slots)}) {
            std::vector<u64> v(in.begin(), in.end() - 1);
            v.push_back(stray);
            const std::vector<u64> before = v;
            EXPECT_FALSE((counting_sort<U64Traits, PlanKeys::Checked>(v.data(), v.size(), plan))) << slots;
            EXPECT_EQ(v, before) << slots;
        }
    }
    // lsd_sort by the low byte alone, of keys that differ above it: its count declines, and
    // the scatter keeps every element (stable by that byte).
    std::vector<u64> in(5000);
    for (auto& x : in) x = (rng() % 2 ? u64{1} << 20 : 0) | (rng() % 200);
    std::vector<u64> want = in;
    std::stable_sort(want.begin(), want.end(), [](u64 a, u64 b) { return (a & 0xFF) < (b & 0xFF); });
    lsd_sort<U64Traits>(in.data(), in.size(), Params{0, 8, 0, 1, 256});
    EXPECT_EQ(in, want);
}

// Every key in the sample: sorted by key. Too many keys, a key the sample missed, a NaN, a
// slice too short, or one key only (which the callers' order scans settle for less): declined,
// with nothing moved.
TYPED_TEST(FewKeysSort, SortsByKeyOrDeclinesUntouched) {
    using T = TypeParam;
    std::mt19937_64 rng(5);
    std::vector<std::tuple<std::string, std::vector<T>, bool>> cases;
    for (std::size_t keys : {std::size_t{2}, std::size_t{7}, kFewKeysMax})
        for (std::size_t n : {kFewKeysMin, kFewKeysMin + 3, std::size_t{100'003}})
            cases.emplace_back(std::to_string(keys) + " keys, n = " + std::to_string(n),
                               drawn_from(key_set<T>(keys, rng), n, rng), true);
    cases.emplace_back("too many keys", drawn_from(key_set<T>(kFewKeysMax + 1, rng), 50'000, rng), false);
    cases.emplace_back("too short", drawn_from(key_set<T>(3, rng), kFewKeysMin - 1, rng), false);
    cases.emplace_back("one key", drawn_from(key_set<T>(1, rng), 50'000, rng), false);
    std::vector<T> set = key_set<T>(4, rng);
    const T stranger = key_set<T>(40, rng).back();
    for (std::size_t at : {std::size_t{1}, std::size_t{30'000}, std::size_t{49'999}}) {
        std::vector<T> v = drawn_from(set, 50'000, rng);
        v[at] = stranger;  // off the sample's stride
        cases.emplace_back("a key off the sample", v, false);
    }
    if constexpr (std::is_same_v<T, f64>)
        for (f64 nan : {kPosNaN, kNegNaN}) {
            std::vector<T> v = drawn_from(set, 50'000, rng);
            v[0] = nan;  // sampled
            cases.emplace_back("a sampled NaN", v, false);
            v[0] = set[0];
            v[12'345] = nan;
            cases.emplace_back("a NaN off the sample", v, false);
        }
    for (auto& [what, in, sorts] : cases) {
        std::vector<T> v = in;
        EXPECT_EQ(few_keys_sort<traits_of<T>>(v.data(), v.size()), sorts) << what;
        if (sorts) EXPECT_TRUE(sorted_permutation(in, v, true)) << what;
        else EXPECT_TRUE(same_bits(v, in.begin())) << what;
    }
}
