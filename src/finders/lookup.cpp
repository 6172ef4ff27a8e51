// larkui.finders: look up a child widget, or fail at once with an error that names it.
#include "function.hpp"
#include "module.hpp"

namespace {

using namespace lark;

const Name s_findChild{"findChild"};
const Name s___name__{"__name__"};
const Name s_empty{""};

// find_child_safe(parent, widget_type, name)
Ref find_child_safe(const Args& a) {
    PyObject* parent = a[0];
    PyObject* widget_type = a[1];
    PyObject* name = a[2];

    Ref child = call_method(parent, s_findChild, widget_type, name);
    if (is_instance(child.get(), widget_type)) return child;

    Ref type_name = getattr(widget_type, s___name__);
    Ref type_text = Ref::steal(PyObject_Format(type_name.get(), s_empty.get()));
    Ref message = Ref::steal(PyUnicode_FromFormat("[UI Load Error] Cannot find widget: '%U' (Expected type: %U)",
                                                  name, type_text.get()));
    return fail(PyExc_RuntimeError, message.get());
}

const FunctionSpec find_child_safe_spec{
    "find_child_safe",
    "find_child_safe",
    "\n    安全地尋找 UI 子元件：找不到時立即拋出明確的錯誤，\n"
    "    並支援編輯器的型別推斷 (Type Hinting)。\n    ",
    "T",
    {any("parent", "QObject"), any("widget_type", "Type[T]"), text("name")},
    find_child_safe,
};

const Name s_TypeVar{"TypeVar"};
const Name s_QObject{"QObject"};
const Name s_T{"T"};
const Name s_bound{"bound"};

void module_body() {
    from_import("typing", {"TypeVar", "Type"});
    from_import("PySide6.QtCore", {"QObject"});
    bind("T", call_with_keywords(global(s_TypeVar), {s_T}, {{s_bound, global(s_QObject)}}));
    bind("find_child_safe", make_function(find_child_safe_spec));
}

const ModuleInfo info{"finders", module_body};

}  // namespace

PyMODINIT_FUNC PyInit_finders() { return init_module(info); }
