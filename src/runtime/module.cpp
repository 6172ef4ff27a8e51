// Module init rules, the module body's helpers, imports, global lookup and traceback entries.
#include "function_object.hpp"

#include <frameobject.h>

#include <cmath>
#include <cstdint>
#include <new>

namespace lark {

namespace {

// Constants of this shared library, fixed by its init export.
const ModuleInfo* module_info = nullptr;
char full_name[64];
char file_name[64];
char init_name[80];

// The loading rules are process-wide: one interpreter, one module object whose body ran.
std::int64_t loaded_interpreter = -1;
bool body_completed = false;

// The state box: the module's state struct in an object of its own, held by the module object
// and by every function it made.
struct StateBox {
    PyObject_HEAD
    alignas(std::max_align_t) unsigned char data[1];
};

void* state_data(PyObject* box) noexcept { return reinterpret_cast<StateBox*>(box)->data; }

int box_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    return module_info->state.traverse(state_data(self), visit, arg);
}

void box_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    module_info->state.destroy(state_data(self));
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot box_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(box_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(box_traverse)},
    {0, nullptr},
};

char box_type_name[80];
PyType_Spec box_spec = {
    box_type_name,
    0,  // basicsize: set by init_module from the state struct's size
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    box_slots,
};

Ref new_state_box() {
    Ref type = Ref::steal(PyType_FromSpec(&box_spec));
    PyObject* box = PyType_GenericAlloc(reinterpret_cast<PyTypeObject*>(type.get()), 0);
    if (!box) throw_error();
    module_info->state.construct(state_data(box));
    return Ref::steal(box);
}

// What a module object keeps; the functions it made hold references of their own to what
// they need, so they outlive it safely.
struct ModuleState {
    int executed;  // the body ran to completion on this module object
    PyObject* state_box;
    PyObject* function_type;
};

ModuleState* state_of(PyObject* module) noexcept { return static_cast<ModuleState*>(PyModule_GetState(module)); }

int state_traverse(PyObject* module, visitproc visit, void* arg) {
    ModuleState* s = state_of(module);
    if (!s) return 0;
    Py_VISIT(s->state_box);
    Py_VISIT(s->function_type);
    return 0;
}

int state_clear(PyObject* module) {
    ModuleState* s = state_of(module);
    if (!s) return 0;
    Py_CLEAR(s->state_box);
    Py_CLEAR(s->function_type);
    return 0;
}

void state_free(void* module) { state_clear(static_cast<PyObject*>(module)); }

PyObject* module_create(PyObject* module_spec, PyModuleDef*) noexcept {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
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

int warn_on_version_change() noexcept {
    int major, minor;
    compat::runtime_version(major, minor);
    if (!version_differs(module_info->built_major, module_info->built_minor, major, minor)) return 0;
    return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                            module_info->built_major, module_info->built_minor, full_name, "does not match", major,
                            minor);
}

int module_exec(PyObject* module) noexcept {
    ModuleState* state = state_of(module);
    if (!state) return -1;
    if (state->executed) return 0;  // the same module again: nothing to do
    if (body_completed) {
        PyErr_Format(PyExc_RuntimeError, "Module '%s' has already been imported. Re-initialisation is not supported.",
                     module_info->short_name);
        return -1;
    }
    if (warn_on_version_change() < 0) return -1;
    if (!Name::intern_all()) return -1;
    PyObject* globals = PyModule_GetDict(module);
    try {
        // A body that failed on this module object left a half-filled state: start afresh.
        Py_XSETREF(state->state_box, new_state_box().release());
        if (!state->function_type) state->function_type = new_function_type().release();
        Ref builtins_module = Ref::steal(PyImport_ImportModule("builtins"));
        Module m(module, state_data(state->state_box), state->state_box, PyModule_GetDict(builtins_module.get()),
                 state->function_type, full_name, file_name);
        module_info->body(m);
        state->executed = 1;
        body_completed = true;
        return 0;
    } catch (const PyErrOccurred&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unexpected C++ exception");
    }
    // A failed body leaves nothing behind in the loading rules, so that a later import may
    // try again with a new module object; functions already made keep this one's namespace.
    report_failure(file_name, init_name, globals, nullptr);
    return -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    LARK_MODULE_GIL_SLOT
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    nullptr,  // name: filled by init_module
    nullptr,  // no module docstring
    sizeof(ModuleState),
    nullptr,
    module_slots,
    state_traverse,
    state_clear,
    state_free,
};

// Whether a loaded module is still being initialised (its __spec__._initializing is true), as
// the import system decides it. A module without __spec__ or without the flag is initialised.
// A flag whose truth test fails counts as initialised on 3.11 and 3.12, whose import system
// ignores that error; 3.13 reports it from PyImport_GetModule before this is asked.
bool is_initializing(PyObject* module) {
    Ref module_spec = Ref::steal_nullable(PyObject_GetAttrString(module, "__spec__"));
    if (!module_spec) {
        expect_error(PyExc_AttributeError);
        return false;
    }
    Ref flag = Ref::steal_nullable(PyObject_GetAttrString(module_spec.get(), "_initializing"));
    if (!flag) {
        expect_error(PyExc_AttributeError);
        return false;
    }
    const int truth = PyObject_IsTrue(flag.get());
    if (truth < 0) {
        if (!compat::import_ignores_initializing_errors) throw_error();
        PyErr_Clear();  // the import system's own rule on this version: see above
        return false;
    }
    return truth > 0;
}

// An already loaded, fully initialised module that has every listed name, or an empty Ref.
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
            expect_error(PyExc_AttributeError);
            return {};
        }
    }
    return module;
}

}  // namespace

bool version_differs(int built_major, int built_minor, int run_major, int run_minor) noexcept {
    return built_major != run_major || built_minor != run_minor;
}

PyObject* init_module(const ModuleInfo& info) noexcept {
    module_info = &info;
    PyOS_snprintf(full_name, sizeof full_name, "larkui.%s", info.short_name);
    PyOS_snprintf(file_name, sizeof file_name, "larkui/%s", info.short_name);
    PyOS_snprintf(init_name, sizeof init_name, "init larkui.%s", info.short_name);
    PyOS_snprintf(box_type_name, sizeof box_type_name, "larkui.%s.state", info.short_name);
    box_spec.basicsize = static_cast<int>(offsetof(StateBox, data) + info.state.size);
    module_def.m_name = full_name;
    return PyModuleDef_Init(&module_def);
}

// ---- lookups at call time ----

Ref Env::global(PyObject* name) const {
    PyObject* value = PyDict_GetItemWithError(globals_, name);
    if (!value) {
        if (PyErr_Occurred()) throw_error();
        value = PyDict_GetItemWithError(builtins_, name);
        if (!value) {
            if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
            throw_error();
        }
    }
    return Ref::borrow(value);
}

// ---- the module body's helpers ----

Module::Module(PyObject* module, void* state, PyObject* state_box, PyObject* builtins, PyObject* function_type,
               const char* full, const char* file)
    : dict_(PyModule_GetDict(module)),
      state_(state),
      state_box_(state_box),
      builtins_(builtins),
      function_type_(function_type),
      full_name_(full),
      file_name_(file),
      env_(dict_, builtins, state),
      constants_(Ref::steal(PyDict_New())) {}

void Module::bind(const char* name, const Ref& value) { check(PyDict_SetItemString(dict_, name, value.get())); }

Ref Module::property(const Ref& getter) { return call(reinterpret_cast<PyObject*>(&PyProperty_Type), getter); }

Ref Module::plain_class(const char* name, const char* doc, Members members) {
    Ref ns = Ref::steal(PyDict_New());
    check(PyDict_SetItemString(ns.get(), "__module__", Ref::steal(PyUnicode_FromString(full_name_)).get()));
    check(PyDict_SetItemString(ns.get(), "__qualname__", Ref::steal(PyUnicode_FromString(name)).get()));
    check(PyDict_SetItemString(ns.get(), "__doc__", doc ? Ref::steal(PyUnicode_FromString(doc)).get() : Py_None));
    for (const auto& [member, value] : members) check(PyDict_SetItemString(ns.get(), member, value.get()));
    Ref bases = Ref::steal(PyTuple_New(0));
    return call(reinterpret_cast<PyObject*>(&PyType_Type), Ref::steal(PyUnicode_FromString(name)), bases, ns);
}

void Module::set_members(const Ref& type, Members members) {
    for (const auto& [member, value] : members) check(PyObject_SetAttrString(type.get(), member, value.get()));
}

Ref Module::from_import(const char* module, std::initializer_list<const char*> names) {
    Ref module_name = Ref::steal(PyUnicode_FromString(module));
    Ref name_list = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    Py_ssize_t i = 0;
    for (const char* n : names) PyTuple_SET_ITEM(name_list.get(), i++, check(PyUnicode_InternFromString(n)));

    Ref imported = loaded_module_with(module_name.get(), name_list.get());
    if (!imported)
        imported = Ref::steal(PyImport_ImportModuleLevelObject(module_name.get(), dict_, nullptr, name_list.get(), 0));
    for (i = 0; i < PyTuple_GET_SIZE(name_list.get()); ++i) {
        PyObject* name = PyTuple_GET_ITEM(name_list.get(), i);
        Ref value = Ref::steal_nullable(PyObject_GetAttr(imported.get(), name));
        if (!value) {
            expect_error(PyExc_AttributeError);
            // A submodule that is loaded but not (yet) an attribute of its package. An object
            // that is no module has no package name (SystemError "nameless module", or a
            // TypeError for a non-module).
            Ref package = Ref::steal_nullable(PyModule_GetNameObject(imported.get()));
            if (!package && !clear_if(PyExc_SystemError)) expect_error(PyExc_TypeError);
            Ref full = package ? Ref::steal(PyUnicode_FromFormat("%U.%U", package.get(), name)) : Ref();
            if (full) {
                value = Ref::steal_nullable(PyImport_GetModule(full.get()));
                if (!value && PyErr_Occurred()) throw_error();
            }
            if (!value) raise_format(PyExc_ImportError, "cannot import name %R", name);
        }
        check(PyDict_SetItem(dict_, name, value.get()));
    }
    return imported;
}

Ref Module::import_module(const char* module) {
    Ref module_name = Ref::steal(PyUnicode_FromString(module));
    Ref imported = loaded_module_with(module_name.get(), nullptr);
    if (!imported) {
        Ref top = Ref::steal(PyImport_ImportModuleLevelObject(module_name.get(), dict_, nullptr, nullptr, 0));
        // A dotted import returns the top package; the leaf module is the one asked for.
        imported = Ref::steal(PyImport_GetModule(module_name.get()));
    }
    return imported;
}

Ref Module::import_as(const char* module, const char* as_name) {
    Ref imported = import_module(module);
    bind(as_name, imported);
    return imported;
}

Ref Module::shared_constant(Ref made) {
    // Keyed by type and value, as a compiled module's constants are merged; a float's sign
    // is part of its key, so that 0.0 and -0.0 stay apart.
    Ref key;
    if (PyFloat_CheckExact(made.get()))
        key = Ref::steal(Py_BuildValue("(OOi)", Py_TYPE(made.get()), made.get(),
                                       std::signbit(PyFloat_AS_DOUBLE(made.get())) ? 1 : 0));
    else
        key = Ref::steal(PyTuple_Pack(2, Py_TYPE(made.get()), made.get()));
    PyObject* shared = PyDict_SetDefault(constants_.get(), key.get(), made.get());
    return Ref::borrow(check(shared));
}

Ref Module::default_object(const Default& d) {
    switch (d.kind) {
        case Default::Kind::none:
            return Ref::none();
        case Default::Kind::boolean:
            return Ref::of(d.flag);
        case Default::Kind::integer:
            return shared_constant(int_of(d.integer_value));
        case Default::Kind::real:
            return shared_constant(float_of(d.real_value));
        case Default::Kind::text:
            return Ref::steal(PyUnicode_InternFromString(d.text_value));
        case Default::Kind::ints: {
            Ref t = Ref::steal(PyTuple_New(d.ints_count));
            for (int k = 0; k < d.ints_count; ++k) PyTuple_SET_ITEM(t.get(), k, int_of(d.ints_value[k]).release());
            return shared_constant(std::move(t));
        }
        case Default::Kind::attribute: {
            // global.attribute, read now through the module namespace (then the builtins), once
            // for each function that has such a default.
            Ref global_name = Ref::steal(PyUnicode_InternFromString(d.text_value));
            return Ref::steal(PyObject_GetAttrString(env_.global(global_name.get()).get(), d.attribute_name));
        }
        case Default::Kind::required:
            break;
    }
    return {};
}

Ref Module::function(const FunctionPlan& plan) {
    Ref made[max_params];
    PyObject* objects[max_params] = {};
    for (int i = 0; i < plan.nparams; ++i) {
        made[i] = default_object(plan.params[i].default_value);
        objects[i] = made[i].get();
    }
    const FunctionContext context{function_type_, dict_, builtins_, state_box_, state_, full_name_, file_name_};
    return create_function(plan, context, objects);
}

// ---- traceback entries ----

void add_traceback_entry(const char* file, const char* function_name, PyObject* globals,
                         PyObject** frame_cache) noexcept {
    Ref saved = take_error();
    // The entry's frame has no locals and never runs, so one frame per function serves every error.
    PyObject* frame = frame_cache ? Py_XNewRef(*frame_cache) : nullptr;
    if (!frame && globals) {
        PyCodeObject* code = PyCode_NewEmpty(file, function_name, 1);
        if (code) {
            frame = reinterpret_cast<PyObject*>(PyFrame_New(PyThreadState_Get(), code, globals, nullptr));
            Py_DECREF(code);
        }
        if (frame && frame_cache) *frame_cache = Py_NewRef(frame);
    }
    if (!frame) PyErr_Clear();  // no entry, but the original error stays
    restore_error(std::move(saved));
    if (frame) {
        PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame));
        Py_DECREF(frame);
    }
}

}  // namespace lark
