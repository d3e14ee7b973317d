#include "types/panic.hpp"

#include <cstdio>

namespace tamarind {
namespace {
thread_local std::string t_thread_name;
}

void set_current_thread_name(std::string name) { t_thread_name = std::move(name); }

void report_panic(std::string_view message, const std::source_location& where) {
    const std::string& name = t_thread_name;
    // One fprintf call so reports from several threads do not interleave mid-line.
    std::fprintf(stderr, "\nthread '%s' panicked at %s:%u:%u:\n%.*s\n",
                 name.empty() ? "<unnamed>" : name.c_str(), where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<unsigned>(where.column()),
                 static_cast<int>(message.size()), message.data());
}

void panic(std::string_view message, std::source_location where) {
    report_panic(message, where);
    throw Panic(std::string(message));
}

}  // namespace tamarind
