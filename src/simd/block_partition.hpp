// The scalar partitions, written over any comparator: the scalar kernels' partitions
// (kernels_scalar.cpp, with the element type's own order), and the partitions of the
// comparison sorts run with a caller's comparator. Neither holds an element aside while it
// compares, so a comparator that fails leaves a permutation of the slice.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace tamarind::simd {

// Elements per block of the block partition.
inline constexpr std::size_t kPartitionBlock = 128;
static_assert(kPartitionBlock <= 256, "block offsets are stored in bytes");

// Moves the elements of w[0, n) that are less than pivot to the front and returns how many
// there are. Blocks of up to kPartitionBlock elements from each end are scanned branch-free
// into byte offsets of misplaced elements; the misplaced pairs are then exchanged by one
// cyclic permutation, which writes each element once instead of twice as pairwise swaps
// would.
template <class T, class Less>
std::size_t partition_in_blocks(T* w, std::size_t n, T pivot, const Less& is_less) {
    constexpr std::size_t kBlock = kPartitionBlock;
    T* l = w;
    T* r = w + n;
    std::size_t block_l = kBlock;
    std::size_t block_r = kBlock;
    std::uint8_t offsets_l[kBlock];
    std::uint8_t offsets_r[kBlock];
    std::uint8_t* start_l = offsets_l;
    std::uint8_t* end_l = offsets_l;
    std::uint8_t* start_r = offsets_r;
    std::uint8_t* end_r = offsets_r;

    for (;;) {
        // The last pass shares what lies between the cursors out between the two blocks, so
        // that the blocks meet exactly.
        const bool is_done = static_cast<std::size_t>(r - l) <= 2 * kBlock;
        if (is_done) {
            std::size_t rem = static_cast<std::size_t>(r - l);
            // A list still holding offsets belongs to a full block that is still in place.
            if (start_l < end_l || start_r < end_r) rem -= kBlock;
            if (start_l < end_l) {
                block_r = rem;
            } else if (start_r < end_r) {
                block_l = rem;
            } else {
                block_l = rem / 2;
                block_r = rem - block_l;
            }
        }

        // The offset is stored every time and the list end advances by the comparison's
        // result: no branch depends on the data.
        if (start_l == end_l) {
            start_l = offsets_l;
            end_l = offsets_l;
            const T* elem = l;
            for (std::size_t i = 0; i < block_l; ++i) {
                *end_l = static_cast<std::uint8_t>(i);
                end_l += !is_less(elem[i], pivot);
            }
        }
        if (start_r == end_r) {
            start_r = offsets_r;
            end_r = offsets_r;
            const T* elem = r - 1;
            for (std::size_t i = 0; i < block_r; ++i) {
                *end_r = static_cast<std::uint8_t>(i);
                end_r += is_less(*(elem - i), pivot);
            }
        }

        const std::size_t count =
            std::min(static_cast<std::size_t>(end_l - start_l), static_cast<std::size_t>(end_r - start_r));
        if (count > 0) {
            // No comparison happens here, so the element held aside cannot be lost to a panic.
            auto left = [&]() -> T& { return l[*start_l]; };
            auto right = [&]() -> T& { return *(r - 1 - *start_r); };
            const T held = left();
            left() = right();
            for (std::size_t k = 1; k < count; ++k) {
                ++start_l;
                right() = left();
                ++start_r;
                left() = right();
            }
            right() = held;
            ++start_l;
            ++start_r;
        }

        if (start_l == end_l) l += block_l;
        if (start_r == end_r) r -= block_r;
        if (is_done) break;
    }

    // At most one list still holds offsets; move its elements to the border, last listed
    // first, so that each exchange touches a position not yet settled.
    if (start_l < end_l) {
        while (start_l < end_l) {
            --end_l;
            --r;
            std::swap(l[*end_l], *r);
        }
        return static_cast<std::size_t>(r - w);
    }
    if (start_r < end_r) {
        while (start_r < end_r) {
            --end_r;
            std::swap(*l, *(r - 1 - *end_r));
            ++l;
        }
    }
    return static_cast<std::size_t>(l - w);
}

// Moves the elements of v[0, n) that are not greater than pivot to the front and returns
// how many there are: two cursors from the ends, swapping the pairs they stop at.
template <class T, class Less>
std::size_t swap_partition_not_greater(T* v, std::size_t n, T pivot, const Less& is_less) {
    std::size_t l = 0;
    std::size_t r = n;
    for (;;) {
        while (l < r && !is_less(pivot, v[l])) ++l;
        while (l < r && is_less(pivot, v[r - 1])) --r;
        if (l >= r) break;
        --r;
        std::swap(v[l], v[r]);
        ++l;
    }
    return l;
}

}  // namespace tamarind::simd
