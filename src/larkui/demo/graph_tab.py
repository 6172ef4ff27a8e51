"""The demo's "Qt Graphs" tab: the Streaming tab's channels, sample for sample, on Qt Graphs.

Each graph mirrors one streaming chart: the same channels (names, colours), fed the very blocks
of samples that chart gets, through StreamBuffers of its own, synced on the same tick. A legend
click hides a channel here without touching the Qt Charts chart, and the other way round.
"""
from __future__ import annotations

import math
from typing import Any

import numpy as np

class GraphStreamingChart:
    """One Qt Graphs graph showing what a StreamingChart shows."""

    def __init__(self, root, host: str, source) -> None:
        from larkui.graphs import add_line_to_graph, add_scatter_to_graph, build_sample_value_graph

        self.host = host
        self.source = source
        self.window = source.buffers[0].window
        self.graph, self.axX, self.axY, self.widget = build_sample_value_graph(
            root, host, y_title=source.axY.titleText(), x_title=source.axX.titleText(), return_widget=True)
        self.title = source.chart.title()
        self.fixed_y_range = source.fixed_y_range
        self.buffers = [self.make_buffer(add_line_to_graph(self.graph, self.axX, self.axY, ch.name, ch.color), b)
                        for ch, b in zip(source.channels, source.buffers)]
        self.dropout_buffers: dict[int, Any] = {}
        for i, dots in source.dropout_buffers.items():
            series = add_scatter_to_graph(self.graph, self.axX, self.axY, "Dropout", "#ffbf00", 7.0)
            self.dropout_buffers[i] = self.make_buffer(series, dots)
        self.buffers += self.dropout_buffers.values()
        source.mirrors.append(self)

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
        """Writes every buffer's window to its series and fits the axes: the Qt Charts chart's call.

        A graph that is not on screen (its tab hidden) is left alone: its buffers keep the window,
        and the first call once it is shown writes it with the budget and ticks of its plot area.
        """
        from larkui.streaming import sync_stream_chart

        if not self.widget.isVisible():
            return
        sync_stream_chart(self.buffers, self.axX, self.axY, self.window, fixed_y_range=self.fixed_y_range)

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
