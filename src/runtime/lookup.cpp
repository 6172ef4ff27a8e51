#include "lookup.hpp"

namespace lark {

PyObject* plain_lookup(PyObject* obj, const Name& name, PyTypeObject* genuine) {
    PyTypeObject* type = Py_TYPE(obj);
    if (type->tp_getattro != genuine->tp_getattro || !PyType_IsSubtype(type, genuine)) return nullptr;
    if (Ref own = Ref::steal_nullable(PyObject_GenericGetDict(obj, nullptr))) {
        // An attribute of the instance's own wins over the class's: that is no plain lookup.
        if (!PyDict_Check(own.get())) return nullptr;
        if (PyDict_GetItemWithError(own.get(), name.get())) return nullptr;
        if (PyErr_Occurred()) throw_error();
    } else {
        expect_error(PyExc_AttributeError);  // no instance dictionary, so no instance attribute
    }
    PyObject* mro = type->tp_mro;
    if (!mro || !PyTuple_Check(mro)) return nullptr;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
        PyObject* base = PyTuple_GET_ITEM(mro, i);
        PyObject* dict = PyType_Check(base) ? compat::type_dict(reinterpret_cast<PyTypeObject*>(base)) : nullptr;
        if (!dict) return nullptr;
        if (PyObject* found = PyDict_GetItemWithError(dict, name.get())) return found;
        // A key whose comparison ran code and failed: the interpreter's own lookup gives up on
        // such a class without raising, so the lookup is left to it, to decide again.
        if (PyErr_Occurred()) {
            if (!clear_if(PyExc_Exception)) throw_error();
            return nullptr;
        }
    }
    return nullptr;
}

Ref call_method_plainly(PyObject* obj, const Name& name, PyTypeObject* genuine) {
    if (genuine) {
        if (PyObject* found = plain_lookup(obj, name, genuine); found && Py_IS_TYPE(found, &PyMethodDescr_Type)) {
            Ref method = Ref::borrow(found);
            return call(method, obj);
        }
    }
    return call_method(obj, name);
}

}  // namespace lark
