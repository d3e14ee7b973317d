#include "nogil_helpers.hpp"

#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "array_access.hpp"
#include "entries/numpy_order_sort.hpp"
#include "errors.hpp"
#include "numpy_api.hpp"
#include "partition/multiway_partition.hpp"
#include "pool/platform.hpp"
#include "types/messages.hpp"

namespace tamarind::py {
namespace {

template <class T>
constexpr const char* kDtypeName = std::is_same_v<T, f64> ? "float64" : "int64";

PyError type_error(const char* function, std::string_view what, const std::string& rest) {
    return PyError::lazy(PyExc_TypeError, std::string(function) + "() " + std::string(what) + rest);
}

PyError value_error(const char* function, std::string rest) {
    return PyError::lazy(PyExc_ValueError, std::string(function) + "() " + std::move(rest));
}

// "a 'list'", or "an array of dtype int32 with 2 dimensions", for the type errors.
std::string describe(PyObject* object) {
    const NumpyApi& api = NumpyApi::get_or_panic();
    if (!api.is_array(object)) return "a '" + type_name_of(object) + "'";
    const ArrayFields* a = fields(object);
    return "an array of dtype " + to_utf8(a->descr, "?") + " with " + std::to_string(a->nd) + " dimension" +
           (a->nd == 1 ? "" : "s");
}

// A one-dimensional array of the given type number, read element by element whatever its
// strides (splitters and ties are short): the values, or nothing if `object` is not one.
template <class T>
bool read_vector(PyObject* object, int type_num, std::vector<T>& values) {
    const NumpyApi& api = NumpyApi::get_or_panic();
    if (!api.is_array(object) || fields(object)->nd != 1) return false;
    PyObject* wanted = api.canonical_descr(type_num);
    const ArrayFields* a = fields(object);
    if (a->descr != wanted && !api.equiv_types(a->descr, wanted)) return false;
    values.resize(static_cast<std::size_t>(a->dimensions[0]));
    for (std::size_t i = 0; i < values.size(); ++i)
        std::memcpy(&values[i], a->data + static_cast<std::intptr_t>(i) * a->strides[0], sizeof(T));
    return true;
}

// A new, uninitialised one-dimensional array of n elements, on base pages. NumPy asks for
// huge pages on every array of 4 MiB or more; the cut's pieces and the partitions are new
// memory that a worker touches once, and on a virtual machine that hands freed memory back
// to its host a first touch of huge pages cost six times that of base pages (160 against
// 25-28 ms per 64 MiB): 10^8 float64 on two workers took 1.5 s with these arrays on base
// pages, against 2.1 s on huge pages.
template <class T>
PyObject* new_array(std::size_t n) {
    PyObject* array = NumpyApi::get_or_panic().empty(static_cast<std::intptr_t>(n), kTypeNumOf<T>);
    if (array != nullptr) pool::platform::prefer_small_pages(fields(array)->data, n * sizeof(T));
    return array;
}

template <class T>
PyObject* concat_sort_nogil(const char* function, PyObject* args) {
    return guard([&]() -> Result<PyObject*> {
        PyObject* sequence = nullptr;
        if (!PyArg_UnpackTuple(args, function, 1, 1, &sequence)) return PyError::fetch();
        Ref pieces(PySequence_Tuple(sequence));
        if (!pieces) return PyError::fetch();
        const Py_ssize_t count = PyTuple_Size(pieces.get());
        // The pieces are only read, and stay borrowed until the copy is done.
        std::vector<TakenArray> taken;
        std::vector<ElementSlice<T>> slices;
        taken.reserve(static_cast<std::size_t>(count));
        std::size_t total = 0;
        for (Py_ssize_t i = 0; i < count; ++i) {
            Result<TakenArray> piece = TakenArray::take(PyTuple_GetItem(pieces.get(), i), kTypeNumOf<T>,
                                                        Access::kRead, "pieces");
            if (!piece.ok()) return std::move(piece.error());
            taken.push_back(std::move(piece.value()));
            Result<ElementSlice<T>> slice = taken.back().template slice<T>();
            if (!slice.ok()) return std::move(slice.error());
            slices.push_back(slice.value());
            total += slice.value().len;
        }
        Ref out(new_array<T>(total));
        if (!out) return PyError::fetch();
        T* data = reinterpret_cast<T*>(fields(out.get())->data);
        if (total > 0) {
            GilReleased released(taken);
            T* to = data;
            for (const ElementSlice<T>& slice : slices) {
                std::memcpy(to, slice.data, slice.len * sizeof(T));
                to += slice.len;
            }
            numpy_order_sort(data, total);
        }
        return out.release();
    });
}

// The splitters' keys and tie positions, checked; or the TypeError or ValueError to raise.
template <class T>
Result<bool> read_splitters(const char* function, PyObject* splitters, PyObject* ties, std::vector<u64>& keys,
                            std::vector<i64>& tie_positions) {
    std::vector<T> values;
    if (!read_vector(splitters, kTypeNumOf<T>, values))
        return type_error(function, messages::kSplittersType,
                          kDtypeName<T> + std::string(messages::kSplittersTypeEnd) + describe(splitters));
    if (!read_vector(ties, kTypeNumI64, tie_positions))
        return type_error(function, messages::kTiesType, describe(ties));
    if (tie_positions.size() != values.size())
        return value_error(function, std::string(messages::kTiesLength) + std::to_string(tie_positions.size()) +
                                         std::string(messages::kTiesLengthEnd) + std::to_string(values.size()));
    keys.resize(values.size());
    for (std::size_t j = 0; j < values.size(); ++j) keys[j] = numpy_order_key(values[j]);
    std::size_t at = 0;
    switch (check_splitters(keys.data(), tie_positions.data(), keys.size(), at)) {
        case SplitterCheck::kOk:
            return true;
        case SplitterCheck::kUnsorted:
            if constexpr (std::is_same_v<T, f64>) {
                if (std::isnan(values[at - 1]))
                    return value_error(function, std::string(messages::kSplitterAfterNaN) + std::to_string(at) +
                                                     std::string(messages::kSplitterAfterNaNEnd));
            }
            return value_error(function, std::string(messages::kSplittersUnsorted) + std::to_string(at) +
                                             std::string(messages::kSplittersUnsortedEnd));
        case SplitterCheck::kTiesDecrease:
            break;
    }
    return value_error(function, std::string(messages::kTiesDecrease) + std::to_string(at) +
                                     std::string(messages::kTiesDecreaseEnd));
}

template <class T>
PyObject* partition_nogil(const char* function, PyObject* args) {
    return guard([&]() -> Result<PyObject*> {
        PyObject *arr = nullptr, *splitters = nullptr, *ties = nullptr;
        if (!PyArg_UnpackTuple(args, function, 3, 3, &arr, &splitters, &ties)) return PyError::fetch();
        // The source is only read: it may be read-only, and shared with other readers.
        Result<TakenArray> source = TakenArray::take(arr, kTypeNumOf<T>, Access::kRead);
        if (!source.ok()) return std::move(source.error());
        Result<ElementSlice<T>> from = source.value().template slice<T>();
        if (!from.ok()) return std::move(from.error());
        std::vector<u64> keys;
        std::vector<i64> tie_positions;
        Result<bool> checked = read_splitters<T>(function, splitters, ties, keys, tie_positions);
        if (!checked.ok()) return std::move(checked.error());

        std::optional<MultiwayPartition<T>> partition;
        {
            GilReleased released(std::span(&source.value(), 1));
            partition.emplace(from.value().data, from.value().len, keys.data(), tie_positions.data(), keys.size());
        }
        // One new array per bucket, so that each can be let go of on its own once its
        // output partition has it. No one else sees them before they are filled.
        Ref list(PyList_New(static_cast<Py_ssize_t>(partition->buckets())));
        if (!list) return PyError::fetch();
        std::vector<T*> places(partition->buckets());
        for (std::size_t b = 0; b < places.size(); ++b) {
            PyObject* bucket = new_array<T>(partition->count(b));
            if (bucket == nullptr) return PyError::fetch();
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(b), bucket);  // steals the reference
            places[b] = reinterpret_cast<T*>(fields(bucket)->data);
        }
        {
            GilReleased released(std::span(&source.value(), 1));
            partition->scatter(places.data());
        }
        return list.release();
    });
}

}  // namespace

PyObject* concat_sort_nogil_f64(PyObject*, PyObject* args) {
    return concat_sort_nogil<f64>("_concat_sort_nogil_f64", args);
}
PyObject* concat_sort_nogil_i64(PyObject*, PyObject* args) {
    return concat_sort_nogil<i64>("_concat_sort_nogil_i64", args);
}
PyObject* partition_nogil_f64(PyObject*, PyObject* args) {
    return partition_nogil<f64>("_partition_nogil_f64", args);
}
PyObject* partition_nogil_i64(PyObject*, PyObject* args) {
    return partition_nogil<i64>("_partition_nogil_i64", args);
}

}  // namespace tamarind::py
