// The objects the fast paths of larkui.streaming compare against, make arrays with, measure labels
// with and set ticks to, found while the module body runs.
#include "streaming.hpp"
#include "names.hpp"

namespace streaming {

using namespace lark;

namespace {
const Name s_ascontiguousarray{"ascontiguousarray"}, s_QFontMetricsF{"QFontMetricsF"}, s_TickType{"TickType"},
    s_TicksDynamic{"TicksDynamic"}, s_QtGraphs{"PySide6.QtGraphs"};
}  // namespace

// A stand-in module without one of them only means no fast path (or, for the ticks, an error
// when sync_stream_chart needs them).
void keep_fast_path_objects(Module& m, State& state) {
    Ref charts = m.import_module("PySide6.QtCharts");
    state.QXYSeries = attribute_if_any(charts.get(), s_QXYSeries);
    state.replace = own_class_entry(state.QXYSeries.get(), s_replace);
    state.replaceNp = own_class_entry(state.QXYSeries.get(), s_replaceNp);
    state.clear = own_class_entry(state.QXYSeries.get(), s_clear);
    if (Ref axis = attribute_if_any(charts.get(), s_QValueAxis))
        if (Ref types = attribute_if_any(axis.get(), s_TickType)) state.TicksDynamic = attribute_if_any(types.get(), s_TicksDynamic);
    Ref gui = m.import_module("PySide6.QtGui");
    state.QFontMetricsF = attribute_if_any(gui.get(), s_QFontMetricsF);
    state.QGuiApplication = attribute_if_any(gui.get(), s_QGuiApplication);
    Ref numpy = m.import_module("numpy");
    state.empty = attribute_if_any(numpy.get(), s_empty);
    state.float64 = attribute_if_any(numpy.get(), s_float64);
    state.ascontiguousarray = attribute_if_any(numpy.get(), s_ascontiguousarray);
}

const State& graphs_known(const Env& env) {
    const State& state = state_of(env);
    if (state.graphs_QXYSeries) return state;
    // Asked at every sync until someone imports Qt Graphs: one lookup in sys.modules.
    Ref graphs = Ref::steal_nullable(PyImport_GetModule(s_QtGraphs.get()));
    if (!graphs) {
        if (PyErr_Occurred()) throw_error();
        return state;  // not imported: no series or axis of it can exist
    }
    if (!PyModule_Check(graphs.get())) return state;
    Ref xy = attribute_if_any(graphs.get(), s_QXYSeries);
    Ref axis = attribute_if_any(graphs.get(), s_QValueAxis);
    if (!xy || !PyType_Check(xy.get()) || !axis || !PyType_Check(axis.get())) return state;
    state.graphs_replace = own_class_entry(xy.get(), s_replace);
    state.graphs_replaceNp = own_class_entry(xy.get(), s_replaceNp);
    state.graphs_QValueAxis = std::move(axis);
    state.graphs_QXYSeries = std::move(xy);  // last: it says the others are there
    return state;
}

}  // namespace streaming
