// Placeholder until this group is written.
#include "plotdeck.hpp"
namespace {
lark::Ref not_yet(const lark::Args&) { lark::raise_format(PyExc_NotImplementedError, "not built yet"); }
}
namespace plotdeck {
const lark::FunctionSpec make_scatter{"make_scatter", "make_scatter", nullptr, nullptr, {}, not_yet};
const lark::FunctionSpec make_line{"make_line", "make_line", nullptr, nullptr, {lark::optional(lark::real("width")), lark::optional(lark::any("style"))}, not_yet};
const lark::FunctionSpec add_line_to_chart{"add_line_to_chart", "add_line_to_chart", nullptr, nullptr, {lark::optional(lark::real("width")), lark::optional(lark::any("style"))}, not_yet};
}
