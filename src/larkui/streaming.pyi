"""A rolling window for scrolling charts that stays fast: `StreamBuffer`, written in one bulk call.

The usual road of a streaming chart:

1. Once, while the window is set up: make the chart and its series with `larkui.plotdeck`
   (`build_sample_value_chart`, `add_line_to_chart`, `make_scatter`) and wrap each series in a
   `StreamBuffer(series, window)`.
2. While data arrives: the data source calls `add_point(x, y)` for a sample or
   `add_points(xs, ys)` for a block (NumPy arrays, read in place when they are contiguous
   float64). The samples go into a store of doubles of the buffer's own; nothing reaches Qt.
3. On the GUI timer: `larkui.plotdeck.sync_scrolling_chart` flushes every buffer of one chart and
   sets the axes (or call `flush()` yourself). A flush replaces the series' points with the
   newest `window` samples in one call, optionally decimated to a display budget, so the series
   never holds more than one window and the cost of a tick does not grow with the run.

Choosing a buffer: take a `StreamBuffer` for a stream shown in a rolling window, above all a
fast one (thousands of samples a second, blocks from an acquisition card): its producer calls
touch no Qt object, its series stays one window long, and a flush is one call whatever the
number of samples. Take `larkui.plotdeck.TimeSeriesBuffer` for what its own documentation
promises: points appended to a series that keeps them all until `clear` (you trim it), and
whole frames (`set_data`) for snapshot charts; `sync_snapshot_chart` takes TimeSeriesBuffer
objects only. Both kinds can share one `sync_scrolling_chart` list, and for the same samples
they give the same axes: `history` holds the newest `max_history` y values and `last_x` the x of
the newest sample written.

Non-finite samples: a sample whose x or y is NaN, inf or -inf is written to the series as a gap,
a point with y NaN (its x kept when it is finite, NaN otherwise), which Qt Charts draws as a
break in the line, so a dropout shows. (`QXYSeries.append`, which a TimeSeriesBuffer uses, drops
NaN and infinite points with the warning "Ignored NaN, Inf, or -Inf value.", and its line joins
across a dropout; `replace` and `replaceNp` keep them.) `history` keeps the values as they were
given, and `sync_scrolling_chart` leaves NaN and infinite values out of the y range.

Arguments are checked as in `larkui.plotdeck`: an `int` parameter takes an int as it is and
another number through `int()` (2.9 becomes 2, True becomes 1), and refuses anything else with
TypeError ``Argument 'NAME' has incorrect type (expected int, got TYPE)``; a `float` parameter
goes through `float()` (Python's own TypeError ``must be real number, not str``). A wrong
argument count gives ``NAME() takes exactly N positional arguments (M given)``, counting `self`;
an unknown keyword ``NAME() got an unexpected keyword argument 'K'``.

The module's namespace holds `QPointF` (PySide6.QtCore's), `np` (NumPy), `StreamBuffer` and
`StreamHistory`. A flush that builds points looks `QPointF` up there at each call; NumPy's
`empty`, `float64` and `ascontiguousarray` and `QXYSeries.replace` and `replaceNp` are taken once,
at import, so rebinding `np` changes nothing. `add_point` and `add_points` touch no Qt object;
`flush`, `clear` and `is_visible` call the series, on the thread that owns it (the GUI thread).

Importing the module warns (RuntimeWarning) when it was compiled for another Python version
than the running one; NumPy and PySide6's QtCharts must be installed. The module can be loaded
into one interpreter per process.
"""

from collections.abc import Iterator, Sequence
from typing import ClassVar, SupportsIndex, final, overload

from numpy.typing import ArrayLike
from PySide6.QtCharts import QXYSeries
from typing_extensions import disjoint_base

@disjoint_base
class StreamBuffer:
    """A rolling buffer for one XY series of a scrolling chart, written to it in one bulk call.

    The producer adds samples with `add_point` and `add_points` into a store of doubles of the
    buffer's own, which keeps the newest max(`window`, `max_history`) samples and overwrites the
    oldest; these calls touch no Qt object. `flush` writes the newest `window` samples to the
    series in one call, replacing what it held, so the series never holds more than one window:

    - one `QXYSeries.replaceNp(series, xs, ys)` with two float64 arrays for a genuine PySide6 XY
      series (`QLineSeries`, `QScatterSeries`, `QSplineSeries` or a subclass) whose `replace` is
      the binding's own, that is neither overridden by a subclass nor set on the instance (a
      subclass's own `replaceNp` is not called);
    - one `series.replace(points)` with a list of `QPointF` made with the module's `QPointF`, for
      anything else (a subclass that overrides `replace`, a recording double).

    Without a `display_budget`, or while the window holds at most `display_budget` samples, every
    sample of the window becomes one point, oldest first. With a display budget B and more than B
    samples in the window, the window is decimated: its n samples are cut into B // 2 buckets of
    consecutive samples with equal counts (bucket k holds samples n*k // (B//2) up to
    n*(k+1) // (B//2)); each bucket is written as its sample with the smallest finite y and its
    sample with the largest finite y (the first of equal values), plus one gap at its first
    non-finite sample when it holds one, in sample order. A bucket whose smallest and largest are
    one sample (a flat bucket, or a single finite value) gives one point, a bucket with no finite
    value just its gap. A decimated flush writes at most 3 * (B // 2) points (which is more than
    B for an odd B or with gaps: B=5 writes up to 6), and every peak and dip of the window stays
    visible.

    A sample whose x or y is NaN, inf or -inf is written as a gap: y NaN, x kept when finite and
    NaN otherwise, which Qt Charts draws as a break in the line (where a TimeSeriesBuffer's
    `append` makes Qt drop the point and join the line across it). `history` keeps the values
    as given.

    With `larkui.plotdeck.sync_scrolling_chart` a StreamBuffer stands in for a TimeSeriesBuffer,
    and both kinds can share one list: `history` holds the newest `max_history` y values, oldest
    first, whatever has been flushed; `last_x` is the x of the newest sample that the last flush
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
    """The series that `flush` and `clear` write to, as given to `__init__`; you may assign another.

    Not checked: anything with `replace` (taking a list of `QPointF`), `clear`, `isVisible` and
    `setVisible` works. After an assignment the next flush with new samples writes the whole
    window to the new series; the old one keeps its points. Deleting the attribute makes `flush`,
    `clear` and `is_visible` raise AttributeError ``'StreamBuffer' object has no attribute
    'series'``.
    """

    @property
    def last_x(self) -> float:
        """The x of the newest sample written by the last flush (read-only).

        The int 0 until a flush writes, and again after `clear()` or `__init__`; afterwards a
        float, the sample's x as given (NaN or inf too, which `sync_scrolling_chart` ignores when
        it scrolls). With decimation the newest sample need not be among the points written;
        `last_x` is its x all the same. A flush that fails leaves it as it was.
        """

    @property
    def window(self) -> int:
        """How many of the newest samples a flush writes, before any decimation (read-only).

        The `window` given to `__init__`, from 1 to 10,000,000; call `__init__` again to change
        it (which starts the buffer afresh). A window of N samples with x = sample numbers fits
        `sync_scrolling_chart(..., window_size=N)`.
        """

    @property
    def display_budget(self) -> int | None:
        """The most samples a flush writes one per point before it decimates the window, or None.

        The `display_budget` given to `__init__`: None (every sample of the window is written) or
        an int from 2 to 10,000,000. Read-only.
        """

    @property
    def max_history(self) -> int:
        """How many of the newest y values `history` offers (read-only).

        The `max_history` given to `__init__`, or 0 when that was 0 or less; at most 10,000,000.
        Unlike a TimeSeriesBuffer's it cannot be assigned: call `__init__` again.
        """

    def __init__(
        self,
        series: QXYSeries,
        window: int,
        *,
        display_budget: int | None = None,
        max_history: int = 10000,
    ) -> None:
        """Start empty, for `series`, writing the newest `window` samples at each flush.

        Nothing is called on the series. The buffer allocates at once its store of
        max(`window`, `max_history`) samples (16 bytes each) and the two float64 arrays a flush
        writes from (`window` points, or 3 * (`display_budget` // 2) with decimation).

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
            display_budget: None to write every sample of the window, or the most samples
                written one per point: a larger window is decimated to at most
                3 * (display_budget // 2) points (see the class). An int, or a number through
                `int()`; at least 2, at most 10,000,000. Keyword-only, default None.
            max_history: how many of the newest y values `history` offers, for the y range of
                `sync_scrolling_chart`; an int, or a number through `int()`; 0 or less keeps no
                values; at most 10,000,000. It never limits the window. Keyword-only, default
                10000, as for TimeSeriesBuffer.

        Raises:
            ValueError: ``window must be at least 1 (got N)``, ``display_budget must be at
                least 2 (got N)``, with N after `int()`; ``window of N points is more than a
                StreamBuffer holds (at most 10000000)`` (likewise `display_budget`,
                `max_history`).
            TypeError: ``Argument 'window' has incorrect type (expected int, got TYPE)``
                (likewise `display_budget`, `max_history`); ``__init__() takes exactly 3
                positional arguments (N given)`` when a keyword-only argument is passed
                positionally.
            MemoryError: when the store cannot be allocated.
        """

    def add_point(self, x: float, y: float) -> None:
        """Add one sample; nothing reaches the series until `flush`.

        The sample is stored as two doubles, overwriting the oldest once the store is full, and
        its y joins `history` at once. NaN and infinite values are kept (a flush writes them as
        gaps).

        Args:
            x: the sample's x in axis units (a sample number, a time), converted with `float()`.
                Keep it increasing: the window is the newest samples by arrival, not by x, and
                `sync_scrolling_chart` scrolls to `last_x`.
            y: the sample's value, converted with `float()`.

        Raises:
            TypeError: Python's own (``must be real number, not str``) when `x` or `y` is not a
                number; nothing is added.
            OverflowError: ``int too large to convert to float``; nothing is added.
            RuntimeError: when the buffer was never initialised.
        """

    def add_points(self, x: ArrayLike, y: ArrayLike) -> None:
        """Add a block of samples, oldest first, as a data source delivers it.

        A one-dimensional, contiguous float64 array in native byte order is read in place;
        anything else (a list, an integer or float32 array, a strided view, big-endian data, a
        scalar, which counts as one sample) goes through
        `numpy.ascontiguousarray(block, dtype=numpy.float64)` first. Of a block longer than the
        store only the newest max(`window`, `max_history`) samples are kept. An empty block
        changes nothing: a flush after it returns False when nothing else arrived. Like
        `add_point`, it touches no Qt object.

        Args:
            x: the samples' x values, a one-dimensional array or sequence of numbers.
            y: the samples' values, a one-dimensional array or sequence of the same length.

        Raises:
            ValueError: ``add_points takes blocks of equal length (x has N values, y has M)``;
                ``add_points takes one-dimensional blocks (x has N dimensions)`` (likewise y);
                NumPy's own ValueError or TypeError when a block cannot be converted (``could
                not convert string to float: 'a'``). Nothing is added then.
            RuntimeError: when the buffer was never initialised.
        """

    def flush(self) -> bool:
        """Write the window to the series in one call, when samples arrived since the last flush.

        With no sample added since the last flush that wrote (or since `clear()` or `__init__`),
        nothing is called and the result is False. Otherwise the newest min(`window`, samples
        held) samples are laid out as points, oldest first, each as it is or, with a display
        budget and a larger window, decimated (see the class), non-finite ones as gaps, and
        written in one call: `QXYSeries.replaceNp` for a genuine PySide6 XY series whose
        `replace` is the binding's own, else `series.replace(list of QPointF)`. The series then
        holds exactly those points. `last_x` becomes the newest sample's x, as a float, and a
        hidden series is shown again (`setVisible(True)` when `isVisible()` is false, for
        instance after a click on its legend marker).

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
        values. The next flush writes nothing until a sample arrives. An error of
        `series.clear()` propagates before anything in the buffer is reset.

        Raises:
            RuntimeError: when the buffer was never initialised.
        """

    @property
    def is_visible(self) -> bool:
        """Whether the series is visible: `series.isVisible()`, read afresh each time (read-only).

        `sync_scrolling_chart` leaves hidden buffers out of the y range (and still flushes them,
        which shows them again). Raises AttributeError when there is no `series`.
        """

    @property
    def history(self) -> StreamHistory:
        """The y values of the newest samples, oldest first, at most `max_history`: a live view.

        Each read gives a new `StreamHistory` over the buffer's store (read-only): it follows the
        samples as they arrive, whether flushed or not, and is empty after `clear()`. Slicing it
        gives a list of floats (`buffer.history[-10:]`); `list(buffer.history)` copies it. The
        values are as given, NaN and infinite ones included.
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
    (`history[-100:]`), which is what `sync_scrolling_chart` takes of it; `list(history)` copies
    all of it. It compares equal to a list, a tuple or a StreamHistory holding the same values in
    the same order (`==` and `!=` only). The values are floats as they were given, NaN and
    infinite ones included.

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
