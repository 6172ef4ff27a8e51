"""The demo's "Qt Graphs" tab: the Streaming tab's channels, sample for sample, on Qt Graphs.

Each graph mirrors one streaming chart: the same channels (names, colours), fed the very blocks
of samples that chart gets, through StreamBuffers of its own, synced on the same tick. A legend
click hides a channel here without touching the Qt Charts chart, and the other way round.
"""
from __future__ import annotations

import math
from typing import Any

import numpy as np

ROUND_STEPS = (1, 2, 5)  # times 1, 10, 100, ... and 0.1, 0.01, ...
Y_LABEL_GAP = 1.6         # least y label spacing, in label heights
X_LABEL_GAP = 2.0         # least x label spacing, in label widths


def round_step(span: float, most: int) -> float:
    """The least of ..., 0.1, 0.2, 0.5, 1, 2, 5, 10, ... that cuts `span` into at most `most` intervals."""
    if not (span > 0 and math.isfinite(span)):
        return 1.0
    least = span / max(most, 1)
    scale = 10.0 ** math.floor(math.log10(least))
    return next(m * scale for m in (*ROUND_STEPS, 10) if m * scale >= least * (1 - 1e-9))


def decimals(step: float) -> int:
    return max(0, -math.floor(math.log10(step) + 1e-9))


class GraphStreamingChart:
    """One Qt Graphs graph showing what a StreamingChart shows."""

    def __init__(self, root, host: str, source) -> None:
        from PySide6.QtGui import QFontMetricsF, QGuiApplication

        from larkui.graphs import add_line_to_graph, add_scatter_to_graph, build_sample_value_graph

        self.host = host
        self.source = source
        self.window = source.buffers[0].window
        self.graph, self.axX, self.axY, self.widget = build_sample_value_graph(
            root, host, y_title=source.axY.titleText(), x_title=source.axX.titleText(), return_widget=True)
        self.title = source.chart.title()
        self.fixed_y_range = source.fixed_y_range
        self.metrics = QFontMetricsF(QGuiApplication.font())
        self.unsettled: set = set()  # axes whose range or ticks changed at the last sync
        self.buffers = [self.make_buffer(add_line_to_graph(self.graph, self.axX, self.axY, ch.name, ch.color), b)
                        for ch, b in zip(source.channels, source.buffers)]
        self.dropout_buffers: dict[int, Any] = {}
        for i, dots in source.dropout_buffers.items():
            series = add_scatter_to_graph(self.graph, self.axX, self.axY, "Dropout", "#ffbf00", 7.0)
            self.dropout_buffers[i] = self.make_buffer(series, dots)
        self.buffers += self.dropout_buffers.values()
        source.mirrors.append(self)
        # A graph in a hidden tab has no size: its ticks are chosen again once it is laid out.
        self.graph.plotAreaChanged.connect(self.tidy_ticks)

    @staticmethod
    def make_buffer(series, like):
        """A StreamBuffer for `series` with the settings of the streaming chart's buffer `like`."""
        from larkui.streaming import StreamBuffer

        return StreamBuffer(series, like.window, display_budget=like.display_budget, max_history=like.max_history)

    def add_block(self, i: int, x: np.ndarray, samples: np.ndarray, at, values) -> None:
        """The block of channel i that the streaming chart was just given (and its dropout starts)."""
        buffer = self.buffers[i]
        if buffer.is_visible:  # a hidden channel is not fed, or its flush would show it again
            buffer.add_points(x, samples)
        dots = self.dropout_buffers.get(i)
        if dots is not None and len(at) and dots.is_visible:
            dots.add_points(x[at], values)

    def sync(self) -> None:
        """Writes every buffer's window to its series and fits the axes, as the Qt Charts chart's sync does."""
        newest = 0.0
        lo, hi = math.inf, -math.inf
        for buffer in self.buffers:
            buffer.flush()
            newest = max(newest, buffer.last_x)
            if buffer.is_visible and buffer.max_history:
                recent = np.asarray(buffer.history[-self.window:], dtype=np.float64)
                recent = recent[np.isfinite(recent)]
                if recent.size:
                    lo, hi = min(lo, float(recent.min())), max(hi, float(recent.max()))
        x_hi = max(newest, float(self.window))
        self.set_range(self.axX, x_hi - self.window + 1, x_hi)
        if self.fixed_y_range:
            self.set_range(self.axY, *self.fixed_y_range)
        elif lo <= hi:
            margin = (hi - lo) * 0.1 or 1.0
            self.set_range(self.axY, lo - margin, hi + margin)
        self.tidy_ticks()

    def set_range(self, axis, lo: float, hi: float) -> None:
        # Every setRange makes Qt Graphs lay the graph out again, even for the same range, so an
        # unchanged one is skipped; except once after a change: Qt Graphs places a frame's labels
        # and grid for the range width (and tick interval) of the frame before, and the range
        # set again in a later frame puts them where they belong.
        changed = (axis.min(), axis.max()) != (lo, hi)
        if changed or axis in self.unsettled:
            axis.setRange(lo, hi)
        if changed:
            self.unsettled.add(axis)
        else:
            self.unsettled.discard(axis)

    def settle(self) -> None:
        """Sets the ranges that changed at the last sync again (after a frame has been drawn)."""
        for axis in self.unsettled:
            axis.setRange(axis.min(), axis.max())
        self.unsettled.clear()

    def tidy_ticks(self) -> None:
        """Labels on round values that fit the plot area as it is now (Qt Graphs has no tick count)."""
        area = self.graph.property("plotArea")
        if area.width() <= 0 or area.height() <= 0:
            return
        for axis, length, gap in ((self.axX, area.width(), X_LABEL_GAP), (self.axY, area.height(), Y_LABEL_GAP)):
            lo, hi = axis.min(), axis.max()
            if axis is self.axX:
                size = max(self.metrics.horizontalAdvance(f"{v:.0f}") for v in (lo, hi))
            else:
                size = self.metrics.height()
            step = round_step(hi - lo, max(1, int(length // (gap * size))))
            if axis.tickInterval() != step:
                axis.setTickInterval(step)
                axis.setLabelFormat(f"%.{decimals(step)}f")
                self.unsettled.add(axis)

    def summary(self) -> dict:
        """What a person reads off the graph: axis ranges, plot area and each series' data."""
        area = self.graph.property("plotArea")
        series_info = {}
        for buffer in self.buffers:
            s = buffer.series
            points = [(p.x(), p.y()) for p in s.points()]
            finite = [y for _, y in points if math.isfinite(y)]
            x_lo, x_hi = self.axX.min(), self.axX.max()
            inside = sum(1 for x, y in points if x_lo <= x <= x_hi and math.isfinite(y))
            series_info[s.name()] = {
                "kind": type(s).__name__, "visible": s.isVisible(), "color": s.color().name(), "count": len(points),
                "first_x": points[0][0] if points else None, "last_x": points[-1][0] if points else None,
                "y_min": min(finite) if finite else None, "y_max": max(finite) if finite else None,
                "gaps": len(points) - len(finite), "points_in_window": inside}
        api = self.widget.quickWindow().rendererInterface().graphicsApi().name
        labels = self.scene_labels()
        return {"title": self.title, "mirrors": self.source.host, "renderer": api,
                "fixed_y_range": list(self.fixed_y_range) if self.fixed_y_range else None,
                "x_range": [self.axX.min(), self.axX.max()], "y_range": [self.axY.min(), self.axY.max()],
                "tick_interval": [self.axX.tickInterval(), self.axY.tickInterval()],
                "plot_area": [area.x(), area.y(), area.width(), area.height()], "series": series_info,
                "labels": labels}

    def scene_labels(self) -> dict[str, list]:
        """The axis labels as drawn: (text, left, top, width, height) of each, from the scene's text items."""
        from PySide6.QtCore import QPointF
        from PySide6.QtQuick import QQuickItem

        area = self.graph.property("plotArea")
        legend = self.graph.findChild(QQuickItem, "larkui_legend")
        titles = (self.axX.titleText(), self.axY.titleText())
        found: dict[str, list] = {"x": [], "y": []}

        def walk(item) -> None:
            for child in item.childItems():
                text = child.property("text") if child.metaObject().className() == "QQuickText" else None
                if text and child.isVisible() and text not in titles and not legend.isAncestorOf(child):
                    p = child.mapToItem(self.graph, QPointF(0, 0))
                    w, h = child.property("contentWidth"), child.property("contentHeight")
                    box = [text, p.x() + (child.width() - w) / 2, p.y() + (child.height() - h) / 2, w, h]
                    found["x" if p.y() > area.bottom() + 1 else "y"].append(box)
                walk(child)

        walk(self.graph)
        found["x"].sort(key=lambda b: b[1])
        found["y"].sort(key=lambda b: -b[2])
        return found
