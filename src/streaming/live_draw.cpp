// What a LiveView draws: the paused view written from the buffers' stores, and the overlay (the
// readout, the paused marker, the zoom rectangle) made of standard graphics items under a clipping
// rectangle on the plot area. Moving the overlay repaints only its own items: no series is laid
// out again for it.
#include "live.hpp"
#include "names.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace streaming {

using namespace lark;

namespace {

const Name s_setBrush{"setBrush"}, s_setFlag{"setFlag"}, s_setZValue{"setZValue"}, s_setRect{"setRect"},
    s_setPos{"setPos"}, s_setLine{"setLine"}, s_setAcceptedMouseButtons{"setAcceptedMouseButtons"},
    s_boundingRect{"boundingRect"}, s_getRect{"getRect"}, s_name{"name"}, s_setToolTip{"setToolTip"};

// Overlay colours: quiet greys on translucent white, and a blue for the zoom rectangle.
struct Rgba {
    int r, g, b, a;
};
constexpr Rgba line_colour{80, 80, 80, 255}, box_colour{255, 255, 255, 215}, text_colour{40, 40, 40, 255},
    marker_colour{255, 255, 255, 200}, marker_text_colour{105, 105, 105, 255}, band_line{30, 110, 200, 255},
    band_fill{30, 110, 200, 40};
// The readout's box keeps this far from its line and from the plot's edges, in pixels.
constexpr double readout_gap = 10.0, edge_gap = 2.0;
// Beyond the samples a store holds, the readout takes one this close to the mouse, in pixels.
constexpr double near_pixels = 8.0;

Ref colour(const Env& env, Rgba c) { return call(state_of(env).QColor, c.r, c.g, c.b, c.a); }

Ref new_item(const Env& env, const Ref& cls, PyObject* parent) {
    Ref item = call(cls, parent);
    call_method(item, s_setAcceptedMouseButtons, state_of(env).NoButton);
    return item;
}

void no_pen(const Env& env, const Ref& item) { call_method(item, s_setPen, call(state_of(env).QPen, state_of(env).NoPen)); }

Ref dashed_pen(const Env& env, Rgba c) {
    Ref pen = call(state_of(env).QPen, colour(env, c));
    call_method(pen, s_setStyle, state_of(env).DashLine);
    return pen;
}

void set_visible(PyObject* item, bool shown) {
    if (item) call_method(item, s_setVisible, shown);
}

// (x, y, w, h) of a QRectF.
void rect_of(const Ref& rect, double& x, double& y, double& w, double& h) {
    Ref t = call_method(rect, s_getRect);
    if (!PyTuple_Check(t.get()) || PyTuple_GET_SIZE(t.get()) != 4)
        raise_format(PyExc_TypeError, "getRect() gave no four numbers");
    x = number_of(Ref::borrow(PyTuple_GET_ITEM(t.get(), 0)));
    y = number_of(Ref::borrow(PyTuple_GET_ITEM(t.get(), 1)));
    w = number_of(Ref::borrow(PyTuple_GET_ITEM(t.get(), 2)));
    h = number_of(Ref::borrow(PyTuple_GET_ITEM(t.get(), 3)));
}

double text_width(PyObject* item, double* height = nullptr) {
    double x, y, w, h;
    rect_of(call_method(item, s_boundingRect), x, y, w, h);
    if (height) *height = h;
    return w;
}

// ---- numbers as the overlay prints them

// A printf format of the kind the ticks get ("%.2f", "%.3e"), or the default when it is not one.
void safe_format(PyObject* text, char (&out)[16]) {
    std::snprintf(out, sizeof out, "%%.6g");
    if (!text || !PyUnicode_Check(text)) return;
    const char* t = PyUnicode_AsUTF8(text);
    if (!t) {
        PyErr_Clear();
        return;
    }
    const std::size_t n = std::strlen(t);
    const bool ours = n >= 4 && n <= 5 && t[0] == '%' && t[1] == '.' && (t[n - 1] == 'f' || t[n - 1] == 'e') &&
                      std::strspn(t + 2, "0123456789") == n - 3;
    if (ours) std::snprintf(out, sizeof out, "%s", t);
}

// v with `decimals` digits after the point, or in exponent form where that would be unreadable.
void print_number(double v, int decimals, char* out, std::size_t size) {
    if (decimals < 0) decimals = 0;
    if (decimals > 15) decimals = 15;
    const double a = std::fabs(v);
    if (a >= 1e15 || (a != 0.0 && a < 1e-4 && decimals > 10)) std::snprintf(out, size, "%.6g", v);
    else std::snprintf(out, size, "%.*f", decimals, v);
}

// The digits that a value per pixel (or a span) of `step` needs.
int decimals_for(double step, int extra) {
    if (!(step > 0) || !std::isfinite(step)) return 3;
    return static_cast<int>(std::ceil(-std::log10(step))) + extra;
}

}  // namespace

PlotArea plot_area_of(LiveStateObject* s) {
    PlotArea pa;
    if (!s->chart) return pa;
    rect_of(s->graphs ? call_method(s->chart, s_property, s_plotArea) : call_method(s->chart, s_plotArea), pa.left,
            pa.top, pa.width, pa.height);
    return pa;
}

void make_overlay(const Env& env, LiveStateObject* s) {
    const State& st = state_of(env);
    Ref clip = new_item(env, st.QGraphicsRectItem, s->chart);
    s->clip = Ref(clip).release();
    no_pen(env, clip);
    call_method(clip, s_setFlag, st.ClipsChildren, true);
    call_method(clip, s_setZValue, 10.0);  // over Qt Charts' series (4) and legend (5)
    const PlotArea pa = plot_area_of(s);
    call_method(clip, s_setRect, pa.left, pa.top, pa.width, pa.height);

    Ref marker_box = new_item(env, st.QGraphicsRectItem, clip.get());
    s->marker_box = Ref(marker_box).release();
    no_pen(env, marker_box);
    call_method(marker_box, s_setBrush, colour(env, marker_colour));
    call_method(marker_box, s_setZValue, 1.0);
    call_method(marker_box, s_setToolTip,
                Ref::steal(PyUnicode_FromString("Space (on the focused chart) or resume() returns to the live view")));
    set_visible(marker_box.get(), false);
    Ref marker_text = new_item(env, st.QGraphicsSimpleTextItem, marker_box.get());
    s->marker_text = Ref(marker_text).release();
    call_method(marker_text, s_setBrush, colour(env, marker_text_colour));

    Ref line = new_item(env, st.QGraphicsLineItem, clip.get());
    s->line = Ref(line).release();
    call_method(line, s_setPen, dashed_pen(env, line_colour));
    call_method(line, s_setZValue, 2.0);
    set_visible(line.get(), false);
    Ref box = new_item(env, st.QGraphicsRectItem, clip.get());
    s->box = Ref(box).release();
    no_pen(env, box);
    call_method(box, s_setBrush, colour(env, box_colour));
    call_method(box, s_setZValue, 2.0);
    set_visible(box.get(), false);
    Ref xlabel = new_item(env, st.QGraphicsSimpleTextItem, box.get());
    s->xlabel = Ref(xlabel).release();
    call_method(xlabel, s_setBrush, colour(env, text_colour));
    call_method(xlabel, s_setPos, 4.0, 2.0);
    s->labels = check(PyList_New(0));

    Ref band = new_item(env, st.QGraphicsRectItem, clip.get());
    s->band = Ref(band).release();
    call_method(band, s_setPen, dashed_pen(env, band_line));
    call_method(band, s_setBrush, colour(env, band_fill));
    call_method(band, s_setZValue, 3.0);
    set_visible(band.get(), false);
}

// ---- the paused marker

void place_marker(const Env&, LiveStateObject* s) {
    // A graph's marker follows its plot area by binding.
    if (!s->attached || !s->clip || s->graphs) return;
    Ref keep = Ref::borrow(reinterpret_cast<PyObject*>(s));
    const PlotArea pa = plot_area_of(s);
    call_method(s->clip, s_setRect, pa.left, pa.top, pa.width, pa.height);
    if (!s->marker_box || !s->paused) return;
    double h = 0.0;
    const double w = text_width(s->marker_text, &h);
    call_method(s->marker_box, s_setRect, 0.0, 0.0, w + 8.0, h + 4.0);
    call_method(s->marker_box, s_setPos, pa.right() - w - 12.0, pa.top + 4.0);
    call_method(s->marker_text, s_setPos, 4.0, 2.0);
}

void show_marker(const Env& env, LiveStateObject* s, bool shown) {
    if (!s->attached || !s->marker_box) return;
    Ref keep = Ref::borrow(reinterpret_cast<PyObject*>(s));
    if (!shown) {
        set_visible(s->marker_box, false);
        return;
    }
    char text[96] = "paused";
    if (std::isfinite(s->pause_x)) {
        char format[16];
        safe_format(s->axX ? call_method(s->axX, s_labelFormat).get() : nullptr, format);
        char number[64];
        std::snprintf(number, sizeof number, format, s->pause_x);
        std::snprintf(text, sizeof text, "paused at x = %s", number);
    }
    if (s->graphs) {
        call_method(s->marker_box, s_setProperty, s_text, Ref::steal(PyUnicode_FromString(text)));
        set_visible(s->marker_box, true);
        return;
    }
    call_method(s->marker_text, s_setText, Ref::steal(PyUnicode_FromString(text)));
    set_visible(s->marker_box, true);
    place_marker(env, s);
}

// ---- the paused view

namespace {

// The most points a view writes of a buffer: the buffer's own budget, or two per pixel column for
// an automatic one; a buffer that writes every sample writes them all up to its window, or two per
// pixel column beyond.
Py_ssize_t view_budget(const StreamBufferObject* b, double width) {
    const Py_ssize_t automatic = width >= 1.0 ? static_cast<Py_ssize_t>(2.0 * std::floor(std::fmin(width, 1e9))) : budget_every;
    if (b->display_budget == budget_auto) return automatic;
    if (b->display_budget == budget_every)
        return automatic == budget_every ? budget_every : (b->window > automatic ? b->window : automatic);
    return b->display_budget;
}

struct Line {
    Ref object, series;
    bool visible = false;
    Py_ssize_t budget = budget_every;
};

StreamBufferObject* line_buffer(const Env& env, PyObject* o) {
    if (!PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(state_of(env).StreamBuffer.get()))) return nullptr;
    auto* b = reinterpret_cast<StreamBufferObject*>(o);
    return b->ring.ready() ? b : nullptr;
}

}  // namespace

void write_view(const Env& env, LiveStateObject* s) {
    if (!s->attached || !s->paused || !s->synced || !s->buffers || !s->axX || !s->axY || !std::isfinite(s->view_lo))
        return;
    Ref keep = Ref::borrow(reinterpret_cast<PyObject*>(s));
    struct Writing {
        LiveStateObject* s;
        bool was;
        ~Writing() { s->writing = was; }
    } writing{s, std::exchange(s->writing, true)};
    const unsigned long long epoch = s->epoch;
    // Qt runs code of anyone's (slots, overrides): the view is written only while it is still wanted.
    auto wanted = [&] { return s->attached && s->paused && s->epoch == epoch; };
    Ref buffers = Ref::borrow(s->buffers), axX = Ref::borrow(s->axX), axY = Ref::borrow(s->axY),
        chart = Ref::borrow(s->chart);
    const double lo = s->view_lo, hi = s->view_hi;
    const PlotArea pa = plot_area_of(s);

    const Py_ssize_t n = PyTuple_GET_SIZE(buffers.get());
    std::vector<Line> lines(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        Line& l = lines[static_cast<std::size_t>(i)];
        StreamBufferObject* b = line_buffer(env, PyTuple_GET_ITEM(buffers.get(), i));
        if (!b || !b->series) continue;
        l.object = Ref::borrow(reinterpret_cast<PyObject*>(b));
        l.series = Ref::borrow(b->series);
        l.visible = truth(call_method(l.series, s_isVisible).get());
    }
    if (!wanted()) return;

    AxisPlan x, y;
    x.lo = lo;
    x.hi = hi;
    x.set_range = true;
    if (s->y_zoomed) {
        y.lo = s->y_lo;
        y.hi = s->y_hi;
        y.set_range = true;
    } else if (s->fixed) {
        y.lo = s->fixed_lo;
        y.hi = s->fixed_hi;
        y.set_range = true;
    } else {
        scan::Extremes shown;
        for (Line& l : lines) {
            StreamBufferObject* b = l.visible ? line_buffer(env, l.object.get()) : nullptr;
            if (b) shown.take(range_extremes(b, lo, hi));
        }
        y.set_range = automatic_y_range(shown, s->margin_ratio, y.lo, y.hi);
    }
    const AxesNow now = read_axes(env, axX.get(), axY.get(), s->graphs ? chart.get() : nullptr);
    plan_ticks(now, x, y, pa.width, pa.height);
    if (!wanted()) return;

    // The axes move while the lines about to be written are empty: each is laid out once.
    if (x.range_changes || y.range_changes) {
        PyObject* clear = state_of(env).clear.get();
        for (Line& l : lines)
            if (l.visible && clear && genuine_series(env, l.series.get())) call(clear, l.series);
    }
    write_axes(env, axX.get(), axY.get(), x, y, s->graphs ? nullptr : chart.get());
    for (Line& l : lines) {
        if (!l.visible) continue;
        if (!wanted()) return;
        // Code run by the calls above may have changed the buffer: it is looked at afresh.
        StreamBufferObject* b = line_buffer(env, l.object.get());
        if (!b) continue;
        const Py_ssize_t budget = view_budget(b, pa.width);
        Plan plan = range_plan(b, lo, hi, budget);
        while (plan.most_points() > b->out_capacity || b->out_capacity == 0) {
            reserve_out(env, b, plan.most_points() > 2 ? plan.most_points() : 2);
            plan = range_plan(b, lo, hi, budget);
        }
        const Py_ssize_t m = lay_out(b, plan, b->out_x.data(), b->out_y.data());
        write_window(env, l.series.get(), b->out_x.array(), b->out_y.array(), m);
    }
    if (wanted() && s->hovered) refresh_readout(env, s);
}

// ---- the readout

namespace {

void hide_member_readout(LiveStateObject* m) {
    set_visible(m->line, false);
    set_visible(m->box, false);
    Py_XSETREF(m->readout, Py_NewRef(Py_None));
}

// The label for the k-th series of the member's readout, made when first needed.
PyObject* label_at(const Env& env, LiveStateObject* m, Py_ssize_t k) {
    while (PyList_GET_SIZE(m->labels) <= k) {
        Ref label = new_item(env, state_of(env).QGraphicsSimpleTextItem, m->box);
        check(PyList_Append(m->labels, label.get()));
    }
    return PyList_GET_ITEM(m->labels, k);
}

// The readout of the member at x: the line, the x, and each visible series' nearest sample.
void render_readout(const Env& env, LiveStateObject* m, double x) {
    if (!m->attached || !m->box || !m->axX || !m->buffers) return;
    Ref keep = Ref::borrow(reinterpret_cast<PyObject*>(m));
    const PlotArea pa = plot_area_of(m);
    const double xlo = number_of(call_method(m->axX, s_min)), xhi = number_of(call_method(m->axX, s_max));
    if (!(pa.width > 0 && xhi > xlo && x >= xlo && x <= xhi)) {
        hide_member_readout(m);
        return;
    }
    const double ylo = m->axY ? number_of(call_method(m->axY, s_min)) : 0.0;
    const double yhi = m->axY ? number_of(call_method(m->axY, s_max)) : 1.0;
    const double cx = pa.left + (x - xlo) / (xhi - xlo) * pa.width;
    call_method(m->line, s_setLine, cx, pa.top, cx, pa.bottom());

    char number[64], text[96];
    const double per_pixel = (xhi - xlo) / pa.width;
    print_number(x, decimals_for(per_pixel, 0), number, sizeof number);
    std::snprintf(text, sizeof text, "x = %s", number);
    call_method(m->xlabel, s_setText, Ref::steal(PyUnicode_FromString(text)));
    double line_height = 0.0;
    double widest = text_width(m->xlabel, &line_height);
    const int y_decimals = decimals_for(yhi - ylo, 3);

    Ref buffers = Ref::borrow(m->buffers);
    Ref readings = Ref::steal(PyList_New(0));
    Py_ssize_t k = 0;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(buffers.get()); ++i) {
        StreamBufferObject* b = line_buffer(env, PyTuple_GET_ITEM(buffers.get(), i));
        if (!b || !b->series) continue;
        Ref series = Ref::borrow(b->series);
        if (!truth(call_method(series, s_isVisible).get())) continue;
        b = line_buffer(env, PyTuple_GET_ITEM(buffers.get(), i));  // isVisible may have run code
        if (!b) continue;
        const Py_ssize_t at = nearest_sample(b->ring, x);
        const char* value = "\u2013";  // no sample on screen
        if (at >= 0) {
            const double sx = b->ring.x(b->ring.at(at)), sy = b->ring.y(b->ring.at(at));
            // Past the ends of what the store holds, a sample counts only when it is a few pixels
            // away: the newest value is no reading of a spot the data has not reached.
            double oldest = sx, newest = sx;
            held_x_extent(b->ring, oldest, newest);
            const bool near = (x >= oldest && x <= newest) || std::fabs(sx - x) <= near_pixels * per_pixel;
            if (sx >= xlo && sx <= xhi && near) {
                if (scan::finite(sy)) print_number(sy, y_decimals, number, sizeof number);
                else std::snprintf(number, sizeof number, "%s", std::isnan(sy) ? "gap" : (sy > 0 ? "inf" : "-inf"));
                value = number;
                Ref reading = Ref::steal(Py_BuildValue("(Odd)", series.get(), sx, sy));
                check(PyList_Append(readings.get(), reading.get()));
            }
        }
        Ref name = str_of(call_method(series, s_name).get());
        PyObject* label = label_at(env, m, k);
        call_method(label, s_setText, Ref::steal(PyUnicode_FromFormat("%U: %s", name.get(), value)));
        call_method(label, s_setBrush, call_method(series, s_color));
        call_method(label, s_setPos, 4.0, 2.0 + static_cast<double>(k + 1) * line_height);
        set_visible(label, true);
        widest = std::fmax(widest, text_width(label));
        ++k;
    }
    for (Py_ssize_t j = k; j < PyList_GET_SIZE(m->labels); ++j) set_visible(PyList_GET_ITEM(m->labels, j), false);

    // The box beside the line, flipped to its left near the plot's right edge, kept inside the
    // plot and below the paused marker where they would meet.
    const double bw = widest + 8.0, bh = static_cast<double>(k + 1) * line_height + 4.0;
    double bx = cx + readout_gap;
    if (bx + bw > pa.right() - edge_gap) bx = cx - readout_gap - bw;
    if (bx < pa.left + edge_gap) bx = pa.left + edge_gap;
    double by = pa.top + 4.0;
    if (m->paused && m->marker_box) {
        double mx, my, mw, mh;
        rect_of(call_method(m->marker_box, s_boundingRect), mx, my, mw, mh);
        const double marker_left = pa.right() - mw - 8.0;
        if (bx + bw > marker_left) by += mh + 4.0;
    }
    call_method(m->box, s_setRect, 0.0, 0.0, bw, bh);
    call_method(m->box, s_setPos, bx, by);
    set_visible(m->line, true);
    set_visible(m->box, true);
    Ref samples = Ref::steal(PyList_AsTuple(readings.get()));
    Py_XSETREF(m->readout, Py_BuildValue("(dO)", x, samples.get()));
}

// The x under the member's pixel, from its x axis; false when it has none.
bool x_at_pixel(LiveStateObject* m, double px, double& x) {
    if (!m->axX) return false;
    const PlotArea pa = plot_area_of(m);
    const double xlo = number_of(call_method(m->axX, s_min)), xhi = number_of(call_method(m->axX, s_max));
    if (!(pa.width > 0)) return false;
    x = xlo + (px - pa.left) / pa.width * (xhi - xlo);
    return std::isfinite(x);
}

}  // namespace

void show_readout(const Env& env, LiveStateObject* s, double px, double py) {
    if (!s->attached) return;
    Ref keep = Ref::borrow(reinterpret_cast<PyObject*>(s));
    const PlotArea pa = plot_area_of(s);
    double x = 0.0;
    if (!pa.contains(px, py) || !x_at_pixel(s, px, x)) {
        hide_readout(env, s);
        return;
    }
    Ref members = members_of(s);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(members.get()); ++i) {
        LiveStateObject* m = as_live(PyTuple_GET_ITEM(members.get(), i));
        m->hovered = m == s;
    }
    s->hover_x = px;
    s->hover_y = py;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(members.get()); ++i)
        render_readout(env, as_live(PyTuple_GET_ITEM(members.get(), i)), x);
}

void hide_readout(const Env&, LiveStateObject* s) {
    Ref members = members_of(s);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(members.get()); ++i) {
        LiveStateObject* m = as_live(PyTuple_GET_ITEM(members.get(), i));
        m->hovered = false;
        if (m->attached) hide_member_readout(m);
    }
}

void refresh_readout(const Env& env, LiveStateObject* s) {
    if (!s->attached || !s->linked) return;
    Ref members = members_of(s);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(members.get()); ++i) {
        LiveStateObject* h = as_live(PyTuple_GET_ITEM(members.get(), i));
        if (!h->hovered || !h->attached) continue;
        double x = 0.0;
        if (x_at_pixel(h, h->hover_x, x)) render_readout(env, s, x);
        return;
    }
}

// ---- the zoom rectangle

void show_band(const Env&, LiveStateObject* s, double x0, double y0, double x1, double y1) {
    if (!s->attached || !s->band) return;
    const PlotArea pa = plot_area_of(s);
    auto clamp = [](double v, double a, double b) { return v < a ? a : (v > b ? b : v); };
    x0 = clamp(x0, pa.left, pa.right());
    x1 = clamp(x1, pa.left, pa.right());
    y0 = clamp(y0, pa.top, pa.bottom());
    y1 = clamp(y1, pa.top, pa.bottom());
    // A flat rectangle zooms x only: it is drawn over the plot's whole height.
    if (std::fabs(y1 - y0) < 3.0) {
        y0 = pa.top;
        y1 = pa.bottom();
    }
    call_method(s->band, s_setRect, std::fmin(x0, x1), std::fmin(y0, y1), std::fabs(x1 - x0), std::fabs(y1 - y0));
    set_visible(s->band, true);
}

void hide_band(LiveStateObject* s) {
    if (s->attached) set_visible(s->band, false);
}

}  // namespace streaming
