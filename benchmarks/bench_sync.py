"""sync_scrolling_chart and sync_snapshot_chart: larkui against the plain-Python baseline.

Run by hand (offscreen Qt):  PYTHONPATH=<build>/pkg python benchmarks/bench_sync.py
Every figure is the best of several rounds, the compared variants interleaved in one run.
"""
import os
import sys
import time

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
sys.path.insert(0, os.path.dirname(__file__))

import numpy as np  # noqa: E402
from PySide6.QtCharts import QChart, QChartView, QLineSeries, QValueAxis  # noqa: E402
from PySide6.QtCore import QPointF, Qt  # noqa: E402
from PySide6.QtWidgets import QApplication  # noqa: E402

app = QApplication.instance() or QApplication([])

import baseline_sync as base  # noqa: E402
from larkui import plotdeck as lark  # noqa: E402

ROUNDS = 9
BUFFERS = 8
HISTORY = 10_000
WINDOW = 1000


def side_by_side(fns, calls, rounds=ROUNDS):
    """Best time per call of each fn (µs), rounds interleaved so drift hits all alike."""
    best = [float("inf")] * len(fns)
    for _ in range(rounds):
        for k, fn in enumerate(fns):
            t0 = time.perf_counter()
            for _ in range(calls):
                fn()
            best[k] = min(best[k], (time.perf_counter() - t0) / calls)
    return [b * 1e6 for b in best]


def axis_state(ax):
    return ax.min(), ax.max(), ax.tickCount()


def filled_scrolling(module, rng):
    bufs = []
    for _ in range(BUFFERS):
        buf = module.TimeSeriesBuffer(QLineSeries())
        for x, y in enumerate(rng.uniform(0.0, 100.0, HISTORY), 1):
            buf.add_point(x, y)
        buf.flush()
        bufs.append(buf)
    return bufs


def bench_scrolling_idle():
    print(f"sync_scrolling_chart, {BUFFERS} buffers x {HISTORY} history values, window {WINDOW}, nothing pending")
    rng = np.random.default_rng(1)
    lb, bb = filled_scrolling(lark, rng), filled_scrolling(base, np.random.default_rng(1))
    lx, ly, bx, by = QValueAxis(), QValueAxis(), QValueAxis(), QValueAxis()
    lark.sync_scrolling_chart(lb, lx, ly, WINDOW)
    base.sync_scrolling_chart(bb, bx, by, WINDOW)
    assert axis_state(lx) == axis_state(bx) and axis_state(ly) == axis_state(by)
    t_lark, t_base, t_base_on_lark = side_by_side([
        lambda: lark.sync_scrolling_chart(lb, lx, ly, WINDOW),
        lambda: base.sync_scrolling_chart(bb, bx, by, WINDOW),
        lambda: base.sync_scrolling_chart(lb, bx, by, WINDOW),
    ], 200)
    print(f"  larkui {t_lark:8.2f} µs   baseline {t_base:8.2f} µs   ratio {t_base / t_lark:5.1f}x (target >= 3x)")
    print(f"  (baseline function on larkui buffers {t_base_on_lark:8.2f} µs, ratio {t_base_on_lark / t_lark:5.1f}x)")
    return t_lark


def visible_chart(module, rng):
    chart = QChart()
    chart.setAnimationOptions(QChart.NoAnimation)
    axX, axY = QValueAxis(), QValueAxis()
    chart.addAxis(axX, Qt.AlignBottom)
    chart.addAxis(axY, Qt.AlignLeft)
    bufs = []
    for _ in range(BUFFERS):
        series = QLineSeries()
        chart.addSeries(series)
        series.attachAxis(axX)
        series.attachAxis(axY)
        buf = module.TimeSeriesBuffer(series)
        for x, y in enumerate(rng.uniform(0.0, 100.0, HISTORY), 1):
            buf.add_point(x, y)
        bufs.append(buf)
    view = QChartView(chart)
    view.resize(1200, 700)
    view.show()
    module.sync_scrolling_chart(bufs, axX, axY, WINDOW)
    app.processEvents()
    return view, chart, axX, axY, bufs


def bench_full_tick(idle_us):
    new_points = 10
    print(f"full tick: {new_points} new points per buffer, series in a shown {1200}x{700} QChartView")
    rng = np.random.default_rng(2)
    keep = []
    lark_chart = visible_chart(lark, rng)
    base_chart = visible_chart(base, np.random.default_rng(2))
    bare_chart = visible_chart(base, np.random.default_rng(2))  # the same appends and axis calls, alone
    keep += [lark_chart, base_chart, bare_chart]
    _, _, lx, ly, lb = lark_chart
    _, _, bx, by, bb = base_chart
    _, _, ax_bare, ay_bare, bare = bare_chart
    ticks = 25
    t = {"lark": [], "base": [], "append": [], "axes": []}
    next_x = HISTORY + 1
    for _ in range(ticks):
        ys = rng.uniform(0.0, 100.0, (BUFFERS, new_points))
        for bufs in (lb, bb):
            for buf, row in zip(bufs, ys):
                for k, y in enumerate(row):
                    buf.add_point(next_x + k, y)
        batches = [[QPointF(next_x + k, y) for k, y in enumerate(row)] for row in ys]
        next_x += new_points

        # Each measured part starts right after a repaint, as an application's tick does:
        # whatever runs first after one pays for Qt's deferred work, so all must be alike.
        app.processEvents()
        t0 = time.perf_counter()
        lark.sync_scrolling_chart(lb, lx, ly, WINDOW)
        t["lark"].append(time.perf_counter() - t0)

        app.processEvents()
        t0 = time.perf_counter()
        base.sync_scrolling_chart(bb, bx, by, WINDOW)
        t["base"].append(time.perf_counter() - t0)

        app.processEvents()
        t0 = time.perf_counter()
        for buf, batch in zip(bare, batches):
            buf.series.append(batch)
        t["append"].append(time.perf_counter() - t0)

        # The axis calls of the tick, replayed with the values larkui set.
        x_range, y_range = (lx.min(), lx.max()), (ly.min(), ly.max())
        t0 = time.perf_counter()
        ax_bare.setRange(*x_range)
        ax_bare.tickCount()
        ay_bare.setRange(*y_range)
        ay_bare.tickCount()
        t["axes"].append(time.perf_counter() - t0)
    med = {k: sorted(v)[len(v) // 2] * 1e6 for k, v in t.items()}
    own = med["lark"] - med["append"] - med["axes"]
    print(f"  tick (larkui) {med['lark']:9.1f} µs   tick (baseline) {med['base']:9.1f} µs   (medians of {ticks})")
    print(f"  inside Qt: append {med['append']:9.1f} µs, setRange/tickCount {med['axes']:7.1f} µs")
    print(f"  tick - append - axis calls = {own:7.1f} µs ({own / med['lark']:5.1%}; within the tick's own jitter)")
    print(f"  larkui's own work in a tick is what an idle sync costs, {idle_us:.1f} µs: "
          f"{idle_us / med['lark']:.4%} of the tick (target <= 10%)")
    return keep


def frame_buffers(module, frames):
    bufs = []
    for frame in frames:
        buf = module.TimeSeriesBuffer(QLineSeries())
        buf.set_data(frame, 0.0)
        buf.flush()
        bufs.append(buf)
    return bufs


def bench_snapshot_idle():
    print(f"sync_snapshot_chart, {BUFFERS} frames x {HISTORY} float64 values, nothing pending")
    rng = np.random.default_rng(3)
    frames = [rng.uniform(-5.0, 5.0, HISTORY) for _ in range(BUFFERS)]
    lb, bb = frame_buffers(lark, frames), frame_buffers(base, frames)
    lx, ly, bx, by = QValueAxis(), QValueAxis(), QValueAxis(), QValueAxis()
    lark.sync_snapshot_chart(lb, lx, ly)
    base.sync_snapshot_chart(bb, bx, by)
    assert axis_state(lx) == axis_state(bx) and axis_state(ly) == axis_state(by)

    def reductions():
        for f in frames:
            np.min(f)
            np.max(f)

    class Extremes:
        """Stands in for NumPy with the frames' extremes already known: the sync without its reductions."""
        lo, hi = np.min(frames[0]), np.max(frames[0])

        def min(self, a):
            return self.lo

        def max(self, a):
            return self.hi

    series = [b.series for b in lb]

    def qt_calls():  # what both must call in Qt: isVisible per buffer, setRange on two axes
        for s in series:
            s.isVisible()
        lx.setRange(0.0, 10000.0)
        ly.setRange(Extremes.lo - 1.0, Extremes.hi + 1.0)

    t_lark, t_base, t_np = side_by_side([
        lambda: lark.sync_snapshot_chart(lb, lx, ly),
        lambda: base.sync_snapshot_chart(bb, bx, by),
        reductions,
    ], 200)
    own, base_own = t_lark - t_np, t_base - t_np
    print(f"  larkui {t_lark:8.2f} µs   baseline {t_base:8.2f} µs   16 NumPy reductions alone {t_np:8.2f} µs")
    print(f"  beyond the reductions: larkui {own:6.2f} µs, baseline {base_own:6.2f} µs, "
          f"ratio {own / base_own:5.2f} (target <= 0.33)")

    lark.np = base.np = Extremes()
    try:
        n_lark, n_base, t_qt, f_lark, f_base = side_by_side([
            lambda: lark.sync_snapshot_chart(lb, lx, ly),
            lambda: base.sync_snapshot_chart(bb, bx, by),
            qt_calls,
            lambda: [b.flush() for b in lb],
            lambda: [b.flush() for b in bb],
        ], 2000)
    finally:
        lark.np = base.np = np
    print(f"  with the reductions stubbed out: larkui {n_lark:5.2f} µs, baseline {n_base:5.2f} µs; of which "
          f"Qt's isVisible x8 + setRange x2 {t_qt:5.2f} µs, the 8 flushes {f_lark:5.2f} / {f_base:5.2f} µs")
    print(f"  left for the sync's own steps: larkui {n_lark - t_qt - f_lark:5.2f} µs, "
          f"baseline {n_base - t_qt - f_base:5.2f} µs")


if __name__ == "__main__":
    idle = bench_scrolling_idle()
    kept = bench_full_tick(idle)
    bench_snapshot_idle()
