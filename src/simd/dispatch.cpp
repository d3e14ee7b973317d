// Picks the kernels from what the processor reports and the environment allows, once per
// process.
#include "simd/kernels.hpp"

namespace tamarind::simd {

extern const KernelSet kScalarKernels;
#if defined(__x86_64__)
extern const KernelSet kAvx2Kernels;
extern const KernelSet kAvx512Kernels;
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
            found = isa == Isa::kAvx2 ? &kAvx2Kernels : &kAvx512Kernels;
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
