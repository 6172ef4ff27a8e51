// The objects the fast paths of larkui.streaming compare against and make arrays with, found while
// the module body runs.
#include "streaming.hpp"

namespace streaming {

using namespace lark;

namespace {
const Name s_QXYSeries{"QXYSeries"}, s_replace{"replace"}, s_replaceNp{"replaceNp"}, s_empty{"empty"},
    s_float64{"float64"}, s_ascontiguousarray{"ascontiguousarray"};
}  // namespace

// A stand-in module without one of them only means no fast path.
void keep_fast_path_objects(Module& m, State& state) {
    state.QXYSeries = attribute_if_any(m.import_module("PySide6.QtCharts").get(), s_QXYSeries);
    state.replace = own_class_entry(state.QXYSeries.get(), s_replace);
    state.replaceNp = own_class_entry(state.QXYSeries.get(), s_replaceNp);
    Ref numpy = m.import_module("numpy");
    state.empty = attribute_if_any(numpy.get(), s_empty);
    state.float64 = attribute_if_any(numpy.get(), s_float64);
    state.ascontiguousarray = attribute_if_any(numpy.get(), s_ascontiguousarray);
}

}  // namespace streaming
