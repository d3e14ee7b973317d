// Presorted-run detection before any radix work: probe the slice at a stride, grow each
// probe into the longest ascending or descending run around it, accept runs of at least
// min_run elements (reversing descending ones) and hand every stretch between accepted
// runs to a fallback sort. Comparisons are the element type's own operators (IEEE for
// f64, so every comparison with a NaN is false and a NaN ends any run it touches).
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <limits>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "traits/traits.hpp"
#include "types/cpu_features.hpp"
#include "types/panic.hpp"

namespace tamarind {

inline constexpr const char* kVergeBadImplementation = "[Verge sort heuristic] Bad implementation.";
// Radix width handed to every fallback call.
inline constexpr u64 kFallbackRadix = 8;
// Run scans over at least this many elements compare in blocks.
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

// Block tests over the eight neighbouring pairs of x[0..8], without short-circuit. Where
// SSE2 is available (every x86-64) f64 pairs are compared four at a time with the IEEE
// predicates themselves (so -0.0 == +0.0 and every comparison with NaN is false), and
// integer equality byte-wise; the rest compile to straight-line scalar code.
template <class T>
inline bool block_ascending(const T* x) noexcept {
#if defined(__SSE2__)
    if constexpr (std::is_same_v<T, double>) {
        __m128d ok = _mm_cmple_pd(_mm_loadu_pd(x), _mm_loadu_pd(x + 1));
        for (int j = 2; j < 8; j += 2) ok = _mm_and_pd(ok, _mm_cmple_pd(_mm_loadu_pd(x + j), _mm_loadu_pd(x + j + 1)));
        return _mm_movemask_pd(ok) == 3;
    }
#endif
    bool ok = true;
    for (int j = 0; j < 8; ++j) ok &= x[j] <= x[j + 1];
    return ok;
}
template <class T>
inline bool block_descending(const T* x) noexcept {
#if defined(__SSE2__)
    if constexpr (std::is_same_v<T, double>) {
        __m128d ok = _mm_cmple_pd(_mm_loadu_pd(x + 1), _mm_loadu_pd(x));
        for (int j = 2; j < 8; j += 2) ok = _mm_and_pd(ok, _mm_cmple_pd(_mm_loadu_pd(x + j + 1), _mm_loadu_pd(x + j)));
        return _mm_movemask_pd(ok) == 3;
    }
#endif
    bool ok = true;
    for (int j = 0; j < 8; ++j) ok &= x[j + 1] <= x[j];
    return ok;
}
// Equality is transitive here (IEEE == included: -0.0 equals +0.0 and a NaN equals
// nothing), so eight equal neighbouring pairs means x[1..8] all equal x[0].
template <class T>
inline bool block_equal(const T* x) noexcept {
#if defined(__SSE2__)
    if constexpr (std::is_same_v<T, double>) {
        const __m128d first = _mm_set1_pd(x[0]);
        __m128d ok = _mm_cmpeq_pd(first, _mm_loadu_pd(x + 1));
        for (int j = 3; j < 9; j += 2) ok = _mm_and_pd(ok, _mm_cmpeq_pd(first, _mm_loadu_pd(x + j)));
        return _mm_movemask_pd(ok) == 3;
    } else {
        static_assert(sizeof(T) == 8);
        const __m128i first = _mm_set1_epi64x(static_cast<long long>(x[0]));
        auto at = [&](int j) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + j)); };
        __m128i ok = _mm_cmpeq_epi8(first, at(1));
        for (int j = 3; j < 9; j += 2) ok = _mm_and_si128(ok, _mm_cmpeq_epi8(first, at(j)));
        return _mm_movemask_epi8(ok) == 0xFFFF;
    }
#else
    bool ok = true;
    for (int j = 1; j < 9; ++j) ok &= x[0] == x[j];
    return ok;
#endif
}

// Pair tests of the run scans: x[j] <= x[j + 1], x[j + 1] <= x[j], x[j] == x[j + 1].
enum class PairTest { Ascending, Descending, Equal };

#if defined(__x86_64__)
// The same tests over 32 neighbouring pairs at a time with AVX2, for long runs: f64 with
// the IEEE predicates (ordered, so every comparison with NaN is false), i64 in signed and
// u64 in unsigned order. Only whole blocks are taken; the callers' scalar loops find the
// exact end, so the result is that of the element-by-element scan.
template <class T, PairTest test>
__attribute__((target("avx2"))) inline bool avx2_pairs_hold(const T* x) noexcept {
    static_assert(sizeof(T) == 8);
    if constexpr (std::is_same_v<T, double>) {
        __m256d ok = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
        for (int j = 0; j < 32; j += 4) {
            const __m256d a = _mm256_loadu_pd(x + j), b = _mm256_loadu_pd(x + j + 1);
            __m256d r;
            if constexpr (test == PairTest::Ascending) r = _mm256_cmp_pd(a, b, _CMP_LE_OQ);
            else if constexpr (test == PairTest::Descending) r = _mm256_cmp_pd(b, a, _CMP_LE_OQ);
            else r = _mm256_cmp_pd(a, b, _CMP_EQ_OQ);
            ok = _mm256_and_pd(ok, r);
        }
        return _mm256_movemask_pd(ok) == 0xF;
    } else {
        // Ascending holds where a > b is false; the sign flip turns u64 order into i64 order.
        const __m256i flip = _mm256_set1_epi64x(std::is_signed_v<T> ? 0 : static_cast<long long>(kSignBit));
        __m256i bad = _mm256_setzero_si256();
        __m256i eq = _mm256_set1_epi64x(-1);
        for (int j = 0; j < 32; j += 4) {
            const __m256i a = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + j)), flip);
            const __m256i b = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + j + 1)), flip);
            if constexpr (test == PairTest::Ascending) bad = _mm256_or_si256(bad, _mm256_cmpgt_epi64(a, b));
            else if constexpr (test == PairTest::Descending) bad = _mm256_or_si256(bad, _mm256_cmpgt_epi64(b, a));
            else eq = _mm256_and_si256(eq, _mm256_cmpeq_epi64(a, b));
        }
        if constexpr (test == PairTest::Equal) return _mm256_movemask_epi8(eq) == -1;
        else return _mm256_testz_si256(bad, bad) != 0;
    }
}

// Advances k by whole blocks of 32 while the pairs (x[k + j], x[k + j + 1]), j < 32, pass.
template <class T, PairTest test>
__attribute__((target("avx2"))) std::size_t avx2_scan_forward(const T* x, std::size_t k, std::size_t n) noexcept {
    while (k + 33 <= n && avx2_pairs_hold<T, test>(x + k)) k += 32;
    return k;
}
// Moves k down by whole blocks of 32 (not below s) while the 32 pairs below it pass.
template <class T, PairTest test>
__attribute__((target("avx2"))) std::size_t avx2_scan_backward(const T* x, std::size_t s, std::size_t k) noexcept {
    while (k >= s + 32 && avx2_pairs_hold<T, test>(x + k - 32)) k -= 32;
    return k;
}
#endif

template <class T, PairTest test>
inline std::size_t vector_scan_forward(const T* x, std::size_t k, std::size_t n) noexcept {
#if defined(__x86_64__)
    if constexpr (sizeof(T) == 8 && (std::is_same_v<T, double> || std::is_integral_v<T>)) {
        if (cpu_has_avx2()) return avx2_scan_forward<T, test>(x, k, n);
    }
#endif
    (void)x;
    (void)n;
    return k;
}
template <class T, PairTest test>
inline std::size_t vector_scan_backward(const T* x, std::size_t s, std::size_t k) noexcept {
#if defined(__x86_64__)
    if constexpr (sizeof(T) == 8 && (std::is_same_v<T, double> || std::is_integral_v<T>)) {
        if (cpu_has_avx2()) return avx2_scan_backward<T, test>(x, s, k);
    }
#endif
    (void)x;
    (void)s;
    return k;
}

// First index f > from with x[f - 1] != x[f], or n (from < n).
template <class T>
std::size_t plateau_end(const T* x, std::size_t from, std::size_t n) noexcept {
    std::size_t f = from + 1;
    if (n - from >= kBlockScanMin) {
        f = vector_scan_forward<T, PairTest::Equal>(x, f - 1, n) + 1;
        while (f + 8 <= n && block_equal(x + f - 1)) f += 8;
    }
    while (f < n && x[f - 1] == x[f]) ++f;
    return f;
}

// Smallest e >= s with x[e..p] all equal.
template <class T>
std::size_t plateau_start(const T* x, std::size_t s, std::size_t p) noexcept {
    std::size_t e = p;
    if (p - s >= kBlockScanMin) {
        e = vector_scan_backward<T, PairTest::Equal>(x, s, e);
        while (e >= s + 8 && block_equal(x + e - 8)) e -= 8;
    }
    while (e > s && x[e - 1] == x[e]) --e;
    return e;
}

// One past the end of the non-decreasing run that starts at `from` (from < n).
template <class T>
std::size_t ascending_end(const T* x, std::size_t from, std::size_t n) noexcept {
    std::size_t k = from;
    if (n - from >= kBlockScanMin) {
        k = vector_scan_forward<T, PairTest::Ascending>(x, k, n);
        while (k + 9 <= n && block_ascending(x + k)) k += 8;
    }
    while (k + 1 < n && x[k] <= x[k + 1]) ++k;
    return k + 1;
}
template <class T>
std::size_t descending_end(const T* x, std::size_t from, std::size_t n) noexcept {
    std::size_t k = from;
    if (n - from >= kBlockScanMin) {
        k = vector_scan_forward<T, PairTest::Descending>(x, k, n);
        while (k + 9 <= n && block_descending(x + k)) k += 8;
    }
    while (k + 1 < n && x[k + 1] <= x[k]) ++k;
    return k + 1;
}

// Smallest r >= s with x[r..p] non-decreasing (non-increasing for descending_start).
template <class T>
std::size_t ascending_start(const T* x, std::size_t s, std::size_t p) noexcept {
    std::size_t k = p;
    if (p - s >= kBlockScanMin) {
        k = vector_scan_backward<T, PairTest::Ascending>(x, s, k);
        while (k >= s + 8 && block_ascending(x + k - 8)) k -= 8;
    }
    while (k > s && x[k - 1] <= x[k]) --k;
    return k;
}
template <class T>
std::size_t descending_start(const T* x, std::size_t s, std::size_t p) noexcept {
    std::size_t k = p;
    if (p - s >= kBlockScanMin) {
        k = vector_scan_backward<T, PairTest::Descending>(x, s, k);
        while (k >= s + 8 && block_descending(x + k - 8)) k -= 8;
    }
    while (k > s && x[k] <= x[k - 1]) --k;
    return k;
}

struct Candidate {
    std::size_t start, end;
    bool descending;
};

}  // namespace detail

// Leaves v[0, n) as ascending stretches and returns their boundaries ([0, ..., n]).
// fallback(chunk, length, radix) must sort a chunk ascending in place.
template <class Traits, class Fallback>
std::vector<u64> verge_sort_heuristic(typename Traits::value_type* x, std::size_t n,
                                      Fallback&& fallback) {
    using detail::Candidate;
    using D = RunDirection;
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
        } else if (x[p - 1] < x[p]) {
            back = D::Ascending;
            r = detail::ascending_start(x, s, p);
            q = p;
        } else if (x[p - 1] > x[p]) {
            back = D::Descending;
            r = detail::descending_start(x, s, p);
            q = p;
        } else {
            const std::size_t e = detail::plateau_start(x, s, p);
            q = e;
            if (e == s) {
                back = D::Plateau;
                r = s;
            } else if (x[e - 1] < x[e]) {
                back = D::PlateauThenAscending;
                r = detail::ascending_start(x, s, e);
            } else if (x[e - 1] > x[e]) {
                back = D::PlateauThenDescending;
                r = detail::descending_start(x, s, e);
            } else {
                panic(kVergeBadImplementation);
            }
        }

        // Forward look.
        D fwd;
        std::size_t t, p2 = p;
        if (p >= n - 1) {
            fwd = D::Edge;
            t = n;
        } else if (x[p] < x[p + 1]) {
            fwd = D::Ascending;
            t = detail::ascending_end(x, p, n);
        } else if (x[p] > x[p + 1]) {
            fwd = D::Descending;
            t = detail::descending_end(x, p, n);
        } else {
            const std::size_t f = detail::plateau_end(x, p, n);
            p2 = f;
            if (f == n) {
                fwd = D::Plateau;
                t = n;
            } else if (x[f - 1] < x[f]) {
                fwd = D::PlateauThenAscending;
                t = detail::ascending_end(x, f, n);
            } else if (x[f - 1] > x[f]) {
                fwd = D::PlateauThenDescending;
                t = detail::descending_end(x, f, n);
            } else {
                panic(kVergeBadImplementation);
            }
        }

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
                fallback(x + s, a - s, kFallbackRadix);
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
        fallback(x + s, n - s, kFallbackRadix);
        boundaries.push_back(n);
    }
    return boundaries;
}

// Whether y[0, m) (m >= 2) is already ascending, already descending, or neither.
template <class Traits>
Order check_order(const typename Traits::value_type* y, std::size_t m) {
    if (y[0] < y[1]) return detail::ascending_end(y, 0, m) == m ? Order::Ascending : Order::Neither;
    if (y[0] > y[1]) return detail::descending_end(y, 0, m) == m ? Order::Descending : Order::Neither;
    const std::size_t f = detail::plateau_end(y, 0, m);
    if (f == m) return Order::Ascending;
    if (y[f - 1] < y[f]) return detail::ascending_end(y, f, m) == m ? Order::Ascending : Order::Neither;
    if (y[f - 1] > y[f]) return detail::descending_end(y, f, m) == m ? Order::Descending : Order::Neither;
    panic(kVergeBadImplementation);
}

}  // namespace tamarind
