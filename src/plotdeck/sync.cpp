// Placeholder until this group is written.
#include "plotdeck.hpp"
namespace {
lark::Ref not_yet(const lark::Args&) { lark::raise_format(PyExc_NotImplementedError, "not built yet"); }
}
namespace plotdeck {
const lark::FunctionSpec sync_scrolling_chart{"sync_scrolling_chart", "sync_scrolling_chart", nullptr, nullptr, {lark::optional(lark::any("a")), lark::optional(lark::real("b")), lark::optional(lark::any("c")), lark::optional(lark::integer("d"))}, not_yet};
const lark::FunctionSpec sync_snapshot_chart{"sync_snapshot_chart", "sync_snapshot_chart", nullptr, nullptr, {lark::optional(lark::any("a")), lark::optional(lark::real("b"))}, not_yet};
}
