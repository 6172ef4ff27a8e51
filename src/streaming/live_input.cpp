// LiveView.eventFilter: the keys on the chart view, the mouse and the wheel on its viewport. Qt
// calls it for every event; it must never let an exception out (PySide6 would skip later
// overrides, and a later, unrelated event could crash), so every error is reported through
// sys.unraisablehook and the event is left to Qt.
#include "live.hpp"
#include "names.hpp"

#include <cmath>

namespace streaming {

using namespace lark;

namespace {

const Name s_type{"type"}, s_position{"position"}, s_y{"y"}, s_button{"button"}, s_value{"value"}, s_key{"key"},
    s_modifiers{"modifiers"}, s_isAutoRepeat{"isAutoRepeat"}, s_accept{"accept"}, s_angleDelta{"angleDelta"};

// Qt's own numbers (QEvent::Type, Qt::MouseButton, Qt::Key), fixed in its headers.
enum EventType : long {
    mouse_press = 2,
    mouse_release = 3,
    mouse_double_click = 4,
    mouse_move = 5,
    key_press = 6,
    leave = 11,
    wheel = 31,
    shortcut_override = 51,
};
constexpr long left_button = 1, right_button = 2, key_space = 0x20;
constexpr long keypad_modifier = 0x20000000;
// A press becomes a drag past this many pixels, and a rectangle under this many pixels wide is a click.
constexpr double drag_start = 4.0, least_band = 3.0;
// The wheel zooms by this factor per notch (120 units of angle), in or out.
constexpr double zoom_per_notch = 0.8;

long long_of(const Ref& value) {
    // Qt's flags come as enum.Flag members in PySide6, which are no ints: their value is.
    Ref number = PyLong_Check(value.get()) ? value : getattr(value.get(), s_value);
    const long v = PyLong_AsLong(number.get());
    if (v == -1 && PyErr_Occurred()) throw_error();
    return v;
}

void position_of(PyObject* event, double& x, double& y) {
    Ref p = call_method(event, s_position);
    x = number_of(call_method(p, s_x));
    y = number_of(call_method(p, s_y));
}

// The value of the member's axis at a pixel of the plot.
double value_at(PyObject* axis, double pixel, double start, double length, bool downwards) {
    const double lo = number_of(call_method(axis, s_min)), hi = number_of(call_method(axis, s_max));
    const double t = (pixel - start) / length;
    return downwards ? hi - t * (hi - lo) : lo + t * (hi - lo);
}

// Shows the x range on the group and, when the y axis was zoomed and moves with it, the member's y.
void move_view(const Env& env, LiveStateObject* s, double lo, double hi, bool y_moved) {
    double now_lo, now_hi;
    const bool x_moves = !current_x_range(s, now_lo, now_hi) || now_lo != lo || now_hi != hi;
    if (x_moves) set_group_range(env, s, lo, hi, false);
    else if (y_moved) write_view(env, s);
}

void drag_to(const Env& env, LiveStateObject* s, double px, double py) {
    const PlotArea pa = plot_area_of(s);
    if (!(pa.width > 0 && pa.height > 0)) return;
    if (s->drag == Drag::pan) {
        const double shift = -(px - s->press_x) / pa.width * (s->from_hi - s->from_lo);
        bool y_moved = false;
        if (s->y_zoomed) {
            const double y_shift = (py - s->press_y) / pa.height * (s->from_y_hi - s->from_y_lo);
            y_moved = s->y_lo != s->from_y_lo + y_shift;
            s->y_lo = s->from_y_lo + y_shift;
            s->y_hi = s->from_y_hi + y_shift;
        }
        move_view(env, s, s->from_lo + shift, s->from_hi + shift, y_moved);
        return;
    }
    if (s->drag == Drag::band_pending) {
        if (std::fmax(std::fabs(px - s->press_x), std::fabs(py - s->press_y)) < drag_start) return;
        // A right-button drag on a live chart stops it where it is, then draws the rectangle.
        if (!s->paused) pause_group(env, s);
        if (!s->attached || !s->paused) return;
        s->drag = Drag::band;
    }
    if (s->drag == Drag::band) show_band(env, s, s->press_x, s->press_y, px, py);
}

void finish_band(const Env& env, LiveStateObject* s, double px, double py) {
    hide_band(s);
    const PlotArea pa = plot_area_of(s);
    auto clamp = [](double v, double a, double b) { return v < a ? a : (v > b ? b : v); };
    const double x0 = clamp(s->press_x, pa.left, pa.right()), x1 = clamp(px, pa.left, pa.right());
    const double y0 = clamp(s->press_y, pa.top, pa.bottom()), y1 = clamp(py, pa.top, pa.bottom());
    if (std::fabs(x1 - x0) < least_band || !s->axX || !s->axY) return;
    double lo = value_at(s->axX, std::fmin(x0, x1), pa.left, pa.width, false);
    double hi = value_at(s->axX, std::fmax(x0, x1), pa.left, pa.width, false);
    bool y_moved = false;
    if (std::fabs(y1 - y0) >= least_band) {
        double ylo = value_at(s->axY, std::fmax(y0, y1), pa.top, pa.height, true);
        double yhi = value_at(s->axY, std::fmin(y0, y1), pa.top, pa.height, true);
        make_usable(ylo, yhi);
        s->y_zoomed = true;
        s->y_lo = ylo;
        s->y_hi = yhi;
        y_moved = true;
    }
    make_usable(lo, hi);
    move_view(env, s, lo, hi, y_moved);
}

void zoom_at(const Env& env, LiveStateObject* s, double px, double notches) {
    const PlotArea pa = plot_area_of(s);
    double lo, hi;
    if (!(pa.width > 0) || !current_x_range(s, lo, hi)) return;
    const double cx = px < pa.left ? pa.left : (px > pa.right() ? pa.right() : px);
    const double at = lo + (cx - pa.left) / pa.width * (hi - lo);
    const double f = std::pow(zoom_per_notch, notches);
    const double new_lo = at - (at - lo) * f, new_hi = at + (hi - at) * f;
    if (std::isfinite(new_lo) && std::isfinite(new_hi) && new_lo < new_hi) move_view(env, s, new_lo, new_hi, false);
}

// The view's keys: Space toggles, also against an application's own Space shortcut.
bool on_view_event(const Env& env, LiveStateObject* s, long type, PyObject* event) {
    if (type != key_press && type != shortcut_override) return false;
    if (long_of(call_method(event, s_key)) != key_space) return false;
    if ((long_of(call_method(event, s_modifiers)) & ~keypad_modifier) != 0) return false;
    if (type == shortcut_override) {
        call_method(event, s_accept);
        return true;
    }
    if (truth(call_method(event, s_isAutoRepeat).get())) return true;  // held down: no toggling again
    if (s->paused) resume_group(env, s);
    else pause_group(env, s);
    return true;
}

bool on_viewport_event(const Env& env, LiveStateObject* s, long type, PyObject* event) {
    if (type == leave) {
        hide_readout(env, s);
        return false;
    }
    double px, py;
    position_of(event, px, py);
    if (type == mouse_move) {
        if (s->drag != Drag::none) {
            drag_to(env, s, px, py);
            if (s->attached && s->drag == Drag::pan) show_readout(env, s, px, py);
            return true;
        }
        show_readout(env, s, px, py);
        return false;
    }
    if (type == wheel) {
        if (!s->paused) return false;  // a live chart lets the page scroll
        Ref angle = call_method(event, s_angleDelta);
        double delta = number_of(call_method(angle, s_y));
        if (delta == 0.0) delta = number_of(call_method(angle, s_x));
        if (delta != 0.0) zoom_at(env, s, px, delta / 120.0);
        if (s->attached) show_readout(env, s, px, py);
        return true;
    }
    const long button = long_of(call_method(event, s_button));
    const bool inside = plot_area_of(s).contains(px, py);
    if (type == mouse_press) {
        if (!inside || s->drag != Drag::none) return s->drag != Drag::none;
        if (button == left_button && s->paused) {
            s->drag = Drag::pan;
        } else if (button == right_button) {
            s->drag = Drag::band_pending;
        } else {
            return false;
        }
        s->drag_button = static_cast<int>(button);
        s->press_x = px;
        s->press_y = py;
        current_x_range(s, s->from_lo, s->from_hi);
        s->from_y_lo = s->y_lo;
        s->from_y_hi = s->y_hi;
        return true;
    }
    if (type == mouse_release) {
        if (s->drag == Drag::none || button != s->drag_button) return false;
        const Drag drag = s->drag;
        s->drag = Drag::none;
        if (drag == Drag::band) finish_band(env, s, px, py);
        else if (drag == Drag::pan) drag_to(env, s, px, py);
        s->drag = Drag::none;
        return true;
    }
    if (type == mouse_double_click) {
        if (!s->paused || !inside || button != left_button) return false;
        s->drag = Drag::none;
        show_all_group(env, s);
        return true;
    }
    return false;
}

bool filter_event(const Env& env, PyObject* self, PyObject* watched, PyObject* event) {
    const long type = long_of(call_method(event, s_type));
    switch (type) {
        case mouse_press: case mouse_release: case mouse_double_click: case mouse_move:
        case key_press: case leave: case wheel: case shortcut_override:
            break;
        default:
            return false;  // paints and the rest, at the cost of one call
    }
    LiveStateObject* s = live_state_of_owner(env, self);
    if (!s || !s->attached) return false;
    Ref keep = Ref::borrow(reinterpret_cast<PyObject*>(s));
    // A view that shows another chart now (setChart) is not this LiveView's any more: it goes,
    // and the chart gets a new one if it is shown and synced again.
    // A graph's widget gives only its keys: the mouse stays Qt Quick's.
    if (s->graphs) return watched == s->view && on_view_event(env, s, type, event);
    if (call_method(s->view, s_chart).get() != s->chart) {
        detach(env, s);
        return false;
    }
    if (watched == s->view) return on_view_event(env, s, type, event);
    if (watched == s->viewport) return on_viewport_event(env, s, type, event);
    return false;
}

}  // namespace

Ref live_view_eventFilter(const Env& env, const args::live_view_eventFilter& a) {
    bool handled = false;
    if (!guarded_slot([&] { handled = filter_event(env, a.self, a.watched, a.event); })) {
        PyErr_WriteUnraisable(a.self);
        handled = false;
    }
    return Ref::of(handled);
}

}  // namespace streaming
