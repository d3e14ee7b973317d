// The value-order contract: keys, comparators and the NaN panic.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "traits/traits.hpp"

using namespace tamarind;

TEST(Traits, F64KeysFollowTotalOrder) {
    struct Row { u64 bits, key; };
    const Row rows[] = {
        {0xFFFFFFFFFFFFFFFFULL, 0x0000000000000000ULL},  // all-ones NaN sorts first
        {0xFFF8000000000000ULL, 0x0007FFFFFFFFFFFFULL},  // negative quiet NaN
        {0xFFF0000000000000ULL, 0x000FFFFFFFFFFFFFULL},  // -inf
        {0xBFF0000000000000ULL, 0x400FFFFFFFFFFFFFULL},  // -1.0
        {0x8000000000000000ULL, 0x7FFFFFFFFFFFFFFFULL},  // -0.0
        {0x0000000000000000ULL, 0x8000000000000000ULL},  // +0.0
        {0x3FF0000000000000ULL, 0xBFF0000000000000ULL},  // 1.0
        {0x7FF0000000000000ULL, 0xFFF0000000000000ULL},  // +inf
        {0x7FF8000000000000ULL, 0xFFF8000000000000ULL},  // positive quiet NaN
    };
    for (const Row& r : rows) EXPECT_EQ(F64Traits::to_key(std::bit_cast<f64>(r.bits)), r.key);
}

TEST(Traits, F64ComparatorPanicsOnNaNOnly) {
    const f64 nan = std::nan("");
    EXPECT_TRUE(F64Traits::is_less(-1.0, 1.0));
    EXPECT_FALSE(F64Traits::is_less(-0.0, 0.0));
    EXPECT_FALSE(F64Traits::is_less(0.0, -0.0));
    EXPECT_TRUE(F64Traits::is_less(-INFINITY, INFINITY));
    for (auto [a, b] : {std::pair{nan, 1.0}, std::pair{1.0, nan}, std::pair{nan, nan}}) {
        try {
            F64Traits::is_less(a, b);
            FAIL() << "no panic";
        } catch (const Panic& p) {
            EXPECT_EQ(p.message(), kNoneUnwrap);
        }
    }
    EXPECT_FALSE(F64Traits::greater(nan, 1.0));
    EXPECT_FALSE(F64Traits::greater(1.0, nan));
    EXPECT_TRUE(I64Traits::is_less(std::numeric_limits<i64>::min(), 0));
    EXPECT_TRUE(U64Traits::is_less(0, ~0ULL));
}
