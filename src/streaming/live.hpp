// LiveView: stopping a live chart to look at it. One controller per chart that sync_stream_chart
// drives: a QObject of the class LiveView, parented to the chart's view, which filters the view's
// input, draws the overlay (readout, paused marker, zoom rectangle) and writes the paused view from
// the buffers' stores. Its state is a LiveState object of this module: the LiveView and the chart
// each keep it in their instance dictionary, where it is checked for its exact type before use.
#pragma once

#include "streaming.hpp"

namespace streaming {

// What a drag of the mouse is doing.
enum class Drag : unsigned char { none, pan, band_pending, band };

struct LiveStateObject {
    PyObject_HEAD
    // The Qt side, held while the controller is attached; all cleared when it detaches.
    PyObject* owner;     // the LiveView
    PyObject* view;      // the QChartView
    PyObject* viewport;  // its viewport, where the mouse events arrive
    PyObject* chart;
    PyObject* scene;     // the chart's scene when attached: a chart moved to another view has another
    // What the last sync_stream_chart call for the chart was given.
    PyObject* buffers;   // tuple of StreamBuffer objects, null before the first call
    PyObject* axX;
    PyObject* axY;
    // The charts whose x axes are linked with this one: a list of LiveState objects, this one included.
    PyObject* linked;
    // The overlay: items under an invisible clipping rectangle on the plot area.
    PyObject* clip;
    PyObject* line;
    PyObject* box;
    PyObject* xlabel;
    PyObject* labels;       // list of QGraphicsSimpleTextItem, one per buffer shown in the readout
    PyObject* marker_box;
    PyObject* marker_text;
    PyObject* band;
    PyObject* readout;      // what the readout shows: None, or (x, ((series, x, y), ...))
    PyObject* plot_slot;    // the partials connected to the chart's plotAreaChanged and destroyed
    PyObject* chart_slot;

    double window, margin_ratio, fixed_lo, fixed_hi;
    bool fixed;     // the last sync had a fixed_y_range
    bool synced;    // a sync_stream_chart call has been seen
    bool attached;  // the chart and its view are there
    bool paused;
    // A Qt Graphs graph: `chart` is its QGraphsView, `view` the QQuickWidget showing it (or null),
    // `marker_box` the paused marker, a Qt Quick item; there is no viewport, scene nor overlay.
    bool graphs;
    double view_lo, view_hi;    // the x range shown while paused
    double pause_lo, pause_hi;  // the live window when the chart was paused
    double pause_x;             // the newest x the buffers held then
    bool y_zoomed;              // the user chose the y range: it no longer follows the samples
    double y_lo, y_hi;
    // The mouse.
    Drag drag;
    int drag_button;
    double press_x, press_y;
    double from_lo, from_hi, from_y_lo, from_y_hi;  // the ranges when the drag began
    bool hovered;               // the mouse is over this chart's plot
    double hover_x, hover_y;    // where, in viewport pixels
    // Counts pauses, resumes and range changes, so that a write under way stops when code run by
    // Qt moved the view on.
    unsigned long long epoch;
    bool writing;  // a paused view is being written: a plot area change it causes writes nothing more
};

inline LiveStateObject* as_live(PyObject* o) noexcept { return reinterpret_cast<LiveStateObject*>(o); }

// ---- live.cpp: attaching, the group, what the members and sync_stream_chart call

// The live state of `chart`, the first buffer's chart of a sync: attached when the chart has none
// yet and is shown in a QChartView (make), else null. Detaches one whose chart moved to another scene.
LiveStateObject* live_state_of_chart(const lark::Env& env, PyObject* chart, bool make);
// The same for a Qt Graphs graph (a QGraphsView): attached at the first call, parented to the graph.
LiveStateObject* live_state_of_graph(const lark::Env& env, PyObject* graph, bool make);
// Whether `o` is a Qt Graphs QGraphsView, by its Qt class name (streaming never imports Qt Graphs).
bool is_graph_view(PyObject* o);
// What a sync_stream_chart call for the chart was given.
void note_sync(LiveStateObject* s, PyObject* buffers, PyObject* axX, PyObject* axY, double window,
               bool fixed, double fixed_lo, double fixed_hi, double margin_ratio);
// Lets go of the chart: the overlay comes off it, the LiveView is deleted later and the state keeps
// nothing of the Qt side. Never raises: what fails is reported.
void detach(const lark::Env& env, LiveStateObject* s) noexcept;
// The live state of a LiveView, or null when it has none (it was made some other way, or detached).
LiveStateObject* live_state_of_owner(const lark::Env& env, PyObject* owner) noexcept;

// The group's operations; `s` is the member the user acted on.
void pause_group(const lark::Env& env, LiveStateObject* s);
void resume_group(const lark::Env& env, LiveStateObject* s);
// Shows [lo, hi] on every member (pausing the group first when it is live); `y_follow` gives every
// member's y axis back to the samples.
void set_group_range(const lark::Env& env, LiveStateObject* s, double lo, double hi, bool y_follow);
// Everything the members' stores hold, the y axes following the samples.
void show_all_group(const lark::Env& env, LiveStateObject* s);
// The members as a tuple of new references (the group may change while they are used).
lark::Ref members_of(LiveStateObject* s);
// The member's x axis range now: (lo, hi), false when it has none yet.
bool current_x_range(LiveStateObject* s, double& lo, double& hi);

// ---- sync.cpp

// sync_stream_chart's work after its arguments are checked: `buffers` is a tuple of StreamBuffer
// objects. For a paused chart it notes the arguments and returns.
void sync_chart(const lark::Env& env, PyObject* buffers, PyObject* axX, PyObject* axY, double window, bool fixed,
                double fixed_lo, double fixed_hi, double margin_ratio);

// ---- live_draw.cpp: the paused view and the overlay

// The paused view of [view_lo, view_hi] written from the stores: the axes, then every visible line.
void write_view(const lark::Env& env, LiveStateObject* s);
// Makes the overlay items on the chart.
void make_overlay(const lark::Env& env, LiveStateObject* s);
// The paused marker shown (with the x the chart stopped at) or hidden, in the plot's top-right corner.
void show_marker(const lark::Env& env, LiveStateObject* s, bool shown);
void place_marker(const lark::Env& env, LiveStateObject* s);
// The readout of the group at the viewport pixel (px, py) of member `s`, or hidden.
void show_readout(const lark::Env& env, LiveStateObject* s, double px, double py);
void hide_readout(const lark::Env& env, LiveStateObject* s);
// The readout drawn again where the mouse is, after the chart moved under it.
void refresh_readout(const lark::Env& env, LiveStateObject* s);
// The zoom rectangle between two viewport points, or hidden.
void show_band(const lark::Env& env, LiveStateObject* s, double x0, double y0, double x1, double y1);
void hide_band(LiveStateObject* s);

// The plot area of the member's chart, in chart (and viewport) pixels.
struct PlotArea {
    double left = 0.0, top = 0.0, width = 0.0, height = 0.0;
    double right() const noexcept { return left + width; }
    double bottom() const noexcept { return top + height; }
    bool contains(double x, double y) const noexcept {
        return x >= left && x <= right() && y >= top && y <= bottom();
    }
};
PlotArea plot_area_of(LiveStateObject* s);

}  // namespace streaming
