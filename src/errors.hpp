// Errors travel inside the boundary as values (PyError) and become Python exceptions only
// where a call leaves the module (guard). Panics are C++ exceptions (tamarind::Panic).
#pragma once

#include <Python.h>

#include <string>
#include <utility>
#include <variant>

#include "pyref.hpp"

namespace tamarind::py {

// One pending Python exception: either lazy (a type and a message, built when raised) or
// normalised (type, value and traceback fetched from the interpreter).
class PyError {
public:
    // type is a borrowed, immortal builtin exception class such as PyExc_TypeError.
    static PyError lazy(PyObject* type, std::string message);
    static PyError normalized(Ref type, Ref value, Ref traceback);
    // Takes the interpreter's current exception; a fetched PanicException resumes that
    // panic here instead of returning.
    static PyError fetch();

    // Makes this error the interpreter's current exception.
    void restore() &&;
    // "PyErr { type: ..., value: ..., traceback: ... }" for panic messages.
    std::string debug();

private:
    void normalize();

    PyObject* lazy_type_ = nullptr;
    std::string message_;
    Ref type_, value_, traceback_;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(PyError error) : v_(std::move(error)) {}
    bool ok() const { return v_.index() == 0; }
    T& value() { return std::get<0>(v_); }
    PyError& error() { return std::get<1>(v_); }

private:
    std::variant<T, PyError> v_;
};

// The PanicException class, created once per process; nullptr if it cannot be made.
PyObject* panic_exception_type();

// The text of a Python object (str()), or fallback when that fails.
std::string to_utf8(PyObject* object, const char* fallback);

// The __qualname__ of an object's type, or "<failed to extract type name>".
std::string type_name_of(PyObject* object);

// TypeError "'<type>' object is not an instance of '<target>'".
PyError cast_error(PyObject* object, const std::string& target);

// Runs a boundary body (returning Result<PyObject*>) and turns its error or its panic
// into the interpreter's current exception. Nothing C++ escapes.
PyObject* raise_current_exception();  // inside a catch block: converts std::current_exception

template <class Body>
PyObject* guard(Body&& body) noexcept {
    try {
        Result<PyObject*> r = body();
        if (r.ok()) return r.value();
        std::move(r.error()).restore();
        return nullptr;
    } catch (...) {
        return raise_current_exception();
    }
}

}  // namespace tamarind::py
