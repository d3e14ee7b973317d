// Why a pool could not be built.
#pragma once

#include <string>

namespace tamarind::pool {

// The one way building fails here: a worker thread could not be started; os_error holds
// the system's code.
enum class ThreadPoolBuildErrorKind {
    IOError,
};

struct ThreadPoolBuildError {
    ThreadPoolBuildErrorKind kind;
    int os_error = 0;

    // "ThreadPoolBuildError { kind: IOError(Os { code: 11, message: \"...\" }) }"
    std::string to_string() const;
};

}  // namespace tamarind::pool
