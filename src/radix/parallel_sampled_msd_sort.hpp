// The sampled MSD sort on a pool, for sort_f64's stretches as ordered integers (up to
// the crossing row's f64_sampled_max, those whose digits split them badly from the crossing row's
// mt_f64_sampled and all from its mt_f64_sampled_even): the key scan and the partition by the sampled
// buckets run chunk by chunk in parallel, a RegionsGraph settles the buckets' regions by
// exchanges in place (as each peeka_sort level does), and every bucket is then sorted as a
// task of its own.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "pool/thread_pool.hpp"
#include "radix/key_scan.hpp"
#include "radix/peeka_entry.hpp"
#include "radix/peeka_sort.hpp"
#include "radix/regions_graph.hpp"
#include "radix/sampled_msd_sort.hpp"
#include "traits/traits.hpp"

namespace tamarind {

// Sorts v[0, n) (n >= kSampledMsdMin) on `pool`, in chunks of chunk_len for the partition,
// whose keys differ in the bits of `spread` (as sampled_msd_sort).
template <class Traits>
void parallel_sampled_msd_sort(typename Traits::value_type* v, std::size_t n, pool::ThreadPool& pool,
                               std::size_t chunk_len, u64 spread) {
    using T = typename Traits::value_type;
    if (spread == 0) return;  // every key the same
    const std::size_t chunks = chunk_count(n, chunk_len);
    const QuantileBuckets buckets = QuantileBuckets::of_sample<Traits>(v, n, spread);
    std::vector<u64> histograms(chunks * kSampledBuckets);
    for_each_chunk(v, n, chunk_len, pool, [&](std::size_t c, T* chunk, std::size_t len) {
        u64 sums[kSampledBuckets + 1];
        detail::partition_by_buckets(chunk, len, buckets.bucket_of<Traits>(), histograms.data() + c * kSampledBuckets,
                                     sums);
    });
    RegionsGraph graph(kSampledBuckets);
    const std::vector<u64> global = graph.build_regions_graph(histograms);
    // A region longer than half a thread's share of the slice (keys of one heavy index, or
    // keys the sample missed) would keep the other threads waiting: the parallel radix sort
    // splits it by its own digits on the pool. Every other region is one task.
    const std::size_t share = std::max(n / (2 * pool.current_num_threads()), kRollercoasterSmallMax);
    settle_regions(v, pool, graph, global, true, [&pool, chunk_len, n, share](T* r, std::size_t len) {
        if (len > share)
            peeka_entry<Traits>(r, len, pool, chunk_len, n);
        else
            detail::sort_sampled_bucket<Traits>(r, len);
    });
}

// The same for any n, the spread found by a parallel scan.
template <class Traits>
void parallel_sampled_msd_sort(typename Traits::value_type* v, std::size_t n, pool::ThreadPool& pool,
                               std::size_t chunk_len) {
    using T = typename Traits::value_type;
    if (n < kSampledMsdMin) {
        sampled_msd_sort<Traits>(v, n);
        return;
    }
    const u64 first = Traits::to_key(v[0]);
    std::vector<u64> spreads(chunk_count(n, chunk_len));
    for_each_chunk(v, n, chunk_len, pool, [&](std::size_t c, T* chunk, std::size_t len) {
        spreads[c] = key_bits_and_spread<Traits>(chunk, len, first).spread;
    });
    u64 spread = 0;
    for (u64 s : spreads) spread |= s;
    parallel_sampled_msd_sort<Traits>(v, n, pool, chunk_len, spread);
}

}  // namespace tamarind
