// The axes of a streaming chart: readable round ticks for the plot's pixel size, and the order in
// which a write sets them. sync_stream_chart and the paused views of LiveView share it.
#include "streaming.hpp"
#include "names.hpp"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace streaming {

using namespace lark;

namespace {

const Name s_labelsFont{"labelsFont"}, s_horizontalAdvance{"horizontalAdvance"}, s_setTickType{"setTickType"},
    s_setTickAnchor{"setTickAnchor"}, s_setTickInterval{"setTickInterval"}, s_tickInterval{"tickInterval"},
    s_activate{"activate"}, s_tickAnchor{"tickAnchor"}, s_axisXLabelFont{"axisXLabelFont"},
    s_axisYLabelFont{"axisYLabelFont"};
// Set on a Qt Graphs axis whose range or ticks the last write changed (see write_axes).
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
            // steps), so that their values keep their precision. Qt Graphs finds its first label by
            // stepping from the anchor to the range, every frame: its anchor moves once a thousand.
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


double axis_end(PyObject* axis, const Name& end) { return number_of(call_method(axis, end)); }

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
// before, so after a write that changed them they are off until the range is set again in a later
// frame. A changed axis is marked (a dynamic property of its own, which goes with it); the next
// write sets its range again, changed or not, and clears the mark.
bool needs_settling(PyObject* axis) { return truth(call_method(axis, s_property, s_settle).get()); }
void mark_settling(PyObject* axis, bool mark) { call_method(axis, s_setProperty, s_settle, mark); }

// The font an axis draws its labels with: Qt Charts' axis says; a Qt Graphs axis takes it from
// the theme of the graph (`graph`, may be null), or the application's font outside any graph.
Ref label_font(const Env& env, PyObject* axis, bool graphs, bool horizontal, PyObject* graph) {
    if (!graphs) return call_method(axis, s_labelsFont);
    if (graph) {
        Ref theme = call_method(graph, s_property, s_theme);
        if (!theme.is_none()) return call_method(theme, horizontal ? s_axisXLabelFont : s_axisYLabelFont);
    }
    PyObject* app = state_of(env).QGuiApplication.get();
    if (!app) raise_format(PyExc_RuntimeError, "QGuiApplication was not found at import");
    return call_method(app, s_font);
}

}  // namespace

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

bool automatic_y_range(const scan::Extremes& shown, double margin_ratio, double& lo, double& hi) noexcept {
    if (!shown.found) return false;
    lo = clamp_end(shown.lo);
    hi = clamp_end(shown.hi);
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
    return true;
}

AxesNow read_axes(const Env& env, PyObject* axX, PyObject* axY, PyObject* graph) {
    AxesNow now;
    now.graphs_x = graphs_axis(env, axX);
    now.graphs_y = graphs_axis(env, axY);
    now.x_lo = axis_end(axX, s_min);
    now.x_hi = axis_end(axX, s_max);
    now.y_lo = axis_end(axY, s_min);
    now.y_hi = axis_end(axY, s_max);
    PyObject* metrics_class = state_of(env).QFontMetricsF.get();
    if (!metrics_class) raise_format(PyExc_RuntimeError, "QFontMetricsF was not found at import");
    now.x_metrics = call(metrics_class, label_font(env, axX, now.graphs_x, true, graph));
    Ref y_metrics = call(metrics_class, label_font(env, axY, now.graphs_y, false, graph));
    now.label_height = number_of(call_method(y_metrics, s_height)) + label_item_extra;
    return now;
}

void plan_ticks(const AxesNow& now, AxisPlan& x, AxisPlan& y, double plot_width, double plot_height) {
    x.range_changes = x.set_range && (x.lo != now.x_lo || x.hi != now.x_hi);
    y.range_changes = y.set_range && (y.lo != now.y_lo || y.hi != now.y_hi);
    LabelWidths widths(now.x_metrics.get());
    if (x.set_range) x.ticks = choose_ticks(x.lo, x.hi, plot_width, 0.0, &widths, now.graphs_x);
    if (y.set_range) y.ticks = choose_ticks(y.lo, y.hi, plot_height, now.label_height, nullptr, now.graphs_y);
}

void write_axes(const Env& env, PyObject* axX, PyObject* axY, const AxisPlan& x, const AxisPlan& y, PyObject* chart) {
    // The ticks go first: an axis lays its labels out at once when its range changes, and a new
    // range with the old step (or the reverse) could hold millions of ticks.
    bool invalidated = false;
    const bool graphs_x = graphs_axis(env, axX), graphs_y = graphs_axis(env, axY);
    const bool settle_x = graphs_x && x.set_range && needs_settling(axX);
    const bool settle_y = graphs_y && y.set_range && needs_settling(axY);
    const bool x_ticks_change = x.set_range && write_ticks(env, axX, x.ticks, graphs_x, invalidated);
    const bool y_ticks_change = y.set_range && write_ticks(env, axY, y.ticks, graphs_y, invalidated);
    if (x.range_changes || settle_x) call_method(axX, s_setRange, x.lo, x.hi);
    if (y.range_changes || settle_y) call_method(axY, s_setRange, y.lo, y.hi);
    if (graphs_x && x.set_range && (x.range_changes || x_ticks_change) != settle_x) mark_settling(axX, !settle_x);
    if (graphs_y && y.set_range && (y.range_changes || y_ticks_change) != settle_y) mark_settling(axY, !settle_y);
    // New tick settings re-lay the chart out at the next event; done now, a plot area that
    // changes with the labels' width re-lays empty lines.
    if (invalidated && chart) {
        Ref layout = call_method(chart, s_layout);
        if (!layout.is_none()) call_method(layout, s_activate);
    }
}

}  // namespace streaming
