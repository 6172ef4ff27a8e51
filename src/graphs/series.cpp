// add_line_to_graph, add_scatter_to_graph: styled series in a graph, on its axes and in its legend.
#include "graphs.hpp"
#include "names.hpp"

#include <cmath>
#include <string>

namespace graphs {

using namespace lark;

namespace {

const Name s_QQuickItem{"QQuickItem"}, s_qmlEngine{"qmlEngine"};
const Name s_setWidth{"setWidth"}, s_FindChildOption{"FindChildOption"},
    s_FindDirectChildrenOnly{"FindDirectChildrenOnly"}, s_isReady{"isReady"}, s_setPointDelegate{"setPointDelegate"};
const Name s_larkui_legend{"larkui_legend"}, s_seriesList{"seriesList"};

// QColor(value) for text, a QColor, a Qt.GlobalColor or anything else QColor takes; a colour QColor
// does not know (a typo in a name) is refused here rather than drawn in the theme's colour.
Ref checked_colour(const Env& env, PyObject* value) {
    Ref c = call(env.global(s_QColor), value);
    if (!truth(call_method(c, s_isValid).get())) raise_format(PyExc_ValueError, "not a colour: %R", value);
    return c;
}

// A size or width in pixels: a finite number above 0.
double pixels(double value, PyObject* given, const char* what) {
    if (!(std::isfinite(value) && value > 0)) raise_format(PyExc_ValueError, "%s must be a finite number above 0, not %R", what, given);
    return value;
}

// The line width: as given, or by default 2 px where the graph draws through the GPU and 1 px with
// Qt Quick's software renderer, which strokes any wider line many times slower.
double line_width(const Env& env, PyObject* width) {
    if (width == Py_None) {
        Ref backend = call_method(env.global(s_QQuickWindow), s_sceneGraphBackend);
        return PyUnicode_Check(backend.get()) && PyUnicode_Compare(backend.get(), s_software.get()) == 0 ? 1.0 : 2.0;
    }
    const double w = PyFloat_AsDouble(width);
    if (w == -1.0 && PyErr_Occurred()) throw_error();
    return pixels(w, width, "width");
}

// QQmlListReference(owner, name): a QML list property, written through Qt's list interface.
// (PySide's own calls of a view's invokable methods, addSeries included, keep memory of every
// object argument they convert.)
Ref list_of(const Env& env, PyObject* owner, const Name& name) {
    return call(env.global(s_QQmlListReference), owner, name);
}

[[noreturn]] void raise_no_graph(const char* function, PyObject* graph) {
    raise_format(PyExc_TypeError, "%s() takes a graph of build_sample_value_graph, not %R", function, graph);
}

// Puts a configured series into the graph: on the given axes (the view's own serve every series
// that names none), in the view, owned by it, and in its legend.
void attach(const Env& env, const char* function, const Ref& series, PyObject* graph, PyObject* axX, PyObject* axY) {
    Ref series_list = list_of(env, graph, s_seriesList);
    if (!truth(call_method(series_list, s_isValid).get())) raise_no_graph(function, graph);
    if (call_method(graph, s_property, s_axisX).get() != axX) call_method(series, s_setAxisX, axX);
    if (call_method(graph, s_property, s_axisY).get() != axY) call_method(series, s_setAxisY, axY);
    if (!truth(call_method(series_list, s_append, series).get())) raise_no_graph(function, graph);
    call_method(series, s_setParent, graph);
    Ref only_direct = getattr(getattr(env.global(s_Qt).get(), s_FindChildOption).get(), s_FindDirectChildrenOnly);
    Ref legend = call_method(graph, s_findChild, env.global(s_QQuickItem), s_larkui_legend, only_direct);
    if (legend.is_none()) return;
    call_method(list_of(env, legend.get(), s_entries), s_append, series);
    const State& state = state_of(env);
    call_method(getattr(series.get(), s_destroyed), s_connect, call(state.partial, state.drop_legend_entry, legend));
}

// A round marker `size` pixels across in the series' colour, outlined a shade darker. Qt Graphs
// sizes markers only through such a delegate; each marker is an item of the scene.
std::string marker_qml(double size) {
    char* text = PyOS_double_to_string(size, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (!text) throw_error();
    const std::string s(text);
    PyMem_Free(text);
    return "import QtQuick\n"
           "Rectangle {\n"
           "    property color pointColor\n"
           "    property color pointBorderColor\n"
           "    property real pointBorderWidth\n"
           "    property bool pointSelected\n"
           "    property color pointSelectedColor\n"
           "    width: " + s + "\n"
           "    height: " + s + "\n"
           "    radius: " + s + " / 2\n"
           "    color: pointColor\n"
           "    border.color: Qt.darker(pointColor, 1.6)\n"
           "    border.width: 1\n"
           "}\n";
}

}  // namespace

// add_line_to_graph(graph, axX, axY, name, color, width=None)
Ref add_line_to_graph(const Env& env, const args::add_line_to_graph& a) {
    Ref c = checked_colour(env, a.color);
    const double width = line_width(env, a.width);
    // Python owns the series until the graph takes it: a step that fails leaves nothing behind.
    Ref line = call(env.global(s_QLineSeries));
    call_method(line, s_setName, a.name);
    call_method(line, s_setColor, c);  // before the graph draws it: a later setColor alone repaints nothing
    call_method(line, s_setWidth, width);
    attach(env, "add_line_to_graph", line, a.graph, a.axX, a.axY);
    return line;
}

// add_scatter_to_graph(graph, axX, axY, name, color, size=8.0)
Ref add_scatter_to_graph(const Env& env, const args::add_scatter_to_graph& a) {
    const double size = pixels(a.size.value, a.size.given, "size");
    Ref c = checked_colour(env, a.color);
    Ref engine = call(env.global(s_qmlEngine), a.graph);
    if (engine.is_none()) raise_no_graph("add_scatter_to_graph", a.graph);
    Ref marker = call(env.global(s_QQmlComponent), engine);
    const std::string qml = marker_qml(size);
    call_method(marker, s_setData, Ref::steal(PyBytes_FromStringAndSize(qml.data(), static_cast<Py_ssize_t>(qml.size()))),
                call(env.global(s_QUrl)));
    if (!truth(call_method(marker, s_isReady).get()))
        raise_format(PyExc_RuntimeError, "the scatter marker could not be made: %U",
                     str_of(call_method(marker, s_errorString).get()).get());
    Ref dots = call(env.global(s_QScatterSeries));
    call_method(dots, s_setName, a.name);
    call_method(dots, s_setColor, c);
    call_method(dots, s_setPointDelegate, marker);
    call_method(marker, s_setParent, dots);  // the marker goes with its series
    attach(env, "add_scatter_to_graph", dots, a.graph, a.axX, a.axY);
    return dots;
}

}  // namespace graphs
