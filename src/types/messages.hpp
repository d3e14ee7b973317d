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
inline constexpr std::string_view kLevelPastMaxLevel = "assertion failed: p.level < p.max_level";
inline constexpr std::string_view kOffsetPastKeyBits = "assertion failed: bits >= offset";
inline constexpr std::string_view kPartialHistogramTooManyLevels = "[Partial histogram] Array size can't be that huge !";
inline constexpr std::string_view kRegionsSwapBadRunP1 = "[Regions graph -> swap regions] Bad implementation: p1.";
inline constexpr std::string_view kRegionsSwapBadRunP2 = "[Regions graph -> swap regions] Bad implementation: p2.";
inline constexpr std::string_view kBlockDistributionBadCounts = "[Block distribution] Bucket counts do not match the slice.";
inline constexpr std::string_view kDivideByZero = "attempt to divide by zero";
// An index past a table's end: kIndexOutOfBounds + len + kIndexOutOfBoundsIndex + index.
inline constexpr std::string_view kIndexOutOfBounds = "index out of bounds: the len is ";
inline constexpr std::string_view kIndexOutOfBoundsIndex = " but the index is ";
// A pool that could not be built, + the build error.
inline constexpr std::string_view kGlobalPoolNotInitialized = "The global thread pool has not been initialized.: ";
inline constexpr std::string_view kUnwrapErr = "called `Result::unwrap()` on an `Err` value: ";
// The module's setup met an unexpected state of Python or NumPy (+ the error, where given).
inline constexpr std::string_view kBorrowApiError = "Internal borrow checking API error: ";
inline constexpr std::string_view kArrayApiCapsuleError = "Failed to access NumPy array API capsule: ";
// kBorrowReturnCode + code + kBorrowReturnCodeEnd.
inline constexpr std::string_view kBorrowReturnCode = "Unexpected return code ";
inline constexpr std::string_view kBorrowReturnCodeEnd = " from borrow checking API";
inline constexpr std::string_view kNullDescriptor = "PyObject pointer is null";
inline constexpr std::string_view kAllAppendFailed = "could not append __name__ to __all__";

// ---- exceptions of the argument checks (TypeError) -------------------------------------

inline constexpr std::string_view kNotContiguous = "The given array is not contiguous or is misaligned.";
inline constexpr std::string_view kMaskedArray =
    "masked arrays are not sorted: the values would move and the mask would not; sort them with numpy.ma.sort";
// "<function>() " precedes each of these.
inline constexpr std::string_view kMissingArr = "missing 1 required positional argument: 'arr'";
inline constexpr std::string_view kMultipleArr = "got multiple values for argument 'arr'";
inline constexpr std::string_view kUnexpectedKeyword = "got an unexpected keyword argument '";  // + name + "'"
inline constexpr std::string_view kTooManyPositional = "takes 1 positional arguments but ";     // + count + " were given"
// Noted on the TypeError of a wrong argument type: kProcessingNote + parameter + "'".
inline constexpr std::string_view kProcessingNote = "while processing '";

// ---- exceptions of the Dask sort's private helpers (TypeError, ValueError) -----------------

// "<function>() " precedes each of these.
// kSplittersType + dtype name + kSplittersTypeEnd + what was given.
inline constexpr std::string_view kSplittersType = "expects splitters as a one-dimensional ";
inline constexpr std::string_view kSplittersTypeEnd = " array (native byte order), the dtype of arr; got ";
// kTiesType + what was given.
inline constexpr std::string_view kTiesType = "expects ties as a one-dimensional int64 array; got ";
// kTiesLength + ties' length + kTiesLengthEnd + splitters' length.
inline constexpr std::string_view kTiesLength = "expects one tie position per splitter; got ";
inline constexpr std::string_view kTiesLengthEnd = " for splitters of length ";
// kSplittersUnsorted + index + kSplittersUnsortedEnd.
inline constexpr std::string_view kSplittersUnsorted = "expects splitters in ascending order; splitter ";
inline constexpr std::string_view kSplittersUnsortedEnd = " is below the one before it";
// kSplitterAfterNaN + index + kSplitterAfterNaNEnd.
inline constexpr std::string_view kSplitterAfterNaN = "expects splitters in ascending order; splitter ";
inline constexpr std::string_view kSplitterAfterNaNEnd =
    " is a number after a NaN: NaNs sort above every number, so only NaNs may follow one";
// kTiesDecrease + index + kTiesDecreaseEnd.
inline constexpr std::string_view kTiesDecrease = "expects ascending ties among equal splitters; ties[";
inline constexpr std::string_view kTiesDecreaseEnd = "] is below the one before it";

}  // namespace tamarind::messages
