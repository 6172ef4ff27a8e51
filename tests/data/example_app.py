"""A small application written against larkui's type stubs; mypy --strict must accept it."""
from __future__ import annotations

from collections.abc import Iterator
from pathlib import Path
from typing import Literal, assert_type

import numpy as np
from PySide6.QtCharts import QChart, QChartView, QLineSeries, QScatterSeries, QValueAxis
from PySide6 import QtGraphs
from PySide6.QtCore import Qt
from PySide6.QtQuick import QQuickItem
from PySide6.QtQuickWidgets import QQuickWidget
from PySide6.QtGui import QColor
from PySide6.QtWidgets import QApplication, QLineEdit, QPushButton, QScrollArea, QWidget

from larkui.choosers import collect_files_from_lineEdit, pick_file_path, pick_folder_path
from larkui.finders import find_child_safe
from larkui.graphs import add_line_to_graph, add_scatter_to_graph, build_sample_value_graph, use_software_renderer
from larkui.plotdeck import (TimeSeriesBuffer, add_line_to_chart, build_sample_value_chart, make_line, make_scatter,
                             sync_scrolling_chart, sync_snapshot_chart, wrap_dynamic_charts_into_tabs,
                             wrap_hosts_in_scroll)
from larkui.streaming import StreamBuffer, StreamHistory, sync_stream_chart


class Window:
    def __init__(self, root: QWidget) -> None:
        self.root = root
        self.path_edit = find_child_safe(root, QLineEdit, "pathEdit")
        assert_type(self.path_edit, QLineEdit)
        button = find_child_safe(root, QPushButton, "browseButton")
        button.clicked.connect(self.browse)

        hosts = wrap_dynamic_charts_into_tabs(root, {"Live": ["w_live"], "Frames": ["w_frame"]}, cols=1)
        assert_type(hosts, dict[str, QWidget])
        chart, ax_x, ax_y = build_sample_value_chart(root, "w_live", y_title="Volt")
        assert_type(chart, QChart)
        _, _, _, view = build_sample_value_chart(root, "w_frame", return_view=True)
        assert_type(view, QChartView)

        line = add_line_to_chart(chart, ax_x, ax_y, "ch1", "#1f77b4", 1.5)
        assert_type(line, QLineSeries)
        dashed = make_line(chart, "ch2", QColor(Qt.GlobalColor.red), style=Qt.PenStyle.DashLine)
        dots = make_scatter(chart, "marks", 6.0, "white", "black", 1.0)
        assert_type(dots, QScatterSeries)
        self.buffers = [TimeSeriesBuffer(line), TimeSeriesBuffer(dashed, max_history=500), TimeSeriesBuffer(dots)]
        self.ax_x: QValueAxis = ax_x
        self.ax_y: QValueAxis = ax_y

    def on_sample(self, t: float, value: float) -> None:
        self.buffers[0].add_point(t, value)

    def on_timer(self) -> None:
        sync_scrolling_chart(self.buffers, self.ax_x, self.ax_y, 1000, y_tick_cnt=5)
        sync_snapshot_chart(self.buffers, self.ax_x, self.ax_y, (0.0, 1.0))
        newest: float = self.buffers[0].last_x
        visible: bool = self.buffers[0].is_visible
        recent: list[float] = self.buffers[0].history[-10:]
        del newest, visible, recent

    def on_frame(self, frame: np.ndarray) -> None:
        self.buffers[1].set_data(frame, x_offset=100.0)
        self.buffers[2].set_data([1.0, 2.0, 3.0])
        updated: bool = self.buffers[1].flush()
        del updated

    def browse(self) -> None:
        folder = pick_folder_path(self.root, line_edit=self.path_edit, last_dir_obj=self)
        assert_type(folder, str | None)
        as_path = pick_file_path(self.root, name_filter="CSV (*.csv)", return_pathlib=True)
        assert_type(as_path, Path | None)
        found = collect_files_from_lineEdit(self.root, self.path_edit, "out", [".csv"], sort_datecode=True)
        if found is not None:
            paths, names, out_dir = found
            assert_type(paths, list[str])
            assert_type(out_dir, Path)

    def arrange(self) -> QScrollArea | None:
        return wrap_hosts_in_scroll(self.root, ["w_live", "w_frame"], cols=2, host_heights={"w_live": 300})


class StreamingPanel:
    """A fast acquisition shown in a rolling window, beside a slow channel of the older kind."""

    def __init__(self, root: QWidget) -> None:
        chart, self.ax_x, self.ax_y = build_sample_value_chart(root, "w_stream")
        self.fast = StreamBuffer(add_line_to_chart(chart, self.ax_x, self.ax_y, "vib", "crimson"), 5000,
                                 display_budget=2000)
        self.peaks = StreamBuffer(make_scatter(chart, "peaks", 4.0, "black", "black", 1.0), 5000, max_history=0)
        self.slow = TimeSeriesBuffer(add_line_to_chart(chart, self.ax_x, self.ax_y, "temp", "teal"))
        self.streams = [self.fast, self.peaks]
        assert_type(self.streams, list[StreamBuffer])
        budget: int | Literal["auto"] | None = self.fast.display_budget
        self.auto = StreamBuffer(add_line_to_chart(chart, self.ax_x, self.ax_y, "raw", "navy"), 5000)
        window: int = self.fast.window
        kept: int = self.fast.max_history
        del budget, window, kept

    def on_block(self, t: np.ndarray, values: np.ndarray) -> None:
        self.fast.add_points(t, values)
        self.peaks.add_points([float(t[-1])], [float(values.max())])
        self.fast.add_point(float(t[-1]) + 1.0, float("nan"))
        self.slow.add_point(float(t[-1]), 21.5)

    def on_timer(self) -> None:
        sync_stream_chart([self.fast, self.auto], self.ax_x, self.ax_y, 5000.0)
        sync_stream_chart((self.fast,), self.ax_x, self.ax_y, 5000, fixed_y_range=(-1.0, 1.0), margin_ratio=0.2)
        sync_scrolling_chart(self.streams, self.ax_x, self.ax_y, 5000)
        sync_scrolling_chart([self.fast, self.slow], self.ax_x, self.ax_y, 5000, y_tick_cnt=5)
        history = self.fast.history
        assert_type(history, StreamHistory)
        newest: float = history[-1]
        recent: list[float] = history[-100:]
        count: int = len(history)
        values: Iterator[float] = iter(history)
        same: bool = history == recent
        written: bool = self.fast.flush()
        shown: bool = self.fast.is_visible
        last: float = self.fast.last_x
        del newest, recent, count, values, same, written, shown, last
        if not self.fast.is_visible:
            self.fast.clear()
            self.fast.series = QLineSeries()


class GraphPanel:
    """The same few lines on Qt Graphs; snapshot frames through plotdeck's buffer and sync."""

    def __init__(self, root: QWidget) -> None:
        software: bool = use_software_renderer()
        graph, self.ax_x, self.ax_y = build_sample_value_graph(root, "w_graph", y_title="Volt", show_legend=1)
        assert_type(graph, QQuickItem)
        assert_type(self.ax_x, QtGraphs.QValueAxis)
        _, _, _, widget = build_sample_value_graph(root, "w_graph", return_widget=True)
        assert_type(widget, QQuickWidget)
        line = add_line_to_graph(graph, self.ax_x, self.ax_y, "ch1", "#1f77b4")
        assert_type(line, QtGraphs.QLineSeries)
        thin = add_line_to_graph(graph, self.ax_x, self.ax_y, "ch2", Qt.GlobalColor.red, 1)
        dots = add_scatter_to_graph(graph, self.ax_x, self.ax_y, "peaks", QColor("black"), size=6)
        assert_type(dots, QtGraphs.QScatterSeries)
        self.frames = [TimeSeriesBuffer(line), TimeSeriesBuffer(thin)]
        del software

    def on_frame(self, frame: np.ndarray) -> None:
        self.frames[0].set_data(frame, x_offset=10.0)
        sync_snapshot_chart(self.frames, self.ax_x, self.ax_y)


def main() -> None:
    app = QApplication([])
    Window(QWidget())
    StreamingPanel(QWidget())
    GraphPanel(QWidget())
    app.quit()
