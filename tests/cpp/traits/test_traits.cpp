// The value-order contract: comparators, the NaN panic, and the orders of run detection
// against an order worked out from the bits in the tests. The key maps are held by the
// sorts that rebuild elements from their keys (the counting tests, bit for bit) and by the
// Python sweep.
#include <gtest/gtest.h>

#include "sort_test_support.hpp"
#include "traits/traits.hpp"

using namespace tamarind;
using namespace tamarind::testing;

TEST(Traits, F64ComparatorPanicsOnNaNOnly) {
    const f64 nan = std::nan("");
    EXPECT_TRUE(F64Traits::is_less(-1.0, 1.0));
    EXPECT_FALSE(F64Traits::is_less(-0.0, 0.0) || F64Traits::is_less(0.0, -0.0));
    EXPECT_TRUE(F64Traits::is_less(-INFINITY, INFINITY));
    for (auto [a, b] : {std::pair{nan, 1.0}, std::pair{1.0, nan}, std::pair{nan, nan}}) EXPECT_THROW(F64Traits::is_less(a, b), Panic);
    EXPECT_FALSE(F64Traits::greater(nan, 1.0) || F64Traits::greater(1.0, nan));
    EXPECT_TRUE(I64Traits::is_less(std::numeric_limits<i64>::min(), 0));
    EXPECT_TRUE(U64Traits::is_less(0, ~0ULL));
}

namespace {

// Bit patterns where key maps go wrong: both zeros, the infinities, NaNs of both signs
// (quiet, signalling, with and without payload), the extremes of each type and their
// neighbours, then random patterns.
std::vector<u64> probe_bits() {
    std::vector<u64> b = {0, u64{1} << 63, 0x7FF0'0000'0000'0000, 0xFFF0'0000'0000'0000, 0x7FF8'0000'0000'0000,
                          0xFFF8'0000'0000'0000, 0x7FF0'0000'0000'0001, 0xFFF0'0000'0000'0001, 0x7FFF'FFFF'FFFF'FFFF,
                          ~u64{0}, 0x0010'0000'0000'0000, 0x8010'0000'0000'0000, 0x3FF0'0000'0000'0000,
                          0xBFF0'0000'0000'0000, 0x7FEF'FFFF'FFFF'FFFF, 0xFFEF'FFFF'FFFF'FFFF};
    for (std::size_t i = 0, n = b.size(); i < n; ++i) b.insert(b.end(), {b[i] + 1, b[i] - 1});
    std::mt19937_64 rng(0x6B6579);
    for (int i = 0; i < 20000; ++i) b.push_back(rng());
    // Patterns of few set bits, close to the edges of each range.
    for (int i = 0; i < 2000; ++i) b.push_back((rng() & rng() & rng()) ^ (rng() % 2 ? u64{1} << 63 : 0));
    std::sort(b.begin(), b.end());
    b.erase(std::unique(b.begin(), b.end()), b.end());
    return b;
}

// The probes as elements, in the order worked out from their bits (reference_key).
template <class T>
std::vector<T> probes_in_order() {
    std::vector<T> v;
    for (u64 b : probe_bits()) v.push_back(std::bit_cast<T>(b));
    return in_reference_order(v);
}

template <class T>
::testing::Message pair_of(T a, T b) {
    return ::testing::Message() << std::hex << std::bit_cast<u64>(a) << " before " << std::bit_cast<u64>(b);
}

// The orders run detection and the merge compare in place: every value, every NaN and each
// zero strictly after the one before it in the order of the bits, and equal to itself only.
template <class Traits>
class RunOrders : public ::testing::Test {};
using RunOrderTraits = ::testing::Types<F64KeyOrderTraits, I64Traits, U64Traits>;
TYPED_TEST_SUITE(RunOrders, RunOrderTraits);

TYPED_TEST(RunOrders, FollowTheOrderOfTheBits) {
    using T = typename TypeParam::value_type;
    const std::vector<T> v = probes_in_order<T>();
    for (std::size_t i = 1; i < v.size(); ++i) {
        const T a = v[i - 1], b = v[i];
        ASSERT_TRUE(TypeParam::less(a, b) && TypeParam::less_equal(a, b) && TypeParam::greater(b, a)) << pair_of(a, b);
        ASSERT_FALSE(TypeParam::less(b, a) || TypeParam::less_equal(b, a) || TypeParam::greater(a, b) || TypeParam::equal(a, b))
            << pair_of(a, b);
        ASSERT_TRUE(TypeParam::equal(b, b) && TypeParam::less_equal(b, b)) << pair_of(a, b);
    }
}

}  // namespace
