// Why a pool could not be built.
#pragma once

#include <string>

namespace tamarind::pool {

enum class ThreadPoolBuildErrorKind {
    GlobalPoolAlreadyInitialized,
    CurrentThreadAlreadyInPool,
    IOError,  // a worker thread could not be started; os_error holds the system's code
};

struct ThreadPoolBuildError {
    ThreadPoolBuildErrorKind kind;
    int os_error = 0;

    // "ThreadPoolBuildError { kind: IOError(Os { code: 11, message: \"...\" }) }"
    std::string to_string() const;
};

}  // namespace tamarind::pool
