// The processor's identity as CPUID encodes it, and the crossing row each processor and
// kernel table gets.
#include <gtest/gtest.h>

#include <string>

#include "entries/crossing_rows.hpp"
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

}  // namespace
}  // namespace tamarind
