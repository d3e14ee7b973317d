// The entry of the parallel radix sort, for sort_i64's unsorted stretches whose digits split
// well (on the call's own pool from kMtI64ComparisonBelow elements, else on the global one):
// a scan for the widest key, then peeka_sort on the pool, or a count of the keys split over
// the pool when they span a narrow range.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "pool/thread_pool.hpp"
#include "radix/counting_sort.hpp"
#include "radix/key_scan.hpp"
#include "radix/peeka_sort.hpp"
#include "traits/traits.hpp"
#include "types/params.hpp"

namespace tamarind {

// Whether the keys seen by `scan` already fix the first level of a stretch that holds them:
// they use all 64 bits and differ in their top byte, so the widest key has no leading zero
// and no top digit is shared. Widths and spreads only grow as more keys are seen, so what
// holds for one chunk holds for the whole stretch.
inline bool fixes_top_level(const KeyScan& scan) noexcept {
    return scan.bits == 64 && (scan.spread >> (64 - kByteRadix)) != 0;
}

// Sorts the stretch v[0, n) (n > 0) with 8-bit digits on `pool`; chunk_size and
// total_len pass through to peeka_sort.
//
// The widest key decides the first level, so it is found first. That scan needs no pass of
// its own: it runs chunk by chunk on `pool`, cut as the first level's partition cuts, and a
// chunk whose keys alone fix that level (fixes_top_level) is counted and partitioned at once,
// while it is still in cache. Chunks that could not tell are partitioned once the whole
// stretch is known; when the first level turns out to be another one, nothing was moved.
template <class Traits>
void peeka_entry(typename Traits::value_type* v, std::size_t n, pool::ThreadPool& pool,
                 std::size_t chunk_size, std::size_t total_len) {
    using T = typename Traits::value_type;
    const PeekaChunks chunking = peeka_chunks(n, chunk_size, total_len);
    const std::size_t chunks = chunk_count(n, chunking.len);
    const std::size_t range = kByteRadixRange;
    const Params top{0, kByteRadix, 0, 64 / kByteRadix, range};
    const Digit top_digit = top_aligned_digit(top, 0);
    // Slices this short skip the partition: rollercoaster_small sorts them.
    const bool partitions = n > kPeekaSmallMax;
    const u64 first = Traits::to_key(v[0]);
    std::vector<KeyScan> scans(chunks);
    std::vector<u64> histograms(partitions ? chunks * range : 0);
    std::vector<char> partitioned(chunks, 0);  // char, not bool: tasks write neighbouring slots
    auto partition = [&](std::size_t c, T* chunk, std::size_t len) {
        u64 sums[kMaxRadixRange + 1];
        count_and_partition<Traits>(chunk, len, histograms.data() + c * range, sums, range, top_digit);
        partitioned[c] = 1;
    };
    for_each_chunk(v, n, chunking.len, pool, [&](std::size_t c, T* chunk, std::size_t len) {
        scans[c] = key_bits_and_spread<Traits>(chunk, len, first);
        if (partitions && fixes_top_level(scans[c])) partition(c, chunk, len);
    });
    KeyScan scan{0, 0};
    for (const KeyScan& s : scans) scan = {std::max(scan.bits, s.bits), scan.spread | s.spread};
    // Every key is the same: the stretch is in order.
    if (scan.spread == 0) return;
    // Keys in a narrow range (small integers) are counted rather than partitioned.
    if (counting_sort_fits(n, scan.spread)) {
        counting_sort_on<Traits>(v, n, spread_plan(first, scan.spread), pool);
        return;
    }
    // Levels whose digit every key shares would each count the whole stretch into one
    // bucket and move nothing: unless the top byte is the first level, the levels start
    // at the first bit in which keys differ.
    const Params p = fixes_top_level(scan) ? top : spread_aligned_params(scan.spread);
    if (!partitions) {
        rollercoaster_small<Traits>(v, n, p, scan.spread);
        return;
    }
    if (!fixes_top_level(scan)) {
        peeka_sort<Traits>(v, n, p, pool, chunk_size, total_len);
        return;
    }
    if (std::find(partitioned.begin(), partitioned.end(), 0) != partitioned.end()) {
        for_each_chunk(v, n, chunking.len, pool, [&](std::size_t c, T* chunk, std::size_t len) {
            if (partitioned[c] == 0) partition(c, chunk, len);
        });
    }
    peeka_settle<Traits>(v, n, p, pool, chunking.pass_chunk, total_len, histograms);
}

}  // namespace tamarind
