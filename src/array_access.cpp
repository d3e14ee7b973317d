#include "array_access.hpp"

#include <string>

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

const SharedBorrowApi& borrow_api_or_panic() {
    Result<const SharedBorrowApi*> api = borrow_api();
    if (!api.ok()) panic(std::string(messages::kBorrowApiError) + api.error().debug());
    return *api.value();
}

}  // namespace

Result<TakenArray> TakenArray::take(PyObject* object, int type_num, Access access, const char* name) {
    Result<const NumpyApi*> api_result = NumpyApi::get();
    if (!api_result.ok()) panic(std::string(messages::kArrayApiCapsuleError) + api_result.error().debug());
    const NumpyApi& api = *api_result.value();

    bool accepted = api.is_array(object) && fields(object)->nd == 1;
    if (accepted) {
        PyObject* wanted = api.canonical_descr(type_num);
        PyObject* descr = fields(object)->descr;
        accepted = descr == wanted || api.equiv_types(descr, wanted);
    }
    if (!accepted) return array_cast_error(object, api.array_type(), name);

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

TakenArray::~TakenArray() {
    if (array_ == nullptr) return;
    const SharedBorrowApi& borrows = borrow_api_or_panic();  // cached since take()
    if (access_ == Access::kWrite) borrows.release_mut(borrows.registry, array_);
    else borrows.release(borrows.registry, array_);
    Py_DECREF(array_);
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

}  // namespace tamarind::py
