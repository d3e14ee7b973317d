// Histogram sweeps, prefix sums, the stable scatter and the in-place bucket swap.
#include <gtest/gtest.h>

#include <numeric>

#include "radix/histograms.hpp"
#include "radix/ska_sort.hpp"
#include "sort_test_support.hpp"
#include "types/params.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

// A one-byte digit's histogram and prefix sums: heads sums[0, 256), tails sums[1, 257).
struct Buckets { std::vector<u64> sums, heads, tails; };

template <class Traits>
Buckets buckets_of(const typename Traits::value_type* v, std::size_t n, Digit d) {
    std::vector<u64> counts(256);
    Buckets b{std::vector<u64>(257), {}, {}};
    digit_histogram<Traits>(v, n, counts.data(), 256, d);
    prefix_sums_into(counts.data(), 256, b.sums.data());
    b.heads.assign(b.sums.begin(), b.sums.end() - 1);
    b.tails.assign(b.sums.begin() + 1, b.sums.end());
    return b;
}

}  // namespace

// Many buckets (one write stream) and few buckets (streams from both ends of each bucket),
// on odd and even lengths.
TEST(Histograms, ScatterIsStableAndLeavesHeadsAtBucketEnds) {
    std::mt19937_64 rng(7);
    for (u64 spread : {256, 3, 1}) {
        for (std::size_t n : {0, 3, 255, 256, 257, 5000, 5001}) {
            std::vector<u64> src(n);
            for (auto& x : src) x = ((rng() % spread) << 56) | (rng() >> 8);
            const Digit d{0xFFull << 56, 56};
            Buckets s = buckets_of<U64Traits>(src.data(), n, d);
            std::vector<u64> dst(n);
            scatter_by_digit<U64Traits>(src.data(), dst.data(), n, s.heads.data(), d, 256);
            EXPECT_EQ(s.heads, s.tails) << spread << " " << n;
            std::vector<u64> want = src;
            std::stable_sort(want.begin(), want.end(), [&](u64 a, u64 b) { return d.of(a) < d.of(b); });
            EXPECT_EQ(dst, want) << spread << " " << n;
        }
    }
    std::vector<u64> wide = {0x1FF};
    std::vector<u64> counts(256);
    EXPECT_THROW(digit_histogram<U64Traits>(wide.data(), 1, counts.data(), 256, Digit{0x1FF, 0}), Panic);
}

// Every bucket holds exactly its own elements afterwards, and unwalked data is untouched.
TEST(SkaSwap, EachBucketHoldsExactlyItsElements) {
    for (const std::string pattern : {"random", "few_distinct", "sorted", "one_top_digit", "extremes"}) {
        for (std::size_t n : {1, 2, 100, 4099}) {
            std::vector<f64> v = make_pattern<f64>(pattern, n, 11);
            const std::vector<f64> in = v;
            const Digit d = top_aligned_digit(Params{0, 8, 0, 8, 256}, 0);
            Buckets s = buckets_of<F64Traits>(v.data(), n, d);
            ska_swap<F64Traits>(v.data(), s.heads.data(), s.tails.data(), 256, d);
            EXPECT_TRUE(std::is_permutation(v.begin(), v.end(), in.begin(), in.end(),
                                            [](f64 a, f64 b) { return std::bit_cast<u64>(a) == std::bit_cast<u64>(b); }));
            for (std::size_t b = 0; b < 256; ++b)
                for (u64 i = s.sums[b]; i < s.sums[b + 1]; ++i)
                    ASSERT_EQ(d.of(F64Traits::to_key(v[i])), b) << pattern << " n=" << n;
            if (pattern == "one_top_digit") {
                EXPECT_EQ(v, in) << "a single bucket is never walked";
            }
        }
    }
}
