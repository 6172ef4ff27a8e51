// What the bodies of larkui.choosers share: the error guard of the last-directory memory.
#pragma once

#include "callables.gen.hpp"

namespace choosers {

// Runs `step` as `try: step() except Exception: ...` would: true when it finished, false
// when it raised an Exception-family error, which stays set for the caller to take or
// clear. KeyboardInterrupt, SystemExit and other BaseException-only errors propagate.
template <class Step>
bool guarded(Step&& step) {
    try {
        step();
        return true;
    } catch (const lark::PyErrOccurred&) {
        if (!PyErr_ExceptionMatches(PyExc_Exception)) throw;
        return false;
    }
}

}  // namespace choosers
