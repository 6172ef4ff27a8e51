"""larkui.graphs on real hosts, QQuickWidgets, GraphsViews, axes, series, legends and pixels (offscreen)."""
import gc
import math
import time

import numpy as np
import pytest
import shiboken6
from PySide6.QtCore import QCoreApplication, QEvent, QObject, QPoint, QPointF, Qt
from PySide6.QtGraphs import QLineSeries, QScatterSeries, QValueAxis
from PySide6.QtGui import QColor, QImage
from PySide6.QtQml import QQmlListReference
from PySide6.QtQuick import QQuickItem, QQuickWindow, QSGRendererInterface
from PySide6.QtQuickWidgets import QQuickWidget
from PySide6.QtTest import QTest
from PySide6.QtWidgets import QGridLayout, QHBoxLayout, QLabel, QVBoxLayout, QWidget

import larkui.graphs as graphs
import larkui.plotdeck as plotdeck
from support import allocated_growth, run_python

build = graphs.build_sample_value_graph
RED, BLUE = "#d62728", "#1f77b4"


@pytest.fixture
def root():
    root = QWidget()
    root.resize(640, 420)
    host = QWidget(root)
    host.setObjectName("host")
    QVBoxLayout(root).addWidget(host)
    yield root
    shiboken6.delete(root)


@pytest.fixture
def graph(root):
    view, ax, ay, widget = build(root, "host", return_widget=True)
    ax.setRange(0, 100)
    ay.setRange(0, 100)
    root.show()
    return view, ax, ay, widget


def host_of(root):
    return root.findChild(QWidget, "host")


def series_of(view):
    ref = QQmlListReference(view, "seriesList")
    return [ref.at(i) for i in range(ref.count())]


def frame(widget):
    """Renders the widget now and returns the image."""
    QCoreApplication.processEvents()
    return widget.grabFramebuffer()


def pixels_near(image, hex_colour, tolerance=50, view=None):
    """Pixels within `tolerance` of the colour; in the view's plot area when `view` is given (the
    legend's swatches have the series' colours too)."""
    if view is not None:
        area = view.property("plotArea").toAlignedRect()
        image = image.copy(area)
    im = image.convertToFormat(QImage.Format.Format_RGB32)
    w, h = im.width(), im.height()
    rows = np.frombuffer(im.constBits(), np.uint8, im.sizeInBytes()).reshape(h, im.bytesPerLine())
    bgr = rows[:, :w * 4].reshape(h, w, 4)[..., :3].astype(int)
    c = QColor(hex_colour)
    return int((np.abs(bgr - (c.blue(), c.green(), c.red())) <= tolerance).all(axis=2).sum())


def text_items(item):
    found = []
    for child in item.childItems():
        if child.metaObject().className() == "QQuickText" and child.isVisible() and child.property("text"):
            found.append(child)
        found += text_items(child)
    return found


def legend_of(view):
    return view.findChild(QQuickItem, "larkui_legend")


def legend_entries(view):
    def walk(item):
        for child in item.childItems():
            if child.objectName() == "larkui_legend_entry" and child.isVisible():
                yield child
            yield from walk(child)
    return list(walk(legend_of(view)))


def entry_text(entry):
    return next(t.property("text") for t in text_items(entry))


def click(widget, item):
    centre = item.mapToScene(QPointF(item.width() / 2, item.height() / 2))
    QTest.mouseClick(widget, Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier,
                     QPoint(round(centre.x()), round(centre.y())))
    frame(widget)


def delete_later(*objects):
    for o in objects:
        o.deleteLater()
    for _ in range(3):
        QCoreApplication.sendPostedEvents(None, QEvent.Type.DeferredDelete)
        QCoreApplication.processEvents()


# ---------------------------------------------------------------- the graph in its host


@pytest.mark.parametrize("layout", [None, QVBoxLayout, QHBoxLayout, QGridLayout])
def test_graph_appears_in_the_host_after_its_items(root, layout):
    host = host_of(root)
    label = None
    if layout is not None:
        lay = layout(host)
        label = QLabel("keep me")
        lay.addWidget(label)
    view, ax, ay, widget = build(root, "host", return_widget=True)
    lay = host.layout()
    assert type(lay) is (layout or QVBoxLayout) and lay.parent() is host
    items = [lay.itemAt(i).widget() for i in range(lay.count())]
    assert items == ([label] if label else []) + [widget]
    assert type(widget) is QQuickWidget and widget.parent() is host
    assert widget.resizeMode() == QQuickWidget.ResizeMode.SizeRootObjectToView
    assert widget.rootObject() is view and view.metaObject().className() == "QGraphsView"
    assert view.property("axisX") is ax and view.property("axisY") is ay
    assert type(ax) is QValueAxis and type(ay) is QValueAxis and ax.parent() is view and ay.parent() is view
    assert (ax.titleText(), ay.titleText()) == ("Sample", "Value")
    assert ax.labelFormat() == ay.labelFormat() == "%.0f"
    assert series_of(view) == []


@pytest.mark.parametrize("return_widget, size", [(False, 3), (True, 4), (0, 3), ("yes", 4)])
def test_result_and_titles(root, return_widget, size):
    result = build(root, "host", y_title="Amplitude", x_title="Index", return_widget=return_widget)
    assert type(result) is tuple and len(result) == size
    assert (result[1].titleText(), result[2].titleText()) == ("Index", "Amplitude")
    if size == 4:
        assert result[3].rootObject() is result[0]


def test_second_call_adds_a_second_graph(root):
    first = build(root, "host", return_widget=True)
    second = build(root, "host", return_widget=True)
    lay = host_of(root).layout()
    assert [lay.itemAt(i).widget() for i in range(lay.count())] == [first[3], second[3]]


@pytest.mark.parametrize("name", ["nope", "it's", "主機", ""])
def test_missing_host_raises_what_the_chart_raises(root, name):
    with pytest.raises(RuntimeError) as chart_error:
        plotdeck.build_sample_value_chart(root, name or "missing")
    before = root.findChildren(QObject)
    with pytest.raises(RuntimeError) as graph_error:
        build(root, name or "missing")
    assert graph_error.value.args == chart_error.value.args == (f"找不到 QWidget(objectName='{name or 'missing'}')",)
    assert root.findChildren(QObject) == before


def test_deleted_root_and_host(root):
    host = host_of(root)
    shiboken6.delete(host)
    with pytest.raises(RuntimeError, match="找不到"):
        build(root, "host")
    other = QWidget()
    shiboken6.delete(other)
    with pytest.raises(RuntimeError, match="already deleted"):
        build(other, "host")


def test_failing_step_leaves_no_graph_in_the_host(root, monkeypatch):
    def broken_axis(*args):
        raise RuntimeError("axis failed")

    monkeypatch.setattr(graphs, "QValueAxis", broken_axis)
    with pytest.raises(RuntimeError, match="axis failed"):
        build(root, "host")
    gc.collect()
    assert host_of(root).layout().count() == 0 and root.findChildren(QQuickWidget) == []


def test_theme_matches_the_chart_look(graph):
    view, ax, ay, widget = graph
    theme = view.property("theme")
    assert theme.parent() is view
    assert theme.backgroundColor().name() == theme.plotAreaBackgroundColor().name() == "#ffffff"
    assert (theme.grid().mainColor().name(), theme.grid().mainWidth()) == ("#e2e2e2", 1.0)
    assert (theme.axisX().mainColor().name(), theme.axisY().mainWidth()) == ("#d6d6d6", 1.0)
    assert theme.labelTextColor().name() == "#404044"
    assert theme.axisXLabelFont().family() == QWidget().font().family()
    assert ax.titleFont().bold() and ay.titleColor().name() == "#404044"
    assert not ax.isSubGridVisible() and ax.subTickCount() == 0


# ---------------------------------------------------------------- renderer and start-up messages


def test_offscreen_draws_with_the_software_renderer(graph):
    widget = graph[3]
    assert widget.quickWindow().rendererInterface().graphicsApi() == QSGRendererInterface.GraphicsApi.Software
    assert QQuickWindow.sceneGraphBackend() == "software"
    assert graphs.use_software_renderer() is True


RENDERER_CHOICE = """
    import os, warnings
    from PySide6.QtWidgets import QApplication, QWidget
    app = QApplication([])
    import larkui.graphs as graphs
    calls = []
    class Platform:
        @staticmethod
        def platformName(): return {platform!r}
        @staticmethod
        def font(): return app.font()
    class Context:
        def create(self):
            calls.append("probe")
            return {gl}
    real = graphs.QQuickWindow
    class Window:
        @staticmethod
        def setGraphicsApi(api):
            calls.append(api.name)
        @staticmethod
        def sceneGraphBackend():
            return {backend!r} if calls and calls[-1] == "Software" else ""
    graphs.QGuiApplication, graphs.QOpenGLContext, graphs.QQuickWindow = Platform, Context, Window
    root = QWidget(); QWidget(root).setObjectName("h")
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        graphs.build_sample_value_graph(root, "h")
        graphs.build_sample_value_graph(root, "h")
    print(calls, [str(w.message)[:40] for w in seen])
"""


@pytest.mark.parametrize("platform, gl, backend, env, expected", [
    ("xcb", False, "software", {}, "['probe', 'Software'] []"),
    ("xcb", True, "software", {}, "['probe'] []"),
    ("offscreen", True, "software", {}, "['Software'] []"),
    ("minimal", False, "software", {}, "['Software'] []"),
    ("xcb", False, "software", {"QT_QUICK_BACKEND": "software"}, "[] []"),
    ("xcb", False, "software", {"QSG_RHI_BACKEND": "opengl"}, "[] []"),
    ("xcb", False, "", {}, "['probe', 'Software'] ['Qt Quick started before larkui.graphs co']"),
], ids=["no-gl", "gl", "offscreen", "minimal", "backend-env", "rhi-env", "too-late"])
def test_renderer_is_chosen_once_where_there_is_no_gpu(platform, gl, backend, env, expected):
    done = run_python(RENDERER_CHOICE.format(platform=platform, gl=gl, backend=backend), env=env)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == expected


QUIET_START = """
    import sys
    from PySide6.QtCore import qInstallMessageHandler, qWarning
    from PySide6.QtWidgets import QApplication, QWidget
    app = QApplication([])
    seen = []
    def mine(mode, context, message):
        seen.append(message)
    if {own_handler}:
        qInstallMessageHandler(mine)
    import larkui.graphs as graphs
    root = QWidget(); QWidget(root).setObjectName("h")
    graphs.build_sample_value_graph(root, "h")
    graphs.use_software_renderer()
    qWarning("after the graph")
    print("handler back:", qInstallMessageHandler(None) is (mine if {own_handler} else None), seen)
"""


@pytest.mark.parametrize("own_handler", [False, True])
def test_start_up_noise_is_dropped_and_the_handler_restored(own_handler):
    done = run_python(QUIET_START.format(own_handler=own_handler))
    assert done.returncode == 0, done.stderr
    assert "QRhiGles2" not in done.stderr and "Scenegraph already initialized" not in done.stderr
    if own_handler:
        assert done.stdout.strip() == "handler back: True ['after the graph']"
    else:
        assert done.stdout.strip() == "handler back: True []" and "after the graph" in done.stderr


@pytest.mark.parametrize("message", ["QRhiGles2: Failed to create context", "This plugin does not support "
                                     "createPlatformOpenGLContext!", "Scenegraph already initialized, setBackend() "
                                     "request ignored"])
def test_start_up_noise_is_recognised(capfd, message):
    assert graphs._forward_qt_message(None, None, message) is None
    assert capfd.readouterr().err == ""


# ---------------------------------------------------------------- series


def test_line_series_is_styled_attached_and_owned(graph):
    view, ax, ay, widget = graph
    line = graphs.add_line_to_graph(view, ax, ay, "ch1", RED)
    assert type(line) is QLineSeries and series_of(view) == [line]
    assert line.parent() is view and line.name() == "ch1" and line.color() == QColor(RED)
    assert line.width() == 1.0  # the software renderer's default
    assert line.axisX() is None and line.axisY() is None  # the view's own axes serve it
    wide = graphs.add_line_to_graph(view, ax, ay, "ch2", Qt.GlobalColor.blue, 3)
    assert wide.width() == 3.0 and wide.color() == QColor("blue")


def test_a_series_on_other_axes_gets_them(graph):
    view, ax, ay, widget = graph
    other = QValueAxis(view)
    line = graphs.add_line_to_graph(view, ax, other, "right", BLUE)
    assert line.axisX() is None and line.axisY() is other


@pytest.mark.parametrize("size", [8.0, 3, 20.5])
def test_scatter_series_draws_round_markers_of_its_size(graph, size):
    view, ax, ay, widget = graph
    dots = graphs.add_scatter_to_graph(view, ax, ay, "dots", "#2ca02c", size=size)
    assert type(dots) is QScatterSeries and series_of(view) == [dots] and dots.parent() is view
    assert dots.color() == QColor("#2ca02c") and dots.pointDelegate().parent() is dots
    dots.replaceNp(np.array([50.0]), np.array([50.0]))
    green = pixels_near(frame(widget), "#2ca02c", 30, view)
    assert 0.5 * math.pi * (size / 2 - 1) ** 2 <= green <= math.pi * (size / 2 + 1) ** 2


@pytest.mark.parametrize("factory", [graphs.add_line_to_graph, graphs.add_scatter_to_graph])
@pytest.mark.parametrize("color, error", [
    ("no such colour", ValueError), ("", ValueError), ("#12345", ValueError),
    (None, ValueError), (object(), TypeError), ([1, 2], TypeError),
])
def test_colours_qt_refuses_add_nothing(graph, factory, color, error):
    view, ax, ay, widget = graph
    with pytest.raises(error):
        factory(view, ax, ay, "bad", color)
    gc.collect()
    assert series_of(view) == [] and legend_entries(view) == []
    assert view.findChildren(QLineSeries) == view.findChildren(QScatterSeries) == []


@pytest.mark.parametrize("call, error, message", [
    (lambda v, x, y: graphs.add_line_to_graph(v, x, y, "w", RED, 0), ValueError, "width must be a finite number"),
    (lambda v, x, y: graphs.add_line_to_graph(v, x, y, "w", RED, math.nan), ValueError, "above 0, not nan"),
    (lambda v, x, y: graphs.add_line_to_graph(v, x, y, "w", RED, "2"), TypeError, "must be real number"),
    (lambda v, x, y: graphs.add_scatter_to_graph(v, x, y, "s", RED, -1), ValueError, "size must be"),
    (lambda v, x, y: graphs.add_scatter_to_graph(v, x, y, "s", RED, math.inf), ValueError, "size must be"),
    (lambda v, x, y: graphs.add_line_to_graph(v, x, y, None, RED), TypeError, "expected str, got NoneType"),
    (lambda v, x, y: graphs.add_line_to_graph(v, x, y, "a"), TypeError, "at least 5 positional"),
    (lambda v, x, y: graphs.add_scatter_to_graph(QObject(), x, y, "s", RED), TypeError, "takes a graph of"),
    (lambda v, x, y: graphs.add_line_to_graph(QObject(), x, y, "s", RED), TypeError, "takes a graph of"),
    (lambda v, x, y: graphs.add_line_to_graph(QWidget(), x, y, "s", RED), TypeError, "takes a graph of"),
    (lambda v, x, y: graphs.add_line_to_graph(v, x, "no axis", "a", RED), TypeError, None),
])
def test_refused_arguments_add_nothing(graph, call, error, message):
    view, ax, ay, widget = graph
    with pytest.raises(error) as info:
        call(view, ax, ay)
    if message:
        assert message in str(info.value)
    gc.collect()
    assert series_of(view) == []


class Raising:
    """Raises from every conversion Qt or Python might try."""

    def __float__(self):
        raise ZeroDivisionError("float")

    def __int__(self):
        raise ZeroDivisionError("int")

    def __index__(self):
        raise ZeroDivisionError("index")


@pytest.mark.filterwarnings("ignore:libshiboken. Overflow:RuntimeWarning")
@pytest.mark.parametrize("call", [
    lambda v, x, y: graphs.add_line_to_graph(v, x, y, "w", Raising()),
    lambda v, x, y: graphs.add_line_to_graph(v, x, y, "w", RED, Raising()),
    lambda v, x, y: graphs.add_scatter_to_graph(v, x, y, "s", RED, Raising()),
], ids=["colour", "width", "size"])
def test_conversions_that_raise_add_nothing(graph, call):
    view, ax, ay, widget = graph
    # PySide reports a colour whose int conversion fails as an OverflowError
    with pytest.raises((ZeroDivisionError, TypeError, OverflowError)):
        call(view, ax, ay)
    gc.collect()
    assert series_of(view) == [] and view.findChildren(QLineSeries) == []


def test_a_handler_that_builds_a_graph_while_one_is_built(root):
    """Qt messages during a build reach the application's handler, which may build a graph itself;
    afterwards the application's handler is installed again."""
    from PySide6.QtCore import qInstallMessageHandler, qWarning

    other = QWidget(root)
    other.setObjectName("other")
    seen, inner = [], []

    def handler(mode, context, message):
        seen.append(message)
        if not inner:
            inner.append(build(root, "other"))

    class LoudLayout(QVBoxLayout):
        def addWidget(self, widget, *args):
            qWarning("adding a graph")
            super().addWidget(widget, *args)

    LoudLayout(host_of(root))
    previous = qInstallMessageHandler(handler)
    try:
        build(root, "host")
        qWarning("after")
    finally:
        assert qInstallMessageHandler(previous) is handler
    assert seen == ["adding a graph", "after"]
    assert len(inner) == 1 and other.layout().count() == 1 and host_of(root).layout().count() == 1


def test_a_graph_whose_cpp_side_is_gone(root):
    view, ax, ay, widget = build(root, "host", return_widget=True)
    delete_later(widget)
    assert not shiboken6.isValid(view) and not shiboken6.isValid(ax)
    for factory in (graphs.add_line_to_graph, graphs.add_scatter_to_graph):
        with pytest.raises(RuntimeError, match="already deleted"):
            factory(view, ax, ay, "late", RED)


def test_series_pixels_in_their_colour(graph):
    view, ax, ay, widget = graph
    red = graphs.add_line_to_graph(view, ax, ay, "red", RED, 3)
    blue = graphs.add_line_to_graph(view, ax, ay, "blue", BLUE)
    x = np.arange(101.0)
    red.replaceNp(x, np.full(101, 70.0))
    blue.replaceNp(x, np.full(101, 30.0))
    image = frame(widget)
    assert pixels_near(image, RED, view=view) > 3 * 400 and pixels_near(image, BLUE, view=view) > 400
    red.setVisible(False)
    assert pixels_near(frame(widget), RED, view=view) == 0


# ---------------------------------------------------------------- legend


def test_legend_click_hides_and_shows_a_series(graph):
    view, ax, ay, widget = graph
    red = graphs.add_line_to_graph(view, ax, ay, "red", RED, 2)
    blue = graphs.add_line_to_graph(view, ax, ay, "blue", BLUE)
    red.replaceNp(np.arange(101.0), np.full(101, 70.0))
    frame(widget)
    entries = legend_entries(view)
    assert [entry_text(e) for e in entries] == ["red", "blue"]
    assert pixels_near(frame(widget), RED, view=view) > 0
    click(widget, entries[0])
    assert not red.isVisible() and blue.isVisible() and entries[0].opacity() < 1
    assert pixels_near(frame(widget), RED, view=view) == 0
    click(widget, entries[0])
    assert red.isVisible() and entries[0].opacity() == 1 and pixels_near(frame(widget), RED, view=view) > 0


def test_legend_follows_its_series(graph):
    view, ax, ay, widget = graph
    line = graphs.add_line_to_graph(view, ax, ay, "before", RED)
    dots = graphs.add_scatter_to_graph(view, ax, ay, "dots", BLUE)
    frame(widget)
    line.setName("after")
    line.setColor(QColor("#00ff00"))
    dots.setVisible(False)
    frame(widget)
    first, second = legend_entries(view)
    assert entry_text(first) == "after" and second.opacity() < 1
    swatch = next(c for c in first.childItems() if c.metaObject().className() == "QQuickRectangle")
    assert swatch.property("color") == QColor("#00ff00")
    delete_later(line)
    frame(widget)
    assert [entry_text(e) for e in legend_entries(view)] == ["dots"]


def test_legend_sits_above_the_plot(graph):
    view, ax, ay, widget = graph
    graphs.add_line_to_graph(view, ax, ay, "a", RED)
    frame(widget)
    legend = legend_of(view)
    assert legend.isVisible() and legend.parent() is view
    assert legend.y() + legend.height() < view.property("plotArea").top()
    assert abs(legend.x() + legend.width() / 2 - view.width() / 2) <= 1


def test_hidden_legend(root):
    view, ax, ay, widget = build(root, "host", show_legend=[], return_widget=True)
    graphs.add_line_to_graph(view, ax, ay, "a", RED)
    root.show()
    frame(widget)
    assert not legend_of(view).isVisible() and view.property("marginTop") == 20
    legend_of(view).setVisible(True)
    frame(widget)
    assert [entry_text(e) for e in legend_entries(view)] == ["a"] and view.property("marginTop") > 20


# ---------------------------------------------------------------- labels


def axis_labels(view):
    """The x and the y labels' texts and boxes, read from the scene's text items."""
    area = view.property("plotArea")
    titles = (view.property("axisX").titleText(), view.property("axisY").titleText())
    xs, ys = [], []
    for t in text_items(view):
        if t.property("text") in titles or legend_of(view).isAncestorOf(t):
            continue
        p = t.mapToItem(view, QPointF(0, 0))
        # the text's own box: x labels are centred in their item, y labels centred on their tick
        w, h = t.property("contentWidth"), t.property("contentHeight")
        box = (p.x() + (t.width() - w) / 2, p.y() + (t.height() - h) / 2, w, h)
        (xs if p.y() > area.bottom() + 1 else ys).append((t.property("text"), box))
    return sorted(xs, key=lambda e: e[1][0]), sorted(ys, key=lambda e: -e[1][1])


@pytest.mark.parametrize("lo, hi, step", [(0, 100, 20), (1000, 5000, 1000), (-50, 50, 25), (0, 4000, 500),
                                          (2001, 6000, 1000)])
def test_labels_are_whole_round_and_apart(graph, lo, hi, step):
    view, ax, ay, widget = graph
    for axis in (ax, ay):
        axis.setRange(lo, hi)
        axis.setTickInterval(step)
    frame(widget)
    # Qt Graphs lays out labels and grid for the range width and tick interval of the frame
    # before: the range set again once a frame has been drawn puts them where they belong.
    for axis in (ax, ay):
        axis.setRange(lo, hi)
    frame(widget)
    xs, ys = axis_labels(view)
    expected = [str(v) for v in range(lo + (-lo) % step, hi + 1, step)]
    assert [t for t, _ in xs] == expected and [t for t, _ in ys] == expected
    area = view.property("plotArea")
    for (text, (x, _, w, _)), (_, (_, y, _, h)) in zip(xs, ys):  # each label at its tick
        at = (int(text) - lo) / (hi - lo)
        assert abs(x + w / 2 - (area.left() + at * area.width())) <= 2
        assert abs(y + h / 2 - (area.bottom() - at * area.height())) <= 2
    for (_, a), (_, b) in zip(xs, xs[1:]):
        assert a[0] + a[2] < b[0]  # neighbours do not overlap
    for (_, a), (_, b) in zip(ys, ys[1:]):
        assert b[1] + b[3] < a[1]
    assert not any("…" in t for t, _ in xs + ys)


# ---------------------------------------------------------------- plotdeck's buffers on Qt Graphs


@pytest.mark.parametrize("data, offset", [
    (np.linspace(0.0, 10.0, 100), 0.0),
    (np.arange(50, dtype=np.int32), 20.0),
    ([10, 20.5, 30], 2.5),
    (np.array([1.0, np.nan, 3.0]), -1.0),
])
def test_snapshot_frames_drive_graph_series_and_axes(graph, data, offset):
    view, ax, ay, widget = graph
    buffers = [plotdeck.TimeSeriesBuffer(graphs.add_line_to_graph(view, ax, ay, "frame", RED))]
    buffers[0].set_data(data, offset)
    plotdeck.sync_snapshot_chart(buffers, ax, ay)
    points = [(p.x(), p.y()) for p in buffers[0].series.points()]
    expected = [(i + offset, float(v)) for i, v in enumerate(data)]
    assert len(points) == len(expected)
    assert all(px == ex and (py == ey or (math.isnan(py) and math.isnan(ey))) for (px, py), (ex, ey)
               in zip(points, expected))
    assert (ax.min(), ax.max()) == (offset, offset + len(data))
    finite = [float(v) for v in data if math.isfinite(v)]
    margin = (max(finite) - min(finite)) * 0.1 or 1.0
    assert (ay.min(), ay.max()) == pytest.approx((min(finite) - margin, max(finite) + margin))


def test_snapshot_sync_shows_a_series_the_legend_hid_and_keeps_fixed_ranges(graph):
    view, ax, ay, widget = graph
    line = graphs.add_line_to_graph(view, ax, ay, "frame", RED)
    buffer = plotdeck.TimeSeriesBuffer(line)
    frame(widget)
    click(widget, legend_entries(view)[0])
    assert not line.isVisible()
    buffer.set_data(np.arange(10.0))
    plotdeck.sync_snapshot_chart([buffer], ax, ay, (-5.0, 5.0))
    assert line.isVisible() and (ay.min(), ay.max()) == (-5.0, 5.0) and line.count() == 10


def test_appended_points_reach_a_graph_series(graph):
    view, ax, ay, widget = graph
    buffer = plotdeck.TimeSeriesBuffer(graphs.add_line_to_graph(view, ax, ay, "points", RED))
    for x, y in [(1, 5), (2, math.nan), (3, 7)]:
        buffer.add_point(x, y)
    assert buffer.flush() is True and buffer.last_x == 3.0
    points = [(p.x(), p.y()) for p in buffer.series.points()]
    assert points[0] == (1.0, 5.0) and math.isnan(points[1][1]) and points[2] == (3.0, 7.0)  # Qt Graphs keeps NaN


# ---------------------------------------------------------------- lifetime


def test_a_deleted_theme_is_released_not_drawn():
    done = run_python("""
        import numpy as np
        from PySide6.QtCore import QCoreApplication, QEvent
        from PySide6.QtWidgets import QApplication, QWidget
        app = QApplication([])
        import larkui.graphs as graphs
        from PySide6.QtWidgets import QVBoxLayout
        root = QWidget(); root.resize(400, 300); QVBoxLayout(root).addWidget(QWidget(objectName="h"))
        view, ax, ay, widget = graphs.build_sample_value_graph(root, "h", return_widget=True)
        graphs.add_line_to_graph(view, ax, ay, "a", "red").replaceNp(np.arange(5.0), np.arange(5.0))
        root.show(); app.processEvents()
        theme = view.property("theme")
        theme.deleteLater()
        QCoreApplication.sendPostedEvents(None, QEvent.Type.DeferredDelete)
        ax.setRange(0, 3)
        print("theme replaced:", view.property("theme") is not theme, not widget.grabFramebuffer().isNull())
        root.deleteLater()
        QCoreApplication.sendPostedEvents(None, QEvent.Type.DeferredDelete)
        print("graph gone")
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split("\n")[:2] == ["theme replaced: True True", "graph gone"]


def make_and_destroy_a_graph():
    root = QWidget()
    QWidget(root).setObjectName("host")
    view, ax, ay = build(root, "host")
    line = graphs.add_line_to_graph(view, ax, ay, "a", RED)
    graphs.add_scatter_to_graph(view, ax, ay, "b", BLUE)
    line.replaceNp(np.arange(100.0), np.arange(100.0))
    try:
        graphs.add_line_to_graph(view, ax, ay, "c", "no colour")
    except ValueError:
        pass
    root.deleteLater()
    QCoreApplication.sendPostedEvents(None, QEvent.Type.DeferredDelete)


def test_many_graphs_made_and_destroyed_leave_nothing():
    windows = len(QCoreApplication.instance().allWindows())
    # Qt Quick's and PySide's caches take a few hundred graphs to settle; a leak grows every round.
    growths = [allocated_growth(make_and_destroy_a_graph, warmup=150, rounds=100)]
    while growths[-1] > 40 and len(growths) < 12:
        growths.append(allocated_growth(make_and_destroy_a_graph, warmup=0, rounds=100))
    assert growths[-1] <= 40, f"blocks still allocated after 100 graphs, every time: {growths}"
    assert len(QCoreApplication.instance().allWindows()) == windows


def test_calls_keep_no_references(graph):
    import sys

    view, ax, ay, widget = graph
    name, colour, width = "".join(["n", "m"]), QColor(RED), 2.5
    objects = [view, ax, ay, name, colour]
    before = [sys.getrefcount(o) for o in objects]
    for _ in range(20):
        line = graphs.add_line_to_graph(view, ax, ay, name, colour, width)
        view.removeSeries(line)
        shiboken6.delete(line)
        try:
            graphs.add_scatter_to_graph(view, ax, ay, name, colour, -1)
        except ValueError:
            pass
    assert [sys.getrefcount(o) for o in objects] == before
