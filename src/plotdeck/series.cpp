// make_scatter, make_line, add_line_to_chart: consistently styled series added to a chart.
#include "plotdeck.hpp"

namespace {

using namespace lark;

const Name s_QScatterSeries{"QScatterSeries"}, s_QLineSeries{"QLineSeries"}, s_QPen{"QPen"}, s_QColor{"QColor"};
const Name s_setName{"setName"}, s_setMarkerSize{"setMarkerSize"}, s_setColor{"setColor"}, s_setWidthF{"setWidthF"},
    s_setPen{"setPen"}, s_setBorderColor{"setBorderColor"}, s_color{"color"}, s_addSeries{"addSeries"},
    s_setStyle{"setStyle"}, s_attachAxis{"attachAxis"};

// Text (a str subclass too) becomes a QColor of that text; anything else goes to Qt as it is.
Ref colour(PyObject* value) {
    if (PyUnicode_Check(value)) return call(global(s_QColor), value);
    return Ref::borrow(value);
}

// Steps shared by both line factories: a named line series drawn with the given pen, in the chart.
Ref new_line(PyObject* chart, PyObject* name, PyObject* color, double width, PyObject* style) {
    Ref line = call(global(s_QLineSeries));
    call_method(line, s_setName, name);
    Ref pen_class = global(s_QPen);
    Ref pen = call(pen_class, colour(color));
    call_method(pen, s_setWidthF, width);
    call_method(pen, s_setStyle, style);
    call_method(line, s_setPen, pen);
    call_method(chart, s_addSeries, line);
    return line;
}

// make_scatter(chart, name, size, fill, stroke, stroke_w)
Ref make_scatter(const Args& a) {
    PyObject* chart = a[0];
    PyObject* name = a[1];
    const double size = a.number(2);
    PyObject* fill = a[3];
    PyObject* stroke = a[4];
    const double stroke_w = a.number(5);

    Ref s = call(global(s_QScatterSeries));
    call_method(s, s_setName, name);
    call_method(s, s_setMarkerSize, size);
    call_method(s, s_setColor, colour(fill));
    Ref pen_class = global(s_QPen);
    Ref pen = call(pen_class, colour(stroke));
    call_method(pen, s_setWidthF, stroke_w);
    call_method(s, s_setPen, pen);
    // The border follows the outline colour as the pen reports it.
    call_method(s, s_setBorderColor, call_method(pen, s_color));
    call_method(chart, s_addSeries, s);
    return s;
}

// make_line(chart, name, color, width=2.0, style=Qt.SolidLine)
Ref make_line(const Args& a) { return new_line(a[0], a[1], a[2], a.number(3), a[4]); }

// add_line_to_chart(chart, axX, axY, name, color, width=2.0, style=Qt.SolidLine)
Ref add_line_to_chart(const Args& a) {
    PyObject* chart = a[0];
    PyObject* axX = a[1];
    PyObject* axY = a[2];
    Ref line = new_line(chart, a[3], a[4], a.number(5), a[6]);
    call_method(line, s_attachAxis, axX);
    call_method(line, s_attachAxis, axY);
    return line;
}

}  // namespace

namespace plotdeck {

const lark::FunctionSpec make_scatter{
    "make_scatter",
    "make_scatter",
    "建立一條樣式一致的 QScatterSeries，並加入 chart。",
    "QScatterSeries",
    {
        lark::any("chart", "QChart"),
        lark::text("name"),
        lark::real("size"),
        lark::any("fill", "QColor | str"),
        lark::any("stroke", "QColor | str"),
        lark::real("stroke_w"),
    },
    ::make_scatter,
};

const lark::FunctionSpec make_line{
    "make_line",
    "make_line",
    "建立一條樣式一致的 QLineSeries，並加入 chart。",
    "QLineSeries",
    {
        lark::any("chart", "QChart"),
        lark::text("name"),
        lark::any("color", "QColor | str"),
        lark::optional(lark::real("width")),
        lark::optional(lark::any("style", "Qt.PenStyle")),
    },
    ::make_line,
};

const lark::FunctionSpec add_line_to_chart{
    "add_line_to_chart",
    "add_line_to_chart",
    "建立 LineSeries、加入 Chart 並自動附加到指定的 X, Y 軸。",
    "QLineSeries",
    {
        lark::any("chart", "QChart"),
        lark::any("axX", "QValueAxis"),
        lark::any("axY", "QValueAxis"),
        lark::text("name"),
        lark::any("color", "QColor | str"),
        lark::optional(lark::real("width")),
        lark::optional(lark::any("style", "Qt.PenStyle")),
    },
    ::add_line_to_chart,
};

}  // namespace plotdeck
