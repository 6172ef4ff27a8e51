// larkui.finders: look up a child widget, or fail at once with an error that names it.
#include "callables.gen.hpp"
#include "names.hpp"

namespace finders {

using namespace lark;

namespace {
const Name s___name__{"__name__"}, s_empty{""};
const Name s_TypeVar{"TypeVar"}, s_T{"T"}, s_bound{"bound"};
}  // namespace

// T = TypeVar("T", bound=QObject)
Ref type_variable(Module& m, State&) {
    return call_with_keywords(m.env().global(s_TypeVar), {s_T}, {{s_bound, m.env().global(s_QObject)}});
}

// find_child_safe(parent, widget_type, name)
Ref find_child_safe(const Env&, const args::find_child_safe& a) {
    Ref child = call_method(a.parent, s_findChild, a.widget_type, a.name);
    if (is_instance(child.get(), a.widget_type)) return child;

    Ref type_name = getattr(a.widget_type, s___name__);
    Ref type_text = Ref::steal(PyObject_Format(type_name.get(), s_empty.get()));
    Ref message = Ref::steal(PyUnicode_FromFormat("[UI Load Error] Cannot find widget: '%U' (Expected type: %U)",
                                                  a.name, type_text.get()));
    raise_value(PyExc_RuntimeError, message.get());
}

}  // namespace finders
