// The kernels for AVX-512 (the foundation instructions only): eight 64-bit lanes per
// vector, with native 64-bit min, max and unsigned compares and mask registers.
// Everything below the target line is compiled for AVX-512 and reached only through the
// table, which dispatch.cpp hands out after the processor reported AVX-512F.
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
#pragma clang attribute push(__attribute__((target("avx512f,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,popcnt")
// GCC 12's AVX-512 headers start some permutes from a deliberately undefined vector.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace tamarind::simd {
namespace {

inline __mmask8 first_lanes(std::size_t count) { return static_cast<__mmask8>((1u << count) - 1); }

// The partition's split of a vector: a permutation from a table, then two whole-vector
// stores. The compressing store to memory (vpcompressq/vcompresspd with a memory operand)
// is microcoded on AMD's Zen 4 (18.4 ns per vector against 2.7 for a compress into a
// register and a store) and slow on Zen 5 too; on Zen 5 (AMD EPYC, family 26) the
// partition of 10^6 random elements ran at 33-36 GB/s with it, 38 with two compresses into
// registers and masked stores, and 48-50 with the table, ahead of AVX2's 41-47 (63-65 with
// eight vectors a round, as AVX2 reads). On Intel's cores a table load, a zero extension
// and a permute are three single-uop instructions, as cheap as a compress into a register.
//
// For each 8-lane mask, the lanes whose bit is set (in order), then the others (in order),
// one byte per lane: 2 KiB.
struct SplitTable {
    alignas(64) unsigned char index[256][8];
};

constexpr SplitTable make_split_table() {
    SplitTable t{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        unsigned k = 0;
        for (unsigned pass = 0; pass < 2; ++pass) {
            for (unsigned lane = 0; lane < 8; ++lane) {
                if (((mask >> lane) & 1) == (pass == 0 ? 1u : 0u)) t.index[mask][k++] = static_cast<unsigned char>(lane);
            }
        }
    }
    return t;
}

constexpr SplitTable kSplit = make_split_table();

inline __m512i split_index(unsigned mask) {
    return _mm512_cvtepu8_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kSplit.index[mask])));
}

// The lane tests of the run scans: mask registers.
struct RunLanes {
    static unsigned lanes_and(unsigned r, unsigned s) { return r & s; }
    static unsigned lanes_or(unsigned r, unsigned s) { return r | s; }
    static bool all_set(unsigned r) { return r == 0xFF; }
    static bool none_set(unsigned r) { return r == 0; }
};

struct F64Ops : RunLanes {
    using T = f64;
    using V = __m512d;
    static constexpr std::size_t N = 8;
    static constexpr std::size_t kPartitionUnroll = 8;
    static constexpr std::size_t kVectorRegisters = 32;
    static constexpr std::size_t kNetworkMax = 256;
    static bool scalar_less(T a, T b) { return a < b; }
    static V load(const T* p) { return _mm512_loadu_pd(p); }
    static void store(T* p, V x) { _mm512_storeu_pd(p, x); }
    static V set1(T t) { return _mm512_set1_pd(t); }
    static V load_padded(const T* p, std::size_t count) {
        return _mm512_mask_loadu_pd(set1(std::numeric_limits<T>::infinity()), first_lanes(count), p);
    }
    static void store_first(T* p, V x, std::size_t count) { _mm512_mask_storeu_pd(p, first_lanes(count), x); }
    static unsigned less_mask(V x, V y) { return _mm512_cmp_pd_mask(x, y, _CMP_LT_OQ); }
    static unsigned not_greater_mask(V x, V y) { return _mm512_cmp_pd_mask(x, y, _CMP_LE_OQ); }
    static void store_split(T* left, T* right_end, V x, unsigned mask, std::size_t) {
        const V y = _mm512_permutexvar_pd(split_index(mask), x);
        store(left, y);
        store(right_end - N, y);
    }
    static V min(V a, V b) { return _mm512_min_pd(a, b); }
    static V max(V a, V b) { return _mm512_max_pd(a, b); }
    static V reverse(V x) { return _mm512_permutexvar_pd(_mm512_setr_epi64(7, 6, 5, 4, 3, 2, 1, 0), x); }
    template <unsigned J>
    static V partner(V x) {
        if constexpr (J == 1) return _mm512_permute_pd(x, 0x55);
        else if constexpr (J == 2) return _mm512_permutex_pd(x, 0x4E);
        else return _mm512_shuffle_f64x2(x, x, 0x4E);
    }
    template <unsigned M>
    static V blend(V a, V b) { return _mm512_mask_blend_pd(static_cast<__mmask8>(M), a, b); }
    static constexpr bool kCanTranspose = true;
    // Pairs of rows interleaved, then 128-bit quarters gathered twice: 24 shuffles.
    static void transpose(V* t) {
        V a[8], b[8];
        for (unsigned i = 0; i < 8; i += 2) {
            a[i] = _mm512_unpacklo_pd(t[i], t[i + 1]);
            a[i + 1] = _mm512_unpackhi_pd(t[i], t[i + 1]);
        }
        for (unsigned h = 0; h < 8; h += 4) {
            b[h] = _mm512_shuffle_f64x2(a[h], a[h + 2], 0x88);
            b[h + 1] = _mm512_shuffle_f64x2(a[h + 1], a[h + 3], 0x88);
            b[h + 2] = _mm512_shuffle_f64x2(a[h], a[h + 2], 0xDD);
            b[h + 3] = _mm512_shuffle_f64x2(a[h + 1], a[h + 3], 0xDD);
        }
        for (unsigned j = 0; j < 4; ++j) {
            t[j] = _mm512_shuffle_f64x2(b[j], b[j + 4], 0x88);
            t[j + 4] = _mm512_shuffle_f64x2(b[j], b[j + 4], 0xDD);
        }
    }

    // Run scans in key order, exactly on the signed images of the keys (negatives with all
    // but the sign bit flipped).
    static __m512i load_bits(const T* p) { return _mm512_loadu_si512(p); }
    static __m512i set1_bits(T t) { return _mm512_set1_epi64(std::bit_cast<long long>(t)); }
    static unsigned bits_equal(__m512i x, __m512i y) { return _mm512_cmpeq_epi64_mask(x, y); }
    static __m512i signed_image(__m512i x) { return _mm512_xor_si512(x, _mm512_srli_epi64(_mm512_srai_epi64(x, 63), 1)); }
    static unsigned run_greater(__m512i x, __m512i y) { return _mm512_cmpgt_epi64_mask(signed_image(x), signed_image(y)); }
    // IEEE <= agrees with key order on every pair without a NaN (which fails it) but for
    // +0.0 before -0.0, which it passes: a -0.0 as the later element is suspect.
    static constexpr bool kRunQuickTest = true;
    static unsigned quick_not_greater(V x, V y) { return _mm512_cmp_pd_mask(x, y, _CMP_LE_OQ); }
    static unsigned quick_suspect(V y) { return bits_equal(_mm512_castpd_si512(y), set1_bits(-0.0)); }
};

template <class Elem>
struct IntOps : RunLanes {
    using T = Elem;
    using V = __m512i;
    static constexpr std::size_t N = 8;
    static constexpr std::size_t kPartitionUnroll = 8;
    static constexpr std::size_t kVectorRegisters = 32;
    static constexpr std::size_t kNetworkMax = 256;
    static constexpr bool kUnsigned = std::is_same_v<T, u64>;
    static bool scalar_less(T a, T b) { return a < b; }
    static V load(const T* p) { return _mm512_loadu_si512(p); }
    static void store(T* p, V x) { _mm512_storeu_si512(p, x); }
    static V set1(T t) { return _mm512_set1_epi64(static_cast<long long>(t)); }
    static V load_padded(const T* p, std::size_t count) {
        return _mm512_mask_loadu_epi64(set1(std::numeric_limits<T>::max()), first_lanes(count), p);
    }
    static void store_first(T* p, V x, std::size_t count) { _mm512_mask_storeu_epi64(p, first_lanes(count), x); }
    static unsigned less_mask(V x, V y) {
        if constexpr (kUnsigned) return _mm512_cmplt_epu64_mask(x, y);
        else return _mm512_cmplt_epi64_mask(x, y);
    }
    static unsigned not_greater_mask(V x, V y) {
        if constexpr (kUnsigned) return _mm512_cmple_epu64_mask(x, y);
        else return _mm512_cmple_epi64_mask(x, y);
    }
    static void store_split(T* left, T* right_end, V x, unsigned mask, std::size_t) {
        const V y = _mm512_permutexvar_epi64(split_index(mask), x);
        store(left, y);
        store(right_end - N, y);
    }
    static V min(V a, V b) {
        if constexpr (kUnsigned) return _mm512_min_epu64(a, b);
        else return _mm512_min_epi64(a, b);
    }
    static V max(V a, V b) {
        if constexpr (kUnsigned) return _mm512_max_epu64(a, b);
        else return _mm512_max_epi64(a, b);
    }
    static V reverse(V x) { return _mm512_permutexvar_epi64(_mm512_setr_epi64(7, 6, 5, 4, 3, 2, 1, 0), x); }
    template <unsigned J>
    static V partner(V x) {
        if constexpr (J == 1) return _mm512_shuffle_epi32(x, static_cast<_MM_PERM_ENUM>(0x4E));
        else if constexpr (J == 2) return _mm512_permutex_epi64(x, 0x4E);
        else return _mm512_shuffle_i64x2(x, x, 0x4E);
    }
    template <unsigned M>
    static V blend(V a, V b) { return _mm512_mask_blend_epi64(static_cast<__mmask8>(M), a, b); }
    static constexpr bool kCanTranspose = true;
    // The float64 shuffles on the same bits (the casts cost nothing).
    static void transpose(V* t) {
        __m512d d[8];
        for (unsigned i = 0; i < 8; ++i) d[i] = _mm512_castsi512_pd(t[i]);
        F64Ops::transpose(d);
        for (unsigned i = 0; i < 8; ++i) t[i] = _mm512_castpd_si512(d[i]);
    }

    // Run scans: the order of the sorts.
    static V load_bits(const T* p) { return load(p); }
    static V set1_bits(T t) { return set1(t); }
    static unsigned bits_equal(V x, V y) { return _mm512_cmpeq_epi64_mask(x, y); }
    static unsigned run_greater(V x, V y) {
        if constexpr (kUnsigned) return _mm512_cmpgt_epu64_mask(x, y);
        else return _mm512_cmpgt_epi64_mask(x, y);
    }
    static constexpr bool kRunQuickTest = false;
};

#include "simd/kernel_templates.hpp"

// The signed keys of eight elements (kernels.hpp, classification): floats with -0.0 made
// +0.0, negative magnitudes reversed and NaNs the largest key.
template <class T>
__m512i classify_keys(const T* p, __mmask8 lanes) {
    if constexpr (std::is_same_v<T, i64>) {
        return _mm512_maskz_loadu_epi64(lanes, p);
    } else {
        const __m512d x = _mm512_add_pd(_mm512_maskz_loadu_pd(lanes, p), _mm512_setzero_pd());
        const __m512i bits = _mm512_castpd_si512(x);
        const __m512i key = _mm512_xor_si512(bits, _mm512_srli_epi64(_mm512_srai_epi64(bits, 63), 1));
        return _mm512_mask_mov_epi64(key, _mm512_cmp_pd_mask(x, x, _CMP_UNORD_Q),
                                     _mm512_set1_epi64(std::numeric_limits<i64>::max()));
    }
}

// A branch-free binary search of the 16 padded splitters, held in two registers, for eight
// elements at once: four halving steps by a two-register permute. (Uniform float64 at 11
// splitters, Zen 5: 0.55 ns per element, against 0.76 comparing with every splitter and
// 2.9 for the scalar table.)
template <class T>
void classify(const T* v, std::size_t n, const i64* splitters, std::size_t k, unsigned char* out) {
    const __m512i low = _mm512_loadu_si512(splitters);
    const __m512i high = _mm512_loadu_si512(splitters + 8);
    const __m512i count = _mm512_set1_epi64(static_cast<i64>(k));
    auto eight = [&](std::size_t i, __mmask8 lanes) {
        const __m512i key = classify_keys(v + i, lanes);
        __m512i below = _mm512_setzero_si512();  // splitters below the key among those probed
        for (i64 step = 8; step >= 1; step /= 2) {
            const __m512i probe =
                _mm512_permutex2var_epi64(low, _mm512_add_epi64(below, _mm512_set1_epi64(step - 1)), high);
            below = _mm512_mask_add_epi64(below, _mm512_cmpgt_epi64_mask(key, probe), below, _mm512_set1_epi64(step));
        }
        const __mmask8 tie = _mm512_cmpeq_epi64_mask(key, _mm512_permutex2var_epi64(low, below, high)) &
                             _mm512_cmplt_epi64_mask(below, count);
        below = _mm512_mask_mov_epi64(below, tie, _mm512_set1_epi64(kClassifyTie));
        _mm512_mask_cvtepi64_storeu_epi8(out + i, lanes, below);
    };
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) eight(i, 0xFF);
    if (i < n) eight(i, first_lanes(n - i));
}

}  // namespace

// The NaN scan is AVX2's. It reads each element once, yet out of the caches an AVX-512 scan
// lost to it, even with aligned loads after a masked head (Zen 5, 10^7 elements 16 bytes
// past a cache line: 0.26, aligned 0.30, against 0.19 ns per element); within the caches
// the two were equal.
extern const KernelSet kAvx512Kernels;
const KernelSet kAvx512Kernels = {
    Isa::kAvx512, "AVX-512", kernels_of<F64Ops>(), kernels_of<IntOps<i64>>(), kernels_of<IntOps<u64>>(),
    &avx2_has_nan, &classify<f64>, &classify<i64>,
};

}  // namespace tamarind::simd

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif

#endif  // __x86_64__
