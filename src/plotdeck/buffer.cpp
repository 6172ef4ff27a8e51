// Placeholder until this group is written.
#include "plotdeck.hpp"
namespace {
lark::Ref not_yet(const lark::Args&) { lark::raise_format(PyExc_NotImplementedError, "not built yet"); }
}
namespace plotdeck {
const lark::FunctionSpec buffer_init{"__init__", "TimeSeriesBuffer.__init__", nullptr, nullptr, {lark::any("self"), lark::optional(lark::integer("max_history"))}, not_yet};
const lark::FunctionSpec buffer_add_point{"add_point", "TimeSeriesBuffer.add_point", nullptr, nullptr, {}, not_yet};
const lark::FunctionSpec buffer_set_data{"set_data", "TimeSeriesBuffer.set_data", nullptr, nullptr, {lark::optional(lark::real("x_offset"))}, not_yet};
const lark::FunctionSpec buffer_flush{"flush", "TimeSeriesBuffer.flush", nullptr, nullptr, {}, not_yet};
const lark::FunctionSpec buffer_clear{"clear", "TimeSeriesBuffer.clear", nullptr, nullptr, {}, not_yet};
const lark::FunctionSpec buffer_is_visible{"is_visible", "TimeSeriesBuffer.is_visible", nullptr, nullptr, {lark::any("self")}, not_yet};
const char* const buffer_class_doc = "";
}
