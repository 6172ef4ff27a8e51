// larkui.streaming: a rolling buffer for one XY series, written to the series in one bulk call, and
// the per-tick sync of a chart's buffers.
#pragma once

#include "callables.gen.hpp"
#include "arrays.hpp"
#include "scan.hpp"

namespace streaming {

// The most samples one buffer holds: its window or its history, whichever is larger.
constexpr Py_ssize_t max_points = 10'000'000;

// The newest samples, oldest overwritten first: x and y in two rings of doubles. Samples are
// numbered by their absolute index, the count of samples added before them (`added`), which
// lets the decimation keep its bucket edges where they are while the window scrolls.
class Ring {
public:
    Ring() noexcept = default;
    Ring(const Ring&) = delete;
    Ring& operator=(const Ring&) = delete;
    Ring& operator=(Ring&& o) noexcept;
    ~Ring() { release(); }

    bool allocate(Py_ssize_t capacity) noexcept;  // false when out of memory
    void release() noexcept;
    bool ready() const noexcept { return capacity_ > 0; }
    Py_ssize_t capacity() const noexcept { return capacity_; }
    Py_ssize_t size() const noexcept { return size_; }

    void push(double x, double y) noexcept {
        x_[head_] = x;
        y_[head_] = y;
        if (++head_ == capacity_) head_ = 0;
        if (size_ < capacity_) ++size_;
    }
    // n samples, oldest first; only the newest `capacity` of them stay.
    void push_block(const double* x, const double* y, Py_ssize_t n) noexcept;
    void clear() noexcept { head_ = size_ = 0; }

    // Where sample i of the newest n lies in the arrays (0 is the oldest of them); n <= size().
    Py_ssize_t index(Py_ssize_t n, Py_ssize_t i) const noexcept {
        Py_ssize_t k = head_ - n + i;
        return k < 0 ? k + capacity_ : k;
    }
    double x(Py_ssize_t k) const noexcept { return x_[k]; }
    double y(Py_ssize_t k) const noexcept { return y_[k]; }

    // The samples i to n - 1 of the newest n as at most two contiguous runs, oldest first.
    void runs(Py_ssize_t n, Py_ssize_t i, bool with_x, scan::Run& first, scan::Run& second) const noexcept {
        runs_at(size_ - n + i, n - i, with_x, first, second);
    }
    // `count` samples from the one `offset` places after the oldest, as at most two runs.
    void runs_at(Py_ssize_t offset, Py_ssize_t count, bool with_x, scan::Run& first, scan::Run& second) const noexcept;
    // Where the sample `offset` places after the oldest lies in the arrays.
    Py_ssize_t at(Py_ssize_t offset) const noexcept { return index(size_, offset); }

private:
    double* x_ = nullptr;
    double* y_ = nullptr;
    Py_ssize_t capacity_ = 0, head_ = 0, size_ = 0;
};


// display_budget as kept: every sample, two points per pixel column of the plot, or a count.
constexpr Py_ssize_t budget_every = 0;
constexpr Py_ssize_t budget_auto = -1;

// Summaries of fixed blocks of a store's samples, made when a view over many samples first needs
// them (store.cpp).
struct Blocks;
void free_blocks(Blocks* blocks) noexcept;

struct StreamBufferObject {
    PyObject_HEAD
    PyObject* dict;
    PyObject* weakrefs;
    PyObject* series;
    PyObject* last_x;
    Ring ring;
    lark::Doubles out_x, out_y;     // what the next flush writes
    Py_ssize_t out_capacity;        // points the out arrays hold
    Py_ssize_t window;              // newest points the series shows
    Py_ssize_t display_budget;      // budget_every, budget_auto or a count of at least 2
    Py_ssize_t max_history;         // values `history` offers
    unsigned long long added;       // samples added so far (never reset): the next one's absolute index
    unsigned long long written;     // `added` when the last flush copied the window
    unsigned long long clears;      // clear() and __init__ calls so far
    Blocks* blocks;                 // null until a view over many samples needs them
};

// What a flush writes of a buffer: the samples from absolute index `first` to the newest, one
// point each (bucket 0) or the extremes of each run of `bucket` samples whose absolute indexes
// share one multiple of `bucket`. The first run may reach past the window's oldest sample: its
// bucket is written whole while the store holds it, so that its extremes stay put.
struct Plan {
    unsigned long long first = 0;
    Py_ssize_t count = 0;   // samples from `first` to `end`
    Py_ssize_t bucket = 0;  // 0: every sample
    unsigned long long end = 0;  // one past the last sample: the newest one's index + 1 for a window
    Py_ssize_t most_points() const noexcept;
};

// The plan for `budget` points (budget_every, or a count of at least 2) over the buffer as it is.
Plan plan_of(const StreamBufferObject* b, Py_ssize_t budget) noexcept;
// Lays the plan's points out, oldest first: every point whose x or y is NaN or infinite is a gap
// (y NaN: Qt Charts draws such a point as a break in the line, and NaN says so whatever the
// renderer; an infinite value is no position on an axis and never becomes a bucket's extreme).
// A bucket gives its smallest and largest finite y and, when it holds a sample that is not
// drawable, one gap at the first of them, in sample order. Returns the number of points.
Py_ssize_t lay_out(const StreamBufferObject* b, const Plan& plan, double* out_x, double* out_y) noexcept;
// The smallest and largest y among the plan's drawable samples: the y extent of what it writes.
scan::Extremes plan_extremes(const StreamBufferObject* b, const Plan& plan) noexcept;

// ---- what a paused view reads of a store (store.cpp)

// The plan of what a view of the x interval [x0, x1] shows of the store: every sample from the last
// one before x0 to the first one after x1 (so the line runs to the plot's edges), or with more than
// `budget` of them (budget_every: no limit) the extremes of buckets of L samples, L the smallest
// that keeps to the budget (a multiple of the summaries' block for long buckets), their edges at
// multiples of L of the absolute index and the buckets at both ends written whole while the store
// holds them. Samples are taken to be in increasing x, as they arrive.
Plan range_plan(const StreamBufferObject* b, double x0, double x1, Py_ssize_t budget) noexcept;
// The extremes of the drawable samples whose x lies in [x0, x1] (block summaries read for many).
scan::Extremes range_extremes(StreamBufferObject* b, double x0, double x1) noexcept;
// The store's sample nearest to x among those with a finite x: its offset after the oldest, or -1.
Py_ssize_t nearest_sample(const Ring& ring, double x) noexcept;
// The oldest and the newest finite x the store holds; false when it holds none.
bool held_x_extent(const Ring& ring, double& oldest, double& newest) noexcept;

// ---- axes.cpp: the axes of a chart, as sync_stream_chart and the paused views write them

// The double a Qt call returned (a float, or what converts to one).
double number_of(const lark::Ref& value);
// v kept within the ends an axis can take.
double clamp_end(double v) noexcept;
// [lo, hi] widened about its middle, where needed, to a span an axis can show.
void make_usable(double& lo, double& hi) noexcept;
// The automatic y range of the drawable extremes `shown`: margin_ratio of their span below and
// above, a constant centred with a tenth of its value (or 1 about zero) either side. False, with
// lo and hi untouched, when there was nothing to show.
bool automatic_y_range(const scan::Extremes& shown, double margin_ratio, double& lo, double& hi) noexcept;

// Qt's dynamic ticks of an axis: a round step from an anchor, and a label format for its digits.
struct Ticks {
    double step = 1.0, anchor = 0.0;
    char format[16] = "%.0f";
};

// The axes as they are before a write: their ranges and what their labels measure.
struct AxesNow {
    double x_lo = 0.0, x_hi = 0.0, y_lo = 0.0, y_hi = 0.0;
    lark::Ref x_metrics;  // QFontMetricsF of the x axis' label font
    double label_height = 0.0;  // a y label's line, as Qt Charts sizes it
    bool graphs_x = false, graphs_y = false;  // Qt Graphs axes: no tick type, the anchor kept near
};
// `graph`, when the plot is a Qt Graphs GraphsView, gives its axes' label fonts (its theme's).
AxesNow read_axes(const lark::Env& env, PyObject* axX, PyObject* axY, PyObject* graph = nullptr);

// One axis as a write sets it.
struct AxisPlan {
    double lo = 0.0, hi = 1.0;
    bool set_range = false;
    bool range_changes = false;
    Ticks ticks;
};
// Notes which ranges change and chooses the ticks of the axes to set, for the plot's pixel size
// (a plot under a pixel counts as 100 pixels).
void plan_ticks(const AxesNow& now, AxisPlan& x, AxisPlan& y, double plot_width, double plot_height);
// Writes the ticks of the axes to set, then the ranges that change, and brings `chart`'s layout up
// to date (chart may be null) when new tick settings invalidated it. A Qt Graphs axis whose range
// or ticks changed gets its range set once more at the next write.
void write_axes(const lark::Env& env, PyObject* axX, PyObject* axY, const AxisPlan& x, const AxisPlan& y,
                PyObject* chart);

// A new StreamHistory of `buffer` (a live view of its y values).
lark::Ref new_history(const lark::Env& env, PyObject* buffer);

// The budget a flush of `b` works with now: an automatic one asks the series' plot for its area
// (its width when already known: the sync asks once per plot).
Py_ssize_t resolved_budget(const lark::Env& env, StreamBufferObject* b, PyObject* series, double plot_width);
// Where a series is drawn: its Qt Charts chart (`series.chart()`), or the Qt Graphs GraphsView
// that owns it (its QObject parent, as larkui.graphs makes it). Empty when it has none.
struct PlotOwner {
    lark::Ref object;     // the QChart or the GraphsView
    bool graphs = false;  // a GraphsView: its plot area is a property, it has no layout to activate
};
PlotOwner plot_owner(const lark::Env& env, PyObject* series);
// The plot area of a plot owner, as a QRectF.
lark::Ref plot_area(const PlotOwner& owner);
// The plot area width of a series' chart or graph, or 0 when it has none.
double plot_width_of(const lark::Env& env, PyObject* series);
// Makes the out arrays hold at least `points`.
void reserve_out(const lark::Env& env, StreamBufferObject* b, Py_ssize_t points);
// Whether `series` is a PySide6 Qt Charts XY series whose replace is the binding's own: it takes
// replaceNp and QXYSeries.clear.
bool genuine_series(const lark::Env& env, PyObject* series);
// The same for a PySide6 Qt Graphs XY series (once PySide6.QtGraphs has been imported by anyone).
bool genuine_graphs_series(const lark::Env& env, PyObject* series);
// The module state with Qt Graphs' classes filled in when PySide6.QtGraphs has been imported:
// found in the loaded modules, never imported here. Their fields stay empty until then.
const State& graphs_known(const lark::Env& env);
// series.isVisible(); for a genuine PySide6 series (Qt Charts or Qt Graphs) through its class's own
// method, without PySide6's costlier attribute lookup, which finds that same method.
lark::Ref series_is_visible(const lark::Env& env, PyObject* series);
// The truth of it.
bool series_visible(const lark::Env& env, PyObject* series);
// Whether `axis` is a Qt Graphs value axis (no tick type, label font from the graph's theme).
bool graphs_axis(const lark::Env& env, PyObject* axis);
// Writes the first m points of the out arrays `xs` and `ys` to the series in one call.
void write_window(const lark::Env& env, PyObject* series, const lark::Ref& xs, const lark::Ref& ys, Py_ssize_t m);

}  // namespace streaming
