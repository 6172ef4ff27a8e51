// sync_stream_chart: one call per GUI tick for the StreamBuffers of one chart. It reads what it
// needs of Qt first, decides both axes from the buffers' stores, sets the axes while the series
// it is about to write are empty, and then writes each of them in one call: Qt Charts lays a line
// out again on every write and on every axis range change while it holds points, so this order
// lays each line out once per tick.
#include "streaming.hpp"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace streaming {

using namespace lark;

namespace {

const Name s_isVisible{"isVisible"}, s_width{"width"},
    s_height{"height"}, s_min{"min"}, s_max{"max"}, s_setRange{"setRange"}, s_labelsFont{"labelsFont"},
    s_horizontalAdvance{"horizontalAdvance"}, s_labelFormat{"labelFormat"}, s_setLabelFormat{"setLabelFormat"},
    s_setTickType{"setTickType"}, s_setTickAnchor{"setTickAnchor"},
    s_setTickInterval{"setTickInterval"}, s_tickInterval{"tickInterval"}, s_layout{"layout"},
    s_activate{"activate"}, s_tickAnchor{"tickAnchor"}, s_property{"property"}, s_setProperty{"setProperty"},
    s_theme{"theme"}, s_axisXLabelFont{"axisXLabelFont"}, s_axisYLabelFont{"axisYLabelFont"}, s_font{"font"};
// Set on a Qt Graphs axis whose range or ticks the last call changed (see sync_stream_chart).
const Name s_settle{"_larkui_settle"};

// Qt Charts' own room around an axis label (ChartAxisElement::labelPadding, on both sides), and
// what a label's text item adds to the font's line (the document margin and the rounding of its
// lines) or to its advance.
constexpr double label_padding = 2 * 4.0;
constexpr double label_item_extra = 3.0;
// The pixel length assumed for an axis whose chart has not been laid out yet.
constexpr double unknown_length = 100.0;
// No axis end lies beyond this: a span between two such ends is still a finite number.
constexpr double largest_end = DBL_MAX / 4;
// The least span, relative to the ends' magnitude, that an axis is given: labels of a narrower
// one would need more digits than a double has, and Qt would step through it forever.
constexpr double least_relative_span = 1e-12;

double number_of(const Ref& value) {
    const double d = PyFloat_AsDouble(value.get());
    if (d == -1.0 && PyErr_Occurred()) throw_error();
    return d;
}

double clamp_end(double v) noexcept { return v < -largest_end ? -largest_end : (v > largest_end ? largest_end : v); }

// [lo, hi] widened about its middle, where needed, to a span an axis can show.
void make_usable(double& lo, double& hi) noexcept {
    lo = clamp_end(lo);
    hi = clamp_end(hi);
    const double magnitude = std::fmax(std::fabs(lo), std::fabs(hi));
    const double least = std::fmax(magnitude * least_relative_span, 1e-300);
    if (hi - lo >= least) return;
    const double middle = lo / 2 + hi / 2;
    lo = middle - least / 2;
    hi = middle + least / 2;
}

// ---- ticks ----

// Where Qt Charts puts the dynamic ticks of [lo, hi] (ChartValueAxisX/Y::calculateLayout and
// createValueLabels): from the first multiple of `step` past `anchor` at or above lo, by repeated
// addition. The same arithmetic gives the same ticks; counting stops past `most`.
struct TickRun {
    double first = 0.0, last = 0.0;
    Py_ssize_t count = 0;
};

TickRun qt_ticks(double lo, double hi, double step, double anchor, Py_ssize_t most) noexcept {
    TickRun run;
    const double ticks_from_anchor = (anchor - lo) / step;
    double value = anchor - std::floor(ticks_from_anchor) * step;
    run.first = value;
    while (value <= hi && run.count <= most) {
        ++run.count;
        value += step;
    }
    // The last tick, for its label's width, also when counting stopped early.
    run.last = run.count ? run.first + std::floor((hi - run.first) / step) * step : run.first;
    return run;
}

struct Ticks {
    double step = 1.0, anchor = 0.0;
    char format[16] = "%.0f";
};

// The label format that shows the step's digits: fixed-point with as many decimals as the step
// has, or an exponent when that is much shorter (tiny or huge values). A range across zero keeps
// fixed-point while it can: its zero tick, summed up by Qt, is a tiny number that an exponent
// format would print as such.
void choose_format(double lo, double hi, int exponent, char (&format)[16]) noexcept {
    const int decimals = exponent < 0 ? -exponent : 0;
    const double magnitude = std::fmax(std::fabs(lo), std::fabs(hi));  // > 0: lo < hi
    const int top = static_cast<int>(std::floor(std::log10(magnitude)));
    const int fixed_length = (top > 0 ? top : 0) + 1 + (decimals ? decimals + 1 : 0);
    int digits = top - exponent;  // after the point, in the exponent format
    if (digits < 0) digits = 0;
    if (digits > 16) digits = 16;
    const int exponent_length = 1 + (digits ? digits + 1 : 0) + 4;
    const bool across_zero = lo < 0.0 && hi > 0.0;
    const bool fixed = across_zero ? decimals <= 15 : (fixed_length <= 12 || fixed_length <= exponent_length);
    int n = fixed ? (decimals > 17 ? 17 : decimals) : digits;
    char* out = format;
    *out++ = '%';
    *out++ = '.';
    if (n >= 10) *out++ = static_cast<char>('0' + n / 10);
    *out++ = static_cast<char>('0' + n % 10);
    *out++ = fixed ? 'f' : 'e';
    *out = '\0';
}

// Whether a tick Qt sums up from below zero comes out as a tiny negative number that reads
// "-0.0" in a fixed-point format.
bool reads_negative_zero(double lo, double hi, double step, double anchor, const char* format) noexcept {
    if (!(lo < 0.0 && hi > 0.0) || step >= 1.0 || !std::strchr(format, 'f')) return false;
    double value = anchor - std::floor((anchor - lo) / step) * step;
    for (int n = 0; value <= hi && n < 100000; ++n, value += step) {
        if (value >= 0.0) return false;
        if (value > -step / 2) {
            char text[64];
            std::snprintf(text, sizeof text, format, value);
            return std::strspn(text + 1, "0.") == std::strlen(text + 1);
        }
    }
    return false;
}

// The widest label text of a run of ticks, in pixels, measured with the axis' label font; a
// width measured for a text of the same length and format is taken again.
class LabelWidths {
    PyObject* metrics_;  // QFontMetricsF
    int cached_length_ = -1;
    char cached_format_[16] = "";
    double cached_width_ = 0.0;

public:
    explicit LabelWidths(PyObject* metrics) noexcept : metrics_(metrics) {}

    double widest(const TickRun& run, const char* format) {
        char a[64], b[64];
        std::snprintf(a, sizeof a, format, run.first);
        std::snprintf(b, sizeof b, format, run.last);
        const char* text = std::strlen(b) > std::strlen(a) ? b : a;
        const int length = static_cast<int>(std::strlen(text));
        if (length == cached_length_ && std::strcmp(format, cached_format_) == 0) return cached_width_;
        Ref label = Ref::steal(PyUnicode_FromString(text));
        cached_width_ = number_of(call_method(metrics_, s_horizontalAdvance, label));
        cached_length_ = length;
        std::snprintf(cached_format_, sizeof cached_format_, "%s", format);
        return cached_width_;
    }
};

// The round step (1, 2 or 5 times a power of ten) with the most ticks whose labels all fit the
// axis' pixel length: a label's slot, the length over the number of ticks, holds the label and
// Qt's padding, which is what Qt Charts needs to show a label whole instead of as "...".
// `label_height` > 0 sizes the labels of a vertical axis; otherwise `widths` measures them.
// Qt Graphs finds its first label by stepping from the anchor to the range, every frame: for its
// axes (`graphs`) the anchor moves near the range once a thousand steps.
Ticks choose_ticks(double lo, double hi, double length, double label_height, LabelWidths* widths, bool graphs) {
    if (!(length >= 1.0)) length = unknown_length;
    const double span = hi - lo;
    const double magnitude = std::fmax(std::fabs(lo), std::fabs(hi));
    // A step Qt's repeated addition always moves on by, at any value of the range.
    const double least_step = magnitude * (8 * DBL_EPSILON);  // not magnitude * 8 first: that overflows
    // With about span / step ticks, a step below half of `need` cannot fit them: the search starts
    // there, and a measured label width moves that start on.
    double size = label_height > 0 ? label_height : 0.0;
    // Divided first and capped: the span of the widest ends times a label's size is no double.
    double need = std::fmin(span / length * (size + label_padding), DBL_MAX);
    int exponent = static_cast<int>(std::floor(std::log10(need / 2)));
    Ticks t;
    for (int tries = 0; tries < 64; ++exponent) {
        const double power = std::pow(10.0, exponent);
        for (int m : {1, 2, 5}) {
            ++tries;
            const double step = m * power;
            if (!(step > least_step) || !std::isfinite(step) || step < need / 2) continue;
            // Far from zero, ticks count from an anchor near the range (moved once a million
            // steps), so that their values keep their precision.
            double anchor = 0.0;
            const double far = graphs ? 1e3 : 1e12, unit = graphs ? step * 1e3 : step * 1e6;
            if (std::fabs(lo) / step > far) anchor = std::nearbyint(lo / unit) * unit;
            char format[16];
            choose_format(lo, hi, exponent, format);
            // Summed up from below zero, the tick at zero may come out as a tiny negative number
            // that reads "-0.0": a nudge of a ten-millionth of a step keeps it above zero (and
            // drops a tick at the range's very top, which is why it is not always made).
            if (reads_negative_zero(lo, hi, step, anchor, format)) anchor += step * 1e-7;
            // More ticks than this never fit, whatever the labels: the count is exact below it.
            const auto most = static_cast<Py_ssize_t>(length / label_padding) + 1;
            const TickRun run = qt_ticks(lo, hi, step, anchor, most);
            if (label_height <= 0 && run.count) {
                size = widths->widest(run, format) + label_item_extra;
                need = std::fmax(need, std::fmin(span / length * (size + label_padding), DBL_MAX));
            }
            const bool fits = run.count <= most && static_cast<double>(run.count) * (size + label_padding) <= length;
            if (fits || run.count <= 1) {
                t.step = step;
                t.anchor = anchor;
                std::memcpy(t.format, format, sizeof format);
                return t;
            }
        }
    }
    return t;  // not reached for a usable range: a step of the whole span fits one tick
}

// ---- the buffers ----

struct Entry {
    Ref object;  // the StreamBuffer
    Ref series;
    bool visible = false;
    double plot_width = -1.0;  // of the series' chart, for an automatic budget; -1: not asked
};

[[noreturn]] LARK_COLD void refuse_buffers(PyObject* buffers) {
    raise_format(PyExc_TypeError, "sync_stream_chart takes a list or tuple of StreamBuffer objects (got %.200s)",
                 Py_TYPE(buffers)->tp_name);
}

StreamBufferObject* buffer_at(const Env& env, PyObject* object, Py_ssize_t i) {
    if (!PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(state_of(env).StreamBuffer.get())))
        raise_format(PyExc_TypeError, "sync_stream_chart takes StreamBuffer objects (buffers[%zd] is a %.200s)", i,
                     Py_TYPE(object)->tp_name);
    auto* b = reinterpret_cast<StreamBufferObject*>(object);
    if (!b->ring.ready())
        raise_format(PyExc_RuntimeError,
                     "buffers[%zd] was never initialised: StreamBuffer.__init__ did not run", i);
    return b;
}

StreamBufferObject* buffer_of(const Entry& e) noexcept { return reinterpret_cast<StreamBufferObject*>(e.object.get()); }

// The newest and the oldest finite x a buffer holds.
void x_extent(const StreamBufferObject* b, double& newest, double& oldest, bool& any) noexcept {
    const Ring& ring = b->ring;
    const Py_ssize_t n = ring.size();
    for (Py_ssize_t i = n - 1; i >= 0; --i) {
        const double x = ring.x(ring.index(n, i));
        if (scan::finite(x)) {
            newest = any ? std::fmax(newest, x) : x;
            break;
        }
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        const double x = ring.x(ring.index(n, i));
        if (scan::finite(x)) {
            oldest = any ? std::fmin(oldest, x) : x;
            any = true;
            break;
        }
    }
}

// A chart's (or a graph's) plot area, asked once per chart.
struct Plot {
    PlotOwner owner;
    double width = 0.0, height = 0.0;
};

// The series' chart or graph and its plot area, as an index into `plots`, or -1 when it has none.
Py_ssize_t plot_of(const Env& env, PyObject* series, std::vector<Plot>& plots) {
    PlotOwner owner = plot_owner(env, series);
    if (!owner.object) return -1;  // no chart, or a stand-in series
    for (std::size_t k = 0; k < plots.size(); ++k)
        if (plots[k].owner.object.get() == owner.object.get()) return static_cast<Py_ssize_t>(k);
    Ref area = plot_area(owner);
    Plot p;
    p.width = number_of(call_method(area, s_width));
    p.height = number_of(call_method(area, s_height));
    p.owner = std::move(owner);
    plots.push_back(std::move(p));
    return static_cast<Py_ssize_t>(plots.size()) - 1;
}

// The font an axis draws its labels with: Qt Charts' axis says; a Qt Graphs axis takes it from
// the theme of the graph the ticks fit (`plot`), or the application's font outside any graph.
Ref label_font(const Env& env, PyObject* axis, bool horizontal, const Plot* plot) {
    if (!graphs_axis(env, axis)) return call_method(axis, s_labelsFont);
    if (plot && plot->owner.graphs) {
        Ref theme = call_method(plot->owner.object, s_property, s_theme);
        if (!theme.is_none()) return call_method(theme, horizontal ? s_axisXLabelFont : s_axisYLabelFont);
    }
    PyObject* app = state_of(env).QGuiApplication.get();
    if (!app) raise_format(PyExc_RuntimeError, "QGuiApplication was not found at import");
    return call_method(app, s_font);
}

double axis_end(PyObject* axis, const Name& end) { return number_of(call_method(axis, end)); }

// An axis' ticks as the sync sets them, and whether the label format must be written.
struct AxisPlan {
    double lo = 0.0, hi = 1.0;
    bool set_range = false;
    bool range_changes = false;
    Ticks ticks;
};

// Writes the ticks; true when a tick setting or the label format changed. A Qt Graphs axis has
// no tick type: its ticks are always at anchor + k * interval.
bool write_ticks(const Env& env, PyObject* axis, const Ticks& t, bool graphs, bool& invalidated) {
    bool changed = false;
    PyObject* dynamic = graphs ? nullptr : state_of(env).TicksDynamic.get();
    if (!graphs && !dynamic) raise_format(PyExc_RuntimeError, "QValueAxis.TickType.TicksDynamic was not found at import");
    // Qt ignores a tick setting written again unchanged, but lays the axis out again for every
    // label format written, and for every tick setting that changes.
    if (graphs && axis_end(axis, s_tickAnchor) != t.anchor) changed = true;
    call_method(axis, s_setTickAnchor, t.anchor);
    if (axis_end(axis, s_tickInterval) != t.step) {
        call_method(axis, s_setTickInterval, t.step);
        invalidated = changed = true;
    }
    if (!graphs) call_method(axis, s_setTickType, dynamic);
    Ref format = Ref::steal(PyUnicode_FromString(t.format));
    if (!compare(call_method(axis, s_labelFormat).get(), format.get(), Py_EQ)) {
        call_method(axis, s_setLabelFormat, format);
        invalidated = changed = true;
    }
    return changed;
}

// Qt Graphs lays a frame's labels and grid out for the range width and tick settings of the frame
// before, so after a call that changed them they are off until the range is set again in a later
// frame. A changed axis is marked (a dynamic property of its own, which goes with it); the next
// call sets its range again, changed or not, and clears the mark.
bool needs_settling(PyObject* axis) { return truth(call_method(axis, s_property, s_settle).get()); }
void mark_settling(PyObject* axis, bool mark) { call_method(axis, s_setProperty, s_settle, mark); }


// sync_stream_chart(buffers, axX, axY, window, *, fixed_y_range=None, margin_ratio=0.1)
}  // namespace

Ref sync_stream_chart(const Env& env, const args::sync_stream_chart& a) {
    // ---- the arguments, all checked before anything is called
    const double window = a.window.value;
    if (!(std::isfinite(window) && window > 0))
        raise_format(PyExc_ValueError, "window must be a finite number above 0 (got %R)", a.window.given);
    const double margin_ratio = a.margin_ratio.value;
    if (!(std::isfinite(margin_ratio) && margin_ratio >= 0))
        raise_format(PyExc_ValueError, "margin_ratio must be a finite number of at least 0 (got %R)",
                     a.margin_ratio.given);
    bool fixed = false;
    double fixed_lo = 0.0, fixed_hi = 0.0;
    if (a.fixed_y_range != Py_None) {
        auto [lo, hi] = unpack_pair(a.fixed_y_range);
        fixed_lo = number_of(lo);
        fixed_hi = number_of(hi);
        if (!(std::isfinite(fixed_lo) && std::isfinite(fixed_hi) && fixed_lo < fixed_hi))
            raise_format(PyExc_ValueError,
                         "fixed_y_range must be None or two finite numbers, the first below the second (got %R)",
                         a.fixed_y_range);
        fixed = true;
    }
    if (!PyList_Check(a.buffers) && !PyTuple_Check(a.buffers)) refuse_buffers(a.buffers);
    // A snapshot: Qt calls below may run code that changes the caller's list.
    Ref buffers = PyTuple_CheckExact(a.buffers) ? Ref::borrow(a.buffers) : Ref::steal(PySequence_Tuple(a.buffers));
    const Py_ssize_t count = PyTuple_GET_SIZE(buffers.get());
    std::vector<Entry> entries(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* object = PyTuple_GET_ITEM(buffers.get(), i);
        buffer_at(env, object, i);
        entries[static_cast<std::size_t>(i)].object = Ref::borrow(object);
    }

    // ---- what Qt knows: visibility, plot areas, the axes as they are, their label fonts
    std::vector<Plot> plots;
    Py_ssize_t plot = -1;  // the chart whose plot area the ticks fit
    for (Py_ssize_t i = 0; i < count; ++i) {
        Entry& e = entries[static_cast<std::size_t>(i)];
        StreamBufferObject* b = buffer_at(env, e.object.get(), i);
        if (!b->series) raise_format(PyExc_AttributeError, "'StreamBuffer' object has no attribute 'series'");
        e.series = Ref::borrow(b->series);
        e.visible = truth(call_method(e.series, s_isVisible).get());
        // isVisible may have run code of the caller's: the buffer is looked at again.
        const bool automatic = buffer_at(env, e.object.get(), i)->display_budget == budget_auto;
        if ((e.visible && automatic) || plot < 0) {
            const Py_ssize_t p = plot_of(env, e.series.get(), plots);
            if (p >= 0 && plot < 0) plot = p;
            if (automatic) e.plot_width = p >= 0 ? plots[static_cast<std::size_t>(p)].width : 0.0;
        }
    }
    const double cur_x_lo = axis_end(a.axX, s_min), cur_x_hi = axis_end(a.axX, s_max);
    const double cur_y_lo = axis_end(a.axY, s_min), cur_y_hi = axis_end(a.axY, s_max);
    PyObject* metrics_class = state_of(env).QFontMetricsF.get();
    if (!metrics_class) raise_format(PyExc_RuntimeError, "QFontMetricsF was not found at import");
    const Plot* fitted = plot >= 0 ? &plots[static_cast<std::size_t>(plot)] : nullptr;
    const bool graphs_x = graphs_axis(env, a.axX), graphs_y = graphs_axis(env, a.axY);
    Ref x_metrics = call(metrics_class, label_font(env, a.axX, true, fitted));
    Ref y_metrics = call(metrics_class, label_font(env, a.axY, false, fitted));
    const bool settle_x = graphs_x && needs_settling(a.axX);
    const bool settle_y = graphs_y && needs_settling(a.axY);
    const double label_height = number_of(call_method(y_metrics, s_height)) + label_item_extra;
    const double plot_width = plot >= 0 ? plots[static_cast<std::size_t>(plot)].width : 0.0;
    const double plot_height = plot >= 0 ? plots[static_cast<std::size_t>(plot)].height : 0.0;

    // ---- both axes, from the stores as they are now (no code of anyone's runs in this part)
    std::vector<Py_ssize_t> budgets(static_cast<std::size_t>(count));
    double newest = 0.0, oldest = 0.0;
    bool any_x = false;
    scan::Extremes shown;
    for (Py_ssize_t i = 0; i < count; ++i) {
        const Entry& e = entries[static_cast<std::size_t>(i)];
        StreamBufferObject* b = buffer_at(env, e.object.get(), i);
        x_extent(b, newest, oldest, any_x);
        budgets[static_cast<std::size_t>(i)] =
            resolved_budget(env, b, e.series.get(), e.plot_width < 0 ? 0.0 : e.plot_width);
        if (e.visible) shown.take(plan_extremes(b, plan_of(b, budgets[static_cast<std::size_t>(i)])));
    }
    AxisPlan x, y;
    x.lo = any_x ? std::fmax(oldest, newest - window) : 0.0;
    x.hi = x.lo + window;
    make_usable(x.lo, x.hi);
    x.set_range = true;
    if (fixed) {
        y.lo = fixed_lo;
        y.hi = fixed_hi;
        y.set_range = true;
    } else if (shown.found) {
        double lo = clamp_end(shown.lo), hi = clamp_end(shown.hi);
        const double span = hi - lo;
        if (span <= std::fmax(std::fabs(lo), std::fabs(hi)) * least_relative_span) {
            // A constant: centred, with a tenth of its value (or 1 about zero) either side.
            const double middle = lo + span / 2;
            const double half = middle != 0.0 ? std::fabs(middle) * 0.1 : 1.0;
            lo = middle - half;
            hi = middle + half;
        } else {
            lo -= margin_ratio * span;
            hi += margin_ratio * span;
        }
        make_usable(lo, hi);
        y.lo = lo;
        y.hi = hi;
        y.set_range = true;
    }
    x.range_changes = x.lo != cur_x_lo || x.hi != cur_x_hi;
    y.range_changes = y.set_range && (y.lo != cur_y_lo || y.hi != cur_y_hi);

    // ---- readable ticks for the axes' pixel lengths
    LabelWidths widths(x_metrics.get());
    x.ticks = choose_ticks(x.lo, x.hi, plot_width, 0.0, &widths, graphs_x);
    if (y.set_range) y.ticks = choose_ticks(y.lo, y.hi, plot_height, label_height, nullptr, graphs_y);

    // ---- the axes, while the series about to be written are empty
    const bool moves = x.range_changes || y.range_changes;
    std::vector<bool> writes(static_cast<std::size_t>(count), false);
    for (Py_ssize_t i = 0; i < count; ++i) {
        const Entry& e = entries[static_cast<std::size_t>(i)];
        const StreamBufferObject* b = buffer_of(e);
        // A visible line is written when it has new samples, and whenever an axis moves: writing
        // it again costs one layout, keeping its points through the move two.
        writes[static_cast<std::size_t>(i)] = e.visible && b->ring.size() > 0 && (moves || b->added != b->written);
    }
    if (moves) {
        PyObject* clear = state_of(env).clear.get();
        for (Py_ssize_t i = 0; i < count; ++i)
            if (writes[static_cast<std::size_t>(i)] && clear && genuine_series(env, entries[static_cast<std::size_t>(i)].series.get()))
                call(clear, entries[static_cast<std::size_t>(i)].series);
    }
    // The ticks go first: an axis lays its labels out at once when its range changes, and a new
    // range with the old step (or the reverse) could hold millions of ticks.
    bool invalidated = false;
    const bool x_ticks_change = write_ticks(env, a.axX, x.ticks, graphs_x, invalidated);
    const bool y_ticks_change = y.set_range && write_ticks(env, a.axY, y.ticks, graphs_y, invalidated);
    if (x.range_changes || settle_x) call_method(a.axX, s_setRange, x.lo, x.hi);
    if (y.set_range && (y.range_changes || settle_y)) call_method(a.axY, s_setRange, y.lo, y.hi);
    if (graphs_x && (x.range_changes || x_ticks_change) != settle_x) mark_settling(a.axX, !settle_x);
    if (graphs_y && (y.range_changes || y_ticks_change) != settle_y) mark_settling(a.axY, !settle_y);
    // New tick settings re-lay the chart out at the next event; done now, a plot area that
    // changes with the labels' width re-lays empty lines. (A graph lays itself out in its frame.)
    if (invalidated && plot >= 0 && !plots[static_cast<std::size_t>(plot)].owner.graphs) {
        Ref chart = plots[static_cast<std::size_t>(plot)].owner.object;
        Ref layout = call_method(chart, s_layout);
        if (!layout.is_none()) call_method(layout, s_activate);
    }

    // ---- the lines, one bulk call each
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (!writes[static_cast<std::size_t>(i)]) continue;
        const Entry& e = entries[static_cast<std::size_t>(i)];
        // Code run by the calls above (or by the writes before) may have changed this buffer.
        StreamBufferObject* b = buffer_at(env, e.object.get(), i);
        const Py_ssize_t budget = budgets[static_cast<std::size_t>(i)];
        Plan plan = plan_of(b, budget);
        while (plan.most_points() > b->out_capacity) {
            reserve_out(env, b, plan.most_points());
            plan = plan_of(b, budget);
        }
        if (plan.count == 0) continue;
        const Py_ssize_t m = lay_out(b, plan, b->out_x.data(), b->out_y.data());
        const double newest_x = b->ring.x(b->ring.index(1, 0));
        const unsigned long long copied = b->added, clears = b->clears;
        write_window(env, e.series.get(), b->out_x.array(), b->out_y.array(), m);
        if (b->clears == clears) {
            b->written = copied;
            Py_XSETREF(b->last_x, float_of(newest_x).release());
        }
    }
    return none();
}

}  // namespace streaming
