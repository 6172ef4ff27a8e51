from collections.abc import Iterable, Iterator
from typing import Any, Literal, Protocol, TypeAlias, overload

from PySide6.QtCharts import QChart, QChartView, QLineSeries, QScatterSeries, QValueAxis, QXYSeries
from PySide6.QtCore import QPointF, Qt
from PySide6.QtGui import QColor
from PySide6.QtWidgets import QScrollArea, QWidget

# What set_data accepts: anything with a length that iterates to numbers, normally a 1-D NumPy array.
class _Frame(Protocol):
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[Any]: ...

# A colour: text becomes QColor(text); anything else goes to Qt as it is.
_Colour: TypeAlias = QColor | Qt.GlobalColor | str

@overload
def build_sample_value_chart(
    ui_root: QWidget,
    host_name: str,
    *,
    y_title: str = "Value",
    x_title: str = "Sample",
    show_legend: object = True,
    antialias: object = False,
    minimal_viewport: object = True,
    return_view: Literal[False] = False,
) -> tuple[QChart, QValueAxis, QValueAxis]: ...
@overload
def build_sample_value_chart(
    ui_root: QWidget,
    host_name: str,
    *,
    y_title: str = "Value",
    x_title: str = "Sample",
    show_legend: object = True,
    antialias: object = False,
    minimal_viewport: object = True,
    return_view: Literal[True],
) -> tuple[QChart, QValueAxis, QValueAxis, QChartView]: ...
@overload
def build_sample_value_chart(
    ui_root: QWidget,
    host_name: str,
    *,
    y_title: str = "Value",
    x_title: str = "Sample",
    show_legend: object = True,
    antialias: object = False,
    minimal_viewport: object = True,
    return_view: object = False,
) -> tuple[QChart, QValueAxis, QValueAxis] | tuple[QChart, QValueAxis, QValueAxis, QChartView]:
    """Put a chart view with a chart into the host named `host_name` under `ui_root`.

    Returns (chart, axX, axY), with the chart view last when `return_view` is true.
    """
def make_scatter(
    chart: QChart,
    name: str,
    size: float,
    fill: _Colour,
    stroke: _Colour,
    stroke_w: float,
) -> QScatterSeries:
    """Make a scatter series (marker size, fill, outline colour and width), add it to `chart`, return it."""
def make_line(
    chart: QChart, name: str, color: _Colour, width: float = 2.0, style: Qt.PenStyle = ...
) -> QLineSeries:
    """Make a line series drawn with a pen of `color`, `width` and `style`, add it to `chart`, return it."""
def add_line_to_chart(
    chart: QChart,
    axX: QValueAxis,
    axY: QValueAxis,
    name: str,
    color: _Colour,
    width: float = 2.0,
    style: Qt.PenStyle = ...,
) -> QLineSeries:
    """Like `make_line`, and attach the series to `axX` then `axY`."""
def wrap_hosts_in_scroll(
    ui_root: QWidget,
    host_names: Iterable[str],
    *,
    cols: int = 2,
    root_margins: tuple[int, int, int, int] = ...,
    grid_margins: tuple[int, int, int, int] = ...,
    grid_hgap: int = 6,
    grid_vgap: int = 6,
    min_cell_size: tuple[int, int] = ...,
    host_heights: int | dict[str, int] | None = None,
) -> QScrollArea | None:
    """Move the named hosts under `ui_root` into a grid inside a new scroll area; None if none is found."""
def wrap_dynamic_charts_into_tabs(
    ui_root: QWidget,
    layout_config: dict[str, list[str]],
    *,
    cols: int = 2,
    root_margins: tuple[int, int, int, int] = ...,
    min_cell_size: tuple[int, int] = ...,
) -> dict[str, QWidget]:
    """Build one tab per entry of `layout_config`, each a grid of hosts (found or created); return them by name."""

class TimeSeriesBuffer:
    """Buffers one XY series: points appended one by one (scrolling) or whole frames (snapshot)."""

    series: QXYSeries
    history: list[float]
    max_history: int
    last_x: float
    last_snapshot_data: _Frame | None
    last_snapshot_offset: float
    _pending_points: list[QPointF]
    _pending_snapshot: _Frame | None
    _pending_snapshot_offset: float
    def __init__(self, series: QXYSeries, max_history: int = 10000) -> None: ...
    def add_point(self, x: float, y: float) -> None:
        """Producer: queue one point (scrolling mode); its y joins `history`."""
    def set_data(self, data: _Frame, x_offset: float = 0.0) -> None:
        """Producer: queue a whole frame (snapshot mode); point i lies at x = i + x_offset.

        The frame object itself is kept, not a copy: hand over a new one each time.
        """
    def flush(self) -> bool:
        """Consumer: write what is pending to the series in one call; True if the series was written."""
    def clear(self) -> None:
        """Empty the series and the buffer."""
    @property
    def is_visible(self) -> bool: ...

def sync_scrolling_chart(
    buffers: list[TimeSeriesBuffer],
    axX: QValueAxis,
    axY: QValueAxis,
    window_size: int,
    fixed_y_range: tuple[float, float] | None = None,
    margin_ratio: float = 0.1,
    y_tick_cnt: int | None = None,
    small_span_padding: int = 1,
) -> None:
    """Flush every buffer, show the newest `window_size` x positions and set the y range and tick counts."""
def sync_snapshot_chart(
    buffers: list[TimeSeriesBuffer],
    axX: QValueAxis,
    axY: QValueAxis,
    fixed_y_range: tuple[float, float] | None = None,
    margin_ratio: float = 0.1,
) -> None:
    """Flush every buffer and set the axes to the visible frames' extent (x from each frame's offset)."""
