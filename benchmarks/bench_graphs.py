"""Qt Graphs against Qt Charts against pyqtgraph: the demo's streaming tab, per-tick CPU time.

The workload is the streaming tab's: 4 plots x 2 lines in a shown 1400x860 window (a 2x2 grid),
1 kHz per line, a rolling window of the newest 4000 samples, a 40 ms GUI timer, offscreen. Every
tick writes each line's window and sets the axes; the event loop then runs until the next tick,
so everything a tick costs is counted, the rendering Qt Quick does from its own timer after the
writes included (CPU time of the process from the start of one tick to the start of the next).
Each variant runs in a fresh subprocess, one after the other, in one invocation:

  graphs         larkui.graphs: build_sample_value_graph + add_line_to_graph with their defaults,
                 written by larkui.streaming (StreamBuffer + sync_stream_chart) where that drives
                 Qt Graphs, else by one replaceNp per line and setRange on changed ranges
  charts         larkui.plotdeck: build_sample_value_chart + add_line_to_chart with their defaults,
                 StreamBuffer + sync_stream_chart (sync_scrolling_chart where there is none)
  pyqtgraph      4 PlotWidgets x 2 curves with pyqtgraph's defaults, setData on the rolling window
  graphs-every, charts-every
                 the larkui variants with every sample written (display_budget=None), where the
                 default budget decimates; the same as the defaults otherwise

Every variant draws the same seeded samples, made before each tick's clock starts. The renderer
Qt Quick used is printed (offscreen it is the software scene graph: no GPU here).

Needs pyqtgraph, a benchmark-only dependency: `pip install pyqtgraph` into the venv.

    python benchmarks/bench_graphs.py                 # 100 warm-up ticks, then 250 measured
    python benchmarks/bench_graphs.py --ticks 100 --only graphs,charts
    DISPLAY=:99 python benchmarks/bench_graphs.py --display --only graphs             # under Xvfb: OpenGL
    DISPLAY=:99 python benchmarks/bench_graphs.py --display --software --only graphs  # software renderer
"""
from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

# Offscreen unless --display (an X display in DISPLAY, Xvfb for instance: Qt Quick then draws
# through OpenGL, Mesa's llvmpipe there, unless --software asks for its software renderer).
if "--display" not in sys.argv:
    os.environ["QT_QPA_PLATFORM"] = "offscreen"
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

TICK_MS = 40
RATE = 1000
WINDOW = 4000
PER_TICK = RATE * TICK_MS // 1000
WINDOW_PX = (1400, 860)
PLOTS, PER_PLOT = 4, 2
COLOURS = ["#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#17becf", "#8c564b", "#e377c2"]
ORDER = ["graphs", "charts", "pyqtgraph", "graphs-every", "charts-every"]


class Source:
    """Seeded samples for the 8 lines: a drifting sine with noise, the same in every variant."""

    def __init__(self, seed: int = 7) -> None:
        import numpy as np

        self.np = np
        self.rngs = [np.random.default_rng([seed, k]) for k in range(PLOTS * PER_PLOT)]
        self.params = [(10.0 * k, 5.0 + k, 0.3 + 0.2 * k, 0.5 + 0.1 * k) for k in range(PLOTS * PER_PLOT)]

    def block(self, start: int):
        np = self.np
        x = np.arange(start + 1, start + PER_TICK + 1, dtype=np.float64)
        t = x / RATE
        return x, [b + a * np.sin(2 * np.pi * f * t) + n * rng.standard_normal(PER_TICK)
                   for (b, a, f, n), rng in zip(self.params, self.rngs)]


def make_window():
    from PySide6.QtWidgets import QGridLayout, QWidget

    window = QWidget()
    grid = QGridLayout(window)
    for i in range(PLOTS):
        host = QWidget()
        host.setObjectName(f"plot{i}")
        grid.addWidget(host, i // 2, i % 2)
    window.resize(*WINDOW_PX)
    return window


def stream_sync():
    """larkui.streaming.sync_stream_chart, or None before it exists."""
    import larkui.streaming as streaming

    return getattr(streaming, "sync_stream_chart", None)


class Rolling:
    """The newest WINDOW samples of every line, kept as NumPy arrays (for the peers that take arrays)."""

    def __init__(self) -> None:
        import numpy as np

        self.x = np.zeros(WINDOW)
        self.y = np.zeros((PLOTS * PER_PLOT, WINDOW))
        self.filled = 0

    def add(self, x, ys) -> None:
        n = len(x)
        self.x[:-n] = self.x[n:]
        self.x[-n:] = x
        self.y[:, :-n] = self.y[:, n:]
        self.y[:, -n:] = ys
        self.filled = min(self.filled + n, WINDOW)

    def window(self, k: int):
        start = WINDOW - self.filled
        return self.x[start:], self.y[k, start:]


class LarkuiVariant:
    """larkui.graphs or larkui.plotdeck lines fed through StreamBuffers (or plain replaceNp on Qt Graphs)."""

    def __init__(self, name: str) -> None:
        self.name = name
        self.graphs = name.startswith("graphs")
        self.every = name.endswith("-every")
        self.window = make_window()
        self.sync = stream_sync()
        self.plain = self.graphs and self.sync is None  # no streaming support for Qt Graphs yet
        if self.graphs:
            self.frames = [0]  # frames Qt Quick rendered, all plots together

    def make(self) -> None:
        from larkui.streaming import StreamBuffer

        self.plots = []
        for i in range(PLOTS):
            if self.graphs:
                from larkui.graphs import add_line_to_graph, build_sample_value_graph

                view, ax, ay, widget = build_sample_value_graph(self.window, f"plot{i}", return_widget=True)
                lines = [add_line_to_graph(view, ax, ay, f"s{PER_PLOT * i + j}", COLOURS[PER_PLOT * i + j])
                         for j in range(PER_PLOT)]
                widget.quickWindow().afterRendering.connect(self.count_frame)
                self.widget = widget
            else:
                from larkui.plotdeck import add_line_to_chart, build_sample_value_chart

                chart, ax, ay = build_sample_value_chart(self.window, f"plot{i}")
                lines = [add_line_to_chart(chart, ax, ay, f"s{PER_PLOT * i + j}", COLOURS[PER_PLOT * i + j])
                         for j in range(PER_PLOT)]
            options = {"display_budget": None} if self.every else {}
            buffers = [StreamBuffer(s, WINDOW, max_history=WINDOW, **options) for s in lines]
            self.plots.append((buffers, ax, ay))
        self.rolling = Rolling()

    def count_frame(self) -> None:
        self.frames[0] += 1

    def feed(self, x, ys) -> None:
        if self.plain:
            self.rolling.add(x, ys)
            return
        for (buffers, _, _), k in zip(self.plots, range(0, PLOTS * PER_PLOT, PER_PLOT)):
            for j, buffer in enumerate(buffers):
                buffer.add_points(x, ys[k + j])

    def tick(self) -> None:
        if self.plain:
            for i, (buffers, ax, ay) in enumerate(self.plots):
                lo, hi = float("inf"), float("-inf")
                for j, buffer in enumerate(buffers):
                    x, y = self.rolling.window(PER_PLOT * i + j)
                    buffer.series.replaceNp(x, y)
                    lo, hi = min(lo, float(y.min())), max(hi, float(y.max()))
                newest = float(self.rolling.x[-1])
                for axis, (a, b) in ((ax, (max(1.0, newest - WINDOW + 1), max(float(WINDOW), newest))),
                                     (ay, (lo - 0.1 * (hi - lo), hi + 0.1 * (hi - lo)))):
                    if (axis.min(), axis.max()) != (a, b):
                        axis.setRange(a, b)
            return
        if self.sync is not None:
            for buffers, ax, ay in self.plots:
                self.sync(buffers, ax, ay, WINDOW)
            return
        from larkui.plotdeck import sync_scrolling_chart

        for buffers, ax, ay in self.plots:
            sync_scrolling_chart(buffers, ax, ay, WINDOW)

    def describe(self) -> dict:
        if not self.graphs:
            return {"writer": "sync_stream_chart" if self.sync else "sync_scrolling_chart",
                    "line_width": self.plots[0][0][0].series.pen().widthF(),
                    "budget": self.plots[0][0][0].display_budget}
        from PySide6.QtQuick import QQuickWindow

        return {"writer": "replaceNp" if self.plain else "sync_stream_chart",
                "renderer": self.widget.quickWindow().rendererInterface().graphicsApi().name,
                "scene_graph_backend": QQuickWindow.sceneGraphBackend(),
                "line_width": self.plots[0][0][0].series.width(),
                "budget": None if self.plain else self.plots[0][0][0].display_budget}


class PyqtgraphVariant:
    def __init__(self, name: str) -> None:
        self.name = name
        self.window = make_window()

    def make(self) -> None:
        import pyqtgraph as pg
        from PySide6.QtWidgets import QVBoxLayout

        self.curves = []
        layout = self.window.layout()
        for i in range(PLOTS):
            plot = pg.PlotWidget(background="w")
            QVBoxLayout(layout.itemAt(i).widget()).addWidget(plot)
            item = plot.getPlotItem()
            item.setLabel("left", "Value")
            item.setLabel("bottom", "Sample")
            item.addLegend()
            for j in range(PER_PLOT):
                k = PER_PLOT * i + j
                self.curves.append(item.plot(pen=pg.mkPen(COLOURS[k]), name=f"s{k}"))
        self.rolling = Rolling()

    def feed(self, x, ys) -> None:
        self.rolling.add(x, ys)

    def tick(self) -> None:
        for k, curve in enumerate(self.curves):
            curve.setData(*self.rolling.window(k))

    def describe(self) -> dict:
        import pyqtgraph

        return {"writer": "PlotDataItem.setData", "pyqtgraph": pyqtgraph.__version__, "line_width": 1.0}


def run_variant(name: str, warmup: int, ticks: int, software: bool) -> dict:
    """The timer-driven tick loop of one variant, in this (fresh) process."""
    from PySide6.QtCore import Qt, QTimer
    from PySide6.QtWidgets import QApplication

    app = QApplication.instance() or QApplication([])
    if software:
        from larkui.graphs import use_software_renderer

        use_software_renderer()
    v = PyqtgraphVariant(name) if name == "pyqtgraph" else LarkuiVariant(name)
    v.make()
    v.window.show()
    app.processEvents()
    source = Source()
    clock = time.process_time
    state = {"tick": 0, "start": None, "frames": 0}
    cpu, work, frames = [], [], []

    def on_tick() -> None:
        now = clock()
        if state["start"] is not None and state["tick"] > warmup:
            cpu.append(now - state["start"])
            if hasattr(v, "frames"):
                frames.append((v.frames[0] - state["frames"]) / PLOTS)
        if state["tick"] >= warmup + ticks + 1:
            timer.stop()
            app.quit()
            return
        x, ys = source.block(state["tick"] * PER_TICK)  # made before the tick's clock starts
        state["tick"] += 1
        state["start"] = clock()
        state["frames"] = v.frames[0] if hasattr(v, "frames") else 0
        v.feed(x, ys)
        v.tick()
        work.append(clock() - state["start"])
        app.processEvents()

    timer = QTimer()
    timer.setTimerType(Qt.TimerType.PreciseTimer)
    timer.timeout.connect(on_tick)
    timer.start(TICK_MS)
    app.exec()
    result = {"name": name, "cpu": cpu, "work": work[warmup:], "frames": frames} | v.describe()
    v.window.close()
    return result


def median_ms(values) -> float:
    return statistics.median(values) * 1e3


def p90_ms(values) -> float:
    return sorted(values)[int(0.9 * (len(values) - 1))] * 1e3


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--warmup", type=int, default=100, help="ticks before measuring (the window fills in 100)")
    parser.add_argument("--ticks", type=int, default=250, help="measured ticks per variant")
    parser.add_argument("--only", default=",".join(ORDER), help="comma-separated variants")
    parser.add_argument("--display", action="store_true", help="on the X display in DISPLAY, not offscreen")
    parser.add_argument("--software", action="store_true", help="larkui.graphs.use_software_renderer() first")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        print(json.dumps(run_variant(args.child, args.warmup, args.ticks, args.software)))
        return 0
    options = [flag for flag, on in (("--display", args.display), ("--software", args.software)) if on]

    results = {}
    for name in [n for n in ORDER if n in args.only.split(",")]:
        proc = subprocess.run([sys.executable, __file__, "--child", name, "--warmup", str(args.warmup),
                               "--ticks", str(args.ticks), *options], capture_output=True, text=True)
        if proc.returncode != 0:
            print(f"{name} failed:\n{proc.stderr}", file=sys.stderr)
            return 1
        results[name] = json.loads(proc.stdout.strip().splitlines()[-1])

    import PySide6

    print(f"{PLOTS} plots x {PER_PLOT} lines, {RATE} Hz, window {WINDOW} samples, {TICK_MS} ms ticks, "
          f"{WINDOW_PX[0]}x{WINDOW_PX[1]} shown {'on ' + os.environ.get('DISPLAY', '?') if args.display else 'offscreen'}"
          f"{' (software renderer asked for)' if args.software else ''}; {args.ticks} ticks after {args.warmup}; "
          f"PySide6 {PySide6.__version__}, Python {sys.version.split()[0]}")
    print(f"{'variant':<14} {'CPU/tick median':>15} {'p90':>8} {'tick calls':>11} {'frames/plot/tick':>17}  setup")
    for name, r in results.items():
        frames = f"{statistics.median(r['frames']):.1f}" if r["frames"] else "-"
        setup = ", ".join(f"{k} {v}" for k, v in r.items() if k not in ("name", "cpu", "work", "frames"))
        print(f"{name:<14} {median_ms(r['cpu']):12.1f} ms {p90_ms(r['cpu']):5.1f} ms {median_ms(r['work']):8.2f} ms "
              f"{frames:>17}  {setup}")
    print("ratios of the median CPU per tick:")
    pairs = [("graphs", "charts"), ("graphs", "pyqtgraph"), ("charts", "pyqtgraph"),
             ("graphs-every", "charts-every"), ("graphs-every", "pyqtgraph"), ("charts-every", "pyqtgraph")]
    for a, b in pairs:
        if a in results and b in results:
            print(f"  {a} / {b}: {median_ms(results[a]['cpu']) / median_ms(results[b]['cpu']):.2f}")
    if "graphs" in results:
        print(f"Qt Graphs drew with the {results['graphs']['renderer']} renderer "
              f"(scene graph backend {results['graphs']['scene_graph_backend']!r})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
