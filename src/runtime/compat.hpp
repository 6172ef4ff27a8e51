// The one place where the supported interpreters and compilers differ.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Compiler hints: error paths kept out of line, printf-style format checks. Other compilers
// get plain functions.
#if defined(__GNUC__) || defined(__clang__)
#define LARK_COLD __attribute__((noinline, cold))
#define LARK_PRINTF(format_index, first_arg) __attribute__((format(printf, format_index, first_arg)))
#elif defined(_MSC_VER)
#define LARK_COLD __declspec(noinline)
#define LARK_PRINTF(format_index, first_arg)
#else
#define LARK_COLD
#define LARK_PRINTF(format_index, first_arg)
#endif

// Member types of PyMemberDef tables: the names Python.h has since 3.12, structmember.h's before.
#if PY_VERSION_HEX >= 0x030C0000
#define LARK_MEMBER_OBJECT Py_T_OBJECT_EX
#define LARK_MEMBER_SSIZE Py_T_PYSSIZET
#define LARK_MEMBER_READONLY Py_READONLY
#else
#include <structmember.h>
#define LARK_MEMBER_OBJECT T_OBJECT_EX
#define LARK_MEMBER_SSIZE T_PYSSIZET
#define LARK_MEMBER_READONLY READONLY
#endif

namespace lark::compat {

// The pending exception as a normalised exception object carrying its traceback, taken out
// of the error indicator (null when none is set). A new reference.
inline PyObject* take_raised_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb && value) PyException_SetTraceback(value, tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return value;
#endif
}

// Makes `exc` (a reference that is taken over; null for none) the pending exception again.
inline void restore_raised_exception(PyObject* exc) noexcept {
    if (!exc) return;
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc);
#else
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc))), exc, PyException_GetTraceback(exc));
#endif
}

// The dictionary of a type's own attributes (borrowed).
inline PyObject* type_dict(PyTypeObject* type) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* dict = PyType_GetDict(type);  // a new reference to a dict the type keeps
    Py_XDECREF(dict);
    return dict;
#else
    return type->tp_dict;
#endif
}

// Whether the import system takes a module whose __spec__._initializing fails its truth test for
// an initialised one (3.11, 3.12) instead of reporting the error (3.13 and later).
constexpr bool import_ignores_initializing_errors = PY_VERSION_HEX < 0x030D0000;

// The running interpreter's version, as (major, minor).
inline void runtime_version(int& major, int& minor) noexcept {
    major = (Py_Version >> 24) & 0xFF;
    minor = (Py_Version >> 16) & 0xFF;
}

}  // namespace lark::compat

// The module slot that declares the GIL is needed (3.13 and later).
#if defined(Py_mod_gil)
#define LARK_MODULE_GIL_SLOT {Py_mod_gil, Py_MOD_GIL_USED},
#else
#define LARK_MODULE_GIL_SLOT
#endif
