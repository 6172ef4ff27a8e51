"""Plain-Python reference of sync_scrolling_chart and sync_snapshot_chart, step for step.

Used only by the benchmarks. It follows the same steps as larkui, including the two mends
(NaN left out of the scrolling y range, no NumPy reduction of an empty frame), written the
cheapest way plain Python allows. Its buffers are the plain-Python TimeSeriesBuffer of
baseline_plotdeck.
"""
import math

import numpy as np

from baseline_plotdeck import TimeSeriesBuffer  # noqa: F401  (re-exported for the benchmarks)


def sync_scrolling_chart(buffers, axX, axY, window_size, fixed_y_range=None, margin_ratio=0.1, y_tick_cnt=None,
                         small_span_padding=1):
    current_max_x = 0
    visible_values_in_window = []
    for buf in buffers:
        buf.flush()
        if buf.last_x > current_max_x:
            current_max_x = buf.last_x

    if current_max_x < window_size:
        x_min, x_max = 1, window_size
    else:
        x_min = current_max_x - window_size + 1
        x_max = current_max_x
    axX.setRange(x_min, x_max)

    if window_size <= 20:
        cnt = window_size + 1
        if cnt >= 2:
            axX.setTickCount(cnt)
    elif axX.tickCount() != 6:
        axX.setTickCount(6)

    if fixed_y_range is not None:
        y_min, y_max = fixed_y_range
        axY.setRange(y_min, y_max)
        if y_tick_cnt is not None:
            axY.setTickCount(y_tick_cnt)
        elif axY.tickCount() != 5:
            axY.setTickCount(5)
        return

    needed_history_count = window_size + 1
    for buf in buffers:
        if buf.is_visible and buf.history:
            subset = buf.history[-needed_history_count:]
            visible_values_in_window.extend(subset)
    if not visible_values_in_window:
        return

    values = visible_values_in_window
    # min/max pass over a NaN anywhere but first; only a leading NaN needs the filter.
    if values[0] != values[0]:
        values = [v for v in values if v == v]
        if not values:
            return
    raw_min = min(values)
    raw_max = max(values)
    span = raw_max - raw_min

    if span < 15:
        new_min = math.floor(raw_min) - small_span_padding
        new_max = math.ceil(raw_max) + small_span_padding
        if new_min == new_max:
            new_min -= 1
            new_max += 1
        axY.setRange(new_min, new_max)
        auto_tick = int(new_max - new_min + 1)
        final_tick = auto_tick
        if y_tick_cnt is not None and auto_tick > 5:
            final_tick = y_tick_cnt
        if final_tick < 2:
            final_tick = 2
        axY.setTickCount(final_tick)
        return

    margin = span * margin_ratio
    if margin == 0:
        margin = 1.0
    axY.setRange(raw_min - margin, raw_max + margin)
    if y_tick_cnt is not None:
        axY.setTickCount(y_tick_cnt)
    elif axY.tickCount() != 6:
        axY.setTickCount(6)


def sync_snapshot_chart(buffers, axX, axY, fixed_y_range=None, margin_ratio=0.1):
    global_y_min, global_y_max = float("inf"), float("-inf")
    global_x_min, global_x_max = float("inf"), float("-inf")
    has_visible_data = False

    for buf in buffers:
        buf.flush()
        if not buf.is_visible:
            continue
        data = buf.last_snapshot_data
        if data is None:
            continue
        has_visible_data = True
        offset = buf.last_snapshot_offset
        d_len = len(data)
        min_x = offset
        max_x = offset + d_len
        if min_x < global_x_min:
            global_x_min = min_x
        if max_x > global_x_max:
            global_x_max = max_x
        if fixed_y_range is not None or d_len == 0:
            continue
        b_min = np.min(data)
        b_max = np.max(data)
        if b_min < global_y_min:
            global_y_min = b_min
        if b_max > global_y_max:
            global_y_max = b_max

    if not has_visible_data:
        return
    if global_x_min == float("inf"):
        global_x_min = 0
    if global_x_max == float("-inf"):
        global_x_max = 0
    axX.setRange(global_x_min, global_x_max)

    if fixed_y_range is not None:
        y_min, y_max = fixed_y_range
        axY.setRange(y_min, y_max)
        return

    if global_y_max >= global_y_min:
        span = global_y_max - global_y_min
        margin = span * margin_ratio
        if margin == 0:
            margin = 1.0
        axY.setRange(global_y_min - margin, global_y_max + margin)
