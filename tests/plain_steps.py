"""The documented steps of larkui's callables in plain Python, for the differential tests.

Each function does literally what the steps say, in their order: every instance attribute and
every module-level name is read at the step that uses it (module-level names through the larkui
module's own namespace, so that rebinding or deleting one there changes these steps too), and the
arguments are bound and converted as the library binds them.
"""
import builtins
import ctypes
import inspect
import math

import numpy as np

import larkui.choosers as ch
import larkui.plotdeck as pd

INF = math.inf
BAD = "Argument '{}' has incorrect type (expected {}, got {})"
MISSING = object()


# ---- the host's conversions and unpacking ----

def G(module, name):
    """A module-level name as a body finds it: the module's namespace, then the built-ins."""
    try:
        return vars(module)[name]
    except KeyError:
        if hasattr(builtins, name):
            return getattr(builtins, name)
        raise NameError(f"name '{name}' is not defined") from None


def tp_name(o):
    t = type(o)
    return t.__name__ if t.__flags__ & (1 << 9) or t.__module__ == "builtins" else f"{t.__module__}.{t.__name__}"


def as_float(o):
    return o if type(o) is float else math.ldexp(o, 0)  # ldexp converts exactly as the host's float conversion


_number_check = ctypes.pythonapi.PyNumber_Check
_number_check.argtypes, _number_check.restype = [ctypes.py_object], ctypes.c_int


def as_int(o, name, none_ok=False):
    if type(o) is int or (o is None and none_ok):
        return o
    if _number_check(o):  # the host's own number check: its type's slots, not the names it answers to
        return int(o)
    raise TypeError(BAD.format(name, "int", tp_name(o)))


def exact(o, name, t, none_ok=False):
    if type(o) is not t and not (o is None and none_ok):
        raise TypeError(BAD.format(name, t.__name__, tp_name(o)))


def unpack2(v):
    """Two names from one value: an exact tuple or list by its length, anything else by iteration."""
    items = list(v) if type(v) in (tuple, list) else []
    if type(v) not in (tuple, list):
        for item in v:
            items.append(item)
            if len(items) == 3:
                break
    if len(items) > 2:
        raise ValueError("too many values to unpack (expected 2)")
    if len(items) < 2:
        raise ValueError(f"need more than {len(items)} value{'' if len(items) == 1 else 's'} to unpack")
    return items


def finite(v):
    return v == v and v != INF and v != -INF


def _finite_extremes(data, b_min, b_max):
    """A frame's extremes, of its finite values only (None when it has none)."""
    if finite(b_min) and finite(b_max):
        return b_min, b_max
    values = np.asarray(data)[np.isfinite(np.asarray(data))]
    return (values.min(), values.max()) if values.size else None


# ---- the steps ----

class TimeSeriesBuffer:
    def __init__(self, series, max_history=10000):
        max_history = as_int(max_history, "max_history")
        self.series = series
        self.history = []
        self.max_history = max_history
        self.last_x = 0
        self.last_snapshot_data = None
        self.last_snapshot_offset = 0
        self._pending_points = []
        self._pending_snapshot = None
        self._pending_snapshot_offset = 0

    def add_point(self, x, y):
        x, y = as_float(x), as_float(y)
        self.history.append(y)
        if len(self.history) > self.max_history:
            del self.history[0]
        self._pending_points.append(G(pd, "QPointF")(x, y))

    def set_data(self, data, x_offset=0.0):
        x_offset = as_float(x_offset)
        self._pending_snapshot = data
        self._pending_snapshot_offset = x_offset

    def flush(self):
        if self._pending_snapshot is not None:
            offset = self._pending_snapshot_offset
            points = [G(pd, "QPointF")(i + offset, v) for i, v in enumerate(self._pending_snapshot)]
            self.series.replace(points)
            self.last_snapshot_data = self._pending_snapshot
            self.last_snapshot_offset = offset
            self._pending_snapshot = None
            if not self.series.isVisible():
                self.series.setVisible(True)
            return True
        if self._pending_points:
            self.series.append(self._pending_points)
            self.last_x = self._pending_points[-1].x()
            self._pending_points.clear()
            if not self.series.isVisible():
                self.series.setVisible(True)
            return True
        return False

    def clear(self):
        self.series.clear()
        self.history = []
        self._pending_points = []
        self._pending_snapshot = None
        self.last_snapshot_data = None
        self.last_x = 0

    @property
    def is_visible(self):
        return self.series.isVisible()


def set_range_with_margin(axis, lo, hi, margin):
    """The range with its margin, or the extremes themselves where the margin makes an end non-finite."""
    low, high = lo - margin, hi + margin
    if not finite(low) or not finite(high):
        axis.setRange(lo, hi)
    else:
        axis.setRange(low, high)


def sync_scrolling_chart(buffers, axX, axY, window_size, fixed_y_range=None, margin_ratio=0.1, y_tick_cnt=None,
                         small_span_padding=1):
    window_size, margin_ratio = as_int(window_size, "window_size"), as_float(margin_ratio)
    y_tick_cnt = as_int(y_tick_cnt, "y_tick_cnt", True)
    small_span_padding = as_int(small_span_padding, "small_span_padding")
    exact(buffers, "buffers", list)
    exact(fixed_y_range, "fixed_y_range", tuple, True)
    current_max_x, values = 0, []
    for buf in buffers:
        buf.flush()
        if buf.last_x > current_max_x:
            current_max_x = buf.last_x
    if current_max_x < window_size:
        axX.setRange(1, window_size)
    else:
        axX.setRange(current_max_x - window_size + 1, current_max_x)
    if window_size <= 20:
        if window_size + 1 >= 2:
            axX.setTickCount(window_size + 1)
    elif axX.tickCount() != 6:
        axX.setTickCount(6)
    if fixed_y_range is not None:
        y_min, y_max = unpack2(fixed_y_range)
        axY.setRange(y_min, y_max)
        if y_tick_cnt is not None:
            axY.setTickCount(y_tick_cnt)
        elif axY.tickCount() != 5:
            axY.setTickCount(5)
        return None
    needed = window_size + 1
    for buf in buffers:
        if buf.is_visible and buf.history:
            values.extend(buf.history[-needed:])
    values = [v for v in values if finite(v)]  # NaN and the infinities are left out
    if not values:
        return None
    raw_min, raw_max = min(values), max(values)
    span = raw_max - raw_min
    if span < 15:
        new_min = G(pd, "math").floor(raw_min) - small_span_padding
        new_max = G(pd, "math").ceil(raw_max) + small_span_padding
        if new_min == new_max:
            new_min, new_max = new_min - 1, new_max + 1
        axY.setRange(new_min, new_max)
        auto_tick = new_max - new_min + 1
        auto_tick = auto_tick if type(auto_tick) is int else int(auto_tick)
        final_tick = y_tick_cnt if y_tick_cnt is not None and auto_tick > 5 else auto_tick
        axY.setTickCount(2 if final_tick < 2 else final_tick)
        return None
    margin = span * margin_ratio
    if margin == 0:
        margin = 1.0
    set_range_with_margin(axY, raw_min, raw_max, margin)
    if y_tick_cnt is not None:
        axY.setTickCount(y_tick_cnt)
    elif axY.tickCount() != 6:
        axY.setTickCount(6)


def sync_snapshot_chart(buffers, axX, axY, fixed_y_range=None, margin_ratio=0.1):
    margin_ratio = as_float(margin_ratio)
    exact(buffers, "buffers", list)
    exact(fixed_y_range, "fixed_y_range", tuple, True)
    y_lo, y_hi, x_lo, x_hi, seen = INF, -INF, INF, -INF, False
    for buf in buffers:
        buf.flush()
        if not buf.is_visible:
            continue
        data = buf.last_snapshot_data
        if data is None:
            continue
        seen = True
        offset = buf.last_snapshot_offset
        d_len = len(data)
        max_x = offset + d_len
        if offset < x_lo:
            x_lo = offset
        if max_x > x_hi:
            x_hi = max_x
        if fixed_y_range is not None or d_len == 0:
            continue
        extremes = _finite_extremes(data, G(pd, "np").min(data), G(pd, "np").max(data))
        if extremes is None:
            continue
        b_min, b_max = extremes
        if b_min < y_lo:
            y_lo = b_min
        if b_max > y_hi:
            y_hi = b_max
    if not seen:
        return None
    axX.setRange(0 if x_lo == INF else x_lo, 0 if x_hi == -INF else x_hi)
    if fixed_y_range is not None:
        axY.setRange(*unpack2(fixed_y_range))
        return None
    if y_hi >= y_lo:
        margin = (y_hi - y_lo) * margin_ratio
        if margin == 0:
            margin = 1.0
        set_range_with_margin(axY, y_lo, y_hi, margin)


def _get_start_dir(obj, attr, fallback):
    exact(attr, "attr", str)
    if obj is None:
        return fallback
    try:
        value = getattr(obj, attr)
        path_class = G(ch, "Path")
        if (isinstance(value, str) or isinstance(value, path_class)) and str.__len__(str(value)):
            return path_class(value)
    except Exception:
        pass
    return fallback


def _set_last_dir(obj, attr, path):
    exact(attr, "attr", str)
    if obj is None:
        return None
    try:
        setattr(obj, attr, G(ch, "Path")(path))
    except Exception:
        pass


def picker(folder):
    """pick_folder_path (folder true) or pick_file_path."""
    def pick(parent, *, line_edit=None, title="Select Folder" if folder else "Select File", name_filter="All Files (*)",
             last_dir_obj=None, last_dir_attr="_last_dir", return_pathlib=False):
        return_pathlib = bool(return_pathlib)
        for value, name in ((title, "title"), (name_filter, "name_filter"), (last_dir_attr, "last_dir_attr")):
            exact(value, name, str)
        fallback = G(ch, "Path").cwd()
        start_dir = str(G(ch, "_get_start_dir")(last_dir_obj, last_dir_attr, fallback))
        if folder:
            path = G(ch, "QFileDialog").getExistingDirectory(parent, title, start_dir)
        else:
            path, _ = unpack2(G(ch, "QFileDialog").getOpenFileName(parent, title, start_dir, name_filter))
        if not path:
            return None
        G(ch, "_set_last_dir")(last_dir_obj, last_dir_attr, path if folder else G(ch, "Path")(path).parent)
        if line_edit is not None:
            line_edit.setText(path)
        return G(ch, "Path")(path) if return_pathlib else path
    return pick


def collect_files_from_lineEdit(parent, line_edit, out_dir_name, name_filter, sort_datecode=False):
    sort_datecode = bool(sort_datecode)
    exact(out_dir_name, "out_dir_name", str)
    exact(name_filter, "name_filter", list)
    raw = (line_edit.text() or "").strip()
    if not raw:
        G(ch, "QMessageBox").warning(parent, "No path", "Please choose a file or a folder first.")
        return None
    filters = name_filter if name_filter else [""]
    p = G(ch, "Path")(raw)
    try:
        is_dir = p.is_dir()
        if not is_dir and not p.is_file():
            G(ch, "QMessageBox").warning(parent, "Invalid path", f"Path not found:\n{raw}")
            return None
        found = G(ch, "filedesk").find_files_with_extensions(str(p), filters, sort_datecode=sort_datecode)
        file_paths, base_names = unpack2(found)
        if not file_paths:
            return None
        folder = str(p) if is_dir else str(p.parent)
        out_dir = G(ch, "Path")(G(ch, "filedesk").generate_output_path(folder, out_dir_name))
    except Exception as e:
        G(ch, "QMessageBox").critical(parent, "I/O error", str(e))
        return None
    return file_paths, base_names, out_dir


def find_child_safe(parent, widget_type, name):
    exact(name, "name", str)
    child = parent.findChild(widget_type, name)
    if isinstance(child, widget_type):
        return child
    raise RuntimeError(f"[UI Load Error] Cannot find widget: '{name}' (Expected type: {widget_type.__name__})")


def bind(fn, conv, args, kwnames, kwvalues):
    """The library's binding of a call of fn, step by step: the count, the missing, the keyword faults,
    then the conversions and then the exact types (conv: parameter -> bool, float, int, str, tuple,
    list or dict; (t,) also lets None through). Returns the bound arguments or raises."""
    params = list(inspect.signature(fn).parameters.values())
    names, name = [p.name for p in params], fn.__name__
    npos = sum(p.kind is p.POSITIONAL_OR_KEYWORD for p in params)
    least = sum(p.kind is p.POSITIONAL_OR_KEYWORD and p.default is p.empty for p in params)

    def count(given, too_many=False):
        how, n = ("exactly", least) if least == npos else ("at most", npos) if too_many else ("at least", least)
        return TypeError(f"{name}() takes {how} {n} positional argument{'' if n == 1 else 's'} ({given} given)")

    if len(args) > npos:
        raise count(len(args), True)
    slots, fault = list(args) + [MISSING] * (len(params) - len(args)), None
    for key, value in zip(kwnames, kwvalues):
        j = next((j for j, n in enumerate(names) if isinstance(key, str) and str.__eq__(n, key) is True), None)
        if not isinstance(key, str):
            problem = f"{name}() keywords must be strings"
        elif j is None:
            problem = f"{name}() got an unexpected keyword argument '{str.__str__(key)}'"
        elif slots[j] is not MISSING:
            problem = f"{name}() got multiple values for keyword argument '{str.__str__(key)}'"
        else:
            slots[j], problem = value, None
        fault = fault or problem
    given = [i for i, s in enumerate(slots) if s is not MISSING]
    for i, p in enumerate(params):
        if slots[i] is MISSING:
            if p.default is p.empty:
                raise count(i)
            slots[i] = p.default
    if fault:
        raise TypeError(fault)
    for i in given:
        c = conv.get(names[i])
        if c is bool:
            slots[i] = bool(slots[i])
        elif c is float:
            slots[i] = as_float(slots[i])
        elif c in (int, (int,)):
            slots[i] = as_int(slots[i], names[i], c == (int,))
    for i in given:
        c = conv.get(names[i])
        if c in (str, tuple, list, dict, (tuple,)):
            exact(slots[i], names[i], c if isinstance(c, type) else c[0], c == (tuple,))
    return slots


pick_folder_path, pick_file_path = picker(True), picker(False)
