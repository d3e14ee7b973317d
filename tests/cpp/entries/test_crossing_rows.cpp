// The processor's identity as CPUID encodes it, and the crossing row each processor and
// kernel table gets.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "entries/crossing_rows.hpp"
#include "entries/radix_or_quicksort.hpp"
#include "simd/cpu.hpp"

namespace tamarind {
namespace {

using simd::Isa;
using simd::Vendor;

// Leaf 1 signatures of real processors: the extended model counts for families 6 and 15, the
// extended family adds to 15 only.
TEST(CpuIdentity, DecodesFamilyAndModel) {
    struct Case { const char* vendor; unsigned signature; Vendor want_vendor; unsigned family, model; };
    const Case cases[] = {
        {"GenuineIntel", 0x000C06F2, Vendor::kIntel, 6, 207},  // Xeon, Emerald Rapids
        {"GenuineIntel", 0x000A0671, Vendor::kIntel, 6, 167},
        {"AuthenticAMD", 0x00A20F10, Vendor::kAmd, 25, 0x21},  // Zen 3
        {"AuthenticAMD", 0x00A10F11, Vendor::kAmd, 25, 0x11},  // Zen 4 (EPYC 9004)
        {"AuthenticAMD", 0x00B40F00, Vendor::kAmd, 26, 0x40},  // Zen 5
        {"AuthenticAMD", 0x00000562, Vendor::kAmd, 5, 6},      // family 5: no extended model
        {"HygonGenuine", 0x00900F01, Vendor::kOther, 24, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signature);
        const simd::CpuIdentity id = simd::cpu_identity_from(c.vendor, c.signature);
        EXPECT_EQ(id.vendor, c.want_vendor);
        EXPECT_EQ(id.family, c.family);
        EXPECT_EQ(id.model, c.model);
    }
}

// Each measured processor gets its row on the table it was measured on; any other processor,
// or a measured one on another table, the default row of that table; the scalar table, the
// AVX2 default row.
TEST(CrossingRows, EachProcessorAndTableGetsItsRow) {
    struct Case { Vendor vendor; unsigned family; Isa table; const char* row; };
    const Case cases[] = {
        {Vendor::kIntel, 6, Isa::kAvx512, "intel-avx512"},     {Vendor::kAmd, 26, Isa::kAvx512, "zen5-avx512"},
        {Vendor::kAmd, 25, Isa::kAvx512, "zen4-avx512"},       {Vendor::kOther, 0, Isa::kAvx512, "default-avx512"},
        {Vendor::kAmd, 23, Isa::kAvx512, "default-avx512"},
        {Vendor::kIntel, 6, Isa::kAvx2, "intel-avx2"},         {Vendor::kAmd, 26, Isa::kAvx2, "zen3-avx2"},
        {Vendor::kIntel, 6, Isa::kScalar, "zen3-avx2"},        {Vendor::kOther, 0, Isa::kScalar, "zen3-avx2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        EXPECT_EQ(std::string(crossing_row_for({c.vendor, c.family, 0}, c.table).name), c.row);
    }
    for (const CrossingRow& row : kCrossingRows) EXPECT_EQ(crossing_row_named(row.name), &row);
    EXPECT_EQ(crossing_row_named("zen5"), nullptr);
}

// The radix sort's first digit is the top byte of the bits in which keys differ, wherever
// that byte falls: a month of nanosecond timestamps (bits 44 to 51) and ids below 2^41
// (bits 33 to 40) split well on it, though a byte boundary cuts both near their top; keys
// that take four values in their top bits split badly; keys that differ in their low 16
// bits are narrow.
TEST(DigitSplit, JudgesTheTopByteOfTheBitsKeysDifferIn) {
    constexpr u64 kMonthNs = 30ULL * 86'400 * 1'000'000'000;
    struct Case { const char* what; i64 base; u64 span, shift; DigitSplit want; };
    const Case cases[] = {
        {"a month of timestamps", 1'767'225'600'000'000'000, kMonthNs, 0, DigitSplit::kWell},
        {"ids below 2^41", 0, u64{1} << 41, 0, DigitSplit::kWell},
        {"four top values", -5, 4, 56, DigitSplit::kBadly},
        {"low 16 bits", i64{1} << 50, u64{1} << 16, 0, DigitSplit::kNarrow},
    };
    std::mt19937_64 rng(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<i64> v(100'000);
        for (i64& x : v) x = c.base + static_cast<i64>((rng() % c.span) << c.shift);
        EXPECT_EQ(digit_split<I64Traits>(v.data(), v.size()), c.want);
    }
}

}  // namespace
}  // namespace tamarind
