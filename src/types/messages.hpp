// The exact texts of the errors and panics that reach Python callers. Callers match them
// byte for byte (tests, and code written against the established wording), so they are
// part of the interface: change one only as an interface change. Texts with a variable
// part are given as the fixed pieces around it.
#pragma once

#include <string_view>

namespace tamarind::messages {

// ---- panics (PanicException) -----------------------------------------------------------

// An f64 comparison met a NaN.
inline constexpr std::string_view kNoneUnwrap = "called `Option::unwrap()` on a `None` value";
// The array is borrowed elsewhere / is read-only.
inline constexpr std::string_view kAlreadyBorrowed = "called `Result::unwrap()` on an `Err` value: AlreadyBorrowed";
inline constexpr std::string_view kNotWriteable = "called `Result::unwrap()` on an `Err` value: NotWriteable";
// Broken invariants of the engine.
inline constexpr std::string_view kVergeBadImplementation = "[Verge sort heuristic] Bad implementation.";
inline constexpr std::string_view kRegionsSortBadImplementation = "[Regions sort -> swapping] Bad implementation.";
inline constexpr std::string_view kRollercoasterSmallTooLarge = "assertion failed: size <= 128_000";
// An injected job runs on a thread that is not a worker.
inline constexpr std::string_view kInjectedOffPool = "assertion failed: injected && !worker_thread.is_null()";

// ---- exceptions of the argument checks (TypeError) -------------------------------------

inline constexpr std::string_view kNotContiguous = "The given array is not contiguous or is misaligned.";
// "<function>() " precedes each of these.
inline constexpr std::string_view kMissingArr = "missing 1 required positional argument: 'arr'";
inline constexpr std::string_view kMultipleArr = "got multiple values for argument 'arr'";
inline constexpr std::string_view kUnexpectedKeyword = "got an unexpected keyword argument '";  // + name + "'"
inline constexpr std::string_view kTooManyPositional = "takes 1 positional arguments but ";     // + count + " were given"
// Noted on the TypeError of a wrong argument type.
inline constexpr std::string_view kProcessingArrNote = "while processing 'arr'";

}  // namespace tamarind::messages
