// larkui.finders: look up a child widget, or fail at once with an error that names it.
#include "module.hpp"

namespace {

using namespace lark;

const Name s_findChild{"findChild"}, s___name__{"__name__"}, s_empty{""};
const Name s_TypeVar{"TypeVar"}, s_QObject{"QObject"}, s_T{"T"}, s_bound{"bound"};

struct FindArgs {
    PyObject* parent;
    PyObject* widget_type;
    PyObject* name;
};

// find_child_safe(parent, widget_type, name)
Ref find_child_safe(const Env&, const FindArgs& a) {
    Ref child = call_method(a.parent, s_findChild, a.widget_type, a.name);
    if (is_instance(child.get(), a.widget_type)) return child;

    Ref type_name = getattr(a.widget_type, s___name__);
    Ref type_text = Ref::steal(PyObject_Format(type_name.get(), s_empty.get()));
    Ref message = Ref::steal(PyUnicode_FromFormat("[UI Load Error] Cannot find widget: '%U' (Expected type: %U)",
                                                  a.name, type_text.get()));
    return fail(PyExc_RuntimeError, message.get());
}

const Function<FindArgs> find_child_safe_def{
    "find_child_safe",
    "find_child_safe",
    "\n    安全地尋找 UI 子元件：找不到時立即拋出明確的錯誤，\n"
    "    並支援編輯器的型別推斷 (Type Hinting)。\n    ",
    "T",
    {
        any<&FindArgs::parent>("parent", "QObject"),
        any<&FindArgs::widget_type>("widget_type", "Type[T]"),
        text<&FindArgs::name>("name"),
    },
    find_child_safe,
};

void module_body(Module& m) {
    m.from_import("typing", {"TypeVar", "Type"});
    m.from_import("PySide6.QtCore", {"QObject"});
    m.bind("T", call_with_keywords(m.env().global(s_TypeVar), {s_T}, {{s_bound, m.env().global(s_QObject)}}));
    m.define(find_child_safe_def);
}

const ModuleInfo info{"finders", module_body};

}  // namespace

PyMODINIT_FUNC PyInit_finders() { return init_module(info); }
