// Small helpers shared by the radix sorts: the key-width scan and the order check that
// guards NaN results (and, through comparative_sort.hpp, comparison_sort for short slices).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>

#include "sorts/comparative_sort.hpp"
#include "traits/traits.hpp"
#include "types/panic.hpp"
#include "types/params.hpp"

namespace tamarind {

// The radix sorts' entries (dlsd, msd, voracious, rollercoaster) sort slices up to this
// long by comparison: below it a histogram pass costs more than it saves.
inline constexpr std::size_t kRadixComparisonMax = 128;

struct KeyScan {
    u64 bits;    // significant bits of the largest key
    bool nan;    // an f64 NaN was among the keys
    u64 spread;  // OR of every key XOR `first`: with the first key, the bits in which keys differ
};

// Number of significant bits of the largest key of v[0, n) and, in the same sweep, the
// spread of its keys around `first`. The OR of all keys has the same highest bit as their
// maximum and needs no compare per element. For f64 it also notes whether a NaN went by,
// so that callers can check the final order only when one did.
template <class Traits>
KeyScan key_bits_and_spread(const typename Traits::value_type* v, std::size_t n, u64 first) {
    // Plain loops of integer operations, which the compiler vectorizes.
    u64 acc = 0;
    u64 spread = 0;
    u64 nan_bits = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const u64 key = Traits::to_key(v[i]);
        acc |= key;
        spread |= key ^ first;
        if constexpr (Traits::kMayBeUnordered) nan_bits |= Traits::unordered_bits(v[i]);
    }
    return {significant_bits(acc), (nan_bits & kSignBit) != 0, spread};
}

// key_bits_and_spread without the spread (around 0 it is the OR of the keys, which the
// compiler sees); *nan_seen (when given) is set when a NaN went by.
template <class Traits>
u64 key_bits(const typename Traits::value_type* v, std::size_t n, bool* nan_seen = nullptr) {
    const KeyScan scan = key_bits_and_spread<Traits>(v, n, 0);
    if (nan_seen && scan.nan) *nan_seen = true;
    return scan.bits;
}

// The first top-aligned level of p (p.level or later) whose digit not every key shares,
// given their spread (non-zero) as key_bits_and_spread finds it.
inline u64 first_differing_level(const Params& p, u64 spread) noexcept {
    const u64 shared = static_cast<u64>(std::countl_zero(spread));
    return std::max(p.level, (shared - p.offset) / p.radix);
}

// key_bits_and_spread around v[0] (n >= 1) and, in the same sweep, counts[d] = number of
// keys whose top byte is d (256 counters): the histogram of the first MSD step whenever the
// keys use all 64 bits, which saves that step a pass over the data.
template <class Traits>
KeyScan key_bits_and_top_counts(const typename Traits::value_type* v, std::size_t n, u64* counts) {
    u64 c[4][kByteRadixRange] = {};
    u64 acc = 0;
    u64 nan_bits = 0;
    const u64 first = Traits::to_key(v[0]);
    u64 spread = 0;
    auto visit = [&](std::size_t i, u64* sub) {
        const u64 key = Traits::to_key(v[i]);
        acc |= key;
        spread |= key ^ first;
        if constexpr (Traits::kMayBeUnordered) nan_bits |= Traits::unordered_bits(v[i]);
        ++sub[key >> (64 - kByteRadix)];
    };
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        visit(i, c[0]);
        visit(i + 1, c[1]);
        visit(i + 2, c[2]);
        visit(i + 3, c[3]);
    }
    for (; i < n; ++i) visit(i, c[0]);
    for (std::size_t d = 0; d < kByteRadixRange; ++d) counts[d] = c[0][d] + c[1][d] + c[2][d] + c[3][d];
    return {significant_bits(acc), (nan_bits & kSignBit) != 0, spread};
}

// Ends the call with the comparator's NaN panic unless v[0, n) is ascending by element
// key with -0.0 and +0.0 taken as equal. Run detection and the merge compare with IEEE
// operators, which cannot place a NaN, so their result is verified unless every fallback
// call vouched that its stretch held none (FallbackNanAudit). Accepted runs need no such
// word: each has at least two elements, and every element of it was in an IEEE comparison
// that held, which no NaN passes.
template <class Traits>
void panic_unless_key_ordered(const typename Traits::value_type* v, std::size_t n) {
    using T = typename Traits::value_type;
    auto key = [](T x) { return x == T(0) ? Traits::to_key(T(0)) : Traits::to_key(x); };
    for (std::size_t i = 1; i < n; ++i) {
        if (key(v[i - 1]) > key(v[i])) [[unlikely]]
            panic(kNoneUnwrap);
    }
}

// Wraps a float fallback sort, fallback(chunk, m, radix, &nan_free), for run detection. A
// stretch counts as NaN-free only when its sort set nan_free after looking at every
// element (a key scan, or comparisons); one that reports nothing counts as unverified, so
// a path that forgets to report costs one order check at the end, never a wrong result.
template <class Traits, class Fallback>
struct FallbackNanAudit {
    Fallback sort;
    bool unverified = false;

    void operator()(typename Traits::value_type* chunk, std::size_t m, u64 radix) {
        bool nan_free = false;
        sort(chunk, m, radix, &nan_free);
        unverified |= !nan_free;
    }
    // The final check, skipped when every stretch was vouched for.
    void verify(const typename Traits::value_type* v, std::size_t n) const {
        if (unverified) [[unlikely]]
            panic_unless_key_ordered<Traits>(v, n);
    }
};

}  // namespace tamarind
