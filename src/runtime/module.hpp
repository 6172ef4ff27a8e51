// Module loading rules, the module namespace at call time, imports and traceback entries.
#pragma once

#include "ref.hpp"

#include <initializer_list>

namespace lark {

// What a module file declares about itself.
struct ModuleInfo {
    const char* short_name;  // "plotdeck"
    void (*body)();          // runs the module body; throws PyErrOccurred on failure
};

// The init export's work: returns the (multi-phase) module definition.
PyObject* init_module(const ModuleInfo& info) noexcept;

// The module's own names, set while the module initialises: "larkui.plotdeck", "larkui/plotdeck".
const char* module_full_name() noexcept;
const char* module_file_name() noexcept;

// Looks `name` up in the module namespace, then in the builtins, at the moment of the call.
// A missing name raises NameError "name '%U' is not defined".
Ref global(const Name& name);

// Binds `value` under `name` in the module namespace.
void bind(const char* name, PyObject* value);
inline void bind(const char* name, const Ref& value) { bind(name, value.get()); }

// `from <module> import a, b, ...`: binds each name in the module namespace, in order.
void from_import(const char* module, std::initializer_list<const char*> names);
// `import <module> as <as_name>` (as_name may equal the module name).
void import_as(const char* module, const char* as_name);

// Adds a traceback entry named `function_name` in the module's file to the pending error.
// `frame_cache` keeps the entry's frame between errors (may be null).
void add_traceback_entry(const char* function_name, PyObject** frame_cache) noexcept;

// The module object whose body ran (borrowed).
PyObject* current_module() noexcept;

}  // namespace lark
