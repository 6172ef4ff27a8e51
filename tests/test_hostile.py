"""Hostile inputs for every public callable: objects that raise, lie or change the buffer or the
module namespace while a call runs, exact-type subclasses, huge ints, NaN and infinities, NumPy
scalars, non-string keyword names, members called on foreign objects, replaced attributes, Qt
objects deleted on the C++ side, and series and axes that re-enter the buffer or the sync.

Most tests are differential: a scenario runs once against larkui and once against the plain
steps of plain_steps.py, each in a world of fresh objects; the outcomes (result, or exception
type and message), the final state, what the recording doubles received in order, and the
reference counts of every object the world made must agree.

Hypothesis draws the scenarios. The default profile, "ci", runs few fixed examples so that the
module stays well under a minute; LARKUI_HYPOTHESIS=long runs many random ones.
"""
import contextlib
import gc
import inspect
import json
import math
import os
import sys
import types
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest
import shiboken6
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st
from PySide6.QtCharts import QChart, QLineSeries, QValueAxis
from PySide6.QtCore import QPointF
from PySide6.QtWidgets import QGridLayout, QLineEdit, QScrollArea, QSizePolicy, QWidget

import larkui.choosers as ch
import larkui.finders as fi
import larkui.plotdeck as pd
import plain_steps as steps
from hostile_world import (DATA, HOOKS, LARK, META, MISSING, TSB, Double, Liar, Plain, StandIn, Stop, StrSub, Stub,
                           Trap, World, _raise, differential, edit, haunt, hostile, kept, make, module_entry, norm,
                           outcome, qt_state, raised, rec_qpointf, stub_module, vectorcall)
from plain_steps import INF
from support import assert_no_leak, run_python

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "benchmarks"))
import baseline_plotdeck  # noqa: E402  (the series factories in plain Python)

_quiet = dict(deadline=None, database=None, suppress_health_check=list(HealthCheck))
settings.register_profile("ci", max_examples=25, derandomize=True, **_quiet)
settings.register_profile("long", max_examples=2000, **_quiet)
settings.load_profile(os.environ.get("LARKUI_HYPOTHESIS", "ci"))

# ---- the buffer ----

NUMS = st.one_of(
    st.floats(width=32),
    st.sampled_from([0, -1, 7, 2 ** 70, -2 ** 200, 2 ** 2000, True, np.float32(2.5), np.int64(-3), np.bool_(True),
                     np.float64("nan"), np.float32("-inf"), 1e308, "1.0", None, 1j]),
    st.sampled_from([("@h", k) for k in ("float-raises", "float-lies", "index-only", "index-huge", "int-lies",
                                         "mutates-buffer", "mutates-module")]))
FRAMES = st.one_of(
    st.tuples(st.just("@nd"), st.sampled_from(["float64", "float32", "int64", "uint8", "bool", "complex128", ">f8"]),
              st.lists(st.floats(width=32), max_size=5)),
    st.tuples(st.just("@list"), st.lists(NUMS, max_size=4)),
    st.sampled_from([("@h", "len-raises"), ("@h", "len-lies"), ("@h", "iter-raises"), ("@h", "iter-lies"), ("@2d",),
                     ("@0d",), "ab", (), None, 5]))
ATTRS = st.sampled_from(["history", "max_history", "_pending_points", "_pending_snapshot", "_pending_snapshot_offset",
                         "last_x", "series", "last_snapshot_data", "last_snapshot_offset"])
ATTR_VALUES = st.sampled_from([None, (), "ab", 2 ** 70, -1, math.nan, ("@nd", "float64", [1.0, 2.0]),
                               ("@h", "cmp-raises"), ("@h", "cmp-lies"), ("@h", "len-raises"), ("@h", "bool-raises"),
                               ("@lying",), ("@points",), ("@other",), ("@plain",), ("@list", [1.0, 2.0])])
MEMBERS = ["__init__", "add_point", "set_data", "flush", "clear", "is_visible"]
FOREIGN_SELVES = [5, None, ("@plain",), ("@bare",), ("@h", "setattr-raises"), ("@h", "getattr-raises")]
OP = st.one_of(
    st.tuples(st.just("add"), NUMS, NUMS), st.tuples(st.just("set"), FRAMES, NUMS),
    st.sampled_from([("flush",)] * 4 + [("clear",), ("visible",), ("wipe",), ("delete",), ("hide",)]),
    st.tuples(st.just("attr"), ATTRS, ATTR_VALUES), st.tuples(st.just("del"), ATTRS),
    st.tuples(st.just("hook"), st.sampled_from(["append", "replace", "clear", "isVisible", "setVisible"]),
              st.sampled_from(list(HOOKS)[:10])),
    st.tuples(st.just("ns"), st.sampled_from([None, "haunt", ("@rec-qpointf",), ("@h", "bool-raises")])),
    st.tuples(st.just("unbound"), st.sampled_from(MEMBERS), st.sampled_from(FOREIGN_SELVES)))


def unbound(w, member, target):
    fn = vars(w.impl.TimeSeriesBuffer)[member]
    if member == "is_visible":
        return fn.fget(target)
    return fn(target, *{"__init__": (w.other,), "add_point": (1.0, 2.0), "set_data": ([1.0],)}.get(member, ()))


OPS = {
    "new": lambda w, mh: setattr(w, "buf", w.keep(w.impl.TimeSeriesBuffer(w.series, make(mh, w)))),
    "add": lambda w, x, y: w.buf.add_point(make(x, w), make(y, w)),
    "set": lambda w, frame, offset: w.buf.set_data(make(frame, w), make(offset, w)),
    "flush": lambda w: w.buf.flush(), "clear": lambda w: w.buf.clear(), "visible": lambda w: w.buf.is_visible,
    "wipe": lambda w: w.buf.__dict__.clear(), "hide": lambda w: w.series.setVisible(False),
    "delete": lambda w: w.series.qt is not None and shiboken6.isValid(w.series.qt) and shiboken6.delete(w.series.qt),
    "attr": lambda w, name, value: setattr(w.buf, name, make(value, w)), "del": lambda w, name: delattr(w.buf, name),
    "hook": lambda w, method, action: w.series.hooks.__setitem__(method, action),
    "ns": lambda w, value: (vars(pd).pop("QPointF") if value is None else haunt(pd, "QPointF") if value == "haunt"
                            else vars(pd).__setitem__("QPointF", make(value, w))),
    "unbound": lambda w, member, target: unbound(w, member, make(target, w)),
}

BUFFER_CASES = {  # series that re-enter the buffer, and a namespace that changes: a flush sees it as it happens
    "replace-sets-new-frame": [("set", ("@list", [1.0, 2.0]), 0.5), ("hook", "replace", "set"), ("flush",), ("flush",)],
    "replace-clears": [("set", ("@list", [1.0]), 0.0), ("hook", "replace", "clear"), ("flush",)],
    "replace-wipes": [("set", ("@list", [1.0]), 0.0), ("hook", "replace", "wipe"), ("flush",)],
    "append-swaps-points": [("add", 1, 5), ("hook", "append", "swap-points"), ("flush",), ("flush",)],
    "append-clears": [("add", 1, 5), ("hook", "append", "clear"), ("flush",)],
    "append-adds": [("add", 1, 5), ("hook", "append", "add"), ("flush",), ("flush",)],
    "isvisible-swaps-series": [("hide",), ("add", 1, 5), ("hook", "isVisible", "swap-series"), ("flush",)],
    "isvisible-lies": [("add", 1, 5), ("hook", "isVisible", "liar"), ("flush",), ("flush",)],
    "haunted-qpointf": [("ns", "haunt"), ("add", 1, 1), ("set", ("@list", [1.0]), 0.0), ("flush",)],
    "empty-frame-without-qpointf": [("ns", None), ("set", (), 0.0), ("flush",), ("set", ("@list", [1.0]), 0.0),
                                    ("flush",)],
    "qpointf-rebound": [("ns", ("@rec-qpointf",)), ("set", ("@nd", "float64", [1.0, math.nan]), 2.0), ("flush",)],
    "float-drops-qpointf": [("add", ("@h", "mutates-module"), 1.0), ("add", 1.0, 2.0)],
    "float-wipes-buffer": [("add", ("@h", "mutates-buffer"), 1.0), ("flush",)],
    "frame-fails-before-series-is-read": [("del", "series"), ("set", ("@h", "iter-raises"), 0.0), ("flush",)],
    "pending-not-a-list-without-qpointf": [("ns", None), ("attr", "_pending_points", None), ("add", 1, 1)],
    "pending-not-subscriptable": [("add", 1, 1), ("attr", "_pending_points", ("@plain",)), ("flush",)],
    "lying-pending": [("attr", "_pending_points", ("@lying",)), ("flush",), ("add", 1, 1), ("flush",)],
    "lying-limit": [("attr", "max_history", ("@h", "cmp-lies")), ("add", 1, 1), ("attr", "max_history", 2 ** 70),
                    ("add", 2, 2)],
    "array-as-history": [("attr", "history", ("@nd", "float64", [1.0, 2.0])), ("add", 1, 1)],
    "deleted-series": [("delete",), ("add", 1, 2), ("flush",), ("clear",), ("visible",), ("set", (), 0.0), ("flush",)],
    "foreign-selves": [("unbound", m, s) for m in MEMBERS for s in FOREIGN_SELVES],
}


def run_buffer(qt, max_history, ops):
    def build(w):
        w.series = w.keep(Double(w, "s", QLineSeries() if qt else None))
        w.other = w.keep(Double(w, "t", QLineSeries() if qt else None))
        w.plain = w.keep(Plain())
        w.buf = w.keep(w.impl.TimeSeriesBuffer(w.series))

    def act(w):
        return [outcome(lambda: OPS[op[0]](w, *op[1:]), w) for op in [("new", max_history)] + ops]

    def state(w):
        return (norm(dict(vars(w.buf)), w), w.log, qt_state(w.series), qt_state(w.other), norm(dict(vars(w.plain)), w),
                sorted((type(k).__name__, str.__str__(k)) for k in vars(pd) if str.startswith(k, "QP")))

    differential(build, act, state)


@pytest.mark.parametrize("qt", [True, False], ids=["qt-twin", "double"])
@pytest.mark.parametrize("ops", BUFFER_CASES.values(), ids=BUFFER_CASES.keys())
def test_buffer_cases(ops, qt):
    run_buffer(qt, 10000, ops)


@given(qt=st.booleans(), max_history=NUMS, ops=st.lists(OP, max_size=12))
def test_buffer_follows_the_plain_steps(qt, max_history, ops):
    run_buffer(qt, max_history, ops)


class SubArray(np.ndarray):
    pass


NUMPY_FRAMES = {
    "float64": np.arange(4.0), "float32": np.float32([0.5, np.nan, np.inf]), "big-endian": np.array([1.5, -2.0], ">f8"),
    "int64-wide": np.array([2 ** 62 + 1, -2 ** 63], np.int64), "uint64-max": np.array([2 ** 64 - 1], np.uint64),
    "strided": np.arange(10.0)[::3], "float16": np.float16([1.5, 65504]), "bool": np.array([True, False]),
    "complex": np.array([1 + 2j]), "2-d": np.ones((2, 2)), "0-d": np.array(1.5), "empty": np.array([]),
    "subclass": np.arange(3.0).view(SubArray), "longdouble": np.array([1.5, 2.5], np.longdouble),
    "object": np.array([1.5, 2 ** 70], dtype=object),
}


@pytest.mark.filterwarnings("ignore::numpy.exceptions.ComplexWarning")
@pytest.mark.parametrize("offset", [0.0, -2.5, 1e300, math.nan])
@pytest.mark.parametrize("frame", NUMPY_FRAMES.values(), ids=NUMPY_FRAMES.keys())
def test_numpy_frames_reach_a_real_series_as_their_points(frame, offset):
    def write(series, do):
        try:
            do()
            return repr([(p.x(), p.y()) for p in series.points()])
        except Exception as e:
            return type(e).__name__, str(e)

    plain = QLineSeries()
    want = write(plain, lambda: plain.replace([QPointF(i + offset, v) for i, v in enumerate(frame)]))
    series = QLineSeries()
    buf = TSB(series)
    buf.set_data(frame, offset)
    assert write(series, buf.flush) == want


SURROUNDINGS = {  # what may change around the flush of an array into a real series
    "qpointf-recorder": lambda w: vars(pd).__setitem__("QPointF", rec_qpointf(w)),
    "qpointf-deleted": lambda w: vars(pd).pop("QPointF"),
    "qpointf-doubles-y": lambda w: vars(pd).__setitem__("QPointF", lambda x, y: QPointF(x, 2 * y)),
    "np-stub": lambda w: vars(pd).__setitem__("np", stub_module("numpy")),
    "numpy-blocked": lambda w: w.stack.enter_context(module_entry("numpy", None)),
    "numpy-stub": lambda w: w.stack.enter_context(module_entry("numpy", stub_module("numpy"))),
    "qtcharts-blocked": lambda w: w.stack.enter_context(module_entry("PySide6.QtCharts", None)),
    "series-deleted": lambda w: shiboken6.delete(w.series),
    "replace-on-instance": lambda w: setattr(w.series, "replace", lambda pts: w.log.append(("replace", norm(pts, w)))),
}


@pytest.mark.parametrize("frame", [np.arange(3.0) * 1.5, np.array([]), np.int64([4, 5])], ids=["float", "empty", "int"])
@pytest.mark.parametrize("change", SURROUNDINGS.values(), ids=SURROUNDINGS.keys())
def test_array_flush_follows_the_namespace(change, frame):
    def build(w):
        w.series = w.keep(QLineSeries())
        w.buf = w.keep(w.impl.TimeSeriesBuffer(w.series))
        w.buf.set_data(w.keep(frame.copy()), 0.5)

    def act(w):
        with contextlib.ExitStack() as w.stack:
            change(w)
            return outcome(w.buf.flush, w)

    differential(build, act, lambda w: (w.log, norm(dict(vars(w.buf)), w), shiboken6.isValid(w.series)
                                        and [(p.x(), p.y()) for p in w.series.points()]))


# ---- the synchronisers ----

Y = st.floats(width=32) | st.sampled_from([2 ** 70, -2 ** 200, np.float32(2.5), np.int64(-3), True, 1e300])
SYNC_FRAMES = st.one_of(
    st.tuples(st.just("@nd"), st.just("float64"), st.lists(st.floats(width=32), max_size=5)),
    st.tuples(st.just("@nd"), st.sampled_from(["float32", "int64", "bool"]),
              st.lists(st.floats(-1e6, 1e6), max_size=5)),
    st.tuples(st.just("@list"), st.lists(st.floats(width=32), max_size=4)),
    st.sampled_from([(), ("@h", "len-raises"), ("@2d",)]))
BUFFER_ATTRS = st.sampled_from([
    ("history", ("@list", [1.0, 2 ** 70, np.float32(3.0), -2 ** 200])), ("history", ("@nd", "float64", [1.0, 20.0])),
    ("history", ()), ("history", ("@list", [("@h", "cmp-raises")])), ("history", ("@list", [("@h", "cmp-lies")])),
    ("history", ("@list", [Fraction(1, 3), Decimal("20.5"), Decimal("NaN")])), ("last_x", 2 ** 70),
    ("last_x", -2 ** 200), ("last_x", np.float64("nan")), ("last_x", ("@h", "cmp-raises")),
    ("last_x", ("@h", "cmp-lies")), ("last_x", ("@nd", "float64", [1.0, 2.0])), ("last_x", "ab"),
    ("last_snapshot_data", ("@h", "len-raises")), ("last_snapshot_data", 5), ("last_snapshot_offset", "ab"),
    ("last_snapshot_offset", 2 ** 70), ("last_snapshot_offset", np.int64(5)), ("last_snapshot_offset", math.nan)])
SYNC = st.fixed_dictionaries({
    "snapshot": st.booleans(), "qt": st.booleans(), "attr": st.none() | BUFFER_ATTRS, "deleted": st.booleans(),
    "hooks": st.dictionaries(
        st.sampled_from(["axX.setRange", "axY.setRange", "axX.tickCount", "axY.tickCount", "axY.setTickCount",
                         "s0.append", "s0.replace", "s0.isVisible", "s1.isVisible"]),
        st.sampled_from(["raise", "clear", "set", "grow", "shrink", "reenter", "six", "text", "cmp", "falsy", "liar"]),
        max_size=3),
    "bufs": st.lists(st.tuples(st.booleans(), st.lists(Y, max_size=4), SYNC_FRAMES, st.booleans(),
                               st.floats(allow_infinity=False)), max_size=3),
    "foreign": st.sampled_from([None, None, None, ("@plain",), 0, "again"]),
    "ns": st.sampled_from([None, None, "math", "np", "haunt-math", "haunt-np"]),
    "window": st.integers(-3, 40) | st.sampled_from([2 ** 70, -2 ** 200, np.int64(10), 10.7, True, ("@h", "index-only"),
                                                    ("@h", "int-lies"), "10", None]),
    "fixed": st.none() | st.tuples(st.floats(width=32), st.floats(width=32))
    | st.sampled_from([(1,), (1, 2, 3), (), (("@h", "cmp-raises"), 2.0), [1, 2]]),
    "margin": st.floats(width=32) | st.sampled_from([np.float32(0.5), ("@h", "float-raises"), "0.1"]),
    "tick": st.none() | st.integers(-2, 12) | st.sampled_from([np.int64(3), 2 ** 70]),
    "pad": st.integers(-3, 3) | st.sampled_from([2 ** 70, True, np.int64(2)]),
})
CALM = dict(snapshot=False, qt=True, hooks={}, attr=None, bufs=[], foreign=None, ns=None, deleted=False, window=10,
            fixed=None, margin=0.1, tick=None, pad=1)


def run_sync(sc):
    def build(w):
        w.sync = w.impl.snapshot if sc["snapshot"] else w.impl.scrolling
        w.axX, w.axY = (w.keep(Double(w, tag, QValueAxis() if sc["qt"] else None)) for tag in ("axX", "axY"))
        w.other, w.plain, w.buffers, w.all = w.keep(Double(w, "t")), w.keep(Plain()), w.keep([]), []
        for i, (frame_mode, ys, frame, visible, offset) in enumerate(sc["bufs"]):
            b = w.keep(w.impl.TimeSeriesBuffer(w.keep(Double(w, f"s{i}", QLineSeries() if sc["qt"] else None))))
            for j, y in enumerate(ys):
                b.add_point(j + 1, y)
            if frame_mode:
                b.set_data(make(frame, w), offset)
            b.series.setVisible(visible)
            w.buffers.append(b)
            w.all.append(b)
        w.buf = w.all[0] if w.all else None
        if sc["attr"] and w.all:
            setattr(w.buf, sc["attr"][0], make(sc["attr"][1], w))
        if sc["foreign"] is not None:
            w.buffers.append(w.buf if sc["foreign"] == "again" else make(sc["foreign"], w))
        if sc["ns"] and sc["ns"].startswith("haunt-"):
            haunt(pd, sc["ns"][len("haunt-"):])
        elif sc["ns"]:
            del vars(pd)[sc["ns"]]
        for where, action in sc["hooks"].items():
            tag, method = where.split(".")
            series = [b.series for b in w.all] + [w.other] * 2
            double = {"axX": w.axX, "axY": w.axY}.get(tag) or series[min(int(tag[1:] or 0), len(w.all))]
            double.hooks[method] = action
        if sc["deleted"] and sc["qt"]:
            shiboken6.delete(w.axY.qt)
        w.args = tuple(make(sc[n], w) for n in (("fixed", "margin") if sc["snapshot"] else
                                                ("window", "fixed", "margin", "tick", "pad")))

    def state(w):
        return (w.log, [norm(dict(vars(b)), w) for b in w.all], [qt_state(d) for d in (w.axX, w.axY)],
                [qt_state(b.series) for b in w.all])

    differential(build, lambda w: outcome(lambda: w.sync(w.buffers, w.axX, w.axY, *w.args), w), state)


def points(*ys, visible=True):
    return False, list(ys), (), visible, 0.0


def frame(values, offset=0.0):
    return True, [], ("@list", values), True, offset


SYNC_CASES = {  # the y extremes take only finite values, in both synchronisers; re-entry and lies
    "scrolling-inf-left-out": dict(bufs=[points(1.0, INF, 3.0), points(-INF, 2.0)]),
    "scrolling-only-inf": dict(bufs=[points(INF, -INF, math.nan)]),
    "scrolling-leading-nan": dict(bufs=[points(math.nan, 1.0, 40.0)], margin=0.5),
    "snapshot-nan-frame": dict(snapshot=True, bufs=[frame([1.0, math.nan, 3.0]), frame([2.0, 4.0], 1.0)]),
    "snapshot-inf-frame": dict(snapshot=True, bufs=[frame([1.0, INF]), frame([-INF, 5.0, 2.0])]),
    "snapshot-no-finite-value": dict(snapshot=True, bufs=[frame([math.nan, INF]), frame([])]),
    "snapshot-empty-frame": dict(snapshot=True, bufs=[frame([]), frame([3.0], 2.0)]),
    "reentrant-axes": dict(bufs=[points(1.0, 2.0)], hooks={"axX.setRange": "reenter", "axY.setRange": "grow"}),
    "buffers-shrink-in-flush": dict(bufs=[points(1.0), points(50.0)], hooks={"s0.isVisible": "shrink"}),
    "buffers-grow-in-flush": dict(snapshot=True, bufs=[frame([1.0])], hooks={"s0.isVisible": "grow"}),
    "lying-tick-counts": dict(window=30, fixed=(0.0, 1.0), hooks={"axX.tickCount": "six", "axY.tickCount": "cmp"}),
    "huge-window": dict(window=2 ** 70, bufs=[points(1.0, 5.0)], pad=-2 ** 200),
    "deleted-axis": dict(bufs=[points(1.0)], deleted=True),
    "foreign-element": dict(bufs=[points(1.0)], foreign=("@plain",)),
    "buffer-twice": dict(snapshot=True, bufs=[frame([1.0, 2.0])], foreign="again"),
    "math-deleted": dict(bufs=[points(1.0, 2.0)], ns="math"),
    "np-haunted": dict(snapshot=True, bufs=[frame([1.0, 2.0])], ns="haunt-np"),
}


@pytest.mark.parametrize("case", SYNC_CASES.values(), ids=SYNC_CASES.keys())
def test_sync_cases(case):
    run_sync({**CALM, **case})


@given(sc=SYNC)
def test_sync_follows_the_plain_steps(sc):
    run_sync(sc)


# ---- the choosers and the lookup ----

MEMORIES = [MISSING, "", "   ", str(DATA / "sub"), ("@path", str(DATA)), 5, None, ("@strsub", "x"), ("@strsub", ""),
            ("@h", "str-empty"), b"x", ("@fspath", str(DATA))]
CHOOSER = st.fixed_dictionaries({
    "call": st.sampled_from(["pick_folder", "pick_file", "collect", "get_start_dir", "set_last_dir"]),
    "holder": st.sampled_from([None, ("@h", "getattr-raises"), ("@h", "getattr-stops"), ("@h", "setattr-raises"),
                               ("@h", "setattr-stops")] + [("@holder", m) for m in MEMORIES]),
    "answer": st.sampled_from(["", str(DATA / "sub"), ("@strsub", str(DATA)), ("@h", "bool-raises"),
                               ("@path", str(DATA)), (str(DATA / "f.txt"), "All"), ("", ""), ("a", "b", "c"),
                               [str(DATA / "f.txt")], ("@gen", [str(DATA / "f.txt")]), ("@gen", ["x", "y", "z"]),
                               (("@h", "bool-raises"), "All"), ("@exc", "ValueError", "dialog"), 5]),
    "edit": st.sampled_from([None, ("@deleted-edit",), ("@edit-none",), ("@edit-raises",)]
                            + [("@edit", t) for t in ("", "   ", f"  {DATA}  ", str(DATA / "f.txt"), "nowhere/x")]),
    "found": st.sampled_from([(["f1"], ["b1"]), ([], []), ("@gen", [["f"], ["b"]]), ("@gen", [1, 2, 3]), (1, 2, 3), [1],
                              (("@h", "bool-raises"), ["b"]), ("@exc", "OSError", "disk"), ("@unprintable",),
                              ("@exc", "Stop", "stop"), 5]),
    "out": st.sampled_from(["OUT", 5, ("@exc", "ValueError", "out")]),
    "box": st.sampled_from([None, None, ("@exc", "ValueError", "box"), ("@exc", "Stop", "stop")]),
    "flag": st.sampled_from([False, True, 0, "x", None, ("@h", "bool-raises"), np.bool_(True)]),
    "attr": st.sampled_from(["_last_dir", "other"]), "filters": st.sampled_from([[], ["*.txt"]]),
    "path": st.sampled_from([str(DATA), None, 5, ("@fspath", 7), ("@fspath", None), ("@strsub", "x")]),
})


def test_pickers_when_the_working_directory_is_gone(monkeypatch):
    gone = DATA / "gone"
    gone.mkdir()
    monkeypatch.chdir(gone)
    gone.rmdir()
    for call in ("pick_folder", "pick_file"):
        def build(w):
            vars(ch).update(QFileDialog=Stub(w, "dialog", {"getExistingDirectory": "", "getOpenFileName": ("", "")}))

        differential(build, lambda w: outcome(lambda: getattr(w.impl, call)(None, last_dir_obj=w.keep(Plain())), w),
                     lambda w: w.log)


@given(sc=CHOOSER)
def test_choosers_follow_the_plain_steps(sc):
    def build(w):
        vars(ch).update(
            QFileDialog=Stub(w, "dialog", {"getExistingDirectory": sc["answer"], "getOpenFileName": sc["answer"]}),
            QMessageBox=Stub(w, "box", {"warning": sc["box"], "critical": sc["box"]}),
            filedesk=Stub(w, "desk", {"find_files_with_extensions": sc["found"], "generate_output_path": sc["out"]}))
        w.holder, w.parent, w.fallback = make(sc["holder"], w), w.keep(QWidget()), w.keep(Plain())
        w.edit, w.flag, w.filters = make(sc["edit"], w), make(sc["flag"], w), w.keep(list(sc["filters"]))

    def act(w):
        i, memory = w.impl, dict(last_dir_obj=w.holder, last_dir_attr=sc["attr"], return_pathlib=w.flag)
        return outcome({
            "pick_folder": lambda: i.pick_folder(w.parent, line_edit=w.edit, **memory),
            "pick_file": lambda: i.pick_file(w.parent, line_edit=w.edit, name_filter="*.txt", **memory),
            "collect": lambda: i.collect(w.parent, w.edit or edit(w, str(DATA)), "out", w.filters, w.flag),
            "get_start_dir": lambda: i.get_start_dir(w.holder, sc["attr"], w.fallback),
            "set_last_dir": lambda: i.set_last_dir(w.holder, sc["attr"], make(sc["path"], w)),
        }[sc["call"]], w)

    def state(w):
        memory = vars(w.holder) if type(w.holder).__name__ == "Holder" else None
        text = w.edit.text() if isinstance(w.edit, QLineEdit) and shiboken6.isValid(w.edit) else None
        return w.log, norm(memory, w), text, norm(w.filters, w)

    differential(build, act, state)


@given(sc=st.fixed_dictionaries({
    "parent": st.sampled_from([("@tree",), ("@deleted-tree",), ("@h", "getattr-raises"), 5]
                              + [("@finder", c) for c in (("@qedit",), None, 5, ("@h", "cmp-raises"))]),
    "wtype": st.sampled_from([QLineEdit, QWidget, fi.QObject, (QLineEdit, QWidget), 5] + [("@meta", k) for k in META]),
    "name": st.sampled_from(["edit", "absent", "", "it's", "\udc80", "名稱"])}))
def test_lookup_follows_the_plain_steps(sc):
    def build(w):
        w.parent, w.wtype = make(sc["parent"], w), make(sc["wtype"], w)

    differential(build, lambda w: outcome(lambda: w.impl.find(w.parent, w.wtype, sc["name"]), w), lambda w: w.log)


# ---- argument binding of every callable ----

CONVERSIONS = {
    pd.build_sample_value_chart: dict(host_name=str, y_title=str, x_title=str, show_legend=bool, antialias=bool,
                                      minimal_viewport=bool, return_view=bool),
    pd.make_scatter: dict(name=str, size=float, stroke_w=float), pd.make_line: dict(name=str, width=float),
    pd.add_line_to_chart: dict(name=str, width=float),
    pd.wrap_hosts_in_scroll: dict(cols=int, root_margins=tuple, grid_margins=tuple, grid_hgap=int, grid_vgap=int,
                                  min_cell_size=tuple),
    pd.wrap_dynamic_charts_into_tabs: dict(layout_config=dict, cols=int, root_margins=tuple, min_cell_size=tuple),
    pd.sync_scrolling_chart: dict(buffers=list, window_size=int, fixed_y_range=(tuple,), margin_ratio=float,
                                  y_tick_cnt=(int,), small_span_padding=int),
    pd.sync_snapshot_chart: dict(buffers=list, fixed_y_range=(tuple,), margin_ratio=float),
    vars(TSB)["__init__"]: dict(max_history=int), vars(TSB)["add_point"]: dict(x=float, y=float),
    vars(TSB)["set_data"]: dict(x_offset=float), vars(TSB)["flush"]: {}, vars(TSB)["clear"]: {},
    TSB.is_visible.fget: {}, ch._get_start_dir: dict(attr=str), ch._set_last_dir: dict(attr=str),
    ch.pick_folder_path: dict(title=str, last_dir_attr=str, return_pathlib=bool),
    ch.pick_file_path: dict(title=str, name_filter=str, last_dir_attr=str, return_pathlib=bool),
    ch.collect_files_from_lineEdit: dict(out_dir_name=str, name_filter=list, sort_datecode=bool),
    fi.find_child_safe: dict(name=str),
}
POOL = st.sampled_from([("@trap",), 0, 2.5, "s", ("@strsub", "s"), None, (), [], {}, ("@h", "bool-raises"),
                        ("@h", "float-raises"), ("@h", "index-only"), ("@h", "int-lies"), ("@h", "float-lies"),
                        np.float64(1.5), np.str_("s"), 2 ** 70, -2 ** 200, True, b"x", 1j, math.nan])


@settings(max_examples=settings().max_examples * 20)  # cheap: no Qt work, and twenty callables to cover
@given(data=st.data())
def test_binding_of_every_callable(data):
    fn = data.draw(st.sampled_from(list(CONVERSIONS)), "callable")
    names = list(inspect.signature(fn).parameters)
    args = data.draw(st.lists(POOL, max_size=len(names) + 1), "args")
    keys = data.draw(st.lists(st.sampled_from(names + ["bogus", 1, b"x", ("@strsub", names[-1])]), max_size=4), "keys")
    values = data.draw(st.lists(POOL, min_size=len(keys), max_size=len(keys)), "values")
    with kept(ch, pd):
        w = World(LARK)
        vars(ch).update(QFileDialog=Trap(), QMessageBox=Trap(), filedesk=Trap())  # a bound body fails at once
        call = [[make(a, w) for a in args], [make(k, w) for k in keys], [make(v, w) for v in values]]
        want = outcome(lambda: steps.bind(fn, CONVERSIONS[fn], *call), w)
        got = outcome(lambda: vectorcall(fn, *call), w)
    if want[0] == "raise":
        assert got == want
    else:  # bound: whatever the body does, the call was not refused
        assert not (got[1] == "TypeError" and got[2].startswith((fn.__name__ + "() ", "Argument '"))), got


@pytest.mark.parametrize("name, shown_count, shown_keyword", [
    ("renamed", "renamed", "renamed"),
    ("n" * 300, "n" * 200, "n" * 300),  # the count message cuts the name at 200 bytes, the others do not
    ("%s%n%%", "%s%n%%", "%s%n%%"),
    (StrSub("shown"), "shown", "shown"),  # the name's own text, not its __str__
])
def test_binding_messages_name_the_renamed_function(name, shown_count, shown_keyword):
    f, old = fi.find_child_safe, fi.find_child_safe.__name__
    try:
        f.__name__ = name
        for call, text in [
                (lambda: f(1), f"{shown_count}() takes exactly 3 positional arguments (1 given)"),
                (lambda: f(1, 2, "a", bogus=1), f"{shown_keyword}() got an unexpected keyword argument 'bogus'"),
                (lambda: f(1, 2, "a", name="b"), f"{shown_keyword}() got multiple values for keyword argument 'name'"),
                (lambda: vectorcall(f, (1, 2, "a"), (5,), (1,)), f"{shown_count}() keywords must be strings")]:
            with pytest.raises(TypeError) as info:
                call()
            assert str(info.value) == text and info.value.__context__ is None
    finally:
        f.__name__ = old


def test_unencodable_function_name_in_binding_messages():
    # A lone surrogate has no UTF-8 form: the messages still name the function, and nothing crashes.
    r = run_python("""
        import ctypes, json
        from larkui.finders import find_child_safe as f
        api = ctypes.pythonapi.PyObject_Vectorcall
        api.restype = ctypes.py_object
        api.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object]
        stack = (ctypes.py_object * 4)(1, 2, "a", 4)
        f.__name__ = "\\udc80"
        for call in (lambda: f(1), lambda: f(1, 2, "a", bogus=1), lambda: f(1, 2, "a", name="b"),
                     lambda: api(f, ctypes.cast(stack, ctypes.c_void_p), 3, (5,))):
            try:
                call()
            except TypeError as e:
                print(json.dumps([str(e), e.__context__ is None]), flush=True)
    """)
    tails = ["() takes exactly 3 positional arguments (1 given)", "() got an unexpected keyword argument 'bogus'",
             "() got multiple values for keyword argument 'name'", "() keywords must be strings"]
    got = [json.loads(line) for line in r.stdout.splitlines()]
    assert r.returncode == 0 and len(got) == 4, (r.returncode, got, r.stderr[-2000:])
    for (text, clean), tail in zip(got, tails):
        assert text.endswith(tail) and text[:-len(tail)] in ("\udc80", "\\udc80", "\ufffd", "?") and clean, text


# ---- chart, series factories and host layouts ----

class Names:
    """A tab's host names: there are none, and asking for their number runs a change of the map."""

    def __init__(self, cfg, change=None):
        self.cfg, self.change = cfg, change

    def __len__(self):
        action, key = self.change or ("", "")
        if action in ("del", "swap"):
            self.cfg.pop(key, None)
        if action in ("add", "swap", "set"):
            self.cfg[key + "+" * (action != "set")] = Names(self.cfg)
        return 0

    def __iter__(self):
        return iter(())


@given(keys=st.lists(st.sampled_from("abcd"), unique=True, max_size=4),
       changes=st.dictionaries(st.sampled_from("abcd"), st.tuples(st.sampled_from(["del", "add", "swap", "set"]),
                                                                  st.sampled_from("abcd")), max_size=2))
@example(keys=["a", "b"], changes={"a": ("swap", "a")})
@example(keys=["a", "b", "c"], changes={"b": ("swap", "c")})
def test_tabs_visit_the_map_as_its_items_iterate(keys, changes):
    def config():
        cfg = {}
        cfg.update((k, Names(cfg, changes.get(k))) for k in keys)
        return cfg

    visited, want = [], None
    try:
        for tab_name, names in config().items():
            len(names)
            visited.append(tab_name)
    except RuntimeError as e:
        want = ("RuntimeError", str(e))
    root = QWidget()
    assert raised(lambda: pd.wrap_dynamic_charts_into_tabs(root, config())) == want
    tabs = root.layout().itemAt(0).widget()
    assert [tabs.tabText(i) for i in range(tabs.count())] == visited


class Root(QWidget):
    def __init__(self, hosts):
        super().__init__()
        self.hosts = hosts

    def findChild(self, widget_type, name):
        return self.hosts[name] if name in self.hosts else super().findChild(widget_type, name)


def test_tabs_serve_stand_ins_through_their_documented_methods():
    host, page = StandIn("setMinimumSize", "setSizePolicy"), QWidget()
    me = QSizePolicy.Policy.MinimumExpanding
    assert raised(lambda: pd.wrap_dynamic_charts_into_tabs(Root({"h": host}), {"T": ["h"]})) \
        == raised(lambda: QGridLayout(page).addWidget(host, 0, 0))
    assert host.calls == [("setMinimumSize", 500, 350), ("setSizePolicy", me, me)]
    lay = StandIn("setContentsMargins", "addWidget", count=lambda: 0)
    root = StandIn("findChild", layout=lambda: lay)
    hosts = pd.wrap_dynamic_charts_into_tabs(root, {"T": ["a", "b"]}, cols=2 ** 70, root_margins=(1, 2, 3, 4))
    assert [c[0] for c in root.calls] == ["layout", "findChild", "findChild"] and all(type(h) is QWidget for h in
                                                                                      hosts.values())
    (_, margins, (_, tabs)) = lay.calls
    grid = tabs.widget(0).widget().layout()
    assert margins == ("setContentsMargins", 1, 2, 3, 4) and tabs.tabText(0) == "T"
    assert [grid.getItemPosition(grid.indexOf(hosts[n]))[:2] for n in "ab"] == [(0, 0), (0, 1)]


def test_widgets_deleted_while_the_names_are_walked():
    root, dead = QWidget(), QWidget()
    QWidget(root).setObjectName("first")
    shiboken6.delete(dead)

    def names(victim):
        yield "first"
        shiboken6.delete(victim)
        yield "second"
    tab_names = type("TabNames", (), {"__len__": lambda s: 2, "__iter__": lambda s: names(root)})()
    assert raised(lambda: pd.wrap_dynamic_charts_into_tabs(root, {"T": tab_names})) \
        == raised(lambda: dead.findChild(QWidget, "second"))
    root = QWidget()
    host = QWidget(root)
    host.setObjectName("first")
    QWidget(root).setObjectName("second")
    got = raised(lambda: pd.wrap_hosts_in_scroll(root, names(host)))
    assert got[0] == "RuntimeError" and "already deleted" in got[1]
    assert root.layout().count() == 1 and type(root.layout().itemAt(0).widget()) is QScrollArea


class ClaimsInt:
    __class__ = property(lambda self: int)


class ClassRaises:
    __class__ = property(_raise("class"))


class Heights(dict):
    def __init__(self, value):
        super().__init__()
        self.value = value

    def get(self, key, default=None):
        return _raise("get")(None) if self.value == "raise" else self.value


@pytest.mark.filterwarnings("ignore:libshiboken")
@pytest.mark.parametrize("heights, want", [
    (ClaimsInt(), ("TypeError", "Expected int, got ClaimsInt")), (ClassRaises(), ("ValueError", "class")),
    (Heights("raise"), ("ValueError", "get")), (Heights("120"), ("TypeError", "Expected int, got str")),
    (Heights(np.int64(120)), 120), (Heights(120.7), 120), (True, 1), (Heights(None), None), (2 ** 70, "as Qt takes it"),
], ids=["claims-int", "class-raises", "get-raises", "text", "numpy-int", "float", "bool", "none", "huge"])
def test_hostile_fixed_heights(heights, want):
    if want == "as Qt takes it":
        want = raised(lambda: QWidget().setMinimumHeight(heights)) or heights
    root = QWidget()
    h = QWidget(root)
    h.setObjectName("h")
    got = raised(lambda: pd.wrap_hosts_in_scroll(root, ["h"], host_heights=heights, min_cell_size=(10, 20)))
    if isinstance(want, tuple):
        assert got == want
    else:
        fixed = (20, 16777215) if want is None else (want, want)  # no fixed height: the cell minimum, no maximum
        assert got is None and (h.minimumHeight(), h.maximumHeight()) == fixed


ROW, COLUMN = [(0, 0), (0, 1), (0, 2)], [(0, 0), (1, 0), (2, 0)]


@pytest.mark.parametrize("cols, cells, tab_cells", [
    (2 ** 70, ROW, ROW), (-2 ** 200, COLUMN, COLUMN), (np.int64(2), [(0, 0), (0, 1), (1, 0)], [(0, 0), (1, 0), (0, 1)]),
    (2.9, [(0, 0), (0, 1), (1, 0)], [(0, 0), (1, 0), (0, 1)])])
def test_huge_and_foreign_column_counts(cols, cells, tab_cells):
    root = QWidget()
    for n in "abc":
        QWidget(root).setObjectName(n)
    grid = pd.wrap_hosts_in_scroll(root, "abc", cols=cols).widget().layout()
    assert [grid.getItemPosition(grid.indexOf(root.findChild(QWidget, n)))[:2] for n in "abc"] == cells
    hosts = pd.wrap_dynamic_charts_into_tabs(root, {"T": list("abc")}, cols=cols)
    grid = hosts["a"].parentWidget().layout()
    assert [grid.getItemPosition(grid.indexOf(hosts[n]))[:2] for n in "abc"] == tab_cells


@pytest.mark.filterwarnings("ignore:libshiboken")
@pytest.mark.parametrize("size", [(np.int64(300), 200), (2 ** 70, 1), (1.5, 1), (True, "x")])
def test_cell_sizes_reach_qt_as_given(size):
    root = QWidget()
    QWidget(root).setObjectName("h")
    want = raised(lambda: (QWidget().setMinimumWidth(size[0]), QWidget().setMinimumHeight(size[1])))
    assert raised(lambda: pd.wrap_hosts_in_scroll(root, ["h"], min_cell_size=size)) == want
    want = raised(lambda: QWidget().setMinimumSize(*size))
    assert raised(lambda: pd.wrap_dynamic_charts_into_tabs(QWidget(), {"T": ["h"]}, min_cell_size=size)) == want


def test_chart_in_hostile_hosts():
    root = QWidget()
    shiboken6.delete(root)
    assert raised(lambda: pd.build_sample_value_chart(root, "h")) == raised(lambda: root.findChild(QWidget, "h"))
    lay = StandIn("addWidget")
    host = StandIn(layout=lambda: lay)
    chart, axX, axY = pd.build_sample_value_chart(StandIn(findChild=lambda *a: host), "h")
    assert host.calls == [("layout",), ("layout",)] and len(lay.calls) == 1
    assert lay.calls[0][1].chart() is chart and chart.axes() == [axX, axY]
    host = StandIn("setLayout", layout=lambda: None)
    assert raised(lambda: pd.build_sample_value_chart(StandIn(findChild=lambda *a: host), "h")) \
        == raised(lambda: pd.QVBoxLayout(host))
    assert host.calls == [("layout",)]


FACTORY_CASES = {
    "text-subclass-colour": lambda f, c, x, y: f.make_line(c, "n", StrSub("#ff0000")),
    "hostile-colour": lambda f, c, x, y: f.make_line(c, "n", Liar()),
    "numpy-colour": lambda f, c, x, y: f.make_scatter(c, "n", np.float32(3), np.str_("red"), "blue", 1),
    "style-int": lambda f, c, x, y: f.make_line(c, "n", "red", np.float64(1.5), 3),
    "style-huge": lambda f, c, x, y: f.make_line(c, "n", "red", 1, 2 ** 70),
    "style-text": lambda f, c, x, y: f.add_line_to_chart(c, x, y, "n", "red", 1, "dash"),
    "width-nan": lambda f, c, x, y: f.make_scatter(c, "n", math.nan, "red", "blue", INF),
    "deleted-chart": lambda f, c, x, y: (shiboken6.delete(c), f.make_line(c, "n", "red")),
    "deleted-axis": lambda f, c, x, y: (shiboken6.delete(y), f.add_line_to_chart(c, x, y, "n", "red")),
    "foreign-axis": lambda f, c, x, y: f.add_line_to_chart(c, x, Plain(), "n", "red"),
}


@pytest.mark.parametrize("case", FACTORY_CASES.values(), ids=FACTORY_CASES.keys())
def test_factories_follow_the_plain_steps(case):
    def run(factories):
        chart, x, y = QChart(), QValueAxis(), QValueAxis()
        chart.addAxis(x, pd.Qt.AlignBottom)
        chart.addAxis(y, pd.Qt.AlignLeft)
        result = raised(lambda: case(factories, chart, x, y))
        return result, shiboken6.isValid(chart) and [
            (type(s).__name__, s.name(), s.pen().color().name(), s.pen().widthF(), s.pen().style(),
             len(s.attachedAxes())) for s in chart.series()]

    assert run(pd) == run(baseline_plotdeck)


# ---- no reference and no memory kept on hostile paths ----

def hostile_paths():
    w = World(LARK)
    series, frame_buf = Double(w, "s"), TSB(Double(w, "t"))
    frame, lies, buf, point_buf = hostile("iter-raises", w), hostile("float-lies", w), TSB(series), TSB(series)
    buf.set_data(frame)
    finder, name_raises, name = types.SimpleNamespace(findChild=lambda *a: None), make(("@meta", "name-raises"), w), "n"
    line, filters, parent = edit(w, str(DATA)), [], QWidget()
    desk = Stub(w, "desk", {"find_files_with_extensions": ("@exc", "OSError", "disk")})
    boxes, axis, buffers = Stub(w, "box", {"critical": None}), Double(w, "axX"), [frame_buf]
    values, root, cfg = [Plain(), Plain(), "".join("ab"), Plain()], QWidget(), {}

    def collect():
        with kept(ch):
            vars(ch).update(filedesk=desk, QMessageBox=boxes)
            ch.collect_files_from_lineEdit(parent, line, "out", filters)

    def sync():
        frame_buf.set_data(np.arange(3.0))
        axis.hooks["setRange"] = "raise"
        pd.sync_snapshot_chart(buffers, axis, axis)

    def tabs():
        cfg.clear()
        cfg.update(a=Names(cfg, ("swap", "a")), b=Names(cfg))
        pd.wrap_dynamic_charts_into_tabs(root, cfg)

    def run(fn):
        def quietly():
            try:
                fn()
            except (Exception, Stop):
                pass
            w.log.clear()  # what the doubles recorded is the test's own
        return quietly

    return {
        "flush-of-a-failing-frame": (run(buf.flush), frame, buf, series),
        "float-conversion-lies": (run(lambda: point_buf.add_point(lies, 1.0)), lies, point_buf),
        "int-conversion-lies": (run(lambda: TSB(series, lies)), lies, series),
        "lookup-name-raises": (run(lambda: fi.find_child_safe(finder, name_raises, name)), finder, name_raises, name),
        "collect-library-raises": (run(collect), line, filters, parent, desk),
        "bad-keyword-from-c": (run(lambda: vectorcall(fi.find_child_safe, values[:3], (5,), values[3:])), *values),
        "sync-axis-raises": (run(sync), buffers, frame_buf, axis),
        "tabs-keys-changed": (run(tabs), root, cfg),
    }


@pytest.mark.parametrize("name", [
    "flush-of-a-failing-frame", "float-conversion-lies", "int-conversion-lies", "lookup-name-raises",
    "collect-library-raises", "bad-keyword-from-c", "sync-axis-raises", "tabs-keys-changed"])
def test_hostile_paths_keep_no_reference(name):
    fn, *objs = hostile_paths()[name]
    for _ in range(3):
        fn()
    gc.collect()
    before = [sys.getrefcount(o) for o in objs]
    for _ in range(40):
        fn()
    gc.collect()
    assert [sys.getrefcount(o) for o in objs] == before


@pytest.mark.parametrize("name", ["flush-of-a-failing-frame", "bad-keyword-from-c", "collect-library-raises"])
def test_hostile_paths_keep_no_memory(name):
    assert_no_leak(hostile_paths()[name][0], warmup=100, rounds=1000)


# ---- larkui.streaming ----
# StreamBuffer has no plain steps of its own to follow; a small model of what it promises (the
# newest `window` samples written oldest first, gaps for non-finite ones, min/max buckets over a
# display budget, `history` the newest `max_history` y values as given) stands in for them.

import larkui.streaming as stm  # noqa: E402


def _drawable(x, y):
    return math.isfinite(x) and math.isfinite(y)


def _gap(x, y):
    return (x, y) if _drawable(x, y) else (x if math.isfinite(x) else math.nan, math.nan)


class StreamModel:
    """The newest samples in a store of max(window + spare, history) of them; buckets of
    ceil(window / (budget // 2)) samples at multiples of that length of the absolute index, from the
    bucket of the window's oldest sample (as far as the store holds it) to the newest."""

    def __init__(self, window, budget, max_history):
        self.window, self.budget = window, budget
        self.max_history = max(window, 10000) if max_history is None else max(0, max_history)
        if not budget or window <= budget:
            spare = 1
        else:
            spare = -(-window // (budget // 2))
        self.capacity = max(window + spare, self.max_history)
        self.samples, self.added, self.dirty, self.last_x, self.writes = [], 0, False, 0, []

    def add(self, xs, ys):
        if len(xs) != len(ys):
            raise ValueError
        self.samples = (self.samples + [(float(x), float(y)) for x, y in zip(xs, ys)])[-self.capacity:]
        self.added += len(xs)
        self.dirty = self.dirty or bool(xs)

    def flush(self):
        if not self.dirty:
            return False
        n = min(len(self.samples), self.window)
        if self.budget and n > self.budget:
            length = -(-self.window // (self.budget // 2))
            oldest_held = self.added - len(self.samples)
            first = max((self.added - n) // length * length, oldest_held)
            out, start = [], first
            while start < self.added:
                end = min((start // length + 1) * length, self.added)
                part = range(start, end)
                win = {i: self.samples[i - oldest_held] for i in part}
                good = [i for i in part if _drawable(*win[i])]
                picked = set()
                if good:
                    picked |= {min(good, key=lambda i: (win[i][1], i)), max(good, key=lambda i: (win[i][1], -i))}
                picked |= set([i for i in part if not _drawable(*win[i])][:1])
                out += [_gap(*win[i]) for i in sorted(picked)]
                start = end
        else:
            out = [_gap(*p) for p in self.samples[len(self.samples) - n:]]
        self.writes.append(out)
        self.last_x, self.dirty = self.samples[-1][0], False
        return True

    def clear(self):
        self.samples, self.dirty, self.last_x = [], False, 0

    def history(self):
        return [y for _, y in self.samples[-self.max_history:]] if self.max_history else []


class StreamRecorder:
    def __init__(self):
        self.writes = []

    def replace(self, points):
        self.writes.append([(p.x(), p.y()) for p in points])

    def clear(self):
        pass

    def isVisible(self):
        return True

    def setVisible(self, v):
        pass


VALUES = st.one_of(st.floats(), st.sampled_from([0, -1, 2 ** 53 + 1, True, np.float32(2.5), np.int64(-3)]))
STREAM_OPS = st.lists(st.one_of(
    st.tuples(st.just("point"), VALUES, VALUES),
    st.tuples(st.just("block"), st.lists(st.floats(), max_size=9), st.lists(st.floats(), max_size=9)),
    st.tuples(st.just("flush")), st.tuples(st.just("clear"))), max_size=20)


@given(window=st.integers(1, 7), budget=st.sampled_from([None, 2, 3, 4]),
       max_history=st.one_of(st.none(), st.integers(-2, 9)),
       ops=STREAM_OPS, genuine=st.booleans())
def test_stream_buffer_follows_its_model(window, budget, max_history, ops, genuine):
    series = QLineSeries() if genuine else StreamRecorder()
    buf = stm.StreamBuffer(series, window, display_budget=budget, max_history=max_history)
    model = StreamModel(window, budget, max_history)
    written = []
    for op in ops:
        if op[0] == "point":
            buf.add_point(op[1], op[2])
            model.add([op[1]], [op[2]])
        elif op[0] == "block":
            with pytest.raises(ValueError) if len(op[1]) != len(op[2]) else contextlib.nullcontext():
                buf.add_points(op[1], op[2])
            with contextlib.suppress(ValueError):
                model.add(op[1], op[2])
        elif op[0] == "flush":
            wrote = model.flush()
            assert buf.flush() is wrote
            if genuine and wrote:
                written.append([(p.x(), p.y()) for p in series.points()])
        else:
            buf.clear()
            model.clear()
    assert repr(list(buf.history)) == repr(model.history())
    assert repr(buf.last_x) == repr(model.last_x)
    assert repr(written if genuine else series.writes) == repr(model.writes)


def _fail(exc):
    raise exc


class Converts:
    """A number whose conversion does something to the buffer first, or fails."""

    def __init__(self, action, value=1.0):
        self.action, self.value, self.buf = action, value, None

    def __float__(self):
        self.action(self.buf)
        return self.value

    def __array__(self, dtype=None, copy=None):
        self.action(self.buf)
        return np.array([self.value], dtype=dtype)


@pytest.mark.parametrize("action, history", [
    (lambda b: b.clear(), [1.0]),
    (lambda b: b.__init__(StreamRecorder(), 2), [1.0]),
    (lambda b: b.add_points([5.0], [5.0]), [0.0, 5.0, 1.0]),
    (lambda b: _fail(ZeroDivisionError("no number")), None),
    (lambda b: shiboken6.delete(b.series) if isinstance(b.series, QLineSeries) else None, [0.0, 1.0]),
], ids=["clears", "starts-afresh", "adds", "raises", "deletes-the-series"])
@pytest.mark.parametrize("entry", ["add_point", "add_points"])
def test_stream_conversions_that_act_on_the_buffer(action, history, entry):
    buf = stm.StreamBuffer(QLineSeries(), 5)
    buf.add_point(0.0, 0.0)
    value = Converts(action)
    value.buf = buf
    call = (lambda: buf.add_point(1.0, value)) if entry == "add_point" else (lambda: buf.add_points([1.0], value))
    if history is None:
        with pytest.raises(ZeroDivisionError):
            call()
        assert list(buf.history) == [0.0]
        return
    call()
    assert list(buf.history) == history
    with contextlib.suppress(RuntimeError):  # a series deleted on the C++ side
        buf.flush()


@pytest.mark.parametrize("self_", [None, 1, object(), QLineSeries(), pd.TimeSeriesBuffer(QLineSeries())])
def test_stream_members_on_foreign_objects_keep_no_reference(self_):
    def refused(rounds):
        for _ in range(rounds):
            for member, args in (("add_point", (1, 2)), ("add_points", ([1], [2])), ("flush", ()), ("clear", ())):
                with pytest.raises(TypeError):
                    getattr(stm.StreamBuffer, member)(self_, *args)

    refused(1)  # the first refusals fill the interpreter's caches
    before = sys.getrefcount(self_)
    refused(100)
    delta = sys.getrefcount(self_) - before
    if self_ is None or self_ == 1:
        # shared with the whole interpreter (before 3.12 they are counted), whose own use moves the
        # count a little; one reference kept per refused call would move it by 400
        assert abs(delta) < 100
    else:
        assert delta == 0


def test_stream_hostile_paths_keep_no_memory():
    buf = stm.StreamBuffer(StreamRecorder(), 16, display_budget=4, max_history=16)
    bad = Converts(lambda b: _fail(ValueError("bad")))

    def run():
        for call in (lambda: buf.add_point(1.0, bad), lambda: buf.add_points([1.0], bad),
                     lambda: buf.add_points([1.0, 2.0], [1.0]), lambda: buf.add_points(np.ones((2, 2)), np.ones(4))):
            with contextlib.suppress(ValueError):
                call()
        buf.add_points([1.0, math.nan], [math.inf, 2.0])
        buf.flush()
        buf.series.writes.clear()
        buf.history[:]

    assert_no_leak(run, rounds=500)


# ---- sync_stream_chart under fire: slots that re-enter, conversions that act, deleted objects

class Chart:
    """Three lines of one real chart (not shown: the sync works on any chart) and their buffers."""

    def __init__(self, budget="auto"):
        self.chart = QChart()
        self.axX, self.axY = QValueAxis(), QValueAxis()
        self.chart.addAxis(self.axX, pd.Qt.AlignBottom)
        self.chart.addAxis(self.axY, pd.Qt.AlignLeft)
        self.series = []
        for _ in range(3):
            s = QLineSeries()
            self.chart.addSeries(s)
            s.attachAxis(self.axX)
            s.attachAxis(self.axY)
            self.series.append(s)
        self.bufs = [stm.StreamBuffer(s, 50, display_budget=budget) for s in self.series]
        self.feed(0)

    def feed(self, start):
        for k, b in enumerate(self.bufs):
            b.add_points(np.arange(start, start + 20.0), (np.arange(20.0) + start) * (k + 1))

    def sync(self, bufs=None):
        stm.sync_stream_chart(self.bufs if bufs is None else bufs, self.axX, self.axY, 50)


def _reenter(c, what, armed):
    def act(*_):
        if not armed:
            return
        armed.pop()
        if what == "add":
            c.feed(1000)
        elif what == "clear":
            for b in c.bufs:
                b.clear()
        elif what == "init-again":
            for b in c.bufs:
                b.__init__(b.series, 3, display_budget=2)
        elif what == "recurse":
            c.sync()
        elif what == "mutate-list":
            c.bufs.clear()
            c.bufs.append("junk")
        elif what == "delete-series":
            shiboken6.delete(c.series[2])
        elif what == "hide":
            c.series[1].setVisible(False)
        elif what == "del-series-attr":
            del c.bufs[2].series
    return act


REENTRY = ["add", "clear", "init-again", "recurse", "mutate-list", "delete-series", "hide", "del-series-attr"]


@pytest.mark.parametrize("signal", ["pointsReplaced", "pointsRemoved", "x-range", "y-range"])
@pytest.mark.parametrize("what", REENTRY)
def test_sync_stream_chart_with_slots_that_reenter(what, signal):
    c = Chart()
    c.sync()
    c.feed(60)  # both axes move: every line is emptied, then written
    armed = [True]
    act = _reenter(c, what, armed)
    if signal in ("x-range", "y-range"):
        (c.axX if signal == "x-range" else c.axY).rangeChanged.connect(act)
    else:
        getattr(c.series[0], signal).connect(act)
    bufs = list(c.bufs)
    try:
        c.sync(bufs)
    except (RuntimeError, AttributeError) as exc:  # a series deleted, or its buffer's attribute
        assert what in ("delete-series", "del-series-attr"), exc
    for b, s in zip(bufs, c.series):
        if shiboken6.isValid(s):
            assert s.count() <= 3 * (50 + 2)  # never more than the (first) window
    assert not armed, "the slot never ran"
    # The buffers are in a sound state: they take samples and write again.
    good = [b for b, s in zip(bufs, c.series) if shiboken6.isValid(s) and hasattr(b, "series")]
    for b in good:
        b.add_point(5000.0, 1.0)
    stm.sync_stream_chart(good, c.axX, c.axY, 50)


class Acts:
    """A number whose float conversion does something first."""

    def __init__(self, action, value):
        self.action, self.value = action, value

    def __float__(self):
        self.action()
        return self.value


@pytest.mark.parametrize("where", ["window", "margin_ratio", "fixed_y_range"])
@pytest.mark.parametrize("action", ["nothing", "raises", "clears", "reinits", "appends-junk", "empties-list"])
def test_sync_stream_chart_conversions_that_act(where, action):
    c = Chart()
    bufs = list(c.bufs)
    do = {"nothing": lambda: None, "raises": lambda: _fail(ZeroDivisionError("no number")),
          "clears": lambda: [b.clear() for b in c.bufs],
          "reinits": lambda: [b.__init__(b.series, 5) for b in c.bufs],
          "appends-junk": lambda: bufs.append(3),
          "empties-list": bufs.clear}[action]
    value = Acts(do, 50.0 if where == "window" else 0.1)
    kwargs = {"fixed_y_range": (Acts(do, -1.0), 1.0)} if where == "fixed_y_range" else {}
    if where == "margin_ratio":
        kwargs["margin_ratio"] = value
    window = value if where == "window" else 50
    before = (c.axX.min(), c.axX.max())
    if action == "raises":
        with pytest.raises(ZeroDivisionError):
            stm.sync_stream_chart(bufs, c.axX, c.axY, window, **kwargs)
        assert (c.axX.min(), c.axX.max()) == before and all(s.count() == 0 for s in c.series)
    elif action == "appends-junk":
        with pytest.raises(TypeError, match=r"buffers\[3\] is a int"):
            stm.sync_stream_chart(bufs, c.axX, c.axY, window, **kwargs)
    else:
        stm.sync_stream_chart(bufs, c.axX, c.axY, window, **kwargs)
        # Conversions run before anything else: the buffers and the list are taken as they left them.
        assert [s.count() for s in c.series] == [20 if action == "nothing" else 0] * 3


@pytest.mark.parametrize("victim", ["series", "axis"])
def test_sync_stream_chart_with_objects_deleted_on_the_cpp_side(victim):
    c = Chart()
    shiboken6.delete(c.series[1] if victim == "series" else c.axY)
    with pytest.raises(RuntimeError, match="already deleted"):
        c.sync()


def test_sync_stream_chart_with_a_series_whose_isvisible_reenters():
    class Sneaky(QLineSeries):
        def isVisible(self):
            self.buf.__init__(StreamRecorder(), 2)  # the buffer's store is made anew mid-call
            return True

    c = Chart()
    sneaky = Sneaky()
    sneaky.buf = stm.StreamBuffer(sneaky, 100)
    sneaky.buf.add_points(np.arange(80.0), np.arange(80.0))
    stm.sync_stream_chart([sneaky.buf, *c.bufs], c.axX, c.axY, 50)
    assert sneaky.buf.window == 2 and isinstance(sneaky.buf.series, StreamRecorder)


def test_sync_stream_chart_keeps_no_memory_or_references():
    c = Chart(budget=8)
    recorder = stm.StreamBuffer(StreamRecorder(), 10)
    junk_window = Acts(lambda: None, math.nan)
    objs = [*c.bufs, recorder, c.axX, c.axY, *c.series]

    def run():
        c.feed(0)
        recorder.add_point(1.0, 2.0)
        c.sync([*c.bufs, recorder])
        recorder.series.writes.clear()
        for bad in ((c.bufs, junk_window), ([c.bufs[0], 5], 50), ((c.bufs[0],), 50, (3, 1))):
            with contextlib.suppress(ValueError, TypeError):
                stm.sync_stream_chart(bad[0], c.axX, c.axY, bad[1], fixed_y_range=bad[2] if len(bad) > 2 else None)

    run()
    before = [sys.getrefcount(o) for o in objs]
    for _ in range(50):
        run()
    assert [sys.getrefcount(o) for o in objs] == before
    assert_no_leak(run, rounds=300)
