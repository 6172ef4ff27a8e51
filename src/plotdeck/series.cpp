// make_scatter, make_line, add_line_to_chart: consistently styled series added to a chart.
#include "plotdeck.hpp"

namespace {

using namespace lark;

const Name s_QScatterSeries{"QScatterSeries"}, s_QLineSeries{"QLineSeries"}, s_QPen{"QPen"}, s_QColor{"QColor"};
const Name s_setName{"setName"}, s_setMarkerSize{"setMarkerSize"}, s_setColor{"setColor"}, s_setWidthF{"setWidthF"},
    s_setPen{"setPen"}, s_setBorderColor{"setBorderColor"}, s_color{"color"}, s_addSeries{"addSeries"},
    s_setStyle{"setStyle"}, s_attachAxis{"attachAxis"};

// Text (a str subclass too) becomes a QColor of that text; anything else goes to Qt as it is.
Ref colour(const Env& env, PyObject* value) {
    if (PyUnicode_Check(value)) return call(env.global(s_QColor), value);
    return Ref::borrow(value);
}

struct LineArgs {
    PyObject* chart;
    PyObject* axX;  // add_line_to_chart only
    PyObject* axY;
    PyObject* name;
    PyObject* color;
    Real width;
    PyObject* style;
};

// Steps shared by both line factories: a named line series drawn with the given pen, in the chart.
Ref new_line(const Env& env, const LineArgs& a) {
    Ref line = call(env.global(s_QLineSeries));
    call_method(line, s_setName, a.name);
    Ref pen_class = env.global(s_QPen);
    Ref pen = call(pen_class, colour(env, a.color));
    call_method(pen, s_setWidthF, a.width.as_float());
    call_method(pen, s_setStyle, a.style);
    call_method(line, s_setPen, pen);
    call_method(a.chart, s_addSeries, line);
    return line;
}

struct ScatterArgs {
    PyObject* chart;
    PyObject* name;
    Real size;
    PyObject* fill;
    PyObject* stroke;
    Real stroke_w;
};

// make_scatter(chart, name, size, fill, stroke, stroke_w)
Ref make_scatter(const Env& env, const ScatterArgs& a) {
    Ref s = call(env.global(s_QScatterSeries));
    call_method(s, s_setName, a.name);
    call_method(s, s_setMarkerSize, a.size.as_float());
    call_method(s, s_setColor, colour(env, a.fill));
    Ref pen_class = env.global(s_QPen);
    Ref pen = call(pen_class, colour(env, a.stroke));
    call_method(pen, s_setWidthF, a.stroke_w.as_float());
    call_method(s, s_setPen, pen);
    // The border follows the outline colour as the pen reports it.
    call_method(s, s_setBorderColor, call_method(pen, s_color));
    call_method(a.chart, s_addSeries, s);
    return s;
}

// make_line(chart, name, color, width=2.0, style=Qt.SolidLine)
Ref make_line(const Env& env, const LineArgs& a) { return new_line(env, a); }

// add_line_to_chart(chart, axX, axY, name, color, width=2.0, style=Qt.SolidLine)
Ref add_line_to_chart(const Env& env, const LineArgs& a) {
    Ref line = new_line(env, a);
    call_method(line, s_attachAxis, a.axX);
    call_method(line, s_attachAxis, a.axY);
    return line;
}

const Function<ScatterArgs> scatter_def{
    "make_scatter",
    "make_scatter",
    "建立一條樣式一致的 QScatterSeries，並加入 chart。",
    "QScatterSeries",
    {
        any<&ScatterArgs::chart>("chart", "QChart"),
        text<&ScatterArgs::name>("name"),
        real<&ScatterArgs::size>("size"),
        any<&ScatterArgs::fill>("fill", "QColor | str"),
        any<&ScatterArgs::stroke>("stroke", "QColor | str"),
        real<&ScatterArgs::stroke_w>("stroke_w"),
    },
    make_scatter,
};

const Function<LineArgs> line_def{
    "make_line",
    "make_line",
    "建立一條樣式一致的 QLineSeries，並加入 chart。",
    "QLineSeries",
    {
        any<&LineArgs::chart>("chart", "QChart"),
        text<&LineArgs::name>("name"),
        any<&LineArgs::color>("color", "QColor | str"),
        optional(real<&LineArgs::width>("width"), Default::real(2.0)),
        optional(any<&LineArgs::style>("style", "Qt.PenStyle"), Default::attribute("Qt", "SolidLine")),
    },
    make_line,
};

const Function<LineArgs> add_line_def{
    "add_line_to_chart",
    "add_line_to_chart",
    "建立 LineSeries、加入 Chart 並自動附加到指定的 X, Y 軸。",
    "QLineSeries",
    {
        any<&LineArgs::chart>("chart", "QChart"),
        any<&LineArgs::axX>("axX", "QValueAxis"),
        any<&LineArgs::axY>("axY", "QValueAxis"),
        text<&LineArgs::name>("name"),
        any<&LineArgs::color>("color", "QColor | str"),
        optional(real<&LineArgs::width>("width"), Default::real(2.0)),
        optional(any<&LineArgs::style>("style", "Qt.PenStyle"), Default::attribute("Qt", "SolidLine")),
    },
    add_line_to_chart,
};

}  // namespace

namespace plotdeck {

const lark::FunctionPlan make_scatter = lark::plan_of(scatter_def);
const lark::FunctionPlan make_line = lark::plan_of(line_def);
const lark::FunctionPlan add_line_to_chart = lark::plan_of(add_line_def);

}  // namespace plotdeck
