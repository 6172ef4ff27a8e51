"""Stopping live charts to look at them: per-tick CPU time of paused charts, zoomed views and the readout.

Three measurements, each in a fresh subprocess, printed side by side with their targets:

  paused    the streaming workload of bench_streaming.py (4 charts x 2 series, 1 kHz, window 4000,
            StreamBuffer defaults, sync_stream_chart, 40 ms ticks, a shown 1400x860 window,
            offscreen): blocks of live ticks and of paused ticks taking turns in one run (the four
            charts linked, paused and resumed with LiveView.pause()/resume()), the buffers fed at
            every tick. A tick is feed + sync_stream_chart for each chart + processEvents().
            Target: the paused tick's median <= 5% of the live one's.
  zoom      two charts of the workload (2 series, window 4000) side by side, plot areas 600 pixels
            wide: one live (the buffers' default store), one paused whose buffers keep 10,000,000
            samples each (max_history). A live tick of the one (40 new samples, sync_stream_chart,
            processEvents) and a view of the other (LiveView.set_x_range at a span from the whole
            store down to a few hundred samples, stepped across the store so that every view is a
            new one, then processEvents) take turns. The producer's feed is left out. Target:
            every span's median view <= 2x the median of the live ticks beside it.
  readout   the workload's four charts, linked (a mouse over one of them shows the readout on all
            four: eight series), each buffer holding 40,000 stored samples (max_history), paused;
            mouse moves across the plot of one chart. The readout's cost per move is LiveView's
            event filter for it (the nearest sample of every series, the overlay items moved and
            their texts set), called as Qt calls it; shown beside it: the whole delivery of the
            move to the viewport (the filter and Qt's own hover handling of the view), the same
            on identical charts without a LiveView (plotdeck.sync_scrolling_chart), and the repaint
            after it. Target: under 1 ms per move. The same on live charts, and a tick of the live
            charts with a resting mouse (the readout follows the data) against one without.

CPU time is time.process_time around each tick, view or move; the figures are medians.

    python benchmarks/bench_inspect.py                 # all three, 60 simulated seconds of paused/live
    python benchmarks/bench_inspect.py --only zoom     # one of them
"""
from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

os.environ["QT_QPA_PLATFORM"] = "offscreen"
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from bench_streaming import TICK_MS, Source, make_window, qt_charts  # noqa: E402

RATE, WINDOW = 1000, 4000
PER_TICK = RATE * TICK_MS // 1000
BIG = 10_000_000            # samples stored per buffer for the zoom measurement
PLOT_PX = 600               # its plot area's width
READOUT_STORE = 40_000      # samples stored per buffer for the readout measurement


def app():
    from PySide6.QtWidgets import QApplication

    return QApplication.instance() or QApplication([])


def ms(values) -> float:
    return statistics.median(values) * 1e3


# ---------------------------------------------------------------- paused vs live


def run_paused(seconds: float, block: int) -> dict:
    from larkui.streaming import StreamBuffer, live_view, sync_stream_chart

    a = app()
    window, _ = make_window()
    charts = qt_charts(window, 1.0)
    groups = [([StreamBuffer(s, WINDOW) for s in series], ax, ay) for _, ax, ay, _, series in charts]
    buffers = [b for bufs, _, _ in groups for b in bufs]
    window.show()
    a.processEvents()
    source = Source(RATE)
    clock = time.process_time
    tick_no = 0

    def tick():
        nonlocal tick_no
        x, ys = source.block(tick_no * PER_TICK, PER_TICK)
        tick_no += 1
        c0 = clock()
        for buf, y in zip(buffers, ys):
            buf.add_points(x, y)
        c1 = clock()
        for bufs, ax, ay in groups:
            sync_stream_chart(bufs, ax, ay, WINDOW)
        c2 = clock()
        a.processEvents()
        c3 = clock()
        return c3 - c0, c1 - c0, c2 - c1, c3 - c2

    fill = WINDOW // PER_TICK + 1
    for _ in range(fill):  # the window fills and the charts start to scroll
        tick()
    lives = [live_view(chart) for chart, *_ in charts]
    for other in lives[1:]:
        other.link_x(lives[0])
    out = {"live": [], "paused": []}
    ticks = int(seconds * 1000 / TICK_MS)
    state = "live"
    for k in range(ticks):
        if k and k % block == 0:
            if state == "live":
                lives[0].pause()
                state = "paused"
            else:
                lives[0].resume()
                state = "live"
            a.processEvents()
        t = tick()
        if k % block:  # the first tick of a block pays for the switch
            out[state].append(t)
    assert all(lv.is_paused for lv in lives) == (state == "paused")
    stored = min(len(b.history) for b in buffers)
    window.close()
    return {"live": out["live"], "paused": out["paused"], "stored": stored}


# ---------------------------------------------------------------- zoomed views of 10 million samples


def run_zoom(views: int) -> dict:
    from PySide6.QtWidgets import QHBoxLayout, QWidget

    from larkui.plotdeck import add_line_to_chart, build_sample_value_chart
    from larkui.streaming import StreamBuffer, live_view, sync_stream_chart

    a = app()
    root = QWidget()
    row = QHBoxLayout(root)
    for name in ("live", "big"):
        host = QWidget(root)
        host.setObjectName(name)
        row.addWidget(host)

    def chart_in(host, history):
        chart, ax, ay, view = build_sample_value_chart(root, host, return_view=True)
        series = [add_line_to_chart(chart, ax, ay, f"s{j}", c, 1.0) for j, c in enumerate(("#1f77b4", "#d62728"))]
        bufs = [StreamBuffer(s, WINDOW, max_history=history) for s in series]
        return chart, ax, ay, series, bufs

    # Two charts of the same size side by side: one live with the workload's buffers (their default
    # store), one whose buffers hold 10 million samples each, paused. A live tick of the one and a
    # view of the other take turns, so that both see the same load of the machine.
    live_chart, lax, lay, live_series, live_bufs = chart_in("live", None)
    big_chart, bax, bay, big_series, big_bufs = chart_in("big", BIG)
    root.resize(2 * (PLOT_PX + 150), 430)  # each chart about a quarter of the demo's window
    root.show()
    a.processEvents()
    source = Source(RATE)
    chunk = 1_000_000
    for start in range(0, BIG, chunk):
        x, ys = source.block(start, chunk)
        for buf, y in zip(big_bufs, ys):
            buf.add_points(x, y)
    sync_stream_chart(big_bufs, bax, bay, WINDOW)
    a.processEvents()
    widths = []
    hosts = [root.findChild(QWidget, name) for name in ("live", "big")]
    for _ in range(8):  # each host's width that gives its plot PLOT_PX pixels
        widths = [c.plotArea().width() for c in (live_chart, big_chart)]
        if all(abs(w - PLOT_PX) < 0.5 for w in widths):
            break
        for host, w in zip(hosts, widths):
            host.setFixedWidth(host.width() + round(PLOT_PX - w))
        a.processEvents()
        a.processEvents()
    clock = time.process_time
    n = 0

    def live_tick():
        nonlocal n
        x, ys = source.block(n, PER_TICK)
        n += PER_TICK
        for buf, y in zip(live_bufs, ys):
            buf.add_points(x, y)
        c0 = clock()
        sync_stream_chart(live_bufs, lax, lay, WINDOW)
        c1 = clock()
        a.processEvents()
        c2 = clock()
        return c2 - c0, c1 - c0, c2 - c1

    for _ in range(WINDOW // PER_TICK + 5):  # the live window fills
        live_tick()
    lv = live_view(big_chart)
    lv.pause()
    a.processEvents()
    stored = len(big_bufs[0].history)
    c0 = clock()
    lv.show_all()
    a.processEvents()
    first_all = clock() - c0  # the first long view makes the block summaries
    oldest, newest = lv.x_range
    spans = [stored - 1, 1_000_000, 100_000, 10_000, WINDOW, 1000, 300]
    out, live = {}, []
    for span in spans:
        times, points, ticks = [], [], []
        room = (newest - oldest) - span
        for k in range(views):
            ticks.append(live_tick())
            lo = oldest + (room * k / max(views - 1, 1) if room > 0 else 0.0)
            lo += 0.37 * (k % 3)  # never a range seen before
            c0 = clock()
            lv.set_x_range(lo, lo + span)
            c1 = clock()
            a.processEvents()
            c2 = clock()
            times.append((c2 - c0, c1 - c0, c2 - c1))
            points.append(sum(s.count() for s in big_series))
        out[span] = {"cpu": times, "points": statistics.median(points), "live": ticks}
        live += ticks
    live_points = sum(s.count() for s in live_series)
    root.close()
    return {"live": live, "live_points": live_points, "first_all": first_all, "views": out,
            "stored": stored, "plot_px": widths}


# ---------------------------------------------------------------- the readout


def run_readout(moves: int) -> dict:
    from PySide6.QtCore import QEvent, QPoint, QPointF, Qt
    from PySide6.QtGui import QMouseEvent
    from PySide6.QtWidgets import QApplication

    from larkui.plotdeck import sync_scrolling_chart
    from larkui.streaming import StreamBuffer, live_view, sync_stream_chart

    a = app()

    def make(sync):
        window, _ = make_window()
        charts = qt_charts(window, 1.0)
        groups = [([StreamBuffer(s, WINDOW, max_history=READOUT_STORE) for s in series], ax, ay)
                  for _, ax, ay, _, series in charts]
        window.show()
        a.processEvents()
        return {"window": window, "charts": charts, "groups": groups, "sync": sync,
                "buffers": [b for bufs, _, _ in groups for b in bufs]}

    ours = make(sync_stream_chart)
    # The same charts driven by plotdeck.sync_scrolling_chart have no LiveView: what Qt alone
    # does with a mouse move over a chart view.
    plain = make(sync_scrolling_chart)
    source = Source(RATE)
    n = 0

    def feed(count):
        nonlocal n
        x, ys = source.block(n, count)
        n += count
        for w in (ours, plain):
            for buf, y in zip(w["buffers"], ys):
                buf.add_points(x, y)

    def sync(w):
        for bufs, ax, ay in w["groups"]:
            w["sync"](bufs, ax, ay, WINDOW)

    feed(READOUT_STORE)
    for w in (ours, plain):
        sync(w)
    a.processEvents()
    lives = [live_view(chart) for chart, *_ in ours["charts"]]
    for other in lives[1:]:
        other.link_x(lives[0])
    clock = time.process_time

    def positions(w, count):
        area = w["charts"][0][0].plotArea()
        return [QPoint(round(area.left() + 2 + (area.width() - 4) * ((k * 0.618) % 1.0)),
                       round(area.top() + area.height() * (0.2 + 0.6 * ((k * 0.382) % 1.0)))) for k in range(count)]

    def event_at(vp, p):
        return QMouseEvent(QEvent.Type.MouseMove, QPointF(p), QPointF(vp.mapToGlobal(p)), Qt.NoButton,
                           Qt.NoButton, Qt.NoModifier)

    def move(w, p):
        """(the LiveView's filter alone, the whole delivery, the repaint after it)"""
        vp = w["charts"][0][3].viewport()
        event = event_at(vp, p)
        c0 = clock()
        if w is ours:
            lives[0].eventFilter(vp, event)  # what the readout costs: the filter, called as Qt calls it
        c1 = clock()
        QApplication.sendEvent(vp, event_at(vp, p))  # as Qt delivers it: the filter and the view
        c2 = clock()
        a.processEvents()
        return c1 - c0, c2 - c1, clock() - c2

    def leave(w):
        QApplication.sendEvent(w["charts"][0][3].viewport(), QEvent(QEvent.Type.Leave))
        a.processEvents()

    out = {}
    for state in ("paused", "live"):
        if state == "paused":
            lives[0].pause()
            lives[0].set_x_range(n - READOUT_STORE * 0.5, n - READOUT_STORE * 0.25)  # a zoomed view
        else:
            lives[0].resume()
        a.processEvents()
        for p in positions(ours, 10):  # warm up
            move(ours, p)
        got = [move(ours, p) for p in positions(ours, moves)]
        out[state] = {"filter": [g[0] for g in got], "event": [g[1] for g in got], "paint": [g[2] for g in got],
                      "series": sum(len(lv.readout[1]) for lv in lives if lv.readout)}
        leave(ours)
    for p in positions(plain, 10):
        move(plain, p)
    got = [move(plain, p) for p in positions(plain, moves)]
    out["qt"] = {"event": [g[1] for g in got], "paint": [g[2] for g in got]}
    leave(plain)
    plain["window"].close()

    # Live ticks with the mouse resting over a chart (the readout follows the data) and without.
    def tick():
        x, ys = source.block(n, PER_TICK)
        for buf, y in zip(ours["buffers"], ys):
            buf.add_points(x, y)
        c0 = clock()
        sync(ours)
        a.processEvents()
        return clock() - c0

    ticks = {"away": [], "resting": []}
    rest = positions(ours, 1)[0]
    for k in range(8 * 25):
        where = "resting" if (k // 25) % 2 else "away"
        if k % 25 == 0:
            if where == "resting":
                move(ours, rest)
            else:
                leave(ours)
            continue
        ticks[where].append(tick())
        n += PER_TICK
    ours["window"].close()
    out["ticks"] = ticks
    out["stored"] = min(len(b.history) for b in ours["buffers"])
    return out


# ---------------------------------------------------------------- the report


def report(results: dict) -> None:
    def verdict(ok: bool) -> str:
        return "met" if ok else "MISSED"

    if "paused" in results:
        r = results["paused"]
        print()
        print(f"Paused vs live: 4 charts x 2 series, 1 kHz, window {WINDOW}, buffers holding {r['stored']:,} samples "
              f"each at the end; {len(r['live'])} live and {len(r['paused'])} paused ticks taking turns")
        print(f"  {'ms CPU, median':<16}{'feed':>8}{'sync':>8}{'events':>8}{'tick':>8}")
        for state in ("live", "paused"):
            cols = list(zip(*r[state]))
            tick, feed, sync, events = (ms(c) for c in cols)
            print(f"  {state:<16}{feed:8.3f}{sync:8.3f}{events:8.3f}{tick:8.3f}")
        live_t = ms([t[0] for t in r["live"]])
        paused_t = ms([t[0] for t in r["paused"]])
        ratio = paused_t / live_t
        print(f"  paused / live median tick {ratio:7.1%}   target <= 5%    {verdict(ratio <= 0.05)}")
        sync_ratio = ms([t[2] + t[3] for t in r["paused"]]) / ms([t[2] + t[3] for t in r["live"]])
        print(f"  (sync + events only, the producer's feed left out: {sync_ratio:.1%})")

    if "zoom" in results:
        r = results["zoom"]
        live_t = ms([t[0] for t in r["live"]])
        print()
        print(f"Zoomed views: 2 series of {r['stored']:,} stored samples each, paused, beside a live chart of the "
              f"workload; plots {' and '.join(f'{w:.0f}' for w in r['plot_px'])} pixels wide")
        print(f"  live tick (sync_stream_chart + events, window {WINDOW}, {r['live_points']} points written): "
              f"{live_t:.3f} ms (the call {ms([t[1] for t in r['live']]):.3f}, events "
              f"{ms([t[2] for t in r['live']]):.3f}), over all the rounds")
        print(f"  the first whole-store view (block summaries made): {r['first_all'] * 1e3:.1f} ms, once")
        print(f"  {'span (samples)':>16}{'view ms':>10}{'call':>8}{'events':>8}{'points':>9}{'live ms':>9}{'/ live':>9}")
        worst = 0.0
        for span, v in r["views"].items():
            t, call, events = (ms(c) for c in zip(*v["cpu"]))
            beside = ms([t[0] for t in v["live"]])  # the live ticks that took turns with these views
            worst = max(worst, t / beside)
            print(f"  {int(float(span)):>16,}{t:10.3f}{call:8.3f}{events:8.3f}{v['points']:9.0f}{beside:9.3f}"
                  f"{t / beside:8.2f}x")
        print(f"  slowest span / live tick {worst:6.2f}x   target <= 2x    {verdict(worst <= 2.0)}")
        print("  (events: Qt repainting the chart; a view over many samples draws each pixel column from its")
        print("   smallest to its largest sample, a taller line than the live window's to paint)")

    if "readout" in results:
        r = results["readout"]
        print()
        print(f"Readout: 4 linked charts x 2 series, {r['stored']:,} stored samples each, mouse moves over one chart")
        print(f"  {'ms CPU, median':<22}{'readout':>9}{'delivery':>10}{'repaint':>9}{'series':>8}")
        worst = 0.0
        for state in ("paused", "live"):
            v = r[state]
            worst = max(worst, ms(v["filter"]))
            print(f"  {state:<22}{ms(v['filter']):9.3f}{ms(v['event']):10.3f}{ms(v['paint']):9.3f}{v['series']:8d}")
        q = r["qt"]
        print(f"  {'no LiveView (Qt alone)':<22}{'-':>9}{ms(q['event']):10.3f}{ms(q['paint']):9.3f}")
        print("  (readout: LiveView.eventFilter for the move; delivery: the move sent to the viewport, the filter")
        print("   and Qt's own hover handling of the view; repaint: the processEvents() after it)")
        print(f"  readout cost per mouse move {worst:.3f} ms   target < 1 ms   {verdict(worst < 1.0)}")
        away, resting = ms(r["ticks"]["away"]), ms(r["ticks"]["resting"])
        print(f"  live tick (sync + events): mouse away {away:.3f} ms, resting over a chart {resting:.3f} ms "
              f"({resting / away:.2f}x)")


def child(args) -> None:
    if args.variant == "paused":
        out = run_paused(args.seconds, args.block)
    elif args.variant == "zoom":
        out = run_zoom(args.views)
    else:
        out = run_readout(args.moves)
    print("RESULT " + json.dumps(out))


def main(argv=None) -> None:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--seconds", type=float, default=60.0, help="simulated seconds of paused/live ticks (default 60)")
    p.add_argument("--block", type=int, default=50, help="ticks per paused or live block (default 50)")
    p.add_argument("--views", type=int, default=40, help="views per zoom span (default 40)")
    p.add_argument("--moves", type=int, default=300, help="mouse moves per readout case (default 300)")
    p.add_argument("--only", default="paused,zoom,readout", help="comma-separated: paused, zoom, readout")
    p.add_argument("--variant", help=argparse.SUPPRESS)
    args = p.parse_args(argv)
    if args.variant:
        child(args)
        return
    import numpy
    import PySide6

    print(f"Python {sys.version.split()[0]}, PySide6 {PySide6.__version__}, NumPy {numpy.__version__}; "
          f"load average {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    results = {}
    for name in [n.strip() for n in args.only.split(",") if n.strip()]:
        t0 = time.perf_counter()
        cmd = [sys.executable, os.path.abspath(__file__), "--variant", name, "--seconds", str(args.seconds),
               "--block", str(args.block), "--views", str(args.views), "--moves", str(args.moves)]
        proc = subprocess.run(cmd, capture_output=True, text=True)
        line = next((ln for ln in proc.stdout.splitlines() if ln.startswith("RESULT ")), None)
        if proc.returncode or line is None:
            sys.stderr.write(proc.stderr)
            raise SystemExit(f"{name} failed (exit status {proc.returncode})")
        results[name] = json.loads(line[len("RESULT "):])
        print(f"  {name:<8} done in {time.perf_counter() - t0:5.1f} s", flush=True)
    print(f"load average after: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    report(results)


if __name__ == "__main__":
    main()
