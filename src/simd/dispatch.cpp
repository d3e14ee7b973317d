// Picks the kernels from what the processor reports and the environment allows, once per
// process.
#include "simd/kernels.hpp"

namespace tamarind::simd {

extern const KernelSet kScalarKernels;
#if defined(__x86_64__)
extern const KernelSet kAvx2Kernels;
extern const KernelSet kAvx512Kernels;

namespace {

// The AVX-512 table with AVX2's order and run scans (its NaN scan is AVX2's already). The
// scans read each vector twice, one element apart, so every 64-byte load crosses a cache
// line where AVX2's 32-byte loads cross every other one; on arrays past the caches that
// costs more than the width gains. Zen 5, 10^6 elements, ns per element with AVX-512's
// scans and with AVX2's: sort_i64_st of sorted input 0.138 against 0.109, of equal keys
// 0.114 against 0.093 (bench.py --tables, sorted and all-equal rows at 10^6: 0.72-0.80 of
// the AVX2 table before, even after).
KernelSet avx512_with_avx2_scans() noexcept {
    KernelSet set = kAvx512Kernels;
    auto take_scans = [](auto& to, const auto& from) {
        to.is_non_descending = from.is_non_descending;
        to.is_strictly_descending = from.is_strictly_descending;
        to.non_descending_prefix = from.non_descending_prefix;
        to.run_scans = from.run_scans;
    };
    take_scans(set.f64s, kAvx2Kernels.f64s);
    take_scans(set.i64s, kAvx2Kernels.i64s);
    take_scans(set.u64s, kAvx2Kernels.u64s);
    return set;
}

}  // namespace
#endif

const KernelSet* kernels_for(Isa isa, const char** why_not) noexcept {
    const char* reason = nullptr;
    const KernelSet* found = nullptr;
    if (isa == Isa::kScalar) {
        found = &kScalarKernels;
    } else {
#if defined(__x86_64__)
        const CpuFeatures& features = cpu_features();
        if (features.usable(isa)) {
            static const KernelSet avx512 = avx512_with_avx2_scans();
            found = isa == Isa::kAvx2 ? &kAvx2Kernels : &avx512;
        } else if (isa == Isa::kAvx2) {
            reason = features.avx2_reported ? "AVX2 is turned off by TAMARIND_DISABLE_CPU_FEATURES"
                                             : "this processor does not report AVX2";
        } else {
            reason = features.avx512_reported ? "AVX-512F is turned off by TAMARIND_DISABLE_CPU_FEATURES"
                                              : "this processor does not report AVX-512F";
        }
#else
        reason = "the vector kernels exist for x86-64 only";
#endif
    }
    if (why_not != nullptr) *why_not = reason;
    return found;
}

const KernelSet* best_kernels() noexcept {
    static const KernelSet* const best = [] {
        if (const KernelSet* k = kernels_for(Isa::kAvx512)) return k;
        if (const KernelSet* k = kernels_for(Isa::kAvx2)) return k;
        return &kScalarKernels;
    }();
    return best;
}

}  // namespace tamarind::simd
