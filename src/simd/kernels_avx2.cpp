// The kernels for AVX2: four 64-bit lanes per vector. Everything below the target line
// is compiled for AVX2 and reached only through the table, which dispatch.cpp hands out
// after the processor reported AVX2.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "simd/kernels.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,popcnt")
#endif

namespace tamarind::simd {
namespace {

// For each 4-bit lane mask, the 32-bit permutation that moves the masked 64-bit lanes to
// the front (in order) and the others behind them (in order).
struct CompressTable {
    alignas(32) std::int32_t index[16][8];
};

constexpr CompressTable make_compress_table() {
    CompressTable t{};
    for (unsigned mask = 0; mask < 16; ++mask) {
        unsigned k = 0;
        for (unsigned pass = 0; pass < 2; ++pass) {
            for (unsigned lane = 0; lane < 4; ++lane) {
                if (((mask >> lane) & 1) == (pass == 0 ? 1u : 0u)) {
                    t.index[mask][2 * k] = static_cast<std::int32_t>(2 * lane);
                    t.index[mask][2 * k + 1] = static_cast<std::int32_t>(2 * lane + 1);
                    ++k;
                }
            }
        }
    }
    return t;
}

constexpr CompressTable kCompress = make_compress_table();

inline __m256i compress_index(unsigned mask) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(kCompress.index[mask]));
}

// Lanes [0, count) all ones.
inline __m256i first_lanes(std::size_t count) {
    return _mm256_cmpgt_epi64(_mm256_set1_epi64x(static_cast<long long>(count)), _mm256_setr_epi64x(0, 1, 2, 3));
}

// Each bit of a 4-lane mask doubled, for the 32-bit blend.
constexpr int dword_mask(unsigned m) {
    int r = 0;
    for (unsigned i = 0; i < 4; ++i) {
        if ((m >> i) & 1) r |= 3 << (2 * i);
    }
    return r;
}

// The lane tests of the run scans: all ones or all zeros in each 64-bit lane, as integer
// or as double vectors (each kept in its own domain).
struct RunLanes {
    static __m256i lanes_and(__m256i r, __m256i s) { return _mm256_and_si256(r, s); }
    static __m256d lanes_and(__m256d r, __m256d s) { return _mm256_and_pd(r, s); }
    static __m256i lanes_or(__m256i r, __m256i s) { return _mm256_or_si256(r, s); }
    static __m256d lanes_or(__m256d r, __m256d s) { return _mm256_or_pd(r, s); }
    static bool all_set(__m256i r) { return _mm256_movemask_epi8(r) == -1; }
    static bool all_set(__m256d r) { return _mm256_movemask_pd(r) == 0xF; }
    static bool none_set(__m256i r) { return _mm256_testz_si256(r, r) != 0; }
    static bool none_set(__m256d r) { return _mm256_movemask_pd(r) == 0; }
};

struct F64Ops : RunLanes {
    using T = f64;
    using V = __m256d;
    static constexpr std::size_t N = 4;
    static constexpr std::size_t kPartitionUnroll = 8;
    static constexpr std::size_t kVectorRegisters = 16;
    static constexpr std::size_t kNetworkMax = 128;
    static bool scalar_less(T a, T b) { return a < b; }
    static V load(const T* p) { return _mm256_loadu_pd(p); }
    static void store(T* p, V x) { _mm256_storeu_pd(p, x); }
    static V set1(T t) { return _mm256_set1_pd(t); }
    static V load_padded(const T* p, std::size_t count) {
        const __m256i m = first_lanes(count);
        const V x = _mm256_maskload_pd(p, m);
        return _mm256_blendv_pd(set1(std::numeric_limits<T>::infinity()), x, _mm256_castsi256_pd(m));
    }
    static void store_first(T* p, V x, std::size_t count) { _mm256_maskstore_pd(p, first_lanes(count), x); }
    static unsigned less_mask(V x, V y) { return static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(x, y, _CMP_LT_OQ))); }
    static unsigned not_greater_mask(V x, V y) {
        return static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(x, y, _CMP_LE_OQ)));
    }
    static void store_split(T* left, T* right_end, V x, unsigned mask, std::size_t) {
        const V y = _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(x), compress_index(mask)));
        store(left, y);
        store(right_end - N, y);
    }
    static V min(V a, V b) { return _mm256_min_pd(a, b); }
    static V max(V a, V b) { return _mm256_max_pd(a, b); }
    static V reverse(V x) { return _mm256_permute4x64_pd(x, 0x1B); }
    template <unsigned J>
    static V partner(V x) {
        if constexpr (J == 1) return _mm256_permute_pd(x, 0x5);
        else return _mm256_permute4x64_pd(x, 0x4E);
    }
    template <unsigned M>
    static V blend(V a, V b) { return _mm256_blend_pd(a, b, M); }
    static constexpr bool kCanTranspose = true;
    static void transpose(V* t) { transpose4(t[0], t[1], t[2], t[3]); }
    static void transpose4(V& a, V& b, V& c, V& d) {
        const V ab_even = _mm256_unpacklo_pd(a, b);
        const V ab_odd = _mm256_unpackhi_pd(a, b);
        const V cd_even = _mm256_unpacklo_pd(c, d);
        const V cd_odd = _mm256_unpackhi_pd(c, d);
        a = _mm256_permute2f128_pd(ab_even, cd_even, 0x20);
        b = _mm256_permute2f128_pd(ab_odd, cd_odd, 0x20);
        c = _mm256_permute2f128_pd(ab_even, cd_even, 0x31);
        d = _mm256_permute2f128_pd(ab_odd, cd_odd, 0x31);
    }

    // Run scans in key order, exactly on the signed images of the keys (negatives with all
    // but the sign bit flipped); AVX2 compares 64-bit lanes signed only.
    static __m256i load_bits(const T* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static __m256i set1_bits(T t) { return _mm256_set1_epi64x(std::bit_cast<long long>(t)); }
    static __m256i bits_equal(__m256i x, __m256i y) { return _mm256_cmpeq_epi64(x, y); }
    static __m256i signed_image(__m256i x) {
        return _mm256_xor_si256(x, _mm256_srli_epi64(_mm256_cmpgt_epi64(_mm256_setzero_si256(), x), 1));
    }
    static __m256i run_greater(__m256i x, __m256i y) { return _mm256_cmpgt_epi64(signed_image(x), signed_image(y)); }
    // IEEE <= agrees with key order on every pair without a NaN (which fails it) but for
    // +0.0 before -0.0, which it passes: a -0.0 as the later element is suspect.
    static constexpr bool kRunQuickTest = true;
    static V quick_not_greater(V x, V y) { return _mm256_cmp_pd(x, y, _CMP_LE_OQ); }
    static V quick_suspect(V y) { return _mm256_castsi256_pd(bits_equal(_mm256_castpd_si256(y), set1_bits(-0.0))); }
};

// i64 and u64: no 64-bit min, max or unsigned compare in AVX2, so both are built on the
// signed greater-than, u64 with the sign bits flipped first.
template <class Elem>
struct IntOps : RunLanes {
    using T = Elem;
    using V = __m256i;
    static constexpr std::size_t N = 4;
    static constexpr std::size_t kPartitionUnroll = 8;
    static constexpr std::size_t kVectorRegisters = 16;
    static constexpr std::size_t kNetworkMax = 128;
    static constexpr bool kUnsigned = std::is_same_v<T, u64>;
    // A compare-exchange takes a comparison and two blends here against a min and a max
    // for f64, so short sorts partition once more (for f64 the base case of 128 wins at
    // every length).
    static constexpr std::size_t kShortSortBaseCase = 64;
    static bool scalar_less(T a, T b) { return a < b; }
    static V load(const T* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(T* p, V x) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x); }
    static V set1(T t) { return _mm256_set1_epi64x(static_cast<long long>(t)); }
    static V gt(V a, V b) {
        if constexpr (kUnsigned) {
            const V sign = _mm256_set1_epi64x(static_cast<long long>(kSignBit));
            return _mm256_cmpgt_epi64(_mm256_xor_si256(a, sign), _mm256_xor_si256(b, sign));
        } else {
            return _mm256_cmpgt_epi64(a, b);
        }
    }
    static unsigned bits(V m) { return static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(m))); }
    static V load_padded(const T* p, std::size_t count) {
        const __m256i m = first_lanes(count);
        const V x = _mm256_maskload_epi64(reinterpret_cast<const long long*>(p), m);
        return _mm256_blendv_epi8(set1(std::numeric_limits<T>::max()), x, m);
    }
    static void store_first(T* p, V x, std::size_t count) {
        _mm256_maskstore_epi64(reinterpret_cast<long long*>(p), first_lanes(count), x);
    }
    static unsigned less_mask(V x, V y) { return bits(gt(y, x)); }
    static unsigned not_greater_mask(V x, V y) { return bits(gt(x, y)) ^ 0xF; }
    static void store_split(T* left, T* right_end, V x, unsigned mask, std::size_t) {
        const V y = _mm256_permutevar8x32_epi32(x, compress_index(mask));
        store(left, y);
        store(right_end - N, y);
    }
    static V min(V a, V b) { return _mm256_blendv_epi8(a, b, gt(a, b)); }
    static V max(V a, V b) { return _mm256_blendv_epi8(b, a, gt(a, b)); }
    static void exchange(V& a, V& b) {
        const V swap = gt(a, b);
        const V lo = _mm256_blendv_epi8(a, b, swap);
        b = _mm256_blendv_epi8(b, a, swap);
        a = lo;
    }
    static V reverse(V x) { return _mm256_permute4x64_epi64(x, 0x1B); }
    template <unsigned J>
    static V partner(V x) {
        if constexpr (J == 1) return _mm256_shuffle_epi32(x, 0x4E);
        else return _mm256_permute4x64_epi64(x, 0x4E);
    }
    template <unsigned M>
    static V blend(V a, V b) { return _mm256_blend_epi32(a, b, dword_mask(M)); }
    static constexpr bool kCanTranspose = true;
    static void transpose(V* t) { transpose4(t[0], t[1], t[2], t[3]); }
    static void transpose4(V& a, V& b, V& c, V& d) {
        const V ab_even = _mm256_unpacklo_epi64(a, b);
        const V ab_odd = _mm256_unpackhi_epi64(a, b);
        const V cd_even = _mm256_unpacklo_epi64(c, d);
        const V cd_odd = _mm256_unpackhi_epi64(c, d);
        a = _mm256_permute2x128_si256(ab_even, cd_even, 0x20);
        b = _mm256_permute2x128_si256(ab_odd, cd_odd, 0x20);
        c = _mm256_permute2x128_si256(ab_even, cd_even, 0x31);
        d = _mm256_permute2x128_si256(ab_odd, cd_odd, 0x31);
    }

    // Run scans: the order of the sorts.
    static V load_bits(const T* p) { return load(p); }
    static V set1_bits(T t) { return set1(t); }
    static V bits_equal(V x, V y) { return _mm256_cmpeq_epi64(x, y); }
    static V run_greater(V x, V y) { return gt(x, y); }
    static constexpr bool kRunQuickTest = false;
};

#include "simd/kernel_templates.hpp"

// The signed keys of four elements (kernels.hpp, classification): floats with -0.0 made
// +0.0, negative magnitudes reversed and NaNs the largest key.
template <class T>
__m256i classify_keys(const T* p) {
    if constexpr (std::is_same_v<T, i64>) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    } else {
        const __m256d x = _mm256_add_pd(_mm256_loadu_pd(p), _mm256_setzero_pd());
        const __m256i bits = _mm256_castpd_si256(x);
        const __m256i negative = _mm256_cmpgt_epi64(_mm256_setzero_si256(), bits);
        const __m256i key = _mm256_xor_si256(bits, _mm256_srli_epi64(negative, 1));
        return _mm256_blendv_epi8(key, _mm256_set1_epi64x(std::numeric_limits<i64>::max()),
                                  _mm256_castpd_si256(_mm256_cmp_pd(x, x, _CMP_UNORD_Q)));
    }
}

// Eight elements compared with every splitter, two vectors at a time so that their chains
// of counts overlap (uniform float64 at 11 splitters, Zen 5: 1.15 ns per element, against
// 1.37 with one vector and 2.9 for the scalar table). The tail goes through a padded copy.
template <class T>
void classify(const T* v, std::size_t n, const i64* splitters, std::size_t k, unsigned char* out) {
    // Returns the eight ids as the bytes of one word, first element lowest.
    auto eight = [&](const T* p) -> std::uint64_t {
        __m256i key[2] = {classify_keys(p), classify_keys(p + 4)};
        __m256i below[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()};
        __m256i tie[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()};
        for (std::size_t j = 0; j < k; ++j) {
            const __m256i s = _mm256_set1_epi64x(splitters[j]);
            for (int h = 0; h < 2; ++h) {
                below[h] = _mm256_sub_epi64(below[h], _mm256_cmpgt_epi64(key[h], s));
                tie[h] = _mm256_or_si256(tie[h], _mm256_cmpeq_epi64(key[h], s));
            }
        }
        // A tie's all-ones lane ends in the byte kClassifyTie; the low byte of each lane.
        const __m256i low_dwords = _mm256_setr_epi32(0, 2, 4, 6, 0, 0, 0, 0);
        const __m128i a = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(_mm256_or_si256(below[0], tie[0]), low_dwords));
        const __m128i b = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(_mm256_or_si256(below[1], tie[1]), low_dwords));
        const __m128i pick = _mm_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
        const __m128i bytes = _mm_unpacklo_epi32(_mm_shuffle_epi8(a, pick), _mm_shuffle_epi8(b, pick));
        return static_cast<std::uint64_t>(_mm_cvtsi128_si64(bytes));
    };
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_cvtsi64_si128(static_cast<long long>(eight(v + i))));
    if (i < n) {
        // Byte by byte, so that no library copy is called (the kernels run without one).
        T tail[8];
        for (std::size_t j = 0; j < 8; ++j) tail[j] = v[i + j < n ? i + j : n - 1];
        const std::uint64_t ids = eight(tail);
        for (std::size_t j = 0; i + j < n; ++j) out[i + j] = static_cast<unsigned char>(ids >> (8 * j));
    }
}

}  // namespace

bool avx2_has_nan(const f64* v, std::size_t n) {
    __m256d acc0 = _mm256_setzero_pd();
    __m256d acc1 = _mm256_setzero_pd();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256d a = _mm256_loadu_pd(v + i);
        const __m256d b = _mm256_loadu_pd(v + i + 4);
        acc0 = _mm256_or_pd(acc0, _mm256_cmp_pd(a, a, _CMP_UNORD_Q));
        acc1 = _mm256_or_pd(acc1, _mm256_cmp_pd(b, b, _CMP_UNORD_Q));
    }
    bool found = _mm256_movemask_pd(_mm256_or_pd(acc0, acc1)) != 0;
    for (; i < n; ++i) found |= v[i] != v[i];
    return found;
}

extern const KernelSet kAvx2Kernels;
const KernelSet kAvx2Kernels = {
    Isa::kAvx2, "AVX2", kernels_of<F64Ops>(), kernels_of<IntOps<i64>>(), kernels_of<IntOps<u64>>(), &avx2_has_nan,
    &classify<f64>, &classify<i64>,
};

}  // namespace tamarind::simd

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif  // __x86_64__
