"""Series factories: styling read back from real Qt series, introspection, refusals, leaks."""

import pytest
from PySide6.QtCharts import QChart, QLineSeries, QScatterSeries, QValueAxis
from PySide6.QtCore import Qt
from PySide6.QtGui import QColor

from larkui import plotdeck
from support import assert_no_leak, call_swallowing


class Text(str):
    pass


@pytest.fixture
def chart():
    c = QChart()
    ax, ay = QValueAxis(), QValueAxis()
    c.addAxis(ax, Qt.AlignBottom)
    c.addAxis(ay, Qt.AlignLeft)
    return c, ax, ay


@pytest.mark.parametrize("fill, stroke", [("#ff8000", "blue"), (QColor("#ff8000"), QColor("blue")),
                                          (Text("#ff8000"), Text("blue"))])
def test_make_scatter_styles_and_adds(chart, fill, stroke):
    c, _, _ = chart
    s = plotdeck.make_scatter(c, "dots", 7, fill, stroke, 3)
    assert type(s) is QScatterSeries and c.series() == [s]
    assert s.name() == "dots" and s.markerSize() == 7.0
    assert s.color() == QColor("#ff8000")
    assert s.pen().color() == QColor("blue") and s.pen().widthF() == 3.0
    assert s.borderColor() == QColor("blue")  # the outline colour, not the fill
    assert s.attachedAxes() == []


@pytest.mark.parametrize("color", ["#123456", QColor("#123456"), Text("#123456")])
def test_make_line_defaults_to_solid_width_two(chart, color):
    c, _, _ = chart
    line = plotdeck.make_line(c, "curve", color)
    assert type(line) is QLineSeries and c.series() == [line] and line.name() == "curve"
    pen = line.pen()
    assert pen.color() == QColor("#123456") and pen.widthF() == 2.0 and pen.style() == Qt.SolidLine
    assert line.attachedAxes() == []


def test_make_line_width_and_style(chart):
    c, _, _ = chart
    line = plotdeck.make_line(c, "c", "red", width=1, style=Qt.DashLine)
    assert line.pen().widthF() == 1.0 and line.pen().style() == Qt.DashLine


def test_add_line_to_chart_attaches_x_then_y(chart):
    c, ax, ay = chart
    line = plotdeck.add_line_to_chart(c, ax, ay, "c", "green", 4.5, Qt.DotLine)
    assert c.series() == [line]
    assert line.attachedAxes() == [ax, ay]
    assert line.pen().widthF() == 4.5 and line.pen().style() == Qt.DotLine
    assert line.pen().color() == QColor("green")


@pytest.mark.parametrize("call, exc, message", [
    (lambda c: plotdeck.make_line(c, None, "red"), TypeError,
     "Argument 'name' has incorrect type (expected str, got NoneType)"),
    (lambda c: plotdeck.make_line(c, Text("n"), "red"), TypeError, "expected str, got Text"),
    (lambda c: plotdeck.make_scatter(c, "n", "big", "red", "red", 1), TypeError, None),
    (lambda c: plotdeck.make_line(c, "n", "red", None), TypeError, None),
    (lambda c: plotdeck.make_scatter(c, "n", 1, "red", "red"), TypeError,
     "make_scatter() takes exactly 6 positional arguments (5 given)"),
    (lambda c: plotdeck.make_line(c, "n"), TypeError, "make_line() takes at least 3 positional arguments (2 given)"),
    (lambda c: plotdeck.add_line_to_chart(c, 1, 2, "n", "r", 1, 2, 3), TypeError,
     "add_line_to_chart() takes at most 7 positional arguments (8 given)"),
    (lambda c: plotdeck.make_line(c, "n", object()), TypeError, None),  # QPen refuses the colour
    (lambda c: plotdeck.make_line(c, "n", "red", 2, "solid"), TypeError, None),  # setStyle refuses
])
def test_refusals_add_nothing(chart, call, exc, message):
    c, _, _ = chart
    with pytest.raises(exc) as info:
        call(c)
    if message:
        assert message in str(info.value)
    assert c.series() == []


def test_chart_without_add_series():
    with pytest.raises(AttributeError):
        plotdeck.make_line(object(), "n", "red")


def test_attach_failure_keeps_series_in_chart(chart):
    c, ax, _ = chart
    with pytest.raises(TypeError):
        plotdeck.add_line_to_chart(c, ax, "not an axis", "n", "red")
    assert len(c.series()) == 1


def test_no_leaks(chart):
    c, ax, ay = chart

    def build():
        plotdeck.make_scatter(c, "s", 5.0, "red", QColor("blue"), 1.0)
        plotdeck.make_line(c, "l", "red")
        plotdeck.add_line_to_chart(c, ax, ay, "a", QColor("red"), 2, Qt.DashLine)
        c.removeAllSeries()

    assert_no_leak(build, warmup=50, rounds=300)
    assert_no_leak(call_swallowing(plotdeck.make_line, c, None, "red"))
    assert_no_leak(call_swallowing(plotdeck.make_line, object(), "n", "red"), rounds=1000)
