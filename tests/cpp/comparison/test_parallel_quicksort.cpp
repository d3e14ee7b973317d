// The parallel pattern-defeating quicksort in both forms: many lengths and patterns on
// every kernel table, its comparison bound on adversarial input, comparator failures and
// its NaN gate.
#include <gtest/gtest.h>

#include "comparison/parallel_quicksort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

const auto ParallelQuicksort = [](auto* v, std::size_t n, auto less) { parallel_quicksort(v, n, less); };

template <class Traits>
class ParallelQuicksortTest : public ::testing::Test {};
TYPED_TEST_SUITE(ParallelQuicksortTest, ElementTraits);

TYPED_TEST(ParallelQuicksortTest, EveryPattern) {
    using T = typename TypeParam::value_type;
    std::vector<std::size_t> lengths = {0, 1, 2, 20, 21, 49, 50, 51, 64, 65, 128, 129, 300, 1999, 2000, 2001, 4001, 20'000, 100'000};
    if (!kSanitized) lengths.push_back(1'000'000);
    expect_sorts_every_pattern<TypeParam>([](T* v, std::size_t n) { parallel_quicksort<TypeParam>(v, n); }, lengths);
    for (const simd::KernelSet* set : kernel_tables()) {
        SCOPED_TRACE(set->name);
        expect_sorts_every_pattern<TypeParam>(
            [&](T* v, std::size_t n) { parallel_quicksort_nan_free<TypeParam>(v, n, set->template of<T>()); }, lengths);
    }
    expect_sorts_every_pattern<TypeParam>([](T* v, std::size_t n) { parallel_quicksort(v, n, TraitsLess<TypeParam>{}); },
                                          lengths);
    for (std::size_t n : {0, 1}) {
        std::vector<T> v(n);
        std::atomic<u64> count{0};
        parallel_quicksort(v.data(), n, CountingLess<TypeParam>{&count});
        EXPECT_EQ(count.load(), 0u) << "no comparison below two elements";
    }
}

TYPED_TEST(ParallelQuicksortTest, AdversarialPivotsStayLinearithmic) {
    for (std::size_t n : {1000, 5000, 50'000}) expect_adversary_bounded<TypeParam>(ParallelQuicksort, n, 2.0);
}

TYPED_TEST(ParallelQuicksortTest, InterruptedComparisonLeavesPermutation) {
    expect_permutation_when_interrupted<TypeParam>(ParallelQuicksort);
}

TEST(ParallelQuicksortNaN, PanicsBeforeAnythingMoves) {
    expect_nan_panics([](f64* v, std::size_t n) { parallel_quicksort<F64Traits>(v, n); });
}

}  // namespace
