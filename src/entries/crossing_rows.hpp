// Which row of kCrossingRows this process sorts with: the one for its processor and kernel
// table, or the one TAMARIND_CROSSINGS names (tests and benchmarks run any row on any
// machine that way), decided once per process.
#pragma once

#include "entries/entry_thresholds.hpp"
#include "simd/cpu.hpp"

namespace tamarind {

// The environment variable that names the row to use, whatever the processor.
inline constexpr const char* kCrossingsVariable = "TAMARIND_CROSSINGS";

// The first row that applies to a processor on a kernel table (one always does: the last
// row for each table's instruction set takes any processor).
const CrossingRow& crossing_row_for(const simd::CpuIdentity& cpu, simd::Isa table) noexcept;

// The row of that name, or nullptr.
const CrossingRow* crossing_row_named(const char* name) noexcept;

// This process's row, chosen on the first call: the one TAMARIND_CROSSINGS names, else the
// processor's for the kernel table in use; an unknown name gets one warning on stderr.
const CrossingRow& crossing_row() noexcept;

}  // namespace tamarind
