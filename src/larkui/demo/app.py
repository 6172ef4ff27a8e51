"""larkui demo: a measurement-display window built the way an application builds one.

The window comes from a Qt Designer file (window.ui) loaded at run time. A "Streaming" tab shows
four scrolling charts fed by simulated 1 kHz sensors (linked: "Pause all" or Space on a chart stops
them to zoom, pan and read values), a "Qt Graphs" tab the same channels on Qt Graphs, a "Spectrum"
tab shows snapshot charts of a chirp's spectrum, and a files panel picks a folder and collects the
data files in it.

    python -m larkui.demo                 # a window, when there is a display (also: larkui-demo)
    python -m larkui.demo --exit-after 5  # a window that closes itself after 5 s
    python -m larkui.demo --offscreen     # fixed number of ticks offscreen, screenshots, measurements
    python -m larkui.demo --offscreen --minutes 11   # long run: per-tick time minute by minute

Without a display (no DISPLAY or WAYLAND_DISPLAY on Linux) the offscreen run is the default.
"""
from __future__ import annotations

import argparse
import json
import math
import os
import statistics
import sys
import tempfile
import time
from functools import partial
from importlib import resources
from pathlib import Path
from typing import Any

import numpy as np

from larkui.demo.graph_tab import GraphStreamingChart
from larkui.demo.sensors import SAMPLE_RATE, ChirpSource, Sensor, magnitude_spectrum

TICK_MS = 40                                     # the GUI timer's period (25 refreshes a second)
SAMPLES_PER_TICK = SAMPLE_RATE * TICK_MS // 1000  # 40 new samples per channel per tick
WINDOW_SAMPLES = 4000                            # the streaming charts show the last 4 s (x is in samples = ms)
FRAME = 1000                                     # spectrum frame: 1 s, so the FFT bins are 1 Hz apart
SCOPE = 100                                      # the time-domain chart shows the latest 100 ms

# Which buffer for which chart:
#  - StreamBuffer (larkui.streaming) for a rolling window of a stream. The producer adds whole
#    blocks of samples; once per tick sync_stream_chart sets the chart's axes and then writes the
#    newest `window` samples of every visible buffer to its series in one bulk call, so the series
#    never holds more than the window and the cost of a tick stays the same however long the
#    stream runs. NaN samples are written as gaps, which Qt draws as a break in the line. By
#    default a window that holds more samples than the plot has pixels across is written as the
#    smallest and largest sample of each bucket (two points per pixel column), which draws the
#    same line with fewer points; --display-budget 0 plots every sample.
#  - TimeSeriesBuffer (larkui.plotdeck) appends the points added since the last flush and never
#    trims its series, so a stream fed into it makes an ever longer series (Qt re-lays the whole
#    line on every append, and warns "Ignored NaN" for every NaN point appended). It is the buffer
#    for frame snapshots (set_data: the whole series replaced by one frame, kept as the caller's
#    object), and sync_snapshot_chart takes TimeSeriesBuffer only: the Spectrum tab uses it.
DISPLAY_BUDGET = "auto"  # points written per line: two per pixel column of its plot

LAST_DIR_ATTR = "_last_dir"                      # where the window remembers the folder chosen last
STREAMING_HOSTS = ["w_temperature", "w_pressure", "w_vibration", "w_flow"]
SPECTRUM_HOSTS = ["w_chirp_frame", "w_spectrum", "w_chirp_zoom", "w_hum"]
GRAPH_HOSTS = ["g_temperature", "g_pressure", "g_vibration", "g_flow"]  # the streaming charts again, on Qt Graphs
TAB_SLUGS = {"Streaming": "streaming", "Spectrum": "spectrum", "Qt Graphs": "graphs"}
# What the hint beside the "Pause all" button says, live and paused.
LIVE_HINT = "Space pauses the focused chart · hover for values"
PAUSED_HINT = "wheel zooms · drag pans · right-drag zooms to a box · double-click shows all"


def whole_number(least: int):
    """An argparse type: an int of at least `least`, refused with argparse's own error otherwise."""
    def convert(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None
        if value < least:
            raise argparse.ArgumentTypeError(f"must be at least {least}, got {value}")
        return value
    return convert


def display_budget(text: str) -> int | str | None:
    """An argparse type: "auto", 0 for every sample (None), or a number of points of at least 2."""
    if text == "auto":
        return "auto"
    value = whole_number(0)(text)
    if value == 1:
        raise argparse.ArgumentTypeError("must be 0 (every sample), 2 or more, or auto, got 1")
    return value or None


def positive_number(text: str) -> float:
    """An argparse type: a finite number above 0."""
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number, got {text!r}") from None
    if not (math.isfinite(value) and value > 0):
        raise argparse.ArgumentTypeError(f"must be a finite number above 0, got {text}")
    return value


def run_minutes(text: str) -> float:
    """An argparse type: a number of simulated minutes that holds at least one timer tick."""
    value = positive_number(text)
    if minutes_to_ticks(value) < 1:
        raise argparse.ArgumentTypeError(f"must hold at least one {TICK_MS} ms tick "
                                         f"({TICK_MS / 60_000:.6f} minutes), got {text}")
    return value


def minutes_to_ticks(minutes: float) -> int:
    return int(minutes * 60_000 / TICK_MS)


def parse_args(argv: list[str] | None) -> argparse.Namespace:
    # Started by `python -m`, argparse would call the program __main__.py.
    prog = "larkui-demo" if Path(sys.argv[0]).stem == "larkui-demo" else "python -m larkui.demo"
    parser = argparse.ArgumentParser(prog=prog, description=__doc__.split("\n\n")[0])
    parser.add_argument("--offscreen", action="store_true",
                        help="run offscreen even with a display: fixed number of ticks, screenshots, measurements")
    parser.add_argument("--ticks", type=whole_number(1), default=150,
                        help="timer ticks to run offscreen (default 150, six simulated seconds)")
    parser.add_argument("--minutes", type=run_minutes, default=None,
                        help="offscreen long run of this many simulated minutes, reporting the per-tick time "
                             "minute by minute (overrides --ticks)")
    parser.add_argument("--exit-after", type=positive_number, default=None, metavar="SECONDS",
                        help="in a window: close it after this many seconds and exit with status 0 "
                             "(the offscreen run ends by itself)")
    parser.add_argument("--screenshots", type=Path, default=Path("screenshots"),
                        help="folder for the offscreen PNG screenshots and summary.json (default screenshots/)")
    parser.add_argument("--readme-screenshot", type=Path, default=None,
                        help="also save the Streaming tab's window screenshot at this path (for docs/demo.png)")
    parser.add_argument("--inspect-screenshot", type=Path, default=None,
                        help="also save the window with the streaming charts paused, zoomed into a dropout and "
                             "the readout showing at this path (for docs/inspect.png)")
    parser.add_argument("--report-every", type=whole_number(1), default=25,
                        help="offscreen: print the per-tick measurements averaged over this many ticks")
    parser.add_argument("--display-budget", type=display_budget, default=DISPLAY_BUDGET, metavar="POINTS",
                        help="most points a streaming line is written with; a window of more samples is drawn "
                             "as min/max pairs (default auto: two per pixel column of the plot; 0: every sample "
                             "as a point)")
    parser.add_argument("--seed", type=int, default=7, help="seed of the simulated instruments")
    return parser.parse_args(argv)


def wants_offscreen(args: argparse.Namespace) -> bool:
    if args.offscreen or args.minutes is not None or os.environ.get("QT_QPA_PLATFORM") == "offscreen":
        return True
    has_display = bool(os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"))
    return sys.platform.startswith(("linux", "freebsd", "openbsd", "netbsd")) and not has_display


# ---------------------------------------------------------------- charts


class Channel:
    def __init__(self, name: str, color: str, sensor: Sensor, *, mark_dropouts: bool = False) -> None:
        self.name, self.color, self.sensor = name, color, sensor
        self.mark_dropouts = mark_dropouts
        self.last_value = math.nan  # the newest sample that was not lost
        self.lost = False           # whether the newest sample was lost
        self.lost_samples = 0       # lost samples so far


def dropout_starts(ch: Channel, samples: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Where in a block a dropout begins, and the value it interrupts (the last good sample before).

    A dropout that began in an earlier block is not begun again; one with no good sample before it
    (the channel started lost) has nothing to mark. Updates the channel's last value and lost flag.
    """
    lost = np.isnan(samples)
    before = np.empty_like(lost)
    before[0], before[1:] = ch.lost, lost[:-1]
    starts = np.flatnonzero(lost & ~before)
    good = np.flatnonzero(~lost)
    # The newest good sample before each start: one in this block, or the channel's last value.
    values = np.full(len(starts), ch.last_value)
    if good.size:
        k = np.searchsorted(good, starts) - 1
        inside = k >= 0
        values[inside] = samples[good[k[inside]]]
        ch.last_value = float(samples[good[-1]])
    ch.lost = bool(lost[-1])
    keep = ~np.isnan(values)
    return starts[keep], values[keep]


def dropout_window(sensor: Sensor) -> int:
    """The most dropouts that one x window can show: each lasts at least its shortest length, with
    at least one good sample before the next."""
    shortest = sensor.dropout_ms[0] * SAMPLE_RATE // 1000
    return WINDOW_SAMPLES // (shortest + 1) + 2


class StreamingChart:
    """A scrolling chart: one StreamBuffer per channel (and one per dropout-marker series), synced on
    every tick."""

    def __init__(self, root, host: str, title: str, y_title: str, channels: list[Channel], *,
                 fixed_y_range: tuple[float, float] | None = None,
                 display_budget: int | str | None = DISPLAY_BUDGET) -> None:
        from larkui.plotdeck import add_line_to_chart, build_sample_value_chart, make_scatter

        self.host = host
        self.chart, self.axX, self.axY, self.view = build_sample_value_chart(
            root, host, y_title=y_title, x_title="Time (ms)", antialias=True, return_view=True)
        self.chart.setTitle(title)
        self.fixed_y_range = fixed_y_range
        self.channels = channels
        self.buffers = [self.make_buffer(add_line_to_chart(self.chart, self.axX, self.axY, ch.name, ch.color, 1.5),
                                         display_budget=display_budget)
                        for ch in channels]
        # A lost sample is a gap in its line; a marker at the start of each dropout, at the value it
        # interrupted, makes a short gap easy to find.
        self.dropout_buffers: dict[int, Any] = {}
        for i, ch in enumerate(channels):
            if ch.mark_dropouts:
                dots = make_scatter(self.chart, "Dropout", 7.0, "#ffbf00", "#7a5200", 1.0)
                dots.attachAxis(self.axX)
                dots.attachAxis(self.axY)
                self.dropout_buffers[i] = self.make_buffer(dots, dropout_window(ch.sensor))
        self.buffers += self.dropout_buffers.values()
        self.mirrors: list[Any] = []  # other displays of the same channels, fed the same blocks (the Qt Graphs tab)
        for marker in self.chart.legend().markers():
            marker.clicked.connect(partial(self.toggle_from_legend, marker))

    @staticmethod
    def make_buffer(series, window: int | None = None, *, display_budget: int | str | None = DISPLAY_BUDGET):
        """The buffer behind one series: where every streaming buffer is made.

        A line (no `window` given) shows the newest WINDOW_SAMPLES samples, exactly the x window.
        A marker series shows each of its newest `window` markers (no decimation) and keeps no
        history: the sync takes the y range from the buffers' stores.
        """
        from larkui.streaming import StreamBuffer

        if window is None:
            return StreamBuffer(series, WINDOW_SAMPLES, display_budget=display_budget)
        return StreamBuffer(series, window, display_budget=None, max_history=0)

    def toggle_from_legend(self, marker) -> None:
        """A legend click hides or shows its series, as the user expects of a legend."""
        series = marker.series()
        buffer = next(b for b in self.buffers if b.series == series)
        showing = not series.isVisible()
        if showing:
            buffer.clear()  # restart the line at the present instead of bridging the hidden stretch
        series.setVisible(showing)
        marker.setVisible(True)  # hiding a series hides its marker too; keep it there to click again
        alpha = 255 if showing else 90
        for getter, setter in ((marker.labelBrush, marker.setLabelBrush), (marker.brush, marker.setBrush)):
            brush = getter()
            color = brush.color()
            color.setAlpha(alpha)
            brush.setColor(color)
            setter(brush)

    def feed(self, start: int) -> int:
        """Reads one tick of samples from every channel into the buffers; returns the points added."""
        x = np.arange(start + 1, start + SAMPLES_PER_TICK + 1, dtype=np.float64)
        added = 0
        for i, (ch, buffer) in enumerate(zip(self.channels, self.buffers)):
            samples = ch.sensor.read(start, SAMPLES_PER_TICK)
            ch.lost_samples += int(np.isnan(samples).sum())
            dropouts = self.dropout_buffers.get(i)
            at, values = dropout_starts(ch, samples) if dropouts is not None else ((), ())
            for mirror in self.mirrors:
                mirror.add_block(i, x, samples, at, values)
            # A hidden channel is not fed: shown again, its line starts afresh at the present.
            if not buffer.is_visible:
                continue
            buffer.add_points(x, samples)
            added += len(samples)
            if len(at) and dropouts.is_visible:
                dropouts.add_points(x[at], values)
                added += len(at)
        return added

    def sync(self) -> float:
        """Sets the chart's axes and writes its lines: where every streaming sync happens. The axes get
        round ticks whose labels fit the plot area as it is now (the window may have been resized)."""
        from larkui.streaming import sync_stream_chart

        t0 = time.perf_counter()
        sync_stream_chart(self.buffers, self.axX, self.axY, WINDOW_SAMPLES, fixed_y_range=self.fixed_y_range)
        return time.perf_counter() - t0


class SnapshotChart:
    """A frame-snapshot chart: each series shows one whole frame, replaced on every tick."""

    def __init__(self, root, host: str, title: str, x_title: str, y_title: str, series: list[tuple[str, str]], *,
                 x_step: float, y_step: float, y_format: str = "%d",
                 fixed_y_range: tuple[float, float] | None = None) -> None:
        from PySide6.QtCharts import QValueAxis

        from larkui.plotdeck import TimeSeriesBuffer, add_line_to_chart, build_sample_value_chart

        self.host = host
        self.chart, self.axX, self.axY, self.view = build_sample_value_chart(
            root, host, y_title=y_title, x_title=x_title, antialias=True, return_view=True)
        self.chart.setTitle(title)
        self.axY.setLabelFormat(y_format)
        # The snapshot sync sets ranges only; ticks on round values keep moving ranges readable.
        for axis, step in ((self.axX, x_step), (self.axY, y_step)):
            axis.setTickType(QValueAxis.TickType.TicksDynamic)
            axis.setTickAnchor(0.0)
            axis.setTickInterval(step)
        self.fixed_y_range = fixed_y_range
        self.buffers = [TimeSeriesBuffer(add_line_to_chart(self.chart, self.axX, self.axY, name, color, 1.5))
                        for name, color in series]

    def sync(self) -> float:
        from larkui.plotdeck import sync_snapshot_chart

        t0 = time.perf_counter()
        sync_snapshot_chart(self.buffers, self.axX, self.axY, self.fixed_y_range)
        return time.perf_counter() - t0


# ---------------------------------------------------------------- the window


class DemoWindow:
    def __init__(self, seed: int, display_budget: int | str | None = DISPLAY_BUDGET) -> None:
        from PySide6.QtCore import QBuffer, QByteArray, QIODevice, Qt
        from PySide6.QtUiTools import QUiLoader
        from PySide6.QtWidgets import (QCheckBox, QHBoxLayout, QLabel, QLineEdit, QListWidget, QMainWindow,
                                       QPushButton, QStatusBar, QTabWidget, QWidget)

        from larkui.finders import find_child_safe
        from larkui.plotdeck import wrap_dynamic_charts_into_tabs

        # The .ui file is package data: read it through importlib, wherever the package lives.
        ui_data = QBuffer()
        ui_data.setData(QByteArray(resources.files("larkui.demo").joinpath("window.ui").read_bytes()))
        ui_data.open(QIODevice.OpenModeFlag.ReadOnly)
        window = QUiLoader().load(ui_data, None)
        ui_data.close()
        if not isinstance(window, QMainWindow):
            raise RuntimeError("QUiLoader could not build window.ui")
        self.window = window

        self.path_edit = find_child_safe(window, QLineEdit, "pathEdit")
        self.filter_edit = find_child_safe(window, QLineEdit, "filterEdit")
        self.sort_check = find_child_safe(window, QCheckBox, "sortDatecodeCheck")
        self.file_list = find_child_safe(window, QListWidget, "fileList")
        self.output_label = find_child_safe(window, QLabel, "outputLabel")
        self.last_dir_label = find_child_safe(window, QLabel, "lastDirLabel")
        self.status = find_child_safe(window, QStatusBar, "statusbar")
        find_child_safe(window, QPushButton, "browseButton").clicked.connect(self.browse)
        find_child_safe(window, QPushButton, "collectButton").clicked.connect(self.collect)

        # The four streaming hosts come from the .ui file (found and moved); the spectrum hosts
        # do not exist there and are created.
        chart_area = find_child_safe(window, QWidget, "chartArea")
        self.hosts = wrap_dynamic_charts_into_tabs(
            chart_area, {"Streaming": STREAMING_HOSTS, "Spectrum": SPECTRUM_HOSTS, "Qt Graphs": GRAPH_HOSTS},
            cols=2, root_margins=(0, 0, 0, 0), min_cell_size=(460, 372))
        tabs = chart_area.findChild(QTabWidget)  # the one tab widget the call made
        if tabs is None:
            raise RuntimeError("wrap_dynamic_charts_into_tabs made no tab widget")
        self.tabs = tabs

        rng = np.random.default_rng(seed)
        streaming = partial(StreamingChart, window, display_budget=display_budget)
        self.display_budget = display_budget
        self.streaming = [
            streaming("w_temperature", "Coolant temperature", "°C", [
                Channel("Inlet", "#1f77b4", Sensor(rng, base=21.5, drift=0.8, amplitude=0.3, period_s=9, noise=0.08)),
                Channel("Outlet", "#d62728", Sensor(rng, base=25.0, drift=1.0, amplitude=0.4, period_s=9,
                                                    phase=1.0, noise=0.08)),
            ]),
            streaming("w_pressure", "Line pressure (with dropouts)", "kPa", [
                Channel("Line", "#2ca02c", Sensor(rng, base=101.0, drift=4.0, amplitude=22.0, period_s=3.5,
                                                  noise=1.2, dropouts_per_min=20), mark_dropouts=True),
            ]),
            streaming("w_vibration", "Vibration (a legend click hides a series)", "m/s²", [
                Channel("X", "#9467bd", Sensor(rng, base=0.0, drift=0.2, amplitude=1.2, period_s=0.9, noise=0.25)),
                Channel("Y", "#ff7f0e", Sensor(rng, base=0.0, drift=0.2, amplitude=0.8, period_s=1.3, noise=0.25)),
                Channel("Z", "#17becf", Sensor(rng, base=9.81, drift=0.2, amplitude=0.5, period_s=0.7, noise=0.25)),
            ]),
            streaming("w_flow", "Coolant flow (fixed range)", "L/min", [
                Channel("Pump A", "#8c564b", Sensor(rng, base=34.0, drift=5.0, amplitude=3.0, period_s=6,
                                                    noise=1.0, dropouts_per_min=12)),
                Channel("Pump B", "#e377c2", Sensor(rng, base=22.0, drift=4.0, amplitude=2.0, period_s=5,
                                                    noise=1.0)),
            ], fixed_y_range=(0.0, 60.0)),
        ]
        self.graphs = [GraphStreamingChart(window, host, chart) for host, chart in zip(GRAPH_HOSTS, self.streaming)]
        # Stop and look: the four streaming charts share one x range and one paused state (pausing,
        # zooming or panning one does it to all, each keeping its own y axis), and the button beside
        # them pauses and resumes the group; its text follows the group's signals, so Space on a
        # chart or a right-drag that pauses it changes the button too.
        from larkui.streaming import live_view

        self.live_views = [live_view(chart.view) for chart in self.streaming]
        for live in self.live_views[1:]:
            live.link_x(self.live_views[0])
        corner = QWidget()
        row = QHBoxLayout(corner)
        row.setContentsMargins(0, 0, 4, 2)
        self.inspect_hint = QLabel(LIVE_HINT)
        self.inspect_hint.setObjectName("inspectHint")
        self.inspect_hint.setStyleSheet("color: #666")
        self.pause_button = QPushButton("Pause all")
        self.pause_button.setObjectName("pauseAllButton")
        self.pause_button.setToolTip("Stops the four streaming charts where they are (the sensors go on "
                                     "recording); again to return to the live view")
        self.pause_button.clicked.connect(self.toggle_pause)
        row.addWidget(self.inspect_hint)
        row.addWidget(self.pause_button)
        self.live_views[0].paused.connect(self.show_paused)
        self.live_views[0].resumed.connect(self.show_live)
        tabs.setCornerWidget(corner, Qt.Corner.TopRightCorner)
        tabs.currentChanged.connect(lambda index: corner.setVisible(tabs.tabText(index) == "Streaming"))

        self.chirp = ChirpSource(rng)
        self.spectrum = [
            SnapshotChart(window, "w_chirp_frame", f"Chirp: the latest {SCOPE} ms", "Sample", "Amplitude",
                          [("Signal", "#1f77b4")], x_step=20, y_step=0.5, y_format="%.1f"),
            SnapshotChart(window, "w_spectrum", "Spectrum of the latest 1 s frame", "Frequency (Hz)",
                          "Magnitude (dB)", [("Peak hold (this sweep)", "#bbbbbb"), ("Magnitude", "#d62728")],
                          x_step=100, y_step=20),
            SnapshotChart(window, "w_chirp_zoom", "Around the chirp's frequency", "Frequency (Hz)", "Magnitude",
                          [("Magnitude", "#2ca02c")], x_step=20, y_step=0.05, y_format="%.2f"),
            SnapshotChart(window, "w_hum", "Mains hum band, 30–70 Hz (fixed range)", "Frequency (Hz)", "Magnitude",
                          [("Magnitude", "#9467bd")], x_step=10, y_step=0.2, y_format="%.1f",
                          fixed_y_range=(0.0, 1.0)),
        ]
        self.sample = 0  # samples taken so far, per channel
        self.chirp_tail = np.zeros(FRAME)
        self.peak_db: np.ndarray | None = None
        self.last_sweep = -1
        self.window.resize(1400, 860)

    # ---- pausing the streaming charts

    def toggle_pause(self) -> None:
        """The "Pause all" button: pauses the linked streaming charts, or resumes them."""
        self.live_views[0].toggle()

    def show_paused(self) -> None:
        self.pause_button.setText("Resume all")
        self.inspect_hint.setText(PAUSED_HINT)

    def show_live(self) -> None:
        self.pause_button.setText("Pause all")
        self.inspect_hint.setText(LIVE_HINT)

    # ---- the GUI timer's work

    def tick(self) -> dict[str, float]:
        """One timer tick: the producers hand data to the buffers, then each chart is synced."""
        start = self.sample
        added = sum(chart.feed(start) for chart in self.streaming)
        self.feed_spectrum(start)
        self.sample += SAMPLES_PER_TICK
        scroll_s = sum(chart.sync() for chart in self.streaming)
        t0 = time.perf_counter()
        for graph in self.graphs:
            graph.sync()
        graphs_s = time.perf_counter() - t0
        snap_s = sum(chart.sync() for chart in self.spectrum)
        # Every visible line was written whole: the points its series now holds.
        written = sum(b.series.count() for c in self.streaming for b in c.buffers[:len(c.channels)] if b.is_visible)
        return {"scrolling_s": scroll_s, "snapshot_s": snap_s, "graphs_s": graphs_s, "points": added, "written": written,
                "frame_points": sum(len(b.last_snapshot_data) for c in self.spectrum for b in c.buffers
                                    if b.last_snapshot_data is not None)}

    def feed_spectrum(self, start: int) -> None:
        # Every frame handed to set_data is a new array: the buffer keeps the caller's object, not a copy.
        self.chirp_tail = np.concatenate((self.chirp_tail[SAMPLES_PER_TICK:],
                                          self.chirp.read(start, SAMPLES_PER_TICK)))
        end = start + SAMPLES_PER_TICK
        mag = magnitude_spectrum(self.chirp_tail)  # bin k is k Hz
        db = 20.0 * np.log10(np.maximum(mag, 1e-5))
        sweep = int(end / SAMPLE_RATE // self.chirp.sweep_s)
        if sweep != self.last_sweep or self.peak_db is None:
            self.peak_db, self.last_sweep = db, sweep
        else:
            self.peak_db = np.maximum(self.peak_db, db)

        frame_chart, spectrum_chart, zoom_chart, hum_chart = self.spectrum
        frame_chart.buffers[0].set_data(self.chirp_tail[-SCOPE:], end - SCOPE + 1)
        # Bin 0 (DC) is left out: the frames start at x offset 1, so x reads in Hz.
        spectrum_chart.buffers[0].set_data(self.peak_db[1:], 1.0)
        spectrum_chart.buffers[1].set_data(db[1:], 1.0)
        f = self.chirp.frequency(end)
        lo = int(min(max(round(f) - 40, 1), len(mag) - 81))
        zoom_chart.buffers[0].set_data(mag[lo:lo + 81], lo)
        hum_chart.buffers[0].set_data(mag[30:71], 30.0)

    # ---- the files panel

    def browse(self) -> None:
        from larkui.choosers import pick_folder_path

        # A folder already typed into the line edit is where the user wants to start: make it the
        # remembered folder, which is where the dialog opens.
        typed = self.path_edit.text().strip()
        if typed and Path(typed).is_dir():
            setattr(self.window, LAST_DIR_ATTR, Path(typed).absolute())
        folder = pick_folder_path(self.window, line_edit=self.path_edit, title="Choose a data folder",
                                  last_dir_obj=self.window, last_dir_attr=LAST_DIR_ATTR)
        remembered = getattr(self.window, LAST_DIR_ATTR, None)
        self.last_dir_label.setText(f"Last folder: {remembered if remembered is not None else '–'}")
        if folder:
            self.collect()

    def collect(self) -> None:
        from larkui.choosers import collect_files_from_lineEdit

        result = collect_files_from_lineEdit(self.window, self.path_edit, "results", self.filter_edit.text().split(),
                                             sort_datecode=self.sort_check.isChecked())
        self.file_list.clear()
        if result is None:
            self.output_label.setText("Output folder: –")
            # A missing path or an error was shown in a message box; no match is not, so say it here.
            typed = self.path_edit.text().strip()
            if typed and Path(typed).is_dir():
                self.file_list.addItem(f"No matching files in {typed}")
            elif typed and Path(typed).is_file():
                self.file_list.addItem(f"{Path(typed).name} does not match the extensions")
            else:
                self.file_list.addItem("(nothing collected)")
            return
        _paths, names, out_dir = result
        self.file_list.addItems([str(n) for n in names])
        self.output_label.setText(f"Output folder: {out_dir}")


def write_sample_data(folder: Path) -> None:
    """A small data folder for the files panel: runs with date codes, out of order, and other files."""
    rng = np.random.default_rng(3)
    for name in ("pump_20250301_081500.csv", "pump_20250228_171000.csv", "pump_20250301_120000.bin",
                 "pump_20250227.csv", "calibration.csv", "notes.txt"):
        path = folder / name
        if name.endswith(".bin"):
            path.write_bytes(rng.standard_normal(256).astype("<f4").tobytes())
        elif name.endswith(".csv"):
            rows = "\n".join(f"{i},{v:.4f}" for i, v in enumerate(34 + rng.standard_normal(50)))
            path.write_text("sample,flow_l_min\n" + rows + "\n", encoding="utf-8")
        else:
            path.write_text("Sample data written by the larkui demo.\n", encoding="utf-8")


# ---------------------------------------------------------------- offscreen run


def quiet_qt_messages() -> None:
    """The offscreen platform says on every window shown that it cannot propagate size hints."""
    from PySide6.QtCore import qInstallMessageHandler

    def handler(_mode, _context, message: str) -> None:
        if "propagateSizeHints" in message:
            return
        sys.stderr.write(message + "\n")

    qInstallMessageHandler(handler)


def answer_next_folder_dialog(folder: Path, seen: dict[str, str]) -> None:
    """Offscreen, play the user: choose `folder` in the dialog that is about to open.

    The folder the dialog opened in goes into `seen["started_in"]`.
    """
    from PySide6.QtCore import QTimer
    from PySide6.QtWidgets import QApplication, QFileDialog

    def answer() -> None:
        dialog = QApplication.activeModalWidget()
        if isinstance(dialog, QFileDialog):
            seen["started_in"] = dialog.directory().absolutePath()
            dialog.setDirectory(str(folder))
            dialog.accept()
        elif dialog is not None:
            dialog.close()

    QTimer.singleShot(0, answer)


def close_stray_dialogs() -> None:
    """Offscreen no one can dismiss a modal box; close any that stays open for more than a second."""
    from PySide6.QtCore import QTimer
    from PySide6.QtWidgets import QApplication

    seen: dict[int, float] = {}

    def check() -> None:
        dialog = QApplication.activeModalWidget()
        if dialog is None:
            return
        first = seen.setdefault(id(dialog), time.monotonic())
        if time.monotonic() - first > 1.0:
            print(f"closing an unexpected dialog: {dialog.windowTitle()!r}", file=sys.stderr)
            dialog.close()

    timer = QTimer(QApplication.instance())
    timer.timeout.connect(check)
    timer.start(200)


def list_items(widget) -> list[str]:
    return [widget.item(i).text() for i in range(widget.count())]


def axis_summary(axis) -> dict:
    """What decides where an axis's labels go and how big they are."""
    from PySide6.QtCharts import QValueAxis

    dynamic = axis.tickType() == QValueAxis.TickType.TicksDynamic
    return {"range": [axis.min(), axis.max()], "tick_type": "dynamic" if dynamic else "fixed",
            "tick_count": axis.tickCount(), "tick_anchor": axis.tickAnchor(), "tick_interval": axis.tickInterval(),
            "label_format": axis.labelFormat(), "labels_font": axis.labelsFont().toString()}


def window_grab(demo):
    """The window as it is on screen. A QWidget grab paints a QQuickWidget from an image that the
    offscreen software renderer does not keep up to date, so each graph's own frame goes on top."""
    from PySide6.QtCore import QPoint
    from PySide6.QtGui import QPainter

    image = demo.window.grab()
    painter = QPainter(image)
    for graph in demo.graphs:
        if graph.widget.isVisible():
            painter.drawImage(graph.widget.mapTo(demo.window, QPoint(0, 0)), graph.widget.grabFramebuffer())
    painter.end()
    return image


def chart_summary(chart) -> dict:
    """What a person reads off a chart: the axis ranges and, per series, the data inside the x window."""
    x_min, x_max = chart.axX.min(), chart.axX.max()
    series_info = {}
    for buffer in chart.buffers:
        series = buffer.series
        pts = [(p.x(), p.y()) for p in series.points()]
        inside = [y for x, y in pts if x_min <= x <= x_max and math.isfinite(y)]
        # The values the chart was last fed: the scrolling history, or the whole frame.
        fed = buffer.history if isinstance(chart, StreamingChart) else list(buffer.last_snapshot_data)
        fed = [y for y in fed if math.isfinite(y)]
        if isinstance(chart, StreamingChart):
            series_extra = {"window": buffer.window, "display_budget": buffer.display_budget}
        else:
            series_extra = {}
        series_info[series.name()] = series_extra | {
            "visible": series.isVisible(),
            "count": len(pts),
            "first_x": pts[0][0] if pts else None,
            "last_x": pts[-1][0] if pts else None,
            "y_min_in_window": min(inside) if inside else None,
            "y_max_in_window": max(inside) if inside else None,
            "y_min_fed": min(fed) if fed else None,
            "y_max_fed": max(fed) if fed else None,
            "kind": type(series).__name__,
            "gaps": sum(1 for _, y in pts if y != y),
            "color": series.color().name(),
            "points_in_window": len(inside),
        }
    area = chart.view.mapFromScene(chart.chart.mapToScene(chart.chart.plotArea())).boundingRect()
    extra = {}
    if isinstance(chart, StreamingChart):
        extra["lost_samples"] = {ch.name: ch.lost_samples for ch in chart.channels}
    return extra | {"title": chart.chart.title(), "x_range": [x_min, x_max], "y_range": [chart.axY.min(), chart.axY.max()],
            "fixed_y_range": list(chart.fixed_y_range) if chart.fixed_y_range else None,
            "plot_area": [area.x(), area.y(), area.width(), area.height()], "series": series_info,
            "axes": {"x": axis_summary(chart.axX), "y": axis_summary(chart.axY)}}


def run_offscreen(app, demo: DemoWindow, args: argparse.Namespace) -> int:
    out = args.screenshots
    out.mkdir(parents=True, exist_ok=True)
    close_stray_dialogs()
    demo.window.show()
    app.processEvents()

    files: dict[str, Any] = {}
    with tempfile.TemporaryDirectory(prefix="larkui-demo-") as tmp:
        # The user types the folder that holds the data, presses Browse (the dialog, answered here,
        # opens in the typed folder) and picks the data folder in it; the files are collected.
        data_dir = Path(tmp) / "measurements"
        data_dir.mkdir()
        write_sample_data(data_dir)
        demo.path_edit.setText(tmp)
        dialog: dict[str, str] = {}
        answer_next_folder_dialog(data_dir, dialog)
        demo.browse()
        files = {"typed": tmp, "dialog_started_in": dialog.get("started_in"), "path": demo.path_edit.text(),
                 "listed": list_items(demo.file_list), "output": demo.output_label.text(),
                 "last_dir": demo.last_dir_label.text()}
        print(f"files panel: typed {tmp}, the dialog opened in {files['dialog_started_in']}, "
              f"picked {files['path']}")
        print(f"  collected: {', '.join(files['listed'])}")
        print(f"  {files['output']}")
        # An empty folder: nothing matches, which the panel says.
        empty = Path(tmp) / "empty"
        empty.mkdir()
        demo.path_edit.setText(str(empty))
        demo.collect()
        files["empty_folder_listed"] = list_items(demo.file_list)
        print(f"  an empty folder: {'; '.join(files['empty_folder_listed'])}")
        demo.path_edit.setText(files["path"])
        demo.collect()

    before_hiding: dict[str, Any] = {}

    def hide_z_from_legend() -> None:
        """Half-way through, the user hides the vibration chart's Z axis (gravity squashes X and Y)."""
        vibration = demo.streaming[2]
        vibration.view.grab().save(str(out / f"chart-{vibration.host}-z-shown.png"))
        before_hiding[vibration.host] = chart_summary(vibration) | {
            "tab": "Streaming", "screenshot": f"chart-{vibration.host}-z-shown.png"}
        for marker in vibration.chart.legend().markers():
            if marker.label() == "Z":
                marker.clicked.emit()

    ticks = args.ticks if args.minutes is None else minutes_to_ticks(args.minutes)
    ticks_per_minute = 60_000 // TICK_MS
    rows: list[dict[str, float]] = []
    print(f"{ticks} ticks of {TICK_MS} ms ({ticks * TICK_MS / 1000:.0f} simulated s), "
          f"sensors at {SAMPLE_RATE} Hz, windows of {WINDOW_SAMPLES} samples "
          f"{budget_text(demo.display_budget)}")
    # "tick cpu" is the processor time the tick took: on a busy machine the wall time also holds
    # the time the process waited for a core.
    # "samples in": what the producers handed the streaming buffers in a tick; "points out": what the
    # streaming lines held after it (each window written as min/max pairs at the plot's resolution).
    print(f"{'ticks':>11} {'scroll sync':>12} {'snap sync':>10} {'tick':>9} {'tick cpu':>9} {'samples in':>10} "
          f"{'points out':>10}")
    block: list[dict[str, float]] = []
    for i in range(ticks):
        if i == ticks // 2:
            hide_z_from_legend()
        t0, cpu0 = time.perf_counter(), time.process_time()
        row = demo.tick()
        app.processEvents()  # repaint as the event loop would between ticks
        row["tick_s"] = time.perf_counter() - t0
        row["tick_cpu_s"] = time.process_time() - cpu0
        rows.append(row)
        block.append(row)
        if args.minutes is None and len(block) == args.report_every:
            print_block(i + 1, block)
            block = []
        elif args.minutes is not None and len(block) == ticks_per_minute:
            print_block(i + 1, block, label=f"minute {(i + 1) // ticks_per_minute}")
            block = []
    if block:
        print_block(ticks, block)

    sync_s = [r["scrolling_s"] + r["snapshot_s"] for r in rows]
    print(f"per tick: sync median {statistics.median(sync_s) * 1e3:.2f} ms, max {max(sync_s) * 1e3:.2f} ms; "
          f"tick median {statistics.median(r['tick_s'] for r in rows) * 1e3:.2f} ms "
          f"({statistics.median(r['tick_cpu_s'] for r in rows) * 1e3:.2f} ms processor time)")
    # Per second of simulated time: eight channels at SAMPLE_RATE, less the channels hidden a while.
    plotted = sum(r["points"] for r in rows) / (ticks * TICK_MS / 1000)
    written = statistics.mean(r["written"] for r in rows[-min(ticks, 25):])
    print(f"streaming: {plotted:,.0f} samples/s plotted (simulated time); the lines held {written:,.0f} points "
          f"after each of the last ticks; sync_stream_chart wrote "
          f"{sum(r['written'] for r in rows) / sum(r['scrolling_s'] for r in rows):,.0f} points/s of its own time")
    if args.minutes is not None and ticks >= 2 * ticks_per_minute:
        first = statistics.mean(r["tick_s"] for r in rows[:ticks_per_minute])
        last = statistics.mean(r["tick_s"] for r in rows[-ticks_per_minute:])
        first_cpu = statistics.mean(r["tick_cpu_s"] for r in rows[:ticks_per_minute])
        last_cpu = statistics.mean(r["tick_cpu_s"] for r in rows[-ticks_per_minute:])
        print(f"long run: first minute {first * 1e3:.2f} ms/tick, last minute {last * 1e3:.2f} ms/tick, "
              f"ratio {last / first:.2f} ({'within' if last <= 2 * first else 'NOT within'} 2x); "
              f"processor time {first_cpu * 1e3:.2f} and {last_cpu * 1e3:.2f} ms/tick")
        longest = max(b.series.count() for c in demo.streaming for b in c.buffers)
        print(f"longest streaming series: {longest} points (window {WINDOW_SAMPLES} samples, "
              f"{budget_text(demo.display_budget)[1:-1]})")

    graphs_s = [r["graphs_s"] for r in rows]
    renderer = demo.graphs[0].widget.quickWindow().rendererInterface().graphicsApi().name
    shown = "" if demo.graphs[0].widget.isVisible() else ", its tab hidden: not synced until shown"
    print(f"Qt Graphs tab (the streaming channels again, renderer {renderer}{shown}): sync median "
          f"{statistics.median(graphs_s) * 1e3:.2f} ms per tick")
    demo.status.showMessage(f"{demo.sample / SAMPLE_RATE:.0f} s simulated · sync {statistics.median(sync_s) * 1e3:.1f} ms "
                            f"per tick (median) · {SAMPLE_RATE} plotted samples/s per channel")
    summary: dict[str, Any] = {"ticks": ticks, "samples_per_channel": demo.sample, "window_samples": WINDOW_SAMPLES,
               "display_budget": demo.display_budget, "tabs": [], "charts": {}, "graphs": {},
               "charts_before_hiding": before_hiding, "files": files}
    tabs = demo.tabs
    for index in range(tabs.count()):
        label = tabs.tabText(index)
        slug = TAB_SLUGS.get(label, label.lower())
        tabs.setCurrentIndex(index)
        app.processEvents()
        if label == "Qt Graphs":
            # Shown and laid out now: the graphs write what their buffers hold for their plot
            # areas, and once more after a frame (Qt Graphs places labels for the frame before).
            for graph in demo.graphs:
                graph.sync()
                graph.widget.grabFramebuffer()
                graph.sync()
                app.processEvents()
                graph.widget.grabFramebuffer()  # renders the settled frame now, for the grabs below
        shot = out / f"{slug}.png"
        window_grab(demo).save(str(shot))
        if label == "Qt Graphs":
            for graph in demo.graphs:
                graph.widget.grabFramebuffer().save(str(out / f"graph-{graph.host}.png"))
                summary["graphs"][graph.host] = graph.summary() | {"tab": label, "screenshot": f"graph-{graph.host}.png"}
            summary["tabs"].append({"label": label, "screenshot": shot.name})
            continue
        charts = demo.streaming if label == "Streaming" else demo.spectrum
        for chart in charts:
            chart.view.grab().save(str(out / f"chart-{chart.host}.png"))
            summary["charts"][chart.host] = chart_summary(chart) | {"tab": label,
                                                                    "screenshot": f"chart-{chart.host}.png"}
        summary["tabs"].append({"label": label, "screenshot": shot.name})
        if label == "Streaming" and args.readme_screenshot:
            args.readme_screenshot.parent.mkdir(parents=True, exist_ok=True)
            demo.window.grab().save(str(args.readme_screenshot))
    tabs.setCurrentIndex(0)
    app.processEvents()
    summary["inspect"] = inspect_a_dropout(app, demo, out, args.inspect_screenshot)
    (out / "summary.json").write_text(json.dumps(summary, indent=2, ensure_ascii=False), encoding="utf-8")
    print(f"screenshots: {', '.join(t['screenshot'] for t in summary['tabs'])} and one per chart in {out}/")
    return 0


def inspect_a_dropout(app, demo: DemoWindow, out: Path, copy_to: Path | None) -> dict:
    """The user stops the streaming charts, zooms into the pressure chart's latest dropout and points
    at it: a screenshot of the window (inspect.png), then the charts go live again."""
    from PySide6.QtCore import QEvent, QPointF, Qt
    from PySide6.QtGui import QMouseEvent
    from PySide6.QtWidgets import QApplication

    pressure = demo.streaming[1]
    live = demo.live_views[1]
    demo.pause_button.click()
    app.processEvents()
    paused = [lv.is_paused for lv in demo.live_views]
    button_paused = demo.pause_button.text()
    # The store holds the newest samples; sample n has x = n.
    line = pressure.buffers[0]
    held = np.asarray(line.history)
    first_x = demo.sample - len(held) + 1
    lost = np.isnan(held)
    starts = np.flatnonzero(lost[1:] & ~lost[:-1]) + 1
    ends = np.flatnonzero(~lost[1:] & lost[:-1]) + 1  # the first good sample after each dropout
    dropout = None
    for start in starts[::-1]:
        after = ends[ends > start]
        if len(after):
            dropout = (first_x + int(start), first_x + int(after[0]))
            break
    if dropout:
        lo, hi = dropout[0] - 300.0, dropout[1] + 300.0
        at = (dropout[0] + dropout[1]) / 2
    else:  # a run too short for a dropout: the newest few hundred samples
        lo, hi = demo.sample - 800.0, float(demo.sample)
        at = demo.sample - 400.0
    live.set_x_range(lo, hi)
    app.processEvents()
    # The mouse comes to rest over the dropout, half-way up the plot.
    chart, view = pressure.chart, pressure.view
    mid_y = (pressure.axY.min() + pressure.axY.max()) / 2
    spot = view.mapFromScene(chart.mapToScene(chart.mapToPosition(QPointF(at, mid_y), line.series)))
    viewport = view.viewport()
    QApplication.sendEvent(viewport, QMouseEvent(QEvent.Type.MouseMove, QPointF(spot), QPointF(viewport.mapToGlobal(spot)),
                                                 Qt.MouseButton.NoButton, Qt.MouseButton.NoButton,
                                                 Qt.KeyboardModifier.NoModifier))
    app.processEvents()
    shot = demo.window.grab()
    shot.save(str(out / "inspect.png"))
    if copy_to:
        copy_to.parent.mkdir(parents=True, exist_ok=True)
        shot.save(str(copy_to))
    readout = live.readout
    found = {"screenshot": "inspect.png", "paused": paused, "button_paused": button_paused,
             "hint_paused": demo.inspect_hint.text(), "dropout": list(dropout) if dropout else None,
             "x_ranges": [list(lv.x_range) for lv in demo.live_views], "hover_x": at,
             "readout": None if readout is None else
             [readout[0], [[series.name(), x, None if math.isnan(y) else y] for series, x, y in readout[1]]],
             "readouts_shown": sum(lv.readout is not None for lv in demo.live_views),
             "pressure": chart_summary(pressure)}
    leave = QEvent(QEvent.Type.Leave)
    QApplication.sendEvent(viewport, leave)
    demo.pause_button.click()
    app.processEvents()
    found |= {"resumed": [not lv.is_paused for lv in demo.live_views], "button_live": demo.pause_button.text(),
              "x_range_live": [pressure.axX.min(), pressure.axX.max()]}
    print(f"inspect: paused the streaming charts, zoomed to x {lo:.0f}..{hi:.0f}"
          + (f" around the dropout at {dropout[0]}..{dropout[1] - 1}" if dropout else "")
          + f", the readout at x = {at:g}; screenshot {found['screenshot']}; resumed")
    return found


def budget_text(budget: int | str | None) -> str:
    if budget == "auto":
        return "(display budget: two points per pixel column)"
    return f"(display budget {budget} points)" if budget else "(no display budget)"


def print_block(done: int, block: list[dict[str, float]], label: str | None = None) -> None:
    n = len(block)
    scroll = sum(r["scrolling_s"] for r in block) / n
    snap = sum(r["snapshot_s"] for r in block) / n
    tick = sum(r["tick_s"] for r in block) / n
    cpu = sum(r["tick_cpu_s"] for r in block) / n
    taken = sum(r["points"] for r in block) / n
    written = sum(r["written"] for r in block) / n
    print(f"{label or f'{done - n + 1}-{done}':>11} {scroll * 1e3:9.2f} ms {snap * 1e3:7.2f} ms "
          f"{tick * 1e3:6.2f} ms {cpu * 1e3:6.2f} ms {taken:10.0f} {written:10.0f}")


# ---------------------------------------------------------------- interactive run


def run_interactive(app, demo: DemoWindow, exit_after: float | None = None) -> int:
    """The window on the screen, its timer ticking, until the user closes it (or `exit_after` seconds)."""
    from PySide6.QtCore import Qt, QTimer

    tmp = tempfile.TemporaryDirectory(prefix="larkui-demo-")
    data_dir = Path(tmp.name) / "measurements"
    data_dir.mkdir()
    write_sample_data(data_dir)
    demo.path_edit.setText(str(data_dir))
    demo.collect()
    stats: list[dict[str, float]] = []
    sync_s: list[float] = []

    def on_timeout() -> None:
        stats.append(demo.tick())
        sync_s.append(stats[-1]["scrolling_s"] + stats[-1]["snapshot_s"])
        if len(stats) == 1000 // TICK_MS:
            sync_ms = sum(r["scrolling_s"] + r["snapshot_s"] for r in stats) / len(stats) * 1e3
            demo.status.showMessage(f"{demo.sample / SAMPLE_RATE:.0f} s simulated · sync {sync_ms:.2f} ms per tick · "
                                    f"{sum(r['points'] for r in stats):,} samples/s plotted")
            stats.clear()

    def close() -> None:
        demo.window.close()
        app.quit()  # also ends a dialog's own event loop, should one be open

    timer = QTimer()
    timer.timeout.connect(on_timeout)
    timer.start(TICK_MS)
    exit_timer = QTimer()
    if exit_after is not None:
        exit_timer.setSingleShot(True)
        exit_timer.setTimerType(Qt.TimerType.PreciseTimer)  # a coarse one may fire up to 5% early
        exit_timer.timeout.connect(close)
        exit_timer.start(round(exit_after * 1000))
    demo.window.show()
    started = time.perf_counter()
    try:
        status = app.exec()
    finally:
        timer.stop()
        tmp.cleanup()
    median = f"{statistics.median(sync_s) * 1e3:.2f} ms" if sync_s else "–"
    print(f"window closed after {time.perf_counter() - started:.1f} s: {len(sync_s)} ticks, sync median {median}")
    return status


def main(argv: list[str] | None = None) -> int:
    args = parse_args(argv)
    offscreen = wants_offscreen(args)
    if offscreen:
        os.environ["QT_QPA_PLATFORM"] = "offscreen"
    from PySide6.QtCore import Qt
    from PySide6.QtWidgets import QApplication

    # QUiLoader loads Qt's designer plugins; one of them asks for this before the application exists.
    QApplication.setAttribute(Qt.ApplicationAttribute.AA_ShareOpenGLContexts)
    app = QApplication.instance() or QApplication(sys.argv[:1])
    quiet_qt_messages()
    demo = DemoWindow(args.seed, args.display_budget)
    return run_offscreen(app, demo, args) if offscreen else run_interactive(app, demo, args.exit_after)


if __name__ == "__main__":
    sys.exit(main())
