// build_sample_value_chart: a chart view with a chart and its two value axes in a named host.
#include "plotdeck.hpp"

namespace {

using namespace lark;

const Name s_QWidget{"QWidget"}, s_QVBoxLayout{"QVBoxLayout"}, s_QChart{"QChart"}, s_QChartView{"QChartView"},
    s_QPainter{"QPainter"}, s_QGraphicsView{"QGraphicsView"}, s_QSizePolicy{"QSizePolicy"},
    s_QValueAxis{"QValueAxis"}, s_Qt{"Qt"};
const Name s_findChild{"findChild"}, s_layout{"layout"}, s_setLayout{"setLayout"},
    s_setAnimationOptions{"setAnimationOptions"}, s_NoAnimation{"NoAnimation"}, s_legend{"legend"},
    s_setVisible{"setVisible"}, s_setRenderHint{"setRenderHint"}, s_Antialiasing{"Antialiasing"},
    s_setViewportUpdateMode{"setViewportUpdateMode"}, s_MinimalViewportUpdate{"MinimalViewportUpdate"},
    s_setSizePolicy{"setSizePolicy"}, s_Policy{"Policy"}, s_Expanding{"Expanding"},
    s_setMinimumSize{"setMinimumSize"}, s_addWidget{"addWidget"}, s_setTitleText{"setTitleText"},
    s_setLabelFormat{"setLabelFormat"}, s_addAxis{"addAxis"}, s_AlignBottom{"AlignBottom"},
    s_AlignLeft{"AlignLeft"};
const Name s_integer_format{"%d"};
const Name s_missing_head{"找不到 QWidget(objectName='"}, s_missing_tail{"')"};

// An axis titled `title` that labels its ticks as integers.
Ref make_axis(PyObject* title) {
    Ref axis = call(global(s_QValueAxis));
    call_method(axis, s_setTitleText, title);
    call_method(axis, s_setLabelFormat, s_integer_format);
    return axis;
}

Ref host_missing(PyObject* host_name) {
    Ref head = Ref::steal(PyUnicode_Concat(s_missing_head.get(), host_name));
    Ref message = Ref::steal(PyUnicode_Concat(head.get(), s_missing_tail.get()));
    return fail(PyExc_RuntimeError, message.get());
}

// build_sample_value_chart(ui_root, host_name, *, y_title, x_title, show_legend, antialias,
//                          minimal_viewport, return_view)
Ref build_sample_value_chart(const Args& a) {
    PyObject* ui_root = a[0];
    PyObject* host_name = a[1];
    PyObject* y_title = a[2];
    PyObject* x_title = a[3];
    const bool show_legend = a.flag(4), antialias = a.flag(5), minimal_viewport = a.flag(6),
               return_view = a.flag(7);

    Ref host = call_method(ui_root, s_findChild, global(s_QWidget), host_name);
    if (host.is_none()) return host_missing(host_name);

    if (call_method(host, s_layout).is_none()) {
        Ref layout = call(global(s_QVBoxLayout), host);
        call_method(host, s_setLayout, layout);
    }
    Ref lay = call_method(host, s_layout);

    Ref chart = call(global(s_QChart));
    call_method(chart, s_setAnimationOptions, getattr(global(s_QChart).get(), s_NoAnimation));
    call_method(call_method(chart, s_legend), s_setVisible, show_legend);

    Ref view = call(global(s_QChartView), chart);
    call_method(view, s_setRenderHint, getattr(global(s_QPainter).get(), s_Antialiasing), antialias);
    if (minimal_viewport)
        call_method(view, s_setViewportUpdateMode, getattr(global(s_QGraphicsView).get(), s_MinimalViewportUpdate));
    Ref policy = getattr(global(s_QSizePolicy).get(), s_Policy);
    Ref expanding = getattr(policy.get(), s_Expanding);
    call_method(view, s_setSizePolicy, expanding, expanding);
    call_method(view, s_setMinimumSize, 0, 0);
    call_method(lay, s_addWidget, view);

    Ref axX = make_axis(x_title);
    Ref axY = make_axis(y_title);
    call_method(chart, s_addAxis, axX, getattr(global(s_Qt).get(), s_AlignBottom));
    call_method(chart, s_addAxis, axY, getattr(global(s_Qt).get(), s_AlignLeft));

    if (return_view) return Ref::steal(PyTuple_Pack(4, chart.get(), axX.get(), axY.get(), view.get()));
    return Ref::steal(PyTuple_Pack(3, chart.get(), axX.get(), axY.get()));
}

}  // namespace

namespace plotdeck {

const lark::FunctionSpec build_sample_value_chart{
    "build_sample_value_chart",
    "build_sample_value_chart",
    "\n    在 ui_root 底下找到 objectName=host_name 的 QWidget，放入一張\n"
    "    『SampleValueChart（X=sample, Y=value）』。\n"
    "\n"
    "    回傳: (chart, axX, axY)\n    ",
    "tuple",
    {
        lark::any("ui_root", "QWidget"),
        lark::text("host_name"),
        lark::keyword(lark::text("y_title")),
        lark::keyword(lark::text("x_title")),
        lark::keyword(lark::flag("show_legend")),
        lark::keyword(lark::flag("antialias")),
        lark::keyword(lark::flag("minimal_viewport")),
        lark::keyword(lark::flag("return_view")),
    },
    ::build_sample_value_chart,
};

}  // namespace plotdeck
