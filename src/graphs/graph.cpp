// build_sample_value_graph: a GraphsView with two value axes, a theme and a legend, in a QQuickWidget
// put into a named host.
#include "graphs.hpp"
#include "hosts.hpp"
#include "names.hpp"

namespace graphs {

using namespace lark;

namespace {

const Name s_QGraphsTheme{"QGraphsTheme"}, s_QGraphsLine{"QGraphsLine"}, s_QFont{"QFont"};
const Name s_setResizeMode{"setResizeMode"}, s_ResizeMode{"ResizeMode"},
    s_SizeRootObjectToView{"SizeRootObjectToView"}, s_loadFromModule{"loadFromModule"}, s_status{"status"},
    s_Status{"Status"}, s_Ready{"Ready"}, s_errors{"errors"}, s_toString{"toString"},
    s_indexOfProperty{"indexOfProperty"}, s_setBold{"setBold"};
const Name s_setSubGridVisible{"setSubGridVisible"}, s_setSubTickCount{"setSubTickCount"},
    s_setTitleFont{"setTitleFont"}, s_setTitleColor{"setTitleColor"};
const Name s_setColorScheme{"setColorScheme"}, s_ColorScheme{"ColorScheme"}, s_Light{"Light"},
    s_setTheme{"setTheme"}, s_Theme{"Theme"}, s_UserDefined{"UserDefined"},
    s_setBackgroundVisible{"setBackgroundVisible"}, s_setBackgroundColor{"setBackgroundColor"},
    s_setPlotAreaBackgroundVisible{"setPlotAreaBackgroundVisible"},
    s_setPlotAreaBackgroundColor{"setPlotAreaBackgroundColor"}, s_setGridVisible{"setGridVisible"},
    s_setMainColor{"setMainColor"}, s_setMainWidth{"setMainWidth"}, s_setSubColor{"setSubColor"},
    s_setSubWidth{"setSubWidth"}, s_setLabelTextColor{"setLabelTextColor"}, s_setGrid{"setGrid"},
    s_setLabelFont{"setLabelFont"}, s_setAxisXLabelFont{"setAxisXLabelFont"},
    s_setAxisYLabelFont{"setAxisYLabelFont"}, s_setLabelBackgroundVisible{"setLabelBackgroundVisible"},
    s_setLabelBorderVisible{"setLabelBorderVisible"}, s_setSeriesColors{"setSeriesColors"};
const Name s_graph{"graph"}, s_dynamicLabelMargins{"dynamicLabelMargins"}, s_QtGraphs{"QtGraphs"},
    s_GraphsView{"GraphsView"};
const Name s_label_format{"%.0f"}, s_white{"#ffffff"}, s_grid_colour{"#e2e2e2"}, s_subgrid_colour{"#efefef"},
    s_axis_line_colour{"#d6d6d6"}, s_text_colour{"#404044"};
// The series colours of Qt Charts' light theme, for series given no colour of their own.
const Name s_series_colours[] = {Name{"#209fdf"}, Name{"#99ca53"}, Name{"#f6a625"}, Name{"#6d5fd5"},
                                 Name{"#bf593e"}};

// The legend of one graph, in its scene: a row of entries at the top centre, one per series a
// factory added; each follows its series' name, colour and visibility, and a click hides or shows
// the series. The graph's top margin makes room for it.
constexpr char legend_qml[] = R"QML(import QtQuick

Row {
    id: legend
    objectName: "larkui_legend"
    property Item graph: null
    property list<QtObject> entries
    property color textColor: "#404044"
    function fit() {
        if (graph)
            graph.marginTop = visible && height > 0 ? height + 14 : 20
    }
    x: graph ? Math.round((graph.width - width) / 2) : 0
    y: 6
    z: 10
    spacing: 14
    onHeightChanged: fit()
    onVisibleChanged: fit()
    onGraphChanged: fit()
    Repeater {
        model: legend.entries
        delegate: Row {
            id: entry
            required property var modelData
            objectName: "larkui_legend_entry"
            spacing: 5
            opacity: entry.modelData && entry.modelData.visible ? 1.0 : 0.4
            Rectangle {
                width: 12
                height: 12
                anchors.verticalCenter: parent.verticalCenter
                color: entry.modelData ? entry.modelData.color : "transparent"
            }
            Text {
                text: entry.modelData ? entry.modelData.name : ""
                color: legend.textColor
                font: Qt.application.font
            }
            TapHandler {
                onTapped: if (entry.modelData) entry.modelData.visible = !entry.modelData.visible
            }
            HoverHandler { cursorShape: Qt.PointingHandCursor }
        }
    }
}
)QML";

Ref colour(const Env& env, const Name& text) { return call(env.global(s_QColor), text); }

Ref app_font(const Env& env) { return call(env.global(s_QFont), call_method(env.global(s_QGuiApplication), s_font)); }

// "; ".join(e.toString() for e in errors): what Qt reports about a QML load that failed.
Ref error_text(PyObject* errors) {
    Ref parts = Ref::steal(PyList_New(0));
    Ref it = Ref::steal(PyObject_GetIter(errors));
    while (Ref e = Ref::steal_nullable(PyIter_Next(it.get())))
        check(PyList_Append(parts.get(), str_of(call_method(e, s_toString).get()).get()));
    if (PyErr_Occurred()) throw_error();
    Ref separator = Ref::steal(PyUnicode_FromString("; "));
    return Ref::steal(PyUnicode_Join(separator.get(), parts.get()));
}

// An axis of the view titled `title`, labelled with whole numbers like build_sample_value_chart's
// ("%d" is no format for Qt Graphs, which hands it a double).
Ref make_axis(const Env& env, PyObject* view, PyObject* title, const Ref& title_font) {
    Ref axis = call(env.global(s_QValueAxis), view);
    call_method(axis, s_setTitleText, title);
    call_method(axis, s_setLabelFormat, s_label_format);
    call_method(axis, s_setSubGridVisible, false);
    call_method(axis, s_setSubTickCount, 0);
    call_method(axis, s_setTitleFont, title_font);
    call_method(axis, s_setTitleColor, colour(env, s_text_colour));
    return axis;
}

// A QGraphsLine (a value type: built, then set on the theme).
Ref graphs_line(const Env& env, const Name& main, const Name& sub, bool labelled) {
    Ref line = call(env.global(s_QGraphsLine));
    call_method(line, s_setMainColor, colour(env, main));
    call_method(line, s_setMainWidth, 1.0);
    call_method(line, s_setSubColor, colour(env, sub));
    call_method(line, s_setSubWidth, 1.0);
    if (labelled) call_method(line, s_setLabelTextColor, colour(env, s_text_colour));
    return line;
}

// The theme of larkui's Qt Charts charts: a white card, a light 1 px grid, #404044 labels in the
// application font. Every value is set explicitly, so a later colour scheme keeps them.
Ref make_theme(const Env& env, PyObject* view) {
    Ref theme_class = env.global(s_QGraphsTheme);
    Ref theme = call(theme_class, view);
    call_method(theme, s_setColorScheme, getattr(getattr(theme_class.get(), s_ColorScheme).get(), s_Light));
    call_method(theme, s_setTheme, getattr(getattr(theme_class.get(), s_Theme).get(), s_UserDefined));
    call_method(theme, s_setBackgroundVisible, true);
    call_method(theme, s_setBackgroundColor, colour(env, s_white));
    call_method(theme, s_setPlotAreaBackgroundVisible, true);
    call_method(theme, s_setPlotAreaBackgroundColor, colour(env, s_white));
    call_method(theme, s_setGridVisible, true);
    call_method(theme, s_setGrid, graphs_line(env, s_grid_colour, s_subgrid_colour, false));
    call_method(theme, s_setAxisX, graphs_line(env, s_axis_line_colour, s_axis_line_colour, true));
    call_method(theme, s_setAxisY, graphs_line(env, s_axis_line_colour, s_axis_line_colour, true));
    call_method(theme, s_setLabelTextColor, colour(env, s_text_colour));
    Ref font = app_font(env);
    call_method(theme, s_setLabelFont, font);
    call_method(theme, s_setAxisXLabelFont, font);
    call_method(theme, s_setAxisYLabelFont, font);
    call_method(theme, s_setLabelBackgroundVisible, false);
    call_method(theme, s_setLabelBorderVisible, false);
    Ref colours = Ref::steal(PyList_New(0));
    for (const Name& c : s_series_colours) check(PyList_Append(colours.get(), colour(env, c).get()));
    call_method(theme, s_setSeriesColors, colours);
    return theme;
}

// The legend item, made from its QML text in the widget's engine and owned by the view.
Ref make_legend(const Env& env, PyObject* widget, PyObject* view, bool shown) {
    Ref component = call(env.global(s_QQmlComponent), call_method(widget, s_engine), view);
    Ref text = Ref::steal(PyBytes_FromStringAndSize(legend_qml, sizeof legend_qml - 1));
    call_method(component, s_setData, text, call(env.global(s_QUrl)));
    Ref legend = call_method(component, s_create);
    if (legend.is_none())
        raise_format(PyExc_RuntimeError, "the graph's legend could not be made: %U",
                     str_of(call_method(component, s_errorString).get()).get());
    call_method(legend, s_setParent, view);
    call_method(legend, s_setParentItem, view);
    call_method(legend, s_setProperty, s_graph, view);
    call_method(legend, s_setVisible, shown);
    return legend;
}

bool has_property(PyObject* object, const Name& name) {
    Ref index = call_method(call_method(object, s_metaObject), s_indexOfProperty, name);
    return compare(index.get(), int_of(0).get(), Py_GE);
}

}  // namespace

// build_sample_value_graph(ui_root, host_name, *, y_title, x_title, show_legend, return_widget)
Ref build_sample_value_graph(const Env& env, const args::build_sample_value_graph& a) {
    Ref lay = host_layout(env, a.ui_root, a.host_name);

    QuietStart quiet(env);
    choose_renderer(env);
    // The widget has no parent until the host's layout takes it: a step that fails before that
    // leaves nothing in the host (Python drops the widget, and everything made under it).
    Ref widget_class = env.global(s_QQuickWidget);
    Ref widget = call(widget_class);
    call_method(widget, s_setResizeMode,
                getattr(getattr(widget_class.get(), s_ResizeMode).get(), s_SizeRootObjectToView));
    Ref expanding = getattr(getattr(env.global(s_QSizePolicy).get(), s_Policy).get(), s_Expanding);
    call_method(widget, s_setSizePolicy, expanding, expanding);
    call_method(widget, s_setMinimumSize, 0, 0);
    call_method(widget, s_loadFromModule, s_QtGraphs, s_GraphsView);
    Ref ready = getattr(getattr(widget_class.get(), s_Status).get(), s_Ready);
    if (compare(call_method(widget, s_status).get(), ready.get(), Py_NE))
        raise_format(PyExc_RuntimeError, "Qt Graphs' GraphsView could not be loaded: %U",
                     error_text(call_method(widget, s_errors).get()).get());
    Ref view = call_method(widget, s_rootObject);

    Ref title_font = app_font(env);
    call_method(title_font, s_setBold, true);
    Ref axX = make_axis(env, view.get(), a.x_title, title_font);
    Ref axY = make_axis(env, view.get(), a.y_title, title_font);
    call_method(view, s_setProperty, s_axisX, axX);
    call_method(view, s_setProperty, s_axisY, axY);
    // The view draws with a raw pointer to its theme: a theme deleted while the view lives would be
    // drawn after its end, so the view lets go of it first (and falls back to its default theme).
    Ref legend = make_legend(env, widget.get(), view.get(), a.show_legend);
    Ref theme = make_theme(env, view.get());
    call_method(getattr(theme.get(), s_destroyed), s_connect, call(state_of(env).partial, state_of(env).release_theme, view));
    call_method(view, s_setProperty, s_theme, theme);
    // Qt 6.12 widens the y labels' column to the widest label; earlier versions have no such property.
    if (has_property(view.get(), s_dynamicLabelMargins)) call_method(view, s_setProperty, s_dynamicLabelMargins, true);

    call_method(lay, s_addWidget, widget);
    if (a.return_widget) return Ref::steal(PyTuple_Pack(4, view.get(), axX.get(), axY.get(), widget.get()));
    return Ref::steal(PyTuple_Pack(3, view.get(), axX.get(), axY.get()));
}

}  // namespace graphs
