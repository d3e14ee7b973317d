// The multi-threaded radix sort: its exchange plan as a property (for chunk layouts of every
// shape, settling the regions longest first moves every element into its bucket's region with
// in-place exchanges, and the graph describes the slice truthfully at every step), peeka_sort on
// pools of 1 to 4 workers with chunk sizes that force many chunks and nested bucket tasks and
// on keys of every width, and both whole-slice entries on shaped digits and at their
// thresholds, including NaN. Suites carry "Parallel" in their names so that they also run
// under ThreadSanitizer.
#include <gtest/gtest.h>

#include "entries/mt_radix_sort.hpp"
#include "entries/single_threaded_sort.hpp"
#include "pool/platform.hpp"
#include "radix/peeka_entry.hpp"
#include "radix/regions_graph.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

template <class T>
void check_peeka(const std::vector<T>& in, pool::ThreadPool& workers, std::size_t chunk_size,
                 std::size_t total_len, const std::string& what) {
    const auto sort = [&](T* v, std::size_t n) { peeka_entry<traits_of<T>>(v, n, workers, chunk_size, total_len); };
    EXPECT_TRUE(sorted_permutation(in, sorted_with_guards(in, sort))) << what;
}

u64 owner(u64 element) { return element >> 32; }

u64 total(const std::vector<RegionEdge>& list) {
    return std::accumulate(list.begin(), list.end(), u64{0}, [](u64 t, const RegionEdge& e) { return t + e.len; });
}

bool has(const std::vector<RegionEdge>& list, const RegionEdge& e) { return std::find(list.begin(), list.end(), e) != list.end(); }

// Checks that the graph lists exactly the misplaced runs of the slice, each from both sides,
// and that no edge names a settled bucket.
void expect_graph_matches_slice(const RegionsGraph& g, const std::vector<u64>& slice, const std::vector<u64>& sums,
                                const std::vector<bool>& settled) {
    u64 listed = 0, misplaced = 0;
    for (std::size_t u = 0; u < g.size(); ++u) {
        const auto& own = g.node(u).own_elsewhere;
        const auto& foreign = g.node(u).foreign_here;
        ASSERT_EQ(total(own), total(foreign)) << "node " << u;
        ASSERT_TRUE(!settled[u] || (own.empty() && foreign.empty())) << "settled node " << u;
        for (const RegionEdge& e : own) {
            ASSERT_FALSE(settled[e.node]);
            ASSERT_TRUE(has(g.node(e.node).foreign_here, RegionEdge{u, e.pos, e.len}));
            ASSERT_TRUE(e.len > 0 && e.pos >= sums[e.node] && e.pos + e.len <= sums[e.node + 1]) << "node " << u;
            for (u64 k = e.pos; k < e.pos + e.len; ++k) ASSERT_EQ(owner(slice[k]), u);
            listed += e.len;
        }
        for (const RegionEdge& e : foreign) ASSERT_TRUE(has(g.node(e.node).own_elsewhere, RegionEdge{u, e.pos, e.len}));
    }
    for (std::size_t b = 0; b + 1 < sums.size(); ++b)
        for (u64 k = sums[b]; k < sums[b + 1]; ++k) misplaced += owner(slice[k]) != b;
    ASSERT_EQ(listed, misplaced);
}

// A random slice whose chunks are each grouped by bucket (element = bucket << 32 | serial, so
// the owner of every element and the multiset are both checkable; few buckets per chunk with
// wide ranges, or many with narrow ones, so the total stays small while the graph still gets
// long lists and many empty buckets): builds its graph and settles the regions longest first,
// as the parallel pass does.
void settle_random_layout(std::mt19937_64& rng, std::size_t range) {
    auto uniform = [&](u64 lo, u64 hi) { return std::uniform_int_distribution<u64>(lo, hi)(rng); };
    const std::size_t chunks = uniform(1, 300), used = uniform(1, std::min<std::size_t>(range, 12));
    const u64 most = uniform(1, 40);
    std::vector<std::size_t> pool(range);
    std::iota(pool.begin(), pool.end(), 0);
    std::shuffle(pool.begin(), pool.end(), rng);
    const std::size_t live = uniform(used, range);
    std::vector<u64> histograms(chunks * range, 0), slice;  // chunk-major, `range` counters per chunk
    for (std::size_t c = 0; c < chunks; ++c)
        for (std::size_t k = 0; k < used; ++k) histograms[c * range + pool[uniform(0, live - 1)]] += uniform(0, most);
    for (std::size_t i = 0; i < histograms.size(); ++i)
        for (u64 k = 0; k < histograms[i]; ++k) slice.push_back(u64{i % range} << 32 | slice.size());
    const std::vector<u64> before = slice;

    RegionsGraph g(range);
    const std::vector<u64> global = g.build_regions_graph(histograms);
    std::vector<u64> sums(range + 1, 0);
    for (std::size_t b = 0; b < range; ++b) sums[b + 1] = sums[b] + global[b];
    EXPECT_EQ(sums.back(), slice.size());
    std::vector<bool> settled(range, false);
    expect_graph_matches_slice(g, slice, sums, settled);
    std::vector<BucketRegion<u64>> regions;
    for (std::size_t b = 0; b < range; ++b) regions.push_back({slice.data() + sums[b], global[b], b, sums[b]});
    std::sort(regions.begin(), regions.end(), [](const auto& x, const auto& y) { return x.len < y.len; });
    std::vector<std::size_t> region_of(range);
    for (std::size_t k = 0; k < regions.size(); ++k) region_of[regions[k].bucket] = k;
    while (!regions.empty()) {
        const BucketRegion<u64> here = regions.back();
        regions.pop_back();
        apply_swaps<u64>(g.two_cycle_swaps(here.bucket), here, regions, region_of);
        expect_graph_matches_slice(g, slice, sums, settled);
        apply_swaps<u64>(g.cycle_swaps(here.bucket), here, regions, region_of);
        settled[here.bucket] = true;
        expect_graph_matches_slice(g, slice, sums, settled);
        for (std::size_t k = 0; k < here.len; ++k) EXPECT_EQ(owner(here.data[k]), here.bucket) << "region " << here.bucket;
    }
    EXPECT_EQ(sorted_bits(before), sorted_bits(slice)) << "not a permutation";
}

}  // namespace

class RegionsGraphProperty : public ::testing::TestWithParam<std::size_t> {};
INSTANTIATE_TEST_SUITE_P(Ranges, RegionsGraphProperty, ::testing::Values(2, 4, 16, 256));

TEST_P(RegionsGraphProperty, SettlesRandomLayouts) {
    const std::size_t range = GetParam();
    for (u64 seed = 0; seed < 40 && !HasFatalFailure(); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937_64 rng(seed * 7919 + range);
        settle_random_layout(rng, range);
    }
}

// On int64 only: the engine hands it float64 as ordered integers.
TEST(PeekaSortParallel, PatternsAndKeyWidthsOnOneToFourWorkers) {
    const std::size_t n = kSanitized ? 140'000 : 300'007;
    const std::vector<std::string> patterns = {"random",   "few_distinct", "one_top_digit", "small_range", "extremes",
                                               "duplicates", "sorted",     "reversed",      "all_equal",   "sawtooth"};
    for (std::size_t threads : {1, 2, 4}) {
        pool::ThreadPool workers = make_pool(threads);
        for (const std::string& pattern : patterns) {
            // Small chunks give many chunk tasks, a dense graph and bucket tasks that split again.
            for (std::size_t chunk : {std::size_t{7'000}, std::size_t{100'000}, n}) {
                if (kSanitized && chunk == n) continue;
                check_peeka(make_pattern<i64>(pattern, n, threads), workers, chunk, n,
                            pattern + " threads=" + std::to_string(threads) + " chunk=" + std::to_string(chunk));
            }
        }
        // From 5 000 000 000 elements on, chunk_size counts chunks of the whole array.
        for (std::size_t chunks : {std::size_t{5'000}, std::size_t{500'000}})
            check_peeka(make_pattern<i64>("random", n, chunks), workers, chunks, std::size_t{5'000'000'000ULL},
                        "chunks=" + std::to_string(chunks));
        // Key widths that leave a narrower last digit (60 bits: 4), a single short digit, or
        // none at all (every key 0).
        std::mt19937_64 rng(21);
        for (int bits : {60, 57, 9, 3, 0}) {
            std::vector<i64> v(n);
            for (auto& x : v) x = std::numeric_limits<i64>::min() + static_cast<i64>(bits ? rng() >> (64 - bits) : 0);
            check_peeka(v, workers, 10'000, n, "bits=" + std::to_string(bits) + " threads=" + std::to_string(threads));
        }
    }
}

// Both entries for i64 on data shaped for particular digits and for the bucket of one sign.
// (Each function at and around every length threshold, on every kernel table, over value
// families that NaN and both zeros are among, is the Python sweep's test.)
TEST(EntriesI64Parallel, DigitShapes) {
    std::mt19937_64 rng(12);
    const std::size_t n = kSanitized ? 20000 : 200000;
    const i64 lo = std::numeric_limits<i64>::min(), hi = std::numeric_limits<i64>::max();
    void (*const entries[])(i64*, std::size_t) = {single_threaded_sort, mt_radix_sort};
    auto check = [&](const std::vector<i64>& in, const std::string& what) {
        for (auto sort : entries) EXPECT_TRUE(sorted_permutation(in, sorted_with_guards(in, sort))) << what;
    };
    auto fill = [&](auto gen) { std::vector<i64> v(n); for (auto& x : v) x = gen(); return v; };
    check(fill([&] { return rng() % 8 ? static_cast<i64>(rng()) : (rng() % 2 ? lo : hi); }), "full range with extremes");
    check(fill([&] { return -static_cast<i64>(rng() >> 1) - 1; }), "negative only");
    check(fill([&] { return static_cast<i64>(rng() >> 8); }), "non-negative below 2^56");
    check(fill([&] { return static_cast<i64>(rng() >> 4) - (i64{1} << 59); }), "60-bit spread around zero");
    check(fill([&] { return lo + static_cast<i64>(rng() >> 4); }), "keys of 60 significant bits");
    // Mostly negative with 349 and 350 values below 2^56 among them: either side of the bound
    // from which the bucket of one sign takes run detection.
    for (std::size_t small : {349, 350}) {
        std::vector<i64> v(8000);
        for (std::size_t i = 0; i < v.size(); ++i) v[i] = i < small ? static_cast<i64>(rng() >> 8) : -static_cast<i64>(rng() >> 1);
        std::shuffle(v.begin(), v.end(), rng);
        check(v, "same-sign bucket of " + std::to_string(small));
    }
}

// NaN and signed zeros on the multi-threaded path: ordered by key wherever they sit, and
// the call never panics.
TEST(MtRadixSortParallel, NaNInTotalOrder) {
    std::vector<std::vector<f64>> cases;
    cases.push_back(make_pattern<f64>("random", kMtF64ComparisonBelow, 11));
    cases.back()[3] = kPosNaN, cases.back()[5] = kNegNaN, cases.back()[7] = kPosNaN;
    // An ascending run with NaNs at its ends, then a stretch of mixed zeros and NaNs.
    std::vector<f64> runs(kMtF64ComparisonBelow);
    std::mt19937_64 rng(12);
    for (std::size_t i = 0; i < runs.size(); ++i)
        runs[i] = i < 500'000 ? static_cast<f64>(i) : (rng() % 3 == 0 ? kPosNaN : rng() % 2 ? 0.0 : -0.0);
    runs[0] = kNegNaN, runs[499'999] = kPosNaN;
    cases.push_back(runs);
    for (std::size_t c = 0; c < cases.size(); ++c) {
        std::vector<f64> v = cases[c];
        ASSERT_EQ(panic_message([&] { mt_radix_sort(v.data(), v.size()); }), "no panic") << "case " << c;
        EXPECT_TRUE(sorted_permutation(cases[c], v, true)) << "case " << c;
    }
}

TEST(MtRadixSortParallel, PoolThatCannotBeBuiltPanicsBeforeSorting) {
    std::vector<f64> v = make_pattern<f64>("random", kMtF64ComparisonBelow, 15);
    const std::vector<f64> before = v;
    pool::platform::fail_thread_starts_after(1);
    const std::string message = panic_message([&] { mt_radix_sort(v.data(), v.size()); });
    pool::platform::fail_thread_starts_after(-1);
    EXPECT_EQ(message.rfind("called `Result::unwrap()` on an `Err` value: ThreadPoolBuildError { kind: IOError(", 0), 0u)
        << message;
    EXPECT_EQ(v, before);
}

// The pool is built on the first stretch that needs one: data that run detection or a count
// settles sorts even where no thread can start.
TEST(MtRadixSortParallel, SettledDataBuildsNoPool) {
    pool::platform::fail_thread_starts_after(0);
    for (const char* pattern : {"sorted", "reversed", "all_equal", "few_distinct"}) {
        std::vector<f64> f = make_pattern<f64>(pattern, kMtF64ComparisonBelow, 16);
        const std::vector<f64> f_in = f;
        EXPECT_EQ(panic_message([&] { mt_radix_sort(f.data(), f.size()); }), "no panic") << pattern;
        EXPECT_TRUE(sorted_permutation(f_in, f, true)) << pattern;
        if (kSanitized) continue;  // 10^7 elements
        std::vector<i64> i = make_pattern<i64>(pattern, kMtI64ComparisonBelow, 17);
        const std::vector<i64> i_in = i;
        EXPECT_EQ(panic_message([&] { mt_radix_sort(i.data(), i.size()); }), "no panic") << pattern;
        EXPECT_TRUE(sorted_permutation(i_in, i, true)) << pattern;
    }
    pool::platform::fail_thread_starts_after(-1);
}
