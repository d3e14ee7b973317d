// The counting sort for keys in a narrow range, alone and split over a pool: the slice it
// rebuilds from counts must be the sorted input bit for bit, whatever the split into parts
// and wherever in the key space the range lies. Suites carry "Parallel" so that they also
// run under ThreadSanitizer.
#include <gtest/gtest.h>

#include "pool/thread_pool.hpp"
#include "radix/counting_sort.hpp"
#include "radix/peeka_entry.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

template <class T>
class CountingSortParallel : public ::testing::Test {};
using ElementTypes = ::testing::Types<f64, i64, u64>;
TYPED_TEST_SUITE(CountingSortParallel, ElementTypes);

// n elements whose keys are `base` plus up to `width` random low bits, some slots left empty.
template <class T>
std::vector<T> narrow_keys(std::size_t n, u64 base, u64 width, std::mt19937_64& rng) {
    using Traits = typename TraitsOf<T>::type;
    const u64 low = (u64{1} << width) - 1;
    std::vector<T> v(n);
    for (auto& x : v) {
        const u64 r = rng() & low;
        x = Traits::from_key((base & ~low) | (r % 3 == 0 ? low : r));  // skews toward the top slot
    }
    return v;
}

}  // namespace

TYPED_TEST(CountingSortParallel, RebuildsTheSortedSliceBitForBit) {
    using T = TypeParam;
    using Traits = typename TraitsOf<T>::type;
    std::mt19937_64 rng(7);
    // Key ranges at both ends of the key space and around the sign of each type.
    const std::vector<u64> bases = {0, ~u64{0}, u64{1} << 63, (u64{1} << 63) - 1, 0x3FF0'0000'0000'0000ULL};
    // 0 threads: the sort without a pool.
    for (std::size_t threads : {0, 1, 3}) {
        pool::ThreadPool workers = pool::ThreadPoolBuilder().num_threads(std::max<std::size_t>(threads, 1)).build().unwrap();
        for (u64 base : bases) {
            for (u64 width : {u64{1}, u64{5}, u64{10}}) {
                const std::size_t fit = (std::size_t{1} << width) * kCountingElementsPerSlot;
                for (std::size_t n : {fit, fit * 3 + 1, std::size_t{100'003}}) {
                    const std::vector<T> in = narrow_keys<T>(n, base, width, rng);
                    u64 spread = 0;
                    for (T x : in) spread |= Traits::to_key(x) ^ Traits::to_key(in[0]);
                    if (spread == 0) continue;
                    ASSERT_TRUE(counting_sort_fits(n, spread));
                    const std::vector<T> out = sorted_with_guards(in, [&](T* v, std::size_t m) {
                        const CountingPlan plan = spread_plan(Traits::to_key(v[0]), spread);
                        if (threads == 0)
                            counting_sort<Traits>(v, m, plan);
                        else
                            counting_sort_on<Traits>(v, m, plan, workers);
                    });
                    ASSERT_TRUE(sorted_permutation(in, out, true))
                        << "threads=" << threads << " base=" << base << " width=" << width << " n=" << n;
                }
            }
        }
    }
}

TEST(CountingSortFits, WidthAndLengthBounds) {
    const std::size_t per = kCountingElementsPerSlot;
    EXPECT_TRUE(counting_sort_fits(2 * per, 1));
    EXPECT_FALSE(counting_sort_fits(2 * per - 1, 1));
    EXPECT_TRUE(counting_sort_fits(per << kCountingWidthMax, (u64{1} << kCountingWidthMax) - 1));
    EXPECT_FALSE(counting_sort_fits(std::size_t{1} << 40, u64{1} << kCountingWidthMax));
    // Only the highest differing bit counts: a spread of 0b100 needs 8 slots.
    EXPECT_FALSE(counting_sort_fits(8 * per - 1, 0b100));
}
