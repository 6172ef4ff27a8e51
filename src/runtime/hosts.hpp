// Finding a chart's host widget by object name and giving it a layout: the steps that
// build_sample_value_chart takes, taken the same way for a Qt Graphs graph.
#pragma once

#include "module.hpp"
#include "names.hpp"

namespace lark {

// RuntimeError "找不到 QWidget(objectName='NAME')".
[[noreturn]] inline void raise_host_missing(PyObject* host_name) {
    Ref head = Ref::steal(PyUnicode_Concat(s_missing_head.get(), host_name));
    Ref message = Ref::steal(PyUnicode_Concat(head.get(), s_missing_tail.get()));
    raise_value(PyExc_RuntimeError, message.get());
}

// ui_root.findChild(QWidget, host_name), or the error above; a host without a layout gets a
// QVBoxLayout. Returns the host's layout, asked for again after the step.
inline Ref host_layout(const Env& env, PyObject* ui_root, PyObject* host_name) {
    Ref host = call_method(ui_root, s_findChild, env.global(s_QWidget), host_name);
    if (host.is_none()) raise_host_missing(host_name);
    if (call_method(host, s_layout).is_none()) {
        Ref layout = call(env.global(s_QVBoxLayout), host);
        call_method(host, s_setLayout, layout);
    }
    return call_method(host, s_layout);
}

}  // namespace lark
