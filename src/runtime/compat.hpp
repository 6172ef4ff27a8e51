// The one place where the supported interpreter versions differ in the C API.
#pragma once

#include "ref.hpp"

namespace lark::compat {

// The pending exception, taken out of the error indicator and put back later.
struct SavedError {
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* exc = nullptr;
    void save() noexcept { exc = PyErr_GetRaisedException(); }
    void restore() noexcept { PyErr_SetRaisedException(exc); exc = nullptr; }
#else
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    void save() noexcept { PyErr_Fetch(&type, &value, &tb); }
    void restore() noexcept {
        PyErr_Restore(type, value, tb);
        type = value = tb = nullptr;
    }
#endif
};

// The running interpreter's version, as (major, minor).
inline void runtime_version(int& major, int& minor) noexcept {
    major = (Py_Version >> 24) & 0xFF;
    minor = (Py_Version >> 16) & 0xFF;
}

}  // namespace lark::compat
