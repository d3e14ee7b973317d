#include "entries/mt_radix_sort.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "comparison/float_quicksort.hpp"
#include "comparison/parallel_quicksort.hpp"
#include "entries/handoff_rules.hpp"
#include "entries/radix_or_quicksort.hpp"
#include "entries/single_threaded_sort.hpp"
#include "pool/late_workers.hpp"
#include "pool/platform.hpp"
#include "pool/thread_pool.hpp"
#include "radix/few_keys_sort.hpp"
#include "radix/key_scan.hpp"
#include "radix/parallel_sampled_msd_sort.hpp"
#include "radix/peeka_entry.hpp"
#include "radix/peeka_sort.hpp"
#include "runs/k_way_merge.hpp"
#include "runs/lift_and_merge.hpp"
#include "runs/verge_sort_heuristic.hpp"
#include "traits/float_keys.hpp"

namespace tamarind {

namespace {

// Thread count when the platform cannot say how many processors there are.
constexpr std::size_t kUnknownThreadCount = 4;

// Chunk length of the parallel partitions for a slice of n 8-byte keys (int64, or float64 as
// ordered integers): 20 to 120 chunks from 10 000 000 to 60 000 000 elements and longer
// chunks above (measured on int64, not derived: more chunks spread the count-and-partition
// step better, but every chunk adds up to 256 misplaced runs to the regions graph). From
// 5 000 000 000 elements on, peeka_sort reads chunk_size as a chunk count for the whole array
// (kPeekaChunkCountMin).
constexpr std::size_t mt_chunk_size(std::size_t n) noexcept {
    if (n < 60'000'000) return 500'000;
    if (n < kPeekaChunkCountMin) return 700'000;
    return 5'000;
}

// A pool with one thread per processor, built for the call and dropped on return (also
// while a panic passes): its threads end on their own, unwaited.
pool::ThreadPool call_pool() {
    // Read only where a pool is built: the processor count costs a system call.
    return pool::ThreadPoolBuilder().num_threads(mt_thread_count()).build().unwrap();
}

// The call's pool, built on first use: data that run detection or a count settles (sorted,
// reversed, all equal, few distinct values) never starts a thread, whose start would cost it
// as much as the scan (sorted float64 at 8 * 10^5: 0.56 ms against 0.28 on the calling
// thread alone).
class PoolOfCall {
public:
    pool::ThreadPool& operator()() {
        if (!pool_) pool_.emplace(call_pool());
        return *pool_;
    }

private:
    std::optional<pool::ThreadPool> pool_;
};

// F64AsI64 with both conversions split over the pool. A part counts as converted once its
// task has finished it, so that an exception on the way (a task that could not be spawned)
// leaves the destructor exactly the parts to write back.
class F64AsI64On {
public:
    F64AsI64On(f64* v, std::size_t n, pool::ThreadPool& pool) : F64AsI64On(v, n, pool, nullptr) {}
    // Also sets `spread`, the bits in which the keys differ (see
    // flip_negative_magnitudes_and_spread), from the conversion itself.
    F64AsI64On(f64* v, std::size_t n, pool::ThreadPool& pool, u64& spread) : F64AsI64On(v, n, pool, &spread) {}
    F64AsI64On(const F64AsI64On&) = delete;
    F64AsI64On& operator=(const F64AsI64On&) = delete;
    ~F64AsI64On() { write_back(); }

    i64* ints() const noexcept { return reinterpret_cast<i64*>(v_); }
    void release(pool::ThreadPool& pool) {
        for_each_chunk(v_, n_, kConversionPart, pool, [&](std::size_t c, f64* part, std::size_t m) {
            flip_negative_magnitudes(part, m);
            converted_[c] = 0;
        });
    }

private:
    F64AsI64On(f64* v, std::size_t n, pool::ThreadPool& pool, u64* spread)
        : v_(v), n_(n), converted_(chunk_count(n, kConversionPart), 0) {
        // A destructor does not run for a constructor that throws: write back here what
        // the conversion got to.
        try {
            std::vector<u64> spreads(spread != nullptr ? converted_.size() : 0);
            const u64 first = n == 0 ? 0 : first_ordered_bits(v);
            for_each_chunk(v, n, kConversionPart, pool, [&](std::size_t c, f64* part, std::size_t m) {
                if (spread != nullptr)
                    spreads[c] = flip_negative_magnitudes_and_spread(part, m, first);
                else
                    flip_negative_magnitudes(part, m);
                converted_[c] = 1;
            });
            if (spread != nullptr) {
                *spread = 0;
                for (u64 s : spreads) *spread |= s;
            }
        } catch (...) {
            write_back();
            throw;
        }
    }

    void write_back() noexcept {
        for (std::size_t c = 0; c < converted_.size(); ++c)
            if (converted_[c] != 0)
                flip_negative_magnitudes(v_ + c * kConversionPart, std::min(kConversionPart, n_ - c * kConversionPart));
    }

    f64* v_;
    std::size_t n_;
    std::vector<char> converted_;  // char, not bool: tasks write neighbouring slots
};

// Sorts a stretch that run detection hands on, on `workers` (given by a call, which builds
// the pool on the first one that needs it): as mt_i64_stretch_sort gives it.
template <class Workers>
void sort_stretch(i64* v, std::size_t m, Workers&& pool_of_call, std::size_t chunk_size, std::size_t total_len) {
    const StretchSort sort = mt_i64_stretch_sort(v, m);
    if (sort == StretchSort::kCallingThreadRadix) {
        rollercoaster_sort<I64Traits>(v, m);
        return;
    }
    // A stretch the parallel quicksort would keep on the calling thread anyway sorts as
    // sort_i64_st's do, where the in-cache radix sort may beat the quicksort.
    if (sort == StretchSort::kQuicksort && m <= kCallingThreadMax) {
        single_threaded_stretch_sort(v, m);
        return;
    }
    pool::ThreadPool& workers = pool_of_call();
    if (sort == StretchSort::kRadix)
        peeka_entry<I64Traits>(v, m, workers, chunk_size, total_len);
    else if (workers.is_global() || m <= kCallingThreadMax)
        parallel_quicksort<I64Traits>(v, m);  // its joins reach the global pool from here
    else
        workers.install([&] { parallel_quicksort<I64Traits>(v, m); });
}

// The same for float64, in key order (totalOrder): the sampled MSD sort on ordered integers
// where mt_f64_stretch_sort gives it (its one step leaves 256 buckets that fit the in-cache
// sort, where the parallel quicksort needs 20 levels), else the parallel quicksort on the
// floats themselves where they hold no NaN (see float_quicksort.hpp), else on ordered
// integers.
void sort_stretch(f64* v, std::size_t m, pool::ThreadPool& workers) {
    if (mt_f64_stretch_sort(v, m) == StretchSort::kSampledRadix) {
        u64 spread;
        F64AsI64On ints(v, m, workers, spread);
        // One chunk per thread, at most mt_chunk_size: fewer chunks leave the regions graph
        // fewer runs to exchange.
        const std::size_t threads = workers.current_num_threads();
        parallel_sampled_msd_sort<I64Traits>(ints.ints(), m, workers, std::min((m + threads - 1) / threads, mt_chunk_size(m)),
                                             spread);
        ints.release(workers);
        return;
    }
    if (workers.install([&] { return has_nan_on_pool<F64Traits>(v, m); })) {
        F64AsI64On ints(v, m, workers);
        workers.install([&] { parallel_quicksort<I64Traits>(ints.ints(), m); });
        ints.release(workers);
        return;
    }
    workers.install([&] { parallel_quicksort_nan_free<F64Traits>(v, m); });
    order_signed_zeros(v, m);
}

// Run detection, sort_stretch on every other stretch (or a count, where few keys repeat), the
// merge. `workers()` gives the pool, on the first stretch that needs one.
template <class Workers>
void mt_sort_on(i64* v, std::size_t n, Workers&& workers) {
    auto fallback = few_keys_first<I64Traits>(lift_first<I64Traits>([&, chunk_size = mt_chunk_size(n)](i64* stretch, std::size_t m) {
        sort_stretch(stretch, m, workers, chunk_size, n);
    }));
    std::vector<u64> boundaries = runs_or_whole_slice<I64Traits>(v, n, fallback);
    k_way_merge<I64Traits>(v, n, boundaries);
}

}  // namespace

std::size_t mt_thread_count() noexcept {
    const std::size_t processors = pool::platform::processor_count();
    return processors == 0 ? kUnknownThreadCount : processors;
}

void mt_radix_sort(f64* v, std::size_t n) {
    if (n == 0) return;
    PoolOfCall workers;
    // Runs in key order, stretches sorted in it, the merge on ordered integers (see
    // single_threaded_sort).
    auto fallback = few_keys_first<F64KeyOrderTraits>(lift_first<F64KeyOrderTraits>([&](f64* stretch, std::size_t m) {
        sort_stretch(stretch, m, workers());
    }));
    std::vector<u64> boundaries = runs_or_whole_slice<F64KeyOrderTraits>(v, n, fallback);
    if (boundaries.size() >= 3) {
        F64AsI64On ints(v, n, workers());
        k_way_merge<I64Traits>(ints.ints(), n, boundaries);
        ints.release(workers());
    }
}

void mt_radix_sort(i64* v, std::size_t n) {
    if (n == 0) return;
    PoolOfCall workers;
    mt_sort_on(v, n, workers);
}

void radix_sort_on_global_pool(i64* v, std::size_t n) {
    // While the workers wait for processors, the calling thread sorts it as sort_i64_st
    // does, with the same result.
    if (n <= kLateCallingThreadMax && pool::workers_late()) {
        single_threaded_sort(v, n);
        return;
    }
    // Presorted input needs no pool: the global one is not even built for it.
    std::optional<pool::ThreadPool> global;
    mt_sort_on(v, n, [&]() -> pool::ThreadPool& {
        if (!global) global.emplace(pool::ThreadPool::global());
        return *global;
    });
}

}  // namespace tamarind
