// _get_start_dir, _set_last_dir: the last-directory memory kept in an attribute of a caller's object.
#include "choosers.hpp"

namespace {

using namespace lark;

const Name s_Path{"Path"};

// _get_start_dir(obj, attr, fallback)
Ref get_start_dir(const Args& a) {
    PyObject* obj = a[0];
    PyObject* attr = a[1];
    PyObject* fallback = a[2];

    if (obj == Py_None) return Ref::borrow(fallback);
    Ref remembered;
    // An unreadable or unusable memory only means starting from the fallback.
    const bool read = choosers::guarded([&] {
        Ref value = Ref::steal(PyObject_GetAttr(obj, attr));
        Ref path_class = global(s_Path);
        if (!is_instance(value.get(), reinterpret_cast<PyObject*>(&PyUnicode_Type)) &&
            !is_instance(value.get(), path_class.get()))
            return;
        if (PyUnicode_GET_LENGTH(str_of(value.get()).get()) == 0) return;
        remembered = call(path_class, value);
    });
    if (!read) PyErr_Clear();
    return remembered ? remembered : Ref::borrow(fallback);
}

// _set_last_dir(obj, attr, path)
Ref set_last_dir(const Args& a) {
    PyObject* obj = a[0];
    PyObject* attr = a[1];
    PyObject* path = a[2];

    if (obj == Py_None) return {};
    // A memory that cannot be stored is simply not kept.
    const bool stored = choosers::guarded([&] {
        Ref value = call(global(s_Path), path);
        check(PyObject_SetAttr(obj, attr, value.get()));
    });
    if (!stored) PyErr_Clear();
    return {};
}

}  // namespace

namespace choosers {

const lark::FunctionSpec get_start_dir{
    "_get_start_dir",
    "_get_start_dir",
    nullptr,
    "Path",
    {lark::any("obj", "object | None"), lark::text("attr"), lark::any("fallback", "Path")},
    ::get_start_dir,
};

const lark::FunctionSpec set_last_dir{
    "_set_last_dir",
    "_set_last_dir",
    nullptr,
    "None",
    {lark::any("obj", "object | None"), lark::text("attr"), lark::any("path", "str | Path")},
    ::set_last_dir,
};

}  // namespace choosers
