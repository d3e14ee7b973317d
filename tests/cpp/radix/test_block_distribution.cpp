// The in-place distribution by blocks (given the counts, or counting them itself): every
// bucket holds exactly its elements afterwards, for bucket sizes on and off the block size,
// empty buckets between full ones, and a last block that runs past the slice's end; the
// check used here catches a lost block, a bucket boundary off by one and a lost block tail,
// and counts that disagree with the buckets panic before any write leaves the slice's memory.
#include <gtest/gtest.h>

#include "radix/block_distribution.hpp"
#include "radix/histograms.hpp"
#include "radix/rollercoaster_sort.hpp"
#include "radix/sampled_msd_sort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

constexpr std::size_t B = kDistributionBlock;

// Keys whose top byte is the bucket; the low bits tell equal-bucket elements apart.
u64 bucket_of(u64 x) { return x >> 56; }

// Running totals of the buckets of v, k of them.
std::vector<u64> sums_of(const std::vector<u64>& v, std::size_t k) {
    std::vector<u64> counts(k), sums(k + 1);
    for (u64 x : v) ++counts[bucket_of(x)];
    prefix_sums_into(counts.data(), k, sums.data());
    return sums;
}

::testing::AssertionResult grouped(const std::vector<u64>& in, const std::vector<u64>& out,
                                   const std::vector<u64>& sums) {
    if (sorted_bits(in) != sorted_bits(out)) return ::testing::AssertionFailure() << "not a permutation";
    for (std::size_t b = 0; b + 1 < sums.size(); ++b)
        for (u64 i = sums[b]; i < sums[b + 1]; ++i)
            if (bucket_of(out[i]) != b) return ::testing::AssertionFailure() << "element " << i << " not of bucket " << b;
    return ::testing::AssertionSuccess();
}

// Buckets of the given sizes (size 0: empty), shuffled.
std::vector<u64> with_sizes(const std::vector<std::size_t>& sizes, u64 seed) {
    std::mt19937_64 rng(seed);
    std::vector<u64> v;
    for (std::size_t b = 0; b < sizes.size(); ++b)
        for (std::size_t i = 0; i < sizes[b]; ++i) v.push_back((u64{b} << 56) | (rng() >> 8));
    std::shuffle(v.begin(), v.end(), rng);
    return v;
}

struct Shape {
    const char* name;
    std::vector<std::size_t> sizes;
};

std::vector<Shape> shapes() {
    std::vector<std::size_t> many(256), skewed(256, 1), sparse(256);
    for (std::size_t b = 0; b < 256; ++b) many[b] = (b * 37) % (3 * B) + 1;
    skewed[200] = 50 * B + 17;
    for (std::size_t b = 0; b < 256; b += 16) sparse[b] = b % 32 ? 2 * B : 3 * B + 5;
    return {
        {"one block", {B}},
        {"whole blocks", {B, 2 * B, 3 * B}},
        {"one short of blocks", {B - 1, 2 * B - 1, B + 1, 1}},
        {"last block past the end", {4 * B + 3, B + 7, 5}},
        {"single element buckets after blocks", {3 * B, 1, 1, 1, 2 * B + 1}},
        {"empty buckets between", {2 * B + 9, 0, 0, B, 0, 7, 0, 3 * B}},
        {"one bucket", {0, 0, 9 * B + 4}},
        {"many", many},
        {"one heavy bucket", skewed},
        {"every sixteenth bucket", sparse},
    };
}

}  // namespace

TEST(BlockDistribution, EveryBucketHoldsExactlyItsElements) {
    for (const Shape& shape : shapes()) {
        const std::vector<u64> in = with_sizes(shape.sizes, shape.sizes.size());
        const std::vector<u64> sums = sums_of(in, shape.sizes.size());
        std::vector<u64> out = sorted_with_guards(in, [&](u64* v, std::size_t n) {
            block_distribute(v, n, sums.data(), shape.sizes.size(), bucket_of);
        });
        EXPECT_TRUE(grouped(in, out, sums)) << shape.name;

        // The variant that counts while it classifies must find the same buckets.
        std::vector<u64> counted(shape.sizes.size()), counted_sums(shape.sizes.size() + 1);
        out = sorted_with_guards(in, [&](u64* v, std::size_t n) {
            block_distribute_counting(v, n, shape.sizes.size(), bucket_of, counted.data(), counted_sums.data());
        });
        EXPECT_EQ(counted_sums, sums) << shape.name;
        EXPECT_TRUE(grouped(in, out, sums)) << shape.name << ", counting";
    }
}

// The faults a block distribution can make, planted in a correct result: each must fail the
// check that the test above relies on.
TEST(BlockDistribution, CheckCatchesPlantedFaults) {
    const std::vector<std::size_t> sizes = {4 * B + 3, B + 7, 2 * B, 5};
    const std::vector<u64> in = with_sizes(sizes, 3);
    const std::vector<u64> sums = sums_of(in, sizes.size());
    std::vector<u64> good = in;
    block_distribute(good.data(), good.size(), sums.data(), sizes.size(), bucket_of);
    ASSERT_TRUE(grouped(in, good, sums));

    std::vector<u64> lost_block = good;  // a block written twice, another lost
    for (std::size_t i = 0; i < B; ++i) lost_block[B + i] = lost_block[i];
    std::vector<u64> boundary = good;  // the last element of bucket 0 placed one slot late
    std::swap(boundary[sums[1] - 1], boundary[sums[1]]);
    std::vector<u64> tail = good;  // the elements past the last whole block lost
    const std::size_t whole = in.size() / B * B;
    std::fill(tail.begin() + static_cast<std::ptrdiff_t>(whole), tail.end(), tail[whole - 1]);
    EXPECT_FALSE(grouped(in, lost_block, sums));
    EXPECT_FALSE(grouped(in, boundary, sums));
    EXPECT_FALSE(grouped(in, tail, sums));
}

// A boundary off by one in the counts: the distribution must stop, not write outside v or
// its buffers (the sanitizers watch).
TEST(BlockDistribution, CountsThatDisagreePanic) {
    const std::vector<std::size_t> sizes = {4 * B + 3, B, 2 * B, 5};
    const std::vector<u64> in = with_sizes(sizes, 4);
    for (std::size_t b = 1; b < sizes.size(); ++b)
        for (int by : {-1, 1}) {
            std::vector<u64> sums = sums_of(in, sizes.size());
            sums[b] += static_cast<u64>(by);
            std::vector<u64> v = in;
            EXPECT_THROW(block_distribute(v.data(), v.size(), sums.data(), sizes.size(), bucket_of), Panic)
                << "boundary " << b << " moved by " << by;
        }
    std::vector<u64> v = in;
    std::vector<u64> sums = sums_of(in, sizes.size());
    sums.back() -= 1;
    EXPECT_THROW(block_distribute(v.data(), v.size(), sums.data(), sizes.size(), bucket_of), Panic) << "total";
}

// The sorts that distribute by blocks from kBlockDistributionMin: one length either side of it.
TEST(BlockDistribution, SortsAroundTheBound) {
    for (std::size_t n : {kBlockDistributionMin - 1, kBlockDistributionMin, kBlockDistributionMin + B / 2 + 1}) {
        for (const char* pattern : {"random", "few_distinct", "one_top_digit"}) {
            const std::vector<i64> in = make_pattern<i64>(pattern, n, 9);
            EXPECT_TRUE(sorted_permutation(in, sorted_with_guards(in, [](i64* v, std::size_t m) {
                            rollercoaster_sort<I64Traits>(v, m);
                        }))) << "rollercoaster " << pattern << " n=" << n;
            EXPECT_TRUE(sorted_permutation(in, sorted_with_guards(in, [](i64* v, std::size_t m) {
                            sampled_msd_sort<I64Traits>(v, m);
                        }))) << "sampled " << pattern << " n=" << n;
        }
    }
}
