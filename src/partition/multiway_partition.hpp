// Multi-way partition of an unsorted slice at sorted splitters, into places of its own: the
// distribution step of a sample sort whose buckets are sorted elsewhere (tamarind_dask cuts
// each chunk with it, sends the buckets to their output partitions and sorts each partition
// once). One pass classifies every element and counts the buckets, a second copies each
// element to its bucket's next place, so the buckets keep the elements' input order: NaNs,
// which the order cannot tell apart, stay in the order they came in. Up to
// simd::kClassifyMax splitters a vector kernel classifies, where the processor has one;
// the splitter table below classifies otherwise, and places elements equal to a splitter.
//
// The order is NumPy's: for f64 -0.0 equals +0.0 and every NaN is equal to every other NaN
// and above all numbers; i64 is signed. Elements equal to a splitter are split by position,
// so that a value that fills many buckets' worth still spreads evenly over them: element i
// (its index in the input) equal to splitter j lies above it when i >= ties[j], below it
// otherwise. A caller that orders elements by (value, chunk, index) puts ties[j] at 0 in
// chunks after splitter j's chunk, at the slice's length in chunks before it, and at the
// splitter's own index in its chunk.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "simd/kernels.hpp"
#include "traits/float_keys.hpp"
#include "types/element.hpp"
#include "types/scratch.hpp"

namespace tamarind {

// NumPy's order as unsigned keys. Unlike the radix keys (key_maps.hpp), both zeros share a
// key and so do all NaNs, which take the largest.
inline u64 numpy_order_key(f64 x) noexcept {
    // Adding +0.0 turns -0.0 into +0.0 and leaves every other number as it is.
    const u64 key = ordered_bits(std::bit_cast<u64>(x + 0.0)) ^ kSignBit;
    return x != x ? std::numeric_limits<u64>::max() : key;
}
inline u64 numpy_order_key(i64 x) noexcept { return static_cast<u64>(x) ^ kSignBit; }

enum class SplitterCheck {
    kOk,
    kUnsorted,      // a splitter's key is below the one before it
    kTiesDecrease,  // among equal splitters, a tie position below the one before it
};

// Splitters must ascend, and equal splitters must have ascending tie positions: splitter j
// before j + 1 in the order the caller sorts by. On a fault, `at` is the first splitter out
// of order.
inline SplitterCheck check_splitters(const u64* keys, const i64* ties, std::size_t k, std::size_t& at) noexcept {
    for (at = 1; at < k; ++at) {
        if (keys[at] < keys[at - 1]) return SplitterCheck::kUnsorted;
        if (keys[at] == keys[at - 1] && ties[at] < ties[at - 1]) return SplitterCheck::kTiesDecrease;
    }
    return SplitterCheck::kOk;
}

namespace detail {

// The bucket of each key. The key range from the first splitter to the last is cut into
// slots of equal width (keys below and above it take two more), and a table holds for each
// slot the number of splitters below its first key: a key in a slot that holds no splitter
// has that bucket, in one load. A key in a slot that holds some searches just those, and
// one equal to a splitter searches their tie positions. The slots are 64 per splitter
// (1024 at least, 65 536 at most), so that about one key in 64 searches and the table of a
// few splitters stays in the first-level cache while the chunk streams past (uniform
// float64 at 119 splitters, Zen 5: 4.2 ns per element with 65 536 slots, 3.3 with 8192).
class SplitterTable {
public:
    // keys: k >= 1 ascending splitter keys; ties: their tie positions (check_splitters holds).
    SplitterTable(const u64* keys, const i64* ties, std::size_t k)
        : keys_(keys, keys + k), ties_(ties, ties + k), low_(keys[0]), high_(keys[k - 1]),
          slots_(std::clamp<std::size_t>(std::bit_ceil(k) * kSlotsPerSplitter, kMinSlots, kMaxSlots)) {
        keys_.push_back(keys[k - 1]);
        while (((high_ - low_) >> shift_) >= slots_) ++shift_;
        // below_[s] for slot s, then one more entry, so that slot s holds the splitters
        // [below_[s], below_[s + 1]).
        below_.resize(slots_ + 3, static_cast<std::uint32_t>(k));
        below_[0] = below_[1] = 0;
        std::size_t below = 0;
        for (std::size_t s = 0; s < slots_; ++s) {
            const u64 offset = static_cast<u64>(s) << shift_;
            if (offset > high_ - low_) break;  // no key reaches this slot or any after it
            while (below < k && keys_[below] < low_ + offset) ++below;
            below_[s + 1] = static_cast<std::uint32_t>(below);
        }
    }

    std::size_t buckets() const noexcept { return ties_.size() + 1; }

    // The bucket of the element at `position` whose key is `key`.
    std::size_t bucket(u64 key, std::size_t position) const noexcept {
        // Keys below the first splitter take slot 0 (by a mask, not a branch: they may come
        // in any mix with the others), keys beyond the slots the last slot. A key above the
        // last splitter but within its slot searches that slot's splitters and finds none
        // above it.
        std::size_t slot = static_cast<std::size_t>(std::min<u64>((key - low_) >> shift_, slots_)) + 1;
        slot &= -static_cast<std::size_t>(key >= low_);
        std::size_t b = below_[slot];
        // Lower bound among the slot's splitters, most often none: halving steps whose
        // number depends on the slot only.
        std::size_t n = below_[slot + 1] - b;
        for (; n > 1; n -= n / 2) b = keys_[b + n / 2 - 1] < key ? b + n / 2 : b;
        b += n == 1 && keys_[b] < key;
        // No bounds test, which keys above the last splitter would take at random: keys_[k]
        // repeats the last splitter, which such a key exceeds. (Uniform float64 at 11
        // splitters, one key in six above the last: 8.5 ns per element with the test, 3.1
        // without; a 64 MiB chunk's cut 72 ms against 39.)
        if (keys_[b] == key) [[unlikely]]
            b = above_ties(key, position, b);
        return b;
    }

private:
    static constexpr std::size_t kSlotsPerSplitter = 64;
    static constexpr std::size_t kMinSlots = 1024;
    static constexpr std::size_t kMaxSlots = std::size_t{1} << 16;  // a table of 256 KiB

    // Splitters from `first` on equal `key`: the element lies above those whose tie position
    // it reaches, a prefix of them since the positions ascend. Returns its bucket.
    std::size_t above_ties(u64 key, std::size_t position, std::size_t first) const noexcept {
        const u64* upper = std::upper_bound(keys_.data() + first, keys_.data() + ties_.size(), key);
        const i64* t = ties_.data();
        const i64* past = std::upper_bound(t + first, t + (upper - keys_.data()), static_cast<i64>(position));
        return static_cast<std::size_t>(past - t);
    }

    std::vector<u64> keys_;  // the k splitter keys, then the last again
    std::vector<i64> ties_;
    u64 low_, high_;
    std::size_t slots_;
    unsigned shift_ = 0;
    std::vector<std::uint32_t> below_;
};

}  // namespace detail

// The multi-way partition of in[0, n) at k splitters, in two steps: the constructor
// classifies every element and counts the buckets (the slice must stay as it is until
// scatter), scatter then copies each bucket, in input order, to a place of its own. Bucket
// b holds the elements above splitters 0 .. b - 1 and not above splitter b. keys are the
// splitters' numpy_order_key, ties their tie positions; check_splitters must hold, and k
// must be below 2^32. Takes one to four bytes per element (more buckets, wider bucket
// numbers) and the splitter table's 256 KiB until it goes: bad_alloc leaves the slice as it
// was and no bucket written.
template <class T>
class MultiwayPartition {
public:
    MultiwayPartition(const T* in, std::size_t n, const u64* keys, const i64* ties, std::size_t k)
        : in_(in), n_(n), counts_(k + 1, 0) {
        if (k == 0) {
            counts_[0] = n;
            return;
        }
        const detail::SplitterTable table(keys, ties, k);
        id_bytes_ = k + 1 <= 256 ? 1 : k + 1 <= 65536 ? 2 : 4;
        ids_ = ScratchBuffer<std::uint8_t>(n * id_bytes_);
        const simd::ClassifyKernel<T> kernel = simd::best_kernels()->classify<T>();
        if (kernel != nullptr && k <= simd::kClassifyMax) classify_by_kernel(kernel, table, keys, k);
        else if (id_bytes_ == 1) classify<std::uint8_t>(table);
        else if (id_bytes_ == 2) classify<std::uint16_t>(table);
        else classify<std::uint32_t>(table);
    }

    std::size_t buckets() const noexcept { return counts_.size(); }
    std::size_t count(std::size_t b) const noexcept { return counts_[b]; }

    // Copies bucket b to buckets[b][0, count(b)), for every b; the places must not overlap
    // the slice or one another.
    void scatter(T* const* buckets) const {
        if (counts_.size() == 1) {
            if (n_ > 0) std::memcpy(buckets[0], in_, n_ * sizeof(T));
            return;
        }
        if (id_bytes_ == 1) scatter_by<std::uint8_t>(buckets);
        else if (id_bytes_ == 2) scatter_by<std::uint16_t>(buckets);
        else scatter_by<std::uint32_t>(buckets);
    }

private:
    template <class Id>
    void classify(const detail::SplitterTable& table) {
        const std::size_t buckets = counts_.size();
        // Four sets of counts by turns, so that a run of one bucket does not wait on each
        // increment's store before the next.
        std::vector<std::size_t> counts(4 * buckets, 0);
        Id* id = reinterpret_cast<Id*>(ids_.get());
        for (std::size_t i = 0; i < n_; ++i) {
            const std::size_t b = table.bucket(numpy_order_key(in_[i]), i);
            id[i] = static_cast<Id>(b);
            ++counts[(i & 3) * buckets + b];
        }
        for (std::size_t b = 0; b < buckets; ++b)
            counts_[b] = counts[b] + counts[buckets + b] + counts[2 * buckets + b] + counts[3 * buckets + b];
    }

    // The vector kernel's ids, block by block while they are in the cache: counted, and
    // the rare element equal to a splitter placed by the table's tie search.
    void classify_by_kernel(simd::ClassifyKernel<T> kernel, const detail::SplitterTable& table, const u64* keys,
                            std::size_t k) {
        i64 splitters[simd::kClassifyMax + 1];
        std::fill(std::begin(splitters), std::end(splitters), std::numeric_limits<i64>::max());
        for (std::size_t j = 0; j < k; ++j) splitters[j] = static_cast<i64>(keys[j] ^ kSignBit);
        const std::size_t buckets = counts_.size();
        std::size_t counts[4][simd::kClassifyMax + 1] = {};
        std::uint8_t* id = ids_.get();
        constexpr std::size_t kBlock = 4096;
        for (std::size_t start = 0; start < n_; start += kBlock) {
            const std::size_t end = std::min(n_, start + kBlock);
            kernel(in_ + start, end - start, splitters, k, id + start);
            for (std::size_t i = start; i < end; ++i) {
                if (id[i] == simd::kClassifyTie) [[unlikely]]
                    id[i] = static_cast<std::uint8_t>(table.bucket(numpy_order_key(in_[i]), i));
                ++counts[i & 3][id[i]];
            }
        }
        for (std::size_t b = 0; b < buckets; ++b) counts_[b] = counts[0][b] + counts[1][b] + counts[2][b] + counts[3][b];
    }

    template <class Id>
    void scatter_by(T* const* buckets) const {
        std::vector<T*> next(buckets, buckets + counts_.size());
        const Id* id = reinterpret_cast<const Id*>(ids_.get());
        for (std::size_t i = 0; i < n_; ++i) *next[id[i]]++ = in_[i];
    }

    const T* in_;
    std::size_t n_;
    std::vector<std::size_t> counts_;
    unsigned id_bytes_ = 0;
    ScratchBuffer<std::uint8_t> ids_{0};  // each element's bucket, id_bytes_ wide
};

}  // namespace tamarind
