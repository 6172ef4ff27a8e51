"""larkui.streaming on Qt Graphs: StreamBuffer and sync_stream_chart drive the series and axes of a
larkui.graphs graph as they drive Qt Charts ones (bulk replaceNp, decimation, gaps, the automatic
budget from the graph's plot area, readable ticks through tickInterval, finite ranges only)."""
import math

import numpy as np
import pytest
import shiboken6
from PySide6.QtCore import QCoreApplication, QPointF
from PySide6.QtGraphs import QLineSeries
from PySide6.QtWidgets import QVBoxLayout, QWidget

import larkui.graphs as graphs
import larkui.streaming as streaming
from larkui.plotdeck import add_line_to_chart, build_sample_value_chart
from support import allocated_growth, run_python
from test_graphs import axis_labels, click, frame, legend_entries, pixels_near

SB, sync = streaming.StreamBuffer, streaming.sync_stream_chart
RED, BLUE = "#d62728", "#1f77b4"


class Shown:
    """A graph with `lines` line series in a shown 640x420 window."""

    def __init__(self, lines=1, width=640, height=420):
        self.root = QWidget()
        self.root.resize(width, height)
        host = QWidget(self.root)
        host.setObjectName("host")
        QVBoxLayout(self.root).addWidget(host)
        self.view, self.axX, self.axY, self.widget = graphs.build_sample_value_graph(self.root, "host",
                                                                                     return_widget=True)
        self.series = [graphs.add_line_to_graph(self.view, self.axX, self.axY, f"s{i}", (RED, BLUE)[i % 2])
                       for i in range(lines)]
        self.root.show()
        frame(self.widget)

    def plot_width(self):
        return self.view.property("plotArea").width()


@pytest.fixture
def shown():
    made = []

    def make(**kwargs):
        made.append(Shown(**kwargs))
        return made[-1]

    yield make
    for s in made:
        shiboken6.delete(s.root)


def pts(series):
    return np.array([(p.x(), p.y()) for p in series.points()]).reshape(-1, 2)


def same_points(a, b):
    return a.shape == b.shape and bool(np.all((a == b) | (np.isnan(a) & np.isnan(b))))


def wave(start, count, gaps=()):
    x = np.arange(start, start + count, dtype=np.float64)
    y = 10 * np.sin(x / 50) + np.cos(x / 7)
    for g in gaps:
        y[g] = np.nan
    return x, y


# ---- the writes

def test_a_graph_series_is_written_in_one_bulk_call(shown, monkeypatch):
    """A genuine Qt Graphs series needs no QPointF at all (replaceNp); a subclass that overrides
    replace gets the points."""
    s = shown()
    buf = SB(s.series[0], 100, display_budget=None)
    buf.add_points(*wave(0, 50))
    monkeypatch.delattr(streaming, "QPointF")
    assert buf.flush() is True and same_points(pts(s.series[0]), np.column_stack(wave(0, 50)))
    monkeypatch.undo()

    class Custom(QLineSeries):
        def replace(self, points):
            self.got = len(points)
            super().replace(points)

    custom = Custom(s.view)
    s.view.addSeries(custom)
    buf = SB(custom, 100, display_budget=None)
    buf.add_points(*wave(0, 30))
    buf.flush()
    assert custom.got == 30 and same_points(pts(custom), np.column_stack(wave(0, 30)))


@pytest.mark.parametrize("budget", [None, 2, 300, 1001])
@pytest.mark.parametrize("gaps", [(), (5, 6, 700, 2999)])
def test_points_written_equal_what_a_chart_gets(shown, qapp, budget, gaps):
    """The same samples give a graph series exactly the points a Qt Charts series gets: the window,
    decimated to the budget the same way, dropouts as NaN gaps."""
    s = shown()
    root = QWidget()
    QWidget(root).setObjectName("chart")
    chart, cx, cy = build_sample_value_chart(root, "chart")
    line = add_line_to_chart(chart, cx, cy, "c", RED)
    g, c = SB(s.series[0], 2000, display_budget=budget), SB(line, 2000, display_budget=budget)
    for start in range(0, 3000, 1000):
        for buf in (g, c):
            buf.add_points(*wave(start, 1000, [k - start for k in gaps if start <= k < start + 1000]))
        sync([g], s.axX, s.axY, 2000)
        sync([c], cx, cy, 2000)
        assert same_points(pts(s.series[0]), pts(line))
    assert g.last_x == c.last_x == 2999.0
    if budget is None or budget > 2000:
        assert same_points(pts(s.series[0]), np.column_stack(wave(0, 3000, gaps))[-2000:])
    else:
        assert s.series[0].count() < 2000
    shiboken6.delete(root)


def test_the_automatic_budget_is_two_points_per_pixel_column_of_the_graph(shown):
    s = shown()
    buf = SB(s.series[0], 40_000)
    assert buf.display_budget == "auto"
    buf.add_points(*wave(0, 40_000))
    sync([buf], s.axX, s.axY, 40_000)
    width = int(s.plot_width())
    assert width > 100 and width <= s.series[0].count() <= 3 * width
    s.root.resize(400, 300)
    frame(s.widget)
    narrower = int(s.plot_width())
    buf.add_points(*wave(40_000, 100))
    sync([buf], s.axX, s.axY, 40_000)
    assert narrower < width and narrower <= s.series[0].count() <= 3 * narrower


def test_a_graph_not_laid_out_gets_every_sample():
    root = QWidget()
    QWidget(root).setObjectName("host")
    view, ax, ay = graphs.build_sample_value_graph(root, "host")  # never shown: no plot area
    line = graphs.add_line_to_graph(view, ax, ay, "a", RED)
    buf = SB(line, 5000)
    buf.add_points(*wave(0, 5000))
    sync([buf], ax, ay, 5000)
    assert line.count() == 5000 and (ax.min(), ax.max()) == (0.0, 5000.0)
    shiboken6.delete(root)


# ---- the axes

@pytest.mark.parametrize("x0, span", [(0.0, 20.0), (1e6, 3.0), (1.7e9, 0.02), (-500.0, 2e5)])
@pytest.mark.parametrize("size", [(640, 420), (360, 260)])
def test_ticks_are_round_readable_and_at_their_values(shown, x0, span, size):
    s = shown(width=size[0], height=size[1])
    buf = SB(s.series[0], 1000)
    x = x0 + np.arange(1000.0)
    buf.add_points(x, span * np.sin(x / 90))
    sync([buf], s.axX, s.axY, 1000)
    frame(s.widget)
    sync([buf], s.axX, s.axY, 1000)  # settles the labels Qt Graphs laid out for the frame before
    frame(s.widget)
    area = s.view.property("plotArea")
    for axis, labels, horizontal in ((s.axX, axis_labels(s.view)[0], True), (s.axY, axis_labels(s.view)[1], False)):
        values = [float(t) for t, _ in labels]
        assert len(values) >= 2, (axis.titleText(), labels)  # ten-digit labels in 260 pixels: two
        step = axis.tickInterval()
        exponent = math.floor(math.log10(step))
        assert any(math.isclose(step, m * 10.0 ** exponent) for m in (1, 2, 5)), step
        assert all(math.isclose(b - a, step, rel_tol=1e-6, abs_tol=1e-9) for a, b in zip(values, values[1:]))
        assert "%d" not in axis.labelFormat() and len({t for t, _ in labels}) == len(labels)
        assert not any(t.startswith("-0") and float(t) == 0 for t, _ in labels)
        # Qt Graphs steps from the anchor to the range every frame: the anchor stays near it
        assert abs(axis.min() - axis.tickAnchor()) / step <= 2000
        lo, hi = axis.min(), axis.max()
        for (text, (left, top, w, h)), nxt in zip(labels, labels[1:] + [None]):
            at = (float(text) - lo) / (hi - lo)
            if horizontal:
                assert abs(left + w / 2 - (area.left() + at * area.width())) <= 2, (text, left, w)
                assert nxt is None or left + w < nxt[1][0], (text, nxt)
            else:
                assert abs(top + h / 2 - (area.bottom() - at * area.height())) <= 2, (text, top, h)
                assert nxt is None or nxt[1][1] + nxt[1][3] < top, (text, nxt)


def test_the_settling_range_is_set_once_after_a_change(shown):
    """Qt Graphs emits nothing for a range set again unchanged, so the calls are recorded on the
    axis itself (the sync looks setRange up by name)."""
    s = shown()
    buf = SB(s.series[0], 1000)
    buf.add_points(*wave(0, 1000))
    ranges = []
    real = s.axY.setRange

    def recording(lo, hi):
        ranges.append((lo, hi))
        real(lo, hi)

    s.axY.setRange = recording
    sync([buf], s.axX, s.axY, 1000)
    assert len(ranges) == 1 and s.axY.property("_larkui_settle") is True
    frame(s.widget)
    sync([buf], s.axX, s.axY, 1000)  # no new data: the same range once more, to settle the labels
    assert len(ranges) == 2 and ranges[0] == ranges[1] and s.axY.property("_larkui_settle") is False
    sync([buf], s.axX, s.axY, 1000)
    assert len(ranges) == 2


@pytest.mark.parametrize("values", [[math.inf, 1.0, 2.0], [math.nan] * 3, [-math.inf, math.nan, 5.0], [1e308, -1e308, 0]])
def test_nothing_non_finite_reaches_set_range(shown, values):
    s = shown()
    buf = SB(s.series[0], 10)
    buf.add_points([1.0, 2.0, math.inf], values)
    sync([buf], s.axX, s.axY, 10)
    for axis in (s.axX, s.axY):
        assert math.isfinite(axis.min()) and math.isfinite(axis.max()) and axis.min() < axis.max()
        # a step the span's own size, not Qt Graphs stepping through 1e308 one unit at a time
        # (no finite point leaves the y axis as it was: no interval, Qt Graphs' own labels)
        step = axis.tickInterval()
        assert (step == 0 and axis is s.axY) or \
            0 < (axis.max() - axis.min()) / step <= 100, step
    frame(s.widget)


def test_fixed_range_and_hidden_series(shown):
    s = shown(lines=2)
    a, b = (SB(series, 500) for series in s.series)
    for buf in (a, b):
        buf.add_points(*wave(0, 500))
    click(s.widget, legend_entries(s.view)[1])  # the legend hides the second line
    sync([a, b], s.axX, s.axY, 500, fixed_y_range=(-20.0, 20.0))
    assert (s.axY.min(), s.axY.max()) == (-20.0, 20.0)
    assert s.series[0].count() > 0 and s.series[1].count() == 0 and not s.series[1].isVisible()
    image = frame(s.widget)
    assert pixels_near(image, RED, view=s.view) > 0 and pixels_near(image, BLUE, view=s.view) == 0


# ---- trust, lifetime

def test_streaming_never_imports_qt_graphs_itself():
    done = run_python("""
        import sys
        from PySide6.QtWidgets import QApplication
        app = QApplication([])
        import larkui.streaming as streaming
        from PySide6.QtCharts import QLineSeries
        buf = streaming.StreamBuffer(QLineSeries(), 10)
        buf.add_point(1, 2)
        buf.flush()
        print("PySide6.QtGraphs" in sys.modules)
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "False"


def test_a_planted_qt_graphs_module_only_gets_its_own_series():
    """A stand-in module in sys.modules under Qt Graphs' name, seen first: its series are served by
    its own replaceNp, as a genuine one would be; Qt Charts series keep theirs."""
    done = run_python("""
        import sys, types
        from PySide6.QtCharts import QLineSeries
        from PySide6.QtWidgets import QApplication
        app = QApplication([])
        calls = []
        class QXYSeries:
            def replace(self, points): calls.append(("replace", len(points)))
            def replaceNp(self, x, y): calls.append(("replaceNp", len(x)))
            def isVisible(self): return True
            def setVisible(self, v): pass
        class QValueAxis: pass
        sys.modules["PySide6.QtGraphs"] = types.ModuleType("PySide6.QtGraphs")
        sys.modules["PySide6.QtGraphs"].QXYSeries, sys.modules["PySide6.QtGraphs"].QValueAxis = QXYSeries, QValueAxis
        import larkui.streaming as streaming
        for series in (QXYSeries(), QLineSeries()):
            buf = streaming.StreamBuffer(series, 10)
            buf.add_points([1.0, 2.0], [3.0, 4.0])
            buf.flush()
        print(calls)
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "[('replaceNp', 2)]"


def test_syncing_graphs_made_and_destroyed_leaves_nothing():
    def tick():
        root = QWidget()
        root.resize(300, 200)
        QVBoxLayout(root).addWidget(QWidget(objectName="host"))
        view, ax, ay = graphs.build_sample_value_graph(root, "host")
        buf = SB(graphs.add_line_to_graph(view, ax, ay, "a", RED), 500)
        root.show()
        buf.add_points(*wave(0, 600, [3]))
        sync([buf], ax, ay, 500)
        sync([buf], ax, ay, 500)
        root.deleteLater()
        QCoreApplication.sendPostedEvents(None, QCoreApplication.instance().DeferredDelete
                                          if hasattr(QCoreApplication.instance(), "DeferredDelete") else 52)

    # Qt Quick's caches settle slowly (with Qt 6.11 over several hundred graphs), and then stay: a
    # leak of even one block per graph never comes down to the slack.
    growths = [allocated_growth(tick, warmup=150, rounds=100)]
    while growths[-1] > 40 and len(growths) < 12:
        growths.append(allocated_growth(tick, warmup=0, rounds=100))
    assert growths[-1] <= 40, growths
