"""Qt Graphs displays for measurement windows: the same few lines as `larkui.plotdeck`, on Qt Graphs.

Qt Graphs, the successor of Qt Charts, draws its 2D graphs as Qt Quick items (a `GraphsView`).
This module puts one into a named host widget of a widget application, with no QML to write:

1. Once per host: `build_sample_value_graph(root, "host")` puts a `QQuickWidget` holding a
   `GraphsView` with an x and a y `QValueAxis` (`PySide6.QtGraphs`) into the host and returns
   `(graph, axX, axY)`. It has the look of larkui's Qt Charts charts (a white card, a light
   grid, #404044 labels in the application font) and a legend at the top centre.
2. For each curve: `add_line_to_graph(graph, axX, axY, name, color)` or
   `add_scatter_to_graph(...)` adds a styled series, shown in the legend, where a click hides
   or shows it.
3. Feeding data: Qt Graphs' series take the calls larkui's buffers make. A
   `larkui.plotdeck.TimeSeriesBuffer` with `sync_snapshot_chart` shows frame snapshots exactly
   as on Qt Charts (each frame written with one `replace` of `QPointF` points), or write
   NumPy arrays yourself with `series.replaceNp(x, y)` (both C-contiguous float64 arrays of
   one length: Qt Graphs silently empties the series for anything else). `sync_scrolling_chart`
   does not drive Qt Graphs axes, which have no tick count.

The renderer: Qt Quick draws through the GPU where it can. At the first graph of a process,
before any Qt Quick widget exists, this module chooses Qt Quick's software renderer when there
is no GPU context to draw with: on the offscreen and minimal platforms, and on a display where
no OpenGL context can be made. The software renderer draws the series, labels, titles and
backgrounds but not the grid, axis lines and tick marks (Qt draws those with shaders), and it
strokes lines wider than 1 px many times slower: `add_line_to_graph` draws 1 px lines there by
default. `use_software_renderer()` chooses it yourself, for example under Xvfb, where OpenGL
is Mesa's llvmpipe, a rasteriser on the CPU that is slower still. The one-time messages Qt
prints while it falls back ("QRhiGles2: Failed to create temporary context" and "QRhiGles2:
Failed to create context") are dropped while a graph is built; every other Qt message goes to
the handler installed before (`qInstallMessageHandler`), unchanged.

Everything runs on the GUI thread and keeps no state of its own beyond the renderer choice:
the widgets, views, axes, themes, series and legends made here belong to Qt's object tree
(the host, then the view) and go with it. The functions look up the Qt classes in this
module's namespace at each call.

Arguments are checked as in `larkui.plotdeck`: `str` parameters take exactly a `str`
(TypeError ``Argument 'NAME' has incorrect type (expected str, got TYPE)``), `float` ones go
through `float()`, flags take any object by its truth value; Qt objects are not checked and
Qt's own errors propagate.

Inspection (pause, zoom, readout) is for Qt Charts charts; Qt Graphs graphs have none here.

Importing the module warns (RuntimeWarning) when it was compiled for another Python version
than the running one; it needs PySide6 with QtGraphs, QtQuick, QtQuickWidgets and QtQml.
"""

from typing import Literal, TypeAlias, overload

from PySide6.QtCore import QMessageLogContext, Qt, QtMsgType
from PySide6.QtGraphs import QLineSeries, QScatterSeries, QValueAxis
from PySide6.QtGui import QColor
from PySide6.QtQuick import QQuickItem
from PySide6.QtQuickWidgets import QQuickWidget
from PySide6.QtWidgets import QWidget

# A colour: anything QColor() takes that makes a valid colour (a name, "#rrggbb", a QColor, a Qt.GlobalColor).
_Colour: TypeAlias = QColor | Qt.GlobalColor | str

def _forward_qt_message(mode: QtMsgType, context: QMessageLogContext, message: str) -> None:
    """The Qt message handler while a graph is built: drops Qt Quick's start-up noise, hands on the rest.

    Dropped: messages beginning "QRhiGles2: Failed to create" (Qt Graphs' theme trying an OpenGL
    context where there is none), "Scenegraph already initialized, setBackend() request ignored"
    (`use_software_renderer` reports that by its result), "QXcbIntegration: Cannot create
    platform OpenGL context" (the probe that found no OpenGL) and "This plugin does not support
    createPlatformOpenGLContext" (the minimal platform's answer to the theme's attempt). Anything else goes to the handler
    that was installed before, or is written to stderr as Qt's own handler writes it
    (`qFormatLogMessage`).

    Args:
        mode: the message type, as Qt passes it.
        context: the message's log context.
        message: the message text.

    Returns:
        None, or what the previous handler returned.
    """

def _release_theme(view: QQuickItem, destroyed: object = None) -> None:
    """Connected to a graph's theme's `destroyed`: the view stops using the theme before it draws again.

    A GraphsView keeps a raw pointer to its theme and would draw with a theme that is gone; this
    sets its `theme` to None (the view falls back to its default theme). Nothing is done when the
    view itself is being destroyed.

    Args:
        view: the graph whose theme is gone.
        destroyed: the signal's argument, not used.

    Returns:
        None.
    """

def _drop_legend_entry(legend: QQuickItem, destroyed: object = None) -> None:
    """Connected to a series' `destroyed`: its entry leaves the graph's legend.

    Args:
        legend: the legend item of the series' graph; nothing is done when it is gone already.
        destroyed: the signal's argument, not used.

    Returns:
        None.
    """

def use_software_renderer() -> bool:
    """Make Qt Quick draw with its software renderer; True when it does (or will), False when too late.

    Qt Quick fixes its renderer for the whole process when the first Qt Quick widget or window
    starts: call this before any exists. The `QApplication` may exist already. Without a call,
    `build_sample_value_graph` chooses the software renderer itself where there is no GPU
    context (the offscreen and minimal platforms, a display without OpenGL); call this where
    there is OpenGL but on the CPU, such as Xvfb or a remote desktop with Mesa's llvmpipe, or to
    draw the same everywhere (tests, benchmarks). Measured here with 4 graphs of 2 lines of 4,000
    points, redrawn every 40 ms under Xvfb: 22 ms of CPU a tick with the software renderer (1 px
    lines), 330 ms with llvmpipe's OpenGL (2 px lines).

    The software renderer does not draw the grid, axis lines and tick marks (Qt draws them with
    shaders); series, labels, titles, backgrounds and the legend are drawn.

    When a Qt Quick widget or window was made before with another renderer, Qt keeps that one:
    nothing changes and the result is False (Qt's message "Scenegraph already initialized,
    setBackend() request ignored" is not printed). The renderer Qt Quick actually uses is
    `widget.quickWindow().rendererInterface().graphicsApi()` (`Software`, `OpenGL`, ...).

    Returns:
        True when Qt Quick uses, or will use, the software renderer.
    """

@overload
def build_sample_value_graph(
    ui_root: QWidget,
    host_name: str,
    *,
    y_title: str = "Value",
    x_title: str = "Sample",
    show_legend: object = True,
    return_widget: Literal[False] = False,
) -> tuple[QQuickItem, QValueAxis, QValueAxis]:
    """Put a Qt Graphs graph (a GraphsView in a QQuickWidget) with two value axes into the host named `host_name`.

    The host is found and filled as `larkui.plotdeck.build_sample_value_chart` does it: it is
    `ui_root.findChild(QWidget, host_name)`; a host without a layout gets a `QVBoxLayout`, a host
    with a layout keeps it and its items, and the widget is added after them (`addWidget(widget)`),
    so a second call adds a second graph. The `QQuickWidget` expands in both directions with a
    minimum size of (0, 0) and sizes its `GraphsView` to itself. The graph has an x axis titled
    `x_title` and a y axis titled `y_title` (`PySide6.QtGraphs.QValueAxis`, bold titles), labelled
    with whole numbers ("%.0f", as the Qt Charts chart's "%d"; call `axY.setLabelFormat("%.2f")`
    for fractions, never "%d": Qt Graphs hands the format a double) and with no minor grid. No
    range and no series are set: the axes start at Qt's (0, 10).

    The look is that of larkui's Qt Charts charts: a white background and plot area, a #e2e2e2
    grid and #d6d6d6 axis lines 1 px wide, labels and titles in #404044 in the application font,
    and the Qt Charts light theme's colours for series given none. With Qt Quick's software
    renderer the grid, axis lines and tick marks are not drawn.

    The legend sits in the graph, at the top centre: one entry per series added with
    `add_line_to_graph` or `add_scatter_to_graph`, a square of the series' colour and its name,
    following the series' name, colour and visibility (a hidden series' entry is faded). A click
    on an entry hides or shows its series. With a false `show_legend` the legend is made hidden;
    `graph.findChild(QQuickItem, "larkui_legend").setVisible(True)` shows it.

    The first graph of a process chooses Qt Quick's renderer where there is no GPU context (see
    `use_software_renderer`), and Qt's one-time messages about that fallback are dropped.

    Ownership: the layout belongs to the host, the widget to the host once its layout takes it,
    the view to the widget, and the axes, the theme, the legend and the series to the view. The
    theme is guarded: should it be deleted, the view drops it and falls back to Qt Graphs' default
    theme instead of drawing with a theme that is gone.

    Args:
        ui_root: the widget under which the host is looked up (not checked: any object with
            `findChild`).
        host_name: the object name of the host widget; exactly a `str`.
        y_title: the y axis title; exactly a `str`. Keyword-only, default "Value".
        x_title: the x axis title; exactly a `str`. Keyword-only, default "Sample".
        show_legend: any object, by its truth value: whether the legend is visible.
            Keyword-only, default True.
        return_widget: any object, by its truth value: whether the result also carries the
            `QQuickWidget`. Keyword-only, default False.

    Returns:
        `(graph, axX, axY)`: the `GraphsView` item (a `QQuickItem`; its series are added with
        `add_line_to_graph`), its x `QValueAxis` and its y `QValueAxis`; `(graph, axX, axY,
        widget)` with the `QQuickWidget` last when `return_widget` is true. Qt owns them through
        the host; dropping the tuple destroys nothing.

    Raises:
        RuntimeError: ``找不到 QWidget(objectName='NAME')`` ("QWidget not found", with
            `host_name` as given) when no `QWidget` child has that name, the message of
            `build_sample_value_chart`; nothing is created. ``Qt Graphs' GraphsView could not be
            loaded: ...`` when Qt's QML module QtGraphs is missing; nothing is added to the host.
        TypeError: ``Argument 'host_name' has incorrect type (expected str, got TYPE)``
            (likewise for `x_title`, `y_title`); ``build_sample_value_graph() takes exactly 2
            positional arguments (N given)`` when a title is passed positionally.
        AttributeError: when `ui_root` has no `findChild`. Errors of Qt calls propagate; a
            layout made for the host stays, the graph is added only once complete.
    """

@overload
def build_sample_value_graph(
    ui_root: QWidget,
    host_name: str,
    *,
    y_title: str = "Value",
    x_title: str = "Sample",
    show_legend: object = True,
    return_widget: Literal[True],
) -> tuple[QQuickItem, QValueAxis, QValueAxis, QQuickWidget]:
    """Put a Qt Graphs graph (a GraphsView in a QQuickWidget) with two value axes into the host named `host_name`.

    The host is found and filled as `larkui.plotdeck.build_sample_value_chart` does it: it is
    `ui_root.findChild(QWidget, host_name)`; a host without a layout gets a `QVBoxLayout`, a host
    with a layout keeps it and its items, and the widget is added after them (`addWidget(widget)`),
    so a second call adds a second graph. The `QQuickWidget` expands in both directions with a
    minimum size of (0, 0) and sizes its `GraphsView` to itself. The graph has an x axis titled
    `x_title` and a y axis titled `y_title` (`PySide6.QtGraphs.QValueAxis`, bold titles), labelled
    with whole numbers ("%.0f", as the Qt Charts chart's "%d"; call `axY.setLabelFormat("%.2f")`
    for fractions, never "%d": Qt Graphs hands the format a double) and with no minor grid. No
    range and no series are set: the axes start at Qt's (0, 10).

    The look is that of larkui's Qt Charts charts: a white background and plot area, a #e2e2e2
    grid and #d6d6d6 axis lines 1 px wide, labels and titles in #404044 in the application font,
    and the Qt Charts light theme's colours for series given none. With Qt Quick's software
    renderer the grid, axis lines and tick marks are not drawn.

    The legend sits in the graph, at the top centre: one entry per series added with
    `add_line_to_graph` or `add_scatter_to_graph`, a square of the series' colour and its name,
    following the series' name, colour and visibility (a hidden series' entry is faded). A click
    on an entry hides or shows its series. With a false `show_legend` the legend is made hidden;
    `graph.findChild(QQuickItem, "larkui_legend").setVisible(True)` shows it.

    The first graph of a process chooses Qt Quick's renderer where there is no GPU context (see
    `use_software_renderer`), and Qt's one-time messages about that fallback are dropped.

    Ownership: the layout belongs to the host, the widget to the host once its layout takes it,
    the view to the widget, and the axes, the theme, the legend and the series to the view. The
    theme is guarded: should it be deleted, the view drops it and falls back to Qt Graphs' default
    theme instead of drawing with a theme that is gone.

    Args:
        ui_root: the widget under which the host is looked up (not checked: any object with
            `findChild`).
        host_name: the object name of the host widget; exactly a `str`.
        y_title: the y axis title; exactly a `str`. Keyword-only, default "Value".
        x_title: the x axis title; exactly a `str`. Keyword-only, default "Sample".
        show_legend: any object, by its truth value: whether the legend is visible.
            Keyword-only, default True.
        return_widget: any object, by its truth value: whether the result also carries the
            `QQuickWidget`. Keyword-only, default False.

    Returns:
        `(graph, axX, axY)`: the `GraphsView` item (a `QQuickItem`; its series are added with
        `add_line_to_graph`), its x `QValueAxis` and its y `QValueAxis`; `(graph, axX, axY,
        widget)` with the `QQuickWidget` last when `return_widget` is true. Qt owns them through
        the host; dropping the tuple destroys nothing.

    Raises:
        RuntimeError: ``找不到 QWidget(objectName='NAME')`` ("QWidget not found", with
            `host_name` as given) when no `QWidget` child has that name, the message of
            `build_sample_value_chart`; nothing is created. ``Qt Graphs' GraphsView could not be
            loaded: ...`` when Qt's QML module QtGraphs is missing; nothing is added to the host.
        TypeError: ``Argument 'host_name' has incorrect type (expected str, got TYPE)``
            (likewise for `x_title`, `y_title`); ``build_sample_value_graph() takes exactly 2
            positional arguments (N given)`` when a title is passed positionally.
        AttributeError: when `ui_root` has no `findChild`. Errors of Qt calls propagate; a
            layout made for the host stays, the graph is added only once complete.
    """

@overload
def build_sample_value_graph(
    ui_root: QWidget,
    host_name: str,
    *,
    y_title: str = "Value",
    x_title: str = "Sample",
    show_legend: object = True,
    return_widget: object = False,
) -> tuple[QQuickItem, QValueAxis, QValueAxis] | tuple[QQuickItem, QValueAxis, QValueAxis, QQuickWidget]:
    """Put a Qt Graphs graph (a GraphsView in a QQuickWidget) with two value axes into the host named `host_name`.

    The host is found and filled as `larkui.plotdeck.build_sample_value_chart` does it: it is
    `ui_root.findChild(QWidget, host_name)`; a host without a layout gets a `QVBoxLayout`, a host
    with a layout keeps it and its items, and the widget is added after them (`addWidget(widget)`),
    so a second call adds a second graph. The `QQuickWidget` expands in both directions with a
    minimum size of (0, 0) and sizes its `GraphsView` to itself. The graph has an x axis titled
    `x_title` and a y axis titled `y_title` (`PySide6.QtGraphs.QValueAxis`, bold titles), labelled
    with whole numbers ("%.0f", as the Qt Charts chart's "%d"; call `axY.setLabelFormat("%.2f")`
    for fractions, never "%d": Qt Graphs hands the format a double) and with no minor grid. No
    range and no series are set: the axes start at Qt's (0, 10).

    The look is that of larkui's Qt Charts charts: a white background and plot area, a #e2e2e2
    grid and #d6d6d6 axis lines 1 px wide, labels and titles in #404044 in the application font,
    and the Qt Charts light theme's colours for series given none. With Qt Quick's software
    renderer the grid, axis lines and tick marks are not drawn.

    The legend sits in the graph, at the top centre: one entry per series added with
    `add_line_to_graph` or `add_scatter_to_graph`, a square of the series' colour and its name,
    following the series' name, colour and visibility (a hidden series' entry is faded). A click
    on an entry hides or shows its series. With a false `show_legend` the legend is made hidden;
    `graph.findChild(QQuickItem, "larkui_legend").setVisible(True)` shows it.

    The first graph of a process chooses Qt Quick's renderer where there is no GPU context (see
    `use_software_renderer`), and Qt's one-time messages about that fallback are dropped.

    Ownership: the layout belongs to the host, the widget to the host once its layout takes it,
    the view to the widget, and the axes, the theme, the legend and the series to the view. The
    theme is guarded: should it be deleted, the view drops it and falls back to Qt Graphs' default
    theme instead of drawing with a theme that is gone.

    Args:
        ui_root: the widget under which the host is looked up (not checked: any object with
            `findChild`).
        host_name: the object name of the host widget; exactly a `str`.
        y_title: the y axis title; exactly a `str`. Keyword-only, default "Value".
        x_title: the x axis title; exactly a `str`. Keyword-only, default "Sample".
        show_legend: any object, by its truth value: whether the legend is visible.
            Keyword-only, default True.
        return_widget: any object, by its truth value: whether the result also carries the
            `QQuickWidget`. Keyword-only, default False.

    Returns:
        `(graph, axX, axY)`: the `GraphsView` item (a `QQuickItem`; its series are added with
        `add_line_to_graph`), its x `QValueAxis` and its y `QValueAxis`; `(graph, axX, axY,
        widget)` with the `QQuickWidget` last when `return_widget` is true. Qt owns them through
        the host; dropping the tuple destroys nothing.

    Raises:
        RuntimeError: ``找不到 QWidget(objectName='NAME')`` ("QWidget not found", with
            `host_name` as given) when no `QWidget` child has that name, the message of
            `build_sample_value_chart`; nothing is created. ``Qt Graphs' GraphsView could not be
            loaded: ...`` when Qt's QML module QtGraphs is missing; nothing is added to the host.
        TypeError: ``Argument 'host_name' has incorrect type (expected str, got TYPE)``
            (likewise for `x_title`, `y_title`); ``build_sample_value_graph() takes exactly 2
            positional arguments (N given)`` when a title is passed positionally.
        AttributeError: when `ui_root` has no `findChild`. Errors of Qt calls propagate; a
            layout made for the host stays, the graph is added only once complete.
    """

def add_line_to_graph(
    graph: QQuickItem,
    axX: QValueAxis,
    axY: QValueAxis,
    name: str,
    color: _Colour,
    width: float | None = None,
) -> QLineSeries:
    """Make a line series of `color` and `width`, add it to `graph` on `axX` and `axY` and to its legend, return it.

    The series (`PySide6.QtGraphs.QLineSeries`) is named `name`, coloured `color` and drawn
    `width` pixels wide; it belongs to the graph. The graph's own axes serve every series that
    names none of its own, so for the axes of `build_sample_value_graph` nothing more is set;
    another axis is set on the series (`setAxisX`, `setAxisY`) and the graph shows it too. The
    series gets an entry in the graph's legend, which follows its name, colour and visibility and
    leaves when the series is deleted.

    Write data with `series.replaceNp(x, y)` (two C-contiguous float64 NumPy arrays of one
    length), `series.replace(points)` or a `larkui.plotdeck.TimeSeriesBuffer`. A point whose y is
    NaN or infinite is a gap in the line.

    The default width is 2 px where Qt Quick draws through the GPU, as for larkui's Qt Charts
    lines, and 1 px with Qt Quick's software renderer, which strokes any wider line far slower:
    measured here with 4 graphs of 2 noisy lines of 4,000 points each, redrawn every 40 ms, a
    tick took 20 ms of CPU at 1 px and 390 ms at 1.5 or 2 px. A width you give is used as it is.

    Args:
        graph: the GraphsView of `build_sample_value_graph` (a graph whose C++ side is gone
            raises RuntimeError).
        axX: the x axis, normally the second item of `build_sample_value_graph`'s result.
        axY: the y axis, normally the third item.
        name: the series name shown in the legend; exactly a `str`.
        color: the line colour: anything `QColor()` takes that gives a valid colour, such as
            "crimson", "#1f77b4", a `QColor` or a `Qt.GlobalColor`.
        width: the line width in pixels, a number above 0, or None for the default above.
            Default None.

    Returns:
        The new `QLineSeries`, owned by the graph.

    Raises:
        ValueError: ``not a colour: 'VALUE'`` for a colour QColor does not know (nothing is
            made); ``width must be a finite number above 0, not VALUE``.
        TypeError: ``Argument 'name' has incorrect type (expected str, got TYPE)``; Python's
            TypeError when `width` is not a number; Qt's TypeError for a colour QColor cannot
            take; ``add_line_to_graph() takes a graph of build_sample_value_graph, not VALUE``
            for an object that is no GraphsView; ``add_line_to_graph() takes at least 5
            positional arguments (N given)`` (``at most 6``). Errors of Qt calls propagate; the series is added to the graph only once
            it is complete.
    """

def add_scatter_to_graph(
    graph: QQuickItem,
    axX: QValueAxis,
    axY: QValueAxis,
    name: str,
    color: _Colour,
    size: float = 8.0,
) -> QScatterSeries:
    """Make a scatter series of round `color` markers `size` pixels across, add it to `graph` and its legend, return it.

    The series (`PySide6.QtGraphs.QScatterSeries`) is named `name`; each marker is a circle of
    `color` with a 1 px outline a shade darker (Qt Graphs sizes markers only through a QML
    delegate, which is made here: no QML to write). Axes and legend as for `add_line_to_graph`.
    Qt Graphs makes one scene item per marker: keep scatters to a few hundred points (markers of
    events, peaks); a curve of thousands of points is a line.

    Args:
        graph: the GraphsView of `build_sample_value_graph`.
        axX: the x axis, normally the second item of `build_sample_value_graph`'s result.
        axY: the y axis, normally the third item.
        name: the series name shown in the legend; exactly a `str`.
        color: the marker colour: anything `QColor()` takes that gives a valid colour.
        size: the marker diameter in pixels, a number above 0, converted to a float. Default 8.0.

    Returns:
        The new `QScatterSeries`, owned by the graph.

    Raises:
        ValueError: ``not a colour: 'VALUE'``; ``size must be a finite number above 0, not
            VALUE``.
        TypeError: ``Argument 'name' has incorrect type (expected str, got TYPE)``; Python's
            TypeError when `size` is not a number; ``add_scatter_to_graph() takes a graph of
            build_sample_value_graph, not VALUE`` for an object that is no GraphsView;
            ``add_scatter_to_graph() takes at least 5 positional arguments (N given)``.
    """
