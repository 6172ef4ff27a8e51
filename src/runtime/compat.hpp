// The one place where the supported interpreter versions differ in the C API.
#pragma once

#include "ref.hpp"

namespace lark::compat {

// The pending exception as a normalised exception object carrying its traceback, taken out
// of the error indicator (an empty Ref when none is set).
inline Ref take_raised_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return Ref::steal_nullable(PyErr_GetRaisedException());
#else
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb && value) PyException_SetTraceback(value, tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return Ref::steal_nullable(value);
#endif
}

// Makes `exc` the pending exception again (nothing when it is empty).
inline void restore_raised_exception(Ref exc) noexcept {
    if (!exc) return;
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc.release());
#else
    PyObject* value = exc.release();
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(value))), value, PyException_GetTraceback(value));
#endif
}

// The pending exception, taken out of the error indicator and put back later.
struct SavedError {
    Ref exc;
    void save() noexcept { exc = take_raised_exception(); }
    void restore() noexcept { restore_raised_exception(std::move(exc)); }
};

// The running interpreter's version, as (major, minor).
inline void runtime_version(int& major, int& minor) noexcept {
    major = (Py_Version >> 24) & 0xFF;
    minor = (Py_Version >> 16) & 0xFF;
}

}  // namespace lark::compat
