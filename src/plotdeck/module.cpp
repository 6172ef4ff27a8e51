// larkui.plotdeck: the module body, binding its names in the documented order.
#include "plotdeck.hpp"

namespace {

using namespace lark;

const Name s_Qt{"Qt"};
const Name s_SolidLine{"SolidLine"};

Ref tuple_of(std::initializer_list<long> values) {
    Ref t = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(values.size())));
    Py_ssize_t i = 0;
    for (long v : values) PyTuple_SET_ITEM(t.get(), i++, int_of(v).release());
    return t;
}

Ref text(const char* s) { return Ref::steal(PyUnicode_FromString(s)); }

// The class, made the way a class statement makes it: type(name, bases, namespace).
Ref make_buffer_class() {
    Ref ns = Ref::steal(PyDict_New());
    check(PyDict_SetItemString(ns.get(), "__module__", text(module_full_name()).get()));
    check(PyDict_SetItemString(ns.get(), "__qualname__", text("TimeSeriesBuffer").get()));
    check(PyDict_SetItemString(ns.get(), "__doc__", text(plotdeck::buffer_class_doc).get()));
    Ref init_defaults[] = {int_of(10000)};
    Ref set_data_defaults[] = {float_of(0.0)};
    const std::pair<const char*, Ref> members[] = {
        {"__init__", make_function(plotdeck::buffer_init, {init_defaults[0].get()})},
        {"add_point", make_function(plotdeck::buffer_add_point)},
        {"set_data", make_function(plotdeck::buffer_set_data, {set_data_defaults[0].get()})},
        {"flush", make_function(plotdeck::buffer_flush)},
        {"clear", make_function(plotdeck::buffer_clear)},
        {"is_visible", call(reinterpret_cast<PyObject*>(&PyProperty_Type), make_function(plotdeck::buffer_is_visible))},
    };
    for (const auto& [name, value] : members) check(PyDict_SetItemString(ns.get(), name, value.get()));
    Ref bases = Ref::steal(PyTuple_New(0));
    return call(reinterpret_cast<PyObject*>(&PyType_Type), text("TimeSeriesBuffer"), bases, ns);
}

void module_body() {
    from_import("PySide6.QtCore", {"Qt", "QPointF"});
    from_import("PySide6.QtGui", {"QPainter", "QPen", "QColor"});
    from_import("PySide6.QtWidgets", {"QWidget", "QVBoxLayout", "QGraphicsView", "QScrollArea", "QGridLayout",
                                      "QLayout", "QSizePolicy", "QTabWidget"});
    from_import("PySide6.QtCharts", {"QChart", "QChartView", "QValueAxis", "QScatterSeries", "QLineSeries"});
    from_import("typing", {"Sequence"});
    import_as("math", "math");
    import_as("numpy", "np");

    Ref text_value = text("Value"), text_sample = text("Sample");
    bind("build_sample_value_chart",
         make_function(plotdeck::build_sample_value_chart,
                       {text_value.get(), text_sample.get(), Py_True, Py_False, Py_True, Py_False}));
    bind("make_scatter", make_function(plotdeck::make_scatter));
    // Each line factory reads the solid pen style for its own default.
    Ref width = float_of(2.0);
    Ref solid = getattr(global(s_Qt).get(), s_SolidLine);
    bind("make_line", make_function(plotdeck::make_line, {width.get(), solid.get()}));
    solid = getattr(global(s_Qt).get(), s_SolidLine);
    bind("add_line_to_chart", make_function(plotdeck::add_line_to_chart, {width.get(), solid.get()}));

    Ref cols = int_of(2), gap = int_of(6);
    Ref root_margins = tuple_of({6, 50, 6, 6});  // shared by both layout functions
    bind("wrap_hosts_in_scroll",
         make_function(plotdeck::wrap_hosts_in_scroll, {cols.get(), root_margins.get(), tuple_of({6, 6, 6, 6}).get(),
                                                        gap.get(), gap.get(), tuple_of({800, 500}).get(), Py_None}));
    bind("wrap_dynamic_charts_into_tabs",
         make_function(plotdeck::wrap_dynamic_charts_into_tabs,
                       {cols.get(), root_margins.get(), tuple_of({500, 350}).get()}));

    bind("TimeSeriesBuffer", make_buffer_class());

    Ref margin_ratio = float_of(0.1);
    bind("sync_scrolling_chart",
         make_function(plotdeck::sync_scrolling_chart, {Py_None, margin_ratio.get(), Py_None, int_of(1).get()}));
    bind("sync_snapshot_chart", make_function(plotdeck::sync_snapshot_chart, {Py_None, margin_ratio.get()}));
}

const ModuleInfo info{"plotdeck", module_body};

}  // namespace

PyMODINIT_FUNC PyInit_plotdeck() { return init_module(info); }
