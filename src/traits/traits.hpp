// Element policy, one traits type per element type and order: a key map (key_maps.hpp:
// keys and the radix switches) joined with an order (order.hpp: comparators, the plain
// comparisons, NaN policy, ordered_min_max); see those files for what each part provides
// and the rules it encodes.
//   F64Traits          f64 keyed by IEEE 754 totalOrder, compared by IEEE (is_less panics
//                      on NaN): the comparison sorts' f64;
//   F64KeyOrderTraits  f64 keyed and compared by totalOrder: the radix paths' run
//                      detection and merge;
//   I64Traits, U64Traits
//                      signed and unsigned integers.
#pragma once

#include "traits/key_maps.hpp"
#include "traits/order.hpp"
#include "types/element.hpp"

namespace tamarind {

// Each declares value_type itself, which both parts name.
struct F64Traits : F64KeyMap, F64Order {
    using value_type = f64;
};
struct F64KeyOrderTraits : F64KeyMap, F64KeyOrder {
    using value_type = f64;
};
struct I64Traits : I64KeyMap, IntegerOrder<i64> {
    using value_type = i64;
};
struct U64Traits : U64KeyMap, IntegerOrder<u64> {
    using value_type = u64;
};

// The traits of each element type.
template <class T>
struct TraitsOf;
template <>
struct TraitsOf<f64> {
    using type = F64Traits;
};
template <>
struct TraitsOf<i64> {
    using type = I64Traits;
};
template <>
struct TraitsOf<u64> {
    using type = U64Traits;
};
template <class T>
using traits_of = typename TraitsOf<T>::type;

}  // namespace tamarind
