"""sync_scrolling_chart and sync_snapshot_chart on real buffers, series and axes."""
import math
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest
from PySide6.QtCharts import QLineSeries, QValueAxis

import larkui.plotdeck as plotdeck
from support import assert_no_leak, call_swallowing

scroll = plotdeck.sync_scrolling_chart
snap = plotdeck.sync_snapshot_chart
TSB = plotdeck.TimeSeriesBuffer
NAN = float("nan")


class RecordingAxis:
    """Records the axis calls whose exact sequence and argument types a real axis cannot show."""

    def __init__(self, ticks=5):
        self.calls = []
        self.ticks = ticks

    def setRange(self, lo, hi):
        self.calls.append(("setRange", lo, hi))

    def setTickCount(self, n):
        self.calls.append(("setTickCount", n))
        self.ticks = n

    def tickCount(self):
        self.calls.append(("tickCount",))
        return self.ticks


def kinds(calls):
    """Calls with each number tagged int or float, so that 1 and 1.0 differ."""
    def tag(v):
        return ("int" if type(v) is int else "float" if isinstance(v, float) else type(v).__name__, v)
    return [(c[0], *map(tag, c[1:])) for c in calls]


def point_buffer(points, visible=True):
    buf = TSB(QLineSeries())
    for x, y in points:
        buf.add_point(x, y)
    buf.flush()
    buf.series.setVisible(visible)
    return buf


def frame_buffer(frame, offset=0.0, visible=True):
    buf = TSB(QLineSeries())
    buf.set_data(frame, offset)
    buf.flush()
    buf.series.setVisible(visible)
    return buf


def axis_state(axis):
    return axis.min(), axis.max(), axis.tickCount()


def replay(calls):
    """A fresh real axis given `calls`: what the synced real axis must look like."""
    axis = QValueAxis()
    for name, *args in calls:
        if name != "tickCount":
            getattr(axis, name)(*args)
    return axis_state(axis)


TICK6 = [("tickCount",), ("setTickCount", 6)]
X_1_10 = [("setRange", 1, 10), ("setTickCount", 11)]
SMALL_3_TO_10 = [(1, 3.2), (2, 9.9), (3, 5.0)]

# (id, function, buffers: [(data, visible)], keyword arguments, expected x calls, expected y calls)
EXAMPLES = [
    ("window-100", scroll, [([(250.0, 1.0)], True)], dict(window_size=100),
     [("setRange", 151.0, 250.0)] + TICK6, [("setRange", 0, 2), ("setTickCount", 3)]),
    ("window-10", scroll, [([(57.0, 1.0)], True)], dict(window_size=10),
     [("setRange", 48.0, 57.0), ("setTickCount", 11)], [("setRange", 0, 2), ("setTickCount", 3)]),
    ("data-shorter-than-window", scroll, [([(30.0, 1.0)], True)], dict(window_size=50),
     [("setRange", 1, 50)] + TICK6, [("setRange", 0, 2), ("setTickCount", 3)]),
    ("no-data", scroll, [], dict(window_size=50), [("setRange", 1, 50)] + TICK6, []),
    ("newest-x-equals-window", scroll, [([(50.0, 1.0)], True)], dict(window_size=50),
     [("setRange", 1.0, 50.0)] + TICK6, [("setRange", 0, 2), ("setTickCount", 3)]),
    ("window-20", scroll, [], dict(window_size=20), [("setRange", 1, 20), ("setTickCount", 21)], []),
    ("window-21", scroll, [], dict(window_size=21), [("setRange", 1, 21)] + TICK6, []),
    ("small-span", scroll, [(SMALL_3_TO_10, True)], dict(window_size=10),
     X_1_10, [("setRange", 2, 11), ("setTickCount", 10)]),
    ("small-span-given-ticks", scroll, [(SMALL_3_TO_10, True)], dict(window_size=10, y_tick_cnt=7),
     X_1_10, [("setRange", 2, 11), ("setTickCount", 7)]),
    ("small-span-given-1-tick", scroll, [(SMALL_3_TO_10, True)], dict(window_size=10, y_tick_cnt=1),
     X_1_10, [("setRange", 2, 11), ("setTickCount", 2)]),
    ("small-span-5-ticks", scroll, [([(1, 2.3), (2, 3.1)], True)], dict(window_size=10, y_tick_cnt=9),
     X_1_10, [("setRange", 1, 5), ("setTickCount", 5)]),
    ("all-5.0", scroll, [([(1, 5.0), (2, 5.0)], True)], dict(window_size=10),
     X_1_10, [("setRange", 4, 6), ("setTickCount", 3)]),
    ("all-5.0-no-padding", scroll, [([(1, 5.0)], True)], dict(window_size=10, small_span_padding=0),
     X_1_10, [("setRange", 4, 6), ("setTickCount", 3)]),
    ("all-5.5-no-padding", scroll, [([(1, 5.5)], True)], dict(window_size=10, small_span_padding=0),
     X_1_10, [("setRange", 5, 6), ("setTickCount", 2)]),
    ("wide-span", scroll, [([(1, 0.0), (2, 100.0)], True)], dict(window_size=10),
     X_1_10, [("setRange", -10.0, 110.0)] + TICK6),
    ("wide-span-given-ticks", scroll, [([(1, 0.0), (2, 100.0)], True)], dict(window_size=10, y_tick_cnt=1),
     X_1_10, [("setRange", -10.0, 110.0), ("setTickCount", 1)]),
    ("span-15-is-wide", scroll, [([(1, 0.0), (2, 15.0)], True)], dict(window_size=10, margin_ratio=0),
     X_1_10, [("setRange", -1.0, 16.0)] + TICK6),
    ("fixed-range", scroll, [([(1, 50.0)], True)], dict(window_size=10, fixed_y_range=(-1.5, 2.5)),
     X_1_10, [("setRange", -1.5, 2.5), ("tickCount",)]),
    ("fixed-range-given-ticks", scroll, [], dict(window_size=10, fixed_y_range=(0, 10), y_tick_cnt=1),
     X_1_10, [("setRange", 0, 10), ("setTickCount", 1)]),
    ("hidden-decides-window-only", scroll, [([(10.0, 1.0)], True), ([(500.0, 100.0)], False)],
     dict(window_size=100), [("setRange", 401.0, 500.0)] + TICK6, [("setRange", 0, 2), ("setTickCount", 3)]),
    ("all-hidden", scroll, [([(5.0, 1.0)], False)], dict(window_size=10), X_1_10, []),
    ("last-window+1-values", scroll, [([(i, float(i)) for i in range(1, 31)], True)], dict(window_size=5),
     [("setRange", 26.0, 30.0), ("setTickCount", 6)], [("setRange", 24, 31), ("setTickCount", 8)]),
    ("frame-0-to-10", snap, [((np.linspace(0.0, 10.0, 100), 0.0), True)], {},
     [("setRange", 0.0, 100.0)], [("setRange", -1.0, 11.0)]),
    ("two-frames", snap, [((np.zeros(100), 0.0), True), ((np.ones(50), 20.0), True)], {},
     [("setRange", 0.0, 100.0)], [("setRange", -0.1, 1.1)]),
    ("constant-frame", snap, [((np.full(5, 3.0), 0.0), True)], {}, [("setRange", 0.0, 5.0)],
     [("setRange", 2.0, 4.0)]),
    ("zero-margin-ratio", snap, [((np.array([1.0, 2.0]), 3.0), True)], dict(margin_ratio=0),
     [("setRange", 3.0, 5.0)], [("setRange", 0.0, 3.0)]),
    ("hidden-frame", snap, [((np.arange(10.0), 0.0), True), ((np.arange(500.0), 0.0), False)], {},
     [("setRange", 0.0, 10.0)], [("setRange", -0.9, 9.9)]),
    ("fixed-range-snapshot", snap, [((np.arange(10.0), 0.0), True)], dict(fixed_y_range=(-2, 2)),
     [("setRange", 0.0, 10.0)], [("setRange", -2, 2)]),
    ("nan-frame-counts-its-finite-values", snap,
     [((np.array([NAN, 1.0]), 0.0), True), ((np.array([2.0, 4.0]), 0.0), True)],
     {}, [("setRange", 0.0, 2.0)], [("setRange", 0.7, 4.3)]),
    ("only-nan-frame", snap, [((np.array([NAN]), 0.0), True)], {}, [("setRange", 0.0, 1.0)], []),
    ("nan-offset", snap, [((np.array([1.0, 2.0]), NAN), True)], {}, [("setRange", 0, 0)], [("setRange", 0.9, 2.1)]),
    ("empty-frame-counts-for-x", snap, [((np.array([]), 40.0), True), ((np.array([1.0, 3.0]), 2.0), True)], {},
     [("setRange", 2.0, 40.0)], [("setRange", 0.8, 3.2)]),
    ("only-empty-frame", snap, [((np.array([]), 5.0), True)], {}, [("setRange", 5.0, 5.0)], []),
    ("list-frame", snap, [(([1.0, 5.0], 1.0), True)], {}, [("setRange", 1.0, 3.0)], [("setRange", 0.6, 5.4)]),
    ("nothing-visible", snap, [((np.arange(3.0), 0.0), False)], {}, [], []),
]


def make_buffers(func, layout):
    if func is scroll:
        return [point_buffer(points, visible) for points, visible in layout]
    return [frame_buffer(frame, offset, visible) for (frame, offset), visible in layout]


def approx_calls(tagged):
    """Tagged calls with float values compared approximately."""
    return [(c[0], *[(k, pytest.approx(v) if k == "float" else v) for k, v in c[1:]]) for c in tagged]


@pytest.mark.parametrize("case", EXAMPLES, ids=[e[0] for e in EXAMPLES])
def test_worked_examples_call_sequence(case):
    _, func, layout, kwargs, x_calls, y_calls = case
    axX, axY = RecordingAxis(), RecordingAxis()
    assert func(make_buffers(func, layout), axX, axY, **kwargs) is None
    assert kinds(axX.calls) == approx_calls(kinds(x_calls))
    assert kinds(axY.calls) == approx_calls(kinds(y_calls))


@pytest.mark.parametrize("case", EXAMPLES, ids=[e[0] for e in EXAMPLES])
def test_worked_examples_on_real_axes(case):
    _, func, layout, kwargs, x_calls, y_calls = case
    axX, axY = QValueAxis(), QValueAxis()
    func(make_buffers(func, layout), axX, axY, **kwargs)
    assert axis_state(axX) == pytest.approx(replay(x_calls))
    assert axis_state(axY) == pytest.approx(replay(y_calls))


@pytest.mark.parametrize("ticks, x_calls", [(6, [("setRange", 1, 100), ("tickCount",)]),
                                            (5, [("setRange", 1, 100), ("tickCount",), ("setTickCount", 6)])])
def test_default_tick_count_written_only_when_it_differs(ticks, x_calls):
    axX, axY = RecordingAxis(ticks), RecordingAxis(5)
    scroll([], axX, axY, 100, (0, 1))
    assert axX.calls == x_calls
    assert axY.calls == [("setRange", 0, 1), ("tickCount",)]


def test_pending_points_are_flushed_into_the_series():
    bufs = [TSB(QLineSeries()) for _ in range(3)]
    for i, buf in enumerate(bufs):
        buf.add_point(10.0 * (i + 1), i)
    bufs[1].series.setVisible(False)  # shown again by its flush
    axX, axY = QValueAxis(), QValueAxis()
    scroll(bufs, axX, axY, 5)
    assert [b.series.count() for b in bufs] == [1, 1, 1] and all(b.series.isVisible() for b in bufs)
    assert (axX.min(), axX.max()) == (26.0, 30.0)
    assert (axY.min(), axY.max()) == (-1, 3)


# ---- non-finite values never reach an axis ----

INF = math.inf
NON_FINITE = {
    # sync_scrolling_chart: the recent values of each buffer
    "scroll-nan-first": (scroll, [[NAN, 2.0, 3.0]], [("setRange", 1, 4), ("setTickCount", 4)]),
    "scroll-nan-middle": (scroll, [[2.0, NAN, 3.0]], [("setRange", 1, 4), ("setTickCount", 4)]),
    "scroll-inf": (scroll, [[2.0, 3.0, INF]], [("setRange", 1, 4), ("setTickCount", 4)]),
    "scroll-minus-inf-first": (scroll, [[-INF, 2.0, 3.0]], [("setRange", 1, 4), ("setTickCount", 4)]),
    "scroll-mixed-wide": (scroll, [[INF], [NAN, 0.0, -INF, 30.0]], [("setRange", -3.0, 33.0)] + TICK6),
    "scroll-all-non-finite": (scroll, [[NAN, INF], [-INF]], []),
    "scroll-numpy-scalars": (scroll, [[np.float64(INF), np.float32(2.0)], [3.0]], [("setRange", 1, 4),
                                                                                  ("setTickCount", 4)]),
    "scroll-decimal": (scroll, [[Decimal("Infinity"), Decimal("NaN"), Decimal("2.5")]],
                       [("setRange", 1, 4), ("setTickCount", 4)]),
    "scroll-tuple-history": (scroll, [(NAN, 2.0, -INF, 3.0)], [("setRange", 1, 4), ("setTickCount", 4)]),
    "scroll-span-overflows": (scroll, [[-1e308, 1e308]], [("setRange", -1e308, 1e308)] + TICK6),
    "scroll-high-end-overflows": (scroll, [[0.0, 1.7e308]], [("setRange", 0.0, 1.7e308)] + TICK6),
    # sync_snapshot_chart: NumPy's min and max, or the extremes of the finite values
    "snap-nan": (snap, [np.array([NAN, 1.0]), np.array([2.0, 4.0])], [("setRange", 0.7, 4.3)]),
    "snap-inf": (snap, [np.array([1.0, INF, 2.0])], [("setRange", 0.9, 2.1)]),
    "snap-minus-inf": (snap, [np.array([-INF, 1.0, 2.0])], [("setRange", 0.9, 2.1)]),
    "snap-float32": (snap, [np.array([1.0, INF, 2.0], dtype=np.float32)], [("setRange", 0.9, 2.1)]),
    "snap-list-frame": (snap, [[1.0, INF, 2.0]], [("setRange", 0.9, 2.1)]),
    "snap-mixed-frames": (snap, [np.array([NAN, INF]), np.array([0.0, 10.0])], [("setRange", -1.0, 11.0)]),
    "snap-all-non-finite": (snap, [np.array([NAN, INF, -INF])], []),
    "snap-span-overflows": (snap, [np.array([-1e308, 1e308])], [("setRange", -1e308, 1e308)]),
}


@pytest.mark.filterwarnings("ignore:overflow encountered:RuntimeWarning")  # NumPy's, on the huge span
@pytest.mark.parametrize("func, values, y_calls", NON_FINITE.values(), ids=NON_FINITE.keys())
def test_non_finite_values_are_left_out_of_the_y_range(func, values, y_calls):
    if func is scroll:
        bufs = [point_buffer([]) for _ in values]
        for buf, history in zip(bufs, values):
            buf.history = history
        args = (10,)
    else:
        bufs = [frame_buffer(frame) for frame in values]
        args = ()
    axX, axY = RecordingAxis(), RecordingAxis()
    func(bufs, axX, axY, *args)
    plain = [(c[0], *[v.item() if isinstance(v, np.generic) else v for v in c[1:]]) for c in axY.calls]
    assert kinds(plain) == approx_calls(kinds(y_calls))
    real = QValueAxis()
    func(bufs, QValueAxis(), real, *args)
    assert axis_state(real) == pytest.approx(replay(y_calls))


def test_stand_in_float64_is_compared_through_its_operators():
    # A numpy whose float64 is a Python float subclass with its own < and > (here: never less,
    # never greater) is no NumPy scalar: its extremes are compared as the operators say, so no
    # frame moves the y range, and the axis keeps its range.
    from support import run_python
    proc = run_python("""
        import numpy
        class Lying(float):
            def __lt__(self, other): return False
            def __gt__(self, other): return False
        numpy.float64 = Lying
        import larkui.plotdeck as p
        from PySide6.QtCharts import QLineSeries, QValueAxis
        class Np:
            min = staticmethod(lambda data: Lying(min(data)))
            max = staticmethod(lambda data: Lying(max(data)))
        p.np = Np
        buf = p.TimeSeriesBuffer(QLineSeries())
        buf.set_data([1.0, 2.0])
        ax, ay = QValueAxis(), QValueAxis()
        ay.setRange(-7.0, 7.0)
        p.sync_snapshot_chart([buf], ax, ay)
        print(ax.min(), ax.max(), ay.min(), ay.max())
    """)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.split() == ["0.0", "2.0", "-7.0", "7.0"]


@pytest.mark.parametrize("func, positions, x_call", [
    (scroll, [INF, 30.0], ("setRange", 21.0, 30.0)),
    (scroll, [INF], ("setRange", 1, 10)),
    (scroll, [NAN, -INF, 5.0], ("setRange", 1, 10)),
    (snap, [INF, 2.0], ("setRange", 2.0, 4.0)),
    (snap, [-INF, NAN], ("setRange", 0, 0)),
    (snap, [Decimal("-Infinity"), 1.0], ("setRange", 1.0, 3.0)),
], ids=["scroll-inf-and-finite", "scroll-only-inf", "scroll-nan-and-minus-inf", "snap-inf-offset",
        "snap-no-finite-offset", "snap-decimal-offset"])
def test_non_finite_x_positions_do_not_move_the_x_range(func, positions, x_call):
    if func is scroll:
        bufs = [point_buffer([(x, 1.0)]) for x in positions]
        args = (10,)
    else:
        bufs = [frame_buffer(np.array([1.0, 2.0])) for _ in positions]
        for buf, offset in zip(bufs, positions):
            buf.last_snapshot_offset = offset
        args = ()
    axX = RecordingAxis()
    func(bufs, axX, RecordingAxis(), *args)
    assert kinds(axX.calls[:1]) == kinds([x_call])


class FloatFloor(float):
    """A number whose floor and ceil are whole floats, not ints."""

    def __floor__(self):
        return float(math.floor(float(self)))

    def __ceil__(self):
        return float(math.ceil(float(self)))


@pytest.mark.parametrize("history, y_calls", [
    ([3, 5], [("setRange", 2, 6), ("setTickCount", 5)]),          # ints stay ints
    ([5, 5.0], [("setRange", 4, 6), ("setTickCount", 3)]),
    ([Fraction(7, 2), 2.0, 4], [("setRange", 1, 5), ("setTickCount", 5)]),
    ((1.0, 40.0), [("setRange", -2.9, 43.9)] + TICK6),                 # a tuple slices to a tuple
    ([1.0, 2, Fraction(1, 3), 0.5, 100], [("setRange", -9.633333333333333, 109.96666666666667)] + TICK6),
    ([10 ** 40, 1.0], [("setRange", 1.0 - 1e39, 1e40 + 1e39)] + TICK6),
    ([FloatFloor(3.2), FloatFloor(9.9)], [("setRange", 2.0, 11.0), ("setTickCount", 10)]),  # the count an int
    ((), []),
], ids=["ints", "int-and-float", "fraction", "tuple", "mixed", "huge-int", "float-floor", "empty-tuple"])
def test_values_of_other_number_types(history, y_calls):
    buf = point_buffer([])
    buf.history = history
    axY = RecordingAxis()
    scroll([buf], RecordingAxis(), axY, 10)
    assert kinds(axY.calls) == approx_calls(kinds(y_calls))


@pytest.mark.parametrize("window_size, x_range, history_used", [
    (10 ** 30, (1, 10 ** 30), [1.0, 2.0, 3.0, 30.0]),
    (-2, (5.0, 2.0), [2.0, 3.0, 30.0]),      # sliced from index 1 onwards, as the host slices [1:]
    (-1, (4.0, 2.0), [1.0, 2.0, 3.0, 30.0]),
    (2, (1.0, 2.0), [2.0, 3.0, 30.0]),
    (10.9, (1, 10), [1.0, 2.0, 3.0, 30.0]),  # truncated to int
    (0, (3.0, 2.0), [30.0]),                 # sliced from -1: the last value only
], ids=["huge", "negative", "minus-one", "small", "float", "zero"])
def test_window_size_of_any_int(window_size, x_range, history_used):
    buf = point_buffer([(1.0, 0.0), (2.0, 0.0)])
    buf.history = [1.0, 2.0, 3.0, 30.0]
    axX, axY, expected = RecordingAxis(), RecordingAxis(), RecordingAxis()
    scroll([buf], axX, axY, window_size)
    assert kinds([axX.calls[0]]) == kinds([("setRange", *x_range)])
    probe = point_buffer([])
    probe.history = history_used
    scroll([probe], RecordingAxis(), expected, 10 ** 6)
    assert kinds(axY.calls) == kinds(expected.calls)


# ---- the plain-number scans against the general comparisons, on the same values ----

RECENT = {
    "floats": [3.2, 9.9, 5.0, 4.1],
    "float-int-float": [5.0, 7, 6.0, 4.5],
    "int-first": [7, 5.0, 6.0, 3],
    "non-finite": [NAN, 2.0, INF, 3.0, -INF],
    "wide": [0.0, 100.0, 50.0],
    "equal-int-and-float": [4, 4.0, 4],
    "beyond-double-precision": [2.0 ** 53, 2 ** 53 + 1],
    "huge-span": [-1e308, 1e308],
    "window-tail": [float(i % 7) for i in range(40)] + [90.0, 2.0],
}


class SubFloat(float):
    pass


class SubInt(int):
    pass


def split_history(values, *kinds):
    """The same values over len(kinds) buffers, each history of its own kind."""
    cut = [len(values) * i // len(kinds) for i in range(len(kinds) + 1)]
    return [kind(values[a:b]) for kind, a, b in zip(kinds, cut, cut[1:])]


@pytest.mark.parametrize("values", RECENT.values(), ids=RECENT.keys())
def test_recent_value_scan_matches_the_general_comparisons(values):
    # Plain floats and ints in exact lists are folded directly; tuples, anything that comes after
    # one, and subclasses of float and int go through the host's comparisons. Every split must
    # give the same calls.
    layouts = [[list(values)], [tuple(values)], split_history(values, tuple, list),
               split_history(values, tuple, tuple), split_history(values, list, list, tuple),
               split_history(values, list, list), [[SubFloat(v) if type(v) is float else SubInt(v) for v in values]]]
    results = []
    for histories in layouts:
        bufs = [point_buffer([]) for _ in histories]
        for buf, history in zip(bufs, histories):
            buf.history = history
        axY = RecordingAxis()
        window = 10 if len(values) < 20 else 3
        scroll(bufs, RecordingAxis(), axY, window)
        results.append(kinds(axY.calls))
    assert results == [results[0]] * len(layouts)
    assert results[0]  # the y axis was set


class Unordered:
    """A value that raises when compared with `op`."""

    def __init__(self, op):
        self.op = op

    def _cmp(self, op, other):
        if op == self.op:
            raise ArithmeticError(op)
        return NotImplemented

    def __eq__(self, other):
        return self._cmp("==", other)

    def __ne__(self, other):
        return self._cmp("!=", other)

    def __lt__(self, other):
        return self._cmp("<", other)

    __hash__ = object.__hash__


@pytest.mark.parametrize("history, exc", [
    ([1j, 2j], TypeError),                           # min() cannot order them either
    ([np.array([1.0, 2.0])], ValueError),            # an array's truth is ambiguous
    ([1.0, Unordered("!=")], ArithmeticError),
    ([1.0, Unordered("==")], ArithmeticError),
    ([Unordered("<"), Unordered("<")], ArithmeticError),
], ids=["complex", "array", "ne", "eq", "lt"])
def test_failing_comparison_of_recent_values_propagates(history, exc):
    buf = point_buffer([(4.0, 1.0)])
    buf.history = history
    axX, axY = RecordingAxis(), RecordingAxis()
    with pytest.raises(exc):
        scroll([buf], axX, axY, 10)
    assert axX.calls[0] == ("setRange", 1, 10) and axY.calls == []


FRAMES = {
    "nan": [NAN, 1.0, 2.0, 5.0],
    "inf-last": [3.0, 1.0, INF],
    "minus-inf-first": [-INF, 4.0, -2.5],
    "all-non-finite": [NAN, INF, -INF],
    "one-finite": [INF, 7.0, NAN],
}


@pytest.mark.parametrize("values", FRAMES.values(), ids=FRAMES.keys())
def test_frame_extremes_numpy_route_matches_the_generic_loop(values):
    # A float array with a non-finite extreme keeps to NumPy (data[np.isfinite(data)]); any other
    # frame goes through the finite values one by one. Both must set the same y range.
    frames = {"float64": np.array(values), "float32": np.array(values, dtype=np.float32),
              "list": list(values), "tuple": tuple(values)}
    if not any(v != v for v in values):  # NumPy's min of objects is not NaN-aware
        frames["object-array"] = np.array(values, dtype=object)
    results = {}
    for name, frame in frames.items():
        axY = RecordingAxis()
        snap([frame_buffer(frame)], RecordingAxis(), axY)
        assert all(c[0] == "setRange" and isinstance(v, (float, np.floating)) for c in axY.calls for v in c[1:])
        results[name] = [float(v) for c in axY.calls for v in c[1:]]
    float32 = results.pop("float32")
    assert all(r == results["float64"] for r in results.values()), results
    assert float32 == pytest.approx(results["float64"])


@pytest.mark.parametrize("frames", [
    [[1.0, 4.0], [-2.0, 3.0], [0.5, 9.0]],
    [[2.0, 2.0], [2.0, 2.0]],
    [[-0.0, 0.0], [0.0, -0.0]],
    [[5.0], [1e300, -1e300], [4.0]],
], ids=["spread", "ties", "signed-zeros", "large"])
def test_snapshot_extremes_compare_alike_whatever_the_value_type(frames):
    # NumPy's float64 extremes are compared as doubles; other values through their operators.
    kinds = {"float64": np.array, "list": list, "fraction": lambda f: [Fraction(v) for v in f]}
    picked = {}
    for kind, make in kinds.items():
        axY = RecordingAxis()
        snap([frame_buffer(make(f)) for f in frames], RecordingAxis(), axY)
        picked[kind] = [float(v) for c in axY.calls for v in c[1:]]
    assert picked["float64"] == picked["list"]
    assert picked["fraction"] == pytest.approx(picked["float64"])


@pytest.mark.parametrize("func, positions, x_call", [
    (scroll, [57], ("setRange", 48, 57)),
    (scroll, [Fraction(115, 2)], ("setRange", Fraction(97, 2), Fraction(115, 2))),
    (scroll, [Decimal("57"), 3.0], ("setRange", Decimal("48"), Decimal("57"))),
    (snap, [3], ("setRange", 3, 5)),
    (snap, [3, 1.5], ("setRange", 1.5, 5)),
    (snap, [Fraction(1, 2)], ("setRange", Fraction(1, 2), Fraction(5, 2))),
    (snap, [Decimal("2.5"), 0], ("setRange", 0, Decimal("4.5"))),
], ids=["scroll-int", "scroll-fraction", "scroll-decimal", "snap-int", "snap-int-and-float", "snap-fraction",
        "snap-decimal-and-int"])
def test_x_positions_of_other_number_types_keep_their_type(func, positions, x_call):
    # Only floats have a shortcut for the finiteness check; other numbers are compared and
    # added as they are, and the x range ends keep their types.
    if func is scroll:
        bufs = [point_buffer([]) for _ in positions]
        for buf, x in zip(bufs, positions):
            buf.last_x = x
        args = (10,)
    else:
        bufs = [frame_buffer(np.array([1.0, 2.0])) for _ in positions]
        for buf, offset in zip(bufs, positions):
            buf.last_snapshot_offset = offset
        args = ()
    axX = RecordingAxis()
    func(bufs, axX, RecordingAxis(), *args)
    assert kinds(axX.calls[:1]) == kinds([x_call])


# ---- what is read, in which order; what happens on errors ----

LOGGED = {"flush", "is_visible", "last_x", "history", "last_snapshot_data", "last_snapshot_offset"}


class LoggingBuffer:
    """A buffer-like object that logs every attribute read."""

    def __init__(self, log, name, visible=True, last_x=0, history=(), data=None, offset=0.0, fail_flush=False):
        d = self.__dict__
        d.update(log=log, name=name, visible=visible, last_x=last_x, history=list(history),
                 last_snapshot_data=data, last_snapshot_offset=offset, fail_flush=fail_flush, flushed=False)

    def __getattribute__(self, attr):
        if attr in LOGGED:
            d = object.__getattribute__(self, "__dict__")
            d["log"].append((d["name"], attr))
        return object.__getattribute__(self, attr)

    @property
    def is_visible(self):
        return self.__dict__["visible"]

    def flush(self):
        if self.__dict__["fail_flush"]:
            raise OSError("flush failed")
        self.__dict__["flushed"] = True
        return False


def test_scrolling_read_order():
    log = []
    bufs = [LoggingBuffer(log, "a", last_x=3.0, history=[1.0]), LoggingBuffer(log, "b", visible=False),
            LoggingBuffer(log, "c", history=[])]
    scroll(bufs, RecordingAxis(), RecordingAxis(), 10)
    assert log == [("a", "flush"), ("a", "last_x"), ("b", "flush"), ("b", "last_x"), ("c", "flush"),
                   ("c", "last_x"), ("a", "is_visible"), ("a", "history"), ("b", "is_visible"),
                   ("c", "is_visible"), ("c", "history")]


def test_snapshot_read_order_and_no_numpy_on_empty_or_fixed(monkeypatch):
    log, reductions = [], []

    class NumpyProbe:
        def min(self, a):
            reductions.append(("min", len(a)))
            return np.min(a)

        def max(self, a):
            reductions.append(("max", len(a)))
            return np.max(a)

    monkeypatch.setattr(plotdeck, "np", NumpyProbe())
    bufs = [LoggingBuffer(log, "a", data=np.arange(3.0)), LoggingBuffer(log, "b", visible=False),
            LoggingBuffer(log, "c", data=None), LoggingBuffer(log, "d", data=np.array([]), offset=9.0)]
    axX = RecordingAxis()
    snap(bufs, axX, RecordingAxis())
    assert log == [("a", "flush"), ("a", "is_visible"), ("a", "last_snapshot_data"), ("a", "last_snapshot_offset"),
                   ("b", "flush"), ("b", "is_visible"), ("c", "flush"), ("c", "is_visible"),
                   ("c", "last_snapshot_data"), ("d", "flush"), ("d", "is_visible"), ("d", "last_snapshot_data"),
                   ("d", "last_snapshot_offset")]
    assert reductions == [("min", 3), ("max", 3)]
    assert axX.calls == [("setRange", 0.0, 9.0)]
    reductions.clear()
    snap(bufs, RecordingAxis(), RecordingAxis(), (0.0, 1.0))
    assert reductions == []


@pytest.mark.parametrize("func, args", [(scroll, (10,)), (snap, ())], ids=["scrolling", "snapshot"])
def test_error_stops_at_once_and_later_buffers_stay_unflushed(func, args):
    log = []
    bufs = [LoggingBuffer(log, "a", data=np.arange(2.0)), LoggingBuffer(log, "b", fail_flush=True),
            LoggingBuffer(log, "c")]
    axX = RecordingAxis()
    with pytest.raises(OSError, match="flush failed"):
        func(bufs, axX, RecordingAxis(), *args)
    assert [b.flushed for b in bufs] == [True, False, False]
    assert axX.calls == []


@pytest.mark.parametrize("func, args", [(scroll, (10,)), (snap, ())], ids=["scrolling", "snapshot"])
def test_non_buffer_in_list_raises_its_own_attribute_error(func, args):
    first = TSB(QLineSeries())
    first.add_point(1.0, 1.0)
    with pytest.raises(AttributeError, match="'int' object has no attribute 'flush'"):
        func([first, 5], QValueAxis(), QValueAxis(), *args)
    assert first.series.count() == 1


@pytest.mark.parametrize("fixed, message", [
    ((1, 2, 3), r"too many values to unpack \(expected 2\)"),
    ((1,), "need more than 1 value to unpack"),
    ((), "need more than 0 values to unpack"),
])
@pytest.mark.parametrize("func, args", [(scroll, (10,)), (snap, ())], ids=["scrolling", "snapshot"])
def test_fixed_y_range_unpacking(func, args, fixed, message):
    buf = TSB(QLineSeries())
    buf.set_data(np.arange(4.0), 1.0) if func is snap else buf.add_point(3.0, 1.0)
    axX, axY = RecordingAxis(), RecordingAxis()
    with pytest.raises(ValueError, match=message):
        func([buf], axX, axY, *args, fixed_y_range=fixed)
    assert buf.series.count() > 0 and axX.calls[0][0] == "setRange" and axY.calls == []


@pytest.mark.parametrize("func, kwargs, expected", [
    (scroll, dict(buffers=(), axX=None, axY=None, window_size=1), "'buffers' .*expected list, got tuple"),
    (scroll, dict(buffers=[], axX=None, axY=None, window_size=None), "'window_size' .*expected int, got NoneType"),
    (scroll, dict(buffers=[], axX=None, axY=None, window_size=1, fixed_y_range=[0, 1]),
     "'fixed_y_range' .*expected tuple, got list"),
    (scroll, dict(buffers=[], axX=None, axY=None, window_size=1, y_tick_cnt="5"),
     "'y_tick_cnt' .*expected int, got str"),
    (snap, dict(buffers=[], axX=None, axY=None, margin_ratio="x"), "must be real number"),
])
def test_bad_arguments_refused_before_anything_runs(func, kwargs, expected):
    with pytest.raises(TypeError, match=expected):
        func(**kwargs)


def test_math_and_np_looked_up_at_each_call(monkeypatch):
    buf = point_buffer([(1.0, 2.0)])
    monkeypatch.delattr(plotdeck, "math")
    with pytest.raises(NameError, match="name 'math' is not defined"):
        scroll([buf], QValueAxis(), QValueAxis(), 10)
    buf.history = [0.0, 100.0]
    scroll([buf], QValueAxis(), QValueAxis(), 10)  # wide span needs no math
    frame = frame_buffer(np.arange(3.0))
    monkeypatch.delattr(plotdeck, "np")
    with pytest.raises(NameError, match="name 'np' is not defined"):
        snap([frame], QValueAxis(), QValueAxis())
    snap([frame], QValueAxis(), QValueAxis(), (0, 1))
    monkeypatch.undo()
    assert plotdeck.math is math and plotdeck.np is np


class NullAxis:
    def setRange(self, lo, hi):
        pass

    def setTickCount(self, n):
        pass

    def tickCount(self):
        return 6


class NullSeries:
    def __init__(self, visible=True):
        self.visible = visible

    def append(self, points):
        pass

    def replace(self, points):
        pass

    def isVisible(self):
        return self.visible

    def setVisible(self, visible):
        pass


def test_no_leaks_on_success_and_error_paths():
    # Python stand-ins for the Qt objects: thousands of calls, and PySide6 on 3.11 loses a
    # reference to None on every call of a Qt method that returns nothing.
    pts, wide, odd = TSB(NullSeries()), TSB(NullSeries()), TSB(NullSeries())
    pts.max_history = 50  # a full history keeps its length
    for i in range(50):
        pts.add_point(float(i), float(i % 7))
    wide.history = [0.0, 100.0]
    odd.history = [NAN, 3, Fraction(1, 2), Decimal("2")]
    frames = [TSB(NullSeries()), TSB(NullSeries()), TSB(NullSeries(visible=False))]
    for buf, frame in zip(frames, [np.arange(20.0), np.array([]), np.arange(3.0)]):
        buf.set_data(frame, 1.0)
    axX, axY = NullAxis(), NullAxis()

    def feed_and_sync():
        pts.add_point(pts.last_x + 1, 3.0)
        scroll([pts, wide, odd], axX, axY, 30)
        scroll([pts], axX, axY, 30, (0.0, 1.0), 0.1, 4)
        scroll([wide], axX, axY, 10 ** 25, None, 0.0, 3, 2)
        frames[0].set_data(np.arange(20.0), 3.0)
        snap(frames, axX, axY)
        snap(frames, axX, axY, (1, 2))

    assert_no_leak(feed_and_sync, rounds=500)
    assert_no_leak(call_swallowing(scroll, [pts, 5], axX, axY, 10), rounds=500)
    assert_no_leak(call_swallowing(scroll, [pts], axX, axY, 10, (1, 2, 3)), rounds=500)
    assert_no_leak(call_swallowing(snap, frames + [None], axX, axY), rounds=500)
    assert_no_leak(call_swallowing(snap, frames, axX, axY, (1,)), rounds=500)
    assert_no_leak(call_swallowing(scroll, (), axX, axY, 10), rounds=500)
