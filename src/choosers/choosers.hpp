// The callables of larkui.choosers, one table each, and the error guard they share.
#pragma once

#include "module.hpp"

namespace choosers {

// memory.cpp
extern const lark::FunctionPlan get_start_dir;
extern const lark::FunctionPlan set_last_dir;
// pickers.cpp
extern const lark::FunctionPlan pick_folder_path;
extern const lark::FunctionPlan pick_file_path;
// collection.cpp
extern const lark::FunctionPlan collect_files_from_lineEdit;

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
