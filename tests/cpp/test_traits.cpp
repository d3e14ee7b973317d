// The value-order contract: comparators and the NaN panic.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "traits/traits.hpp"

using namespace tamarind;

TEST(Traits, F64ComparatorPanicsOnNaNOnly) {
    const f64 nan = std::nan("");
    EXPECT_TRUE(F64Traits::is_less(-1.0, 1.0));
    EXPECT_FALSE(F64Traits::is_less(-0.0, 0.0) || F64Traits::is_less(0.0, -0.0));
    EXPECT_TRUE(F64Traits::is_less(-INFINITY, INFINITY));
    for (auto [a, b] : {std::pair{nan, 1.0}, std::pair{1.0, nan}, std::pair{nan, nan}}) {
        EXPECT_THROW(F64Traits::is_less(a, b), Panic);
    }
    EXPECT_FALSE(F64Traits::greater(nan, 1.0) || F64Traits::greater(1.0, nan));
    EXPECT_TRUE(I64Traits::is_less(std::numeric_limits<i64>::min(), 0));
    EXPECT_TRUE(U64Traits::is_less(0, ~0ULL));
}
