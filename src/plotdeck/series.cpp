// make_scatter, make_line, add_line_to_chart: consistently styled series added to a chart.
#include "callables.gen.hpp"
#include "names.hpp"

namespace plotdeck {

using namespace lark;

namespace {

const Name s_setMarkerSize{"setMarkerSize"}, s_setWidthF{"setWidthF"}, s_setBorderColor{"setBorderColor"},
    s_addSeries{"addSeries"}, s_attachAxis{"attachAxis"};

// Text (a str subclass too) becomes a QColor of that text; anything else goes to Qt as it is.
Ref colour(const Env& env, PyObject* value) {
    if (PyUnicode_Check(value)) return call(env.global(s_QColor), value);
    return Ref::borrow(value);
}

// Steps shared by both line factories: a named line series drawn with the given pen, in the chart.
template <class Args>
Ref new_line(const Env& env, const Args& a) {
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

}  // namespace

// make_scatter(chart, name, size, fill, stroke, stroke_w)
Ref make_scatter(const Env& env, const args::make_scatter& a) {
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
Ref make_line(const Env& env, const args::make_line& a) { return new_line(env, a); }

// add_line_to_chart(chart, axX, axY, name, color, width=2.0, style=Qt.SolidLine)
Ref add_line_to_chart(const Env& env, const args::add_line_to_chart& a) {
    Ref line = new_line(env, a);
    call_method(line, s_attachAxis, a.axX);
    call_method(line, s_attachAxis, a.axY);
    return line;
}

}  // namespace plotdeck
