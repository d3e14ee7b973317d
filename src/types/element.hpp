// The element and key types every layer above shares. Element policy (keys, comparators)
// lives in traits/traits.hpp, which builds on these.
#pragma once

#include <cstdint>

namespace tamarind {

using f64 = double;
using i64 = std::int64_t;
using u64 = std::uint64_t;

inline constexpr u64 kSignBit = 0x8000'0000'0000'0000ULL;

}  // namespace tamarind
