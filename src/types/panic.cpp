#include "types/panic.hpp"

#include <cstdio>

namespace tamarind {
void report_panic(std::string_view message, const std::source_location& where) {
    // No thread here has a name: the interpreter's threads are not ours to name, and the
    // pools' workers are started without one. One fprintf call so reports from several
    // threads do not interleave mid-line.
    std::fprintf(stderr, "\nthread '<unnamed>' panicked at %s:%u:%u:\n%.*s\n", where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<unsigned>(where.column()),
                 static_cast<int>(message.size()), message.data());
}

void panic(std::string_view message, std::source_location where) {
    report_panic(message, where);
    throw Panic(std::string(message));
}

}  // namespace tamarind
