// Run detection, the k-way merge, the order check, and lifting the misplaced elements of a
// nearly sorted slice and merging them back.
#include <gtest/gtest.h>

#include "runs/k_way_merge.hpp"
#include "runs/lift_and_merge.hpp"
#include "runs/verge_sort_heuristic.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

struct Call {
    std::size_t start, len;
    bool operator==(const Call&) const = default;
};

// The stretches the pre-pass (in T's run order) accepts as runs and those it hands to the
// fallback (a sort in that order) are the ones listed; the merge then finishes the sort.
template <class T>
void expect_layout(const char* name, const std::vector<T>& in, const std::vector<u64>& runs,
                   const std::vector<Call>& calls) {
    using Traits = simd::run_order_of<T>;
    std::vector<T> v = in;
    std::vector<Call> made;
    std::vector<u64> b = verge_sort_heuristic<Traits>(v.data(), v.size(), [&](T* chunk, std::size_t len) {
        made.push_back({static_cast<std::size_t>(chunk - v.data()), len});
        std::sort(chunk, chunk + len, [](T x, T y) { return Traits::less(x, y); });
    });
    EXPECT_EQ(b, runs) << name;
    EXPECT_EQ(made, calls) << name;
    k_way_merge<Traits>(v.data(), v.size(), b);
    EXPECT_EQ(b, (std::vector<u64>{0, v.size()})) << name;
    EXPECT_TRUE(sorted_permutation(in, v, true)) << name;
}

// A sorted slice of n ranks after `edit`.
template <class Edit>
std::vector<i64> edited(std::size_t n, Edit edit) {
    std::vector<i64> v(n);
    std::iota(v.begin(), v.end(), i64{-500});
    std::mt19937_64 rng(n);
    edit(v, rng);
    return v;
}

void exchange_pairs(std::vector<i64>& v, std::mt19937_64& rng, std::size_t pairs) {
    for (std::size_t k = 0; k < pairs; ++k) std::swap(v[rng() % v.size()], v[rng() % v.size()]);
}

}  // namespace

TEST(Verge, RunLayouts) {
    auto iota = [](std::vector<i64> v, std::size_t from, std::size_t to, i64 first) {
        std::iota(v.begin() + from, v.begin() + to, first);
        return v;
    };
    std::vector<i64> tail = iota(make_pattern<i64>("small_range", 1000, 5), 0, 600, 1000);
    std::vector<i64> blocks;  // descending, a plateau, ascending, descending
    for (i64 i = 700; i > 0; --i) blocks.push_back(4 * i);
    blocks.insert(blocks.end(), 30, 2);
    for (i64 i = 0; i < 700; ++i) blocks.push_back(i);
    for (i64 i = 900; i > 100; --i) blocks.push_back(6 * i);
    expect_layout<i64>("sorted", make_pattern<i64>("sorted", 5000, 1), {0, 5000}, {});
    expect_layout<i64>("reversed", make_pattern<i64>("reversed", 5000, 1), {0, 5000}, {});
    expect_layout<i64>("all equal", make_pattern<i64>("all_equal", 5000, 1), {0, 5000}, {});
    expect_layout<i64>("random", make_pattern<i64>("random", 3000, 2), {0, 3000}, {{0, 3000}});
    const std::vector<i64> halves = iota(iota(std::vector<i64>(2000), 0, 1000, 1000), 1000, 2000, 0);
    expect_layout<i64>("two halves", halves, {0, 1000, 2000}, {});
    // The thousand-element example: a 600-element run, then 400 values without long runs.
    expect_layout<i64>("run then tail", tail, {0, 600, 1000}, {{600, 400}});
    // 80 < min_run(1000) = 100: not a run.
    expect_layout<i64>("short run", iota(make_pattern<i64>("random", 1000, 9), 400, 480, 0), {0, 1000}, {{0, 1000}});
    // Runs end where the order turns: the plateau and the first ascending value join the
    // descending run before them, the first descending value the ascending one.
    expect_layout<i64>("descending blocks", blocks, {0, 731, 1431, 2230}, {});
}

TEST(CheckOrder, AllOutcomes) {
    // Long plateaus go through the block scans: one with a step up is one run, a step back down makes it none.
    std::vector<i64> step_up(302, 7), down_again(500, 7);
    step_up[301] = down_again[301] = 8;
    down_again[400] = 7;
    for (const auto& [v, want] : {std::pair{std::vector<i64>{1, 1, 2, 5}, Order::Ascending}, {{3, 3, 2, 2, 0}, Order::Descending},
                                  {{4, 4, 4}, Order::Ascending}, {{1, 2, 1}, Order::Neither}, {std::vector<i64>(301, 7), Order::Ascending},
                                  {step_up, Order::Ascending}, {down_again, Order::Neither}})
        EXPECT_EQ(check_order<I64Traits>(v.data(), v.size()), want) << v.size();
    std::vector<f64> big(100);
    std::iota(big.begin(), big.end(), 0.0);
    EXPECT_EQ(check_order<F64Traits>(big.data(), big.size()), Order::Ascending);
    big[77] = -1;
    EXPECT_EQ(check_order<F64Traits>(big.data(), big.size()), Order::Neither);
    // In key order a NaN is one more value: the largest, or with its sign bit the smallest.
    const std::vector<f64> nan = {2.0, 2.0, kPosNaN, 1.0}, nans = {kNegNaN, kNegNaN, -0.0, 0.0, kPosNaN};
    EXPECT_EQ(check_order<F64KeyOrderTraits>(nan.data(), nan.size()), Order::Neither);
    EXPECT_EQ(check_order<F64KeyOrderTraits>(nans.data(), nans.size()), Order::Ascending);
}

// Floats are scanned in key order (the engine never scans them under IEEE comparison). Long
// plateaus go through the block scans; in key order -0.0 and +0.0 differ, so mixed zeros are
// no plateau, and a NaN inside a plateau is a step up (or down, by its sign) that ends the
// run, never a broken invariant.
TEST(Verge, NaNAndSignedZeros) {
    std::vector<f64> zeros(500), ones(500, 1.0);
    for (std::size_t i = 0; i < zeros.size(); ++i) zeros[i] = i % 3 ? 0.0 : -0.0;
    expect_layout<f64>("mixed zeros", zeros, {0, 500}, {{0, 500}});
    for (f64 nan : {kPosNaN, kNegNaN}) {
        ones[300] = nan;
        expect_layout<f64>("a NaN in a plateau of ones", ones, {0, 301, 500}, {});
    }
}

// Stretch k holds zeros of sign k % 2 (plus other values); a stable merge keeps the zeros in
// stretch order, through front merges, back merges and an odd carried stretch. Long stretches
// take the two-ended and the split merges (whose leftovers differ by which stretch holds the
// smallest and the largest elements); offsets move whole stretches up or down so that either
// side of a merge runs out first.
TEST(Merge, KWayIsStableAndSortsStretchesOfEveryOverlap) {
    std::mt19937_64 rng(21);
    for (std::size_t stretches : {2, 3, 4, 5, 8, 9}) {
        std::vector<f64> v;
        std::vector<u64> b = {0};
        for (std::size_t k = 0; k < stretches; ++k) {
            for (std::size_t i = 0, len = 1 + rng() % 60; i < len; ++i)
                v.push_back(rng() % 3 ? (k % 2 ? 0.0 : -0.0) : static_cast<f64>(rng() % 7) - 3.0);
            std::sort(v.begin() + static_cast<std::ptrdiff_t>(b.back()), v.end());
            b.push_back(v.size());
        }
        std::vector<f64> want = v;
        std::stable_sort(want.begin(), want.end());
        k_way_merge<F64Traits>(v.data(), v.size(), b);
        EXPECT_EQ(b, (std::vector<u64>{0, v.size()}));
        ASSERT_TRUE(same_bits(v, want.begin())) << stretches << " stretches";
    }
    for (u64 seed = 0; seed < 24; ++seed) {
        rng.seed(seed);
        std::vector<i64> v;
        std::vector<u64> b = {0};
        for (std::size_t k = 0; k < 2 + seed % 7; ++k) {
            const i64 offset = static_cast<i64>(rng() % 3) * 1'000'000 - 1'000'000;
            for (std::size_t i = 0, len = 1 + rng() % 3000; i < len; ++i) v.push_back(offset + static_cast<i64>(rng() % 2'000'000));
            std::sort(v.begin() + static_cast<std::ptrdiff_t>(b.back()), v.end());
            b.push_back(v.size());
        }
        const std::vector<i64> in = v;
        k_way_merge<I64Traits>(v.data(), v.size(), b);
        ASSERT_TRUE(sorted_permutation(in, v)) << "seed " << seed;
    }
}

// Which slices the pass takes (and then sorts) and which it declines (leaving a permutation
// for the caller's sort), including those it gives up on halfway.
TEST(LiftAndMerge, TakesNearlySortedSlicesOnly) {
    using V = std::vector<i64>;
    using R = std::mt19937_64;
    struct Case { const char* name; std::size_t n; void (*edit)(V&, R&); bool taken; };
    const Case cases[] = {
        {"a pair in a hundred exchanged", 10'000, [](V& v, R& r) { exchange_pairs(v, r, v.size() / 100); }, true},
        {"the same, shortest length taken", kLiftMin, [](V& v, R& r) { exchange_pairs(v, r, 6); }, true},
        {"smallest moved to the back", 4'000,
         [](V& v, R& r) { std::rotate(v.begin(), v.begin() + 1, v.end()); exchange_pairs(v, r, 40); }, true},
        {"largest moved to the front", 4'000,
         [](V& v, R& r) { std::rotate(v.begin(), v.end() - 1, v.end()); exchange_pairs(v, r, 40); }, true},
        {"adjacent large elements moved forward", 4'000,
         [](V& v, R& r) {
             for (std::size_t i = 100; i + 4 < v.size(); i += 400) v[i] = v[i + 1] = v[i + 2] = 5'000 + i;
             exchange_pairs(v, r, 20);
         }, true},
        {"duplicates among the misplaced", 4'000,
         [](V& v, R& r) { for (std::size_t i = 0; i < v.size(); i += 97) v[i] = v[r() % v.size()]; }, true},
        {"sorted", 4'000, [](V&, R&) {}, false},
        {"shuffled", 4'000, [](V& v, R& r) { std::shuffle(v.begin(), v.end(), r); }, false},
        {"eight ascending runs", 100'000,
         [](V& v, R& r) { std::shuffle(v.begin(), v.end(), r); for (int k = 0; k < 8; ++k) std::sort(v.begin() + k * 12'500, v.begin() + (k + 1) * 12'500); },
         false},
        {"more misplaced than the buffer holds", 2'000'000,
         [](V& v, R& r) { exchange_pairs(v, r, v.size() / 50); }, false},
        {"a descending block the sample misses", 100'000,
         [](V& v, R&) {
             const std::size_t stride = (v.size() - 1) / kLiftSample;
             std::reverse(v.begin() + 40 * stride + 2, v.begin() + 41 * stride);
             std::swap(v[0], v[1]);  // the one descent the sample sees
         }, false},
    };
    for (const Case& c : cases) {
        const std::vector<i64> in = edited(c.n, c.edit);
        bool taken = false;
        const std::vector<i64> out = sorted_with_guards(in, [&](i64* v, std::size_t n) {
            taken = lift_and_merge<I64Traits>(v, n, [](i64* w, std::size_t m) { std::sort(w, w + m); });
        });
        EXPECT_EQ(taken, c.taken) << c.name;
        if (taken) EXPECT_TRUE(sorted_permutation(in, out)) << c.name;
        else EXPECT_EQ(sorted_bits(in), sorted_bits(out)) << c.name;
    }
}

// Floats in key order (the radix paths' order): both zeros and NaNs of both signs among
// the misplaced elements come back in place, bit for bit.
TEST(LiftAndMerge, FloatKeyOrder) {
    std::vector<f64> in = make_pattern<f64>("random", 3'000, 1);
    const std::vector<f64> special = special_values<f64>();
    std::copy(special.begin(), special.end(), in.begin());
    in[10] = kPosNaN;
    in[11] = kNegNaN;
    in = in_reference_order(in);
    std::mt19937_64 rng(2);
    for (int k = 0; k < 30; ++k) std::swap(in[rng() % in.size()], in[rng() % in.size()]);
    const std::vector<f64> out = sorted_with_guards(in, [](f64* v, std::size_t n) {
        ASSERT_TRUE(lift_and_merge<F64KeyOrderTraits>(v, n, [](f64* w, std::size_t m) {
            std::sort(w, w + m, [](f64 a, f64 b) { return F64KeyOrderTraits::less(a, b); });
        }));
    });
    EXPECT_TRUE(sorted_permutation(in, out, true));
}

// A sort of the lifted elements that fails leaves the slice a permutation of its input.
TEST(LiftAndMerge, FailingSortOfTheLiftedKeepsAPermutation) {
    const std::vector<i64> in = edited(5'000, [](std::vector<i64>& v, std::mt19937_64& r) { exchange_pairs(v, r, 50); });
    std::vector<i64> v = in;
    auto failing = [](i64* w, std::size_t m) { std::reverse(w, w + m), throw ComparatorFailure{}; };
    EXPECT_THROW(lift_and_merge<I64Traits>(v.data(), v.size(), failing), ComparatorFailure);
    EXPECT_EQ(sorted_bits(in), sorted_bits(v));
}
