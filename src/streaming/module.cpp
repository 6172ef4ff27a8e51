// larkui.streaming: the module body.
#include "streaming.hpp"

namespace streaming {

const lark::Name kept_StreamBuffer{"StreamBuffer"}, kept_StreamHistory{"StreamHistory"},
    kept_QXYSeries{"QXYSeries"}, kept_replace{"replace"}, kept_replaceNp{"replaceNp"}, kept_empty{"empty"},
    kept_float64{"float64"}, kept_ascontiguousarray{"ascontiguousarray"};

}  // namespace streaming

namespace {

using namespace lark;
using namespace streaming;

void module_body(Module& m) {
    m.from_import("PySide6.QtCore", {"QPointF"});
    Ref charts = m.import_module("PySide6.QtCharts");
    Ref numpy = m.import_as("numpy", "np");

    // What a flush compares against before it writes through replaceNp, and what the buffers
    // make their arrays with.
    m.keep_attribute(kept_QXYSeries, charts.get());
    m.keep_class_entry(kept_replace, kept_QXYSeries);
    m.keep_class_entry(kept_replaceNp, kept_QXYSeries);
    for (const Name* key : {&kept_empty, &kept_float64, &kept_ascontiguousarray}) m.keep_attribute(*key, numpy.get());

    Ref history = make_stream_history_class(m);
    m.keep(kept_StreamHistory, history.get());
    Ref buffer = make_stream_buffer_class(m);
    m.keep(kept_StreamBuffer, buffer.get());
    m.bind("StreamBuffer", buffer);
    m.bind("StreamHistory", history);
}

const ModuleInfo info{"streaming", module_body};

}  // namespace

PyMODINIT_FUNC PyInit_streaming() { return init_module(info); }
