#include "sorts/mt_radix_sort.hpp"

#include <vector>

#include "algo/k_way_merge.hpp"
#include "algo/verge_sort_heuristic.hpp"
#include "pool/platform.hpp"
#include "pool/thread_pool.hpp"
#include "sorts/few_keys_sort.hpp"
#include "sorts/peeka_sort.hpp"
#include "sorts/utils.hpp"
#include "sorts/utils_mt.hpp"

namespace tamarind {

namespace {

// Thread count when the platform cannot say how many processors there are.
constexpr std::size_t kUnknownThreadCount = 4;

// Chunk length of peeka_sort's parallel partition for an f64 slice of n elements. The rows
// are measured, not derived; what they balance: more chunks give the count-and-partition
// step more tasks to spread over the threads, but every chunk adds up to 256 misplaced runs
// to the regions graph, whose exchanges one thread performs per bucket while settling, and
// a chunk should stay large enough that its partition, not the task overhead, dominates.
// So the chunk count grows far slower than n: under 10 below 1 000 000 elements, under 25
// below 5 000 000, under 40 below 20 000 000, a few hundred up to 500 000 000 (400 000
// there, a little less than the row before, measured as slightly faster). From
// 5 000 000 000 elements on, peeka_sort reads chunk_size as a chunk count for the whole
// array (kPeekaChunkCountMin), hence the small last row.
constexpr std::size_t mt_f64_chunk_size(std::size_t n) noexcept {
    if (n < 1'000'000) return 100'000;
    if (n < 5'000'000) return 200'000;
    if (n < 20'000'000) return 500'000;
    if (n < 500'000'000) return 400'000;
    if (n < kPeekaChunkCountMin) return 500'000;
    return 5'000;
}

// The same for i64, whose radix path starts at kMtI64ComparisonBelow: from 10 000 000
// elements, 20 to 120 chunks below 60 000 000 and longer chunks above.
constexpr std::size_t mt_i64_chunk_size(std::size_t n) noexcept {
    if (n < 60'000'000) return 500'000;
    if (n < kPeekaChunkCountMin) return 700'000;
    return 5'000;
}

template <class Traits>
void mt_sort(typename Traits::value_type* v, std::size_t n, std::size_t chunk_size) {
    if (n == 0) return;
    // Read only where a pool is built: the processor count costs a system call.
    const std::size_t thread_count = mt_thread_count();
    // Dropped on return (also while a panic passes): its threads end on their own, unwaited.
    pool::ThreadPool workers = pool::ThreadPoolBuilder().num_threads(thread_count).build().unwrap();
    auto peeka = [&](typename Traits::value_type* chunk, std::size_t m, u64 radix, bool* nan_free) {
        peeka_entry<Traits>(chunk, m, radix, workers, chunk_size, n, nan_free);
    };
    FallbackNanAudit<Traits, FewKeysFirst<Traits, decltype(peeka)>> fallback{{peeka}};
    std::vector<u64> boundaries = verge_sort_heuristic<Traits>(v, n, fallback);
    k_way_merge<Traits>(v, n, boundaries);
    if constexpr (Traits::kMayBeUnordered) fallback.verify(v, n);
}

}  // namespace

std::size_t mt_thread_count() noexcept {
    const std::size_t processors = pool::platform::processor_count();
    return processors == 0 ? kUnknownThreadCount : processors;
}

void mt_radix_sort(f64* v, std::size_t n) {
    mt_sort<F64Traits>(v, n, mt_f64_chunk_size(n));
}

void mt_radix_sort(i64* v, std::size_t n) {
    mt_sort<I64Traits>(v, n, mt_i64_chunk_size(n));
}

}  // namespace tamarind
