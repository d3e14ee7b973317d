// Panics: the engine's way of stopping a call on a broken invariant or on input it
// cannot order (NaN in a comparison). A panic writes its report to standard error
// once, where it happens, then unwinds as a C++ exception carrying the exact message;
// the Python boundary turns it into PanicException. Code that holds an element aside
// must put it back while a panic passes, so an interrupted sort leaves a permutation.
#pragma once

#include <exception>
#include <source_location>
#include <string>
#include <string_view>

#include "types/messages.hpp"

namespace tamarind {

class Panic : public std::exception {
public:
    explicit Panic(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Writes "thread '<name>' panicked at file:line:column:\n<message>" to standard error,
// then throws Panic(message).
[[noreturn]] void panic(std::string_view message,
                        std::source_location where = std::source_location::current());

// The report alone, for panics that arrive from elsewhere (a fetched Python exception).
void report_panic(std::string_view message, const std::source_location& where);

using messages::kNoneUnwrap;

}  // namespace tamarind
