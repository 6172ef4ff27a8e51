"""larkui.streaming.sync_stream_chart on real charts in shown windows: one layout per line per tick,
axes that hold everything on screen, readable round ticks at any plot size and span, hidden and empty
buffers, the automatic display budget, and the refusals."""
import math
import re

import numpy as np
import pytest
from PySide6.QtCharts import QValueAxis
from PySide6.QtGui import QFontMetricsF
from PySide6.QtWidgets import QGraphicsTextItem, QVBoxLayout, QWidget

import larkui.plotdeck as plotdeck
import larkui.streaming as streaming
from larkui.plotdeck import add_line_to_chart, build_sample_value_chart

SB, sync = streaming.StreamBuffer, streaming.sync_stream_chart
COLOURS = ["#1f77b4", "#d62728", "#2ca02c"]
TEXT_ITEM = 8  # QGraphicsTextItem::Type, which PySide6 does not bind


class Shown:
    """A chart with `lines` series in a shown window whose plot area is `width` x `height` pixels."""

    def __init__(self, qapp, lines=1, width=600, height=250):
        self.app = qapp
        self.root = QWidget()
        host = QWidget(self.root)
        host.setObjectName("host")
        layout = QVBoxLayout(self.root)
        layout.setContentsMargins(0, 0, 0, 0)
        layout.addWidget(host)
        self.chart, self.axX, self.axY, self.view = build_sample_value_chart(self.root, "host", return_view=True)
        self.series = [add_line_to_chart(self.chart, self.axX, self.axY, f"s{i}", COLOURS[i]) for i in range(lines)]
        self.root.show()
        self.resize(width, height)

    def resize(self, width, height):
        """Resizes the window until the plot area has the wanted size (the frame around it is fixed)."""
        w, h = width + 200, height + 200
        for _ in range(4):
            self.root.resize(int(w), int(h))
            self.events()
            area = self.chart.plotArea()
            w, h = w + width - area.width(), h + height - area.height()

    def events(self):
        self.app.processEvents()
        self.app.processEvents()

    def labels(self):
        """The visible tick label texts of the y and the x axis."""
        area = self.chart.plotArea()
        ys, xs = [], []
        for item in self.chart.scene().items():
            if item.type() != TEXT_ITEM or not item.isVisible():
                continue
            # Qt Charts' labels are of a private subclass, which some PySide6 releases wrap as a
            # plain QGraphicsItem; as a QGraphicsObject it is a text item again.
            item = item.toGraphicsObject()
            text = item.toPlainText()
            if text in ("Value", "Sample", "") or text in [s.name() for s in self.series]:
                continue
            (xs if item.scenePos().y() > area.bottom() - 2 else ys).append(text)
        return ys, xs

    def close(self):
        self.root.close()
        self.root.deleteLater()


@pytest.fixture
def shown(qapp):
    made = []

    def make(**kwargs):
        made.append(Shown(qapp, **kwargs))
        return made[-1]

    yield make
    for s in made:
        s.close()


def pts(series):
    return np.array([(p.x(), p.y()) for p in series.points()]).reshape(-1, 2)


# ---- one layout per line per tick

class LayoutCounter:
    """Counts what makes Qt Charts lay a line out again: a write of its points, and an axis range or
    plot area change while it holds points."""

    def __init__(self, shown):
        self.counts = dict.fromkeys(shown.series, 0)
        for s in shown.series:
            s.pointsReplaced.connect(lambda s=s: self.hit(s))
            for signal in (shown.axX.rangeChanged, shown.axY.rangeChanged, shown.chart.plotAreaChanged):
                signal.connect(lambda *_, s=s: self.hit(s))

    def hit(self, series):
        if series.count():
            self.counts[series] += 1

    def take(self):
        counts = list(self.counts.values())
        self.counts = dict.fromkeys(self.counts, 0)
        return counts


@pytest.mark.parametrize("budget", [None, "auto", 300])
@pytest.mark.parametrize("fixed", [None, (-50.0, 50.0)])
def test_one_layout_per_line_per_tick(shown, budget, fixed):
    chart = shown(lines=3)
    bufs = [SB(s, 2000, display_budget=budget) for s in chart.series]
    chart.series[2].setVisible(False)  # a hidden line is not written
    counter = LayoutCounter(chart)
    rng = np.random.default_rng(3)
    per_tick = []
    for tick in range(80):
        x = np.arange(tick * 40, tick * 40 + 40, dtype=float)
        for k, b in enumerate(bufs):
            b.add_points(x, rng.normal(size=40) * (1 + tick / 10) + 10 * k)  # the y range keeps growing
        if tick == 50:
            bufs[0].add_point(x[-1] + 0.5, 1e4 if fixed is None else 40.0)  # a spike
        counter.take()
        sync(bufs, chart.axX, chart.axY, 2000, fixed_y_range=fixed)
        per_tick.append(counter.take()[:2])
        chart.events()
        per_tick.append(counter.take()[:2])  # the event loop lays nothing out again
    assert per_tick == [[1, 1], [0, 0]] * 80
    assert not chart.series[2].isVisible() and chart.series[2].count() == 0

    # The counter sees what the documented sync does: flush first, then axes, two or three layouts.
    old = [SB(s, 2000, display_budget=budget) for s in chart.series[:2]]
    for b in old:
        b.add_points(np.arange(3000.0), np.arange(3000.0))
    counter.take()
    plotdeck.sync_scrolling_chart(old, chart.axX, chart.axY, 2000)
    assert min(counter.take()[:2]) >= 2


# ---- the axes

SPIKES = {"oldest": 0, "middle": 2500, "newest": 4999, "in-the-oldest-bucket": 3}


@pytest.mark.parametrize("max_history", [0, 10, None, 100_000])
@pytest.mark.parametrize("budget", [None, 64, "auto"])
@pytest.mark.parametrize("where", SPIKES.values(), ids=SPIKES.keys())
def test_y_range_holds_every_sample_on_screen(shown, where, budget, max_history):
    chart = shown()
    b = SB(chart.series[0], 5000, display_budget=budget, max_history=max_history)
    b.add_points(np.arange(20_000.0), np.sin(np.arange(20_000.0) / 50))
    y = np.sin(np.arange(15_000.0, 20_000.0) / 50)
    y[where] = -70.0 if where % 2 else 90.0
    b.add_points(np.arange(15_000.0, 20_000.0), y)  # the same x again, the spike in the window
    sync([b], chart.axX, chart.axY, 5000)
    written = pts(chart.series[0])
    finite = written[np.isfinite(written[:, 1]), 1]
    assert chart.axY.min() <= min(y.min(), finite.min()) and max(y.max(), finite.max()) <= chart.axY.max()
    assert y[where] in finite


def test_documented_sync_sees_the_whole_window_by_default():
    """The issue's case: a spike 30,000 samples back in a 40,000-sample window, with the default
    max_history, is inside the y range of sync_scrolling_chart."""
    b = SB(plotdeck.QLineSeries(), 40_000, display_budget=2000)
    y = np.zeros(40_000)
    y[10_000] = 500.0
    b.add_points(np.arange(1.0, 40_001.0), y)
    ax, ay = QValueAxis(), QValueAxis()
    plotdeck.sync_scrolling_chart([b], ax, ay, 40_000)
    assert b.max_history == 40_000 and ay.max() > 500.0


@pytest.mark.parametrize("count, window, expected", [
    (100, 4000.0, (0.0, 4000.0)),          # shorter than the window: from the oldest sample
    (10_000, 4000.0, (5999.0, 9999.0)),    # then the newest at the right end
    (30, 2.5, (0.0, 2.5)),
    (500, 2.5, (2.49, 4.99)),              # seconds at 10 ms
])
def test_x_range_starts_at_the_left_then_scrolls(count, window, expected):
    step = 1.0 if window > 100 else 0.01
    b = SB(plotdeck.QLineSeries(), count)
    b.add_points(np.arange(count) * step, np.ones(count))
    ax, ay = QValueAxis(), QValueAxis()
    sync([b], ax, ay, window)
    assert (ax.min(), ax.max()) == pytest.approx(expected)


def test_hidden_buffers_move_x_but_are_neither_fitted_nor_written_nor_shown(shown):
    chart = shown(lines=2)
    seen, hidden = SB(chart.series[0], 100), SB(chart.series[1], 100)
    seen.add_points(np.arange(50.0), np.ones(50))
    sync([seen, hidden], chart.axX, chart.axY, 100)
    chart.series[1].setVisible(False)
    hidden.add_points(np.arange(200.0), np.full(200, 1e6))  # newer x, a far larger y
    sync([seen, hidden], chart.axX, chart.axY, 100)
    assert (chart.axX.min(), chart.axX.max()) == (99.0, 199.0)
    assert chart.axY.max() < 10 and chart.series[1].count() == 0 and not chart.series[1].isVisible()
    assert hidden.last_x == 0 and hidden.flush() is True and chart.series[1].isVisible()  # still pending


@pytest.mark.parametrize("fixed", [None, (2.0, 3.0)])
@pytest.mark.parametrize("buffers", ["none", "empty", "no-finite-x"])
def test_an_empty_chart(shown, buffers, fixed):
    chart = shown()
    b = SB(chart.series[0], 10)
    if buffers == "no-finite-x":
        b.add_points([math.nan, math.inf], [1.0, 2.0])
    chart.axY.setRange(-7.0, 7.0)
    sync([] if buffers == "none" else [b], chart.axX, chart.axY, 25.0, fixed_y_range=fixed)
    assert (chart.axX.min(), chart.axX.max()) == (0.0, 25.0)
    assert (chart.axY.min(), chart.axY.max()) == (fixed or (-7.0, 7.0))
    assert chart.series[0].count() == (2 if buffers == "no-finite-x" else 0)  # gaps are written


@pytest.mark.parametrize("values, margin, expected", [
    ([0.0, 100.0], 0.1, (-10.0, 110.0)),
    ([0.0, 100.0], 0.0, (0.0, 100.0)),
    ([5.0, 5.0], 0.1, (4.5, 5.5)),          # a constant: a tenth of its value either side
    ([0.0, 0.0], 0.1, (-1.0, 1.0)),         # about zero: 1
    ([-1e9, -1e9], 0.5, (-1.1e9, -0.9e9)),
    ([1.0, math.nan, math.inf, -math.inf, 3.0], 0.5, (0.0, 4.0)),
])
def test_automatic_y_range(values, margin, expected):
    b = SB(plotdeck.QLineSeries(), 10)
    b.add_points(np.arange(len(values), dtype=float), values)
    ax, ay = QValueAxis(), QValueAxis()
    sync((b,), ax, ay, 10, margin_ratio=margin)
    assert (ay.min(), ay.max()) == pytest.approx(expected)


# ---- readable ticks

SPANS = {
    "tiny-about-zero": (0.0, 1e-6), "tiny-about-five": (5.0, 1e-6), "huge": (0.0, 1e9),
    "negative": (-3000.0, 4000.0), "crossing-zero": (0.3, 2.0), "constant": (42.0, 0.0),
    "constant-zero": (0.0, 0.0), "constant-huge-negative": (-1e9, 0.0),
}


def check_labels(texts, step, length, size, where):
    assert texts, where
    assert not [t for t in texts if "..." in t or "\u2026" in t], (where, texts)
    assert len(set(texts)) == len(texts), (where, texts)
    values = [float(t) for t in texts]
    assert not [t for t, v in zip(texts, values) if v == 0 and t.startswith("-")], (where, texts)
    assert all(math.isclose(v / step, round(v / step), rel_tol=0, abs_tol=1e-6) for v in values), (where, texts)
    assert len(texts) * (size + 8) <= length, (where, texts, length)


@pytest.mark.parametrize("x0", [0.0, 1e6])  # x labels of growing widths ("0" to "300"), and alike
@pytest.mark.parametrize("height", [80, 190, 600, 1200])
@pytest.mark.parametrize("span", SPANS.values(), ids=SPANS.keys())
def test_ticks_are_round_and_fit_the_plot(shown, span, height, x0):
    centre, width = span
    chart = shown(height=height, width=500)
    b = SB(chart.series[0], 300)
    b.add_points(np.arange(300.0) + x0, centre + width * np.sin(np.arange(300) / 20) / 2)
    sync([b], chart.axX, chart.axY, 300)
    chart.events()
    sync([b], chart.axX, chart.axY, 300)  # the plot area as the labels left it
    chart.events()
    area = chart.chart.plotArea()
    ys, xs = chart.labels()
    for axis, texts, length, size in (
            (chart.axY, ys, area.height(), QFontMetricsF(chart.axY.labelsFont()).height() + 2),
            (chart.axX, xs, area.width(),
             max(QFontMetricsF(chart.axX.labelsFont()).horizontalAdvance(t) for t in xs) + 2)):
        step = axis.tickInterval()
        mantissa = step / 10 ** math.floor(math.log10(step))
        assert axis.tickType() == QValueAxis.TickType.TicksDynamic
        assert any(math.isclose(mantissa, m) for m in (1, 2, 5)), step
        check_labels(texts, step, length, size, (span, height, axis.labelFormat()))
        decimals = re.fullmatch(r"%\.(\d+)([fe])", axis.labelFormat())
        assert decimals, axis.labelFormat()
    assert len(ys) >= (2 if height < 100 else 3)


def test_ticks_follow_a_resize_and_the_budget_follows_it_too(shown):
    chart = shown(width=800, height=400)
    b = SB(chart.series[0], 8000)
    for width in (800, 250, 600):
        chart.resize(width, 400)
        b.add_points(np.arange(8000.0), np.sin(np.arange(8000.0)))
        sync([b], chart.axX, chart.axY, 8000)
        length = math.ceil(8000 / int(chart.chart.plotArea().width()))
        buckets = 8000 // length
        assert buckets <= chart.series[0].count() <= 3 * (buckets + 2), width
        assert len(chart.labels()[1]) * 30 <= width


# ---- refusals: nothing is called before they are raised

@pytest.mark.parametrize("buffers, args, kwargs, exc, message", [
    ([], ("window",), {}, TypeError, "must be real number, not str"),
    ([], (0.0,), {}, ValueError, "window must be a finite number above 0 (got 0.0)"),
    ([], (-1,), {}, ValueError, "window must be a finite number above 0 (got -1)"),
    ([], (math.inf,), {}, ValueError, "window must be a finite number above 0 (got inf)"),
    ([], (math.nan,), {}, ValueError, "window must be a finite number above 0 (got nan)"),
    ([], (10,), {"margin_ratio": -0.1}, ValueError, "margin_ratio must be a finite number of at least 0 (got -0.1)"),
    ([], (10,), {"margin_ratio": math.nan}, ValueError, "margin_ratio must be a finite number of at least 0 (got nan)"),
    ([], (10,), {"fixed_y_range": (1, 1)}, ValueError,
     "fixed_y_range must be None or two finite numbers, the first below the second (got (1, 1))"),
    ([], (10,), {"fixed_y_range": [0, math.inf]}, ValueError,
     "fixed_y_range must be None or two finite numbers, the first below the second (got [0, inf])"),
    ([], (10,), {"fixed_y_range": (0, 1, 2)}, ValueError, "too many values to unpack (expected 2)"),
    ([], (10,), {"fixed_y_range": ("a", 1)}, TypeError, "must be real number, not str"),
    (None, (10,), {}, TypeError, "sync_stream_chart takes a list or tuple of StreamBuffer objects (got NoneType)"),
    ({1: 2}, (10,), {}, TypeError, "sync_stream_chart takes a list or tuple of StreamBuffer objects (got dict)"),
    ([1], (10,), {}, TypeError, "sync_stream_chart takes StreamBuffer objects (buffers[1] is a int)"),
    ([SB.__new__(SB)], (10,), {}, RuntimeError,
     "buffers[1] was never initialised: StreamBuffer.__init__ did not run"),
    ([], (10, (0, 1)), {}, TypeError, "sync_stream_chart() takes exactly 4 positional arguments (5 given)"),
])
def test_refusals(buffers, args, kwargs, exc, message):
    ax, ay = QValueAxis(), QValueAxis()
    ax.setRange(3, 4)
    good = SB(plotdeck.QLineSeries(), 5)
    good.add_point(1, 1)
    with pytest.raises(exc) as info:
        sync([good, *buffers] if isinstance(buffers, list) else buffers, ax, ay, *args, **kwargs)
    assert str(info.value) == message
    assert (ax.min(), ax.max()) == (3, 4) and good.series.count() == 0


@pytest.mark.parametrize("window", [100, 1000, 4000])
@pytest.mark.parametrize("y_centre", [5.0, 1e-9])  # narrow and wide y labels: the plot's width moves with them
def test_x_ticks_fit_at_every_width(shown, window, y_centre):
    chart = shown(width=300, height=80)
    b = SB(chart.series[0], window)
    b.add_points(np.arange(float(window)), y_centre * (1 + 0.1 * np.sin(np.arange(window) / 7)))
    metrics = QFontMetricsF(chart.axX.labelsFont())
    for width in range(250, 900, 13):
        chart.resize(width, 80)
        for _ in range(2):  # the second call sees the plot area the new labels left
            sync([b], chart.axX, chart.axY, window)
            chart.events()
        xs = chart.labels()[1]
        check_labels(xs, chart.axX.tickInterval(), chart.chart.plotArea().width(),
                     max(metrics.horizontalAdvance(t) for t in xs) + 2, (window, y_centre, width))


@pytest.mark.parametrize("position", [0, 5, 17])  # in the vector loop, and in the tail
def test_a_sample_without_a_finite_x_is_no_extreme(position):
    """A y at a NaN or infinite x is a gap, drawn nowhere: it does not stretch the axis."""
    x, y = np.arange(18.0), np.ones(18)
    x[position], y[position] = (math.nan if position % 2 else math.inf), 1000.0
    b = SB(plotdeck.QLineSeries(), 18)
    b.add_points(x, y)
    ax, ay = QValueAxis(), QValueAxis()
    sync([b], ax, ay, 20)
    assert (ay.min(), ay.max()) == pytest.approx((0.9, 1.1))


# ---- isVisible, asked of a genuine series through its class's method: what Python would call

@pytest.mark.parametrize("how", ["genuine", "instance-attribute", "python-override", "hidden"])
def test_visibility_is_asked_as_python_would(qapp, how):
    from PySide6.QtCharts import QChart, QLineSeries

    class OwnVisibility(QLineSeries):
        def isVisible(self):
            return False

    chart = QChart()
    axX, axY = QValueAxis(), QValueAxis()
    series = OwnVisibility() if how == "python-override" else QLineSeries()
    chart.addSeries(series)
    asked = []
    if how == "instance-attribute":
        series.isVisible = lambda: asked.append(1) or 0
    if how == "hidden":
        series.setVisible(False)
    b = SB(series, 100)
    b.add_points(np.arange(10.0), np.arange(10.0))
    sync([b], axX, axY, 100)
    shown = how == "genuine"
    assert (series.count() > 0) is shown
    assert b.is_visible == (0 if how == "instance-attribute" else shown)
    assert type(b.is_visible) is (int if how == "instance-attribute" else bool)  # the series' own answer
    assert len(asked) == (3 if how == "instance-attribute" else 0)
