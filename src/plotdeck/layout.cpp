// wrap_hosts_in_scroll, wrap_dynamic_charts_into_tabs: chart hosts in a scrolling grid or in tabs.
//
// Lifetimes: in PySide6 a widget detached with setParent(None) is destroyed, children included,
// as soon as its last Python reference goes. So:
// - wrap_hosts_in_scroll holds the found hosts and every widget it takes out of the root layout
//   (the earlier call's scroll area among them) until it returns; the hosts have been moved out
//   by then. What stays behind in those widgets (an earlier scroll area, an earlier tab widget
//   and any host this call does not name) is destroyed on return unless the caller still holds
//   the widget itself.
// - wrap_dynamic_charts_into_tabs releases each detached widget at once and only looks hosts up
//   afterwards: an earlier call's tab widget (never handed out) goes away with all of its hosts,
//   so the hosts returned by an earlier call of either function are built anew, not reused.
#include "callables.gen.hpp"
#include "names.hpp"

#include <vector>

namespace plotdeck {

using namespace lark;

namespace {

const Name s_QScrollArea{"QScrollArea"}, s_QGridLayout{"QGridLayout"};
const Name s_setContentsMargins{"setContentsMargins"}, s_setSpacing{"setSpacing"}, s_takeAt{"takeAt"},
    s_widget{"widget"}, s_setHorizontalScrollBarPolicy{"setHorizontalScrollBarPolicy"},
    s_setVerticalScrollBarPolicy{"setVerticalScrollBarPolicy"}, s_ScrollBarAsNeeded{"ScrollBarAsNeeded"},
    s_setWidgetResizable{"setWidgetResizable"}, s_setHorizontalSpacing{"setHorizontalSpacing"},
    s_setVerticalSpacing{"setVerticalSpacing"}, s_setMinimumWidth{"setMinimumWidth"},
    s_setMinimumHeight{"setMinimumHeight"}, s_setMaximumHeight{"setMaximumHeight"}, s_Preferred{"Preferred"},
    s_Fixed{"Fixed"}, s_MinimumExpanding{"MinimumExpanding"}, s_objectName{"objectName"}, s_get{"get"},
    s_setWidget{"setWidget"}, s_adjustSize{"adjustSize"}, s_sizeHint{"sizeHint"}, s_setObjectName{"setObjectName"},
    s_setRowStretch{"setRowStretch"}, s_addTab{"addTab"}, s_items{"items"};

// self.name(*items): the items of an exact tuple as separate positional arguments.
Ref call_method_unpacked(PyObject* self, const Name& name, PyObject* items) {
    Ref method = getattr(self, name);
    return Ref::steal(PyObject_Call(method.get(), items, nullptr));
}

// Calls fn(item) for each item of an iterable, once: a list or tuple by index, anything else
// through its iterator.
template <class Fn>
void for_each_item(PyObject* iterable, Fn&& fn) {
    if (PyList_CheckExact(iterable) || PyTuple_CheckExact(iterable)) {
        const bool is_list = PyList_CheckExact(iterable);
        for (Py_ssize_t i = 0; i < (is_list ? PyList_GET_SIZE(iterable) : PyTuple_GET_SIZE(iterable)); ++i) {
            Ref item = Ref::borrow(is_list ? PyList_GET_ITEM(iterable, i) : PyTuple_GET_ITEM(iterable, i));
            fn(item);
        }
        return;
    }
    Ref it = Ref::steal(PyObject_GetIter(iterable));
    while (Ref item = Ref::steal_nullable(PyIter_Next(it.get()))) fn(item);
    if (PyErr_Occurred()) throw_error();
}

// The layout of ui_root, created when it has none.
Ref root_layout(const Env& env, PyObject* ui_root) {
    Ref root_lay = call_method(ui_root, s_layout);
    if (root_lay.is_none()) {
        root_lay = call(env.global(s_QVBoxLayout), ui_root);
        call_method(ui_root, s_setLayout, root_lay);
    }
    return root_lay;
}

Ref size_policy(const Env& env, const Name& value) {
    Ref policy = getattr(env.global(s_QSizePolicy).get(), s_Policy);
    return getattr(policy.get(), value);
}

// A column count as the C value max(1, cols); a count too large for C is clamped, since the
// positions it yields are the same for any count above the number of hosts.
long long at_least_one(PyObject* cols) {
    int overflow = 0;
    const long long k = PyLong_AsLongLongAndOverflow(cols, &overflow);
    if (k == -1 && PyErr_Occurred()) throw_error();
    if (overflow > 0) return PY_SSIZE_T_MAX;
    return overflow < 0 || k < 1 ? 1 : k;
}

// The fixed height of a host: None, an int as it is, another number through int().
Ref normalised_height(Ref value) {
    if (value.is_none() || PyLong_CheckExact(value.get())) return value;
    if (!PyNumber_Check(value.get()))
        raise_format(PyExc_TypeError, "Expected %.200s, got %.200s", "int", Py_TYPE(value.get())->tp_name);
    return Ref::steal(PyNumber_Long(value.get()));
}

Ref fixed_height_of(PyObject* host_heights, PyObject* h) {
    if (is_instance(host_heights, reinterpret_cast<PyObject*>(&PyLong_Type)))
        return normalised_height(Ref::borrow(host_heights));
    if (is_instance(host_heights, reinterpret_cast<PyObject*>(&PyDict_Type)))
        return normalised_height(call_method(host_heights, s_get, call_method(h, s_objectName)));
    return Ref::none();
}

}  // namespace

// wrap_hosts_in_scroll(ui_root, host_names, *, cols, root_margins, grid_margins, grid_hgap,
//                      grid_vgap, min_cell_size, host_heights)
Ref wrap_hosts_in_scroll(const Env& env, const args::wrap_hosts_in_scroll& a) {
    // Held for the whole call: a host must outlive its old parent being detached below.
    std::vector<Ref> hosts;
    for_each_item(a.host_names, [&](const Ref& name) {
        Ref w = call_method(a.ui_root, s_findChild, env.global(s_QWidget), name);
        if (!w.is_none()) hosts.push_back(std::move(w));
    });
    if (hosts.empty()) return none();

    Ref root_lay = root_layout(env, a.ui_root);
    call_method_unpacked(root_lay.get(), s_setContentsMargins, a.root_margins);
    call_method(root_lay, s_setSpacing, 6);

    // Every detached widget is held until return, not only the last one: hosts may sit inside
    // any of them (an earlier scroll area, a panel) and would be destroyed with it.
    std::vector<Ref> detached;
    while (truth(call_method(root_lay, s_count).get())) {
        Ref item = call_method(root_lay, s_takeAt, 0);
        Ref w = call_method(item, s_widget);
        if (!w.is_none()) {
            call_method(w, s_setParent, Py_None);
            detached.push_back(std::move(w));
        }
    }

    Ref scroll = call(env.global(s_QScrollArea), a.ui_root);
    call_method(scroll, s_setHorizontalScrollBarPolicy, getattr(env.global(s_Qt).get(), s_ScrollBarAsNeeded));
    call_method(scroll, s_setVerticalScrollBarPolicy, getattr(env.global(s_Qt).get(), s_ScrollBarAsNeeded));
    call_method(scroll, s_setWidgetResizable, false);
    call_method(root_lay, s_addWidget, scroll);

    Ref content = call(env.global(s_QWidget), scroll);
    Ref grid = call(env.global(s_QGridLayout), content);
    call_method_unpacked(grid.get(), s_setContentsMargins, a.grid_margins);
    call_method(grid, s_setHorizontalSpacing, a.grid_hgap);
    call_method(grid, s_setVerticalSpacing, a.grid_vgap);

    const long long ncols = at_least_one(a.cols);
    long long i = 0;
    for (const Ref& h : hosts) {
        call_method(h, s_setParent, content);
        call_method(h, s_setMinimumWidth, Ref::steal(PySequence_GetItem(a.min_cell_size, 0)));
        Ref fixed_height = fixed_height_of(a.host_heights, h.get());
        if (!fixed_height.is_none()) {
            call_method(h, s_setMinimumHeight, fixed_height);
            call_method(h, s_setMaximumHeight, fixed_height);
            call_method(h, s_setSizePolicy, size_policy(env, s_Preferred), size_policy(env, s_Fixed));
        } else {
            call_method(h, s_setMinimumHeight, Ref::steal(PySequence_GetItem(a.min_cell_size, 1)));
            call_method(h, s_setSizePolicy, size_policy(env, s_Preferred), size_policy(env, s_Preferred));
        }
        call_method(grid, s_addWidget, h, i / ncols, i % ncols);
        ++i;
    }

    call_method(scroll, s_setWidget, content);
    call_method(content, s_adjustSize);
    Ref base_size = call_method(content, s_sizeHint);
    call_method(content, s_setMinimumSize, base_size);
    return scroll;
}

namespace {

// The widgets that are parts of the new tab widget: the tab widget itself and its direct
// children (the page stack "qt_tabwidget_stackedwidget" and the tab bar "qt_tabwidget_tabbar").
// Taking one of them as a host would move the tab widget into one of its own pages, and Qt
// would hang. The parts are known only for PySide6's own QTabWidget; another class rebound as
// QTabWidget is asked nothing beyond the documented calls.
class TabWidgetParts {
    std::vector<Ref> parts_;

public:
    TabWidgetParts(const Env& env, const Ref& main_tabs) {
        parts_.push_back(main_tabs);
        if (reinterpret_cast<PyObject*>(Py_TYPE(main_tabs.get())) != state_of(env).QTabWidget.get()) return;
        Ref children = Ref::steal(PySequence_List(call_method(main_tabs, s_children).get()));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(children.get()); ++i)
            parts_.push_back(Ref::borrow(PyList_GET_ITEM(children.get(), i)));
    }
    bool contains(PyObject* widget) const {
        for (const Ref& part : parts_)
            if (part.get() == widget) return true;
        return false;
    }
};

}  // namespace

// wrap_dynamic_charts_into_tabs(ui_root, layout_config, *, cols, root_margins, min_cell_size)
Ref wrap_dynamic_charts_into_tabs(const Env& env, const args::wrap_dynamic_charts_into_tabs& a) {
    Ref root_lay = root_layout(env, a.ui_root);
    while (truth(call_method(root_lay, s_count).get())) {
        Ref item = call_method(root_lay, s_takeAt, 0);
        if (truth(call_method(item, s_widget).get())) call_method(call_method(item, s_widget), s_setParent, Py_None);
    }
    call_method_unpacked(root_lay.get(), s_setContentsMargins, a.root_margins);

    Ref main_tabs = call(env.global(s_QTabWidget));
    call_method(root_lay, s_addWidget, main_tabs);
    const TabWidgetParts tab_widget_parts(env, main_tabs);

    Ref created_widgets_map = Ref::steal(PyDict_New());
    // for tab_name, widget_names in layout_config.items(): the dict's own iterator, which
    // notices a dictionary that changes during the walk.
    Ref entries = Ref::steal(PyObject_GetIter(call_method(a.layout_config, s_items).get()));
    while (Ref entry = Ref::steal_nullable(PyIter_Next(entries.get()))) {
        auto [tab_name, widget_names] = unpack_pair(entry.get());

        Ref tab_container = call(env.global(s_QWidget));
        Ref grid = call(env.global(s_QGridLayout), tab_container);
        Ref total_items = int_of(length(widget_names.get()));
        Ref safe_cols = compare(a.cols, int_of(1).get(), Py_GT) ? Ref::borrow(a.cols) : int_of(1);
        Ref ceil = getattr(env.global(s_math).get(), s_ceil);
        Ref items_per_col = call(ceil, Ref::steal(PyNumber_TrueDivide(total_items.get(), safe_cols.get())));
        const long long rows = PyLong_AsLongLong(items_per_col.get());
        if (rows == -1 && PyErr_Occurred()) throw_error();

        long long i = 0;
        for_each_item(widget_names.get(), [&](const Ref& name) {
            Ref host = call_method(a.ui_root, s_findChild, env.global(s_QWidget), name);
            if (!host.is_none() && tab_widget_parts.contains(host.get())) host = Ref::none();
            if (host.is_none()) {
                host = call(env.global(s_QWidget));
                call_method(host, s_setObjectName, name);
            }
            call_method_unpacked(host.get(), s_setMinimumSize, a.min_cell_size);
            call_method(host, s_setSizePolicy, size_policy(env, s_MinimumExpanding),
                        size_policy(env, s_MinimumExpanding));
            check(PyDict_SetItem(created_widgets_map.get(), name.get(), host.get()));
            if (rows == 0) raise_format(PyExc_ZeroDivisionError, "integer division or modulo by zero");
            const long long current_col = i / rows, current_row = i % rows;
            call_method(grid, s_addWidget, host, current_row, current_col);
            call_method(grid, s_setRowStretch, current_row, 0);
            ++i;
        });
        call_method(grid, s_setRowStretch, items_per_col, 1);

        Ref scroll = call(env.global(s_QScrollArea));
        call_method(scroll, s_setWidgetResizable, true);
        call_method(scroll, s_setWidget, tab_container);
        call_method(main_tabs, s_addTab, scroll, tab_name);
    }
    if (PyErr_Occurred()) throw_error();
    return created_widgets_map;
}

}  // namespace plotdeck
