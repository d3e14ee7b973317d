// When work leaves the calling thread for a pool, in one table. A hand-off pays only where
// the work it moves outweighs waking a worker, which then may have to wait for a processor:
// the scheduler takes tens of microseconds to run a woken thread on an idle processor, and
// beside a busy one it may take a whole time slice (milliseconds). So every rule below keeps
// work on the calling thread up to a length that one thread finishes in about that time.
//
// A hand-off from the calling thread (an outside thread) keeps the calling thread working:
// a join offers its second half to the global pool, runs the first half itself and takes
// the second back when no worker has started it (pool/join.hpp); waiting for the global pool, it runs
// the jobs the workers split off (Registry::help_until). Test builds count every job handed
// to a pool (pool::handed_off_jobs) so that each rule's bound is checked.
//
// A call builds the global pool (or raises that it cannot start it) where it first offers it
// a job, so these bounds also decide which calls need that pool (README, Errors): moving one
// moves them. The lengths at which the entries change algorithm, and the global pool's
// radix path for int64 (kMtI64GlobalRadixMin), are in entry_thresholds.hpp.
#pragma once

#include <cstddef>

namespace tamarind {

// The parallel quicksort (rayon_sort_*, sort_f64 below its radix path, sort_i64's stretches
// that its radix sort does not take): slices up to this long are sorted on the calling
// thread and never reach a pool. Its first partition, which no worker can share, is a tenth
// of the sort; the split of a slice this short saves about what waking a worker costs.
// Intel Xeon (family 6 model 207, AVX-512), 2 cores, uniform int64, quiet medians in ns per
// element, rayon_sort_i64 against sort_i64_st: 3.78 against 3.95 at 10^4 (here on the
// calling thread), 3.18 against 5.02 at 10^5 (on the pool).
inline constexpr std::size_t kCallingThreadMax = std::size_t{1} << 15;

// While the global pool's workers are late (pool/late_workers.hpp: a recent hand-off waited
// milliseconds for its worker to get a processor), the parallel quicksort and sort_i64's
// radix sort on the global pool keep slices up to this long on the calling thread, which
// sorts them in about the time one such wait costs. Intel Xeon (family 6 model 207), 2
// cores, one spinning neighbour, 300 calls on uniform data, 99th percentile over the quiet
// median, without this rule and with it: at 10^5, sort_f64 13.3 and 1.9, sort_i64 12.3 and
// 2.4, rayon_sort_i64 12.2 and 2.1; at 10^6, sort_i64 3.8 and 3.1, rayon_sort_f64 4.9 and 3.0.
inline constexpr std::size_t kLateCallingThreadMax = std::size_t{1} << 21;

// sort_i64's stretches of int64 keys in a narrow range (no more than 16 bits of spread),
// which its radix sort counts: stretches up to this long are counted on the calling thread.
// A count streams through memory, so a second thread gains little and waits for its worker:
// once workers have gone to sleep between calls, waking them costs more than the count.
// Intel Xeon (family 6 model 207), int64 in [0, 1000), medians of 300 calls 2 ms apart, ns
// per element, on the global pool against the calling thread: 3.56 against 1.96 at 10^5,
// 1.84 against 1.96 at 2 * 10^5, 2.10 against 2.00 at 5 * 10^5, 1.37 against 1.95 at 10^6
// (back to back, with workers still awake: 1.55 against 1.89 at 10^5).
inline constexpr std::size_t kCallingThreadCountMax = std::size_t{1} << 19;

// The NaN scan in front of the comparison paths of float64 (sort_f64 below its radix path,
// rayon_sort_f64, and sort_f64's stretches on its call's pool): slices up to this long are
// scanned on the calling thread, which scans them in less time than a worker takes to wake.
inline constexpr std::size_t kParallelScanMin = std::size_t{1} << 18;

// The conversions between floats and ordered integers on sort_f64's pool (its radix path):
// parts of this length are one task each, long enough that a part outweighs its task, short
// enough to spread over the threads; a slice of one part converts on the calling thread.
inline constexpr std::size_t kConversionPart = std::size_t{1} << 16;

}  // namespace tamarind
