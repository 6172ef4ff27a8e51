// larkui.streaming: the module body.
#include "streaming.hpp"

namespace streaming {

const lark::Name kept_StreamBuffer{"StreamBuffer"}, kept_StreamHistory{"StreamHistory"},
    kept_QXYSeries{"QXYSeries"}, kept_replace{"replace"}, kept_replaceNp{"replaceNp"}, kept_clear{"clear"},
    kept_empty{"empty"}, kept_float64{"float64"}, kept_ascontiguousarray{"ascontiguousarray"},
    kept_QFontMetricsF{"QFontMetricsF"}, kept_TicksDynamic{"TicksDynamic"};

}  // namespace streaming

namespace {

using namespace lark;
using namespace streaming;

const Name s_QValueAxis{"QValueAxis"}, s_TickType{"TickType"};

void module_body(Module& m) {
    m.from_import("PySide6.QtCore", {"QPointF"});
    Ref gui = m.import_module("PySide6.QtGui");
    Ref charts = m.import_module("PySide6.QtCharts");
    Ref numpy = m.import_as("numpy", "np");

    // What a flush compares against before it writes through replaceNp, what the buffers make
    // their arrays with, and what the sync measures labels with and sets ticks to.
    m.keep_attribute(kept_QXYSeries, charts.get());
    m.keep_class_entry(kept_replace, kept_QXYSeries);
    m.keep_class_entry(kept_replaceNp, kept_QXYSeries);
    m.keep_class_entry(kept_clear, kept_QXYSeries);
    for (const Name* key : {&kept_empty, &kept_float64, &kept_ascontiguousarray}) m.keep_attribute(*key, numpy.get());
    m.keep_attribute(kept_QFontMetricsF, gui.get());
    if (Ref axis = Ref::steal_nullable(PyObject_GetAttr(charts.get(), s_QValueAxis.get()))) {
        if (Ref types = Ref::steal_nullable(PyObject_GetAttr(axis.get(), s_TickType.get())))
            m.keep_attribute(kept_TicksDynamic, types.get());
    }
    PyErr_Clear();

    Ref history = make_stream_history_class(m);
    m.keep(kept_StreamHistory, history.get());
    Ref buffer = make_stream_buffer_class(m);
    m.keep(kept_StreamBuffer, buffer.get());
    m.bind("StreamBuffer", buffer);
    m.bind("StreamHistory", history);
    m.define(sync_stream_chart);
    // For larkui.plotdeck, which reads a history's doubles where sync_scrolling_chart would slice it.
    m.bind("_C_API", make_capi_capsule(buffer.get(), history.get()));
}

const ModuleInfo info{"streaming", module_body};

}  // namespace

PyMODINIT_FUNC PyInit_streaming() { return init_module(info); }
