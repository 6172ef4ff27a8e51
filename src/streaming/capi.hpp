// What larkui.streaming offers other extension modules of larkui, through the PyCapsule it binds
// as `_C_API`: its two classes and a read-only view of a history's doubles. larkui.plotdeck looks
// it up at call time, only for an object whose type is named like a StreamHistory, and trusts it
// only when that type is the capsule's own.
#pragma once

#include "compat.hpp"

namespace streaming {

inline constexpr const char* capi_capsule_name = "larkui.streaming._C_API";
inline constexpr unsigned capi_version = 1;

struct CApi {
    unsigned version;  // capi_version
    PyTypeObject* buffer_type;   // StreamBuffer (a strong reference, held by the capsule)
    PyTypeObject* history_type;  // StreamHistory (likewise); exact, it cannot be subclassed
    // How many values a history offers now. Runs no Python code.
    Py_ssize_t (*history_length)(PyObject* history);
    // The values of a history from `start` (0 <= start <= length) to its end, oldest first, as at
    // most two contiguous runs of doubles (a run may be empty). Runs no Python code; the runs stay
    // valid until Python code runs.
    void (*history_runs)(PyObject* history, Py_ssize_t start, const double** first, Py_ssize_t* first_n,
                         const double** second, Py_ssize_t* second_n);
};

}  // namespace streaming
