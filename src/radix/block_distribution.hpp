// In-place distribution by blocks: the partition of the large in-place MSD steps (the
// sampled step, and msd_step's from block_distribution_min() elements). Moving one element at
// a time to one of 256 bucket heads costs a cache and TLB miss per element once the slice
// leaves the cache; here every bucket fills a small buffer that stays in cache, and memory
// sees whole blocks only. Three phases, given each bucket's count:
//   1. classification: v is read front to back; a buffer that fills is written back over
//      the front of v, which has been read by then (full blocks of one bucket each);
//   2. permutation: the written blocks are moved, whole, into the block-aligned area of
//      their bucket, by chains of exchanges through a two-block swap space;
//   3. cleanup: each bucket's unaligned ends are filled from its buffer and from the part
//      of its last block that ran past its end.
// Only the allocation of its buffers may fail on any input, and it comes before anything
// moves. The panics below guard memory against counts that disagree with bucket_of (a
// broken caller), which no histogram of the same bucket_of gives.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "radix/histograms.hpp"
#include "types/element.hpp"
#include "types/panic.hpp"
#include "types/params.hpp"
#include "types/scratch.hpp"

namespace tamarind {

// Elements per block: 1 KiB of int64, so 256 buffers take 256 KiB, within any L2.
inline constexpr std::size_t kDistributionBlock = 128;
// Most buckets of one distribution (the byte digits' and the sampled step's).
inline constexpr std::size_t kDistributionMaxBuckets = 256;
// Slices from this long are distributed by blocks; in shorter ones, which the last-level
// cache holds, ska_swap's element swaps are faster. Where the swaps stop losing depends on
// the processor's memory system, so the crossing table holds it per processor and the
// entries set it when they pick their row (set_block_distribution_min); this is the value
// until then. 256 buckets of uniform u64, thread CPU ns per element, Intel Xeon model 207
// (busy host), blocks against ska_swap: 10^6 2.28 against 1.56, 2 * 10^6 2.48 against 1.72,
// 4 * 10^6 3.15 against 3.87, 10^7 3.31 against 4.42.
inline constexpr std::size_t kBlockDistributionMin = std::size_t{3} << 20;

namespace detail {
inline std::atomic<std::size_t> block_distribution_min_setting{kBlockDistributionMin};
}  // namespace detail

// The length from which the in-place MSD steps distribute by blocks, in this process.
inline std::size_t block_distribution_min() noexcept {
    return detail::block_distribution_min_setting.load(std::memory_order_relaxed);
}
inline void set_block_distribution_min(std::size_t n) noexcept {
    detail::block_distribution_min_setting.store(n, std::memory_order_relaxed);
}

namespace detail {

// Where the elements of a block are written: slot x of v, of which the part at or past n
// (the last slot, where n is not a multiple of the block) goes to `overflow`.
template <class T>
struct BlockSlots {
    T* v;
    std::size_t n;
    T* overflow;  // kDistributionBlock elements

    void write(std::size_t x, const T* block) const noexcept {
        if (x + kDistributionBlock <= n) {
            std::memcpy(v + x, block, kDistributionBlock * sizeof(T));
        } else {
            std::memcpy(v + x, block, (n - x) * sizeof(T));
            std::memcpy(overflow, block + (n - x), (x + kDistributionBlock - n) * sizeof(T));
        }
    }
    // Element i of the written slots, i < n or in the overflow.
    const T& at(std::size_t i) const noexcept { return i < n ? v[i] : overflow[i - n]; }
};

inline std::size_t align_up_to_block(std::size_t i) noexcept {
    return (i + kDistributionBlock - 1) / kDistributionBlock * kDistributionBlock;
}

// Asks for a whole block ahead of its use. The permutation's chain of exchanges reads
// blocks at places that each previous block decides, which no hardware prefetcher follows:
// fetched while the block before is copied, a block's memory access overlaps that copy.
// 256 buckets of uniform u64, 5 * 10^7 elements, ns per element, AMD Zen 4: the
// permutation 1.29-1.38 without, 0.86-0.89 with; the whole distribution 2.89-3.07 against
// 2.33-2.45 (4 * 10^6: 3.08-3.11 against 2.36-2.58).
template <class T>
inline void prefetch_block(const T* block) noexcept {
    const char* bytes = reinterpret_cast<const char*>(block);
    for (std::size_t line = 0; line < kDistributionBlock * sizeof(T); line += 64) __builtin_prefetch(bytes + line);
}

// Phase 1, classification, into k buffers of kDistributionBlock elements: returns how many
// elements went back to v as whole blocks, and leaves fill[b] elements in buffer b. With
// kCount, counts[b] (zeroed by the caller) gains each element of bucket b.
template <bool kCount, class T, class BucketOf>
std::size_t classify_into_blocks(T* v, std::size_t n, T* buffers, std::uint32_t* fill, u64* counts,
                                 BucketOf bucket_of) {
    constexpr std::size_t B = kDistributionBlock;
    // written + the buffered elements = elements read, so the block written at `written`
    // covers elements already read.
    std::size_t written = 0;
    auto put = [&](const T x, std::size_t b) {
        if constexpr (kCount) ++counts[b];
        buffers[b * B + fill[b]] = x;
        if (++fill[b] == B) [[unlikely]] {
            std::memcpy(v + written, buffers + b * B, B * sizeof(T));
            written += B;
            fill[b] = 0;
        }
    };
    // Four elements are read and classified before any is put, so that their buckets are
    // found in parallel; a flush among them writes over elements read before.
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const T x0 = v[i], x1 = v[i + 1], x2 = v[i + 2], x3 = v[i + 3];
        const std::size_t b0 = bucket_of(x0), b1 = bucket_of(x1), b2 = bucket_of(x2), b3 = bucket_of(x3);
        put(x0, b0);
        put(x1, b1);
        put(x2, b2);
        put(x3, b3);
    }
    for (; i < n; ++i) put(v[i], bucket_of(v[i]));
    return written;
}

// The scratch of one distribution: k buffers, then two blocks of swap space, then the
// overflow block. Allocated before anything moves.
template <class T>
ScratchBuffer<T> distribution_scratch(std::size_t k) {
    return ScratchBuffer<T>((k + 3) * kDistributionBlock);
}

// Phases 2 and 3: the blocks classify_into_blocks wrote, and what its buffers hold, put
// in place.
template <class T, class BucketOf>
void place_blocks(T* v, std::size_t n, const u64* sums, std::size_t k, BucketOf bucket_of, T* buffers,
                  const std::uint32_t* fill, std::size_t written) {
    constexpr std::size_t B = kDistributionBlock;
    T* swap_a = buffers + k * B;
    T* swap_b = swap_a + B;
    const detail::BlockSlots<T> slots{v, n, swap_b + B};

    // 2. Permutation. Bucket b's area is the slots from align_up(sums[b]) to
    // align_up(sums[b + 1]): at least as many as its full blocks. Its slots in
    // [head[b], tail[b]) hold blocks not yet looked at, [area start, head[b]) its own
    // blocks, and from tail[b] on nothing that is still wanted.
    u64 head[kDistributionMaxBuckets];
    u64 tail[kDistributionMaxBuckets];
    for (std::size_t b = 0; b < k; ++b) {
        head[b] = detail::align_up_to_block(sums[b]);
        tail[b] = std::max<u64>(head[b], std::min<u64>(detail::align_up_to_block(sums[b + 1]), written));
    }
    auto bucket_of_block = [&](const T* block) { return static_cast<std::size_t>(bucket_of(block[0])); };
    for (std::size_t b = 0; b < k; ++b) {
        while (head[b] < tail[b]) {
            tail[b] -= B;
            if (head[b] + B < tail[b]) detail::prefetch_block(v + tail[b] - B);
            std::memcpy(swap_a, v + tail[b], B * sizeof(T));
            std::size_t d = bucket_of_block(swap_a);
            // Carry swap_a to bucket d: past d's blocks in place, into the first slot of
            // another bucket's block (which is carried on next) or into a free slot.
            for (;;) {
                while (head[d] < tail[d] && bucket_of_block(v + head[d]) == d) head[d] += B;
                if (head[d] >= tail[d]) {
                    // Counts that disagree with bucket_of could carry a bucket past its area.
                    if (head[d] >= detail::align_up_to_block(sums[d + 1])) [[unlikely]]
                        panic(messages::kBlockDistributionBadCounts);
                    slots.write(head[d], swap_a);
                    head[d] += B;
                    break;
                }
                const std::size_t e = bucket_of_block(v + head[d]);
                if (head[e] < tail[e]) detail::prefetch_block(v + head[e]);
                std::memcpy(swap_b, v + head[d], B * sizeof(T));
                std::memcpy(v + head[d], swap_a, B * sizeof(T));
                head[d] += B;
                std::swap(swap_a, swap_b);
                d = e;
            }
        }
    }

    // 3. Cleanup, left to right: bucket b's full blocks are [align_up(sums[b]), head[b]);
    // what they leave of its range at either end is filled from what its last block wrote
    // past its end (into bucket b + 1's range, which is filled later) and from its buffer.
    // Bucket b - 1's spill into b's range was moved out before.
    for (std::size_t b = 0; b < k; ++b) {
        const std::size_t start = sums[b];
        const std::size_t end = sums[b + 1];
        const std::size_t area = detail::align_up_to_block(start);
        const std::size_t blocks_end = head[b];
        // Next spilled element to place, up to blocks_end (with no blocks, blocks_end is
        // the area's start, which may lie past the end of a short bucket).
        std::size_t spill = std::max(end, area);
        std::size_t buffered = 0;
        auto next = [&]() -> T {
            if (spill < blocks_end) return slots.at(spill++);
            // Counts that disagree with bucket_of would read past the buffer.
            if (buffered == fill[b]) [[unlikely]]
                panic(messages::kBlockDistributionBadCounts);
            return buffers[b * B + buffered++];
        };
        for (std::size_t i = start; i < std::min(area, end); ++i) v[i] = next();
        for (std::size_t i = std::max(blocks_end, area); i < end; ++i) v[i] = next();
        if (buffered != fill[b] || spill < blocks_end) [[unlikely]]
            panic(messages::kBlockDistributionBadCounts);
    }
}

}  // namespace detail

// Groups v[0, n) in place so that bucket b is v[sums[b], sums[b + 1]): sums[0, k] are the
// running totals of the counts of bucket_of over v (k <= kDistributionMaxBuckets buckets,
// sums[k] == n); bucket_of(x) < k for every element. Not stable.
template <class T, class BucketOf>
void block_distribute(T* v, std::size_t n, const u64* sums, std::size_t k, BucketOf bucket_of) {
    if (k > kDistributionMaxBuckets || sums[k] != n) [[unlikely]]
        panic(messages::kBlockDistributionBadCounts);
    // One bucket holding every element: nothing moves.
    for (std::size_t b = 0; b < k; ++b)
        if (sums[b + 1] - sums[b] == n) return;
    ScratchBuffer<T> scratch = detail::distribution_scratch<T>(k);
    std::uint32_t fill[kDistributionMaxBuckets] = {};
    const std::size_t written = detail::classify_into_blocks<false>(v, n, scratch.get(), fill, nullptr, bucket_of);
    detail::place_blocks(v, n, sums, k, bucket_of, scratch.get(), fill, written);
}

// block_distribute for a caller that has not counted the buckets: they are counted while
// the elements are classified, which saves the pass over v that counting first would take.
// Leaves counts[0, k) and their running totals sums[0, k] (sums[k] == n).
template <class T, class BucketOf>
void block_distribute_counting(T* v, std::size_t n, std::size_t k, BucketOf bucket_of, u64* counts, u64* sums) {
    if (k > kDistributionMaxBuckets) [[unlikely]]
        panic(messages::kBlockDistributionBadCounts);
    ScratchBuffer<T> scratch = detail::distribution_scratch<T>(k);
    std::uint32_t fill[kDistributionMaxBuckets] = {};
    std::fill(counts, counts + k, u64{0});
    const std::size_t written = detail::classify_into_blocks<true>(v, n, scratch.get(), fill, counts, bucket_of);
    prefix_sums_into(counts, k, sums);
    detail::place_blocks(v, n, sums, k, bucket_of, scratch.get(), fill, written);
}

}  // namespace tamarind
