// Lifting the misplaced elements of a nearly sorted slice and merging them back.
#include <gtest/gtest.h>

#include <numeric>

#include "runs/lift_and_merge.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

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

// Which slices the pass takes (and then sorts) and which it declines (leaving a permutation
// for the caller's sort), including those it gives up on halfway.
TEST(LiftAndMerge, TakesNearlySortedSlicesOnly) {
    using V = std::vector<i64>;
    using R = std::mt19937_64;
    struct Case {
        const char* name;
        std::size_t n;
        void (*edit)(V&, R&);
        bool taken;
    };
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
    EXPECT_THROW(lift_and_merge<I64Traits>(v.data(), v.size(),
                                           [](i64* w, std::size_t m) {
                                               std::reverse(w, w + m);
                                               throw ComparatorFailure{};
                                           }),
                 ComparatorFailure);
    EXPECT_EQ(sorted_bits(in), sorted_bits(v));
}
