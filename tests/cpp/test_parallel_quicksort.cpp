// The parallel pattern-defeating quicksort against std::sort over many lengths and input
// patterns, its comparison bound on adversarial input and its NaN panic.
#include <gtest/gtest.h>

#include "slice/parallel_quicksort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

struct ParallelQuicksort {
    template <class T, class Less>
    void operator()(T* v, std::size_t n, Less less) const { parallel_quicksort(v, n, less); }
};

template <class Traits>
class ParallelQuicksortTest : public ::testing::Test {};
TYPED_TEST_SUITE(ParallelQuicksortTest, ElementTraits);

TYPED_TEST(ParallelQuicksortTest, EveryPattern) {
    expect_sorts_every_pattern<TypeParam>(ParallelQuicksort{}, test_lengths());
}

TYPED_TEST(ParallelQuicksortTest, LargeSlices) {
    expect_sorts_every_pattern<TypeParam>(ParallelQuicksort{}, large_lengths());
}

TYPED_TEST(ParallelQuicksortTest, NoComparisonBelowTwoElements) {
    using T = typename TypeParam::value_type;
    for (std::size_t n : {0, 1}) {
        std::vector<T> v(n, element_at<T>(3));
        std::atomic<u64> count{0};
        parallel_quicksort(v.data(), n, CountingLess<TypeParam>{&count});
        EXPECT_EQ(count.load(), 0u);
    }
}

TYPED_TEST(ParallelQuicksortTest, AdversarialPivotsStayLinearithmic) {
    for (std::size_t n : {1000, 5000, 50'000}) expect_adversary_bounded<TypeParam>(ParallelQuicksort{}, n, 2.0);
}

TYPED_TEST(ParallelQuicksortTest, InterruptedComparisonLeavesPermutation) {
    expect_permutation_when_interrupted<TypeParam>(ParallelQuicksort{});
}

TEST(ParallelQuicksortNaN, PanicsAndLeavesPermutation) { expect_nan_panics(ParallelQuicksort{}); }

TEST(ParallelQuicksortNaN, SignedZerosCompareEqual) {
    std::vector<f64> v = {0.0, -0.0};
    parallel_quicksort(v.data(), v.size(), LessOf<F64Traits>{});
    EXPECT_EQ(v[0], 0.0);
    EXPECT_EQ(v[1], 0.0);
}

}  // namespace
