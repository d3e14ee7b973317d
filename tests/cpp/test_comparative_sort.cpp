// The engine's comparison sorts: insertion sort for short slices and the sequential
// unstable sort, against std::sort over many lengths and input patterns.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <numeric>

#include "sort_test_support.hpp"
#include "sorts/comparative_sort.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

struct UnstableSort {
    template <class T, class Less>
    void operator()(T* v, std::size_t n, Less less) const { unstable_sort(v, n, less); }
};

struct InsertionSort {
    template <class T, class Less>
    void operator()(T* v, std::size_t n, Less less) const { insertion_sort(v, n, less); }
};

template <class Traits>
class ComparativeSort : public ::testing::Test {};
TYPED_TEST_SUITE(ComparativeSort, ElementTraits);

TYPED_TEST(ComparativeSort, InsertionSortShortSlices) {
    std::vector<std::size_t> lengths(65);
    std::iota(lengths.begin(), lengths.end(), std::size_t{0});
    expect_sorts_every_pattern<TypeParam>(InsertionSort{}, lengths);
}

TYPED_TEST(ComparativeSort, UnstableSortEveryPattern) {
    expect_sorts_every_pattern<TypeParam>(UnstableSort{}, test_lengths());
}

TYPED_TEST(ComparativeSort, UnstableSortLargeSlices) {
    expect_sorts_every_pattern<TypeParam>(UnstableSort{}, large_lengths());
}

// Non-descending input comes back bit for bit after one comparison per neighbour pair plus
// pivot choice's; strictly descending input comes back reversed, and from 50 elements is
// recognised as such at once.
TYPED_TEST(ComparativeSort, PresortedInputFastPaths) {
    using T = typename TypeParam::value_type;
    for (std::size_t n : {0, 1, 2, 20, 21, 49, 50, 51, 1000, 2001, 100'000}) {
        std::vector<T> ascending(n);
        for (std::size_t i = 0; i < n; ++i) ascending[i] = element_at<T>(i / 3);  // with duplicates
        std::vector<T> v = ascending;
        std::atomic<u64> count{0};
        unstable_sort(v.data(), n, CountingLess<TypeParam>{&count});
        EXPECT_EQ(bits_of(v), bits_of(ascending)) << "n = " << n;
        const u64 pivot_choice = n <= 20 ? 0 : n < 50 ? 3 : 12;
        EXPECT_EQ(count.load(), (n == 0 ? 0 : n - 1) + pivot_choice) << "sorted, n = " << n;

        std::vector<T> descending(n);
        for (std::size_t i = 0; i < n; ++i) descending[i] = element_at<T>(n - i);
        v = descending;
        count = 0;
        unstable_sort(v.data(), n, CountingLess<TypeParam>{&count});
        std::reverse(descending.begin(), descending.end());
        EXPECT_EQ(v, descending) << "n = " << n;
        if (n >= 50) {
            EXPECT_EQ(count.load(), n - 1 + 12) << "descending, n = " << n;
        }
    }
}

// The element type's own comparator takes the branch-free paths; they too must hand back
// ordered input bit for bit (equal -0.0 and +0.0 included) and reverse descending input.
TYPED_TEST(ComparativeSort, BranchFreePathsKeepOrderedInput) {
    using T = typename TypeParam::value_type;
    std::mt19937_64 rng(0x0DE5);
    for (std::size_t n = 0; n <= 300; ++n) {
        std::vector<T> ascending = make_pattern<T>(Pattern::kFewDistinct, n, rng);
        std::stable_sort(ascending.begin(), ascending.end(), [](T a, T b) { return a < b; });
        std::vector<T> v = ascending;
        if (n <= 20) {
            insertion_sort(v.data(), n, LessOf<TypeParam>{});
        } else {
            unstable_sort(v.data(), n, LessOf<TypeParam>{});
        }
        ASSERT_EQ(bits_of(v), bits_of(ascending)) << "n = " << n;

        std::vector<T> descending(n);
        for (std::size_t i = 0; i < n; ++i) descending[i] = element_at<T>(n - i);
        v = descending;
        unstable_sort(v.data(), n, LessOf<TypeParam>{});
        std::reverse(descending.begin(), descending.end());
        ASSERT_EQ(v, descending) << "n = " << n;
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

TYPED_TEST(ComparativeSort, UnstableSortAdversarialPivotsStayLinearithmic) {
    for (std::size_t n : {100, 1000, 20'000}) expect_adversary_bounded<TypeParam>(UnstableSort{}, n, 2.0);
}

TYPED_TEST(ComparativeSort, InterruptedComparisonLeavesPermutation) {
    expect_permutation_when_interrupted<TypeParam>(UnstableSort{});
}

TYPED_TEST(ComparativeSort, InterruptedInsertionSortLeavesPermutation) {
    expect_permutation_when_interrupted<TypeParam>(InsertionSort{});
}

TEST(ComparativeSortNaN, UnstableSortPanicsAndLeavesPermutation) { expect_nan_panics(UnstableSort{}); }

// The NaN check runs before the sort: wherever the NaN sits, the call fails with the
// comparator's message and the slice keeps its elements.
TEST(ComparativeSortNaN, NanAtEveryPositionPanics) {
    std::mt19937_64 rng(0x9A9);
    for (std::size_t n : {2, 3, 16, 17, 20, 21, 33, 64, 65, 300}) {
        const std::vector<f64> clean = make_pattern<f64>(Pattern::kRandom, n, rng);
        for (std::size_t nan_at = 0; nan_at < n; ++nan_at) {
            std::vector<f64> input = clean;
            input[nan_at] = -std::nan("");
            std::vector<f64> v = input;
            try {
                if (n <= 20) {
                    insertion_sort(v.data(), n, LessOf<F64Traits>{});
                } else {
                    unstable_sort(v.data(), n, LessOf<F64Traits>{});
                }
                ADD_FAILURE() << "no panic, n = " << n << ", NaN at " << nan_at;
            } catch (const Panic& p) {
                EXPECT_EQ(p.message(), kNoneUnwrap);
            }
            ASSERT_EQ(key_sorted_bits<F64Traits>(input), key_sorted_bits<F64Traits>(v))
                << "n = " << n << ", NaN at " << nan_at;
        }
    }
}

TEST(ComparativeSortNaN, InsertionSortPanicsAndLeavesPermutation) {
    for (std::size_t nan_at = 0; nan_at < 20; ++nan_at) {
        std::vector<f64> input(20);
        for (std::size_t i = 0; i < 20; ++i) input[i] = static_cast<f64>((i * 7) % 20);
        input[nan_at] = std::nan("");
        std::vector<f64> v = input;
        EXPECT_THROW(insertion_sort(v.data(), v.size(), LessOf<F64Traits>{}), Panic);
        EXPECT_EQ(key_sorted_bits<F64Traits>(input), key_sorted_bits<F64Traits>(v));
    }
}

}  // namespace
