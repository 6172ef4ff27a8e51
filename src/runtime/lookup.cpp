#include "lookup.hpp"

namespace lark {

PyObject* plain_lookup(PyObject* obj, const Name& name, PyTypeObject* genuine) noexcept {
    PyTypeObject* type = Py_TYPE(obj);
    if (type->tp_getattro != genuine->tp_getattro || !PyType_IsSubtype(type, genuine)) return nullptr;
    if (PyObject* own = PyObject_GenericGetDict(obj, nullptr)) {
        const bool shadowed = !PyDict_Check(own) || PyDict_GetItemWithError(own, name.get()) || PyErr_Occurred();
        Py_DECREF(own);
        if (shadowed) {
            PyErr_Clear();
            return nullptr;
        }
    } else {
        PyErr_Clear();  // no instance dictionary, so no instance attribute
    }
    PyObject* mro = type->tp_mro;
    if (!mro || !PyTuple_Check(mro)) return nullptr;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
        PyObject* base = PyTuple_GET_ITEM(mro, i);
        PyObject* dict = PyType_Check(base) ? compat::type_dict(reinterpret_cast<PyTypeObject*>(base)) : nullptr;
        if (!dict) return nullptr;
        if (PyObject* found = PyDict_GetItemWithError(dict, name.get())) return found;
        if (PyErr_Occurred()) {
            PyErr_Clear();
            return nullptr;
        }
    }
    return nullptr;
}

}  // namespace lark
