// Attribute lookups that a fast path can make without running any Python code.
#pragma once

#include "ref.hpp"

namespace lark {

// What `obj.<name>` finds, when that lookup runs no Python code: the instance has no attribute
// of that name in its dictionary and its type looks attributes up the way `genuine`, one of its
// bases, does. The result is then the first entry of that name along the type's MRO (borrowed).
// Null when the lookup could run Python code or finds nothing. An error that the real lookup
// raises too (a key of the instance dictionary whose comparison fails) propagates.
PyObject* plain_lookup(PyObject* obj, const Name& name, PyTypeObject* genuine);

// obj.<name>(), with the class's method called directly when the lookup is plain and finds a
// method of a C type: that is what the bound method would call, without making one (a PySide6
// object's own attribute lookup costs more than the call it serves). Otherwise the usual call.
Ref call_method_plainly(PyObject* obj, const Name& name, PyTypeObject* genuine);

}  // namespace lark
