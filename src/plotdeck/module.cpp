// The objects the fast paths of larkui.plotdeck compare against, found while the module body runs.
#include "callables.gen.hpp"
#include "names.hpp"

namespace plotdeck {

using namespace lark;

namespace {
const Name s_ndarray{"ndarray"};
}  // namespace

// The classes as the imports bound them, and what the NumPy fast path of a snapshot flush needs.
// A stand-in module without one of them only means no fast path.
void keep_fast_path_objects(Module& m, State& state) {
    state.QPointF = m.env().global(s_QPointF);
    state.QTabWidget = m.env().global(s_QTabWidget);
    state.QXYSeries = attribute_if_any(m.import_module("PySide6.QtCharts").get(), s_QXYSeries);
    state.replace = own_class_entry(state.QXYSeries.get(), s_replace);
    state.replaceNp = own_class_entry(state.QXYSeries.get(), s_replaceNp);
    Ref numpy = m.import_module("numpy");
    state.ndarray = attribute_if_any(numpy.get(), s_ndarray);
    state.float64 = attribute_if_any(numpy.get(), s_float64);
    state.empty = attribute_if_any(numpy.get(), s_empty);
}

}  // namespace plotdeck
