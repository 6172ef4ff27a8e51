"""Live charts that stay fast and readable at any rate: `StreamBuffer` and `sync_stream_chart`.

The usual road of a streaming chart:

1. Once, while the window is set up: make the chart and its series with `larkui.plotdeck`
   (`build_sample_value_chart`, `add_line_to_chart`, `make_scatter`) and wrap each series in a
   `StreamBuffer(series, window)`.
2. While data arrives: the data source calls `add_point(x, y)` for a sample or
   `add_points(xs, ys)` for a block (NumPy arrays, read in place when they are contiguous
   float64). The samples go into a store of doubles of the buffer's own; nothing reaches Qt.
3. On the GUI timer, once per chart: `sync_stream_chart(buffers, axX, axY, window)` sets both
   axes (the newest `window` x units, the y extremes of everything on screen, round ticks whose
   labels fit the plot) and then writes every visible buffer to its series in one call, so that
   Qt Charts lays each line out once per tick. A write replaces the series' points with the
   newest `window` samples, decimated to about two points per pixel column of the plot by
   default, so the series never holds more than one window and the cost of a tick does not grow
   with the run.

`flush()` writes one buffer the same way without touching the axes, and a StreamBuffer can also
go to `larkui.plotdeck.sync_scrolling_chart` in place of a TimeSeriesBuffer (the same axes for
the same samples); `sync_stream_chart` is the one that sets the axes before the lines and keeps
the labels readable.

Choosing a buffer: take a `StreamBuffer` for a stream shown in a rolling window, above all a
fast one (thousands of samples a second, blocks from an acquisition card): its producer calls
touch no Qt object and make no Python object, its series stays one window long, and a write is
one call whatever the number of samples. Take `larkui.plotdeck.TimeSeriesBuffer` for what its
own documentation promises: points appended to a series that keeps them all until `clear` (you
trim it), and whole frames (`set_data`) for snapshot charts; `sync_snapshot_chart` takes
TimeSeriesBuffer objects only.

Non-finite samples: a sample whose x or y is NaN, inf or -inf is written to the series as a gap,
a point with y NaN (its x kept when it is finite, NaN otherwise), which Qt Charts draws as a
break in the line, so a dropout shows. (`QXYSeries.append`, which a TimeSeriesBuffer uses, drops
NaN and infinite points with the warning "Ignored NaN, Inf, or -Inf value.", and its line joins
across a dropout; `replace` and `replaceNp` keep them.) `history` keeps the values as they were
given; neither sync lets a non-finite value reach an axis.

Arguments are checked as in `larkui.plotdeck`: an `int` parameter takes an int as it is and
another number through `int()` (2.9 becomes 2, True becomes 1), and refuses anything else with
TypeError ``Argument 'NAME' has incorrect type (expected int, got TYPE)``; a `float` parameter
goes through the float conversion (a float subclass gives the float it holds, any other number
goes through `float()`; Python's own TypeError ``must be real number, not str``). A wrong
argument count gives ``NAME() takes exactly N positional arguments (M given)``, counting `self`;
an unknown keyword ``NAME() got an unexpected keyword argument 'K'``.

The module's namespace holds `QPointF` (PySide6.QtCore's), `np` (NumPy), `StreamBuffer`,
`StreamHistory` and `sync_stream_chart` (and `_C_API`, a capsule that `larkui.plotdeck` reads a
history through). A write that builds points looks `QPointF` up there at each call; NumPy's
`empty`, `float64` and `ascontiguousarray`, `QXYSeries.replace`, `replaceNp` and `clear`,
`QFontMetricsF` and `QValueAxis.TickType.TicksDynamic` are taken once, at import, so rebinding
`np` changes nothing. `add_point` and `add_points` touch no Qt object; `flush`, `clear`,
`is_visible` and `sync_stream_chart` call the series and axes, on the thread that owns them (the
GUI thread).

Importing the module warns (RuntimeWarning) when it was compiled for another Python version
than the running one; NumPy and PySide6's QtCharts must be installed. The module can be loaded
into one interpreter per process.
"""

from collections.abc import Iterator, Sequence
from typing import ClassVar, Literal, SupportsIndex, final, overload

from numpy.typing import ArrayLike
from PySide6.QtCharts import QChart, QChartView, QValueAxis, QXYSeries
from PySide6.QtCore import QEvent, QMetaObject, QObject, Signal
from PySide6.QtQuick import QQuickItem
from PySide6.QtQuickWidgets import QQuickWidget
from typing_extensions import disjoint_base

@disjoint_base
class StreamBuffer:
    """A rolling buffer for one XY series of a scrolling chart, written to it in one bulk call.

    The producer adds samples with `add_point` and `add_points` into a store of doubles of the
    buffer's own, which keeps the newest samples and overwrites the oldest; these calls touch no
    Qt object and make no Python object. `sync_stream_chart` (or `flush`) writes the newest
    `window` samples to the series in one call, replacing what it held, so the series never
    holds more than one window:

    - one `QXYSeries.replaceNp(series, xs, ys)` with two float64 arrays for a genuine PySide6 XY
      series (`QLineSeries`, `QScatterSeries`, `QSplineSeries` or a subclass) whose `replace` is
      the binding's own, that is neither overridden by a subclass nor set on the instance (a
      subclass's own `replaceNp` is not called);
    - one `series.replace(points)` with a list of `QPointF` made with the module's `QPointF`, for
      anything else (a subclass that overrides `replace`, a recording double).

    The display budget: with `display_budget=None`, or while the window holds at most B samples
    (the budget), every sample of the window becomes one point, oldest first. With the default,
    "auto", B is two points per pixel column of the plot area of the series' chart
    (`2 * int(series.chart().plotArea().width())`), read again at every write, so a resized chart
    is followed; a series with no chart (or no `chart()` method), or a plot area under one pixel
    wide, gets every sample. An int B is used as it is. A Qt Graphs series (`PySide6.QtGraphs`, as
    `larkui.graphs` makes them) is written with its own `replaceNp` the same way, and its plot area
    is that of the `GraphsView` that owns it (its QObject parent: `parent.property("plotArea")`);
    one without such a parent gets every sample. This module never imports `PySide6.QtGraphs`
    itself: it recognises its classes once your code has.

    Decimation, with more than B samples in the window: buckets have L = ceil(window / (B // 2))
    samples each, and their edges lie at multiples of L of the samples' absolute index (the count
    of samples added to the buffer before them, never reset), so a sample stays in its bucket for
    as long as it is on screen. Each bucket from the one that holds the window's oldest sample to
    the one that holds the newest is written as its sample with the smallest finite y and its
    sample with the largest finite y (the first of equal values), plus one gap at its first
    sample that cannot be drawn, in sample order; the first bucket is written whole while the
    store holds it, its samples before the window's left end lying left of the x range. So the
    line does not shimmer as it scrolls: after any write, every bucket that holds only samples
    that were on screen before keeps its points exactly. A bucket whose smallest and largest are
    one sample gives one point, a bucket with no finite value just its gap; a write gives at
    most 3 * (samples written // L + 2) points, about B for a full window, and every peak and
    dip stays visible.

    A sample whose x or y is NaN, inf or -inf is written as a gap: y NaN, x kept when finite and
    NaN otherwise, which Qt Charts draws as a break in the line (where a TimeSeriesBuffer's
    `append` makes Qt drop the point and join the line across it). `history` keeps the values
    as given.

    With `larkui.plotdeck.sync_scrolling_chart` a StreamBuffer stands in for a TimeSeriesBuffer,
    and both kinds can share one list: `history` holds the newest `max_history` y values, oldest
    first, whatever has been written (by default at least the whole window, so the y range
    covers every sample on screen); `last_x` is the x of the newest sample that the last write
    wrote; `is_visible` is `series.isVisible()`. For the same samples the axes come out the same.
    `sync_snapshot_chart` needs a TimeSeriesBuffer's frames: a StreamBuffer in its list is
    flushed and then, when its series is visible, raises AttributeError
    ``'larkui.streaming.StreamBuffer' object has no attribute 'last_snapshot_data'``.

    Calling a member through the class with another object as `self` raises TypeError
    ``descriptor 'NAME' for 'StreamBuffer' objects doesn't apply to a 'TYPE' object``. A buffer
    whose `__init__` never ran (`StreamBuffer.__new__(StreamBuffer)`, a subclass whose
    `__init__` skips it) refuses `add_point`, `add_points`, `flush` and `clear` with RuntimeError
    ``this StreamBuffer was never initialised: StreamBuffer.__init__ did not run``; it reads as
    `window` 0, `display_budget` None, `max_history` 0, `last_x` 0 and an empty `history`, and has
    no `series` (AttributeError, and so has `is_visible`).

    The class may be subclassed, and its instances take attributes of your own and weak
    references.
    """

    series: QXYSeries
    """The series that writes and `clear` go to, as given to `__init__`; you may assign another.

    Not checked: anything with `replace` (taking a list of `QPointF`), `clear`, `isVisible` and
    `setVisible` works (and `chart()` for an automatic budget). After an assignment the next
    write with new samples writes the whole window to the new series; the old one keeps its
    points. Deleting the attribute makes `flush`, `clear`, `is_visible` and `sync_stream_chart`
    raise AttributeError ``'StreamBuffer' object has no attribute 'series'``.
    """

    @property
    def last_x(self) -> float:
        """The x of the newest sample when the series was last written (read-only).

        The int 0 until a write, and again after `clear()` or `__init__`; afterwards a float, the
        sample's x as given (NaN or inf too, which the syncs ignore when they scroll). With
        decimation the newest sample need not be among the points written; `last_x` is its x all
        the same. A write that fails leaves it as it was.
        """

    @property
    def window(self) -> int:
        """How many of the newest samples a write writes, before any decimation (read-only).

        The `window` given to `__init__`, from 1 to 10,000,000; call `__init__` again to change
        it (which starts the buffer afresh). With x = sample numbers, a window of N samples fits
        `sync_stream_chart(..., window=N)`.
        """

    @property
    def display_budget(self) -> int | None:
        """The most samples a write writes one per point before it decimates the window.

        The `display_budget` given to `__init__`: "auto" (two points per pixel column of the
        plot, the default), None (every sample of the window is written) or an int from 2 to
        10,000,000. Read-only.
        """

    @property
    def max_history(self) -> int:
        """How many of the newest y values `history` offers (read-only).

        max(`window`, 10000) when `__init__` was given None (the default), else the
        `max_history` given, or 0 when that was 0 or less; at most 10,000,000. Unlike a
        TimeSeriesBuffer's it cannot be assigned: call `__init__` again.
        """

    def __init__(
        self,
        series: QXYSeries,
        window: int,
        *,
        display_budget: int | Literal['auto'] | None = "auto",
        max_history: int | None = None,
    ) -> None:
        """Start empty, for `series`, writing the newest `window` samples at each write.

        Nothing is called on the series. The buffer allocates at once its store of
        max(`window` + a spare, `max_history`) samples (16 bytes each; the spare holds the part
        of the oldest bucket before the window: 1 without a budget, a bucket's length with an
        int budget, window // 64 + 1 with "auto"), and the two float64 arrays a write fills
        (`window` points, or about 3 * (`display_budget` // 2) with decimation; with "auto" at
        the first write). The arrays are made again only when a write needs more points.

        Calling `__init__` again on a buffer starts it afresh: a new empty store with the new
        limits, `series` replaced, `last_x` back to 0; the samples held before are dropped and
        the next flush writes nothing until a sample arrives (the old series keeps its points).
        When the new arguments are refused, the buffer stays as it was.

        Args:
            series: the series to write to, normally a `QLineSeries` of `add_line_to_chart` or a
                `QScatterSeries` of `make_scatter`; anything with `replace` (taking a list of
                `QPointF`), `clear`, `isVisible` and `setVisible` works (not checked).
            window: how many of the newest samples the series shows; an int, or a number
                through `int()`; at least 1, at most 10,000,000.
            display_budget: "auto" for two points per pixel column of the plot area of the
                series' chart (every sample when there is none), None to write every sample of
                the window, or the most samples written one per point: an int, or a number
                through `int()`, from 2 to 10,000,000. A larger window is decimated (see the
                class). Keyword-only, default "auto".
            max_history: how many of the newest y values `history` offers, for the y range of
                `larkui.plotdeck.sync_scrolling_chart`: None for max(`window`, 10000), so that it
                covers the window; an int, or a number through `int()`, where 0 or less keeps no
                values; at most 10,000,000. It never limits the window. Keyword-only, default
                None.

        Raises:
            ValueError: ``window must be at least 1 (got N)``, ``display_budget must be at
                least 2 (got N)``, with N after `int()`; ``window of N points is more than a
                StreamBuffer holds (at most 10000000)`` (likewise `display_budget`,
                `max_history`); ``display_budget must be 'auto', None or a number of points
                (got 'TEXT')`` for another string.
            TypeError: ``Argument 'window' has incorrect type (expected int, got TYPE)``
                (likewise `display_budget`, `max_history`); ``__init__() takes exactly 3
                positional arguments (N given)`` when a keyword-only argument is passed
                positionally.
            MemoryError: when the store cannot be allocated.
        """

    def add_point(self, x: float, y: float) -> None:
        """Add one sample; nothing reaches the series until it is written.

        The sample is stored as two doubles, overwriting the oldest once the store is full, and
        its y joins `history` at once. NaN and infinite values are kept (a write shows them as
        gaps).

        Args:
            x: the sample's x in axis units (a sample number, a time), through the float
                conversion. Keep it increasing: the window is the newest samples by arrival, not
                by x, and the syncs scroll to the newest x.
            y: the sample's value, through the float conversion (a float subclass gives the float
                it holds; a NumPy scalar or an int what `float()` gives).

        Raises:
            TypeError: Python's own (``must be real number, not str``) when `x` or `y` is not a
                number; nothing is added.
            OverflowError: ``int too large to convert to float``; nothing is added.
            RuntimeError: when the buffer was never initialised.
        """

    def add_points(self, x: ArrayLike, y: ArrayLike) -> None:
        """Add a block of samples, oldest first, as a data source delivers it.

        A one-dimensional, contiguous float64 array in native byte order is read in place;
        another array (an integer or float32 array, a strided view, big-endian data, a NumPy
        scalar, which counts as one sample) goes through
        `numpy.ascontiguousarray(block, dtype=numpy.float64)`, which converts the numbers of a
        numeric dtype exactly. A list, a tuple or any other sequence or iterable is converted
        element by element as `add_point` converts its y, so both store the same double for the
        same number; a lone number counts as one sample. Of a block longer than the store only
        the newest samples are kept. An empty block changes nothing: a flush after it returns
        False when nothing else arrived. Like `add_point`, it touches no Qt object.

        Args:
            x: the samples' x values, a one-dimensional array or sequence of numbers.
            y: the samples' values, a one-dimensional array or sequence of the same length.

        Raises:
            ValueError: ``add_points takes blocks of equal length (x has N values, y has M)``;
                ``add_points takes one-dimensional blocks (x has N dimensions)`` (likewise y)
                for an array; NumPy's own ValueError or TypeError when an array cannot be
                converted. Nothing is added then.
            TypeError: ``must be real number, not TYPE`` for an element of a sequence that is no
                number (a string, a nested list); ``add_points takes arrays or sequences of
                numbers, not None (x)``. Nothing is added.
            RuntimeError: when the buffer was never initialised.
        """

    def flush(self) -> bool:
        """Write the window to the series in one call, when samples arrived since the last write.

        With no sample added since the last write (or since `clear()` or `__init__`), nothing is
        called and the result is False. Otherwise, with the automatic budget, the plot area of
        the series' chart is read (`series.chart().plotArea().width()`); the newest
        min(`window`, samples held) samples are laid out as points, oldest first, each as it is
        or, beyond the budget, decimated (see the class), non-finite ones as gaps, and written in
        one call: `QXYSeries.replaceNp` for a genuine PySide6 XY series whose `replace` is the
        binding's own, else `series.replace(list of QPointF)`. The series then holds exactly
        those points. `last_x` becomes the newest sample's x, as a float, and a hidden series is
        shown again (`setVisible(True)` when `isVisible()` is false, for instance after a click
        on its legend marker); `sync_stream_chart`, which sets the axes too, leaves hidden
        series hidden.

        Errors of the series calls propagate. When the write fails, `last_x` is unchanged and
        the samples still count as new, so the next flush writes again; an error of `isVisible`
        or `setVisible` comes after the window was written.

        Returns:
            True when the series was written, False when no sample had arrived.

        Raises:
            RuntimeError: when the buffer was never initialised.
            AttributeError: ``'StreamBuffer' object has no attribute 'series'`` when `series`
                was deleted.
        """

    def clear(self) -> None:
        """Empty the series and the buffer; `last_x` returns to 0.

        Calls `series.clear()` first, then drops every sample (`history` becomes empty) and sets
        `last_x` to the int 0; `window`, `display_budget`, `max_history` and `series` keep their
        values. The next write writes nothing until a sample arrives. An error of
        `series.clear()` propagates before anything in the buffer is reset.

        Raises:
            RuntimeError: when the buffer was never initialised.
        """

    @property
    def is_visible(self) -> bool:
        """Whether the series is visible: `series.isVisible()`, read afresh each time (read-only).

        Both syncs leave hidden buffers out of the y range; `sync_stream_chart` does not write
        them, `sync_scrolling_chart` flushes them, which shows them again. Raises AttributeError
        when there is no `series`.
        """

    @property
    def history(self) -> StreamHistory:
        """The y values of the newest samples, oldest first, at most `max_history`: a live view.

        Each read gives a new `StreamHistory` over the buffer's store (read-only): it follows the
        samples as they arrive, whether written or not, and is empty after `clear()`. Its floats
        are made when they are read; slicing it gives a list of floats
        (`buffer.history[-10:]`), and `list(buffer.history)` copies it. The values are as given,
        NaN and infinite ones included.
        """

@final
class StreamHistory(Sequence[float]):
    """The y values of a StreamBuffer's newest samples, oldest first: a live, read-only view.

    `StreamBuffer.history` makes one on each read; it holds no values of its own, so it always
    shows the buffer as it is now: it grows as samples arrive (up to `max_history` values, the
    oldest dropping out first) and is empty after `clear()`, after `__init__` runs again, and
    always when `max_history` is 0 or less. It keeps its buffer alive.

    It offers `len()`, indexing with an int (negative counts from the end; out of range raises
    IndexError ``StreamHistory index out of range``, a key of another type TypeError
    ``StreamHistory indices must be integers or slices, not TYPE``), iteration, `in`,
    `reversed()` and sequence patterns in `match`. A slice is a new list of floats
    (`history[-100:]`), the values `sync_scrolling_chart` takes of it (which reads a genuine
    StreamHistory's doubles without making the list); `list(history)` copies all of it. It
    compares equal to a list, a tuple or a StreamHistory holding the same values in the same
    order (`==` and `!=` only). The values are floats made when they are read, equal to the ones
    given, NaN and infinite ones included.

    It is a `collections.abc.Sequence` (registered as one), with `index` and `count` as a list
    has them, but not a list: it cannot be changed (item assignment raises TypeError), is
    unhashable, and cannot be made directly (``cannot create 'larkui.streaming.StreamHistory'
    instances``) or subclassed.
    """

    def __len__(self) -> int:
        """The number of values: the samples the buffer holds, at most `max_history`.

        Read afresh at each call, as every operation of the view is.
        """

    @overload
    def __getitem__(self, index: SupportsIndex, /) -> float:
        """Value `index` (0 is the oldest, -1 the newest), or a list of floats for a slice.

        Args:
            index: an int or an object with `__index__`, negative counting from the end; or a
                slice, which gives a new list (`history[-10:]`, `history[::-1]`).

        Returns:
            The value as a float, or a list of floats for a slice.

        Raises:
            IndexError: ``StreamHistory index out of range``.
            TypeError: ``StreamHistory indices must be integers or slices, not TYPE``.
        """
    @overload
    def __getitem__(self, index: slice, /) -> list[float]:
        """Value `index` (0 is the oldest, -1 the newest), or a list of floats for a slice.

        Args:
            index: an int or an object with `__index__`, negative counting from the end; or a
                slice, which gives a new list (`history[-10:]`, `history[::-1]`).

        Returns:
            The value as a float, or a list of floats for a slice.

        Raises:
            IndexError: ``StreamHistory index out of range``.
            TypeError: ``StreamHistory indices must be integers or slices, not TYPE``.
        """

    def __iter__(self) -> Iterator[float]:
        """Iterate over the values, oldest first.

        The iterator reads the live view by index, so samples added while it runs may be seen.
        """

    def __eq__(self, other: object, /) -> bool:
        """Whether `other` is a list, tuple or StreamHistory holding the same values in order.

        Any other object is not equal. The values are compared as new floats, so a NaN is never
        equal, not even in the same history.
        """

    def __ne__(self, other: object, /) -> bool:
        """Whether `other` is not a list, tuple or StreamHistory holding the same values in order.

        The negation of `==`.
        """

    def index(self, value: float, start: int = 0, stop: int = 9223372036854775807) -> int:
        """The position of the first value equal to `value` within `start:stop`, as list.index.

        Args:
            value: the value to look for (compared with `==`, so NaN is never found).
            start: where the search starts (negative counts from the end).
            stop: where it stops.

        Returns:
            The position, 0 being the oldest value.

        Raises:
            ValueError: ``VALUE is not in list`` when no value is equal.
        """

    def count(self, value: float) -> int:
        """How many values are equal to `value`.

        Args:
            value: the value to count (compared with `==`).

        Returns:
            The number of equal values.
        """

    __hash__: ClassVar[None]  # type: ignore[assignment]

def sync_stream_chart(
    buffers: list[StreamBuffer] | tuple[StreamBuffer, ...],
    axX: QValueAxis,
    axY: QValueAxis,
    window: float,
    *,
    fixed_y_range: tuple[float, float] | None = None,
    margin_ratio: float = 0.1,
) -> None:
    """Bring one chart up to date: set both axes, then write every visible buffer in one call.

    Call it from the GUI timer with the buffers of one chart and its two value axes. In order:

    1. The arguments are checked (see Raises); nothing is called before.
    2. What Qt knows is read: `series.isVisible()` of every buffer, the plot area of the series'
       chart (`series.chart().plotArea()`, once per chart: the first buffer whose series has a
       chart gives the axes' pixel lengths; a series without `chart()` or with no chart has
       none), the axes' `min()` and `max()`, and their label fonts (`labelsFont()`, measured with
       `QFontMetricsF`). On Qt Graphs (series and axes of `PySide6.QtGraphs`, in a graph made by
       `larkui.graphs`), the chart is the `GraphsView` that owns the series (its QObject parent),
       its plot area `property("plotArea")`, and the label fonts are those of the graph's theme
       (`axisXLabelFont()`, `axisYLabelFont()`), or the application's font without one.
    3. X range: (lo, lo + window), where lo is the later of the oldest finite x that any buffer
       holds and the newest finite x of any buffer minus `window`. So the axis starts at the
       first sample while the data is shorter than the window, and then scrolls with the newest
       sample at its right end. New samples count at once (this call writes them). Hidden
       buffers move the x axis like visible ones. With no finite x in any buffer the range is
       (0, window).
    4. Y range: `fixed_y_range` as given; otherwise the smallest and largest finite y of every
       sample that the visible buffers write (each one's window, decimated or not, see
       `StreamBuffer`), read from the buffers' stores of doubles, widened by margin_ratio x
       their span on each side. A constant (a span of at most 1e-12 of the values) gets a tenth
       of its value on each side, or 1 about zero. A spike anywhere on screen is always inside
       the axis. With no such sample (no visible buffer, or no drawable sample), the y axis is
       left as it was.
    5. Ticks, on both axes: Qt's dynamic ticks (`TicksDynamic`) at a round step, 1, 2 or 5
       times a power of ten, the smallest whose labels all fit the axis' pixel length (the plot
       area's height for y, its width for x): each label's share of that length holds the label
       (the label font's line height plus 3 pixels for y, the widest label's advance plus 3 for
       x) and Qt's 8 pixels of padding, which is what Qt Charts needs to draw a label whole
       instead of as "...". The label format shows the step's digits (``%.0f`` for a step of 1
       or more, ``%.1f`` for 0.2, ...), or an exponent (``%.2e``) where that is much shorter and
       the range does not cross zero. The anchor is 0 (near the range for values far from
       zero), so the ticks stay on round values as the axis scrolls, and no label reads "-0.0".
       A chart not laid out yet counts as 100 pixels. A Qt Graphs axis has no tick type: it gets
       the same step as `tickInterval` and the same anchor as `tickAnchor` (kept within a thousand
       steps of the range, since Qt Graphs steps from the anchor to the range every frame).
    6. When either range changes, every series about to be written is emptied first
       (`QXYSeries.clear`, for a PySide6 series); then the tick settings are written (only
       those that changed cost Qt anything), then the ranges (only a range that changes), and
       the chart's layout is brought up to date when new tick settings invalidated it. Qt Graphs
       lays a frame's labels and grid out for the range and ticks of the frame before: a Qt
       Graphs axis whose range or ticks this call changed is marked (the dynamic property
       `_larkui_settle`), and the next call sets its range once more, changed or not, and clears
       the mark.
    7. Every visible buffer that holds samples is written, in list order, when it has new
       samples or when an axis range changed (a line written again costs Qt one layout; a line
       kept through a range change costs it one per axis): as `flush` writes it, in one call,
       and `last_x` is updated. So Qt lays each line out once per tick.

    Hidden buffers (`series.isVisible()` false, after a click on a legend marker, say) are
    neither written nor shown again by this call, so a legend click that hides a line sticks;
    their new samples wait for a later write (a `flush`, or this call once the series is visible
    again). Non-finite values never reach `setRange`.

    Args:
        buffers: a `list` or `tuple` of the chart's `StreamBuffer` objects (each set up by
            `__init__`); may be empty. The call works on a copy, so code run by Qt that changes
            your list does not change the call.
        axX: the chart's X value axis (a `QValueAxis`).
        axY: the chart's Y value axis (a `QValueAxis`).
        window: the span of the x axis in x units (sample numbers, seconds, ...): a finite number
            above 0, converted to a float.
        fixed_y_range: None for an automatic y range, or a pair (y_min, y_max) of finite numbers
            with y_min < y_max, written as it is. Keyword-only, default None.
        margin_ratio: the margin added below and above the automatic y range, as a fraction of
            its span: a finite number of at least 0. Keyword-only, default 0.1.

    Returns:
        None.

    Raises:
        TypeError: ``sync_stream_chart takes a list or tuple of StreamBuffer objects (got TYPE)``;
            ``sync_stream_chart takes StreamBuffer objects (buffers[I] is a TYPE)``; the float
            conversion's own error for `window`, `margin_ratio` or an end of `fixed_y_range`.
        ValueError: ``window must be a finite number above 0 (got W)``, ``margin_ratio must be a
            finite number of at least 0 (got M)``, ``fixed_y_range must be None or two finite
            numbers, the first below the second (got R)``, ``too many values to unpack (expected
            2)`` or ``need more than N values to unpack``.
        RuntimeError: ``buffers[I] was never initialised: StreamBuffer.__init__ did not run``;
            Qt's own (``Internal C++ object ... already deleted``) for a series or axis deleted
            on the C++ side.
        AttributeError: ``'StreamBuffer' object has no attribute 'series'`` when a buffer's
            `series` was deleted.

    An error of a Qt call propagates at once; what was done before stays done. Code that Qt
    runs during the call (a slot connected to a series' signals, say) may change the buffers:
    each one is read afresh before it is written.
    """

class LiveView(QObject, metaclass=type):
    """Pause a live chart, zoom and pan over what its buffers kept, read the values under the cursor.

    Every chart that `sync_stream_chart` drives gets one LiveView at the first call for it (the
    chart of the first buffer whose series has a chart, once that chart is shown in a
    `QChartView`); `live_view(chart)` returns it. It is a QObject parented to the chart's view,
    so it lives exactly as long as the view; it filters the view's input and draws on the chart
    with a few standard graphics items (a clipping rectangle on the plot area and, inside it, the
    readout, the paused marker and the zoom rectangle), and turns the view's rubber band off
    (`QChartView.RubberBand.NoRubberBand`). Charts that only `larkui.plotdeck.sync_scrolling_chart`
    drives get none.

    Pausing: `pause()`, `resume()`, `toggle()`, or the Space key on the chart view when it has
    the focus (a click on the chart gives it the focus; holding Space does not toggle again). A
    paused chart shows a small marker in the top-right corner of its plot, "paused at x = X", X
    being the newest x its buffers held. While it is paused the buffers keep taking every sample,
    and `sync_stream_chart` returns at once for it, changing neither its series nor its axes: a
    paused tick costs a few lookups. `resume()` writes the newest window at once. What can be
    looked at is what the buffers' stores hold: max(`window` + a spare, `max_history`) samples per
    buffer (by default at least 10,000), the oldest overwritten first, also while paused; give
    the buffers a larger `max_history` to keep more.

    While paused, over everything the stores hold: the mouse wheel zooms the x axis around the
    cursor (0.8 times the span per notch of 120); a left-button drag pans by the distance dragged
    (x only, or x and y once you zoomed y); a right-button drag zooms to the rectangle drawn (x,
    and y unless the rectangle is under 3 pixels high), and pauses a live chart first; a
    double-click shows everything the stores hold. The y axis follows the visible samples (their
    smallest and largest finite value, with the last sync's `margin_ratio`, or its
    `fixed_y_range`) unless you zoomed y with a rectangle; `show_all()` and `reset_view()` give it
    back to the samples. Every view is written from the stores as the live window is: at most
    about two points per pixel column of the plot (or the buffer's own `display_budget`), each
    bucket of samples as its smallest and largest one and a gap where it lost one, so a view over
    10 million samples costs about what the live window does and a view zoomed in far enough
    shows every sample. Buckets of long views are read from summaries of 64-sample blocks and of
    runs of 64 blocks, made the first time a view needs them. Axes get the round ticks `sync_stream_chart` gives them.
    Events outside the plot area, and the wheel and the left button while live, are left to Qt
    (so a chart in a scroll area scrolls with the wheel until it is paused).

    The readout, live or paused: while the mouse is over the plot, a dashed vertical line at its x
    and a label with that x and, for each visible series, its value at the stored sample whose x
    is nearest (in the series' colour; "gap" for a sample that is not drawable; "–" when the
    nearest sample lies outside the plot, or when the mouse is past the first or the last sample
    stored by more than 8 pixels), kept inside the plot; it goes when the mouse leaves,
    and follows the data of a live chart at every tick. It is drawn with overlay items only: no
    series is laid out again for it.

    Linked charts (`link_x`) share one x range and one paused state, as pyqtgraph's `setXLink`
    links x ranges both ways: pausing, zooming or panning one of them does it to all, each keeping
    its own y axis, and the readout shows the same x on each.

    The signals `paused()`, `resumed()` and `viewRangeChanged(float, float)` can be connected as
    any Qt signal (a slot that raises is reported by PySide6 and the others still run). Create no
    LiveView yourself (``LiveView objects are made by live_view(chart)``); one whose chart or view
    was deleted is detached: its methods then raise RuntimeError ``this LiveView is no longer
    attached to a chart``.

    Qt Graphs graphs (`larkui.graphs`): every graph that `sync_stream_chart` drives gets a
    LiveView too, a QObject parented to the graph (its `QGraphsView`, the owner of its series), so
    it is deleted with the graph and with the `QQuickWidget` that shows it; `live_view(graph)` or
    `live_view(widget)` returns it, `chart` is the graph and `view` the widget. Pausing, resuming,
    `toggle()`, the signals, `x_range`, `set_x_range()`, `reset_view()`, `show_all()` and `link_x`
    work as for charts (a graph links with graphs and with charts), the Space key on the focused
    widget toggles, and the paused marker is a small Qt Quick item in the plot's top-right corner.
    The mouse is not handled (no wheel zoom, drags, double-click nor readout; `readout` stays
    None): a graph's input arrives through its Qt Quick scene, where a readout and a zoom rectangle
    would have to be Qt Quick items of their own, and Qt Graphs' own zoom and pan (`zoomStyle`,
    `panStyle`) zoom both axes about the centre through the axes' `zoom` and `pan`, not their
    ranges, so they cannot stand in.
    """

    def __init__(self, parent: QObject | None = None) -> None:
        """Refuses: a LiveView is made for a chart by `sync_stream_chart` or `live_view`.

        One LiveView belongs to each chart and is made with it, so a LiveView of your own could
        inspect nothing.

        Args:
            parent: ignored.

        Raises:
            TypeError: ``LiveView objects are made by live_view(chart)``.
        """

    def eventFilter(self, watched: QObject, event: QEvent) -> bool:
        """Qt's event filter on the chart view and its viewport: the keys, the mouse and the wheel.

        Qt calls it for every event of the view and its viewport; it returns True for the events it
        handles (Space on the view; the drags, the wheel and the double-click described in the
        class), so Qt goes no further with them, and False for everything else. It never raises: an
        error (a Qt object deleted under it, say) is reported through `sys.unraisablehook` and the
        event is left to Qt.

        Args:
            watched: the object the event is for.
            event: the event.

        Returns:
            Whether the event was handled.
        """

    def pause(self) -> None:
        """Stop the chart (and the charts linked with it) where it is; nothing when it is paused.

        The x range shown stays that of the live window (a linked chart is written at this chart's
        range), the paused marker appears, and `paused` is emitted by every chart that was live.

        Raises:
            RuntimeError: ``this LiveView is no longer attached to a chart``.
        """

    def resume(self) -> None:
        """Return the chart (and the charts linked with it) to the live window at once.

        Every paused member is written as `sync_stream_chart` writes it, with the arguments of its
        last call, its y axis following the samples again; then `resumed` is emitted by each.
        Nothing happens when the chart is live.

        Raises:
            RuntimeError: ``this LiveView is no longer attached to a chart``.
        """

    def toggle(self) -> bool:
        """Pause a live chart, resume a paused one: what the Space key does.

        Returns:
            Whether the chart is paused now.

        Raises:
            RuntimeError: ``this LiveView is no longer attached to a chart``.
        """

    @property
    def is_paused(self) -> bool:
        """Whether the chart is paused (read-only); False once the LiveView is detached.

        Linked charts are paused and resumed together, so every member of a group answers alike.
        """

    @property
    def x_range(self) -> tuple[float, float] | None:
        """The x range shown, (lo, hi), read-only: the paused view's, or the x axis' while live.

        None while live before the first `sync_stream_chart` call for the chart, or once detached.
        """

    def set_x_range(self, lo: float, hi: float) -> None:
        """Show the x interval [lo, hi], pausing the chart (and its linked charts) when it is live.

        The view is written from the stores (see the class) and `viewRangeChanged(lo, hi)` is emitted
        by every member, unless the range was already shown. The y axes keep their mode (following
        the samples, or zoomed).

        Args:
            lo: the left end, a finite number.
            hi: the right end, a finite number above `lo`.

        Raises:
            ValueError: ``set_x_range takes two finite numbers, the first below the second (got LO, HI)``.
            RuntimeError: ``this LiveView is no longer attached to a chart``.
        """

    def reset_view(self) -> None:
        """Go back to the x range at which the chart was paused, every y axis following the samples.

        Nothing happens when the chart is live.

        Raises:
            RuntimeError: ``this LiveView is no longer attached to a chart``.
        """

    def show_all(self) -> None:
        """Show everything the stores hold, from the oldest to the newest x: what a double-click does.

        Pauses the chart (and its linked charts) when it is live; the x range spans the stores of
        every linked chart, and every y axis follows the samples again.

        Raises:
            RuntimeError: ``this LiveView is no longer attached to a chart``.
        """

    def link_x(self, other: LiveView | QChart | QChartView | QQuickItem | QQuickWidget | None) -> None:
        """Link this chart's x axis with `other`'s, or unlink it with None.

        The chart joins the group of `other` (leaving its own): from then on the group has one x range
        and one paused state, each chart keeping its own y axis. The chart takes the group's state at
        once: it is paused at the group's range when the group is paused, resumed when the group is
        live. With None the chart leaves its group, as it is. A member whose view is deleted leaves the
        group by itself.

        Args:
            other: a LiveView, or a chart, chart view, graph or graph widget (`live_view(other)` is
                used), or None. Graphs and charts can be linked with each other.

        Raises:
            TypeError: as `live_view` for another object.
            RuntimeError: ``this LiveView is no longer attached to a chart`` (for either of them).
        """

    @property
    def linked(self) -> tuple[LiveView, ...]:
        """The LiveViews whose x axes are linked with this one, this one included (read-only).

        In the order they joined the group; a member whose view was deleted is gone from it. A chart
        that was never linked gives a tuple of itself alone.
        """

    @property
    def readout(self) -> tuple[float, tuple[tuple[QXYSeries, float, float], ...]] | None:
        """What the readout shows now (read-only): None when it is hidden, else (x, samples).

        `x` is the x under the mouse; `samples` holds, for each visible series in the order of the
        buffers, (series, sample_x, sample_y): the stored sample nearest to x, exactly as stored
        (NaN or inf included), for the series whose label shows a value (see the class: the sample
        lies within the x range shown, and x is within the samples stored or 8 pixels from it).
        """

    @property
    def chart(self) -> QChart | QQuickItem | None:
        """The chart this LiveView inspects, or None once detached (read-only).

        It is the chart of the buffers that `sync_stream_chart` writes, shown in `view`; for a Qt
        Graphs graph, its `QGraphsView`.
        """

    @property
    def view(self) -> QChartView | QQuickWidget | None:
        """The chart view it is parented to, or None once detached (read-only).

        The LiveView filters the events of this view and of its viewport, and is deleted with it. For
        a graph, the `QQuickWidget` showing it: the LiveView filters its keys and is deleted with the
        graph, which the widget deletes. None for a graph shown in no QQuickWidget (one of your own QML
        scenes): it pauses by call only, without a marker.
        """

    def _plot_area_changed(self, area = None) -> None:
        """Keeps the overlay on the plot area: connected to the chart's `plotAreaChanged`."""

    def _destroyed(self, obj = None) -> None:
        """Detaches the LiveView's state when Qt deletes it (with its view): connected to its `destroyed`."""

    def _chart_destroyed(self, obj = None) -> None:
        """Detaches the LiveView when its chart is deleted: connected to the chart's `destroyed`."""

    paused: ClassVar[Signal]
    """Signal `paused()`: emitted when the chart was paused (by a call, Space, a right-button drag,
    `set_x_range` or `show_all` on a live chart, or a linked chart).
    """

    resumed: ClassVar[Signal]
    """Signal `resumed()`: emitted when the chart returned to the live window."""

    staticMetaObject: ClassVar[QMetaObject]
    """Qt's meta-object of the class, as PySide6 gives every QObject subclass: it lists the signals."""

    viewRangeChanged: ClassVar[Signal]
    """Signal `viewRangeChanged(float, float)`: the new x range (lo, hi) of the paused view, emitted
    when a zoom, a pan, `set_x_range`, `reset_view`, `show_all` or a linked chart changed it (not
    for the live window's scrolling: connect the x axis' `rangeChanged` for that).
    """

def live_view(chart: QChart | QChartView | QQuickItem | QQuickWidget | LiveView) -> LiveView:
    """The LiveView of a streaming chart, made when the chart has none yet.

    `sync_stream_chart` makes one for its chart at its first call; `live_view` returns it, or
    makes it (so you can connect its signals, link it or pause it before the first tick). A
    LiveView only acts on what `sync_stream_chart` writes: a chart that only
    `larkui.plotdeck.sync_scrolling_chart` drives would go on scrolling while "paused". The same
    for a Qt Graphs graph (`larkui.graphs`): pass its `QGraphsView` or the `QQuickWidget` showing
    it; its LiveView pauses and resumes, but does not handle the mouse (see LiveView).

    Args:
        chart: a `QChart` shown in a `QChartView`, the `QChartView` itself, a Qt Graphs graph
            (the `QGraphsView` that `larkui.graphs.build_sample_value_graph` returns), the
            `QQuickWidget` showing one, or a LiveView (returned as it is).

    Returns:
        The chart's LiveView.

    Raises:
        TypeError: ``live_view takes a QChart, a QChartView or a LiveView (got TYPE)``.
        RuntimeError: ``live_view needs a chart shown in a QChartView``; Qt's own for a chart or
            view deleted on the C++ side.

    Example:
        live = live_view(chart)
        live.paused.connect(lambda: status.showMessage("paused: wheel zooms, drag pans"))
        live.link_x(other_chart)   # one x range and one paused state for both
        live.pause()
    """
