"""larkui.streaming in instructions (valgrind --tool=callgrind): what a tick costs Qt Charts, and what
the syncs cost beyond their limits. Counted instructions are repeatable on a busy machine, where
times are not.

Cases (--only picks some):
  layouts    the streaming tab's workload (4 charts x 2 lines, 1 kHz, a 4,000-sample window, the
             default display budget) for --ticks ticks after the window filled, synced by
             sync_stream_chart and, in another run, by plotdeck.sync_scrolling_chart; counts the
             calls of Qt Charts' LineChartItem::updateGeometry (the layout of a line: its path and
             its stroked outline) and the instructions inside them
  own-cost   sync_stream_chart with nothing pending, 8 buffers x 1,000-sample windows in one shown
             chart, against its limit (baseline_stream_sync.stream_chart_limit: the same Qt calls
             made from Python, plus NumPy's min and max over the same doubles)
  scrolling  plotdeck.sync_scrolling_chart over 8 StreamBuffers (10,000 history values each,
             window_size 1000) with nothing pending, against its limit
             (baseline_stream_sync.scrolling_chart_limit)

Each figure is the difference of two runs that do the same set-up and then K calls or none, so
the set-up (Python, Qt, the window) cancels out. Needs valgrind on PATH.

    python benchmarks/bench_stream_callgrind.py
    python benchmarks/bench_stream_callgrind.py --only own-cost --calls 400
"""
from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


# ---------------------------------------------------------------- the child side


def app():
    os.environ["QT_QPA_PLATFORM"] = "offscreen"
    from PySide6.QtWidgets import QApplication

    return QApplication.instance() or QApplication([])


def shown_chart(qapp, lines):
    from PySide6.QtWidgets import QVBoxLayout, QWidget

    from larkui.plotdeck import add_line_to_chart, build_sample_value_chart

    root = QWidget()
    host = QWidget(root)
    host.setObjectName("host")
    QVBoxLayout(root).addWidget(host)
    chart, ax, ay, view = build_sample_value_chart(root, "host", return_view=True)
    series = [add_line_to_chart(chart, ax, ay, f"s{i}", "#1f77b4", 1.0) for i in range(lines)]
    root.resize(700, 430)
    root.show()
    qapp.processEvents()
    return root, chart, ax, ay, series


def child_own_cost(calls, limit_calls):
    import numpy as np
    from PySide6.QtCharts import QValueAxis
    from PySide6.QtGui import QFontMetricsF

    import baseline_stream_sync as base
    from larkui.streaming import StreamBuffer, sync_stream_chart

    qapp = app()
    root, chart, ax, ay, series = shown_chart(qapp, 8)
    bufs = [StreamBuffer(s, 1000) for s in series]
    rng = np.random.default_rng(1)
    block = rng.normal(size=(8, 1000))
    for b, y in zip(bufs, block):
        b.add_points(np.arange(1000.0), y)
    for _ in range(3):  # the axes and the plot area settle
        sync_stream_chart(bufs, ax, ay, 1000)
        qapp.processEvents()
    ticks = [(a.tickAnchor(), QValueAxis.TickType.TicksDynamic) for a in (ax, ay)]
    label = ax.labelFormat() % ax.max()
    for _ in range(calls):
        sync_stream_chart(bufs, ax, ay, 1000)
    for _ in range(limit_calls):
        base.stream_chart_limit(series, chart, ax, ay, QFontMetricsF, ticks, label, block)
    one = block[:1, :1].copy()
    for _ in range(-limit_calls if limit_calls < 0 else 0):
        base.numpy_call_overhead(one)
    root.close()


def child_scrolling(calls, limit_calls):
    import numpy as np
    from PySide6.QtCharts import QLineSeries, QValueAxis

    import baseline_stream_sync as base
    from larkui.plotdeck import sync_scrolling_chart
    from larkui.streaming import StreamBuffer

    app()
    rng = np.random.default_rng(1)
    series = [QLineSeries() for _ in range(8)]
    bufs = [StreamBuffer(s, 1000, max_history=10_000) for s in series]
    for b in bufs:
        b.add_points(np.arange(1.0, 10_001.0), rng.uniform(0.0, 100.0, 10_000))
        b.flush()
    ax, ay = QValueAxis(), QValueAxis()
    sync_scrolling_chart(bufs, ax, ay, 1000)
    x_range, y_range = (ax.min(), ax.max()), (ay.min(), ay.max())
    y_ticks = ay.tickCount() if y_range[1] - y_range[0] < 15 else None
    block = np.array([np.asarray(b.history[-1001:]) for b in bufs])
    for _ in range(calls):
        sync_scrolling_chart(bufs, ax, ay, 1000)
    for _ in range(limit_calls):
        base.scrolling_chart_limit(series, ax, ay, x_range, y_range, y_ticks, block)
    one = block[:1, :1].copy()
    for _ in range(-limit_calls if limit_calls < 0 else 0):
        base.numpy_call_overhead(one)


def child_layouts(ticks, use_old):
    import numpy as np

    from larkui.plotdeck import sync_scrolling_chart
    from larkui.streaming import StreamBuffer, sync_stream_chart

    qapp = app()
    sys.path.insert(0, HERE)
    import bench_streaming as bs

    window, _ = bs.make_window()
    charts = bs.qt_charts(window, 1.0)
    window.show()
    qapp.processEvents()
    groups = [([StreamBuffer(s, 4000) for s in series], ax, ay) for _, ax, ay, _, series in charts]
    source = bs.Source(1000)
    for tick in range(100 + ticks):
        x, ys = source.block(tick * 40, 40)
        for (bufs, _, _), pair in zip(groups, zip(ys[0::2], ys[1::2])):
            for b, y in zip(bufs, pair):
                b.add_points(x, y)
        for bufs, ax, ay in groups:
            if use_old:
                for b in bufs:
                    b.flush()
                sync_scrolling_chart(bufs, ax, ay, 4000)
            else:
                sync_stream_chart(bufs, ax, ay, 4000)
        qapp.processEvents()
        if tick == 99:
            print("WINDOW-FULL", flush=True)


# ---------------------------------------------------------------- the driver


def callgrind(args, out):
    env = dict(os.environ, PYTHONHASHSEED="0", QT_QPA_PLATFORM="offscreen", OPENBLAS_NUM_THREADS="1")
    cmd = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sys.executable, os.path.abspath(__file__),
           "--child", *args]
    proc = subprocess.run(cmd, capture_output=True, text=True, env=env)
    if proc.returncode:
        sys.stderr.write(proc.stderr[-4000:])
        raise SystemExit(f"the run {' '.join(args)} failed")
    total = re.search(r"Collected : (\d+)", proc.stderr) or re.search(r"I\s+refs:\s+([\d,]+)", proc.stderr)
    return int(total.group(1).replace(",", ""))


def calls_of(out, needle, caller=None):
    """Calls of the functions whose name holds `needle` (made from a function whose name holds
    `caller`, when given), and the instructions inside them."""
    names, fn, current, calls, inside, pending = {}, "", None, 0, 0, False

    def name_of(line, key):
        m = re.match(key + r"=\((\d+)\)(?: (.*))?", line.strip())
        if not m:
            return None
        if m.group(2):
            names[m.group(1)] = m.group(2)
        return names.get(m.group(1), "")

    with open(out) as f:
        for line in f:
            if line.startswith("fn="):
                fn = name_of(line, "fn") or ""
            elif line.startswith("cfn="):
                current = name_of(line, "cfn")
            elif line.startswith("calls="):
                pending = needle in (current or "") and (caller is None or caller in fn)
                if pending:
                    calls += int(line.split("=")[1].split()[0])
            elif pending:
                parts = line.split()
                if len(parts) >= 2:
                    inside += int(parts[1])
                pending = False
    return calls, inside


def per_call(runs, calls):
    return (runs[1] - runs[0]) / calls


def run_own_cost(k, tmp):
    base = callgrind(["own-cost", "0", "0"], f"{tmp}/a")
    lark = callgrind(["own-cost", str(k), "0"], f"{tmp}/b")
    limit = callgrind(["own-cost", "0", str(k)], f"{tmp}/c")
    numpy_fixed = callgrind(["own-cost", "0", str(-k)], f"{tmp}/d")
    own, lim, fixed = (lark - base) / k, (limit - base) / k, (numpy_fixed - base) / k
    print(f"sync_stream_chart, nothing pending, 8 buffers x 1,000-sample windows ({k} calls):")
    print(f"  larkui {own:10,.0f} instructions per call")
    print(f"  limit  {lim:10,.0f} (the same Qt calls from Python + NumPy min/max over the doubles)")
    print(f"         {lim - fixed:10,.0f} without NumPy's fixed cost of two calls ({fixed:,.0f})")
    print(f"  ratio  {own / lim:10.2f}   ({own / (lim - fixed):.2f} against the limit without NumPy's fixed cost); "
          f"target <= 1.30   {'met' if own / lim <= 1.3 else 'MISSED'}")


def run_scrolling(k, tmp):
    base = callgrind(["scrolling", "0", "0"], f"{tmp}/a")
    lark = callgrind(["scrolling", str(k), "0"], f"{tmp}/b")
    limit = callgrind(["scrolling", "0", str(k)], f"{tmp}/c")
    numpy_fixed = callgrind(["scrolling", "0", str(-k)], f"{tmp}/d")
    own, lim, fixed = (lark - base) / k, (limit - base) / k, (numpy_fixed - base) / k
    print(f"sync_scrolling_chart over 8 StreamBuffers (10,000 history values, window_size 1000), nothing pending "
          f"({k} calls):")
    print(f"  larkui {own:10,.0f} instructions per call")
    print(f"  limit  {lim:10,.0f} (its Qt calls from Python + NumPy min/max over the 8 x 1,001 values)")
    print(f"         {lim - fixed:10,.0f} without NumPy's fixed cost of two calls ({fixed:,.0f})")
    print(f"  ratio  {own / lim:10.2f}   ({own / (lim - fixed):.2f} against the limit without NumPy's fixed cost); "
          f"target <= 1.30   {'met' if own / lim <= 1.3 else 'MISSED'}")


LAYOUT_CAUSES = [("a write", "handlePointsReplaced"), ("an axis range change", "handleDomainUpdated"),
                 ("emptying (clear)", "handlePointsRemoved")]


def run_layouts(ticks, tmp):
    print(f"Layouts of a line (XYChart::updateChart, which calls LineChartItem::updateGeometry), 4 charts x 2 "
          f"lines, {ticks} ticks after the window filled, the default display budget; per line and tick, by cause:")
    for name, old in (("sync_stream_chart", False), ("flush + sync_scrolling_chart", True)):
        full, none_ = f"{tmp}/{name[:4]}-full", f"{tmp}/{name[:4]}-none"
        callgrind(["layouts", str(ticks), str(int(old))], full)
        callgrind(["layouts", "0", str(int(old))], none_)
        lines = 8 * ticks
        cells = []
        for label, caller in LAYOUT_CAUSES:
            (c1, i1), (c0, i0) = (calls_of(f, "XYChart::updateChart", caller) for f in (full, none_))
            cells.append(f"{label} {(c1 - c0) / lines:4.2f} ({(i1 - i0) / lines / 1e6:5.2f} M instructions)")
        print(f"  {name:<30} " + "; ".join(cells))


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--only", default="layouts,own-cost,scrolling")
    p.add_argument("--calls", type=int, default=300, help="calls per counted run (default 300)")
    p.add_argument("--ticks", type=int, default=20, help="ticks per counted layouts run (default 20)")
    p.add_argument("--child", nargs="+", help=argparse.SUPPRESS)
    args = p.parse_args()
    if args.child:
        sys.path.insert(0, HERE)
        case, *rest = args.child
        if case == "own-cost":
            child_own_cost(int(rest[0]), int(rest[1]))
        elif case == "scrolling":
            child_scrolling(int(rest[0]), int(rest[1]))
        else:
            child_layouts(int(rest[0]), bool(int(rest[1])))
        return
    import PySide6

    print(f"Python {sys.version.split()[0]}, PySide6 {PySide6.__version__}; instructions counted by callgrind")
    with tempfile.TemporaryDirectory(prefix="larkui-callgrind-") as tmp:
        for case in args.only.split(","):
            {"layouts": lambda: run_layouts(args.ticks, tmp), "own-cost": lambda: run_own_cost(args.calls, tmp),
             "scrolling": lambda: run_scrolling(args.calls, tmp)}[case.strip()]()


if __name__ == "__main__":
    main()
