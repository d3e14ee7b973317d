// The exchange plan as a property: for chunk layouts of every shape, settling the regions
// longest first moves every element into its bucket's region with in-place exchanges,
// and the graph describes the slice truthfully at every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "algo/regions_graph.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using tamarind::testing::panic_message;

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
    u64 t = 0;
    for (const RegionEdge& e : list) t += e.len;
    return t;
}

bool has(const std::vector<RegionEdge>& list, const RegionEdge& e) {
    return std::find(list.begin(), list.end(), e) != list.end();
}

// Checks that the graph lists exactly the misplaced runs of the slice, each from both
// sides, and that no edge names a settled bucket.
void expect_graph_matches_slice(const RegionsGraph& g, const std::vector<u64>& slice,
                                const std::vector<u64>& sums, const std::vector<bool>& settled) {
    u64 listed = 0;
    for (std::size_t u = 0; u < g.size(); ++u) {
        const auto& own = g.node(u).own_elsewhere;
        const auto& foreign = g.node(u).foreign_here;
        ASSERT_EQ(total(own), total(foreign)) << "node " << u;
        if (settled[u]) {
            ASSERT_TRUE(own.empty() && foreign.empty()) << "settled node " << u;
        }
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
        const auto two = g.two_cycle_swaps(here.bucket);
        apply_swaps<u64>(two, here, regions, region_of);
        expect_graph_matches_slice(g, l.slice, sums, settled);
        const auto rest = g.cycle_swaps(here.bucket);
        apply_swaps<u64>(rest, here, regions, region_of);
        settled[here.bucket] = true;
        expect_graph_matches_slice(g, l.slice, sums, settled);
        for (std::size_t k = 0; k < here.len; ++k)
            EXPECT_EQ(owner(here.data[k]), here.bucket) << "region " << here.bucket;
    }
}

void expect_permutation_grouped(const Layout& before, const Layout& after) {
    std::vector<u64> a = before.slice, b = after.slice;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b);
    EXPECT_TRUE(std::is_sorted(after.slice.begin(), after.slice.end(),
                               [](u64 x, u64 y) { return owner(x) < owner(y); }));
}

std::vector<std::vector<u64>> random_chunks(std::mt19937_64& rng, std::size_t range) {
    const std::size_t chunks = std::uniform_int_distribution<std::size_t>(1, 300)(rng);
    // Few buckets per chunk with wide ranges, or many with narrow ones, so the total stays
    // small while the graph still gets long lists and many empty buckets.
    const std::size_t used = std::uniform_int_distribution<std::size_t>(1, std::min<std::size_t>(range, 12))(rng);
    const u64 most = std::uniform_int_distribution<u64>(1, 40)(rng);
    std::vector<std::size_t> pool(range);
    std::iota(pool.begin(), pool.end(), 0);
    std::shuffle(pool.begin(), pool.end(), rng);
    const std::size_t live = std::uniform_int_distribution<std::size_t>(used, range)(rng);
    std::vector<std::vector<u64>> out(chunks, std::vector<u64>(range, 0));
    for (auto& h : out)
        for (std::size_t k = 0; k < used; ++k)
            h[pool[std::uniform_int_distribution<std::size_t>(0, live - 1)(rng)]] +=
                std::uniform_int_distribution<u64>(0, most)(rng);
    return out;
}

class RegionsGraphProperty : public ::testing::TestWithParam<std::size_t> {};

TEST_P(RegionsGraphProperty, SettlesRandomLayouts) {
    const std::size_t range = GetParam();
    for (u64 seed = 0; seed < 40; ++seed) {
        std::mt19937_64 rng(seed * 7919 + range);
        Layout l = lay_out(range, random_chunks(rng, range));
        const Layout before = l;
        settle(l);
        if (HasFatalFailure()) return;
        expect_permutation_grouped(before, l);
    }
}

INSTANTIATE_TEST_SUITE_P(Ranges, RegionsGraphProperty, ::testing::Values(2, 4, 16, 256));

// Two buckets that each hold the other's elements, in runs cut differently: the two-cycle
// exchanges settle both, with nothing left for the general cycles.
TEST(RegionsGraph, TwoCycleNeedsNoLongerCycle) {
    Layout l = lay_out(2, {{0, 3}, {0, 2}, {4, 0}, {1, 0}});
    RegionsGraph g(2);
    g.build_regions_graph(l.histograms);
    EXPECT_EQ(g.two_cycle_swaps(0).size(), 3u);
    EXPECT_TRUE(g.node(0).own_elsewhere.empty() && g.node(0).foreign_here.empty());
    EXPECT_TRUE(g.cycle_swaps(0).empty());
}

TEST(RegionsGraph, MissingMirrorEntriesPanic) {
    // A two-cycle between 0 and 1; the mirrors are then looked up at wrong positions.
    Layout l = lay_out(2, {{0, 3}, {3, 0}});
    RegionsGraph g(2);
    g.build_regions_graph(l.histograms);
    std::vector<RegionEdge> X{{1, 99, 3}}, Y{{1, 3, 3}};
    EXPECT_EQ(panic_message([&] { g.swap_regions(0, X, Y, 0, 0); }),
              "[Regions graph -> swap regions] Bad implementation: p1.");
    X = {{1, 3, 3}};
    Y = {{1, 99, 3}};
    EXPECT_EQ(panic_message([&] { g.swap_regions(0, X, Y, 0, 0); }),
              "[Regions graph -> swap regions] Bad implementation: p2.");

    // A swap naming a region that is no longer in the list.
    std::vector<u64> v(6, 0);
    const BucketRegion<u64> here{v.data(), 3, 0, 0};
    const std::vector<BucketRegion<u64>> none;
    const std::vector<std::size_t> region_of{1, 0};
    const std::vector<RegionSwap> swaps{{1, 0, 3, 1, 3}};
    EXPECT_EQ(panic_message([&] { apply_swaps<u64>(swaps, here, none, region_of); }),
              "index out of bounds: the len is 0 but the index is 0");
}

}  // namespace
