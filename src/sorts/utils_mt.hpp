// The fallback that run detection hands every unsorted stretch to on the multi-threaded
// path (peeka_entry): a scan for the widest key (on the global pool, global_key_scan), then
// peeka_sort on the call's dedicated pool.
#pragma once

#include <algorithm>
#include <cstddef>
#include <thread>

#include "pool/join.hpp"
#include "pool/thread_pool.hpp"
#include "sorts/counting_sort.hpp"
#include "sorts/peeka_sort.hpp"
#include "sorts/utils.hpp"
#include "traits/traits.hpp"
#include "types/params.hpp"

namespace tamarind {

// Pieces shorter than this are never split by the key scan.
inline constexpr std::size_t kKeyScanSplitMin = 2;

// Key width of v[0, n), split in halves through pool::join while the budget allows. A
// piece on the thread that split it needs budget > 0 and halves it; a piece that moved to
// another thread (stolen, or injected from outside the pool) may always split and gets at
// least the pool's thread count again, so idle threads that steal keep finding work.
template <class Traits>
KeyScan parallel_key_scan(const typename Traits::value_type* v, std::size_t n, u64 first, std::size_t budget,
                          bool migrated) {
    bool split = false;
    if (n >= kKeyScanSplitMin) {
        if (migrated) {
            budget = std::max(budget / 2, pool::current_num_threads());
            split = true;
        } else if (budget > 0) {
            budget /= 2;
            split = true;
        }
    }
    if (!split) return key_bits_and_spread<Traits>(v, n, first);
    const std::size_t mid = n / 2;
    const std::thread::id owner = std::this_thread::get_id();
    auto [left, right] = pool::join(
        [&] { return parallel_key_scan<Traits>(v, mid, first, budget, std::this_thread::get_id() != owner); },
        [&] {
            return parallel_key_scan<Traits>(v + mid, n - mid, first, budget,
                                             std::this_thread::get_id() != owner);
        });
    return {std::max(left.bits, right.bits), left.nan || right.nan, left.spread | right.spread};
}

// Key width of v[0, n), scanned on the global pool: the multi-threaded sort calls from the
// interpreter's thread, outside every pool, so pool::join injects the halves there rather
// than into the call's dedicated pool (which is busy with nothing yet).
template <class Traits>
KeyScan global_key_scan(const typename Traits::value_type* v, std::size_t n) {
    const u64 first = n > 0 ? Traits::to_key(v[0]) : 0;
    return parallel_key_scan<Traits>(v, n, first, pool::current_num_threads(), false);
}

// counting_sort with both passes split over `pool`.
template <class Traits>
void counting_sort_on(typename Traits::value_type* v, std::size_t n, u64 first, u64 spread,
                      pool::ThreadPool& pool) {
    const std::size_t slots = std::size_t{1} << std::bit_width(spread);
    const u64 low = slots - 1;
    const std::size_t parts =
        std::clamp<std::size_t>(n / (slots * kCountingElementsPerSlot), 1, pool.current_num_threads());
    const std::size_t part_len = (n + parts - 1) / parts;
    // Runs `pass(lo, hi, t)` on every part at once.
    auto on_parts = [&](auto&& pass) {
        pool.scope([&](pool::Scope& scope) {
            for (std::size_t t = 0; t < parts; ++t) {
                scope.spawn([&, t] {
                    const std::size_t lo = std::min(n, t * part_len);
                    pass(lo, std::min(n, lo + part_len), t);
                });
            }
        });
    };
    std::vector<u64> counts(parts * slots, 0);
    on_parts([&](std::size_t lo, std::size_t hi, std::size_t t) {
        detail::count_low_keys<Traits>(v, lo, hi, low, counts.data() + t * slots);
    });
    const std::vector<u64> starts = detail::run_starts(counts, slots, parts);
    on_parts([&](std::size_t lo, std::size_t hi, std::size_t) {
        detail::write_runs<Traits>(v, lo, hi, starts, first & ~low);
    });
}

// Sorts the stretch v[0, n) (n > 0) with digits of `radix` bits on `pool`, after
// `key_scan(v, n)` found the widest key (global_key_scan from the multi-threaded sort).
// chunk_size and total_len pass through to peeka_sort. Sets *nan_free (when given) to
// whether no NaN was among the keys (see FallbackNanAudit).
template <class Traits, class KeyScanFn>
void peeka_entry(typename Traits::value_type* v, std::size_t n, u64 radix, KeyScanFn&& key_scan,
                 pool::ThreadPool& pool, std::size_t chunk_size, std::size_t total_len,
                 bool* nan_free = nullptr) {
    const KeyScan scan = key_scan(v, n);
    if (nan_free != nullptr) *nan_free = !scan.nan;
    const u64 bits = scan.bits;
    const u64 max_level = bits / radix + (bits % radix != 0 ? 1 : 0);
    // Every key is the same (0 included): the stretch is in order.
    if (max_level == 0 || scan.spread == 0) return;
    // Keys in a narrow range (small integers) are counted rather than partitioned.
    if (counting_sort_fits(n, scan.spread)) {
        counting_sort_on<Traits>(v, n, Traits::to_key(v[0]), scan.spread, pool);
        return;
    }
    // Levels whose digit every key shares would each count the whole stretch into one
    // bucket and move nothing: start at the first level in which keys differ.
    Params p{0, radix, 64 - bits, max_level, u64{1} << radix};
    p.level = first_differing_level(p, scan.spread);
    peeka_sort<Traits>(v, n, p, pool, chunk_size, total_len);
}

}  // namespace tamarind
