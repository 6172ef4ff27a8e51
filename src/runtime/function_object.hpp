// Inside the runtime layer: the function object's layout and how a module makes one.
#pragma once

#include "module.hpp"

namespace lark {

struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    PyObject* dict;
    PyObject* weakrefs;
    PyObject* name;
    PyObject* qualname;
    PyObject* module;       // __module__, text
    PyObject* doc;
    PyObject* defaults;     // tuple or None
    PyObject* kwdefaults;   // dict or None
    PyObject* annotations;  // dict
    PyObject* code;         // what signature inspection reads
    PyObject* globals;      // the namespace of the module that made the function
    PyObject* builtins;
    PyObject* state_box;    // the module's state, held for as long as the function lives
    const void* state;      // the state struct inside it
    PyObject* tb_frame;     // the traceback entry's frame, made on the first error
    PyObject* varnames;     // tuple of the interned parameter names
    Ref (*invoke)(const Env&, const Slots&);
    ParamInfo params[max_params];
    PyTypeObject* exact_types[max_params];
    int nparams;
    int npositional;        // parameters that can be given positionally
    int min_positional;     // required positional parameters
    unsigned convert_mask;  // parameters with a truth, float or integer conversion
    unsigned exact_mask;    // parameters with an exact-type check
    // Defaults by parameter index (strong references), already converted as a call would.
    Slots defaults_bound;
    char file_name[64];
    char tb_name[200];
};

// The arguments of one call and the ints its conversions made, released when the call ends.
class BoundCall {
public:
    Slots slots;

    BoundCall() noexcept = default;
    BoundCall(const BoundCall&) = delete;
    BoundCall& operator=(const BoundCall&) = delete;
    ~BoundCall() {
        for (int i = 0; i < nowned_; ++i) Py_DECREF(owned_[i]);
    }
    PyObject* keep(PyObject* converted) noexcept { return owned_[nowned_++] = converted; }

private:
    PyObject* owned_[max_params];
    int nowned_ = 0;
};

struct FunctionContext {
    PyObject* type;
    PyObject* globals;
    PyObject* builtins;
    PyObject* state_box;
    const void* state;
    const char* full_name;  // "larkui.plotdeck"
    const char* file_name;  // "larkui/plotdeck"
};

// A new function type, one per module object.
Ref new_function_type();
// Makes a function from its plan; `default_objects` holds, by parameter index, the default
// object of each parameter that has one.
Ref create_function(const FunctionPlan& plan, const FunctionContext& context, PyObject* const* default_objects);

// The boundary's one check: a failure with no error set becomes SystemError; then the
// traceback entry `where` is added.
void report_failure(const char* file_name, const char* where, PyObject* globals, PyObject** frame_cache) noexcept;

}  // namespace lark
