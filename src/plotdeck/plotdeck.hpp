// The callables of larkui.plotdeck, one table each, defined by the files of each group.
#pragma once

#include "function.hpp"
#include "module.hpp"

namespace plotdeck {

// chart.cpp
extern const lark::FunctionSpec build_sample_value_chart;
// series.cpp
extern const lark::FunctionSpec make_scatter;
extern const lark::FunctionSpec make_line;
extern const lark::FunctionSpec add_line_to_chart;
// layout.cpp
extern const lark::FunctionSpec wrap_hosts_in_scroll;
extern const lark::FunctionSpec wrap_dynamic_charts_into_tabs;
// buffer.cpp: the members of TimeSeriesBuffer, in the order of its namespace
extern const lark::FunctionSpec buffer_init;
extern const lark::FunctionSpec buffer_add_point;
extern const lark::FunctionSpec buffer_set_data;
extern const lark::FunctionSpec buffer_flush;
extern const lark::FunctionSpec buffer_clear;
extern const lark::FunctionSpec buffer_is_visible;
extern const char* const buffer_class_doc;
// sync.cpp
extern const lark::FunctionSpec sync_scrolling_chart;
extern const lark::FunctionSpec sync_snapshot_chart;

}  // namespace plotdeck
