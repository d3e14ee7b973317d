// The exchange plan as a property: for chunk layouts of every shape, settling the regions
// longest first moves every element into its bucket's region with in-place exchanges,
// and the graph describes the slice truthfully at every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "radix/regions_graph.hpp"
#include "traits/traits.hpp"

using namespace tamarind;

namespace {

// A slice whose chunks are each grouped by bucket. Element = bucket << 32 | serial, so the
// owner of every element and the multiset are both checkable.
struct Layout {
    std::size_t range;
    std::vector<u64> histograms;  // chunk-major, `range` counters per chunk
    std::vector<u64> slice;
};

Layout lay_out(std::size_t range, const std::vector<std::vector<u64>>& chunks) {
    Layout l{range, {}, {}};
    u64 serial = 0;
    for (const auto& h : chunks) {
        for (std::size_t b = 0; b < range; ++b) {
            l.histograms.push_back(h[b]);
            for (u64 k = 0; k < h[b]; ++k) l.slice.push_back(u64{b} << 32 | serial++);
        }
    }
    return l;
}

u64 owner(u64 element) { return element >> 32; }

u64 total(const std::vector<RegionEdge>& list) {
    return std::accumulate(list.begin(), list.end(), u64{0}, [](u64 t, const RegionEdge& e) { return t + e.len; });
}

bool has(const std::vector<RegionEdge>& list, const RegionEdge& e) { return std::find(list.begin(), list.end(), e) != list.end(); }

// Checks that the graph lists exactly the misplaced runs of the slice, each from both
// sides, and that no edge names a settled bucket.
void expect_graph_matches_slice(const RegionsGraph& g, const std::vector<u64>& slice,
                                const std::vector<u64>& sums, const std::vector<bool>& settled) {
    u64 listed = 0;
    for (std::size_t u = 0; u < g.size(); ++u) {
        const auto& own = g.node(u).own_elsewhere;
        const auto& foreign = g.node(u).foreign_here;
        ASSERT_EQ(total(own), total(foreign)) << "node " << u;
        ASSERT_TRUE(!settled[u] || (own.empty() && foreign.empty())) << "settled node " << u;
        for (const RegionEdge& e : own) {
            ASSERT_FALSE(settled[e.node]);
            ASSERT_TRUE(has(g.node(e.node).foreign_here, RegionEdge{u, e.pos, e.len}));
            ASSERT_GT(e.len, 0u);
            ASSERT_GE(e.pos, sums[e.node]);
            ASSERT_LE(e.pos + e.len, sums[e.node + 1]);
            for (u64 k = e.pos; k < e.pos + e.len; ++k) ASSERT_EQ(owner(slice[k]), u);
            listed += e.len;
        }
        for (const RegionEdge& e : foreign)
            ASSERT_TRUE(has(g.node(e.node).own_elsewhere, RegionEdge{u, e.pos, e.len}));
    }
    u64 misplaced = 0;
    for (std::size_t b = 0; b + 1 < sums.size(); ++b)
        for (u64 k = sums[b]; k < sums[b + 1]; ++k) misplaced += owner(slice[k]) != b;
    ASSERT_EQ(listed, misplaced);
}

// Builds the graph and settles the regions longest first, as the parallel pass does.
void settle(Layout& l) {
    RegionsGraph g(l.range);
    const std::vector<u64> global = g.build_regions_graph(l.histograms);
    std::vector<u64> sums(l.range + 1, 0);
    for (std::size_t b = 0; b < l.range; ++b) sums[b + 1] = sums[b] + global[b];
    EXPECT_EQ(sums.back(), l.slice.size());
    std::vector<bool> settled(l.range, false);
    expect_graph_matches_slice(g, l.slice, sums, settled);

    std::vector<BucketRegion<u64>> regions;
    for (std::size_t b = 0; b < l.range; ++b)
        regions.push_back({l.slice.data() + sums[b], global[b], b, sums[b]});
    std::sort(regions.begin(), regions.end(),
              [](const auto& x, const auto& y) { return x.len < y.len; });
    std::vector<std::size_t> region_of(l.range);
    for (std::size_t k = 0; k < regions.size(); ++k) region_of[regions[k].bucket] = k;

    while (!regions.empty()) {
        const BucketRegion<u64> here = regions.back();
        regions.pop_back();
        apply_swaps<u64>(g.two_cycle_swaps(here.bucket), here, regions, region_of);
        expect_graph_matches_slice(g, l.slice, sums, settled);
        apply_swaps<u64>(g.cycle_swaps(here.bucket), here, regions, region_of);
        settled[here.bucket] = true;
        expect_graph_matches_slice(g, l.slice, sums, settled);
        for (std::size_t k = 0; k < here.len; ++k)
            EXPECT_EQ(owner(here.data[k]), here.bucket) << "region " << here.bucket;
    }
}

// Few buckets per chunk with wide ranges, or many with narrow ones, so the total stays
// small while the graph still gets long lists and many empty buckets.
std::vector<std::vector<u64>> random_chunks(std::mt19937_64& rng, std::size_t range) {
    auto uniform = [&](u64 lo, u64 hi) { return std::uniform_int_distribution<u64>(lo, hi)(rng); };
    const std::size_t chunks = uniform(1, 300), used = uniform(1, std::min<std::size_t>(range, 12));
    const u64 most = uniform(1, 40);
    std::vector<std::size_t> pool(range);
    std::iota(pool.begin(), pool.end(), 0);
    std::shuffle(pool.begin(), pool.end(), rng);
    const std::size_t live = uniform(used, range);
    std::vector<std::vector<u64>> out(chunks, std::vector<u64>(range, 0));
    for (auto& h : out)
        for (std::size_t k = 0; k < used; ++k) h[pool[uniform(0, live - 1)]] += uniform(0, most);
    return out;
}

class RegionsGraphProperty : public ::testing::TestWithParam<std::size_t> {};

TEST_P(RegionsGraphProperty, SettlesRandomLayouts) {
    const std::size_t range = GetParam();
    for (u64 seed = 0; seed < 40; ++seed) {
        std::mt19937_64 rng(seed * 7919 + range);
        Layout l = lay_out(range, random_chunks(rng, range));
        std::vector<u64> before = l.slice;
        settle(l);
        if (HasFatalFailure()) return;
        std::vector<u64> after = l.slice;
        std::sort(before.begin(), before.end());
        std::sort(after.begin(), after.end());
        EXPECT_EQ(before, after) << "not a permutation, seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(Ranges, RegionsGraphProperty, ::testing::Values(2, 4, 16, 256));

}  // namespace
