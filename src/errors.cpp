#include "errors.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "types/panic.hpp"

namespace tamarind::py {
namespace {

constexpr const char* kPanicExceptionDoc =
    "\nThe exception raised when Rust code called from Python panics.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

std::mutex g_panic_type_mutex;
std::atomic<PyObject*> g_panic_type{nullptr};

[[noreturn]] void abort_with(const char* message) {
    std::fprintf(stderr, "%s\n", message);
    std::abort();
}

// Sets PanicException(message) as the current exception.
void raise_panic(const std::string& message) {
    PyObject* type = panic_exception_type();
    if (type == nullptr) abort_with("Failed to initialize new exception type.");
    Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!text) return;  // the failure to make the string (MemoryError) stays set
    PyErr_SetObject(type, text.get());
}

}  // namespace

PyObject* panic_exception_type() {
    if (PyObject* t = g_panic_type.load(std::memory_order_acquire)) return t;
    InitLock lock(g_panic_type_mutex);
    if (PyObject* t = g_panic_type.load(std::memory_order_relaxed)) return t;
    PyObject* t = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicExceptionDoc,
                                            PyExc_BaseException, nullptr);
    if (t == nullptr) {
        PyErr_Clear();
        return nullptr;
    }
    // Kept for the life of the process: every failing call must raise the same class.
    g_panic_type.store(t, std::memory_order_release);
    return t;
}

std::string to_utf8(PyObject* object, const char* fallback) {
    Ref text(object ? PyObject_Str(object) : nullptr);
    Ref bytes(text ? PyUnicode_AsUTF8String(text.get()) : nullptr);
    if (!bytes) {
        PyErr_Clear();
        return fallback;
    }
    return std::string(PyBytes_AsString(bytes.get()), static_cast<std::size_t>(PyBytes_Size(bytes.get())));
}

std::string type_name_of(PyObject* object) {
    Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
    if (!name) PyErr_Clear();
    return to_utf8(name.get(), "<failed to extract type name>");
}

PyError cast_error(PyObject* object, const std::string& target) {
    return PyError::lazy(PyExc_TypeError,
                         "'" + type_name_of(object) + "' object is not an instance of '" + target + "'");
}

PyError PyError::lazy(PyObject* type, std::string message) {
    PyError e;
    e.lazy_type_ = type;
    e.message_ = std::move(message);
    return e;
}

PyError PyError::normalized(Ref type, Ref value, Ref traceback) {
    PyError e;
    e.type_ = std::move(type);
    e.value_ = std::move(value);
    e.traceback_ = std::move(traceback);
    return e;
}

PyError PyError::fetch() {
    PyObject *t = nullptr, *v = nullptr, *tb = nullptr;
    PyErr_Fetch(&t, &v, &tb);
    if (t == nullptr) {
        Py_XDECREF(v);
        Py_XDECREF(tb);
        return lazy(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    PyErr_NormalizeException(&t, &v, &tb);
    PyObject* panic_type = g_panic_type.load(std::memory_order_acquire);
    if (panic_type != nullptr && t == panic_type) {
        // A panic that went through Python code: continue it rather than turning it into
        // an ordinary error.
        std::string message = to_utf8(v, "Unwrapped panic from Python code");
        std::fputs("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
                   "Python stack trace below:\n", stderr);
        PyErr_Restore(t, v, tb);
        PyErr_PrintEx(0);
        throw Panic(std::move(message));
    }
    return normalized(Ref(t), Ref(v), Ref(tb));
}

void PyError::normalize() {
    if (type_) return;
    PyObject* type = lazy_type_;
    Ref text(PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
    if (!text) {
        *this = fetch();
        return;
    }
    if (!PyExceptionClass_Check(type)) {
        type = PyExc_TypeError;
        text = Ref(PyUnicode_FromString("exceptions must derive from BaseException"));
    }
    Ref value(PyObject_CallFunctionObjArgs(type, text.get(), nullptr));
    if (!value) {
        *this = fetch();
        return;
    }
    type_ = Ref::borrow(type);
    value_ = std::move(value);
}

void PyError::restore() && {
    if (!type_ && lazy_type_ != nullptr && PyExceptionClass_Check(lazy_type_)) {
        Ref text(PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
        if (text) PyErr_SetObject(lazy_type_, text.get());
        return;
    }
    normalize();
    PyErr_Restore(type_.release(), value_.release(), traceback_.release());
}

std::string PyError::debug() {
    normalize();
    auto repr = [](PyObject* o) {
        if (o == nullptr) return std::string("None");
        Ref r(PyObject_Repr(o));
        return to_utf8(r.get(), "<unprintable>");
    };
    return "PyErr { type: " + repr(type_.get()) + ", value: " + repr(value_.get()) +
           ", traceback: " + repr(traceback_.get()) + " }";
}

PyObject* raise_current_exception() {
    try {
        try {
            throw;
        } catch (const Panic& p) {
            raise_panic(p.message());  // its report was written where it was thrown
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (const std::exception& e) {
            report_panic(e.what(), std::source_location::current());
            raise_panic(e.what());
        } catch (...) {
            report_panic("panic from Rust code", std::source_location::current());
            raise_panic("panic from Rust code");
        }
    } catch (...) {
        abort_with("uncaught panic at ffi boundary");
    }
    return nullptr;
}

}  // namespace tamarind::py
