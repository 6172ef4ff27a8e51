"""TimeSeriesBuffer and series factories: larkui against the plain-Python baseline.

Run by hand (offscreen Qt):  PYTHONPATH=<build>/pkg python benchmarks/bench_buffer.py
Every figure is the best of several rounds, larkui and baseline measured side by side.
"""
import os
import sys
import time

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
sys.path.insert(0, os.path.dirname(__file__))

import numpy as np  # noqa: E402
from PySide6.QtCharts import QChart, QLineSeries, QValueAxis  # noqa: E402
from PySide6.QtCore import QPointF  # noqa: E402
from PySide6.QtWidgets import QApplication  # noqa: E402

app = QApplication.instance() or QApplication([])

import baseline_plotdeck as base  # noqa: E402
from larkui import plotdeck as lark  # noqa: E402

ROUNDS = 7
BATCH = 100  # points added between two flushes


def best(fn, rounds=ROUNDS):
    times = []
    for _ in range(rounds):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


def side_by_side(fns, rounds=ROUNDS):
    """Best time of each fn, with the rounds interleaved so drift hits all alike."""
    results = [float("inf")] * len(fns)
    for _ in range(rounds):
        for k, fn in enumerate(fns):
            t0 = time.perf_counter()
            fn()
            results[k] = min(results[k], time.perf_counter() - t0)
    return results


def ns(t, n):
    return t / n * 1e9


def bench_add_point(max_history, n):
    def feeder(cls):
        buf = cls(QLineSeries(), max_history)
        for i in range(max_history):  # start with a full history
            buf.history.append(float(i))

        def run():
            add = buf.add_point
            pending = buf._pending_points
            for _ in range(n // BATCH):
                for i in range(BATCH):
                    add(1.5, 2.5)
                pending.clear()  # as a flush would, so the points do not pile up

        return run

    shift = list(map(float, range(max_history)))

    def bare_shift():
        h = shift
        for i in range(n):
            h.append(2.5)
            del h[0]

    keep = []

    def qpointf_only():
        k = keep
        for _ in range(n // BATCH):
            for i in range(BATCH):
                k.append(QPointF(1.5, 2.5))
            k.clear()

    def empty_loop():
        for _ in range(n // BATCH):
            for i in range(BATCH):
                pass

    t_lark, t_base, t_shift, t_pt, t_loop = side_by_side(
        [feeder(lark.TimeSeriesBuffer), feeder(base.TimeSeriesBuffer), bare_shift, qpointf_only, empty_loop])
    print(f"add_point, max_history {max_history} (per call, loop overhead {ns(t_loop, n):.0f} ns included):")
    print(f"  larkui {ns(t_lark, n):7.1f} ns   baseline {ns(t_base, n):7.1f} ns   ratio {t_base / t_lark:5.2f}x")
    print(f"  QPointF(x, y) alone, kept in a list: {ns(t_pt, n):7.1f} ns")
    print(f"  excluding the QPointF construction: larkui {ns(t_lark - t_pt, n):6.1f} ns, "
          f"baseline {ns(t_base - t_pt, n):6.1f} ns, ratio {(t_base - t_pt) / (t_lark - t_pt):5.2f}x")
    if max_history >= 1000:
        print(f"  bare list.append + del list[0] on {max_history} values: {ns(t_shift, n):7.1f} ns")
        own, ref = t_lark - t_shift, t_base - t_shift
        print(f"  minus the shift: larkui {ns(own, n):6.1f} ns, baseline {ns(ref, n):6.1f} ns, "
              f"larkui/baseline {own / ref:5.3f} (target <= 0.333)")


def points_of(series):
    return [(p.x(), p.y()) for p in series.points()]


def bench_snapshot_flush(n):
    frame = np.random.default_rng(1).normal(size=n)

    def flusher(cls):
        series = QLineSeries()
        buf = cls(series)

        def run():
            buf.set_data(frame, 3.5)
            buf.flush()

        return run, series

    run_lark, s_lark = flusher(lark.TimeSeriesBuffer)
    run_base, s_base = flusher(base.TimeSeriesBuffer)
    t_lark, t_base = side_by_side([run_lark, run_base], rounds=5)
    same = points_of(s_lark) == points_of(s_base)
    print(f"snapshot flush of a {n}-value float64 frame into a QLineSeries:")
    print(f"  larkui {t_lark * 1e3:7.2f} ms   baseline {t_base * 1e3:7.2f} ms   ratio {t_base / t_lark:6.1f}x"
          f"   points identical: {same}")

    as_list = frame.tolist()
    run_lark, s_lark = flusher(lark.TimeSeriesBuffer)
    run_base, s_base = flusher(base.TimeSeriesBuffer)

    def lark_list():
        buf = lark.TimeSeriesBuffer(s_lark)
        buf.set_data(as_list, 3.5)
        buf.flush()

    def base_list():
        buf = base.TimeSeriesBuffer(s_base)
        buf.set_data(as_list, 3.5)
        buf.flush()

    t_lark, t_base = side_by_side([lark_list, base_list], rounds=5)
    print(f"  same frame as a list (point-list path): larkui {t_lark * 1e3:7.2f} ms   "
          f"baseline {t_base * 1e3:7.2f} ms   ratio {t_base / t_lark:5.2f}x")


def bench_factories(n):
    chart = QChart()
    ax, ay = QValueAxis(), QValueAxis()
    chart.addAxis(ax, lark.Qt.AlignBottom)
    chart.addAxis(ay, lark.Qt.AlignLeft)

    def make(mod):
        def run():
            for _ in range(n):
                mod.add_line_to_chart(chart, ax, ay, "s", "#3366cc")
            chart.removeAllSeries()

        return run

    t_lark, t_base = side_by_side([make(lark), make(base)], rounds=3)
    print(f"add_line_to_chart (Qt-bound): larkui {t_lark / n * 1e6:6.1f} us   baseline {t_base / n * 1e6:6.1f} us"
          f"   ratio {t_base / t_lark:4.2f}x")


if __name__ == "__main__":
    bench_add_point(100, 200_000)
    bench_add_point(10_000, 50_000)
    bench_snapshot_flush(100_000)
    bench_factories(500)
