// Module loading rules, the module namespace at call time, imports and traceback entries.
#pragma once

#include "function.hpp"

#include <initializer_list>

// The interpreter version a module declares it was compiled for. Builds of test modules
// override it to check the import-time version warning.
#ifndef LARK_BUILT_PY_MAJOR
#define LARK_BUILT_PY_MAJOR PY_MAJOR_VERSION
#endif
#ifndef LARK_BUILT_PY_MINOR
#define LARK_BUILT_PY_MINOR PY_MINOR_VERSION
#endif

namespace lark {

// What a function's body can reach besides its arguments: the namespace of the module that
// made the function, whose references the function holds, so that it keeps working after that
// module was replaced or its body failed.
class Env {
    PyObject* globals_;   // borrowed from the function
    PyObject* builtins_;  // borrowed from the function
    PyObject* kept_;      // the module's private objects (a dict, borrowed); may be null

public:
    Env(PyObject* globals, PyObject* builtins, PyObject* kept) noexcept
        : globals_(globals), builtins_(builtins), kept_(kept) {}

    // The module-level name, looked up now in the module namespace, then in the builtins.
    // A missing name raises NameError "name '%U' is not defined".
    Ref global(const Name& name) const;
    // An object the module body kept for the functions' own use (see Module::keep), or null.
    // Never raises and runs no Python code.
    PyObject* kept(const Name& key) const noexcept;
    PyObject* globals() const noexcept { return globals_; }
};

class Module;

// What a module file declares about itself.
struct ModuleInfo {
    const char* short_name;  // "plotdeck"
    void (*body)(Module&);   // runs the module body; throws PyErrOccurred on failure
    int built_major = LARK_BUILT_PY_MAJOR;
    int built_minor = LARK_BUILT_PY_MINOR;
};

// The init export's work: returns the (multi-phase) module definition.
PyObject* init_module(const ModuleInfo& info) noexcept;

// True when the import-time version warning is due: the module was compiled for another
// major or minor version than the running one.
bool version_differs(int built_major, int built_minor, int run_major, int run_minor) noexcept;

// The module being initialised, as its body sees it.
class Module {
public:
    PyObject* object() const noexcept { return module_; }
    PyObject* dict() const noexcept { return dict_; }
    const char* full_name() const noexcept { return full_name_; }  // "larkui.plotdeck"
    // The lookup a function made now would do at call time.
    const Env& env() const noexcept { return env_; }

    // Binds `value` under `name` in the module namespace.
    void bind(const char* name, const Ref& value);
    // `from <module> import a, b, ...`: binds each name in the module namespace, in order, and
    // returns the imported module.
    Ref from_import(const char* module, std::initializer_list<const char*> names);
    // `import <module> as <as_name>`; returns the bound module.
    Ref import_as(const char* module, const char* as_name);
    // The module `module` (a dotted name gives the leaf), imported without binding a name.
    Ref import_module(const char* module);

    // Makes a function of this module from its table (not bound).
    Ref function(const FunctionPlan& plan);
    template <class A>
    Ref function(const Function<A>& def) {
        return function(plan_of(def));
    }
    // Makes the function and binds it under its own name.
    void define(const FunctionPlan& plan) { bind(plan.name, function(plan)); }
    template <class A>
    void define(const Function<A>& def) {
        define(plan_of(def));
    }

    // Keeps `value` for the module's functions (Env::kept), out of the namespace: objects the
    // body found at import that a fast path compares against.
    void keep(const Name& key, PyObject* value);
    // Keeps `owner.<key>`, or nothing when the owner has no such attribute: a stand-in module
    // without it only means no fast path.
    void keep_attribute(const Name& key, PyObject* owner);
    // Keeps the entry `key` of the class dictionary of the kept class `cls`, when there is one.
    void keep_class_entry(const Name& key, const Name& cls);

    Module(PyObject* module, PyObject* state_kept, PyObject* builtins, PyObject* function_type,
           const char* full_name, const char* file_name);
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

private:
    // The shared object for an equal constant made earlier by this body, or `made` itself.
    Ref shared_constant(Ref made);

    PyObject* module_;
    PyObject* dict_;
    PyObject* kept_;
    PyObject* builtins_;
    PyObject* function_type_;
    const char* full_name_;
    const char* file_name_;
    Env env_;
    Ref constants_;  // dict: (type, value) -> the default object made first
};

// Adds a traceback entry named `function_name` in `file_name`, with `globals` as the frame's
// globals, to the pending error. `frame_cache` keeps the entry's frame between errors (may be null).
void add_traceback_entry(const char* file_name, const char* function_name, PyObject* globals,
                         PyObject** frame_cache) noexcept;

}  // namespace lark
