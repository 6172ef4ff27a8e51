// _get_start_dir, _set_last_dir: the last-directory memory kept in an attribute of a caller's object.
#include "choosers.hpp"
#include "names.hpp"

namespace choosers {

using namespace lark;

namespace {


}  // namespace

// _get_start_dir(obj, attr, fallback)
Ref get_start_dir(const Env& env, const args::get_start_dir& a) {
    PyObject* obj = a.obj;
    PyObject* attr = a.attr;
    PyObject* fallback = a.fallback;

    if (obj == Py_None) return Ref::borrow(fallback);
    Ref remembered;
    // An unreadable or unusable memory only means starting from the fallback.
    const bool read = choosers::guarded([&] {
        Ref value = Ref::steal(PyObject_GetAttr(obj, attr));
        // isinstance(value, (str, Path)): the tuple, Path included, is made before the check.
        Ref path_class = env.global(s_Path);
        if (!is_instance(value.get(), reinterpret_cast<PyObject*>(&PyUnicode_Type)) &&
            !is_instance(value.get(), path_class.get()))
            return;
        if (PyUnicode_GET_LENGTH(str_of(value.get()).get()) == 0) return;
        remembered = call(env.global(s_Path), value);
    });
    if (!read) PyErr_Clear();
    return remembered ? remembered : Ref::borrow(fallback);
}

// _set_last_dir(obj, attr, path)
Ref set_last_dir(const Env& env, const args::set_last_dir& a) {
    if (a.obj == Py_None) return none();
    // A memory that cannot be stored is simply not kept.
    const bool stored = choosers::guarded([&] {
        Ref value = call(env.global(s_Path), a.path);
        check(PyObject_SetAttr(a.obj, a.attr, value.get()));
    });
    if (!stored) PyErr_Clear();
    return none();
}

}  // namespace choosers
