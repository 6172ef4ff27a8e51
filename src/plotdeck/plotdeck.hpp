// The callables of larkui.plotdeck, defined by the files of each group, and the objects the
// module body keeps for their fast paths.
#pragma once

#include "module.hpp"

namespace plotdeck {

// chart.cpp
extern const lark::FunctionPlan build_sample_value_chart;
// series.cpp
extern const lark::FunctionPlan make_scatter;
extern const lark::FunctionPlan make_line;
extern const lark::FunctionPlan add_line_to_chart;
// layout.cpp
extern const lark::FunctionPlan wrap_hosts_in_scroll;
extern const lark::FunctionPlan wrap_dynamic_charts_into_tabs;
// buffer.cpp: the members of TimeSeriesBuffer, in the order of its namespace
extern const lark::FunctionPlan buffer_init;
extern const lark::FunctionPlan buffer_add_point;
extern const lark::FunctionPlan buffer_set_data;
extern const lark::FunctionPlan buffer_flush;
extern const lark::FunctionPlan buffer_clear;
extern const lark::FunctionPlan buffer_is_visible;
extern const char* const buffer_class_doc;
// sync.cpp
extern const lark::FunctionPlan sync_scrolling_chart;
extern const lark::FunctionPlan sync_snapshot_chart;

// What the body found at import, kept out of the namespace (lark::Module::keep): the genuine
// classes and functions that a fast path must be sure it is dealing with.
extern const lark::Name kept_QPointF;      // PySide6's QPointF, as bound at import
extern const lark::Name kept_QTabWidget;   // PySide6's QTabWidget, as bound at import
extern const lark::Name kept_QXYSeries;    // PySide6.QtCharts.QXYSeries
extern const lark::Name kept_replace;      // QXYSeries.__dict__["replace"]
extern const lark::Name kept_replaceNp;    // QXYSeries.__dict__["replaceNp"]
extern const lark::Name kept_ndarray;      // numpy.ndarray
extern const lark::Name kept_float64;      // numpy.float64
extern const lark::Name kept_require;      // numpy.require
extern const lark::Name kept_arange;       // numpy.arange

}  // namespace plotdeck
