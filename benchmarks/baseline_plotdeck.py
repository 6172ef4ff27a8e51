"""Plain-Python reference of the series factories and TimeSeriesBuffer, step for step.

Used only by the benchmarks, to measure larkui against the same work done in Python.
"""
from PySide6.QtCharts import QLineSeries, QScatterSeries
from PySide6.QtCore import QPointF, Qt
from PySide6.QtGui import QColor, QPen


def _colour(value):
    return QColor(value) if isinstance(value, str) else value


def make_scatter(chart, name: str, size: float, fill, stroke, stroke_w: float):
    s = QScatterSeries()
    s.setName(name)
    s.setMarkerSize(float(size))
    s.setColor(_colour(fill))
    pen = QPen(_colour(stroke))
    pen.setWidthF(float(stroke_w))
    s.setPen(pen)
    s.setBorderColor(pen.color())
    chart.addSeries(s)
    return s


def make_line(chart, name: str, color, width: float = 2.0, style=Qt.SolidLine):
    line = QLineSeries()
    line.setName(name)
    pen = QPen(_colour(color))
    pen.setWidthF(float(width))
    pen.setStyle(style)
    line.setPen(pen)
    chart.addSeries(line)
    return line


def add_line_to_chart(chart, axX, axY, name: str, color, width: float = 2.0, style=Qt.SolidLine):
    line = make_line(chart, name, color, width, style)
    line.attachAxis(axX)
    line.attachAxis(axY)
    return line


class TimeSeriesBuffer:
    def __init__(self, series, max_history: int = 10000):
        self.series = series
        self.history = []
        self.max_history = max_history
        self.last_x = 0
        self.last_snapshot_data = None
        self.last_snapshot_offset = 0
        self._pending_points = []
        self._pending_snapshot = None
        self._pending_snapshot_offset = 0

    def add_point(self, x: float, y: float):
        x = float(x)
        y = float(y)
        self.history.append(y)
        if len(self.history) > self.max_history:
            del self.history[0]
        self._pending_points.append(QPointF(x, y))

    def set_data(self, data, x_offset: float = 0.0):
        self._pending_snapshot = data
        self._pending_snapshot_offset = float(x_offset)

    def flush(self) -> bool:
        if self._pending_snapshot is not None:
            offset = self._pending_snapshot_offset
            points = [QPointF(i + offset, v) for i, v in enumerate(self._pending_snapshot)]
            self.series.replace(points)
            self.last_snapshot_data = self._pending_snapshot
            self.last_snapshot_offset = offset
            self._pending_snapshot = None
            if not self.series.isVisible():
                self.series.setVisible(True)
            return True
        if self._pending_points:
            self.series.append(self._pending_points)
            self.last_x = self._pending_points[-1].x()
            self._pending_points.clear()
            if not self.series.isVisible():
                self.series.setVisible(True)
            return True
        return False

    def clear(self):
        self.series.clear()
        self.history = []
        self._pending_points = []
        self._pending_snapshot = None
        self.last_snapshot_data = None
        self.last_x = 0

    @property
    def is_visible(self) -> bool:
        return self.series.isVisible()
