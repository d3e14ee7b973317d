// CPUID and the environment's list of features to leave unused, read once per process.
#include "simd/cpu.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#endif

namespace tamarind::simd {

namespace {

bool is_separator(char c) noexcept { return c == ' ' || c == ',' || c == '\t' || c == '\n'; }

char upper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool names(const char* word, unsigned length, const char* name) noexcept {
    unsigned i = 0;
    for (; i < length && name[i] != '\0'; ++i) {
        if (upper(word[i]) != name[i]) return false;
    }
    return i == length && name[i] == '\0';
}

// Appends text[0, length) to out[0, size), keeping it terminated; *used counts what is there.
void append(char* out, unsigned size, unsigned* used, const char* text, unsigned length) noexcept {
    for (unsigned i = 0; i < length && *used + 1 < size; ++i) out[(*used)++] = text[i];
    if (size > 0) out[*used < size ? *used : size - 1] = '\0';
}

CpuFeatures reported_features() noexcept {
    CpuFeatures f;
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    f.avx2_reported = __builtin_cpu_supports("avx2") != 0;
    f.avx512_reported = __builtin_cpu_supports("avx512f") != 0;
#endif
    return f;
}

}  // namespace

CpuIdentity cpu_identity_from(const char* vendor, unsigned signature) noexcept {
    CpuIdentity id;
    if (std::memcmp(vendor, "GenuineIntel", 12) == 0) id.vendor = Vendor::kIntel;
    if (std::memcmp(vendor, "AuthenticAMD", 12) == 0) id.vendor = Vendor::kAmd;
    const unsigned base_family = (signature >> 8) & 0xF, base_model = (signature >> 4) & 0xF;
    // The extended family adds to family 15 only, the extended model extends families 6 and 15.
    id.family = base_family == 0xF ? base_family + ((signature >> 20) & 0xFF) : base_family;
    id.model = base_family == 0x6 || base_family == 0xF ? (((signature >> 16) & 0xF) << 4) | base_model : base_model;
    return id;
}

const CpuIdentity& cpu_identity() noexcept {
    static const CpuIdentity identity = [] {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        char vendor[12];
        if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) return CpuIdentity{};
        std::memcpy(vendor, &ebx, 4);
        std::memcpy(vendor + 4, &edx, 4);
        std::memcpy(vendor + 8, &ecx, 4);
        if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return CpuIdentity{};
        return cpu_identity_from(vendor, eax);
#else
        return CpuIdentity{};
#endif
    }();
    return identity;
}

unsigned disable_cpu_features(CpuFeatures& features, const char* list, char* unknown, unsigned unknown_size) noexcept {
    unsigned count = 0;
    unsigned used = 0;
    if (unknown_size > 0) unknown[0] = '\0';
    if (list == nullptr) return 0;
    const char* p = list;
    while (*p != '\0') {
        while (is_separator(*p)) ++p;
        const char* word = p;
        while (*p != '\0' && !is_separator(*p)) ++p;
        const auto length = static_cast<unsigned>(p - word);
        if (length == 0) break;
        if (names(word, length, "AVX512F")) {
            features.avx512_disabled = true;
        } else if (names(word, length, "AVX2")) {
            // Every AVX-512 processor has AVX2: wider code without it is no configuration
            // anyone runs, so leaving AVX2 out leaves out everything above it as well.
            features.avx2_disabled = true;
            features.avx512_disabled = true;
        } else {
            if (count > 0) append(unknown, unknown_size, &used, ", ", 2);
            append(unknown, unknown_size, &used, "'", 1);
            append(unknown, unknown_size, &used, word, length);
            append(unknown, unknown_size, &used, "'", 1);
            ++count;
        }
    }
    return count;
}

const CpuFeatures& cpu_features() noexcept {
    static const CpuFeatures features = [] {
        CpuFeatures f = reported_features();
        char unknown[256];
        const unsigned count = disable_cpu_features(f, std::getenv(kDisableFeaturesVariable), unknown, sizeof unknown);
        if (count > 0) {
            std::fprintf(stderr, "tamarind: warning: %s: unknown feature name%s %s ignored (known: AVX2, AVX512F)\n",
                         kDisableFeaturesVariable, count == 1 ? "" : "s", unknown);
            std::fflush(stderr);
        }
        return f;
    }();
    return features;
}

}  // namespace tamarind::simd
