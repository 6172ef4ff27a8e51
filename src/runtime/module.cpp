#include "module.hpp"

#include "compat.hpp"
#include "function.hpp"

#include <frameobject.h>

#include <cstdint>

namespace lark {

namespace {

const ModuleInfo* module_info = nullptr;
char full_name[64];
char file_name[64];
char init_name[80];
PyObject* module_object = nullptr;  // strong: the module whose body ran
PyObject* module_dict = nullptr;    // borrowed from module_object
PyObject* builtins_dict = nullptr;  // strong
std::int64_t loaded_interpreter = -1;

PyObject* module_create(PyObject* module_spec, PyModuleDef*) noexcept {
    std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) return nullptr;
    if (loaded_interpreter == -1) {
        loaded_interpreter = id;
    } else if (loaded_interpreter != id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one interpreter per process.");
        return nullptr;
    }
    PyObject* name = PyObject_GetAttrString(module_spec, "name");
    if (!name) return nullptr;
    PyObject* module = PyModule_NewObject(name);
    Py_DECREF(name);
    return module;
}

int check_binary_version() noexcept {
    int major, minor;
    compat::runtime_version(major, minor);
    if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return 0;
    return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                            PY_MAJOR_VERSION, PY_MINOR_VERSION, full_name, "does not match", major, minor);
}

int module_exec(PyObject* module) noexcept {
    if (module_object) {
        if (module_object == module) return 0;  // the same module again: nothing to do
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.",
                     module_info->short_name);
        return -1;
    }
    if (check_binary_version() < 0) return -1;
    if (!Name::intern_all() || !ready_function_type()) return -1;
    if (!builtins_dict) {
        PyObject* builtins = PyImport_ImportModule("builtins");
        if (!builtins) return -1;
        builtins_dict = Py_NewRef(PyModule_GetDict(builtins));
        Py_DECREF(builtins);
    }
    module_object = Py_NewRef(module);
    module_dict = PyModule_GetDict(module);
    try {
        module_info->body();
        return 0;
    } catch (const PyErrOccurred&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unexpected C++ exception");
    }
    add_traceback_entry(init_name, nullptr);
    // A failed body leaves no module behind, so that a later import may try again.
    Py_CLEAR(module_object);
    module_dict = nullptr;
    return -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    nullptr,  // name: filled by init_module
    nullptr,  // no module docstring
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

bool is_initializing(PyObject* module) noexcept {
    PyObject* module_spec = PyObject_GetAttrString(module, "__spec__");
    if (!module_spec) {
        PyErr_Clear();
        return false;
    }
    PyObject* flag = PyObject_GetAttrString(module_spec, "_initializing");
    Py_DECREF(module_spec);
    if (!flag) {
        PyErr_Clear();
        return false;
    }
    int truth = PyObject_IsTrue(flag);
    Py_DECREF(flag);
    if (truth < 0) PyErr_Clear();
    return truth > 0;
}

// An already loaded, fully initialised module that has every listed name, or null.
Ref loaded_module_with(PyObject* module_name, PyObject* names) {
    Ref module = Ref::steal_nullable(PyImport_GetModule(module_name));
    if (!module) {
        if (PyErr_Occurred()) throw_error();
        return {};
    }
    // A None entry blocks the module: the import proper reports that.
    if (module.is_none() || is_initializing(module.get())) return {};
    for (Py_ssize_t i = 0; names && i < PyTuple_GET_SIZE(names); ++i) {
        Ref value = Ref::steal_nullable(PyObject_GetAttr(module.get(), PyTuple_GET_ITEM(names, i)));
        if (!value) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_error();
            PyErr_Clear();
            return {};
        }
    }
    return module;
}

}  // namespace

PyObject* init_module(const ModuleInfo& info) noexcept {
    module_info = &info;
    PyOS_snprintf(full_name, sizeof full_name, "larkui.%s", info.short_name);
    PyOS_snprintf(file_name, sizeof file_name, "larkui/%s", info.short_name);
    PyOS_snprintf(init_name, sizeof init_name, "init larkui.%s", info.short_name);
    module_def.m_name = full_name;
    return PyModuleDef_Init(&module_def);
}

const char* module_full_name() noexcept { return full_name; }
const char* module_file_name() noexcept { return file_name; }
PyObject* current_module() noexcept { return module_object; }

Ref global(const Name& name) {
    PyObject* value = PyDict_GetItemWithError(module_dict, name.get());
    if (!value) {
        if (PyErr_Occurred()) throw_error();
        value = PyDict_GetItemWithError(builtins_dict, name.get());
        if (!value) {
            if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name.get());
            throw_error();
        }
    }
    return Ref::borrow(value);
}

void bind(const char* name, PyObject* value) { check(PyDict_SetItemString(module_dict, name, value)); }

void from_import(const char* module, std::initializer_list<const char*> names) {
    Ref module_name = Ref::steal(PyUnicode_FromString(module));
    Ref name_list = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    Py_ssize_t i = 0;
    for (const char* n : names) PyTuple_SET_ITEM(name_list.get(), i++, check(PyUnicode_InternFromString(n)));

    Ref imported = loaded_module_with(module_name.get(), name_list.get());
    if (!imported)
        imported = Ref::steal(PyImport_ImportModuleLevelObject(module_name.get(), module_dict, nullptr,
                                                                name_list.get(), 0));
    for (i = 0; i < PyTuple_GET_SIZE(name_list.get()); ++i) {
        PyObject* name = PyTuple_GET_ITEM(name_list.get(), i);
        Ref value = Ref::steal_nullable(PyObject_GetAttr(imported.get(), name));
        if (!value) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_error();
            PyErr_Clear();
            // A submodule that is loaded but not (yet) an attribute of its package.
            Ref package = Ref::steal_nullable(PyModule_GetNameObject(imported.get()));
            if (!package) PyErr_Clear();
            Ref full = package ? Ref::steal(PyUnicode_FromFormat("%U.%U", package.get(), name)) : Ref();
            if (full) {
                value = Ref::steal_nullable(PyImport_GetModule(full.get()));
                if (!value && PyErr_Occurred()) throw_error();
            }
            if (!value) raise_format(PyExc_ImportError, "cannot import name %R", name);
        }
        check(PyDict_SetItem(module_dict, name, value.get()));
    }
}

void import_as(const char* module, const char* as_name) {
    Ref module_name = Ref::steal(PyUnicode_FromString(module));
    Ref imported = loaded_module_with(module_name.get(), nullptr);
    if (!imported) {
        Ref top = Ref::steal(PyImport_ImportModuleLevelObject(module_name.get(), module_dict, nullptr, nullptr, 0));
        // A dotted import returns the top package; the name binds the leaf module.
        imported = Ref::steal(PyImport_GetModule(module_name.get()));
    }
    bind(as_name, imported);
}

void add_traceback_entry(const char* function_name, PyObject** frame_cache) noexcept {
    compat::SavedError saved;
    saved.save();
    // The entry's frame has no locals and never runs, so one frame per function serves every error.
    PyObject* frame = frame_cache ? Py_XNewRef(*frame_cache) : nullptr;
    if (!frame && module_dict) {
        PyCodeObject* code = PyCode_NewEmpty(file_name, function_name, 1);
        if (code) {
            frame = reinterpret_cast<PyObject*>(PyFrame_New(PyThreadState_Get(), code, module_dict, nullptr));
            Py_DECREF(code);
        }
        if (frame && frame_cache) *frame_cache = Py_NewRef(frame);
    }
    if (!frame) PyErr_Clear();  // no entry, but the original error stays
    saved.restore();
    if (frame) {
        PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame));
        Py_DECREF(frame);
    }
}

}  // namespace lark
