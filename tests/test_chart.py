"""build_sample_value_chart on real hosts, layouts, charts and views."""
import pytest
from PySide6.QtCharts import QChart, QChartView, QValueAxis
from PySide6.QtCore import QObject, Qt
from PySide6.QtGui import QPainter
from PySide6.QtWidgets import QGraphicsView, QGridLayout, QHBoxLayout, QLabel, QSizePolicy, QVBoxLayout, QWidget

import larkui.plotdeck as plotdeck
from larkui.plotdeck import build_sample_value_chart


@pytest.fixture
def root():
    root = QWidget()
    host = QWidget(root)
    host.setObjectName("host")
    return root


def host_of(root, name="host"):
    return root.findChild(QWidget, name)


class PrimedChart(QChart):
    """Starts away from every value the function sets, so that each setting shows."""

    def __init__(self):
        super().__init__()
        self.setAnimationOptions(QChart.AllAnimations)
        self.legend().setVisible(False)


class PrimedView(QChartView):
    made = []

    def __init__(self, chart):
        super().__init__(chart)
        self.setViewportUpdateMode(QGraphicsView.FullViewportUpdate)
        self.setRenderHint(QPainter.Antialiasing, True)
        self.setSizePolicy(QSizePolicy.Policy.Fixed, QSizePolicy.Policy.Preferred)
        self.setMinimumSize(7, 9)
        PrimedView.made.append(self)


@pytest.fixture
def primed():
    saved = plotdeck.QChart, plotdeck.QChartView
    plotdeck.QChart, plotdeck.QChartView = PrimedChart, PrimedView
    PrimedView.made = []
    yield
    plotdeck.QChart, plotdeck.QChartView = saved


def test_defaults_on_a_host_without_layout(root, primed):
    host = host_of(root)
    result = build_sample_value_chart(root, "host")
    assert type(result) is tuple and len(result) == 3
    chart, ax_x, ax_y = result
    assert type(chart) is PrimedChart and type(ax_x) is QValueAxis and type(ax_y) is QValueAxis

    lay = host.layout()
    assert type(lay) is QVBoxLayout and lay.parent() is host
    assert lay.count() == 1
    view = lay.itemAt(0).widget()
    assert PrimedView.made == [view] and view.chart() is chart and view.parent() is host

    assert chart.animationOptions() == QChart.NoAnimation
    assert chart.legend().isVisible()
    assert not view.renderHints() & QPainter.Antialiasing
    assert view.viewportUpdateMode() == QGraphicsView.MinimalViewportUpdate
    policy = view.sizePolicy()
    assert policy.horizontalPolicy() == policy.verticalPolicy() == QSizePolicy.Policy.Expanding
    assert (view.minimumSize().width(), view.minimumSize().height()) == (0, 0)

    assert (ax_x.titleText(), ax_y.titleText()) == ("Sample", "Value")
    assert ax_x.labelFormat() == ax_y.labelFormat() == "%d"
    assert chart.axes() == [ax_x, ax_y]
    assert ax_x.alignment() == Qt.AlignBottom and ax_y.alignment() == Qt.AlignLeft
    assert chart.series() == []
    # ranges stay the axes' own defaults
    fresh = QValueAxis()
    assert (ax_x.min(), ax_x.max(), ax_x.tickCount()) == (fresh.min(), fresh.max(), fresh.tickCount())


def test_options_and_truth_values(root, primed):
    chart, ax_x, ax_y, view = build_sample_value_chart(
        root, "host", y_title="Amplitude", x_title="Index", show_legend="", antialias=[0],
        minimal_viewport=0, return_view=1.5)
    assert type(view) is PrimedView and view.chart() is chart
    assert (ax_x.titleText(), ax_y.titleText()) == ("Index", "Amplitude")
    assert not chart.legend().isVisible()
    assert view.renderHints() & QPainter.Antialiasing
    # no update-mode call at all when minimal_viewport is false
    assert view.viewportUpdateMode() == QGraphicsView.FullViewportUpdate


@pytest.mark.parametrize("return_view, size", [(False, 3), (True, 4), (None, 3), ("x", 4)])
def test_return_view(root, return_view, size):
    result = build_sample_value_chart(root, "host", return_view=return_view)
    assert len(result) == size
    if size == 4:
        assert type(result[3]) is QChartView and result[3].chart() is result[0]


@pytest.mark.parametrize("layout_type", [QVBoxLayout, QHBoxLayout, QGridLayout])
def test_existing_layout_is_kept_with_its_items(root, layout_type):
    host = host_of(root)
    lay = layout_type(host)
    label = QLabel("keep me")
    lay.addWidget(label)
    build_sample_value_chart(root, "host")
    assert host.layout() is lay
    assert lay.count() == 2
    assert lay.itemAt(0).widget() is label
    assert type(lay.itemAt(1).widget()) is QChartView
    if layout_type is QGridLayout:
        assert lay.getItemPosition(1)[2:] == (1, 1)  # a plain one-cell addWidget


def test_second_call_adds_a_second_view(root):
    first = build_sample_value_chart(root, "host", return_view=True)
    second = build_sample_value_chart(root, "host", return_view=True)
    lay = host_of(root).layout()
    assert [lay.itemAt(i).widget() for i in range(lay.count())] == [first[3], second[3]]
    assert first[0] is not second[0]


def test_nested_host_is_found(root):
    inner = QWidget(host_of(root))
    inner.setObjectName("inner")
    build_sample_value_chart(root, "inner")
    assert inner.layout().count() == 1


@pytest.mark.parametrize("name", ["nope", "it's", "", "主機"])
def test_missing_host(root, name):
    before = root.findChildren(QObject)
    with pytest.raises(RuntimeError) as info:
        build_sample_value_chart(root, name if name else "missing")
    name = name or "missing"
    assert info.value.args == (f"找不到 QWidget(objectName='{name}')",)
    assert root.findChildren(QObject) == before
    assert host_of(root).layout() is None


def test_host_must_be_a_widget(root):
    QObject(root).setObjectName("plain_object")
    with pytest.raises(RuntimeError):
        build_sample_value_chart(root, "plain_object")


def test_root_without_find_child():
    with pytest.raises(AttributeError):
        build_sample_value_chart(object(), "host")


def broken_axis():
    raise RuntimeError("axis failed")


class UnformattedAxis(QValueAxis):
    def setLabelFormat(self, text):
        raise RuntimeError("axis failed")


@pytest.mark.parametrize("axis_class", [broken_axis, UnformattedAxis], ids=["making", "formatting"])
def test_failing_qt_step_leaves_earlier_steps_in_place(root, axis_class):
    saved = plotdeck.QValueAxis
    plotdeck.QValueAxis = axis_class
    try:
        with pytest.raises(RuntimeError, match="axis failed"):
            build_sample_value_chart(root, "host")
    finally:
        plotdeck.QValueAxis = saved
    lay = host_of(root).layout()
    assert type(lay) is QVBoxLayout and lay.count() == 1
    assert type(lay.itemAt(0).widget()) is QChartView


def test_dropping_the_result_destroys_nothing(root):
    import gc

    build_sample_value_chart(root, "host")
    gc.collect()
    view = host_of(root).layout().itemAt(0).widget()
    assert len(view.chart().axes()) == 2
