// Presorted-run detection before any radix work: probe the slice at a stride, grow each
// probe into the longest ascending or descending run around it, accept runs of at least
// min_run elements (reversing descending ones) and hand every stretch between accepted
// runs to a fallback sort. Comparisons are the traits' plain ones; the radix paths pass a
// total order (key order for f64), under which a pair of unequal elements is always either
// ascending or descending.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <limits>
#include <type_traits>
#include <vector>

#include "simd/kernels.hpp"
#include "simd/run_scans_scalar.hpp"
#include "types/element.hpp"
#include "types/panic.hpp"
#include "types/params.hpp"

namespace tamarind {

using messages::kVergeBadImplementation;
// Run scans over at least this many elements go to the run scan kernels (in blocks); shorter
// ones compare pair by pair here.
inline constexpr std::size_t kBlockScanMin = 44;

enum class RunDirection { Ascending, Descending, PlateauThenAscending, PlateauThenDescending, Plateau, Edge };

enum class Order { Ascending, Descending, Neither };

// Shortest run the pre-pass accepts: n / log2(n), truncated and saturated.
inline u64 min_run(std::size_t n) noexcept {
    const double size = static_cast<double>(n);
    const double q = size / std::log2(size);
    if (!(q >= 0.0)) return 0;
    if (q >= 18446744073709551616.0) return std::numeric_limits<u64>::max();
    return static_cast<u64>(q);
}

namespace detail {

template <class Traits>
using RunScansOf = simd::RunScans<typename Traits::value_type>;

// The run scans of Traits' order, looked up once per call: the kernel table's for the run
// order of each element type; any other order (IEEE f64, which only the radix sorts' tests
// hand to check_order) gets the scalar scans.
template <class Traits>
const RunScansOf<Traits>& run_scans() noexcept {
    using T = typename Traits::value_type;
    if constexpr (std::is_same_v<Traits, simd::run_order_of<T>>)
        return simd::best_kernels()->of<T>().run_scans;
    else
        return simd::kScalarRunScans<Traits>;
}

template <class Traits, simd::PairTest test>
inline std::size_t scan_forward(const RunScansOf<Traits>& scans, const typename Traits::value_type* x,
                                std::size_t k, std::size_t n) noexcept {
    return scans.forward[static_cast<std::size_t>(test)](x, k, n);
}
template <class Traits, simd::PairTest test>
inline std::size_t scan_backward(const RunScansOf<Traits>& scans, const typename Traits::value_type* x,
                                 std::size_t s, std::size_t k) noexcept {
    return scans.backward[static_cast<std::size_t>(test)](x, s, k);
}

// First index f > from with x[f - 1] != x[f], or n (from < n).
template <class Traits>
std::size_t plateau_end(const RunScansOf<Traits>& scans, const typename Traits::value_type* x, std::size_t from,
                        std::size_t n) noexcept {
    if (n - from >= kBlockScanMin) return scan_forward<Traits, simd::PairTest::kEqual>(scans, x, from, n) + 1;
    std::size_t f = from + 1;
    while (f < n && Traits::equal(x[f - 1], x[f])) ++f;
    return f;
}

// Smallest e >= s with x[e..p] all equal.
template <class Traits>
std::size_t plateau_start(const RunScansOf<Traits>& scans, const typename Traits::value_type* x, std::size_t s,
                          std::size_t p) noexcept {
    if (p - s >= kBlockScanMin) return scan_backward<Traits, simd::PairTest::kEqual>(scans, x, s, p);
    std::size_t e = p;
    while (e > s && Traits::equal(x[e - 1], x[e])) --e;
    return e;
}

// One past the end of the non-decreasing run that starts at `from` (from < n).
template <class Traits>
std::size_t ascending_end(const RunScansOf<Traits>& scans, const typename Traits::value_type* x, std::size_t from,
                          std::size_t n) noexcept {
    if (n - from >= kBlockScanMin) return scan_forward<Traits, simd::PairTest::kAscending>(scans, x, from, n) + 1;
    std::size_t k = from;
    while (k + 1 < n && Traits::less_equal(x[k], x[k + 1])) ++k;
    return k + 1;
}
template <class Traits>
std::size_t descending_end(const RunScansOf<Traits>& scans, const typename Traits::value_type* x, std::size_t from,
                           std::size_t n) noexcept {
    if (n - from >= kBlockScanMin) return scan_forward<Traits, simd::PairTest::kDescending>(scans, x, from, n) + 1;
    std::size_t k = from;
    while (k + 1 < n && Traits::less_equal(x[k + 1], x[k])) ++k;
    return k + 1;
}

// Smallest r >= s with x[r..p] non-decreasing (non-increasing for descending_start).
template <class Traits>
std::size_t ascending_start(const RunScansOf<Traits>& scans, const typename Traits::value_type* x, std::size_t s,
                            std::size_t p) noexcept {
    if (p - s >= kBlockScanMin) return scan_backward<Traits, simd::PairTest::kAscending>(scans, x, s, p);
    std::size_t k = p;
    while (k > s && Traits::less_equal(x[k - 1], x[k])) --k;
    return k;
}
template <class Traits>
std::size_t descending_start(const RunScansOf<Traits>& scans, const typename Traits::value_type* x, std::size_t s,
                             std::size_t p) noexcept {
    if (p - s >= kBlockScanMin) return scan_backward<Traits, simd::PairTest::kDescending>(scans, x, s, p);
    std::size_t k = p;
    while (k > s && Traits::less_equal(x[k], x[k - 1])) --k;
    return k;
}

// The run that starts at p (p < n): its direction, one past its end, and where a leading
// plateau gives way to it (p itself without one). Edge when p is the last element.
struct ForwardRun {
    RunDirection direction;
    std::size_t end;
    std::size_t plateau_end;
};

template <class Traits>
ForwardRun forward_run(const RunScansOf<Traits>& scans, const typename Traits::value_type* x, std::size_t p,
                       std::size_t n) {
    using D = RunDirection;
    if (p >= n - 1) return {D::Edge, n, p};
    if (Traits::less(x[p], x[p + 1])) return {D::Ascending, ascending_end<Traits>(scans, x, p, n), p};
    if (Traits::greater(x[p], x[p + 1])) return {D::Descending, descending_end<Traits>(scans, x, p, n), p};
    const std::size_t f = plateau_end<Traits>(scans, x, p, n);
    if (f == n) return {D::Plateau, n, f};
    if (Traits::less(x[f - 1], x[f])) return {D::PlateauThenAscending, ascending_end<Traits>(scans, x, f, n), f};
    if (Traits::greater(x[f - 1], x[f])) return {D::PlateauThenDescending, descending_end<Traits>(scans, x, f, n), f};
    panic(kVergeBadImplementation);
}

struct Candidate {
    std::size_t start, end;
    bool descending;
};

}  // namespace detail

// Leaves v[0, n) as ascending stretches and returns their boundaries ([0, ..., n]).
// fallback(chunk, length) must sort a chunk ascending in place.
template <class Traits, class Fallback>
std::vector<u64> verge_sort_heuristic(typename Traits::value_type* x, std::size_t n,
                                      Fallback&& fallback) {
    using detail::Candidate;
    using D = RunDirection;
    const detail::RunScansOf<Traits>& scans = detail::run_scans<Traits>();
    std::vector<u64> boundaries{0};
    const u64 run = min_run(n);
    std::size_t s = 0;
    std::size_t p = static_cast<std::size_t>(std::min<u64>(run, n));
    auto is_asc = [](D d) { return d == D::Ascending || d == D::PlateauThenAscending; };
    auto is_desc = [](D d) { return d == D::Descending || d == D::PlateauThenDescending; };

    while (p < n) {
        // Backward look, never below s.
        D back;
        std::size_t r, q;
        if (p == 0) {
            back = D::Edge;
            r = q = 0;
        } else if (Traits::less(x[p - 1], x[p])) {
            back = D::Ascending;
            r = detail::ascending_start<Traits>(scans, x, s, p);
            q = p;
        } else if (Traits::greater(x[p - 1], x[p])) {
            back = D::Descending;
            r = detail::descending_start<Traits>(scans, x, s, p);
            q = p;
        } else {
            const std::size_t e = detail::plateau_start<Traits>(scans, x, s, p);
            q = e;
            if (e == s) {
                back = D::Plateau;
                r = s;
            } else if (Traits::less(x[e - 1], x[e])) {
                back = D::PlateauThenAscending;
                r = detail::ascending_start<Traits>(scans, x, s, e);
            } else if (Traits::greater(x[e - 1], x[e])) {
                back = D::PlateauThenDescending;
                r = detail::descending_start<Traits>(scans, x, s, e);
            } else {
                panic(kVergeBadImplementation);
            }
        }

        // Forward look.
        const auto [fwd, t, p2] = detail::forward_run<Traits>(scans, x, p, n);

        // Candidates in order of preference; the first of at least min_run is accepted.
        Candidate cand[2];
        int count = 1;
        if (is_asc(back)) {
            if (is_desc(fwd)) {
                cand[0] = {r, p2, false};
                cand[1] = {q, t, true};
                count = 2;
            } else {
                cand[0] = {r, t, false};
            }
        } else if (is_desc(back)) {
            if (is_asc(fwd)) {
                cand[0] = {q, t, false};
                cand[1] = {r, p2, true};
                count = 2;
            } else {
                cand[0] = {r, t, true};
            }
        } else if (back == D::Plateau) {
            cand[0] = {r, t, is_desc(fwd)};
        } else {
            if (fwd == D::Edge) panic(kVergeBadImplementation);
            cand[0] = {r, t, is_desc(fwd)};
        }
        for (int c = 0; c < count; ++c) {
            const auto [a, b, descending] = cand[c];
            if (b - a < run) continue;
            if (s < a) {
                fallback(x + s, a - s);
                boundaries.push_back(a);
            }
            boundaries.push_back(b);
            if (descending) std::reverse(x + a, x + b);
            s = b;
            break;
        }
        p = static_cast<std::size_t>(std::min<u64>(t + run, n));
    }
    if (s < n) {
        fallback(x + s, n - s);
        boundaries.push_back(n);
    }
    return boundaries;
}

// Whether y[0, m) (m >= 2) is already ascending, already descending, or neither.
template <class Traits>
Order check_order(const typename Traits::value_type* y, std::size_t m) {
    const auto [dir, end, plateau_end] = detail::forward_run<Traits>(detail::run_scans<Traits>(), y, 0, m);
    if (end != m) return Order::Neither;
    if (dir == RunDirection::Descending || dir == RunDirection::PlateauThenDescending) return Order::Descending;
    return Order::Ascending;
}


// Slices shorter than this are not searched for runs: there a merge of runs costs more than
// the vector quicksort of the whole slice (measured at 10^4 elements: 8 runs merge at 0.7 to
// 0.8 of NumPy's speed, the quicksort runs at 1.1 to 1.2).
inline constexpr std::size_t kRunDetectionMin = std::size_t{1} << 16;

// The entries' run detection: verge_sort_heuristic from kRunDetectionMin elements; below, a
// slice already in order either way is left so (reversed if descending), any other goes to
// the fallback whole. Returns the boundaries as verge_sort_heuristic does.
template <class Traits, class Fallback>
std::vector<u64> runs_or_whole_slice(typename Traits::value_type* x, std::size_t n, Fallback&& fallback) {
    if (n >= kRunDetectionMin) return verge_sort_heuristic<Traits>(x, n, fallback);
    if (n >= 2) {
        switch (check_order<Traits>(x, n)) {
        case Order::Ascending: break;
        case Order::Descending: std::reverse(x, x + n); break;
        case Order::Neither: fallback(x, n); break;
        }
    }
    return {0, n};
}

}  // namespace tamarind
