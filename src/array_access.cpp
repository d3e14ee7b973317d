#include "array_access.hpp"

#include <string>
#include <vector>

#include "borrow.hpp"
#include "numpy_api.hpp"
#include "types/messages.hpp"
#include "types/panic.hpp"

namespace tamarind::py {
namespace {

// "'list' object is not an instance of 'ndarray'", noted with the argument's name.
PyError array_cast_error(PyObject* object, PyTypeObject* expected, const char* name) {
    Ref target_name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(expected), "__qualname__"));
    if (!target_name) PyErr_Clear();
    std::string target = to_utf8(target_name.get(), "<failed to extract type name>");
    std::string message = object == Py_None
        ? "'None' is not an instance of '" + target + "'"
        : "'" + type_name_of(object) + "' object is not an instance of '" +
              target + "'";
    Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!text) return PyError::fetch();
    Ref value(PyObject_CallFunctionObjArgs(PyExc_TypeError, text.get(), nullptr));
    if (!value) return PyError::fetch();
    // Python 3.11+ shows notes under the message; elsewhere the note is simply skipped.
    const std::string note = std::string(messages::kProcessingNote) + name + "'";
    Ref noted(PyObject_CallMethod(value.get(), "add_note", "s", note.c_str()));
    if (!noted) PyErr_Clear();
    return PyError::normalized(Ref::borrow(PyExc_TypeError), std::move(value), Ref());
}

// numpy.ma.MaskedArray, looked up once numpy.ma is loaded and kept for the process (guarded
// by the interpreter lock). Not imported here: no array is masked before numpy.ma is loaded.
PyObject* g_masked_type = nullptr;

// Whether `object`, an instance of an ndarray subclass, is a masked array (or a subclass's).
Result<bool> is_masked(PyObject* object) {
    if (g_masked_type == nullptr) {
        Ref name(PyUnicode_FromString("numpy.ma.core"));
        if (!name) return PyError::fetch();
        Ref core(PyImport_GetModule(name.get()));
        if (!core) {
            if (PyErr_Occurred()) return PyError::fetch();
            return false;
        }
        PyObject* type = PyObject_GetAttrString(core.get(), "MaskedArray");
        if (type == nullptr) return PyError::fetch();
        if (!PyType_Check(type)) {
            Py_DECREF(type);
            return false;
        }
        g_masked_type = type;
    }
    return PyType_IsSubtype(Py_TYPE(object), reinterpret_cast<PyTypeObject*>(g_masked_type)) != 0;
}

const SharedBorrowApi& borrow_api_or_panic() {
    Result<const SharedBorrowApi*> api = borrow_api();
    if (!api.ok()) panic(std::string(messages::kBorrowApiError) + api.error().debug());
    return *api.value();
}

}  // namespace

Result<TakenArray> TakenArray::take(PyObject* object, int type_num, Access access, const char* name) {
    const NumpyApi& api = NumpyApi::get_or_panic();

    bool accepted = api.is_array(object) && fields(object)->nd == 1;
    if (accepted) {
        PyObject* wanted = api.canonical_descr(type_num);
        PyObject* descr = fields(object)->descr;
        accepted = descr == wanted || api.equiv_types(descr, wanted);
    }
    if (!accepted) return array_cast_error(object, api.array_type(), name);
    // Only a subclass can be masked: a plain ndarray skips the lookup.
    if (Py_TYPE(object) != api.array_type()) {
        Result<bool> masked = is_masked(object);
        if (!masked.ok()) return std::move(masked.error());
        if (masked.value()) return PyError::lazy(PyExc_TypeError, std::string(messages::kMaskedArray));
    }

    Ref array = Ref::borrow(object);
    const SharedBorrowApi& borrows = borrow_api_or_panic();
    const int code = access == Access::kWrite ? borrows.acquire_mut(borrows.registry, object)
                                              : borrows.acquire(borrows.registry, object);
    switch (code) {
        case kBorrowOk:
            return TakenArray(array.release(), access);
        case kAlreadyBorrowed:
            panic(messages::kAlreadyBorrowed);
        case kNotWriteable:
            panic(messages::kNotWriteable);
        case kRegistryOutOfMemory:
            throw std::bad_alloc();
        default:
            panic(std::string(messages::kBorrowReturnCode) + std::to_string(code) + std::string(messages::kBorrowReturnCodeEnd));
    }
}

void TakenArray::give_back() {
    if (array_ == nullptr) return;
    const SharedBorrowApi& borrows = borrow_api_or_panic();  // cached since take()
    if (access_ == Access::kWrite) borrows.release_mut(borrows.registry, array_);
    else borrows.release(borrows.registry, array_);
    Py_DECREF(std::exchange(array_, nullptr));
}

bool TakenArray::raw_slice(std::uint64_t& n, void*& data) const {
    const ArrayFields* a = fields(array_);
    n = 1;
    for (int i = 0; i < a->nd; ++i) n *= static_cast<std::uint64_t>(a->dimensions[i]);
    if (n == 0) {
        // Never dereferenced; any aligned non-null address will do.
        data = reinterpret_cast<void*>(alignof(std::max_align_t));
        return true;
    }
    const bool contiguous = (a->flags & (kCContiguous | kFContiguous)) != 0;
    if ((a->flags & kAligned) == 0 || !contiguous || a->data == nullptr) return false;
    data = a->data;
    return true;
}

PyError TakenArray::not_contiguous() {
    return PyError::lazy(PyExc_TypeError, std::string(messages::kNotContiguous));
}

namespace {
// The scopes now running without the interpreter lock; changed only with the lock held.
std::vector<GilReleased*> g_released;
}  // namespace

GilReleased::GilReleased(std::span<TakenArray> held) : held_(held), owner_(pthread_self()) {
    g_released.push_back(this);
    state_ = PyEval_SaveThread();
}

GilReleased::~GilReleased() {
    PyEval_RestoreThread(state_);
    std::erase(g_released, this);
}

void drop_orphaned_borrows() {
    std::erase_if(g_released, [](GilReleased* scope) {
        if (pthread_equal(scope->owner_, pthread_self())) return false;
        for (TakenArray& taken : scope->held_) taken.give_back();
        return true;
    });
}

}  // namespace tamarind::py
