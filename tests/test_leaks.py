"""No call, successful or failing, may keep memory or references behind."""
import ctypes
import sys

import pytest
import shiboken6
from PySide6.QtWidgets import QLineEdit, QWidget

import larkui.finders as finders
import larkui.plotdeck as plotdeck
import larkui.streaming as streaming
from support import allocated_growth, call_swallowing

find = finders.find_child_safe
build = plotdeck.build_sample_value_chart


def fresh(text):
    """A str made at run time, so that its reference count is its own."""
    return "".join(list(text))


class Tiny:
    def __init__(self, child=None):
        self.child = child

    def findChild(self, widget_type, name):
        return self.child


class Raising:
    def findChild(self, widget_type, name):
        raise LookupError(name)


class Checker:
    def __init__(self, verdict):
        self.verdict = verdict

    def __instancecheck__(self, obj):
        if self.verdict is None:
            raise KeyError("check")
        return self.verdict


class BadTruth:
    def __bool__(self):
        raise ValueError("no truth")


class StrChild(str):
    pass


def non_string_keyword():
    api = ctypes.pythonapi.PyObject_Vectorcall
    api.restype = ctypes.py_object
    api.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object]
    stack = (ctypes.py_object * 4)(1, 2, "a", 4)
    pointer = ctypes.cast(stack, ctypes.c_void_p)
    kwnames = (5,)
    return lambda: api(find, pointer, 3, kwnames)


def with_window(fn):
    """Runs fn(root) on a fresh widget tree and destroys the tree afterwards."""
    def run():
        root = QWidget()
        QWidget(root).setObjectName("host")
        QLineEdit(root).setObjectName("edit")
        try:
            fn(root)
        except Exception:
            pass
        shiboken6.delete(root)
    return run


def without_global(name, fn):
    def run():
        saved = getattr(plotdeck, name)
        delattr(plotdeck, name)
        try:
            fn()
        except Exception:
            pass
        finally:
            setattr(plotdeck, name, saved)
    return run


def raising_axis():
    raise RuntimeError("axis failed")


def with_axis(factory, fn):
    def run():
        saved = plotdeck.QValueAxis
        plotdeck.QValueAxis = factory
        try:
            fn()
        finally:
            plotdeck.QValueAxis = saved
    return run


def stream_chart():
    """A chart with two streaming lines, one of them fed on every call, and its axes."""
    from PySide6.QtCharts import QChart, QLineSeries, QValueAxis
    from PySide6.QtCore import Qt

    chart, ax, ay = QChart(), QValueAxis(), QValueAxis()
    chart.addAxis(ax, Qt.AlignmentFlag.AlignBottom)
    chart.addAxis(ay, Qt.AlignmentFlag.AlignLeft)
    bufs = []
    for budget in ("auto", 16):
        s = QLineSeries()
        chart.addSeries(s)
        s.attachAxis(ax)
        s.attachAxis(ay)
        bufs.append(streaming.StreamBuffer(s, 64, display_budget=budget))
    gone = streaming.StreamBuffer(QLineSeries(), 8)
    shiboken6.delete(gone.series)
    state = {"x": 0.0}

    def fed():
        state["x"] += 1.0
        for b in bufs:
            b.add_points([state["x"], state["x"] + 0.5], [state["x"], -state["x"]])
        return bufs

    return chart, ax, ay, fed, gone


_stream = []


def on_stream(fn):
    """fn(chart, axX, axY, fed, gone) on one chart made at the first call (a QApplication exists then)."""
    def run():
        if not _stream:
            _stream.append(stream_chart())
        fn(*_stream[0])
    return run


SYNC = streaming.sync_stream_chart

PATHS = {
    "stream-sync-ok": on_stream(lambda c, ax, ay, fed, gone: SYNC(fed(), ax, ay, 40.0)),
    "stream-sync-fixed": on_stream(lambda c, ax, ay, fed, gone: SYNC(tuple(fed()), ax, ay, 40, fixed_y_range=[0, 9])),
    "stream-flush-auto": on_stream(lambda c, ax, ay, fed, gone: fed()[0].flush()),
    "stream-sync-bad-window": on_stream(lambda c, ax, ay, fed, gone: call_swallowing(SYNC, [], ax, ay, float("nan"))()),
    "stream-sync-bad-range": on_stream(
        lambda c, ax, ay, fed, gone: call_swallowing(SYNC, [], ax, ay, 5, fixed_y_range=(2, 1))()),
    "stream-sync-bad-element": on_stream(lambda c, ax, ay, fed, gone: call_swallowing(SYNC, [fed()[0], 1], ax, ay, 5)()),
    "stream-sync-deleted-series": on_stream(lambda c, ax, ay, fed, gone: call_swallowing(SYNC, [gone], ax, ay, 5)()),

    "find-ok": lambda: find(Tiny(Tiny()), Tiny, "x"),
    "find-real": with_window(lambda root: find(root, QLineEdit, "edit")),
    "find-too-few": call_swallowing(find, 1, 2),
    "find-too-many": call_swallowing(find, 1, 2, "a", 4),
    "find-missing-kw": call_swallowing(find, 1, name="a"),
    "find-unexpected": call_swallowing(find, 1, 2, "a", x=1),
    "find-duplicate": call_swallowing(find, 1, 2, "a", name="b"),
    "find-non-str-keyword": call_swallowing(non_string_keyword()),
    "find-none-name": call_swallowing(find, 1, 2, None),
    "find-subclass-name": call_swallowing(find, 1, 2, StrChild("a")),
    "find-no-findChild": call_swallowing(find, object(), Tiny, "a"),
    "find-lookup-raises": call_swallowing(find, Raising(), Tiny, "a"),
    "find-check-raises": call_swallowing(find, Tiny(), Checker(None), "a"),
    "find-not-found": call_swallowing(find, Tiny(), Tiny, "a"),
    "find-wrong-class": call_swallowing(find, Tiny(object()), Tiny, "a"),
    "find-no-type-name": call_swallowing(find, Tiny(), Checker(False), "a"),
    "build-ok": with_window(lambda root: build(root, "host", return_view=True)),
    "build-too-many": call_swallowing(build, 1, "h", "t"),
    "build-unexpected": call_swallowing(build, 1, "h", zz=1),
    "build-duplicate": call_swallowing(build, 1, "h", host_name="h"),
    "build-bad-title": call_swallowing(build, 1, "h", y_title=StrChild("t")),
    "build-bad-truth": call_swallowing(build, 1, "h", antialias=BadTruth()),
    "build-no-host": with_window(lambda root: build(root, "absent")),
    "build-no-findChild": call_swallowing(build, object(), "h"),
    "build-name-error": with_window(lambda root: without_global("QChart", lambda: build(root, "host"))()),
    "build-qt-step-fails": with_window(lambda root: with_axis(raising_axis, lambda: build(root, "host"))()),
}


@pytest.mark.parametrize("fn", PATHS.values(), ids=PATHS.keys())
def test_no_memory_growth(fn):
    # Qt and shiboken grow caches of their own now and then; a leak of ours shows in every round.
    growths = []
    for _ in range(5):
        growths.append(allocated_growth(fn, warmup=100, rounds=1000))
        if growths[-1] <= 40:
            return
    pytest.fail(f"blocks still allocated after 1000 calls, every time: {growths}")


def refcounts(objects):
    return [sys.getrefcount(o) for o in objects]


def test_find_child_safe_keeps_no_references():
    child = Tiny()
    parent = Tiny(child)
    widget_type = type("Widget", (), {})
    name = fresh("child_name")
    objects = [child, parent, widget_type, name]
    before = refcounts(objects)
    for _ in range(200):
        find(parent, Tiny, name)                             # found
        call_swallowing(find, parent, widget_type, name)()   # wrong class
        call_swallowing(find, Tiny(), widget_type, name)()   # not found
        call_swallowing(find, parent, widget_type, name, name)()
        call_swallowing(find, parent, widget_type, name=name, parent=parent)()
        call_swallowing(find, parent, widget_type, StrChild(name))()
        call_swallowing(find, Raising(), widget_type, name)()
    assert refcounts(objects) == before


def test_build_sample_value_chart_keeps_no_references():
    root = QWidget()
    QWidget(root).setObjectName("host")
    host_name, missing = fresh("host"), fresh("missing")
    y_title, x_title = fresh("Volts"), fresh("Samples")
    legend, antialias, minimal, view = [1], (2,), {3: 4}, fresh("yes")
    objects = [root, host_name, missing, y_title, x_title, legend, antialias, minimal, view]
    before = refcounts(objects)
    for _ in range(20):
        build(root, host_name, y_title=y_title, x_title=x_title, show_legend=legend, antialias=antialias,
              minimal_viewport=minimal, return_view=view)
        call_swallowing(build, root, missing, y_title=y_title, x_title=x_title, show_legend=legend)()
        call_swallowing(build, root, host_name, y_title=y_title, x_title=StrChild("x"), antialias=antialias)()
        call_swallowing(build, root, host_name, y_title, x_title)()
        call_swallowing(build, root, host_name, y_title=y_title, extra=x_title)()
    assert refcounts(objects) == before
    shiboken6.delete(root)
