// Parallel in-place MSD radix sort with 8-bit digits. One level at a time: the slice is
// cut into chunks that are counted and grouped by the current digit in parallel, a
// RegionsGraph works out which runs lie in another bucket's final region, those runs are
// exchanged in place (no scratch copy of the slice), and each bucket goes on to the next
// digit: large ones as pool tasks started as soon as their region is settled, small ones
// inline, slices that fit a cache-friendly sort by rollercoaster_small. It runs on sort_i64's
// unsorted stretches whose digits split well, through peeka_entry.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "comparison/comparison_sort.hpp"
#include "pool/join.hpp"
#include "pool/thread_pool.hpp"
#include "radix/histograms.hpp"
#include "radix/key_scan.hpp"
#include "radix/regions_graph.hpp"
#include "radix/rollercoaster_sort.hpp"
#include "radix/ska_sort.hpp"
#include "traits/traits.hpp"
#include "types/panic.hpp"
#include "types/params.hpp"

namespace tamarind {

// Arrays from this long treat chunk_size as a chunk count for the whole array.
inline constexpr u64 kPeekaChunkCountMin = 5'000'000'000ULL;
// Slices up to this long are finished by rollercoaster_small; also the least chunk length
// when chunk_size is a chunk count.
inline constexpr std::size_t kPeekaSmallMax = 128'000;
// Settled regions up to this long are sorted inline by the settling thread, not as tasks.
inline constexpr std::size_t kPeekaInlineRegionMax = 3'000;

static_assert(kPeekaInlineRegionMax <= kRollercoasterSmallMax,
              "inline regions are finished by rollercoaster_small");
static_assert(kPeekaSmallMax == kRollercoasterSmallMax,
              "slices handed to rollercoaster_small must fit its limit");

using messages::kRegionsSortBadImplementation;

namespace detail {

// Exchanges of one region move at least this many elements before they are spread over
// two workers.
inline constexpr std::size_t kSpreadSwapMin = 1 << 16;

// apply_swaps for all the exchanges that settle `here`, the two-cycle ones first. Every
// one of them exchanges a run inside here's region with a run of here's own elements
// elsewhere, and no two of them share a position, so they may run in any order and at
// once: the larger half by length goes to a second worker through join when the pool has
// one.
template <class T>
void apply_swaps_spread(std::vector<RegionSwap>& swaps, const BucketRegion<T>& here,
                        std::span<const BucketRegion<T>> regions, std::span<const std::size_t> region_of,
                        pool::ThreadPool& pool) {
    u64 total = 0;
    for (const RegionSwap& s : swaps) total += s.len;
    if (total < kSpreadSwapMin || pool.current_num_threads() < 2) {
        apply_swaps<T>(swaps, here, regions, region_of);
        return;
    }
    // Cut the list where half the elements are behind, splitting the swap that straddles it.
    std::vector<RegionSwap> second;
    u64 seen = 0;
    for (std::size_t k = 0; k < swaps.size(); ++k) {
        RegionSwap& s = swaps[k];
        if (seen + s.len <= total / 2) {
            seen += s.len;
            continue;
        }
        const u64 keep = total / 2 - seen;
        RegionSwap tail = s;
        tail.here_pos += keep;
        tail.there_pos += keep;
        tail.len -= keep;
        s.len = keep;
        second.push_back(tail);
        second.insert(second.end(), swaps.begin() + static_cast<std::ptrdiff_t>(k) + 1, swaps.end());
        swaps.resize(k + 1);
        break;
    }
    pool::join([&] { apply_swaps<T>(swaps, here, regions, region_of); },
               [&] { apply_swaps<T>(second, here, regions, region_of); });
}

}  // namespace detail

// How one peeka_sort level cuts its slice of n elements. Below kPeekaChunkCountMin elements
// chunk_size is a chunk length; above, a chunk count for the whole array, scaled to this
// slice's share.
struct PeekaChunks {
    std::size_t pass_chunk;  // the chunk_size handed to the next level
    std::size_t len;         // elements per chunk; the last chunk holds the rest
};

inline PeekaChunks peeka_chunks(std::size_t n, std::size_t chunk_size, std::size_t total_len) {
    if (total_len == 0) [[unlikely]]
        panic(messages::kDivideByZero);
    if (total_len < kPeekaChunkCountMin) return {chunk_size, chunk_size};
    const auto scaled = static_cast<std::size_t>(static_cast<unsigned __int128>(chunk_size) * n / total_len);
    const std::size_t pass_chunk = std::max<std::size_t>(1, scaled);
    return {pass_chunk, std::max<std::size_t>(n / pass_chunk, kPeekaSmallMax)};
}

inline std::size_t chunk_count(std::size_t n, std::size_t chunk_len) noexcept {
    return n <= chunk_len ? 1 : (n + chunk_len - 1) / chunk_len;
}

// Runs fn(c, chunk, len) for every chunk c of v[0, n): on the current thread when the slice
// is one chunk, else one task per chunk on `pool`, returning when all have finished. Chunks
// are disjoint, so the tasks share no elements.
template <class T, class Fn>
void for_each_chunk(T* v, std::size_t n, std::size_t chunk_len, pool::ThreadPool& pool, Fn&& fn) {
    if (n <= chunk_len) {
        fn(std::size_t{0}, v, n);
        return;
    }
    const std::size_t chunks = chunk_count(n, chunk_len);
    pool.scope([&](pool::Scope& scope) {
        for (std::size_t c = 0; c < chunks; ++c)
            scope.spawn([&, c] { fn(c, v + c * chunk_len, std::min(chunk_len, n - c * chunk_len)); });
    });
}

template <class Traits>
void peeka_sort(typename Traits::value_type* v, std::size_t n, const Params& p, pool::ThreadPool& pool,
                std::size_t chunk_size, std::size_t total_len);

// Once every chunk of v[0, n) is grouped by a partition into `global.size()` buckets, bucket
// 0 first, and `graph` was built from their counts (global: the totals): the exchanges that
// settle each bucket's region, and sort_region(data, len) for every region of two or more
// elements (when sort_regions): long ones as pool tasks started as soon as their region is
// settled, short ones on this thread once every region is. It is the second half of an
// in-place parallel partition by any digit; sort_region may split its region again.
template <class T, class SortRegion>
void settle_regions(T* v, pool::ThreadPool& pool, RegionsGraph& graph, const std::vector<u64>& global,
                    bool sort_regions, SortRegion&& sort_region) {
    const std::size_t range = global.size();
    std::vector<u64> sums(range + 1);
    prefix_sums_into(global.data(), range, sums.data());
    std::vector<BucketRegion<T>> regions(range);
    for (std::size_t b = 0; b < range; ++b)
        regions[b] = {v + sums[b], static_cast<std::size_t>(global[b]), b, static_cast<std::size_t>(sums[b])};
    // Longest last, so settling pops the biggest region first and its task starts first.
    const auto shorter = [](const BucketRegion<T>& a, const BucketRegion<T>& b) { return a.len < b.len; };
    if (regions.size() <= kInsertionSortMax)
        insertion_sort(regions.data(), regions.size(), shorter);
    else
        unstable_sort(regions.data(), regions.size(), shorter);
    std::vector<std::size_t> region_of(range);
    for (std::size_t k = 0; k < regions.size(); ++k) region_of[regions[k].bucket] = k;

    pool.scope([&](pool::Scope& scope) {
        // Exchanges run here, one region after another; a spawned bucket task touches only
        // its own settled region, which no later exchange names.
        std::vector<BucketRegion<T>> inline_regions;
        for (std::size_t k = 0; k < range; ++k) {
            if (regions.empty()) [[unlikely]]
                panic(kRegionsSortBadImplementation);
            const BucketRegion<T> here = regions.back();
            regions.pop_back();
            std::vector<RegionSwap> swaps = graph.two_cycle_swaps(here.bucket);
            const std::vector<RegionSwap> rest = graph.cycle_swaps(here.bucket);
            swaps.insert(swaps.end(), rest.begin(), rest.end());
            detail::apply_swaps_spread<T>(swaps, here, regions, region_of, pool);

            if (!sort_regions || here.len < 2) continue;
            if (here.len <= kPeekaInlineRegionMax) {
                inline_regions.push_back(here);
                continue;
            }
            scope.spawn([here, &sort_region] { sort_region(here.data, here.len); });
        }
        for (const BucketRegion<T>& r : inline_regions) sort_region(r.data, r.len);
    });
}

// The rest of a peeka_sort level once every chunk of v[0, n) is grouped by the level's
// digit, bucket 0 first, and `histograms` holds their counts in chunk order: the regions
// graph, the exchanges that settle each region, and the next level for every bucket.
template <class Traits>
void peeka_settle(typename Traits::value_type* v, std::size_t n, const Params& p, pool::ThreadPool& pool,
                  std::size_t pass_chunk, std::size_t total_len, const std::vector<u64>& histograms) {
    using T = typename Traits::value_type;
    RegionsGraph graph(p.radix_range);
    const std::vector<u64> global = graph.build_regions_graph(histograms);
    if (std::find(global.begin(), global.end(), u64{n}) != global.end()) {
        // Every key shares this digit, so nothing moves here; nor at the levels after it
        // whose digit they all share (a slice of one value has nothing left to sort at
        // all). One sweep finds them and saves a count of the whole slice for each.
        if (p.level + 1 >= p.max_level) return;
        const KeyScan scan = key_bits_and_spread<Traits>(v, n, Traits::to_key(v[0]));
        if (scan.spread == 0) return;
        Params next = p;
        next.level = first_differing_level(p, scan.spread);
        peeka_sort<Traits>(v, n, next, pool, pass_chunk, total_len);
        return;
    }
    Params child = p;
    child.level = p.level + 1;
    settle_regions(v, pool, graph, global, p.level + 1 < p.max_level, [child, &pool, pass_chunk, total_len](T* r, std::size_t len) {
        if (len <= kPeekaInlineRegionMax)
            rollercoaster_small<Traits>(r, len, child);
        else
            peeka_sort<Traits>(r, len, child, pool, pass_chunk, total_len);
    });
}

// Sorts v[0, n), whose keys agree on every digit before p.level, by the digits p.level to
// p.max_level - 1 on `pool`. Returns once the slice is sorted, every task it started
// included. chunk_size and total_len come from the entry (see peeka_chunks).
template <class Traits>
void peeka_sort(typename Traits::value_type* v, std::size_t n, const Params& p, pool::ThreadPool& pool,
                std::size_t chunk_size, std::size_t total_len) {
    const PeekaChunks chunking = peeka_chunks(n, chunk_size, total_len);
    if (n <= kPeekaSmallMax) {
        rollercoaster_small<Traits>(v, n, p);
        return;
    }
    // Partition every chunk by the current digit; histograms stay in chunk order, one slot
    // per chunk, each written only by its own chunk's task.
    const Digit digit = top_aligned_digit(p, p.level);
    const std::size_t range = p.radix_range;
    std::vector<u64> histograms(chunk_count(n, chunking.len) * range);
    for_each_chunk(v, n, chunking.len, pool, [&](std::size_t c, typename Traits::value_type* chunk, std::size_t len) {
        u64 sums[kMaxRadixRange + 1];
        count_and_partition<Traits>(chunk, len, histograms.data() + c * range, sums, range, digit);
    });
    peeka_settle<Traits>(v, n, p, pool, chunking.pass_chunk, total_len, histograms);
}

}  // namespace tamarind
