// Placeholder until this group is written.
#include "plotdeck.hpp"
namespace {
lark::Ref not_yet(const lark::Args&) { lark::raise_format(PyExc_NotImplementedError, "not built yet"); }
}
namespace plotdeck {
const lark::FunctionSpec wrap_hosts_in_scroll{"wrap_hosts_in_scroll", "wrap_hosts_in_scroll", nullptr, nullptr, {lark::keyword(lark::integer("cols")), lark::keyword(lark::any("a")), lark::keyword(lark::any("b")), lark::keyword(lark::any("c")), lark::keyword(lark::any("d")), lark::keyword(lark::any("e")), lark::keyword(lark::any("f"))}, not_yet};
const lark::FunctionSpec wrap_dynamic_charts_into_tabs{"wrap_dynamic_charts_into_tabs", "wrap_dynamic_charts_into_tabs", nullptr, nullptr, {lark::keyword(lark::integer("cols")), lark::keyword(lark::any("a")), lark::keyword(lark::any("b"))}, not_yet};
}
