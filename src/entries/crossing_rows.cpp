// The crossing row for this process, picked from the processor's identity and kernel table.
#include "entries/crossing_rows.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "simd/kernels.hpp"

namespace tamarind {

const CrossingRow& crossing_row_for(const simd::CpuIdentity& cpu, simd::Isa table) noexcept {
    // The scalar table's quicksort is slower still than AVX2's: every processor takes the
    // AVX2 default row there, which sends the most lengths to the radix sorts.
    const bool scalar = table == simd::Isa::kScalar;
    const simd::Isa isa = scalar ? simd::Isa::kAvx2 : table;
    for (const CrossingRow& row : kCrossingRows) {
        if (row.isa == isa && (row.vendor == simd::Vendor::kOther || (!scalar && row.vendor == cpu.vendor)) &&
            (row.family == 0 || row.family == cpu.family))
            return row;
    }
    // Unreachable while each instruction set ends on a row for any processor (tested).
    return kCrossingRows[0];
}

const CrossingRow* crossing_row_named(const char* name) noexcept {
    for (const CrossingRow& row : kCrossingRows) {
        if (std::strcmp(row.name, name) == 0) return &row;
    }
    return nullptr;
}

namespace {

// The row TAMARIND_CROSSINGS names, else the processor's.
const CrossingRow& pick_row() noexcept {
    const char* name = std::getenv(kCrossingsVariable);
    if (name != nullptr && *name != '\0') {
        if (const CrossingRow* named = crossing_row_named(name)) return *named;
        std::fprintf(stderr, "tamarind: warning: %s: unknown row '%s' ignored (known:", kCrossingsVariable, name);
        for (const CrossingRow& known : kCrossingRows) std::fprintf(stderr, " %s", known.name);
        std::fprintf(stderr, ")\n");
        std::fflush(stderr);
    }
    return crossing_row_for(simd::cpu_identity(), simd::best_kernels()->isa);
}

}  // namespace

const CrossingRow& crossing_row() noexcept {
    static const CrossingRow& row = []() -> const CrossingRow& {
        const CrossingRow& picked = pick_row();
        // The in-place MSD steps take their one crossing from here, where the radix code,
        // which knows no rows, can read it.
        set_block_distribution_min(picked.at.block_distribution);
        return picked;
    }();
    return row;
}

}  // namespace tamarind
