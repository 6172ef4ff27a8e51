"""Pause and resume on Qt Graphs graphs: the LiveView that sync_stream_chart attaches to a graph
(a QGraphsView in a QQuickWidget), offscreen with the software renderer. A paused graph keeps its
points and ranges while the buffers take every sample; resume writes the newest window; linked
graphs (and a graph linked with a chart) pause together; Space on the graph's widget toggles."""
import gc
import weakref

import numpy as np
import PySide6
import pytest
import shiboken6
from PySide6.QtCore import QCoreApplication, QEvent, Qt
from PySide6.QtQuick import QQuickItem
from PySide6.QtTest import QTest
from PySide6.QtWidgets import QVBoxLayout, QWidget

import larkui.graphs as graphs
import larkui.streaming as streaming
from larkui.plotdeck import add_line_to_chart, build_sample_value_chart
from support import assert_no_leak
from test_graphs import frame

# Whatever a slot of the LiveView reports fails the test.
pytestmark = pytest.mark.filterwarnings("error::pytest.PytestUnraisableExceptionWarning")

SB, sync = streaming.StreamBuffer, streaming.sync_stream_chart
WINDOW = 1000
DETACHED = "this LiveView is no longer attached to a chart"


def wave(start, count):
    x = np.arange(start, start + count, dtype=np.float64)
    return x, 10 * np.sin(x / 50) + np.cos(x / 7)


class Graph:
    """A shown graph with `lines` line series and a StreamBuffer each."""

    def __init__(self, lines=1, max_history=None):
        self.root = QWidget()
        self.root.resize(640, 420)
        QVBoxLayout(self.root).addWidget(QWidget(objectName="host"))
        self.view, self.axX, self.axY, self.widget = graphs.build_sample_value_graph(self.root, "host",
                                                                                     return_widget=True)
        self.series = [graphs.add_line_to_graph(self.view, self.axX, self.axY, f"s{i}", "#d62728")
                       for i in range(lines)]
        self.bufs = [SB(s, WINDOW, max_history=max_history) for s in self.series]
        self.added = 0
        self.root.show()
        frame(self.widget)

    def run(self, count, step=250):
        for _ in range(count // step):
            for b in self.bufs:
                b.add_points(*wave(self.added, step))
            self.added += step
            self.tick()

    def tick(self):
        sync(self.bufs, self.axX, self.axY, WINDOW)

    @property
    def live(self):
        return streaming.live_view(self.view)

    def state(self):
        """What the graph shows: every series' points and both ranges."""
        return ([np.array([(p.x(), p.y()) for p in s.points()]) for s in self.series],
                (self.axX.min(), self.axX.max(), self.axY.min(), self.axY.max()))

    def marker(self):
        return self.view.findChild(QQuickItem, "larkui_paused_marker")


class Chart:
    """A Qt Charts chart shown in a view, for linking with graphs."""

    def __init__(self):
        self.root = QWidget()
        self.root.resize(640, 420)
        QVBoxLayout(self.root).addWidget(QWidget(objectName="host"))
        self.chart, self.axX, self.axY, self.view = build_sample_value_chart(self.root, "host", return_view=True)
        self.series = [add_line_to_chart(self.chart, self.axX, self.axY, "c", "#1f77b4")]
        self.bufs = [SB(self.series[0], WINDOW)]
        self.added = 0
        self.root.show()
        QCoreApplication.processEvents()

    run, tick = Graph.run, Graph.tick
    state = Graph.state

    @property
    def live(self):
        return streaming.live_view(self.chart)


def same(a, b):
    (pa, ra), (pb, rb) = a, b
    return ra == rb and len(pa) == len(pb) and all(x.shape == y.shape and np.array_equal(x, y, equal_nan=True)
                                                   for x, y in zip(pa, pb))


@pytest.fixture
def made(qapp):
    roots = []

    def make(kind=Graph, **kwargs):
        roots.append(kind(**kwargs))
        return roots[-1]

    yield make
    for m in roots:
        if shiboken6.isValid(m.root):
            shiboken6.delete(m.root)


# ---- what live_view takes

@pytest.mark.parametrize("target", ["view", "widget"])
def test_the_graph_and_its_widget_give_the_one_live_view_the_sync_made(made, target):
    g = made()
    g.run(500)
    found = g.view.findChildren(streaming.LiveView)
    assert len(found) == 1
    live = streaming.live_view({"view": g.view, "widget": g.widget}[target])
    assert live is found[0] and live.chart is g.view and live.view is g.widget
    assert live.readout is None and live.linked == (live,) and not live.is_paused


def test_live_view_before_the_first_sync_is_the_one_the_sync_uses(made):
    g = made()
    live = streaming.live_view(g.widget)
    g.run(500)
    assert g.view.findChildren(streaming.LiveView) == [live]


@pytest.mark.parametrize("target", ["axis", "series", "empty widget"])
def test_live_view_refuses_what_is_no_graph(made, target):
    g = made()
    g.run(500)
    from PySide6.QtQuickWidgets import QQuickWidget
    obj = {"axis": g.axX, "series": g.series[0], "empty widget": QQuickWidget()}[target]
    with pytest.raises(TypeError, match="live_view takes a QChart, a QChartView or a LiveView"):
        streaming.live_view(obj)


# ---- pause and resume

@pytest.mark.parametrize("how", ["call", "toggle", "space"])
def test_a_paused_graph_keeps_its_points_and_ranges_while_the_buffers_grow(made, how):
    g, twin = made(lines=2), made(lines=2)  # the twin stays live: what resume must show
    for m in (g, twin):
        m.run(3000)
    events = []
    g.live.paused.connect(lambda: events.append("paused"))
    g.live.resumed.connect(lambda: events.append("resumed"))
    act = {"call": lambda: g.live.pause() if not g.live.is_paused else g.live.resume(),
           "toggle": lambda: g.live.toggle(),
           "space": lambda: QTest.keyClick(g.widget, Qt.Key_Space)}[how]
    act()
    assert g.live.is_paused and events == ["paused"]
    before, held = g.state(), [len(b.history) for b in g.bufs]
    for m in (g, twin):
        m.run(4000)
    frame(g.widget)
    assert same(g.state(), before)
    assert [len(b.history) for b in g.bufs] == [h + 4000 for h in held]
    assert g.bufs[0].last_x == 2999.0 and twin.bufs[0].last_x == 6999.0
    act()
    assert not g.live.is_paused and events == ["paused", "resumed"]
    assert g.bufs[0].last_x == 6999.0 and same(g.state(), twin.state())
    g.run(250)
    twin.run(250)
    assert same(g.state(), twin.state())


def test_the_paused_marker_shows_where_the_graph_stopped(made):
    g = made()
    g.run(2000)
    marker = g.marker()
    assert marker is not None and not marker.isVisible()
    g.live.pause()
    frame(g.widget)
    area = g.view.property("plotArea")
    assert marker.isVisible() and marker.property("text") == "paused at x = 1999"
    assert area.left() <= marker.x() and marker.x() + marker.width() <= area.right() + 0.5
    assert area.top() <= marker.y() and marker.y() + marker.height() <= area.bottom()
    g.live.resume()
    assert not marker.isVisible()


def test_pause_and_resume_twice_change_nothing_more(made):
    g = made()
    g.run(1500)
    events = []
    g.live.paused.connect(lambda: events.append("p"))
    g.live.resumed.connect(lambda: events.append("r"))
    g.live.pause()
    g.live.pause()
    g.live.resume()
    g.live.resume()
    assert events == ["p", "r"]


def test_space_with_a_modifier_or_held_down_does_not_toggle(made):
    g = made()
    g.run(1000)
    QTest.keyClick(g.widget, Qt.Key_Space, Qt.ControlModifier)
    assert not g.live.is_paused
    QTest.keyPress(g.widget, Qt.Key_Space)
    assert g.live.is_paused


def test_a_paused_graph_shows_a_stored_range_when_asked(made):
    g = made(max_history=10_000)
    g.run(5000)
    g.live.pause()
    g.live.set_x_range(1000.0, 3000.0)
    assert (g.axX.min(), g.axX.max()) == (1000.0, 3000.0) == g.live.x_range
    xs = np.array([p.x() for p in g.series[0].points()])
    # The decimated view reaches one sample past each edge, so that its lines meet the plot's sides.
    assert 990.0 <= xs.min() <= 1000.0 and 3000.0 <= xs.max() <= 3010.0 and len(xs) > 100
    g.live.show_all()
    assert g.axX.min() == 0.0 and g.axX.max() == 4999.0
    g.live.resume()
    assert (g.axX.min(), g.axX.max()) == (3999.0, 4999.0)


# ---- linking

@pytest.mark.parametrize("other_kind", [Graph, Chart])
def test_linked_graphs_and_charts_pause_and_resume_together(made, other_kind):
    g, o = made(), made(other_kind)
    g.run(2000)
    o.run(2000)
    g.live.link_x(o.live)
    assert set(g.live.linked) == {g.live, o.live}
    o.live.pause()
    assert g.live.is_paused and o.live.is_paused
    before = g.state(), o.state()
    g.run(1000)
    o.run(1000)
    assert same(g.state(), before[0]) and same(o.state(), before[1])
    QTest.keyClick(g.widget, Qt.Key_Space)
    assert not g.live.is_paused and not o.live.is_paused
    assert g.axX.max() == o.axX.max() == 2999.0


def test_a_graph_linked_with_a_paused_group_is_shown_at_its_range(made):
    a, b = made(), made()
    a.run(3000)
    b.run(3000)
    a.live.pause()
    a.live.set_x_range(500.0, 1500.0)
    b.live.link_x(a.live)
    assert b.live.is_paused and (b.axX.min(), b.axX.max()) == (500.0, 1500.0)


# ---- deletion under a paused LiveView

# Qt 6.11's QQuickWidget deletes its root item again when it goes itself, so deleting the graph
# before its widget ends the process there, with or without larkui (6.12 holds it by a guard).
DELETABLE = ["widget", "root"] + (["view"] if tuple(map(int, PySide6.__version__.split(".")[:2])) >= (6, 12) else [])


@pytest.mark.parametrize("what", DELETABLE)
@pytest.mark.parametrize("linked", [False, True])
def test_a_deleted_graph_or_widget_detaches_its_live_view(made, qapp, what, linked):
    g, other = made(), made()
    g.run(2000)
    other.run(2000)
    live = g.live
    if linked:
        live.link_x(other.live)
    live.pause()
    shiboken6.delete({"widget": g.widget, "view": g.view, "root": g.root}[what])
    qapp.sendPostedEvents(None, QEvent.Type.DeferredDelete)
    qapp.processEvents()
    assert not live.is_paused and live.chart is None if shiboken6.isValid(live) else True
    if shiboken6.isValid(live):
        for member in (live.pause, live.resume, live.toggle):
            with pytest.raises(RuntimeError, match=DETACHED):
                member()
    # The other graph goes on: paused with its group, resumed alone.
    assert other.live.linked == (other.live,)
    assert other.live.is_paused == linked
    other.live.resume()
    other.run(500)
    assert other.axX.max() == 2499.0


def test_cycles_of_pause_and_resume_keep_nothing(made):
    g = made(lines=2)
    g.run(3000)
    step = [0]

    def cycle():
        g.live.pause()
        for b in g.bufs:
            b.add_points(*wave(3000 + step[0], 10))
        step[0] += 10
        g.tick()
        g.live.resume()

    assert_no_leak(cycle, warmup=50, rounds=300)


def test_graphs_made_and_destroyed_leave_no_live_view_behind(qapp):
    qapp.sendPostedEvents(None, QEvent.Type.DeferredDelete)
    qapp.processEvents()
    gc.collect()
    before = len([o for o in gc.get_objects() if type(o).__name__ == "_LiveState"])
    refs = []
    for k in range(8):
        g = Graph()
        g.run(1000)
        if refs and refs[-1]() is not None and shiboken6.isValid(refs[-1]()):
            g.live.link_x(refs[-1]())
        g.live.pause()
        refs.append(weakref.ref(g.live))
        g.root.deleteLater()
        qapp.sendPostedEvents(None, QEvent.Type.DeferredDelete)
        qapp.processEvents()
    del g
    gc.collect()
    assert len([o for o in gc.get_objects() if type(o).__name__ == "_LiveState"]) == before
    assert all(r() is None or not shiboken6.isValid(r()) for r in refs)



@pytest.mark.parametrize("signal", ["paused", "resumed"])
@pytest.mark.parametrize("what", ["delete the widget", "toggle again", "raise"])
def test_slots_that_reenter_raise_or_delete_the_graph(made, qapp, signal, what):
    g = made()
    g.run(2000)
    live = g.live
    if signal == "resumed":
        live.pause()

    def slot():
        if what == "delete the widget":
            shiboken6.delete(g.widget)
        elif what == "toggle again":
            live.toggle()
        else:
            raise ValueError("from a slot")

    getattr(live, signal).connect(slot)
    live.toggle()  # PySide6 reports what a slot raises; the toggle is done all the same
    qapp.processEvents()
    if what == "delete the widget":
        assert not shiboken6.isValid(g.view)
        assert not shiboken6.isValid(live) or not live.is_paused
    elif what == "toggle again":
        assert live.is_paused == (signal == "resumed")
        g.run(250)
    else:
        assert live.is_paused == (signal == "paused")
