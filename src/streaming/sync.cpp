// sync_stream_chart: one call per GUI tick for the StreamBuffers of one chart. It reads what it
// needs of Qt first, decides both axes from the buffers' stores, sets the axes while the series
// it is about to write are empty, and then writes each of them in one call: Qt Charts lays a line
// out again on every write and on every axis range change while it holds points, so this order
// lays each line out once per tick.
#include "live.hpp"
#include "names.hpp"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace streaming {

using namespace lark;

namespace {


// ---- the buffers ----

struct Entry {
    Ref object;  // the StreamBuffer
    Ref series;
    bool visible = false;
    double plot_width = -1.0;  // of the series' chart, for an automatic budget; -1: not asked
    Ref asked;   // the series whose chart() gave `chart`, once asked
    Ref chart;   // empty: the series has no chart() method
    bool graphs = false;  // `chart` is the Qt Graphs GraphsView that owns the series
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
    Ref chart;
    bool graphs = false;  // a GraphsView: no layout to bring up to date
    double width = 0.0, height = 0.0;
};

// The chart of the entry's series (None for none, empty for a stand-in series without chart()),
// asked once per series. For a Qt Graphs series, the GraphsView that owns it.
const Ref& chart_of(const Env& env, Entry& e) {
    if (e.asked.get() != e.series.get()) {
        e.graphs = genuine_graphs_series(env, e.series.get());
        if (e.graphs) {
            PlotOwner owner = plot_owner(env, e.series.get());
            e.chart = owner.object ? std::move(owner.object) : Ref::none();
        } else {
            Ref method = attribute_if_any(e.series.get(), s_chart);
            e.chart = method ? call(method) : Ref();
        }
        e.asked = e.series;
    }
    return e.chart;
}

// The series' chart and its plot area, as an index into `plots`, or -1 when it has none.
Py_ssize_t plot_of(const Env& env, Entry& e, std::vector<Plot>& plots) {
    const Ref chart = chart_of(env, e);
    if (!chart || chart.is_none()) return -1;  // a stand-in series has no chart
    for (std::size_t k = 0; k < plots.size(); ++k)
        if (plots[k].chart.get() == chart.get()) return static_cast<Py_ssize_t>(k);
    Ref area = e.graphs ? call_method(chart, s_property, s_plotArea) : call_method(chart, s_plotArea);
    Plot p;
    p.graphs = e.graphs;
    p.width = number_of(call_method(area, s_width));
    p.height = number_of(call_method(area, s_height));
    p.chart = std::move(chart);
    plots.push_back(std::move(p));
    return static_cast<Py_ssize_t>(plots.size()) - 1;
}

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
    sync_chart(env, buffers.get(), a.axX, a.axY, window, fixed, fixed_lo, fixed_hi, margin_ratio);
    return none();
}

void sync_chart(const Env& env, PyObject* buffers, PyObject* axX, PyObject* axY, double window, bool fixed,
                double fixed_lo, double fixed_hi, double margin_ratio) {
    const Py_ssize_t count = PyTuple_GET_SIZE(buffers);
    std::vector<Entry> entries(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* object = PyTuple_GET_ITEM(buffers, i);
        buffer_at(env, object, i);
        entries[static_cast<std::size_t>(i)].object = Ref::borrow(object);
    }

    // ---- the chart's LiveView (made at the first call): a paused chart is left as it is
    Ref live;
    for (Py_ssize_t i = 0; i < count; ++i) {
        Entry& e = entries[static_cast<std::size_t>(i)];
        StreamBufferObject* b = buffer_at(env, e.object.get(), i);
        if (!b->series) raise_format(PyExc_AttributeError, "'StreamBuffer' object has no attribute 'series'");
        e.series = Ref::borrow(b->series);
        const Ref& chart = chart_of(env, e);
        if (!chart || chart.is_none()) continue;
        live = Ref::borrow(reinterpret_cast<PyObject*>(e.graphs ? live_state_of_graph(env, chart.get(), true)
                                                                 : live_state_of_chart(env, chart.get(), true)));
        break;
    }
    if (live) {
        LiveStateObject* s = as_live(live.get());
        note_sync(s, buffers, axX, axY, window, fixed, fixed_lo, fixed_hi, margin_ratio);
        if (s->paused) return;
    }

    // ---- what Qt knows: visibility, plot areas, the axes as they are, their label fonts
    std::vector<Plot> plots;
    Py_ssize_t plot = -1;  // the chart whose plot area the ticks fit
    for (Py_ssize_t i = 0; i < count; ++i) {
        Entry& e = entries[static_cast<std::size_t>(i)];
        StreamBufferObject* b = buffer_at(env, e.object.get(), i);
        if (!b->series) raise_format(PyExc_AttributeError, "'StreamBuffer' object has no attribute 'series'");
        e.series = Ref::borrow(b->series);
        e.visible = series_visible(env, e.series.get());
        // isVisible may have run code of the caller's: the buffer is looked at again.
        const bool automatic = buffer_at(env, e.object.get(), i)->display_budget == budget_auto;
        if ((e.visible && automatic) || plot < 0) {
            const Py_ssize_t p = plot_of(env, e, plots);
            if (p >= 0 && plot < 0) plot = p;
            if (automatic) e.plot_width = p >= 0 ? plots[static_cast<std::size_t>(p)].width : 0.0;
        }
    }
    const Plot* fitted = plot >= 0 ? &plots[static_cast<std::size_t>(plot)] : nullptr;
    const AxesNow now = read_axes(env, axX, axY, fitted && fitted->graphs ? fitted->chart.get() : nullptr);
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
        budgets[static_cast<std::size_t>(i)] = resolved_budget(env, b, e.series.get(), e.plot_width < 0 ? 0.0 : e.plot_width);
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
    } else if (automatic_y_range(shown, margin_ratio, y.lo, y.hi)) {
        y.set_range = true;
    }

    // ---- readable ticks for the axes' pixel lengths
    plan_ticks(now, x, y, plot_width, plot_height);

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
    write_axes(env, axX, axY, x, y, fitted && !fitted->graphs ? fitted->chart.get() : nullptr);

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
    // The readout under a resting mouse follows the data.
    if (live) refresh_readout(env, as_live(live.get()));
}

}  // namespace streaming
