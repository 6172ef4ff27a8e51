"""The limits of the two syncs over StreamBuffers, with nothing pending: the Qt calls each one must
make, made from Python, plus a C scan (NumPy's min and max) of the same doubles.

- `stream_chart_limit` makes what larkui.streaming.sync_stream_chart calls when no sample arrived and
  no axis moves: per buffer `series.isVisible()` and `series.chart()`, once `plotArea()` and its
  size, the axes' `min()`/`max()`, their label fonts measured with QFontMetricsF (a line height and
  one label's advance), and the four tick calls per axis that find nothing to change; then the
  extremes of every visible buffer's window.
- `scrolling_chart_limit` makes what larkui.plotdeck.sync_scrolling_chart calls of Qt: per buffer
  `series.isVisible()`, then `setRange` on both axes, `tickCount` on the x axis and `tickCount` (or,
  for a small span, `setTickCount`) on the y axis; then the extremes of every buffer's last window_size + 1 history values.

The doubles are held in one (buffers, samples) float64 array, so the scan is two NumPy calls;
`numpy_call_overhead` measures what those two calls cost on a single value, to be taken off.
"""
from __future__ import annotations


def stream_chart_limit(series, chart, axX, axY, metrics_class, tick_settings, label, block):
    for s in series:
        s.isVisible()
        s.chart()
    area = chart.plotArea()
    area.width()
    area.height()
    axX.min()
    axX.max()
    axY.min()
    axY.max()
    x_metrics = metrics_class(axX.labelsFont())
    y_metrics = metrics_class(axY.labelsFont())
    y_metrics.height()
    x_metrics.horizontalAdvance(label)
    for axis, (anchor, dynamic) in zip((axX, axY), tick_settings):
        axis.setTickAnchor(anchor)
        axis.tickInterval()
        axis.setTickType(dynamic)
        axis.labelFormat()
    block.min(axis=1)
    block.max(axis=1)


def scrolling_chart_limit(series, axX, axY, x_range, y_range, y_ticks, block):
    for s in series:
        s.isVisible()
    axX.setRange(*x_range)
    axX.tickCount()
    axY.setRange(*y_range)
    if y_ticks is not None:  # a small span: its tick count is written on every call
        axY.setTickCount(y_ticks)
    else:
        axY.tickCount()
    block.min(axis=1)
    block.max(axis=1)


def numpy_call_overhead(one):
    one.min(axis=1)
    one.max(axis=1)
