// The instruction sets the vector code is built for, and whether this process may use them:
// what the processor reports through CPUID, less what the environment variable
// TAMARIND_DISABLE_CPU_FEATURES turns off, decided once per process. Vector code is
// compiled per function or per file for its target (the build assumes only baseline
// x86-64) and taken only where cpu_supports says so; the scalar kernels stand in for it
// everywhere else. No other header is needed here, so every layer may ask.
#pragma once

namespace tamarind::simd {

// kScalar is baseline code, which every processor runs.
enum class Isa { kScalar, kAvx2, kAvx512 };

// Who made the processor, as CPUID's vendor string says.
enum class Vendor { kOther, kIntel, kAmd };

// The processor's identity: vendor, and family and model as the manufacturers number them
// (the base fields with the extended ones folded in). The crossing table picks its row by it.
struct CpuIdentity {
    Vendor vendor = Vendor::kOther;
    unsigned family = 0;
    unsigned model = 0;
};

// The identity from CPUID leaf 0's vendor string (12 characters, EBX EDX ECX) and leaf 1's EAX.
CpuIdentity cpu_identity_from(const char* vendor, unsigned signature) noexcept;

// This processor's identity, read on the first call (all zero off x86-64).
const CpuIdentity& cpu_identity() noexcept;

// The environment variable that turns vector code off or caps it.
inline constexpr const char* kDisableFeaturesVariable = "TAMARIND_DISABLE_CPU_FEATURES";

struct CpuFeatures {
    // What the processor reports (always false off x86-64).
    bool avx2_reported = false;
    bool avx512_reported = false;
    // What the environment turned off; turning AVX2 off turns AVX-512 off too.
    bool avx2_disabled = false;
    bool avx512_disabled = false;

    bool usable(Isa isa) const noexcept {
        switch (isa) {
            case Isa::kAvx2: return avx2_reported && !avx2_disabled;
            case Isa::kAvx512: return avx512_reported && !avx512_disabled;
            default: return true;
        }
    }
};

// Turns off in `features` what a list of feature names names (AVX2, AVX512F, in any case,
// separated by spaces or commas). Returns how many names it did not know, and writes them,
// quoted and separated by ", ", to unknown[0, unknown_size) (cut short to fit, always
// terminated); the names it knows apply all the same.
unsigned disable_cpu_features(CpuFeatures& features, const char* list, char* unknown, unsigned unknown_size) noexcept;

// The processor's features with the environment's list applied, read on the first call;
// an unknown name in the list gets one warning on stderr then.
const CpuFeatures& cpu_features() noexcept;

inline bool cpu_supports(Isa isa) noexcept { return cpu_features().usable(isa); }

}  // namespace tamarind::simd
