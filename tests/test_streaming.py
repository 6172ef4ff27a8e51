"""larkui.streaming.StreamBuffer on real series and axes: the window written, decimation, gaps,
blocks, compatibility with sync_scrolling_chart, and what hostile callers get."""
import math
import traceback
import tracemalloc
from collections.abc import Sequence
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest
import shiboken6
from PySide6.QtCharts import QLineSeries, QScatterSeries, QValueAxis
from PySide6.QtCore import QPointF, QtMsgType, qInstallMessageHandler

import larkui.plotdeck as plotdeck
import larkui.streaming as streaming
from support import assert_no_leak, call_swallowing

SB = streaming.StreamBuffer
NAN, INF = math.nan, math.inf


def pts(series):
    return [(p.x(), p.y()) for p in series.points()]


def same(a, b):
    """Point lists equal, NaN included."""
    return repr(a) == repr(b)


class Recorder:
    """A series double: records each call, with list arguments copied as points."""

    def __init__(self, visible=True):
        self.calls, self.visible = [], visible

    def replace(self, points):
        self.calls.append(("replace", [(p.x(), p.y()) for p in points]))

    def clear(self):
        self.calls.append(("clear",))

    def isVisible(self):
        return self.visible

    def setVisible(self, v):
        self.calls.append(("setVisible", v))
        self.visible = v


@pytest.fixture
def qt_warnings():
    seen = []

    def handler(kind, context, message):
        if kind != QtMsgType.QtDebugMsg:
            seen.append(message)

    previous = qInstallMessageHandler(handler)
    yield seen
    qInstallMessageHandler(previous)


# ---- what a flush writes ----

@pytest.mark.parametrize("series_type", [QLineSeries, QScatterSeries, Recorder])
@pytest.mark.parametrize("window, count", [(1, 5), (3, 2), (3, 3), (4, 10), (5, 23)])
def test_flush_writes_the_newest_window_oldest_first(series_type, window, count):
    s = series_type()
    buf = SB(s, window, max_history=7)
    for i in range(count):
        buf.add_point(i, i * 10.0)
    assert buf.flush() is True and buf.flush() is False
    expected = [(float(i), i * 10.0) for i in range(max(0, count - window), count)]
    written = s.calls[-1][1] if series_type is Recorder else pts(s)
    assert written == expected
    assert buf.last_x == count - 1.0 and type(buf.last_x) is float
    assert list(buf.history) == [i * 10.0 for i in range(max(0, count - 7), count)]


def test_one_bulk_call_per_flush():
    s = QLineSeries()
    seen = []
    s.pointsReplaced.connect(lambda: seen.append("replaced"))
    s.pointAdded.connect(lambda i: seen.append("added"))
    buf = SB(s, 100)
    for tick in range(3):
        buf.add_points(np.arange(10.0) + 10 * tick, np.ones(10))
        assert buf.flush() is True
    assert seen == ["replaced"] * 3 and s.count() == 30

    r = Recorder()
    buf = SB(r, 100)
    buf.add_points(np.arange(10.0), np.ones(10))
    buf.flush()
    assert [c[0] for c in r.calls] == ["replace"]


def test_wrap_around_of_the_store():
    s = QLineSeries()
    buf = SB(s, 4, max_history=4)
    for start in range(0, 30, 3):
        buf.add_points([start, start + 1, start + 2], [start, start + 1, start + 2])
        buf.flush()
        newest = start + 2
        assert pts(s) == [(float(v), float(v)) for v in range(max(0, newest - 3), newest + 1)]
        assert buf.history[-1] == newest and len(buf.history) == min(4, newest + 1)


def test_shows_a_hidden_series_when_it_writes():
    r = Recorder(visible=False)
    buf = SB(r, 10)
    assert buf.flush() is False and r.calls == []
    buf.add_point(1, 1)
    buf.flush()
    assert r.calls[-1] == ("setVisible", True) and buf.is_visible is True


# ---- decimation ----

def buckets_of(x, y, length, first, added):
    """The expected points: buckets of `length` samples at multiples of `length` of the absolute
    index (here x), from `first` to the newest, each giving its least and greatest drawable sample and
    its first sample that cannot be drawn, in sample order."""
    out, start = [], first
    while start < added:
        end = min((start // length + 1) * length, added)
        ok = [i for i in range(start, end) if math.isfinite(x[i]) and math.isfinite(y[i])]
        picked = {i for i in range(start, end) if i not in ok}
        picked = {min(picked)} if picked else set()
        if ok:
            picked |= {min(ok, key=lambda i: (y[i], i)), max(ok, key=lambda i: (y[i], -i))}
        out += [(float(x[i]) if math.isfinite(x[i]) else NAN, float(y[i]) if i in ok else NAN) for i in sorted(picked)]
        start = end
    return out


@pytest.mark.parametrize("budget", [2, 3, 10, 64])
@pytest.mark.parametrize("count", [1000, 1337])
def test_decimation_keeps_every_buckets_extremes(budget, count):
    rng = np.random.default_rng(budget)
    x, y = np.arange(count, dtype=float), rng.normal(size=count)
    y[517] = 40.0  # a single-sample spike
    s = QLineSeries()
    buf = SB(s, 1000, display_budget=budget)
    buf.add_points(x, y)
    buf.flush()
    length = math.ceil(1000 / (budget // 2))
    first = (count - 1000) // length * length  # the oldest bucket is written whole
    expected = buckets_of(x, y, length, first, count)
    assert same(pts(s), expected) and (517.0, 40.0) in pts(s)


@pytest.mark.parametrize("y, window, budget, expected", [
    ([3, 1, 4, 1, 5, 9, 2, 6], 8, 4, [(1, 1), (2, 4), (5, 9), (6, 2)]),
    ([3, NAN, 4, 1, 2, 2, 2, 2], 8, 4, [(1, NAN), (2, 4), (3, 1), (4, 2)]),
    ([INF, NAN, NAN, NAN, 5, 5, 5, 5], 8, 4, [(0, NAN), (4, 5)]),
    (list(range(10)), 8, 4, [(0, 0), (3, 3), (4, 4), (7, 7), (8, 8), (9, 9)]),
    ([NAN, 1, 2, -INF, INF, 3, 4, NAN], 8, 4, [(0, NAN), (1, 1), (2, 2), (4, NAN), (5, 3), (6, 4)]),  # edges
    ([1, NAN, 5, NAN, 0, 2, 2, 2], 8, 4, [(0, 1), (1, NAN), (2, 5), (4, 0), (5, 2)]),  # two NaNs: the first is the gap
    ([7, 3, 9, 1], 4, 4, [(0, 7), (1, 3), (2, 9), (3, 1)]),  # exactly the budget: written whole
    ([7, 3, 9, 1, 8], 5, 4, [(1, 3), (2, 9), (3, 1), (4, 8)]),  # one more: buckets of 3 (0-2, 3-4)
])
def test_decimation_table(y, window, budget, expected):
    s = QLineSeries()
    buf = SB(s, window, display_budget=budget)
    buf.add_points(np.arange(len(y), dtype=float), y)
    buf.flush()
    assert same(pts(s), [(float(a), float(b)) for a, b in expected])


@pytest.mark.parametrize("tick", [1, 39, 40, 4001])
def test_decimation_is_stable_while_the_window_scrolls(tick):
    """After any tick, a bucket that holds only samples that were on screen before keeps its points."""
    ticks, length = (3 if tick > 4000 else 60), 80  # window 4000, budget 100: 50 buckets of 80
    rng = np.random.default_rng(tick)
    y = rng.normal(size=10_000 + ticks * tick)
    y[rng.integers(0, len(y), len(y) // 100)] = NAN
    s = QLineSeries()
    buf = SB(s, 4000, display_budget=100)
    buf.add_points(np.arange(10_000.0), y[:10_000])
    buf.flush()
    for start in range(10_000, len(y), tick):
        before = np.array(pts(s))
        end = start + tick
        buf.add_points(np.arange(start, end, dtype=float), y[start:end])
        buf.flush()
        after = np.array(pts(s))
        kept = 0
        # The buckets wholly on screen before the tick that are still on screen after it.
        for k in range(max((start - 4000) // length + 1, (end - 4000) // length), start // length):
            old = before[(before[:, 0] >= k * length) & (before[:, 0] < (k + 1) * length)]
            new = after[(after[:, 0] >= k * length) & (after[:, 0] < (k + 1) * length)]
            assert same(old.tolist(), new.tolist()), (start, k)
            kept += 1
        # A count of buckets, fixed by the window (4,000), the bucket length and the tick's samples.
        assert kept >= (0 if tick > 4000 else 48), (start, kept)


# ---- gaps ----

@pytest.mark.parametrize("budget", [None, 4])
def test_non_finite_samples_are_written_as_gaps_without_warnings(qt_warnings, budget):
    s = QLineSeries()
    buf = SB(s, 8, display_budget=budget)
    y = [1.0, NAN, 2.0, INF, 3.0, -INF, 4.0, 5.0]
    x = [0.0, 1.0, 2.0, 3.0, NAN, 5.0, 6.0, 7.0]
    buf.add_points(x, y)
    buf.flush()
    written = pts(s)
    assert all(math.isnan(py) or math.isfinite(py) for _, py in written)
    assert sum(math.isnan(py) for _, py in written) == (2 if budget else 4)  # one gap per bucket at most
    if budget is None:
        assert same(written, [(0.0, 1.0), (1.0, NAN), (2.0, 2.0), (3.0, NAN), (NAN, NAN), (5.0, NAN),
                              (6.0, 4.0), (7.0, 5.0)])
    assert repr(list(buf.history)) == repr(y)  # the history keeps the values as given
    assert qt_warnings == []


# ---- blocks ----

@pytest.mark.parametrize("x, y", [
    (np.arange(5.0), np.arange(5.0) * 2),
    (list(range(5)), [0, 2, 4, 6, 8]),
    (np.arange(5, dtype=np.int16), np.arange(5, dtype=np.float32) * 2),
    (np.arange(10.0)[::2] / 2, (np.arange(10.0) * 2)[::2] / 2),
    (np.arange(5.0).astype(">f8"), np.arange(5.0) * 2),
    (memoryview(np.arange(5.0)), np.arange(5.0) * 2),
], ids=["float64", "lists", "other-dtypes", "strided", "big-endian", "memoryview"])
def test_blocks_of_samples(x, y):
    s = QLineSeries()
    buf = SB(s, 3)
    buf.add_points(x, y)
    buf.flush()
    assert pts(s) == [(2.0, 4.0), (3.0, 6.0), (4.0, 8.0)] and list(buf.history) == [0.0, 2.0, 4.0, 6.0, 8.0]


def test_block_larger_than_the_store_keeps_its_newest_samples():
    s = QLineSeries()
    buf = SB(s, 3, max_history=2)
    buf.add_point(-1, -1)
    buf.add_points(np.arange(10.0), np.arange(10.0))
    buf.add_points([], [])
    buf.flush()
    assert pts(s) == [(7.0, 7.0), (8.0, 8.0), (9.0, 9.0)] and list(buf.history) == [8.0, 9.0]


@pytest.mark.parametrize("x, y, exc, message", [
    ([1.0, 2.0], [1.0], ValueError, "add_points takes blocks of equal length (x has 2 values, y has 1)"),
    (np.ones((2, 2)), np.ones((2, 2)), ValueError, "add_points takes one-dimensional blocks (x has 2 dimensions)"),
    (["a"], [1.0], TypeError, "must be real number, not str"),
    ([[1.0]], [1.0], TypeError, "must be real number, not list"),
    ([1.0], None, TypeError, None),
])
def test_bad_blocks_change_nothing(x, y, exc, message):
    s = QLineSeries()
    buf = SB(s, 3)
    buf.add_point(1, 1)
    with pytest.raises(exc) as info:
        buf.add_points(x, y)
    if message:
        assert str(info.value) == message
    assert list(buf.history) == [1.0]


# ---- construction ----

@pytest.mark.parametrize("args, kwargs, exc, message", [
    ((0,), {}, ValueError, "window must be at least 1 (got 0)"),
    ((-5,), {}, ValueError, "window must be at least 1 (got -5)"),
    ((10 ** 7 + 1,), {}, ValueError, "window of 10000001 points is more than a StreamBuffer holds (at most 10000000)"),
    ((10 ** 30,), {}, ValueError, "window of " + str(10 ** 30) + " points is more than a StreamBuffer holds "
                                  "(at most 10000000)"),
    ((10,), {"display_budget": 1}, ValueError, "display_budget must be at least 2 (got 1)"),
    ((10,), {"max_history": 2 ** 40}, ValueError, None),
    (("10",), {}, TypeError, "Argument 'window' has incorrect type (expected int, got str)"),
    ((10, 20), {}, TypeError, "__init__() takes exactly 3 positional arguments (4 given)"),
])
def test_refused_windows(args, kwargs, exc, message):
    with pytest.raises(exc) as info:
        SB(QLineSeries(), *args, **kwargs)
    if message:
        assert str(info.value) == message


def test_window_and_history_settings():
    buf = SB(QLineSeries(), 7.9, display_budget=100, max_history=-3)
    assert (buf.window, buf.display_budget, buf.max_history) == (7, 100, 0)
    buf.add_point(1, 1)
    assert list(buf.history) == [] and not buf.history
    assert (SB(QLineSeries(), 5).display_budget, SB(QLineSeries(), 5).max_history) == ("auto", 10000)
    assert SB(QLineSeries(), 40_000).max_history == 40_000  # the history covers the window


@pytest.mark.parametrize("given, kept", [("auto", "auto"), (None, None), (5, 5), (5.9, 5), (np.int64(7), 7)])
def test_display_budget_values(given, kept):
    assert SB(QLineSeries(), 10, display_budget=given).display_budget == kept


@pytest.mark.parametrize("given, exc, message", [
    ("Auto", ValueError, "display_budget must be 'auto', None or a number of points (got 'Auto')"),
    ("", ValueError, "display_budget must be 'auto', None or a number of points (got '')"),
    ([1], TypeError, "Argument 'display_budget' has incorrect type (expected int, got list)"),
    (True, ValueError, "display_budget must be at least 2 (got 1)"),
])
def test_refused_display_budgets(given, exc, message):
    with pytest.raises(exc) as info:
        SB(QLineSeries(), 10, display_budget=given)
    assert str(info.value) == message


@pytest.mark.parametrize("budget, chart_width, points", [
    ("auto", None, 1000),     # no chart: every sample
    ("auto", 0, 1000),        # a chart not laid out yet: every sample
    ("auto", 200, None),      # two points per pixel column
])
def test_automatic_budget_reads_the_plot_area(qapp, budget, chart_width, points):
    from PySide6.QtCharts import QChart, QChartView

    s = QLineSeries()
    if chart_width is not None:
        chart = QChart()
        chart.addSeries(s)
        view = QChartView(chart)
        if chart_width:
            view.resize(chart_width + 100, 300)
            view.show()
            qapp.processEvents()
    buf = SB(s, 1000, display_budget=budget)
    buf.add_points(np.arange(1000.0), np.sin(np.arange(1000.0)))
    buf.flush()
    if points is None:
        buckets = 1000 // math.ceil(1000 / int(s.chart().plotArea().width()))
        assert buckets <= s.count() <= 2 * (buckets + 2)
    else:
        assert s.count() == points


class Odd(float):
    def __float__(self):
        return 99.0


class Number:
    def __init__(self, v):
        self.v = v

    def __float__(self):
        return self.v


SAME_VALUES = [Odd(2.0), np.float32(0.1), np.float16(1 / 3), np.int64(2 ** 53 + 1), 2 ** 53 + 1, 10 ** 20, True,
               np.float64(-0.0), Number(2.5), NAN, -INF]


@pytest.mark.parametrize("block", [list, tuple, lambda v: np.array(v, dtype=object), iter])
def test_both_producers_store_the_same_values(block):
    one, many = SB(QLineSeries(), 20), SB(QLineSeries(), 20)
    for v in SAME_VALUES:
        one.add_point(0.0, v)
    many.add_points(block([0.0] * len(SAME_VALUES)), block(SAME_VALUES))
    assert repr(list(one.history)) == repr(list(many.history))
    assert list(one.history)[0] == 2.0 and list(one.history)[3] == float(2 ** 53 + 1)


def test_calling_init_again_starts_afresh():
    s = QLineSeries()
    buf = SB(s, 3)
    buf.add_point(1, 1)
    buf.flush()
    other = QLineSeries()
    buf.__init__(other, 2)
    assert buf.series is other and buf.last_x == 0 and len(buf.history) == 0 and buf.flush() is False


# ---- sync_scrolling_chart takes it as it takes a TimeSeriesBuffer ----

SAMPLE_SETS = {
    "small-span": [(i, 5 + math.sin(i / 7)) for i in range(1, 300)],
    "wide-span": [(i, i * 0.5) for i in range(1, 120)],
    "with-dropouts": [(i, NAN if i % 17 == 0 else (INF if i == 50 else float(i % 23))) for i in range(1, 200)],
    "short": [(1, 3.0), (2, 4.0)],
    "none": [],
}


@pytest.mark.parametrize("window_size", [5, 50, 500])
@pytest.mark.parametrize("samples", SAMPLE_SETS.values(), ids=SAMPLE_SETS.keys())
def test_same_axes_as_a_time_series_buffer(samples, window_size):
    states = []
    for make in (lambda s: plotdeck.TimeSeriesBuffer(s), lambda s: SB(s, window_size)):
        buf = make(QLineSeries())
        for x, y in samples:
            buf.add_point(x, y)
        axX, axY = QValueAxis(), QValueAxis()
        plotdeck.sync_scrolling_chart([buf], axX, axY, window_size)
        states.append((axX.min(), axX.max(), axX.tickCount(), axY.min(), axY.max(), axY.tickCount(), buf.last_x))
    assert states[0] == states[1]


# ---- the history view ----

def test_history_is_a_live_read_only_sequence():
    buf = SB(QLineSeries(), 3, max_history=4)
    h = buf.history
    assert len(h) == 0 and not h and list(h) == [] and h == []
    for v in range(6):
        buf.add_point(v, v)
    assert len(h) == 4 and h[0] == 2.0 and h[-1] == 5.0 and h[1:3] == [3.0, 4.0] and h[::-2] == [5.0, 3.0]
    assert h == [2.0, 3.0, 4.0, 5.0] and h == (2.0, 3.0, 4.0, 5.0) and h != [2.0] and 5.0 in h
    assert type(h[-2:]) is list and repr(h) == "StreamHistory([2.0, 3.0, 4.0, 5.0])"
    assert isinstance(h, Sequence) and h.index(4.0) == 2 and h.index(5.0, -1) == 3 and h.count(3.0) == 1
    with pytest.raises(ValueError, match="9.0 is not in list"):
        h.index(9.0)
    with pytest.raises(IndexError):
        h[4]
    with pytest.raises(TypeError):
        h["a"]
    with pytest.raises(TypeError):
        h[0] = 1.0
    with pytest.raises(TypeError):
        hash(h)
    with pytest.raises(AttributeError):
        buf.history = []


# ---- hostile callers ----

def test_members_with_a_foreign_self():
    for member, args in [("add_point", (1, 2)), ("add_points", ([1], [2])), ("flush", ()), ("clear", ()),
                         ("__init__", (QLineSeries(), 3))]:
        with pytest.raises(TypeError) as info:
            getattr(SB, member)(1, *args)
        assert str(info.value) == f"descriptor '{member}' for 'StreamBuffer' objects doesn't apply to a 'int' object"
        assert traceback.extract_tb(info.tb)[-1].name == f"larkui.streaming.StreamBuffer.{member}"


def test_a_buffer_whose_init_never_ran():
    buf = SB.__new__(SB)
    for call in (lambda: buf.add_point(1, 1), lambda: buf.flush(), lambda: buf.add_points([1], [1])):
        with pytest.raises(RuntimeError, match="never initialised"):
            call()
    assert len(buf.history) == 0 and buf.last_x == 0
    with pytest.raises(AttributeError):
        buf.is_visible


@pytest.mark.parametrize("call", [lambda b: b.flush(), lambda b: b.clear(), lambda b: b.is_visible])
def test_deleted_series(call):
    s = QLineSeries()
    buf = SB(s, 5)
    buf.add_point(1, 1)
    shiboken6.delete(s)
    with pytest.raises(RuntimeError, match="already deleted"):
        call(buf)
    del buf.series
    with pytest.raises(AttributeError):
        buf.flush()


class Reentrant(Recorder):
    def __init__(self, action):
        super().__init__()
        self.action, self.buf = action, None

    def replace(self, points):
        super().replace(points)
        if self.buf is not None:
            buf, self.buf = self.buf, None
            self.action(buf)


@pytest.mark.parametrize("action, expect", [
    (lambda b: b.add_point(9, 9), lambda b: b.flush() is True and b.last_x == 9.0),
    (lambda b: b.clear(), lambda b: b.last_x == 0 and b.flush() is False and len(b.history) == 0),
    (lambda b: b.__init__(Recorder(), 2), lambda b: b.last_x == 0 and b.flush() is False),
    (lambda b: b.add_points(np.arange(50.0), np.arange(50.0)), lambda b: b.flush() is True and b.last_x == 49.0),
], ids=["add-point", "clear", "init-again", "add-points"])
def test_series_that_calls_back_into_its_buffer(action, expect):
    r = Reentrant(action)
    buf = SB(r, 3)
    buf.add_points([1, 2, 3], [1, 2, 3])
    r.buf = buf
    assert buf.flush() is True
    assert r.calls[0] == ("replace", [(1.0, 1.0), (2.0, 2.0), (3.0, 3.0)])
    assert expect(buf)


def test_generic_series_gets_points_of_the_modules_qpointf(monkeypatch):
    made = []

    class Point(QPointF):
        def __init__(self, *args):
            made.append(args)
            super().__init__(*args)

    monkeypatch.setattr(streaming, "QPointF", Point)
    r = Recorder()
    buf = SB(r, 5)
    buf.add_points([1, 2], [3, 4])
    buf.flush()
    assert made == [(1.0, 3.0), (2.0, 4.0)]
    # a genuine series needs no points at all
    s = QLineSeries()
    buf = SB(s, 5)
    buf.add_points([1, 2], [3, 4])
    monkeypatch.delattr(streaming, "QPointF")
    assert buf.flush() is True and pts(s) == [(1.0, 3.0), (2.0, 4.0)]
    buf = SB(Recorder(), 5)
    buf.add_point(1, 1)
    with pytest.raises(NameError, match="name 'QPointF' is not defined"):
        buf.flush()


def test_overridden_replace_gets_the_point_list():
    class Custom(QLineSeries):
        def replace(self, points):
            self.got = [(p.x(), p.y()) for p in points]
            super().replace(points)

    s = Custom()
    buf = SB(s, 5)
    buf.add_points([1, 2], [3, 4])
    buf.flush()
    assert s.got == [(1.0, 3.0), (2.0, 4.0)] == pts(s)


def test_no_leaks():
    s = QLineSeries()
    buf = SB(s, 64, display_budget=16, max_history=64)  # full after the warm-up: the history keeps floats
    block_x, block_y = np.arange(40.0), np.ones(40)
    r = Recorder()
    generic = SB(r, 8, max_history=8)

    def feed():
        buf.add_point(1.5, 2.5)
        buf.add_points(block_x, block_y)
        buf.add_points([1, 2], [3, 4])
        buf.flush()
        buf.history[-10:]
        generic.add_point(1, 1)
        generic.flush()
        r.calls.clear()

    assert_no_leak(feed, rounds=1000)
    assert_no_leak(call_swallowing(buf.add_points, [1, 2], [1]), rounds=1000)
    assert_no_leak(call_swallowing(SB, s, 0), rounds=1000)


# ---- sync_scrolling_chart reads a StreamHistory's doubles: the documented result, exactly

class AxisRecorder:
    """An axis double: the exact arguments (types included) that a real axis would turn into doubles."""

    def __init__(self):
        self.calls = []

    def setRange(self, lo, hi):
        self.calls.append(("setRange", type(lo).__name__, repr(lo), type(hi).__name__, repr(hi)))

    def setTickCount(self, n):
        self.calls.append(("setTickCount", n))

    def tickCount(self):
        return 5


HISTORIES = {
    "floats": [[1.5, 7.25, 3.0], [2.0, -4.0]],
    "zeros": [[0.0, -0.0, 0.0], [-0.0, 0.0]],
    "non-finite": [[NAN, INF, 2.0, -INF], [NAN], [5.0, NAN, 1.0]],
    "ints-first": ["ints:3,1000000000000000001", [3.0, 2.0]],
    "ints-after": [[3.0, 1e18], "ints:1,1000000000000000001,3"],
    "other-kinds": ["other", [1.0, 30.0], [0.5]],
    "wide": [[1e300, -1e300], [5.0]],
    "empty": [[], []],
}


def make_buffers(shape, module):
    bufs = []
    for h in shape:
        if h == "other":
            tsb = module.TimeSeriesBuffer(QLineSeries())
            tsb.history = [Fraction(7, 2), Decimal("2.5")]
            bufs.append(tsb)
        elif isinstance(h, str):
            tsb = module.TimeSeriesBuffer(QLineSeries())
            tsb.history = [int(v) for v in h[5:].split(",")]
            bufs.append(tsb)
        else:
            sb = SB(QLineSeries(), 10, max_history=3)
            sb.add_points(np.arange(len(h), dtype=float), h)
            bufs.append(sb)
    return bufs


@pytest.mark.parametrize("window_size", [0, 1, 2, 50])
@pytest.mark.parametrize("shape", HISTORIES.values(), ids=HISTORIES.keys())
def test_sync_scrolling_chart_reads_stream_histories_as_slices(shape, window_size):
    import plain_steps

    results = []
    for sync, module in ((plotdeck.sync_scrolling_chart, plotdeck), (plain_steps.sync_scrolling_chart, plotdeck)):
        ax, ay = AxisRecorder(), AxisRecorder()
        sync(make_buffers(shape, module), ax, ay, window_size)
        results.append((ax.calls, ay.calls))
    assert results[0] == results[1]


@pytest.mark.parametrize("swap", ["no-module", "plain-module", "no-capsule", "other-capsule", "not-a-capsule"])
def test_sync_scrolling_chart_trusts_only_the_genuine_interface(monkeypatch, swap):
    """What Python can replace (the module in sys.modules, its capsule) never makes the sync read
    memory it should not: it falls back to slicing, with the same result."""
    import datetime
    import sys
    import types

    buf = SB(QLineSeries(), 100)
    buf.add_points(np.arange(50.0), np.arange(50.0) * 2)
    ax, ay = QValueAxis(), QValueAxis()
    plotdeck.sync_scrolling_chart([buf], ax, ay, 100)
    expected = (ay.min(), ay.max())
    fake = types.ModuleType("larkui.streaming")
    if swap == "no-module":
        monkeypatch.delitem(sys.modules, "larkui.streaming")
    elif swap != "plain-module":
        monkeypatch.setitem(sys.modules, "larkui.streaming", fake)
        if swap == "other-capsule":
            fake._C_API = datetime.datetime_CAPI
        elif swap == "not-a-capsule":
            fake._C_API = object()
    else:
        monkeypatch.setattr(streaming, "_C_API", datetime.datetime_CAPI)
    ay.setRange(0, 1)
    plotdeck.sync_scrolling_chart([buf], ax, ay, 100)
    assert (ay.min(), ay.max()) == expected


@pytest.mark.parametrize("call", ["sync_scrolling_chart", "sync_stream_chart", "add_point", "add_points"])
def test_no_python_object_per_value(call):
    """Reading 8 x 40,000 samples for the y range, or feeding them, makes no float per value: the
    peak of Python's allocations stays far below one float (24 bytes) per sample."""
    bufs = [SB(QLineSeries(), 40_000, display_budget=None) for _ in range(8)]
    for b in bufs:
        b.add_points(np.arange(40_000.0), np.sin(np.arange(40_000.0)))
        b.flush()
    ax, ay = QValueAxis(), QValueAxis()
    x, y = np.arange(40_000.0, 80_000.0), np.ones(40_000)
    run = {"sync_scrolling_chart": lambda: plotdeck.sync_scrolling_chart(bufs, ax, ay, 40_000),
           "sync_stream_chart": lambda: streaming.sync_stream_chart(bufs, ax, ay, 40_000),
           "add_point": lambda: [bufs[0].add_point(v, 1.0) for v in range(40_000)],
           "add_points": lambda: [b.add_points(x, y) for b in bufs]}[call]
    run()
    tracemalloc.start()
    try:
        run()
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert peak < (400_000 if call == "add_point" else 40_000), peak  # the list comprehension's own list
