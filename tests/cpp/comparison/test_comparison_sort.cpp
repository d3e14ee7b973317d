// The comparison sorts on the calling thread in both forms: on an element type's own order
// (the NaN gate, then every kernel table this processor runs) and under a caller's
// comparator (insertion sort, the plain quicksort), over many lengths and input patterns.
#include <gtest/gtest.h>

#include "comparison/comparison_sort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

const auto UnstableSort = [](auto* v, std::size_t n, auto less) { unstable_sort(v, n, less); };
const auto InsertionSort = [](auto* v, std::size_t n, auto less) { insertion_sort(v, n, less); };

// Every short length, the thresholds (20, 50, 64, 128, 2000) either side, and a few larger slices.
std::vector<std::size_t> lengths() {
    std::vector<std::size_t> l(141);
    std::iota(l.begin(), l.end(), std::size_t{0});
    for (std::size_t n = 141; n < 1100; n += 13) l.push_back(n);
    for (std::size_t n : {1999, 2000, 2001, 2002, 4001, 8192, 20000}) l.push_back(n);
    for (std::size_t n : {100'000, 1'000'000}) if (!kSanitized || n < 1'000'000) l.push_back(n);
    return l;
}

template <class Traits>
class ComparisonSort : public ::testing::Test {};
TYPED_TEST_SUITE(ComparisonSort, ElementTraits);

TYPED_TEST(ComparisonSort, EveryPatternOnEveryKernelTable) {
    using T = typename TypeParam::value_type;
    std::vector<std::size_t> l = lengths();
    l.erase(std::remove_if(l.begin(), l.end(), [](std::size_t n) { return n > 2002; }), l.end());
    expect_sorts_every_pattern<TypeParam>([](T* v, std::size_t n) { comparison_sort<TypeParam>(v, n); }, l);
    for (const simd::KernelSet* set : kernel_tables()) {
        SCOPED_TRACE(set->name);
        expect_sorts_every_pattern<TypeParam>(
            [&](T* v, std::size_t n) { unstable_sort_nan_free<TypeParam>(v, n, set->template of<T>()); }, lengths());
    }
}

TYPED_TEST(ComparisonSort, EveryPatternUnderAComparator) {
    using T = typename TypeParam::value_type;
    std::vector<std::size_t> short_lengths(kInsertionSortMax + 2);
    std::iota(short_lengths.begin(), short_lengths.end(), std::size_t{0});
    expect_sorts_every_pattern<TypeParam>([](T* v, std::size_t n) { insertion_sort(v, n, TraitsLess<TypeParam>{}); },
                                          short_lengths);
    std::vector<std::size_t> l = lengths();
    l.erase(std::remove_if(l.begin(), l.end(), [](std::size_t n) { return n > 20'000; }), l.end());
    expect_sorts_every_pattern<TypeParam>([](T* v, std::size_t n) { unstable_sort(v, n, TraitsLess<TypeParam>{}); }, l);
}

// Non-descending input comes back bit for bit (equal -0.0 and +0.0 included) and strictly
// descending input reversed, on every kernel table. Under a comparator, that takes one
// comparison per neighbour pair plus at most the pivot choice's, and from
// kMedianOfMediansThreshold elements descending input is recognised as such at once.
TYPED_TEST(ComparisonSort, PresortedInputFastPaths) {
    using T = typename TypeParam::value_type;
    for (std::size_t n = 0; n <= 2100; n += n < 300 ? 1 : 601) {
        const auto [ascending, descending] = presorted_inputs<T>(n);
        for (const simd::KernelSet* set : kernel_tables()) {
            std::vector<T> v = ascending;
            unstable_sort_nan_free<TypeParam>(v.data(), n, set->template of<T>());
            ASSERT_TRUE(same_bits(v, ascending.begin())) << set->name << ", n = " << n;
            v = descending;
            unstable_sort_nan_free<TypeParam>(v.data(), n, set->template of<T>());
            ASSERT_TRUE(same_bits(v, descending.rbegin())) << set->name << ", n = " << n;
        }

        std::vector<T> v = ascending;
        std::atomic<u64> count{0};
        unstable_sort(v.data(), n, CountingLess<TypeParam>{&count});
        ASSERT_TRUE(same_bits(v, ascending.begin())) << "n = " << n;
        const u64 pivot_choice = n <= quicksort::kInsertionThreshold ? 0 : quicksort::kMaxPivotSwaps;
        EXPECT_LE(count.load(), (n == 0 ? 0 : n - 1) + pivot_choice) << "sorted, n = " << n;
        v = descending;
        count = 0;
        unstable_sort(v.data(), n, CountingLess<TypeParam>{&count});
        ASSERT_TRUE(same_bits(v, descending.rbegin())) << "n = " << n;
        const u64 bound = n >= quicksort::kMedianOfMediansThreshold ? n - 1 + quicksort::kMaxPivotSwaps : ~u64{0};
        EXPECT_LE(count.load(), bound) << "descending, n = " << n;
    }
}

TYPED_TEST(ComparisonSort, AdversarialPivotsStayLinearithmic) {
    for (std::size_t n : {100, 1000, 20'000}) expect_adversary_bounded<TypeParam>(UnstableSort, n, 2.0);
}

TYPED_TEST(ComparisonSort, InterruptedComparisonLeavesPermutation) {
    expect_permutation_when_interrupted<TypeParam>(UnstableSort);
    expect_permutation_when_interrupted<TypeParam>(InsertionSort);
}

// The NaN gate: wherever the NaN sits, the call fails with the comparator's message before
// anything moves.
TEST(ComparisonSortNaN, PanicsBeforeAnythingMoves) {
    expect_nan_panics([](f64* v, std::size_t n) { comparison_sort<F64Traits>(v, n); });
    expect_nan_panics([](f64* v, std::size_t n) { unstable_sort<F64Traits>(v, n); });
}

}  // namespace
