#include "pool/thread_pool.hpp"

#include <string>

#include "pool/thread_count.hpp"
#include "types/panic.hpp"

namespace tamarind::pool {

ThreadPool BuildResult::unwrap() && {
    if (!ok()) panic(std::string(messages::kUnwrapErr) + error().to_string());
    return std::move(value());
}

BuildResult ThreadPoolBuilder::build() const {
    int os_error = 0;
    Registry* registry = Registry::start(resolve_num_threads(num_threads_), &os_error);
    if (registry == nullptr) {
        return BuildResult(ThreadPoolBuildError{ThreadPoolBuildErrorKind::IOError, os_error});
    }
    return BuildResult(ThreadPool(registry));
}

std::size_t current_num_threads() {
    if (WorkerThread* worker = current_worker()) return worker->registry->num_threads();
    return global_registry().num_threads();
}

}  // namespace tamarind::pool
