// The engine's comparison sorts: insertion sort for short slices and the sequential
// unstable sort, against the check over many lengths and input patterns.
#include <gtest/gtest.h>

#include "comparison/comparison_sort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

const auto UnstableSort = [](auto* v, std::size_t n, auto less) { unstable_sort(v, n, less); };
const auto InsertionSort = [](auto* v, std::size_t n, auto less) { insertion_sort(v, n, less); };

// Every short length, the thresholds (20, 50, 2000) either side, and a few larger slices.
std::vector<std::size_t> lengths() {
    std::vector<std::size_t> l(101);
    std::iota(l.begin(), l.end(), std::size_t{0});
    for (std::size_t n = 101; n < 1100; n += 13) l.push_back(n);
    for (std::size_t n : {1999, 2000, 2001, 2002, 4001, 8192, 20000}) l.push_back(n);
    for (std::size_t n : {100'000, 1'000'000}) if (!kSanitized || n < 1'000'000) l.push_back(n);
    return l;
}

template <class Traits>
class ComparativeSort : public ::testing::Test {};
TYPED_TEST_SUITE(ComparativeSort, ElementTraits);

TYPED_TEST(ComparativeSort, EveryPattern) {
    std::vector<std::size_t> short_lengths(65);
    std::iota(short_lengths.begin(), short_lengths.end(), std::size_t{0});
    expect_sorts_every_pattern<TypeParam>(InsertionSort, short_lengths);
    expect_sorts_every_pattern<TypeParam>(UnstableSort, lengths());
}

// Non-descending input comes back bit for bit (equal -0.0 and +0.0 included) after one
// comparison per neighbour pair plus at most the pivot choice's; strictly descending input
// comes back reversed, and from kMedianOfMediansThreshold elements is recognised as such
// at once. The element type's own comparator takes the branch-free paths, a counting one
// the generic paths.
TYPED_TEST(ComparativeSort, PresortedInputFastPaths) {
    using T = typename TypeParam::value_type;
    for (std::size_t n = 0; n <= 2100; n += n < 300 ? 1 : 601) {
        std::vector<T> ascending = make_pattern<T>("few_distinct", n, 5);
        std::stable_sort(ascending.begin(), ascending.end(), [](T a, T b) { return a < b; });
        std::vector<T> v = ascending;
        if (n <= kInsertionSortMax) insertion_sort(v.data(), n, LessOf<TypeParam>{});
        else unstable_sort(v.data(), n, LessOf<TypeParam>{});
        ASSERT_EQ(sorted_bits(v), sorted_bits(ascending)) << "n = " << n;
        ASSERT_TRUE(std::equal(v.begin(), v.end(), ascending.begin(), [](T a, T b) {
            return std::bit_cast<u64>(a) == std::bit_cast<u64>(b); })) << "n = " << n;
        std::atomic<u64> count{0};
        unstable_sort(v.data(), n, CountingLess<TypeParam>{&count});
        const u64 pivot_choice = n <= kInsertionSortMax ? 0 : quicksort::kMaxPivotSwaps;
        EXPECT_LE(count.load(), (n == 0 ? 0 : n - 1) + pivot_choice) << "sorted, n = " << n;

        std::vector<T> descending(n);
        for (std::size_t i = 0; i < n; ++i) descending[i] = rank_value<T>(n - i);
        v = descending;
        unstable_sort(v.data(), n, LessOf<TypeParam>{});
        ASSERT_TRUE(std::equal(v.begin(), v.end(), descending.rbegin())) << "n = " << n;
        v = descending;
        count = 0;
        unstable_sort(v.data(), n, CountingLess<TypeParam>{&count});
        ASSERT_TRUE(std::equal(v.begin(), v.end(), descending.rbegin())) << "n = " << n;
        const u64 bound = n >= quicksort::kMedianOfMediansThreshold ? n - 1 + quicksort::kMaxPivotSwaps : ~u64{0};
        EXPECT_LE(count.load(), bound) << "descending, n = " << n;
    }
}

// Every 0/1 input of up to 16 elements: by the 0-1 principle this proves each network.
TEST(ComparativeSortNetworks, SortEveryZeroOneInput) {
    for (std::size_t n = 2; n <= 16; ++n) {
        for (u64 bits = 0; bits < (u64{1} << n); ++bits) {
            i64 v[16];
            for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<i64>((bits >> i) & 1);
            insertion_sort(v, n, LessOf<I64Traits>{});
            ASSERT_TRUE(std::is_sorted(v, v + n)) << "n = " << n << ", input bits " << bits;
            ASSERT_EQ(std::count(v, v + n, 1), std::popcount(bits)) << "n = " << n << ", input bits " << bits;
        }
    }
}

TYPED_TEST(ComparativeSort, AdversarialPivotsStayLinearithmic) {
    for (std::size_t n : {100, 1000, 20'000}) expect_adversary_bounded<TypeParam>(UnstableSort, n, 2.0);
}

TYPED_TEST(ComparativeSort, InterruptedComparisonLeavesPermutation) {
    expect_permutation_when_interrupted<TypeParam>(UnstableSort);
    expect_permutation_when_interrupted<TypeParam>(InsertionSort);
}

// The NaN check runs before the sort: wherever the NaN sits, the call fails with the
// comparator's message and the slice keeps its elements.
TEST(ComparativeSortNaN, PanicsAndLeavesPermutation) {
    expect_nan_panics([](f64* v, std::size_t n, auto less) {
        if (n <= kInsertionSortMax) insertion_sort(v, n, less);
        else unstable_sort(v, n, less);
    });
}

}  // namespace
