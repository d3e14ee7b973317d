// The list of features the environment may turn off: which names cap the vector code
// where, and that a name nobody knows is reported and otherwise left alone.
#include <gtest/gtest.h>

#include <string>

#include "simd/cpu.hpp"

using namespace tamarind::simd;

namespace {

struct ListCase {
    const char* list;
    bool avx2_off;
    bool avx512_off;
    unsigned unknown_count;
    const char* unknown;
};

class DisableCpuFeatures : public ::testing::TestWithParam<ListCase> {};

TEST_P(DisableCpuFeatures, AppliesKnownNamesAndReportsTheRest) {
    const ListCase& c = GetParam();
    CpuFeatures f;
    f.avx2_reported = f.avx512_reported = true;
    char unknown[64];
    EXPECT_EQ(disable_cpu_features(f, c.list, unknown, sizeof unknown), c.unknown_count);
    EXPECT_EQ(std::string(unknown), c.unknown);
    EXPECT_EQ(f.avx2_disabled, c.avx2_off);
    EXPECT_EQ(f.avx512_disabled, c.avx512_off);
    EXPECT_EQ(f.usable(Isa::kAvx2), !c.avx2_off);
    EXPECT_EQ(f.usable(Isa::kAvx512), !c.avx512_off);
    // A processor without a feature keeps it unusable whatever the list says.
    CpuFeatures without_avx512;
    without_avx512.avx2_reported = true;
    disable_cpu_features(without_avx512, c.list, unknown, sizeof unknown);
    EXPECT_EQ(without_avx512.usable(Isa::kAvx2), !c.avx2_off);
    EXPECT_FALSE(without_avx512.usable(Isa::kAvx512));
}

INSTANTIATE_TEST_SUITE_P(
    Lists, DisableCpuFeatures,
    ::testing::Values(ListCase{nullptr, false, false, 0, ""}, ListCase{"", false, false, 0, ""},
                      ListCase{" ,, ", false, false, 0, ""}, ListCase{"AVX512F", false, true, 0, ""},
                      ListCase{"avx512f", false, true, 0, ""}, ListCase{"AVX2", true, true, 0, ""},
                      ListCase{"AVX512F AVX2", true, true, 0, ""}, ListCase{",AVX2,,AVX512F,", true, true, 0, ""},
                      // A name that only starts like a known one is not that one.
                      ListCase{"AVX512", false, false, 1, "'AVX512'"}, ListCase{"AVX2x", false, false, 1, "'AVX2x'"},
                      ListCase{"SSE4 AVX512F, NEON", false, true, 2, "'SSE4', 'NEON'"},
                      // Cut short to fit the buffer, still terminated.
                      ListCase{"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", false, false, 1,
                               "'AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"}));

}  // namespace
