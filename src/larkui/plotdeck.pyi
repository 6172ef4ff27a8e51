"""Qt Charts displays for measurement windows: charts in named hosts, styled series, buffered data.

The usual road of a chart display:

1. Once, while the window is set up: `wrap_dynamic_charts_into_tabs` creates (or gathers)
   chart hosts in tabs and returns them by name, or `wrap_hosts_in_scroll` moves existing
   hosts into a scrolling grid.
2. For each host: `build_sample_value_chart` puts a chart view with a chart into it and
   returns the chart with its bottom and left value axes.
3. For each curve: `add_line_to_chart`, `make_line` or `make_scatter` adds a styled series;
   wrap each series in a `TimeSeriesBuffer`.
4. While data arrives: the data source calls `TimeSeriesBuffer.add_point` (samples) or
   `TimeSeriesBuffer.set_data` (whole frames); nothing reaches Qt yet.
5. On the GUI timer: `sync_scrolling_chart` or `sync_snapshot_chart` flushes every buffer of
   one chart in one bulk call per series and sets the axis ranges.

Everything runs on the GUI thread and keeps no state of its own: what lasts lives in your
buffers and in the Qt widget tree, which owns every object made here. The functions look up
the Qt classes, `Qt`, `math` and `np` in this module's namespace at each call.

Arguments are checked by their annotation before anything happens:

- `str`, `list`, `dict`, `tuple`: exactly that built-in type; None (unless the default is
  None) and instances of subclasses are refused with TypeError ``Argument 'NAME' has
  incorrect type (expected TYPE, got GIVEN)``; a subclass instance also gets a note.
- `int`: an int as it is; another number (a float, a bool, a NumPy number) through `int()`,
  so 2.9 becomes 2; anything else is refused with the same TypeError naming `int`.
- `float`: any real number (an int, a float, a NumPy number), converted to a float; text is
  refused with Python's own TypeError ("must be real number, not str").
- `object` flags (`show_legend`, `antialias`, ...): any object, taken by its truth value.
- Qt objects, colours, styles and frames: not checked; Qt's own errors propagate.

A wrong argument count gives ``NAME() takes exactly|at least|at most N positional
arguments (M given)``, an unknown keyword ``NAME() got an unexpected keyword argument 'K'``.

Importing the module warns (RuntimeWarning) when it was compiled for another Python version
than the running one; NumPy must be installed.
"""

from collections.abc import Iterable, Iterator
from typing import Any, Literal, Protocol, TypeAlias, overload

from PySide6.QtCharts import QChart, QChartView, QLineSeries, QScatterSeries, QValueAxis, QXYSeries
from PySide6.QtCore import QPointF, Qt
from PySide6.QtGraphs import QValueAxis as _GraphsValueAxis
from PySide6.QtGraphs import QXYSeries as _GraphsXYSeries
from PySide6.QtGui import QColor
from PySide6.QtWidgets import QScrollArea, QWidget

from larkui.streaming import StreamBuffer

class _Frame(Protocol):
    """What `TimeSeriesBuffer.set_data` accepts: anything with a length that iterates to numbers.

    Normally a one-dimensional NumPy array; a list of floats works too.
    """

    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[Any]: ...

# A colour: text (a str subclass too) becomes QColor(text); anything else goes to Qt as it is.
_Colour: TypeAlias = QColor | Qt.GlobalColor | str

@overload
def build_sample_value_chart(
    ui_root: QWidget,
    host_name: str,
    *,
    y_title: str = "Value",
    x_title: str = "Sample",
    show_legend: object = True,
    antialias: object = False,
    minimal_viewport: object = True,
    return_view: Literal[False] = False,
) -> tuple[QChart, QValueAxis, QValueAxis]:
    """Put a chart view with an empty chart and two value axes into the host widget named `host_name`.

    The host is `ui_root.findChild(QWidget, host_name)`, typically an empty placeholder of a
    Designer file or a host made by `wrap_dynamic_charts_into_tabs`. A host without a layout
    gets a `QVBoxLayout`; a host with a layout (of any kind) keeps it and its items, and the view
    is added after them (`addWidget(view)`), so a second call for the same host adds a second
    chart. The chart has animations off and its legend shown or hidden by `show_legend`; the
    view expands in both directions with a minimum size of (0, 0). The X axis (bottom, titled
    `x_title`) and the Y axis (left, titled `y_title`) label their ticks with "%d", whole
    numbers: call `axY.setLabelFormat("%.2f")` for fractional values. No range, tick count,
    theme or series is set; attach series with `add_line_to_chart`, and let
    `sync_scrolling_chart` or `sync_snapshot_chart` set the ranges.

    Args:
        ui_root: the widget under which the host is looked up (not checked: any object with
            `findChild`).
        host_name: the object name of the host widget; exactly a `str`.
        y_title: the Y axis title; exactly a `str`. Keyword-only, default "Value".
        x_title: the X axis title; exactly a `str`. Keyword-only, default "Sample".
        show_legend: any object, by its truth value: whether the legend is visible.
            Keyword-only, default True.
        antialias: any object, by its truth value: whether the view draws antialiased (smoother
            lines, slower repaints). Keyword-only, default False.
        minimal_viewport: any object, by its truth value: when true the view repaints only the
            changed parts of its viewport (`QGraphicsView.MinimalViewportUpdate`); when false
            the view keeps Qt's default update mode. Keyword-only, default True.
        return_view: any object, by its truth value: whether the result also carries the
            `QChartView`. Keyword-only, default False.

    Returns:
        `(chart, axX, axY)`: the new `QChart`, its bottom `QValueAxis` and its left
        `QValueAxis`; `(chart, axX, axY, view)` with the `QChartView` last when `return_view`
        is true. Qt owns them through the host; dropping the tuple destroys nothing. The stubs
        type the 3-tuple and the 4-tuple by `return_view=False` and `return_view=True`.

    Raises:
        RuntimeError: ``找不到 QWidget(objectName='NAME')`` ("QWidget not found", with
            `host_name` as given) when no `QWidget` child has that name; nothing is created.
        TypeError: ``Argument 'host_name' has incorrect type (expected str, got TYPE)``
            (likewise for `x_title`, `y_title`); ``build_sample_value_chart() takes exactly 2
            positional arguments (N given)`` when a title is passed positionally.
        AttributeError: when `ui_root` has no `findChild`. Errors of Qt calls propagate; a
            layout or view already added stays in the host.
    """

@overload
def build_sample_value_chart(
    ui_root: QWidget,
    host_name: str,
    *,
    y_title: str = "Value",
    x_title: str = "Sample",
    show_legend: object = True,
    antialias: object = False,
    minimal_viewport: object = True,
    return_view: Literal[True],
) -> tuple[QChart, QValueAxis, QValueAxis, QChartView]:
    """Put a chart view with an empty chart and two value axes into the host widget named `host_name`.

    The host is `ui_root.findChild(QWidget, host_name)`, typically an empty placeholder of a
    Designer file or a host made by `wrap_dynamic_charts_into_tabs`. A host without a layout
    gets a `QVBoxLayout`; a host with a layout (of any kind) keeps it and its items, and the view
    is added after them (`addWidget(view)`), so a second call for the same host adds a second
    chart. The chart has animations off and its legend shown or hidden by `show_legend`; the
    view expands in both directions with a minimum size of (0, 0). The X axis (bottom, titled
    `x_title`) and the Y axis (left, titled `y_title`) label their ticks with "%d", whole
    numbers: call `axY.setLabelFormat("%.2f")` for fractional values. No range, tick count,
    theme or series is set; attach series with `add_line_to_chart`, and let
    `sync_scrolling_chart` or `sync_snapshot_chart` set the ranges.

    Args:
        ui_root: the widget under which the host is looked up (not checked: any object with
            `findChild`).
        host_name: the object name of the host widget; exactly a `str`.
        y_title: the Y axis title; exactly a `str`. Keyword-only, default "Value".
        x_title: the X axis title; exactly a `str`. Keyword-only, default "Sample".
        show_legend: any object, by its truth value: whether the legend is visible.
            Keyword-only, default True.
        antialias: any object, by its truth value: whether the view draws antialiased (smoother
            lines, slower repaints). Keyword-only, default False.
        minimal_viewport: any object, by its truth value: when true the view repaints only the
            changed parts of its viewport (`QGraphicsView.MinimalViewportUpdate`); when false
            the view keeps Qt's default update mode. Keyword-only, default True.
        return_view: any object, by its truth value: whether the result also carries the
            `QChartView`. Keyword-only, default False.

    Returns:
        `(chart, axX, axY)`: the new `QChart`, its bottom `QValueAxis` and its left
        `QValueAxis`; `(chart, axX, axY, view)` with the `QChartView` last when `return_view`
        is true. Qt owns them through the host; dropping the tuple destroys nothing. The stubs
        type the 3-tuple and the 4-tuple by `return_view=False` and `return_view=True`.

    Raises:
        RuntimeError: ``找不到 QWidget(objectName='NAME')`` ("QWidget not found", with
            `host_name` as given) when no `QWidget` child has that name; nothing is created.
        TypeError: ``Argument 'host_name' has incorrect type (expected str, got TYPE)``
            (likewise for `x_title`, `y_title`); ``build_sample_value_chart() takes exactly 2
            positional arguments (N given)`` when a title is passed positionally.
        AttributeError: when `ui_root` has no `findChild`. Errors of Qt calls propagate; a
            layout or view already added stays in the host.
    """

@overload
def build_sample_value_chart(
    ui_root: QWidget,
    host_name: str,
    *,
    y_title: str = "Value",
    x_title: str = "Sample",
    show_legend: object = True,
    antialias: object = False,
    minimal_viewport: object = True,
    return_view: object = False,
) -> tuple[QChart, QValueAxis, QValueAxis] | tuple[QChart, QValueAxis, QValueAxis, QChartView]:
    """Put a chart view with an empty chart and two value axes into the host widget named `host_name`.

    The host is `ui_root.findChild(QWidget, host_name)`, typically an empty placeholder of a
    Designer file or a host made by `wrap_dynamic_charts_into_tabs`. A host without a layout
    gets a `QVBoxLayout`; a host with a layout (of any kind) keeps it and its items, and the view
    is added after them (`addWidget(view)`), so a second call for the same host adds a second
    chart. The chart has animations off and its legend shown or hidden by `show_legend`; the
    view expands in both directions with a minimum size of (0, 0). The X axis (bottom, titled
    `x_title`) and the Y axis (left, titled `y_title`) label their ticks with "%d", whole
    numbers: call `axY.setLabelFormat("%.2f")` for fractional values. No range, tick count,
    theme or series is set; attach series with `add_line_to_chart`, and let
    `sync_scrolling_chart` or `sync_snapshot_chart` set the ranges.

    Args:
        ui_root: the widget under which the host is looked up (not checked: any object with
            `findChild`).
        host_name: the object name of the host widget; exactly a `str`.
        y_title: the Y axis title; exactly a `str`. Keyword-only, default "Value".
        x_title: the X axis title; exactly a `str`. Keyword-only, default "Sample".
        show_legend: any object, by its truth value: whether the legend is visible.
            Keyword-only, default True.
        antialias: any object, by its truth value: whether the view draws antialiased (smoother
            lines, slower repaints). Keyword-only, default False.
        minimal_viewport: any object, by its truth value: when true the view repaints only the
            changed parts of its viewport (`QGraphicsView.MinimalViewportUpdate`); when false
            the view keeps Qt's default update mode. Keyword-only, default True.
        return_view: any object, by its truth value: whether the result also carries the
            `QChartView`. Keyword-only, default False.

    Returns:
        `(chart, axX, axY)`: the new `QChart`, its bottom `QValueAxis` and its left
        `QValueAxis`; `(chart, axX, axY, view)` with the `QChartView` last when `return_view`
        is true. Qt owns them through the host; dropping the tuple destroys nothing. The stubs
        type the 3-tuple and the 4-tuple by `return_view=False` and `return_view=True`.

    Raises:
        RuntimeError: ``找不到 QWidget(objectName='NAME')`` ("QWidget not found", with
            `host_name` as given) when no `QWidget` child has that name; nothing is created.
        TypeError: ``Argument 'host_name' has incorrect type (expected str, got TYPE)``
            (likewise for `x_title`, `y_title`); ``build_sample_value_chart() takes exactly 2
            positional arguments (N given)`` when a title is passed positionally.
        AttributeError: when `ui_root` has no `findChild`. Errors of Qt calls propagate; a
            layout or view already added stays in the host.
    """

def make_scatter(
    chart: QChart,
    name: str,
    size: float,
    fill: _Colour,
    stroke: _Colour,
    stroke_w: float,
) -> QScatterSeries:
    """Make a scatter series of filled, outlined markers, add it to `chart` and return it.

    All six arguments are required. The series is named `name`, its markers are `size` pixels
    across, filled with `fill` and outlined with a pen of colour `stroke` and width `stroke_w`;
    the marker border colour is the pen's colour. The series is not attached to any axis: call
    `attachAxis(axX)` and `attachAxis(axY)` on it to plot it against the axes of
    `build_sample_value_chart`.

    A colour given as text (a `str` or a subclass), such as "crimson" or "#1f77b4", becomes
    `QColor(text)`; anything else (a `QColor`, a `Qt.GlobalColor`) goes to Qt as it is.

    Args:
        chart: the chart that receives the series (not checked: any object with `addSeries`).
        name: the series name shown in the legend; exactly a `str`.
        size: the marker diameter in pixels, converted to a float (an int is fine).
        fill: the marker fill colour, by the colour rule above.
        stroke: the marker outline colour, by the colour rule above.
        stroke_w: the outline width in pixels, converted to a float.

    Returns:
        The new `QScatterSeries`, owned by `chart`.

    Raises:
        TypeError: ``Argument 'name' has incorrect type (expected str, got TYPE)``; Python's
            own TypeError when `size` or `stroke_w` is not a number, both before anything is
            made; ``make_scatter() takes exactly 6 positional arguments (N given)``. A colour
            that Qt refuses raises Qt's TypeError, and the series is then not added.
    """

def make_line(
    chart: QChart,
    name: str,
    color: _Colour,
    width: float = 2.0,
    style: Qt.PenStyle = Qt.PenStyle.SolidLine,
) -> QLineSeries:
    """Make a line series drawn with a pen of `color`, `width` and `style`, add it to `chart`, return it.

    The series is not attached to any axis; `add_line_to_chart` makes the same series and
    attaches it to a pair of axes. A colour given as text (a `str` or a subclass), such as
    "crimson" or "#1f77b4", becomes `QColor(text)`; anything else (a `QColor`, a
    `Qt.GlobalColor`) goes to Qt as it is. The line colour is the pen's: `setColor` is not
    called on the series.

    Args:
        chart: the chart that receives the series (not checked: any object with `addSeries`).
        name: the series name shown in the legend; exactly a `str`.
        color: the line colour, by the colour rule above.
        width: the line width in pixels, converted to a float (an int is fine). Default 2.0.
        style: the pen style, such as `Qt.PenStyle.DashLine`, passed to `QPen.setStyle` as it
            is. Default `Qt.PenStyle.SolidLine` (looked up once, at import).

    Returns:
        The new `QLineSeries`, owned by `chart`.

    Raises:
        TypeError: ``Argument 'name' has incorrect type (expected str, got TYPE)``; Python's
            own TypeError when `width` is not a number, both before anything is made;
            ``make_line() takes at least 3 positional arguments (N given)`` (``at most 5``).
            A colour or style that Qt refuses raises Qt's TypeError, and the series is then
            not added.
    """

def add_line_to_chart(
    chart: QChart,
    axX: QValueAxis,
    axY: QValueAxis,
    name: str,
    color: _Colour,
    width: float = 2.0,
    style: Qt.PenStyle = Qt.PenStyle.SolidLine,
) -> QLineSeries:
    """Make a line series like `make_line`, add it to `chart`, attach it to `axX` then `axY`, return it.

    This is the usual way to add a curve to a chart of `build_sample_value_chart`: the series
    is added to the chart first, then attached to the X axis, then to the Y axis. A colour given
    as text (a `str` or a subclass) becomes `QColor(text)`; anything else goes to Qt as it is.

    Args:
        chart: the chart that receives the series (not checked: any object with `addSeries`).
        axX: the X axis to attach the series to, normally the second item of
            `build_sample_value_chart`'s result.
        axY: the Y axis to attach the series to, normally the third item.
        name: the series name shown in the legend; exactly a `str`.
        color: the line colour, by the colour rule above.
        width: the line width in pixels, converted to a float (an int is fine). Default 2.0.
        style: the pen style, such as `Qt.PenStyle.DotLine`, passed to `QPen.setStyle` as it
            is. Default `Qt.PenStyle.SolidLine` (looked up once, at import).

    Returns:
        The new `QLineSeries`, owned by `chart` and attached to both axes.

    Raises:
        TypeError: ``Argument 'name' has incorrect type (expected str, got TYPE)``; Python's
            own TypeError when `width` is not a number, both before anything is made;
            ``add_line_to_chart() takes at least 5 positional arguments (N given)`` (``at most
            7``). Qt's errors propagate; when `attachAxis` fails the series stays in the chart.
    """

def wrap_hosts_in_scroll(
    ui_root: QWidget,
    host_names: Iterable[str],
    *,
    cols: int = 2,
    root_margins: tuple[int, int, int, int] = (6, 50, 6, 6),
    grid_margins: tuple[int, int, int, int] = (6, 6, 6, 6),
    grid_hgap: int = 6,
    grid_vgap: int = 6,
    min_cell_size: tuple[int, int] = (800, 500),
    host_heights: int | dict[str, int] | None = None,
) -> QScrollArea | None:
    """Move the named hosts under `ui_root` into a grid inside a new scroll area that fills `ui_root`.

    1. Each name is looked up with `ui_root.findChild(QWidget, name)`, wherever the host sits
       (in the root layout, a nested layout, an earlier call's scroll area); the hosts are
       moved, not recreated, so their charts move with them. Names that match nothing are
       skipped and leave no gap. When none matches, nothing at all is changed and None is
       returned (a `ui_root` without a layout still has none).
    2. The root layout (a new `QVBoxLayout` when `ui_root` has none) gets the margins
       `root_margins` and spacing 6, and is emptied: every widget in it is detached from the
       window with `setParent(None)` (keep a reference to any you still need, or PySide6
       destroys it); spacers and nested layouts are just taken out.
    3. A new `QScrollArea` (scroll bars as needed, widget not resizable) becomes the layout's
       only item. Its content widget holds a `QGridLayout` with the margins `grid_margins` and
       the spacings `grid_hgap` and `grid_vgap`.
    4. The hosts are placed row by row, `cols` to a row, in the order found: with `cols=3` at
       (0, 0), (0, 1), (0, 2), (1, 0), ... Every host gets the minimum width
       `min_cell_size[0]` and either its fixed height (minimum = maximum height, size policy
       Preferred horizontally and Fixed vertically) or the minimum height `min_cell_size[1]`
       (size policy Preferred in both directions).
    5. The content keeps its natural size (its minimum size is its size hint), so the scroll
       bars appear as soon as the window is smaller than the grid.

    Calling it again with the same names finds the hosts in the first scroll area, moves them
    into a new one and detaches the first. Hosts that sit inside another widget of the root
    layout (an earlier scroll area, a panel) survive being detached with it: every widget taken
    out of the root layout is held until the call returns, not only the last one.

    Args:
        ui_root: the root widget: the hosts are looked up under it and its layout receives the
            scroll area (not checked).
        host_names: the object names of the hosts, any iterable of `str`, iterated once.
        cols: the number of grid columns; an int, or a number through `int()` (2.9 gives 2); a
            count below 1 counts as 1, a huge one is clamped. Keyword-only, default 2.
        root_margins: exactly a `tuple` (left, top, right, bottom) in pixels: the margins
            between the scroll area and the edges of `ui_root`; the default's 50 at the top
            leaves room above. Keyword-only, default (6, 50, 6, 6).
        grid_margins: exactly a `tuple` (left, top, right, bottom): the grid's margins.
            Keyword-only, default (6, 6, 6, 6).
        grid_hgap: the horizontal spacing between cells in pixels; converted like `cols`.
            Keyword-only, default 6.
        grid_vgap: the vertical spacing between cells in pixels; converted like `cols`.
            Keyword-only, default 6.
        min_cell_size: exactly a `tuple` (width, height): the minimum size of every host (the
            height only for hosts without a fixed height). Keyword-only, default (800, 500).
        host_heights: fixed host heights in pixels: None for none; an int (a bool too) for every
            host; a dict from host object name to height (a None value, or a missing name,
            means no fixed height). Heights that are floats go through `int()`; any other kind
            of `host_heights` is ignored. Keyword-only, default None.

    Returns:
        The new `QScrollArea` (owned by `ui_root`), or None when no name was found.

    Raises:
        TypeError: ``Argument 'root_margins' has incorrect type (expected tuple, got TYPE)``
            (likewise `grid_margins`, `min_cell_size`) and ``Argument 'cols' has incorrect type
            (expected int, got TYPE)`` (likewise `grid_hgap`, `grid_vgap`) before anything is
            changed; ``Expected int, got TYPE`` for a fixed height that is not a number (a dict
            value "300"); ``wrap_hosts_in_scroll() takes exactly 2 positional arguments (N
            given)``. Qt's errors propagate (a name that is not text, margins Qt refuses).
        IndexError: ``tuple index out of range`` when `min_cell_size` has fewer than two items.
            After a failure in the placement, the root layout stays emptied.
    """

def wrap_dynamic_charts_into_tabs(
    ui_root: QWidget,
    layout_config: dict[str, list[str]],
    *,
    cols: int = 2,
    root_margins: tuple[int, int, int, int] = (6, 50, 6, 6),
    min_cell_size: tuple[int, int] = (500, 350),
) -> dict[str, QWidget]:
    """Build one tab per entry of `layout_config`, each a scrolling grid of hosts; return the hosts by name.

    The root layout (made as a `QVBoxLayout` when `ui_root` has none) is emptied (every widget
    in it is detached from the window and released, spacers and nested layouts just taken out),
    gets the margins `root_margins` and receives a new `QTabWidget`. For each entry, in the
    dictionary's order, a tab labelled with the key holds a resizable scroll area with a grid
    of the hosts named in the value, filled column by column: with n names the grid has
    ceil(n / cols) rows, so 5 names in 2 columns fill (0, 0), (1, 0), (2, 0), (0, 1), (1, 1),
    and 4 names with `cols=3` use two columns. The row below the last takes the spare height,
    so the hosts keep to the top; an empty list of names gives an empty page. Every host gets
    the minimum size `min_cell_size` and the size policy MinimumExpanding in both directions.

    A host is looked up with `ui_root.findChild(QWidget, name)`: a widget under `ui_root`
    outside the root layout (in a nested layout, or a child not in any layout) is reused and
    moved; a widget that sat in the emptied root layout is not found, and neither is the host
    of an earlier call, so a new `QWidget` with that object name is created. A name in two tabs
    ends in the second; a name twice in one tab makes two widgets, and the result holds the
    second.

    A name that Qt matches to the new tab widget itself (an empty name can), to its page stack
    ("qt_tabwidget_stackedwidget") or to its tab bar ("qt_tabwidget_tabbar") is not taken as
    a host (it would make a widget its own ancestor): a new host with that name is created.

    Example:
        hosts = wrap_dynamic_charts_into_tabs(root, {"Chirp 1": ["w_c1_mag", "w_c1_a1"],
                                                     "Chirp 2": ["w_c2_mag"]})
        chart, axX, axY = build_sample_value_chart(root, "w_c1_mag")  # hosts["w_c1_mag"] is its host

    Args:
        ui_root: the root widget whose layout receives the tab widget and under which existing
            hosts are looked up (not checked).
        layout_config: exactly a `dict` from tab label (`str`) to the host object names of that
            tab (a list of `str`, or anything with a length that iterates).
        cols: the wanted number of grid columns per tab; an int, or a number through `int()`; a
            count below 1 counts as 1. Keyword-only, default 2.
        root_margins: exactly a `tuple` (left, top, right, bottom) in pixels: the margins
            between the tab widget and the edges of `ui_root`. Keyword-only, default
            (6, 50, 6, 6).
        min_cell_size: exactly a `tuple` (width, height): the minimum size of every host.
            Keyword-only, default (500, 350).

    Returns:
        A new dict from every host name to the host widget placed for it, in the order of first
        appearance; empty for an empty `layout_config` (which still empties the root layout and
        adds a tab widget without pages).

    Raises:
        TypeError: ``Argument 'layout_config' has incorrect type (expected dict, got TYPE)``,
            ``Argument 'root_margins' has incorrect type (expected tuple, got TYPE)`` (likewise
            `min_cell_size`) and ``Argument 'cols' has incorrect type (expected int, got
            TYPE)`` before anything is changed; ``wrap_dynamic_charts_into_tabs() takes exactly
            2 positional arguments (N given)``; Python's TypeError for a value without a length;
            Qt's TypeError for a host name or tab label that is not text.
        RuntimeError: ``dictionary changed size during iteration`` when `layout_config` changes
            while the tabs are built.
        ZeroDivisionError: ``integer division or modulo by zero`` when `cols` is so huge that
            n / cols rounds to 0.0, as the Python arithmetic would. Nothing is undone after a
            failure: the tabs finished so far stay.
    """

class TimeSeriesBuffer:
    """Buffers the data of one XY series between a producer and the GUI timer that draws it.

    The producer, your data source, feeds the buffer in two ways, which one buffer may mix:

    - scrolling time series: `add_point(x, y)` for every sample; the next flush appends all
      pending points in one `append` call;
    - frame snapshot: `set_data(frame, x_offset)` with a whole frame; the next flush replaces
      the series with it in one call, point i at x = i + x_offset.

    The producer calls never touch Qt; `flush`, normally called by `sync_scrolling_chart` or
    `sync_snapshot_chart`, writes what is pending. The buffer refers to its series without
    owning it (the chart does) and keeps what the synchronisers need: the recent y values
    (`history`), the x of the newest point (`last_x`) and the last frame written
    (`last_snapshot_data`, `last_snapshot_offset`). All state is in plain instance attributes
    that the synchronisers read directly.

    The buffer never trims the Qt series: in scrolling mode every point stays in it until
    `clear`, and Qt Charts gets slower as a series grows. For a long run, drop old points
    yourself now and then, for example `series.removePoints(0, n)` in one call.

    A series of a Qt Graphs graph (`larkui.graphs`, `PySide6.QtGraphs`) is fed the same way:
    it takes `append`, `replace`, `clear`, `isVisible` and `setVisible` with the same points.
    Qt Graphs keeps an appended point whose y is NaN (a gap), where Qt Charts drops it.
    """

    series: QXYSeries | _GraphsXYSeries
    """The Qt XY series this buffer writes to, as passed to the constructor (Qt Charts' or Qt Graphs')."""

    history: list[float]
    """The y values of the points given to `add_point`, oldest first, at most `max_history` of
    them: a list of floats.
    """

    max_history: int
    """The most y values `history` keeps. You may assign a new limit: each later `add_point` then
    drops one value at most, so a longer history shrinks only as new points come.
    """

    last_x: float
    """The x of the last point appended to the series by `flush` (0 until then, and after `clear`)."""

    last_snapshot_data: _Frame | None
    """The frame object last written to the series by `flush` (your object, not a copy), or
    None.
    """

    last_snapshot_offset: float
    """The x offset with which `last_snapshot_data` was written (0 until then; `clear` keeps it)."""

    _pending_points: list[QPointF]
    """Internal: the points given to `add_point` since the last flush that appended points."""

    _pending_snapshot: _Frame | None
    """Internal: the frame waiting for the next flush, or None."""

    _pending_snapshot_offset: float
    """Internal: the x offset of the waiting frame."""

    def __init__(self, series: QXYSeries | _GraphsXYSeries, max_history: int = 10000) -> None:
        """Make an empty buffer for `series`.

        Args:
            series: the series to feed, normally a `QLineSeries` of `add_line_to_chart` or a
                `QScatterSeries` of `make_scatter`; anything with `append` and `replace` (each
                taking a list of `QPointF`), `clear`, `isVisible` and `setVisible` works (not
                checked).
            max_history: the most y values `history` keeps for the y range of
                `sync_scrolling_chart`; an int, or a number through `int()`. It bounds `history`
                only, never the series; 0 or less keeps none. Default 10000.

        Raises:
            TypeError: ``Argument 'max_history' has incorrect type (expected int, got TYPE)``.
        """

    def add_point(self, x: float, y: float) -> None:
        """Producer, scrolling mode: queue one point; its y joins `history`.

        Appends `y` to `history` (dropping the oldest value once when `history` is then longer
        than `max_history`) and a `QPointF(x, y)` to the pending points. Nothing is written to
        the series until `flush`. The cost of an `add_point` with a full history grows with
        `max_history`: the oldest value is removed from the front of the list.

        A NaN or infinite `y` is kept in `history`, and `sync_scrolling_chart` leaves it out of
        the y range. The series does not keep such a point: Qt's `append` drops a point whose x or
        y is NaN or infinite, with the warning "Ignored NaN, Inf, or -Inf value.", so the line
        joins across it. (A frame of `set_data` is written with `replace`, which keeps them.)

        Args:
            x: the point's x in axis units (a sample number, a time), converted to a float.
                Keep it increasing: `sync_scrolling_chart` scrolls to the newest `last_x`.
            y: the point's value, converted to a float.

        Raises:
            TypeError: Python's own (``must be real number, not str``), when `x` or `y` is not a
                number; nothing is changed.
            OverflowError: ``int too large to convert to float``; nothing is changed.
        """

    def set_data(self, data: _Frame, x_offset: float = 0.0) -> None:
        """Producer, snapshot mode: queue a whole frame to replace the series at the next flush.

        The frame object itself is kept, not a copy: hand over a new array each time, since
        changes made to it before the flush are what gets written. A frame still pending is
        dropped unwritten; `history` and pending points are not touched.

        Args:
            data: the frame, normally a one-dimensional NumPy array (anything with a length that
                iterates to numbers works); point i is drawn at x = i + `x_offset`.
            x_offset: the x of the frame's first point (a start index, or the first bin's
                frequency), converted to a float. Default 0.0.

        Raises:
            TypeError: Python's own, when `x_offset` is not a number; nothing is changed.
        """

    def flush(self) -> bool:
        """Consumer: write what is pending to the series in one call; True if the series was written.

        - A pending frame comes first: the series is replaced by its points in one call, point i
          at x = i + offset; `last_snapshot_data` and `last_snapshot_offset` are set and the frame
          is no longer pending. Points added meanwhile wait for the next flush.
        - That call is PySide6's fast NumPy entry point `replaceNp`, which writes exactly the same
          points, when the series is a genuine PySide6 XY series whose `replace` is the binding's
          own (neither overridden by a subclass nor set on the instance), the module's `QPointF` is
          PySide6's own, and the frame is a non-empty one-dimensional NumPy array of an integer or
          real type of at most 64 bits in native byte order (a strided view too) or a list or tuple
          of plain floats and ints. Everything else (other dtypes, other sequences, series whose
          `replace` you overrode) goes through `replace` with a list of `QPointF`.
        - Without a pending frame, all pending points are appended in one `append` call and
          `last_x` becomes the x of the last one.
        - A series that was hidden (say, through its legend marker) is shown again whenever data
          is written.
        - With nothing pending no series call is made.

        Errors of the series calls and of building the points propagate. A frame that could
        not be written stays pending (every later flush tries it again until `set_data` or
        `clear` replaces it); points that could not be appended stay pending.

        Returns:
            True when the series was written, False when nothing was pending.
        """

    def clear(self) -> None:
        """Empty the series and the buffer.

        Calls `series.clear()`, then empties `history` and the pending points, drops a pending
        frame, sets `last_snapshot_data` to None and `last_x` to 0. `series`, `max_history` and
        the two offsets keep their values. An error of `series.clear()` propagates before
        anything in the buffer is reset.
        """

    @property
    def is_visible(self) -> bool:
        """Whether the series is visible: `series.isVisible()`, read afresh each time (read-only).

        Assigning to it raises AttributeError. The synchronisers leave hidden series out of the
        axis ranges (their buffers are still flushed).
        """

@overload
def sync_scrolling_chart(
    buffers: list[TimeSeriesBuffer | StreamBuffer],
    axX: QValueAxis,
    axY: QValueAxis,
    window_size: int,
    fixed_y_range: tuple[float, float] | None = None,
    margin_ratio: float = 0.1,
    y_tick_cnt: int | None = None,
    small_span_padding: int = 1,
) -> None:
    """Flush every buffer of a scrolling chart, show the newest `window_size` x positions, fit the y axis.

    Call it from the GUI timer with all buffers of one chart. In order:

    1. Every buffer is flushed, hidden ones too. The newest x is the largest `last_x` of them
       (a hidden buffer's counts as well; a NaN or infinite one is ignored), or 0 when none is
       above 0.
    2. X range: (1, window_size) while the newest x is below `window_size`, else
       (newest - window_size + 1, newest). X ticks: window_size + 1 for a window of 20 or less
       (set on every call, when that is at least 2), else 6 (written only when the axis has
       another count).
    3. With `fixed_y_range`, the y range is set to it and the y tick count to `y_tick_cnt` (on
       every call), or to 5 when that is None (written only when the axis has another count).
       Done.
    4. Otherwise the y values are the last window_size + 1 values of `history` of every
       visible buffer (chosen by count, not by x). NaN, inf and -inf (sensor dropouts,
       overflows) are left out wherever they fall; with no value left, the y axis is left as
       it was.
    5. Small span (max - min below 15): the range is (floor(min) - small_span_padding,
       ceil(max) + small_span_padding), widened by one on each side when that is empty, with
       one tick per whole number; `y_tick_cnt` replaces that count only when it would be above
       5, and the count is at least 2.
    6. Wide span (15 or more): the range is (min - margin, max + margin) with
       margin = span * margin_ratio (1.0 when that is 0), and the tick count is `y_tick_cnt`,
       or 6 when that is None (written only when the axis has another count).

    | case | result |
    |------|--------|
    | `window_size=100`, newest x 250.0 | x range (151.0, 250.0), 6 x ticks |
    | `window_size=10`, newest x 57.0 | x range (48.0, 57.0), 11 x ticks |
    | `window_size=50`, newest x 30.0 or no data | x range (1, 50) |
    | y values 3.2 to 9.9, padding 1 | y range (2, 11), 10 ticks (or `y_tick_cnt`) |
    | y values 2.3 to 3.1, padding 1 | y range (1, 5), 5 ticks, even with `y_tick_cnt` |
    | all y values 5.0, padding 0 | y range (4, 6), 3 ticks |
    | y values 0.0 to 100.0, `margin_ratio=0.1` | y range (-10.0, 110.0), 6 ticks (or `y_tick_cnt`) |

    The automatic y range never passes a NaN or an infinite value to `setRange`: where the
    margin would make an end non-finite (a huge span, a NaN or infinite `margin_ratio`), the
    range is the extremes themselves.

    A StreamBuffer's history is read straight from its store of doubles, with the same result as
    its slice. For charts of StreamBuffers, `larkui.streaming.sync_stream_chart` is the better
    call: it sets the axes before it writes the lines (so Qt lays each line out once per tick, not
    two or three times), takes the y range from exactly what is on screen, and picks round ticks
    whose labels fit the plot.

    Args:
        buffers: exactly a `list` of the chart's `TimeSeriesBuffer` and
            `larkui.streaming.StreamBuffer` objects, in any mix (a tuple is refused); may be
            empty.
        axX: the chart's X value axis (not checked).
        axY: the chart's Y value axis (not checked).
        window_size: the width of the visible x window in x units; an int, or a number through
            `int()`.
        fixed_y_range: None for an automatic y range, or exactly a `tuple` (y_min, y_max).
            Default None.
        margin_ratio: the margin of a wide-span y range as a fraction of the span, converted to
            a float. Default 0.1.
        y_tick_cnt: an explicit y tick count (an int, or a number through `int()`), or None for
            the defaults above. Default None.
        small_span_padding: whole units added below and above a small-span y range; an int, or
            a number through `int()`. Default 1.

    Returns:
        None.

    Raises:
        TypeError: ``Argument 'buffers' has incorrect type (expected list, got TYPE)``,
            ``Argument 'window_size' has incorrect type (expected int, got TYPE)`` (likewise
            `y_tick_cnt`, `small_span_padding`), ``Argument 'fixed_y_range' has incorrect type
            (expected tuple, got TYPE)``; Python's own TypeError for a `margin_ratio` that is
            not a number; all before any buffer is flushed.
        ValueError: ``too many values to unpack (expected 2)`` or ``need more than N values to
            unpack`` (``need more than 1 value to unpack`` for a one-item tuple) for a
            `fixed_y_range` that is not a pair, after the buffers were flushed and the x axis
            set. Errors of a flush or an axis call propagate at once; the buffers after it stay
            unflushed.
    """

@overload
def sync_scrolling_chart(
    buffers: list[TimeSeriesBuffer] | list[StreamBuffer],
    axX: QValueAxis,
    axY: QValueAxis,
    window_size: int,
    fixed_y_range: tuple[float, float] | None = None,
    margin_ratio: float = 0.1,
    y_tick_cnt: int | None = None,
    small_span_padding: int = 1,
) -> None:
    """Flush every buffer of a scrolling chart, show the newest `window_size` x positions, fit the y axis.

    Call it from the GUI timer with all buffers of one chart. In order:

    1. Every buffer is flushed, hidden ones too. The newest x is the largest `last_x` of them
       (a hidden buffer's counts as well; a NaN or infinite one is ignored), or 0 when none is
       above 0.
    2. X range: (1, window_size) while the newest x is below `window_size`, else
       (newest - window_size + 1, newest). X ticks: window_size + 1 for a window of 20 or less
       (set on every call, when that is at least 2), else 6 (written only when the axis has
       another count).
    3. With `fixed_y_range`, the y range is set to it and the y tick count to `y_tick_cnt` (on
       every call), or to 5 when that is None (written only when the axis has another count).
       Done.
    4. Otherwise the y values are the last window_size + 1 values of `history` of every
       visible buffer (chosen by count, not by x). NaN, inf and -inf (sensor dropouts,
       overflows) are left out wherever they fall; with no value left, the y axis is left as
       it was.
    5. Small span (max - min below 15): the range is (floor(min) - small_span_padding,
       ceil(max) + small_span_padding), widened by one on each side when that is empty, with
       one tick per whole number; `y_tick_cnt` replaces that count only when it would be above
       5, and the count is at least 2.
    6. Wide span (15 or more): the range is (min - margin, max + margin) with
       margin = span * margin_ratio (1.0 when that is 0), and the tick count is `y_tick_cnt`,
       or 6 when that is None (written only when the axis has another count).

    | case | result |
    |------|--------|
    | `window_size=100`, newest x 250.0 | x range (151.0, 250.0), 6 x ticks |
    | `window_size=10`, newest x 57.0 | x range (48.0, 57.0), 11 x ticks |
    | `window_size=50`, newest x 30.0 or no data | x range (1, 50) |
    | y values 3.2 to 9.9, padding 1 | y range (2, 11), 10 ticks (or `y_tick_cnt`) |
    | y values 2.3 to 3.1, padding 1 | y range (1, 5), 5 ticks, even with `y_tick_cnt` |
    | all y values 5.0, padding 0 | y range (4, 6), 3 ticks |
    | y values 0.0 to 100.0, `margin_ratio=0.1` | y range (-10.0, 110.0), 6 ticks (or `y_tick_cnt`) |

    The automatic y range never passes a NaN or an infinite value to `setRange`: where the
    margin would make an end non-finite (a huge span, a NaN or infinite `margin_ratio`), the
    range is the extremes themselves.

    A StreamBuffer's history is read straight from its store of doubles, with the same result as
    its slice. For charts of StreamBuffers, `larkui.streaming.sync_stream_chart` is the better
    call: it sets the axes before it writes the lines (so Qt lays each line out once per tick, not
    two or three times), takes the y range from exactly what is on screen, and picks round ticks
    whose labels fit the plot.

    Args:
        buffers: exactly a `list` of the chart's `TimeSeriesBuffer` and
            `larkui.streaming.StreamBuffer` objects, in any mix (a tuple is refused); may be
            empty.
        axX: the chart's X value axis (not checked).
        axY: the chart's Y value axis (not checked).
        window_size: the width of the visible x window in x units; an int, or a number through
            `int()`.
        fixed_y_range: None for an automatic y range, or exactly a `tuple` (y_min, y_max).
            Default None.
        margin_ratio: the margin of a wide-span y range as a fraction of the span, converted to
            a float. Default 0.1.
        y_tick_cnt: an explicit y tick count (an int, or a number through `int()`), or None for
            the defaults above. Default None.
        small_span_padding: whole units added below and above a small-span y range; an int, or
            a number through `int()`. Default 1.

    Returns:
        None.

    Raises:
        TypeError: ``Argument 'buffers' has incorrect type (expected list, got TYPE)``,
            ``Argument 'window_size' has incorrect type (expected int, got TYPE)`` (likewise
            `y_tick_cnt`, `small_span_padding`), ``Argument 'fixed_y_range' has incorrect type
            (expected tuple, got TYPE)``; Python's own TypeError for a `margin_ratio` that is
            not a number; all before any buffer is flushed.
        ValueError: ``too many values to unpack (expected 2)`` or ``need more than N values to
            unpack`` (``need more than 1 value to unpack`` for a one-item tuple) for a
            `fixed_y_range` that is not a pair, after the buffers were flushed and the x axis
            set. Errors of a flush or an axis call propagate at once; the buffers after it stay
            unflushed.
    """

def sync_snapshot_chart(
    buffers: list[TimeSeriesBuffer],
    axX: QValueAxis | _GraphsValueAxis,
    axY: QValueAxis | _GraphsValueAxis,
    fixed_y_range: tuple[float, float] | None = None,
    margin_ratio: float = 0.1,
) -> None:
    """Flush every buffer of a snapshot chart and fit the axes to the visible frames.

    Call it from the GUI timer with all buffers of one chart. In order:

    1. Every buffer is flushed, hidden ones too. The visible buffers that have written a frame
       count; when there is none, neither axis is touched.
    2. X range: a frame of n values at offset o spans x = o to o + n (one past its last point,
       so 100 points at offset 0.0 end at 100.0); the range covers all counted frames. An
       offset that is not finite moves neither end; an end that nothing set becomes 0.
    3. With `fixed_y_range` the y range is set to it and NumPy is not called. Done.
    4. Otherwise each frame's extremes are NumPy's `min` and `max` of it; when one of them is
       not finite (the frame holds NaN or an infinite value), the extremes of the frame's
       finite values are taken instead. A frame with no finite value, or an empty frame (which
       NumPy refuses to reduce), still counts for the x range but not for y. The y range is
       (min - margin, max + margin) over all of them, with margin = span * margin_ratio (1.0
       when that is 0, so a flat frame of 3.0 gives (2.0, 4.0)); with no y extremes at all the
       y axis is left as it was.

    The automatic ranges never pass a NaN or an infinite value to `setRange`. Tick counts are
    never changed here.

    The same works on a Qt Graphs graph of `larkui.graphs`: buffers of its series
    (`PySide6.QtGraphs` series take `replace`, `isVisible` and `setVisible` alike) and its two
    `QValueAxis`, which take `setRange`.

    Args:
        buffers: exactly a `list` of the chart's `TimeSeriesBuffer` objects (a tuple is
            refused); may be empty. A `larkui.streaming.StreamBuffer` has no frames: it is
            flushed, then AttributeError is raised when its series is visible.
        axX: the chart's X value axis (not checked): Qt Charts' or Qt Graphs' `QValueAxis`.
        axY: the chart's Y value axis (not checked).
        fixed_y_range: None for an automatic y range, or exactly a `tuple` (y_min, y_max).
            Default None.
        margin_ratio: the y margin as a fraction of the span, converted to a float. Default
            0.1.

    Returns:
        None.

    Raises:
        TypeError: ``Argument 'buffers' has incorrect type (expected list, got TYPE)``,
            ``Argument 'fixed_y_range' has incorrect type (expected tuple, got TYPE)``; Python's
            own TypeError for a `margin_ratio` that is not a number; all before any buffer is
            flushed.
        ValueError: ``too many values to unpack (expected 2)`` or ``need more than N values to
            unpack`` (``need more than 1 value to unpack`` for a one-item tuple) for a
            `fixed_y_range` that is not a pair, after the buffers were flushed and the x axis
            set. Errors of a flush, of `len()` of a frame, of NumPy or of an axis call propagate
            at once; the buffers after it stay unflushed.
        AttributeError: ``'larkui.streaming.StreamBuffer' object has no attribute
            'last_snapshot_data'`` for a visible `StreamBuffer` in `buffers`, after it was
            flushed.
    """
