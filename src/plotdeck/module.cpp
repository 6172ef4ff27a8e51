// larkui.plotdeck: the module body, binding its names in the documented order.
#include "plotdeck.hpp"

namespace plotdeck {

const lark::Name kept_QPointF{"QPointF"}, kept_QTabWidget{"QTabWidget"}, kept_QXYSeries{"QXYSeries"},
    kept_replace{"replace"}, kept_replaceNp{"replaceNp"}, kept_ndarray{"ndarray"}, kept_float64{"float64"},
    kept_require{"require"}, kept_arange{"arange"};

}  // namespace plotdeck

namespace {

using namespace lark;
using namespace plotdeck;

Ref text(const char* s) { return Ref::steal(PyUnicode_FromString(s)); }

// The objects a snapshot flush compares against before it writes a frame through replaceNp,
// and the tab widget class whose parts are never hosts.
void keep_fast_path_objects(Module& m, PyObject* charts, PyObject* numpy) {
    m.keep(kept_QPointF, m.env().global(kept_QPointF).get());
    m.keep(kept_QTabWidget, m.env().global(kept_QTabWidget).get());
    m.keep_attribute(kept_QXYSeries, charts);
    m.keep_class_entry(kept_replace, kept_QXYSeries);
    m.keep_class_entry(kept_replaceNp, kept_QXYSeries);
    for (const Name* key : {&kept_ndarray, &kept_float64, &kept_require, &kept_arange}) m.keep_attribute(*key, numpy);
}

// The class, made the way a class statement makes it: type(name, bases, namespace).
Ref make_buffer_class(Module& m) {
    Ref ns = Ref::steal(PyDict_New());
    check(PyDict_SetItemString(ns.get(), "__module__", text(m.full_name()).get()));
    check(PyDict_SetItemString(ns.get(), "__qualname__", text("TimeSeriesBuffer").get()));
    check(PyDict_SetItemString(ns.get(), "__doc__", text(buffer_class_doc).get()));
    const std::pair<const char*, Ref> members[] = {
        {"__init__", m.function(buffer_init)},
        {"add_point", m.function(buffer_add_point)},
        {"set_data", m.function(buffer_set_data)},
        {"flush", m.function(buffer_flush)},
        {"clear", m.function(buffer_clear)},
        {"is_visible", call(reinterpret_cast<PyObject*>(&PyProperty_Type), m.function(buffer_is_visible))},
    };
    for (const auto& [name, value] : members) check(PyDict_SetItemString(ns.get(), name, value.get()));
    Ref bases = Ref::steal(PyTuple_New(0));
    return call(reinterpret_cast<PyObject*>(&PyType_Type), text("TimeSeriesBuffer"), bases, ns);
}

void module_body(Module& m) {
    m.from_import("PySide6.QtCore", {"Qt", "QPointF"});
    m.from_import("PySide6.QtGui", {"QPainter", "QPen", "QColor"});
    m.from_import("PySide6.QtWidgets", {"QWidget", "QVBoxLayout", "QGraphicsView", "QScrollArea", "QGridLayout",
                                        "QLayout", "QSizePolicy", "QTabWidget"});
    Ref charts = m.from_import("PySide6.QtCharts", {"QChart", "QChartView", "QValueAxis", "QScatterSeries", "QLineSeries"});
    m.from_import("typing", {"Sequence"});
    m.import_as("math", "math");
    Ref numpy = m.import_as("numpy", "np");
    keep_fast_path_objects(m, charts.get(), numpy.get());

    m.define(build_sample_value_chart);
    m.define(make_scatter);
    m.define(make_line);  // each line factory reads Qt.SolidLine for its own default
    m.define(add_line_to_chart);
    m.define(wrap_hosts_in_scroll);
    m.define(wrap_dynamic_charts_into_tabs);
    m.bind("TimeSeriesBuffer", make_buffer_class(m));
    m.define(sync_scrolling_chart);
    m.define(sync_snapshot_chart);
}

const ModuleInfo info{"plotdeck", module_body};

}  // namespace

PyMODINIT_FUNC PyInit_plotdeck() { return init_module(info); }
