// The instruction sets the vector code is built for, and whether this processor runs them:
// read from CPUID once per process. Vector code is compiled per function or per file for
// its target (the build assumes only baseline x86-64) and taken only where these say so;
// everything has a scalar path beside it. No other header is needed here, so every layer
// may ask.
#pragma once

namespace tamarind::simd {

enum class Isa { kAvx2, kAvx512 };

inline bool cpu_supports(Isa isa) noexcept {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    static const bool avx512 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") != 0;
    }();
    return isa == Isa::kAvx2 ? avx2 : avx512;
#else
    (void)isa;
    return false;
#endif
}

}  // namespace tamarind::simd
