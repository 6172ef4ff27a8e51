#include "arrays.hpp"

#include "lookup.hpp"
#include "names.hpp"

#include <cstring>

namespace lark {

namespace {

bool is_native_double(const char* format) {
    if (!format) return false;
    if (format[0] == '@' || format[0] == '=' || format[0] == (PY_LITTLE_ENDIAN ? '<' : '>')) ++format;
    return std::strcmp(format, "d") == 0;
}
}  // namespace

double* writable_doubles(PyObject* array, Py_ssize_t n) {
    Py_buffer view;
    if (PyObject_GetBuffer(array, &view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) {
        expect_error(PyExc_BufferError);
        return nullptr;
    }
    const bool fits = is_native_double(view.format) && view.itemsize == sizeof(double) &&
                      view.len == n * static_cast<Py_ssize_t>(sizeof(double));
    double* data = static_cast<double*>(view.buf);
    PyBuffer_Release(&view);  // the array keeps its memory; the caller keeps the array
    return fits ? data : nullptr;
}

double* Doubles::fit(PyObject* empty, PyObject* float64, Py_ssize_t n) {
    if (array_ && size_ == n) return data_;
    data_ = nullptr;
    size_ = 0;
    array_ = call_with_keywords(empty, {static_cast<long long>(n)}, {{s_dtype, float64}});
    data_ = writable_doubles(array_.get(), n);
    if (data_) size_ = n;
    return data_;
}

bool takes_replace_np(PyObject* series, PyObject* xy_type, PyObject* own_replace, PyObject* replace_np) {
    if (!xy_type || !own_replace || !replace_np || !PyType_Check(xy_type)) return false;
    return plain_lookup(series, s_replace, reinterpret_cast<PyTypeObject*>(xy_type)) == own_replace;
}

}  // namespace lark
