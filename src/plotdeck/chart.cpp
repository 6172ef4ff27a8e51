// build_sample_value_chart: a chart view with a chart and its two value axes in a named host.
#include "callables.gen.hpp"
#include "hosts.hpp"
#include "names.hpp"

namespace plotdeck {

using namespace lark;

namespace {

const Name s_QPainter{"QPainter"}, s_QGraphicsView{"QGraphicsView"};
const Name s_setAnimationOptions{"setAnimationOptions"}, s_NoAnimation{"NoAnimation"}, s_legend{"legend"},
    s_setRenderHint{"setRenderHint"}, s_Antialiasing{"Antialiasing"},
    s_setViewportUpdateMode{"setViewportUpdateMode"}, s_MinimalViewportUpdate{"MinimalViewportUpdate"},
    s_addAxis{"addAxis"}, s_AlignBottom{"AlignBottom"}, s_AlignLeft{"AlignLeft"};
const Name s_integer_format{"%d"};

// An axis titled `title` that labels its ticks as integers.
Ref make_axis(const Env& env, PyObject* title) {
    Ref axis = call(env.global(s_QValueAxis));
    call_method(axis, s_setTitleText, title);
    call_method(axis, s_setLabelFormat, s_integer_format);
    return axis;
}

}  // namespace

// build_sample_value_chart(ui_root, host_name, *, y_title, x_title, show_legend, antialias,
//                          minimal_viewport, return_view)
Ref build_sample_value_chart(const Env& env, const args::build_sample_value_chart& a) {
    Ref lay = host_layout(env, a.ui_root, a.host_name);

    Ref chart = call(env.global(s_QChart));
    call_method(chart, s_setAnimationOptions, getattr(env.global(s_QChart).get(), s_NoAnimation));
    call_method(call_method(chart, s_legend), s_setVisible, a.show_legend);

    Ref view = call(env.global(s_QChartView), chart);
    call_method(view, s_setRenderHint, getattr(env.global(s_QPainter).get(), s_Antialiasing), a.antialias);
    if (a.minimal_viewport)
        call_method(view, s_setViewportUpdateMode,
                    getattr(env.global(s_QGraphicsView).get(), s_MinimalViewportUpdate));
    Ref policy = getattr(env.global(s_QSizePolicy).get(), s_Policy);
    Ref expanding = getattr(policy.get(), s_Expanding);
    call_method(view, s_setSizePolicy, expanding, expanding);
    call_method(view, s_setMinimumSize, 0, 0);
    call_method(lay, s_addWidget, view);

    Ref axX = make_axis(env, a.x_title);
    Ref axY = make_axis(env, a.y_title);
    call_method(chart, s_addAxis, axX, getattr(env.global(s_Qt).get(), s_AlignBottom));
    call_method(chart, s_addAxis, axY, getattr(env.global(s_Qt).get(), s_AlignLeft));

    if (a.return_view) return Ref::steal(PyTuple_Pack(4, chart.get(), axX.get(), axY.get(), view.get()));
    return Ref::steal(PyTuple_Pack(3, chart.get(), axX.get(), axY.get()));
}

}  // namespace plotdeck
