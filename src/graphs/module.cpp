// What the module's private slots and its message filter trust, found while the module body runs.
#include "graphs.hpp"
#include "names.hpp"

namespace graphs {

using namespace lark;

namespace {
const Name s__forward_qt_message{"_forward_qt_message"}, s__release_theme{"_release_theme"},
    s__drop_legend_entry{"_drop_legend_entry"};
}  // namespace

void keep_module_objects(Module& m, State& state) {
    state.partial = getattr(m.import_module("functools").get(), s_partial);
    state.isValid = getattr(m.import_module("shiboken6").get(), s_isValid);
    state.message_filter = m.env().global(s__forward_qt_message);
    state.release_theme = m.env().global(s__release_theme);
    state.drop_legend_entry = m.env().global(s__drop_legend_entry);
}

}  // namespace graphs
