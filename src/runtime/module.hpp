// Module loading rules, module state, the module namespace at call time, imports and traceback
// entries.
#pragma once

#include "function.hpp"

#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <new>
#include <utility>

// The interpreter version a module declares it was compiled for. Builds of test modules
// override it to check the import-time version warning.
#ifndef LARK_BUILT_PY_MAJOR
#define LARK_BUILT_PY_MAJOR PY_MAJOR_VERSION
#endif
#ifndef LARK_BUILT_PY_MINOR
#define LARK_BUILT_PY_MINOR PY_MINOR_VERSION
#endif

namespace lark {

// How the runtime handles a module's state struct S (generated from its description): the
// objects its fast paths and casts trust, filled while the module body runs. S lists its
// references for the garbage collector with `each(visit)`, calling visit(Ref&) on each field.
// The state lives in an object of its own that the module and every function it made hold, so
// a function reaches it without a lookup and keeps it as long as it lives; Python sees that
// object in gc.get_referents() at most, and has no way to change a field.
struct StateKind {
    std::size_t size;
    void (*construct)(void*) noexcept;
    void (*destroy)(void*) noexcept;
    int (*traverse)(void*, visitproc, void*);
};

template <class S>
constexpr StateKind state_kind() {
    return {
        sizeof(S),
        [](void* p) noexcept { new (p) S(); },
        [](void* p) noexcept { static_cast<S*>(p)->~S(); },
        [](void* p, visitproc visit, void* arg) -> int {
            int rc = 0;
            static_cast<S*>(p)->each([&](Ref& r) {
                if (!rc && r) rc = visit(r.get(), arg);
            });
            return rc;
        },
    };
}

// What a function's body can reach besides its arguments: the namespace of the module that made
// the function and that module's state, both held by the function, so that it keeps working
// after the module was replaced or its body failed.
class Env {
    PyObject* globals_;   // borrowed from the function
    PyObject* builtins_;  // borrowed from the function
    const void* state_;   // the module's state struct, held by the function

public:
    Env(PyObject* globals, PyObject* builtins, const void* state) noexcept
        : globals_(globals), builtins_(builtins), state_(state) {}

    // The module-level name, looked up now in the module namespace, then in the builtins.
    // A missing name raises NameError "name '%U' is not defined".
    Ref global(const Name& name) const { return global(name.get()); }
    Ref global(PyObject* name) const;
    // The module's state; S is the state struct of the module that made the function.
    template <class S>
    const S& state() const noexcept {
        return *static_cast<const S*>(state_);
    }
};

class Module;

// What a module file declares about itself.
struct ModuleInfo {
    const char* short_name;  // "plotdeck"
    void (*body)(Module&);   // runs the module body; throws PyErrOccurred on failure
    StateKind state;
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
    const char* full_name() const noexcept { return full_name_; }  // "larkui.plotdeck"
    // The lookup a function made now would do at call time.
    const Env& env() const noexcept { return env_; }
    // The module's state, for the body to fill.
    template <class S>
    S& state() noexcept {
        return *static_cast<S*>(state_);
    }

    // Binds `value` under `name` in the module namespace.
    void bind(const char* name, const Ref& value);
    // `from <module> import a, b, ...`: binds each name in the module namespace, in order, and
    // returns the imported module.
    Ref from_import(const char* module, std::initializer_list<const char*> names);
    // `import <module> as <as_name>`; returns the bound module.
    Ref import_as(const char* module, const char* as_name);
    // The module `module` (a dotted name gives the leaf), imported without binding a name.
    Ref import_module(const char* module);

    // Makes a function of this module from its generated plan (not bound). Plans are constants
    // of static storage; a temporary would be a plan nothing describes.
    Ref function(const FunctionPlan& plan);
    Ref function(FunctionPlan&&) = delete;
    // property(getter): a read-only property.
    Ref property(const Ref& getter);

    using Members = std::initializer_list<std::pair<const char*, Ref>>;
    // The class a class statement makes: type(name, (), namespace), the namespace holding
    // __module__, __qualname__, __doc__ and then the members in order.
    Ref plain_class(const char* name, const char* doc, Members members);
    // Puts the members, in order, on a class made in C++.
    void set_members(const Ref& type, Members members);

    Module(PyObject* module, void* state, PyObject* state_box, PyObject* builtins, PyObject* function_type,
           const char* full_name, const char* file_name);
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

private:
    // The shared object for an equal constant made earlier by this body, or `made` itself.
    Ref shared_constant(Ref made);
    // The default object a plan describes for one parameter.
    Ref default_object(const Default& d);

    PyObject* dict_;
    void* state_;
    PyObject* state_box_;
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
