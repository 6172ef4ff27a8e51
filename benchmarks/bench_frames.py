"""Snapshot frames and per-sample calls of larkui.plotdeck in instructions, against the bare calls.

Counts instructions with valgrind's callgrind, which gives the same figure for the same binary and
inputs however busy the machine is. Each case runs in its own interpreter twice, with a short and a
long loop; the difference divided by the extra iterations is the cost of one iteration, so import
and set-up cancel out. Cases, each against its baseline in the same run:

  list-64, list-1000     TimeSeriesBuffer.flush() of a frame given to set_data as a list of floats
                         against np.asarray(list, dtype=float64) + series.replaceNp(x, y)
  numpy-10, numpy-64     TimeSeriesBuffer.flush() of a float64 array frame
                         against series.replaceNp(x, y)
                         (a flush is measured as set_data + flush less set_data alone)
  add_point              TimeSeriesBuffer(series, 100).add_point(1.0, 2.0)
  call                   find_child_safe(root, QWidget, "child"), the whole call

The series is a QLineSeries in a shown chart view (as the demo's), or with --detached a series in
no chart, where Qt does the least work and larkui's own share shows most. --with DIR also runs
every case against the larkui package found in DIR (for example a build of an earlier release),
side by side.

    python benchmarks/bench_frames.py
    python benchmarks/bench_frames.py --detached --with /tmp/larkui-0.1
"""
from __future__ import annotations

import argparse
import os
import re
import shutil
import subprocess
import sys
import textwrap

CASE = r"""
import os, sys
os.environ["QT_QPA_PLATFORM"] = "offscreen"
import numpy as np
from PySide6.QtCharts import QChart, QChartView, QLineSeries
from PySide6.QtWidgets import QApplication, QWidget
import larkui.finders as finders
import larkui.plotdeck as plotdeck
case, variant, n, detached = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4] == "1"
app = QApplication([])
series = QLineSeries()
if not detached:
    chart = QChart(); chart.addSeries(series); chart.createDefaultAxes()
    view = QChartView(chart); view.resize(600, 400); view.show(); app.processEvents()
size = int(case.split("-")[1]) if "-" in case else 0
values = [float(v) for v in np.sin(np.arange(size))]
array = np.array(values)
x = np.arange(size, dtype=np.float64)
buf = plotdeck.TimeSeriesBuffer(series, 100)
root = QWidget(); child = QWidget(root); child.setObjectName("child")
frame = values if case.startswith("list") else array
if case in ("list-64", "list-1000", "numpy-10", "numpy-64"):
    if variant == "larkui":
        def step():
            buf.set_data(frame)
            buf.flush()
    elif variant == "producer":
        def step():
            buf.set_data(frame)
    elif case.startswith("list"):
        def step():
            series.replaceNp(x, np.asarray(frame, dtype=np.float64))
    else:
        def step():
            series.replaceNp(x, frame)
elif case == "add_point":
    add = buf.add_point
    pending = buf._pending_points
    def step():
        add(1.0, 2.0)
        if len(pending) > 64:
            pending.clear()
elif case == "call":
    find = finders.find_child_safe
    def step():
        find(root, QWidget, "child")
step()
import gc
gc.disable()  # a collection now and then would blur the counts
for _ in range(n):
    step()
"""

CASES = {
    # case: variants, the first is larkui's
    "list-64": ("larkui", "baseline"),
    "list-1000": ("larkui", "baseline"),
    "numpy-10": ("larkui", "baseline"),
    "numpy-64": ("larkui", "baseline"),
    "add_point": ("larkui",),
    "call": ("larkui",),
}
TARGETS = {"list-64": 1.5, "list-1000": 1.5, "numpy-10": 1.7, "numpy-64": 1.3}


def instructions(python: str, case: str, variant: str, n: int, detached: bool, path: str | None) -> int:
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", QT_QPA_PLATFORM="offscreen", PYTHONHASHSEED="0")
    if path:
        env["PYTHONPATH"] = path
    proc = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", python, "-c", CASE,
                           case, variant, str(n), "1" if detached else "0"],
                          capture_output=True, text=True, env=env)
    found = re.search(r"Collected : (\d+)", proc.stderr)
    if proc.returncode != 0 or not found:
        sys.exit(f"{case} {variant}: valgrind failed\n{proc.stderr[-2000:]}")
    return int(found.group(1))


def per_iteration(python, case, variant, detached, path, short=200, long=2200):
    return (instructions(python, case, variant, long, detached, path)
            - instructions(python, case, variant, short, detached, path)) / (long - short)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--detached", action="store_true", help="series in no chart")
    parser.add_argument("--with", dest="other", metavar="DIR", help="also measure the larkui package in DIR")
    parser.add_argument("--only", help="comma-separated cases")
    args = parser.parse_args()
    if not shutil.which("valgrind"):
        sys.exit("needs valgrind (apt-get install valgrind)")
    python = sys.executable
    cases = args.only.split(",") if args.only else list(CASES)
    print(f"instructions per iteration (callgrind), series {'in no chart' if args.detached else 'in a shown chart'}")
    header = f"{'case':<11} {'larkui':>10} {'baseline':>10} {'ratio':>6} {'target':>7}"
    if args.other:
        header += f" {'other':>10} {'now/other':>9}"
    print(header)
    for case in cases:
        frames = "baseline" in CASES[case]

        def larkui(path):
            cost = per_iteration(python, case, "larkui", args.detached, path)
            return cost - per_iteration(python, case, "producer", args.detached, path) if frames else cost

        mine = larkui(None)
        row = f"{case:<11} {mine:>10.0f}"
        if "baseline" in CASES[case]:
            base = per_iteration(python, case, "baseline", args.detached, None)
            ratio = mine / base
            target = TARGETS[case]
            row += f" {base:>10.0f} {ratio:>6.2f} {'<= ' + str(target):>7}" + ("" if ratio <= target else "  MISSED")
        else:
            row += f" {'':>10} {'':>6} {'':>7}"
        if args.other:
            other = larkui(args.other)
            row += f" {other:>10.0f} {mine / other:>9.3f}"
        print(row, flush=True)


if __name__ == "__main__":
    main()
