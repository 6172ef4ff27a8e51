"""TimeSeriesBuffer: attributes, both feeding modes on real series, the NumPy path, failures, leaks."""

import collections
from fractions import Fraction

import numpy as np
import pytest
import shiboken6
from PySide6.QtCharts import QLineSeries, QScatterSeries, QXYSeries
from PySide6.QtCore import QPointF

from larkui import plotdeck
from support import assert_no_leak, call_swallowing

TSB = plotdeck.TimeSeriesBuffer


def pts(series):
    return [(p.x(), p.y()) for p in series.points()]


class Recorder:
    """A series double that records every call; arguments are copied as they arrive."""

    def __init__(self, visible=True, fail=None):
        self.calls, self.visible, self.fail = [], visible, fail

    def _record(self, name, *args):
        self.calls.append((name,) + tuple(list(a) if isinstance(a, list) else a for a in args))
        if name == self.fail:
            raise ValueError(name + " failed")

    def append(self, points): self._record("append", points)
    def replace(self, points): self._record("replace", points)
    def clear(self): self._record("clear")
    def setVisible(self, v): self._record("setVisible", v); self.visible = v

    def isVisible(self):
        self._record("isVisible")
        return self.visible


class Sized:
    """A frame that is not a sequence: a length and a one-shot generator."""

    def __init__(self, values):
        self.values = values

    def __len__(self):
        return len(self.values)

    def __iter__(self):
        return (v for v in self.values)


# ---- the class and its members ----

def test_constructor_attributes_in_order():
    s = QLineSeries()
    buf = TSB(s, 7.9)
    assert list(vars(buf).items()) == [
        ("series", s), ("history", []), ("max_history", 7), ("last_x", 0), ("last_snapshot_data", None),
        ("last_snapshot_offset", 0), ("_pending_points", []), ("_pending_snapshot", None),
        ("_pending_snapshot_offset", 0)]
    assert type(buf.last_x) is int and type(buf.max_history) is int
    assert buf.history is not buf._pending_points
    assert TSB(s).max_history == 10000


@pytest.mark.parametrize("args, message", [
    ((QLineSeries(), "10"), "Argument 'max_history' has incorrect type (expected int, got str)"),
    ((QLineSeries(), None), "expected int, got NoneType"),
    ((), "__init__() takes at least 2 positional arguments (1 given)"),
])
def test_constructor_refusals(args, message):
    with pytest.raises(TypeError, match=message.replace("(", r"\(").replace(")", r"\)")):
        TSB(*args)


def test_is_visible_reads_series_each_time():
    s = QLineSeries()
    buf = TSB(s)
    assert buf.is_visible is True
    s.setVisible(False)
    assert buf.is_visible is False
    with pytest.raises(AttributeError):
        buf.is_visible = True


# ---- append mode ----

def test_add_point_then_flush_appends_once():
    rec = Recorder()
    buf = TSB(rec)
    pending = buf._pending_points
    buf.add_point(1, 5)
    buf.add_point(2, 7)
    assert rec.calls == [] and buf.history == [5.0, 7.0] and all(type(v) is float for v in buf.history)
    assert buf.flush() is True
    assert rec.calls == [("append", [QPointF(1, 5), QPointF(2, 7)]), ("isVisible",)]
    assert buf.last_x == 2.0 and type(buf.last_x) is float
    assert buf._pending_points is pending and pending == []
    assert buf.flush() is False and len(rec.calls) == 2  # nothing pending: the series is not touched


def test_add_point_real_series_and_visibility():
    s = QLineSeries()
    s.setVisible(False)
    buf = TSB(s, 3)
    for i in range(5):
        buf.add_point(i + 0.5, np.float64(i * 2))
    assert buf.history == [4.0, 6.0, 8.0]
    assert buf.flush() is True
    assert pts(s) == [(i + 0.5, i * 2.0) for i in range(5)] and s.isVisible()


def test_history_keeps_argument_float():
    buf = TSB(QLineSeries())
    y = 12345.678
    buf.add_point(0.0, y)
    assert buf.history[0] is y


@pytest.mark.parametrize("limit", [0, -1, -3])
def test_zero_history_still_reaches_series(limit):
    s = QLineSeries()
    buf = TSB(s, limit)
    buf.add_point(1, 1)
    assert buf.history == []
    buf.flush()
    assert pts(s) == [(1.0, 1.0)]


def test_lowered_and_odd_limits():
    buf = TSB(QLineSeries(), 5)
    for i in range(5):
        buf.add_point(i, i)
    buf.max_history = 2  # a caller's change is honoured, one removal per call
    buf.add_point(9, 9)
    assert buf.history == [1.0, 2.0, 3.0, 4.0, 9.0]
    buf.max_history = 4.5  # compared as the host compares
    buf.add_point(10, 10)
    assert buf.history == [2.0, 3.0, 4.0, 9.0, 10.0]
    buf.max_history = 2 ** 80
    buf.add_point(11, 11)
    assert len(buf.history) == 6


@pytest.mark.parametrize("limit, same_as", [
    (3.0, 3), (np.int64(3), 3), (Fraction(7, 2), 3), (True, 1), (-2 ** 80, 0), (2 ** 80, 10 ** 6),
], ids=["float", "numpy-int", "fraction", "bool", "huge-negative", "huge"])
def test_history_limit_of_any_number_compares_as_the_int(limit, same_as):
    # An exact int limit is compared in C; any other number through the host's comparison.
    bufs = [TSB(QLineSeries(), 10), TSB(QLineSeries(), 10)]
    bufs[0].max_history, bufs[1].max_history = limit, same_as
    for buf in bufs:
        for i in range(6):
            buf.add_point(i, i)
    assert bufs[0].history == bufs[1].history


def test_default_history_bound():
    s = QLineSeries()
    buf = TSB(s)
    for i in range(10001):
        buf.add_point(i, i)
    assert len(buf.history) == 10000 and buf.history[0] == 1.0
    buf.flush()
    assert s.count() == 10001


def test_add_point_refuses_text():
    buf = TSB(QLineSeries())
    with pytest.raises(TypeError):
        buf.add_point(1.0, "2")
    assert buf.history == [] and buf._pending_points == []


def test_failing_append_keeps_points_pending():
    rec = Recorder(fail="append")
    buf = TSB(rec)
    buf.add_point(1, 2)
    with pytest.raises(ValueError, match="append failed"):
        buf.flush()
    assert buf._pending_points == [QPointF(1, 2)] and buf.last_x == 0
    rec.fail = None
    assert buf.flush() is True and buf.last_x == 1.0


class Logged(list):
    """A list subclass whose methods log the calls the buffer makes on it."""

    def __init__(self, log):
        super().__init__()
        self.log = log

    def append(self, v):
        self.log.append("append")
        super().append(v)

    def __delitem__(self, i):
        self.log.append(("del", i))
        super().__delitem__(i)

    def clear(self):
        self.log.append("clear")
        super().clear()


@pytest.mark.parametrize("make, history_log, pending_log", [
    (lambda log: [], [], []),
    (Logged, ["append"] * 3 + [("del", 0), "append", ("del", 0)], ["append"] * 4 + ["clear"]),
    (lambda log: collections.deque(), [], []),
], ids=["exact-list", "list-subclass", "deque"])
def test_history_and_pending_of_other_sequence_types(make, history_log, pending_log):
    # Exact lists are changed in place directly; any other sequence through its own methods,
    # with the same outcome.
    expected = TSB(QLineSeries(), 2)
    s = QLineSeries()
    buf = TSB(s, 2)
    logs = {"history": [], "_pending_points": []}
    buf.history, buf._pending_points = make(logs["history"]), make(logs["_pending_points"])
    pending = buf._pending_points
    for b in (expected, buf):
        for i in range(4):
            b.add_point(i, i * 10)
        assert b.flush() is True
    assert list(buf.history) == expected.history == [20.0, 30.0]
    assert pts(s) == pts(expected.series) and buf.last_x == expected.last_x == 3.0
    assert buf._pending_points is pending and len(pending) == 0
    assert logs == {"history": history_log, "_pending_points": pending_log}


# ---- snapshot mode ----

@pytest.mark.parametrize("frame", [[10, 20, 30], (10, 20, 30), Sized([10, 20, 30]), np.array([10, 20, 30]),
                                   np.array([10.0, 20.0, 30.0]), np.array([10, 20, 30], dtype=">i2")])
def test_snapshot_frames(frame):
    s = QLineSeries()
    buf = TSB(s)
    buf.set_data(frame, 2.5)
    assert buf._pending_snapshot is frame and buf._pending_snapshot_offset == 2.5
    assert buf.flush() is True
    assert pts(s) == [(2.5, 10.0), (3.5, 20.0), (4.5, 30.0)]
    assert buf.last_snapshot_data is frame and buf.last_snapshot_offset == 2.5
    assert buf._pending_snapshot is None


def test_snapshot_call_sequence_and_precedence():
    rec = Recorder(visible=False)
    buf = TSB(rec)
    buf.add_point(7, 1)
    buf.set_data([1, 2], 0)
    buf.set_data([3], 1)  # the first frame is dropped unwritten
    assert buf.flush() is True
    assert rec.calls == [("replace", [QPointF(1, 3)]), ("isVisible",), ("setVisible", True)]
    assert buf.flush() is True and rec.calls[3] == ("append", [QPointF(7, 1)])
    assert buf.last_x == 7.0


def test_empty_frame_and_mutation():
    s = QLineSeries()
    s.append([QPointF(0, 0)])
    buf = TSB(s)
    empty = np.array([])
    buf.set_data(empty)
    assert buf.flush() is True and pts(s) == [] and buf.last_snapshot_data is empty
    frame = [1, 2]
    buf.set_data(frame)
    frame.append(3)  # no copy was taken
    buf.flush()
    assert pts(s) == [(0.0, 1.0), (1.0, 2.0), (2.0, 3.0)]


class BrokenFrame(Sized):
    def __iter__(self):
        yield self.values[0]
        raise OSError("frame read failed")


@pytest.mark.parametrize("frame, exc", [
    ([1.0, "x", 3.0], TypeError), (np.array(["1", "2"]), TypeError), (BrokenFrame([1.0, 2.0]), OSError),
], ids=["bad-element", "text-array", "iteration-fails"])
def test_bad_element_keeps_frame_pending(frame, exc):
    s = QLineSeries()
    buf = TSB(s)
    buf.set_data(frame, 1)
    for _ in range(2):
        with pytest.raises(exc):
            buf.flush()
        assert buf._pending_snapshot is frame and buf.last_snapshot_data is None and pts(s) == []


def test_failing_replace_keeps_frame_pending():
    buf = TSB(Recorder(fail="replace"))
    buf.set_data([1])
    with pytest.raises(ValueError):
        buf.flush()
    assert buf._pending_snapshot == [1] and buf.last_snapshot_data is None


def test_clear():
    s = QLineSeries()
    buf = TSB(s)
    buf.set_data([1, 2], 4.0)
    buf.flush()
    buf.add_point(1, 1)
    buf.set_data([5], 9.0)
    history, pending = buf.history, buf._pending_points
    buf.clear()
    assert s.count() == 0
    assert buf.history == [] and buf.history is not history and buf._pending_points is not pending
    assert buf._pending_snapshot is None and buf.last_snapshot_data is None and buf.last_x == 0
    assert buf.last_snapshot_offset == 4.0 and buf._pending_snapshot_offset == 9.0
    assert buf.flush() is False


def test_clear_propagates_before_reset():
    buf = TSB(Recorder(fail="clear"))
    buf.add_point(1, 1)
    with pytest.raises(ValueError):
        buf.clear()
    assert buf.history == [1.0]


# ---- the NumPy entry point must be indistinguishable from the point list ----

SIGNALS = ["pointsReplaced", "pointAdded", "pointRemoved", "pointsRemoved", "pointReplaced"]


class FloatSub(float):
    def __float__(self):
        return 99.0


def spied(series):
    seen = []
    for name in SIGNALS:
        getattr(series, name).connect(lambda *a, name=name: seen.append((name,) + a))
    return seen


def by_point_list(frame, offset):
    s = QLineSeries()
    seen = spied(s)
    s.replace([QPointF(i + offset, v) for i, v in enumerate(frame)])
    return pts(s), seen


big = np.array([2 ** 63 - 1, -2 ** 63, 2 ** 53 + 1, 5], dtype=np.int64)


@pytest.mark.parametrize("frame", [
    np.linspace(-1e300, 1e300, 7), np.array([np.nan, np.inf, -np.inf, -0.0, 5e-324]),
    np.arange(9.0)[::2], np.arange(12.0).reshape(3, 4)[:, 1], np.arange(5.0).astype(">f8"),
    np.arange(5, dtype=np.float32) / 3, np.arange(5, dtype=np.float16), big,
    np.array([2 ** 64 - 1, 7], dtype=np.uint64), np.array([-128, 127], dtype=np.int8),
    np.frombuffer(b"\0" + np.arange(4.0).tobytes(), dtype="f8", offset=1),
    np.broadcast_to(np.float64(2.5), (4,)), np.array([True, False]), np.arange(3, dtype=np.longdouble) / 3,
])
@pytest.mark.parametrize("series_type", [QLineSeries, QScatterSeries])
def test_numpy_frames_match_point_list(frame, series_type):
    expected, expected_signals = by_point_list(frame, 1.25)
    s = series_type()
    seen = spied(s)
    buf = TSB(s)
    buf.set_data(frame, 1.25)
    assert buf.flush() is True
    assert repr(pts(s)) == repr(expected)  # repr: NaN and -0.0 compare exactly
    assert seen == expected_signals and ("pointsReplaced",) in seen
    assert buf.last_snapshot_data is frame


@pytest.mark.parametrize("frame", [
    [0.5, -0.0, float("nan"), float("inf"), -1e308], (1.0, 2.5), [3, -7, 2 ** 53 + 1, 2 ** 63, -2 ** 70], [1, 2.5, 3],
    [5e-324] * 64, list(np.sin(np.arange(1000.0)).tolist()),
], ids=["floats", "tuple", "ints", "mixed", "64", "1000"])
@pytest.mark.parametrize("series_type", [QLineSeries, QScatterSeries])
def test_list_frames_match_point_list(frame, series_type):
    expected, expected_signals = by_point_list(frame, -0.0)
    s = series_type()
    seen = spied(s)
    buf = TSB(s)
    buf.set_data(frame, -0.0)
    assert buf.flush() is True
    assert repr(pts(s)) == repr(expected)
    assert seen == expected_signals
    assert buf.last_snapshot_data is frame


@pytest.mark.parametrize("frame", [[1.0, 10 ** 400], [2.0, True, "x"], [1.0, None], [FloatSub(2.0)],
                                   [np.float64(1.5), 2.0]], ids=["huge-int", "bool-and-text", "none", "subclass",
                                                                 "numpy-scalar"])
def test_list_frames_of_other_values_go_as_points(frame):
    # What the point constructor makes of each value (or raises) is what the series gets.
    try:
        expected, raised = by_point_list(frame, 0.0)[0], None
    except Exception as e:  # noqa: BLE001 - the constructor's own error is the expectation
        expected, raised = None, (type(e), str(e))
    buf = TSB(QLineSeries())
    buf.set_data(frame)
    if raised:
        with pytest.raises(raised[0]) as info:
            buf.flush()
        assert str(info.value) == raised[1] and buf._pending_snapshot is frame
    else:
        assert buf.flush() is True and repr(pts(buf.series)) == repr(expected)


def test_overridden_replace_gets_the_point_list():
    class Custom(QLineSeries):
        def replace(self, points):
            self.got = points
            super().replace(points)

    s = Custom()
    buf = TSB(s)
    buf.set_data(np.array([1.0, 2.0]))
    buf.flush()
    assert type(s.got) is list and s.got == [QPointF(0, 1), QPointF(1, 2)] and pts(s) == [(0, 1), (1, 2)]

    plain = QLineSeries()
    calls = []
    plain.replace = calls.append  # an instance attribute shadows the binding's method too
    buf = TSB(plain)
    buf.set_data(np.array([4.0]))
    buf.flush()
    assert calls == [[QPointF(0, 4)]] and pts(plain) == []


@pytest.mark.parametrize("frame", [np.array([1.0, 2.0]), [1.0, 2.0], np.array([1, 2], dtype=np.int16)],
                         ids=["float-array", "list", "int-array"])
def test_offset_assigned_as_int_gives_the_same_points(frame):
    # An int offset (assigned by the caller) skips the NumPy shortcut: the points are the same
    # and the offset is kept as it was.
    shortcut = QLineSeries()
    buf = TSB(shortcut)
    buf.set_data(np.array([1.0, 2.0]), 2.0)
    buf.flush()
    s = QLineSeries()
    buf = TSB(s)
    buf.set_data(frame)
    buf._pending_snapshot_offset = 2
    assert buf.flush() is True
    assert pts(s) == pts(shortcut) == [(2.0, 1.0), (3.0, 2.0)]
    assert buf.last_snapshot_offset == 2 and type(buf.last_snapshot_offset) is int


class Looking(QLineSeries):
    """Every attribute lookup goes through Python code, which the NumPy shortcut must not skip."""

    def __getattribute__(self, name):
        object.__getattribute__(self, "looked").append(name)
        return super().__getattribute__(name)


def test_series_with_its_own_attribute_lookup_gets_the_point_list():
    s = Looking()
    s.looked = []
    buf = TSB(s)
    buf.set_data(np.array([1.0, 2.0]), 0.5)
    assert buf.flush() is True and pts(s) == [(0.5, 1.0), (1.5, 2.0)]
    assert s.looked[:1] == ["replace"]


class SameHashAsReplace(str):
    """A key that the lookup of "replace" has to compare, and whose comparison fails."""

    def __hash__(self):
        return hash("replace")

    def __eq__(self, other):
        raise ZeroDivisionError("compared")


def key_in_instance():
    s = QLineSeries()
    s.__dict__[SameHashAsReplace("x")] = 1
    return s


def key_in_class():
    return type("Keyed", (QLineSeries,), {SameHashAsReplace("x"): 1})()


@pytest.mark.parametrize("make", [key_in_instance, key_in_class], ids=["instance-dict", "class-dict"])
def test_failing_lookup_of_replace_ends_as_the_lookup_in_python(make):
    s = make()
    with pytest.raises(Exception) as python_lookup:
        s.replace
    buf = TSB(s)
    frame = np.array([1.0, 2.0])
    buf.set_data(frame)
    with pytest.raises(type(python_lookup.value)) as info:
        buf.flush()
    assert str(info.value) == str(python_lookup.value)
    assert buf._pending_snapshot is frame


@pytest.mark.parametrize("frame", [np.array([1.0]), [1.0]], ids=["array", "list"])
def test_series_type_without_replace(monkeypatch, frame):
    monkeypatch.delattr(QXYSeries, "replace")
    s = QLineSeries()
    with pytest.raises(AttributeError) as python_lookup:
        s.replace
    buf = TSB(s)
    buf.set_data(frame)
    with pytest.raises(AttributeError) as info:
        buf.flush()
    assert str(info.value) == str(python_lookup.value) and buf._pending_snapshot is frame


def test_two_dimensional_frame_fails_and_stays_pending():
    buf = TSB(QLineSeries())
    frame = np.ones((2, 2))
    buf.set_data(frame)
    with pytest.raises(TypeError):
        buf.flush()
    assert buf._pending_snapshot is frame


class CountingPoint(QPointF):
    made = 0

    def __init__(self, *args):
        CountingPoint.made += 1
        super().__init__(*args)


@pytest.mark.parametrize("frame", [np.array([1.0, 2.0, 3.0]), [1.0, 2.0, 3.0]], ids=["array", "list"])
def test_frames_are_built_with_the_modules_qpointf(monkeypatch, frame):
    # The NumPy shortcut is taken only when it gives what the points would: with PySide6's own
    # QPointF. A rebound class is used for every point; a deleted one is a NameError, except for
    # an empty frame, which needs no point.
    CountingPoint.made = 0
    monkeypatch.setattr(plotdeck, "QPointF", CountingPoint)
    s = QLineSeries()
    buf = TSB(s)
    buf.set_data(frame, 0.5)
    assert buf.flush() is True and CountingPoint.made == 3 and pts(s) == [(0.5, 1), (1.5, 2), (2.5, 3)]

    monkeypatch.delattr(plotdeck, "QPointF")
    buf.set_data(frame)
    with pytest.raises(NameError, match="name 'QPointF' is not defined"):
        buf.flush()
    assert buf._pending_snapshot is frame and pts(s) == [(0.5, 1), (1.5, 2), (2.5, 3)]
    buf.set_data(frame[:0])
    assert buf.flush() is True and pts(s) == []


@pytest.mark.parametrize("module, stand_in", [
    ("numpy", None), ("numpy", "stub"), ("PySide6.QtCharts", "stub"),
])
def test_fast_path_never_depends_on_the_module_table(monkeypatch, module, stand_in):
    import sys
    import types

    monkeypatch.setitem(sys.modules, module, types.ModuleType(module) if stand_in else None)
    for frame in ([1, 2], np.array([1.0, 2.0])):
        s = QLineSeries()
        buf = TSB(s)
        buf.set_data(frame, 1.0)
        assert buf.flush() is True and pts(s) == [(1, 1), (2, 2)] and buf._pending_snapshot is None


@pytest.mark.parametrize("stand_in", [
    "numpy = types.ModuleType('numpy'); numpy.min, numpy.max = real_numpy.min, real_numpy.max",
    "numpy = types.ModuleType('numpy'); numpy.__dict__.update({n: getattr(real_numpy, n) for n in "
    "('ndarray', 'require', 'arange', 'min', 'max', 'isfinite')})",
    "charts = types.ModuleType('PySide6.QtCharts'); charts.__dict__.update(copy_charts); charts.QXYSeries = None",
    "charts = types.ModuleType('PySide6.QtCharts'); charts.__dict__.update(copy_charts); "
    "charts.QXYSeries = type('QXYSeries', (), {})",
    "charts = types.ModuleType('PySide6.QtCharts'); charts.__dict__.update(copy_charts); del charts.QXYSeries",
], ids=["numpy-without-arrays", "numpy-without-float64", "xy-series-not-a-class",
        "xy-series-without-replace", "no-xy-series"])
def test_import_with_stand_in_modules_keeps_to_the_general_paths(stand_in):
    from support import run_python

    proc = run_python(f"""
        import sys, types
        import numpy as real_numpy
        import PySide6.QtCharts as real_charts
        from PySide6.QtWidgets import QApplication
        app = QApplication([])
        copy_charts = {{k: getattr(real_charts, k) for k in ("QChart", "QChartView", "QValueAxis", "QScatterSeries",
                                                            "QLineSeries", "QXYSeries")}}
        {stand_in}
        for module in [m for m in (globals().get("numpy"), globals().get("charts")) if m]:
            sys.modules[module.__name__] = module
        import larkui.plotdeck as p
        s = real_charts.QLineSeries()
        buf = p.TimeSeriesBuffer(s)
        buf.set_data(real_numpy.array([1.0, 2.0]), 0.5)
        print(buf.flush(), [(q.x(), q.y()) for q in s.points()])
        buf.last_snapshot_data = real_numpy.array([real_numpy.nan, 1.0, 3.0])
        axis = real_charts.QValueAxis()
        p.sync_snapshot_chart([buf], real_charts.QValueAxis(), axis)
        print(round(axis.min(), 6), round(axis.max(), 6))
    """)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.splitlines() == ["True [(0.5, 1.0), (1.5, 2.0)]", "0.8 3.2"]


class LyingEq(QLineSeries):
    def __eq__(self, other):
        raise AssertionError("the decision ran user code")

    __hash__ = QLineSeries.__hash__


def test_fast_path_decides_without_running_user_code():
    s = LyingEq()
    buf = TSB(s)
    buf.set_data(np.array([3.0, 4.0]))
    assert buf.flush() is True and pts(s) == [(0, 3), (1, 4)]

    class Everything(QLineSeries):
        """A series whose replace compares equal to anything: an instance override still wins."""

    e = Everything()
    calls = []
    e.replace = calls.append
    buf = TSB(e)
    buf.set_data(np.array([5.0]))
    buf.flush()
    assert calls == [[QPointF(0, 5)]] and pts(e) == []


# What the documented steps do when a series calls back into its buffer: the same as the steps
# written in plain Python (benchmarks/baseline_plotdeck.py), attribute by attribute.
class Reentrant:
    def __init__(self, action, on):
        self.action, self.on, self.log, self.visible = action, on, [], False
        self.buf = None

    def _hook(self, name, *args):
        self.log.append((name,) + tuple(list(a) if isinstance(a, list) else a for a in args))
        if name == self.on and self.buf is not None:
            action, self.buf_ = self.action, self.buf
            self.buf = None  # once
            action(self.buf_)

    def append(self, points): self._hook("append", points)
    def replace(self, points): self._hook("replace", points)
    def clear(self): self._hook("clear")
    def setVisible(self, v): self._hook("setVisible", v)

    def isVisible(self):
        self._hook("isVisible")
        return self.visible


def swap_series(buf):
    buf.series = Reentrant(None, None)


REENTRY = {
    "clear": lambda buf: buf.clear(),
    "set-data": lambda buf: buf.set_data([7, 8], 3.0),
    "new-pending": lambda buf: setattr(buf, "_pending_points", [QPointF(9, 9)]),
    "swap-series": swap_series,
    "add-point": lambda buf: buf.add_point(5, 6),
}


def outcome(cls, feed, action, on):
    series = Reentrant(action, on)
    buf = cls(series)
    feed(buf)
    series.buf = buf
    try:
        result = ("ok", buf.flush())
    except Exception as e:  # the same exception, in type and text, is what counts
        result = (type(e).__name__, str(e))
    state = {k: ([(p.x(), p.y()) for p in v] if k == "_pending_points" else v) for k, v in vars(buf).items()
             if k != "series"}
    return result, series.log, getattr(buf.series, "log", None), state


@pytest.mark.parametrize("on", ["append", "replace", "isVisible", "setVisible"])
@pytest.mark.parametrize("action", REENTRY.values(), ids=REENTRY.keys())
@pytest.mark.parametrize("feed", [lambda b: (b.add_point(1, 2), b.add_point(3, 4)), lambda b: b.set_data([1, 2], 0.5)],
                         ids=["points", "frame"])
def test_reentrant_series_sees_what_plain_python_would(feed, action, on):
    import sys
    from pathlib import Path

    sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "benchmarks"))
    try:
        from baseline_plotdeck import TimeSeriesBuffer as Reference
    finally:
        sys.path.pop(0)
    assert outcome(TSB, feed, action, on) == outcome(Reference, feed, action, on)


# ---- a series deleted on the C++ side ----

@pytest.mark.parametrize("feed", [lambda b: b.add_point(1, 1), lambda b: b.set_data(np.arange(3.0)),
                                  lambda b: b.set_data([1, 2])])
def test_deleted_series(feed):
    s = QLineSeries()
    buf = TSB(s)
    shiboken6.delete(s)
    feed(buf)
    with pytest.raises(RuntimeError):
        buf.flush()
    with pytest.raises(RuntimeError):
        buf.is_visible
    with pytest.raises(RuntimeError):
        buf.clear()
    assert buf._pending_points or buf._pending_snapshot is not None


# ---- references ----

def test_no_leaks():
    s = QLineSeries()
    buf = TSB(s, 50)
    frame = np.arange(100.0)
    frame_list = frame.tolist()

    def cycle():
        TSB(s, 3)
        for i in range(60):
            buf.add_point(i, i * 0.5)
        buf.flush()
        buf.set_data(frame, 1.5)
        buf.flush()
        buf.set_data(frame_list, 2)
        buf.flush()
        buf.is_visible
        buf.clear()

    assert_no_leak(cycle, warmup=30, rounds=300)

    bad = TSB(QLineSeries())
    bad.set_data([1.0, "x"])
    assert_no_leak(call_swallowing(bad.flush))
    assert_no_leak(call_swallowing(bad.add_point, 1, "y"))
    assert_no_leak(call_swallowing(TSB, s, "10"))
    class Refusing:  # unlike Recorder, keeps nothing per call
        def append(self, points):
            raise ValueError("refused")

    failing = TSB(Refusing())
    failing.add_point(1, 1)
    assert_no_leak(call_swallowing(failing.flush))
    gone = QLineSeries()
    dead = TSB(gone)
    shiboken6.delete(gone)
    dead.set_data(frame)
    assert_no_leak(call_swallowing(dead.flush))


# ---- isVisible, asked of a genuine series without its bound method: what Python would call

class PlainSubclass(QLineSeries):
    pass


class OwnVisibility(QLineSeries):
    def isVisible(self):
        return False


@pytest.mark.parametrize("how", ["genuine", "plain-subclass", "instance-attribute", "python-override", "hidden"])
@pytest.mark.parametrize("step", ["flush-frame", "flush-points", "is_visible"])
def test_visibility_is_asked_as_python_would(qapp, how, step):
    series = PlainSubclass() if how == "plain-subclass" else OwnVisibility() if how == "python-override" else QLineSeries()
    asked = []
    if how == "instance-attribute":
        series.isVisible = lambda: asked.append(1) or False
    if how == "hidden":
        series.setVisible(False)
    b = TSB(series, 10)
    if step == "is_visible":
        expected = how not in ("instance-attribute", "python-override", "hidden")
        assert b.is_visible is expected
    else:
        b.set_data(np.arange(3.0)) if step == "flush-frame" else b.add_point(1.0, 2.0)
        assert b.flush() is True
        # A hidden (or said to be hidden) series is shown again.
        assert QLineSeries.isVisible(series)
    assert asked == ([1] if how == "instance-attribute" else [])


@pytest.mark.parametrize("step", ["flush-frame", "is_visible"])
def test_visibility_of_a_deleted_series_raises_as_the_bound_method_would(qapp, step):
    series = QLineSeries()
    b = TSB(series, 10)
    if step == "flush-frame":
        b.set_data([1.0, 2.0])
    shiboken6.delete(series)
    with pytest.raises(RuntimeError, match="already deleted"):
        b.flush() if step == "flush-frame" else b.is_visible
