// The Dask sort's entry: NaNs of either sign last in their input order, every other float
// by totalOrder (the order the radix paths give), on both sides of the comparison-sort bound.
#include <gtest/gtest.h>

#include "entries/numpy_order_sort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

TEST(NumpyOrderSort, NansLastInInputOrderNumbersInTotalOrder) {
    std::mt19937_64 rng(5);
    for (std::size_t n : {0, 1, 2, 3, 17, 300, 301, 320, 5000, 200000}) {
        for (int nan_share : {0, 1, 3}) {
            std::vector<f64> in = make_pattern<f64>(n % 2 ? "few_distinct" : "extremes", n, n);
            std::vector<f64> nans;
            for (std::size_t i = 0; i < n; ++i)
                if (static_cast<int>(rng() % 4) < nan_share) {
                    // NaNs of both signs and distinct payloads, so their order shows.
                    in[i] = std::bit_cast<f64>((rng() % 2 ? 0xFFF8'0000'0000'0000ULL : 0x7FF8'0000'0000'0000ULL) | i);
                    nans.push_back(in[i]);
                }
            std::vector<f64> numbers;
            for (f64 x : in)
                if (!std::isnan(x)) numbers.push_back(x);
            const std::vector<f64> out = sorted_with_guards(in, [](f64* v, std::size_t m) { numpy_order_sort(v, m); });
            const std::vector<f64> expected_numbers = in_reference_order(numbers);
            EXPECT_TRUE(same_bits(expected_numbers, out.begin())) << "n = " << n << ", NaN share " << nan_share;
            EXPECT_TRUE(same_bits(nans, out.begin() + static_cast<std::ptrdiff_t>(numbers.size())))
                << "n = " << n << ", NaN share " << nan_share;
        }
    }
}
