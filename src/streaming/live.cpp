// LiveView: the controller sync_stream_chart attaches to every chart it drives, its state, the
// group of linked charts, and the members a user calls.
#include "live.hpp"
#include "names.hpp"

#include <cmath>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

namespace streaming {

using namespace lark;

namespace {

const Name s_key{"_larkui_live"}, s_Signal{"Signal"}, s_init{"__init__"}, s_new{"__new__"},
    s_RubberBand{"RubberBand"}, s_NoRubberBand{"NoRubberBand"}, s_QGraphicsRectItem{"QGraphicsRectItem"},
    s_QGraphicsLineItem{"QGraphicsLineItem"}, s_QGraphicsSimpleTextItem{"QGraphicsSimpleTextItem"},
    s_QGraphicsItem{"QGraphicsItem"}, s_GraphicsItemFlag{"GraphicsItemFlag"},
    s_ItemClipsChildrenToShape{"ItemClipsChildrenToShape"}, s_PenStyle{"PenStyle"}, s_NoPen{"NoPen"},
    s_DashLine{"DashLine"}, s_MouseButton{"MouseButton"}, s_NoButton{"NoButton"}, s_delete{"delete"},
    s_scene{"scene"}, s_views{"views"}, s_viewport{"viewport"}, s_setRubberBand{"setRubberBand"},
    s_installEventFilter{"installEventFilter"}, s_removeEventFilter{"removeEventFilter"},
    s_plotAreaChanged{"plotAreaChanged"}, s_disconnect{"disconnect"}, s_deleteLater{"deleteLater"}, s_emit{"emit"},
    s_paused{"paused"}, s_resumed{"resumed"}, s_viewRangeChanged{"viewRangeChanged"}, s_module{"__module__"},
    s_qualname{"__qualname__"}, s_doc{"__doc__"}, s_plot_area_changed{"_plot_area_changed"},
    s_destroyed_member{"_destroyed"}, s_chart_destroyed{"_chart_destroyed"};
const Name s_allWidgets{"allWidgets"}, s_QApplication{"QApplication"};

// The paused marker of a graph: a Qt Quick item on the graph, in its plot's top-right corner,
// following the plot area by binding (the graph lays it out; nothing is asked at a tick).
constexpr char graph_marker_qml[] = R"QML(import QtQuick

Rectangle {
    objectName: "larkui_paused_marker"
    property string text: "paused"
    visible: false
    z: 20
    color: "#c8ffffff"
    x: parent ? parent.plotArea.x + parent.plotArea.width - width - 4 : 0
    y: parent ? parent.plotArea.y + 4 : 0
    width: label.implicitWidth + 8
    height: label.implicitHeight + 4
    Text {
        id: label
        x: 4
        y: 2
        text: parent.text
        color: "#696969"
    }
}
)QML";

// ---- the state object

// Every object reference of the state, for the collector and for detaching.
template <class Visit>
void each_reference(LiveStateObject* s, Visit&& visit) {
    for (PyObject** field : {&s->owner, &s->view, &s->viewport, &s->chart, &s->scene, &s->buffers, &s->axX,
                             &s->axY, &s->linked, &s->clip, &s->line, &s->box, &s->xlabel, &s->labels,
                             &s->marker_box, &s->marker_text, &s->band, &s->readout, &s->plot_slot,
                             &s->chart_slot})
        visit(field);
}

int state_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    int rc = 0;
    each_reference(as_live(self), [&](PyObject** field) {
        if (!rc && *field) rc = visit(*field, arg);
    });
    return rc;
}

int state_clear(PyObject* self) {
    each_reference(as_live(self), [](PyObject** field) { Py_CLEAR(*field); });
    return 0;
}

void state_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    state_clear(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot state_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(state_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(state_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(state_clear)},
    {Py_tp_doc, const_cast<char*>("The state of a LiveView (internal).")},
    {0, nullptr},
};

PyType_Spec state_spec = {
    "larkui.streaming._LiveState",
    sizeof(LiveStateObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    state_slots,
};

Ref new_state(const Env& env) {
    auto* type = reinterpret_cast<PyTypeObject*>(state_of(env).LiveState.get());
    if (!type) raise_format(PyExc_RuntimeError, "the LiveView classes were not made at import");
    Ref made = Ref::steal(PyType_GenericAlloc(type, 0));  // every field zero
    LiveStateObject* s = as_live(made.get());
    s->margin_ratio = 0.1;
    s->view_lo = s->view_hi = s->pause_lo = s->pause_hi = s->pause_x = NAN;
    s->readout = Py_NewRef(Py_None);
    return made;
}

// ---- small helpers

bool is_valid(const Env& env, PyObject* o) {
    if (!o) return false;
    PyObject* check_valid = state_of(env).is_valid.get();
    return check_valid && truth(call(check_valid, o).get());
}

// The state kept in an object's instance dictionary, checked for its type; null when there is none.
LiveStateObject* kept_state(const Env& env, PyObject* o) {
    if (Py_TYPE(o)->tp_dictoffset == 0) return nullptr;
    Ref dict = Ref::steal(PyObject_GenericGetDict(o, nullptr));
    PyObject* found = PyDict_GetItemWithError(dict.get(), s_key.get());
    if (!found) {
        if (PyErr_Occurred()) throw_error();
        return nullptr;
    }
    return Py_IS_TYPE(found, reinterpret_cast<PyTypeObject*>(state_of(env).LiveState.get())) ? as_live(found) : nullptr;
}

void keep_state(PyObject* o, PyObject* state) {
    Ref dict = Ref::steal(PyObject_GenericGetDict(o, nullptr));
    check(PyDict_SetItem(dict.get(), s_key.get(), state));
}

[[noreturn]] LARK_COLD void not_attached() {
    raise_format(PyExc_RuntimeError, "this LiveView is no longer attached to a chart");
}

void emit(LiveStateObject* s, const Name& signal) {
    if (!s->attached || !s->owner) return;
    call_method(getattr(s->owner, signal), s_emit);
}

void emit_range(LiveStateObject* s, double lo, double hi) {
    if (!s->attached || !s->owner) return;
    call_method(getattr(s->owner, s_viewRangeChanged), s_emit, lo, hi);
}

// Takes the state out of its group; it stays in a group of its own.
void leave_group(LiveStateObject* s) {
    if (!s->linked) return;
    Ref linked = Ref::borrow(s->linked);
    for (Py_ssize_t i = PyList_GET_SIZE(linked.get()) - 1; i >= 0; --i)
        if (PyList_GET_ITEM(linked.get(), i) == reinterpret_cast<PyObject*>(s))
            check(PySequence_DelItem(linked.get(), i));
    Ref alone = Ref::steal(PyList_New(1));
    PyList_SET_ITEM(alone.get(), 0, Py_NewRef(reinterpret_cast<PyObject*>(s)));
    Py_XSETREF(s->linked, alone.release());
}

}  // namespace

void detach(const Env& env, LiveStateObject* s) noexcept {
    if (!s->attached && !s->owner) return;
    Ref keep = Ref::borrow(reinterpret_cast<PyObject*>(s));
    s->attached = false;
    s->paused = false;
    ++s->epoch;
    const bool done = guarded_slot([&] {
        leave_group(s);
        if (s->chart && s->plot_slot && is_valid(env, s->chart)) {
            call_method(getattr(s->chart, s_plotAreaChanged), s_disconnect, s->plot_slot);
            call_method(getattr(s->chart, s_destroyed), s_disconnect, s->chart_slot);
        } else if (s->graphs && s->chart && s->chart_slot && is_valid(env, s->chart)) {
            call_method(getattr(s->chart, s_destroyed), s_disconnect, s->chart_slot);
        }
        if (s->clip && is_valid(env, s->clip)) call(state_of(env).shiboken_delete, s->clip);
        // A graph's marker is no child of an overlay: it goes by itself.
        if (s->graphs && s->marker_box && is_valid(env, s->marker_box))
            call(state_of(env).shiboken_delete, s->marker_box);
        if (s->owner && is_valid(env, s->owner)) call_method(s->owner, s_deleteLater);
    });
    if (!done) PyErr_WriteUnraisable(s->owner ? s->owner : Py_None);
    Ref owner = Ref::steal_nullable(std::exchange(s->owner, nullptr));
    for (PyObject** field : {&s->view, &s->viewport, &s->chart, &s->scene, &s->buffers, &s->axX, &s->axY, &s->clip,
                             &s->line, &s->box, &s->xlabel, &s->labels, &s->marker_box, &s->marker_text, &s->band,
                             &s->plot_slot, &s->chart_slot})
        Py_CLEAR(*field);
    Py_XSETREF(s->readout, Py_NewRef(Py_None));
    s->hovered = false;
    s->drag = Drag::none;
}

namespace {

// The QChartView of the scene that shows `chart`, or an empty Ref.
Ref view_of(const Env& env, PyObject* chart, Ref& scene_out) {
    Ref scene = call_method(chart, s_scene);
    if (scene.is_none()) return {};
    Ref views = Ref::steal(PySequence_Fast(call_method(scene, s_views).get(), "views() gave no sequence"));
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(views.get()); ++i) {
        PyObject* v = PySequence_Fast_ITEMS(views.get())[i];
        if (is_instance(v, state_of(env).QChartView.get()) && call_method(v, s_chart).get() == chart) {
            scene_out = std::move(scene);
            return Ref::borrow(v);
        }
    }
    return {};
}

// A LiveView among the view's children that still inspects `chart` (its cache on the chart was
// taken away), or null.
LiveStateObject* child_state(const Env& env, PyObject* view, PyObject* chart) {
    Ref children = Ref::steal(PySequence_Fast(call_method(view, s_children).get(), "children() gave no sequence"));
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(children.get()); ++i) {
        PyObject* child = PySequence_Fast_ITEMS(children.get())[i];
        if (!Py_IS_TYPE(child, reinterpret_cast<PyTypeObject*>(state_of(env).LiveView.get()))) continue;
        LiveStateObject* s = kept_state(env, child);
        if (s && s->attached && s->chart == chart) return s;
    }
    return nullptr;
}

// A new LiveView for the chart shown in `view`.
LiveStateObject* attach(const Env& env, PyObject* chart, PyObject* view, PyObject* scene) {
    const State& st = state_of(env);
    Ref made = new_state(env);
    LiveStateObject* s = as_live(made.get());
    PyObject* cls = st.LiveView.get();
    // Made as a subclass's __init__ would make it, past the __init__ that refuses the user.
    Ref owner = call(getattr(cls, s_new), cls);
    call(st.QObject_init, owner, view);
    s->owner = Ref(owner).release();
    s->view = Py_NewRef(view);
    s->chart = Py_NewRef(chart);
    s->scene = Py_NewRef(scene);
    s->attached = true;
    Ref alone = Ref::steal(PyList_New(1));
    PyList_SET_ITEM(alone.get(), 0, Py_NewRef(made.get()));
    s->linked = alone.release();
    try {
        keep_state(owner.get(), made.get());
        s->viewport = call_method(view, s_viewport).release();
        // Qt's rubber band would take the left button, and a right click would zoom out.
        call_method(view, s_setRubberBand, st.NoRubberBand);
        make_overlay(env, s);
        s->plot_slot = call(st.partial, st.on_plot_area, owner).release();
        s->chart_slot = call(st.partial, st.on_chart_destroyed, owner).release();
        call_method(getattr(chart, s_plotAreaChanged), s_connect, s->plot_slot);
        call_method(getattr(chart, s_destroyed), s_connect, s->chart_slot);
        call_method(getattr(owner.get(), s_destroyed), s_connect, call(st.partial, st.on_destroyed, owner));
        call_method(s->viewport, s_installEventFilter, owner);
        call_method(view, s_installEventFilter, owner);
        keep_state(chart, made.get());
    } catch (const PyErrOccurred&) {
        Ref error = take_error();
        detach(env, s);
        restore_error(std::move(error));
        throw;
    }
    return s;
}

// An attribute of a module someone imported, or an empty Ref: streaming imports no Qt Quick
// module itself, and a graph exists only once they are imported.
Ref loaded(const char* module, const Name& name) {
    Ref m = Ref::steal_nullable(PyImport_GetModule(Ref::steal(PyUnicode_FromString(module)).get()));
    if (!m) {
        if (PyErr_Occurred()) throw_error();
        return {};
    }
    return attribute_if_any(m.get(), name);
}

// The QQuickWidget whose root item is the graph, or an empty Ref (the item says nothing of it).
Ref widget_of_graph(PyObject* graph) {
    Ref widget_class = loaded("PySide6.QtQuickWidgets", s_QQuickWidget);
    Ref application = loaded("PySide6.QtWidgets", s_QApplication);
    if (!widget_class || !application) return {};
    Ref widgets = Ref::steal(PySequence_Fast(call_method(application, s_allWidgets).get(), "allWidgets() gave no sequence"));
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(widgets.get()); ++i) {
        PyObject* w = PySequence_Fast_ITEMS(widgets.get())[i];
        if (is_instance(w, widget_class.get()) && call_method(w, s_rootObject).get() == graph) return Ref::borrow(w);
    }
    return {};
}

// The paused marker on the graph, made from its QML text in the widget's engine.
void make_graph_marker(LiveStateObject* s) {
    Ref component_class = loaded("PySide6.QtQml", s_QQmlComponent);
    Ref url_class = loaded("PySide6.QtCore", s_QUrl);
    if (!component_class || !url_class || !s->view) return;  // no engine to make it in
    Ref component = call(component_class, call_method(s->view, s_engine), s->chart);
    Ref text = Ref::steal(PyBytes_FromStringAndSize(graph_marker_qml, sizeof graph_marker_qml - 1));
    call_method(component, s_setData, text, call(url_class));
    Ref marker = call_method(component, s_create);
    if (marker.is_none())
        raise_format(PyExc_RuntimeError, "the graph's paused marker could not be made: %U",
                     str_of(call_method(component, s_errorString).get()).get());
    call_method(marker, s_setParent, s->chart);
    call_method(marker, s_setParentItem, s->chart);
    s->marker_box = marker.release();
}

// A new LiveView for a graph: a child of the graph, filtering its widget's keys.
LiveStateObject* attach_graph(const Env& env, PyObject* graph) {
    const State& st = state_of(env);
    Ref made = new_state(env);
    LiveStateObject* s = as_live(made.get());
    PyObject* cls = st.LiveView.get();
    Ref owner = call(getattr(cls, s_new), cls);
    call(st.QObject_init, owner, graph);
    s->owner = Ref(owner).release();
    s->chart = Py_NewRef(graph);
    s->graphs = true;
    s->attached = true;
    Ref alone = Ref::steal(PyList_New(1));
    PyList_SET_ITEM(alone.get(), 0, Py_NewRef(made.get()));
    s->linked = alone.release();
    try {
        keep_state(owner.get(), made.get());
        Ref widget = widget_of_graph(graph);
        if (widget) s->view = widget.release();
        s->chart_slot = call(st.partial, st.on_chart_destroyed, owner).release();
        call_method(getattr(graph, s_destroyed), s_connect, s->chart_slot);
        call_method(getattr(owner.get(), s_destroyed), s_connect, call(st.partial, st.on_destroyed, owner));
        if (s->view) call_method(s->view, s_installEventFilter, owner);
        make_graph_marker(s);
        keep_state(graph, made.get());
    } catch (const PyErrOccurred&) {
        Ref error = take_error();
        detach(env, s);
        restore_error(std::move(error));
        throw;
    }
    return s;
}

}  // namespace

bool is_graph_view(PyObject* o) {
    Ref method = attribute_if_any(o, s_metaObject);
    if (!method) return false;
    Ref name = call_method(call(method), s_className);
    return PyUnicode_Check(name.get()) && PyUnicode_CompareWithASCIIString(name.get(), "QGraphsView") == 0;
}

LiveStateObject* live_state_of_graph(const Env& env, PyObject* graph, bool make) {
    if (!state_of(env).LiveState) return nullptr;
    LiveStateObject* s = kept_state(env, graph);
    if (s && s->attached && s->chart == graph) return s;
    if (!make) return nullptr;
    if (LiveStateObject* found = child_state(env, graph, graph)) {
        keep_state(graph, reinterpret_cast<PyObject*>(found));
        return found;
    }
    return attach_graph(env, graph);
}

// ---- what the module body makes

void keep_live_objects(Module& m, State& state) {
    state.LiveState = Ref::steal(PyType_FromSpec(&state_spec));
    Ref core = m.import_module("PySide6.QtCore");
    Ref widgets = m.import_module("PySide6.QtWidgets");
    Ref gui = m.import_module("PySide6.QtGui");
    Ref charts = m.import_module("PySide6.QtCharts");
    state.QChart = getattr(charts.get(), s_QChart);
    state.QChartView = getattr(charts.get(), s_QChartView);
    state.NoRubberBand = getattr(getattr(state.QChartView.get(), s_RubberBand).get(), s_NoRubberBand);
    state.QGraphicsRectItem = getattr(widgets.get(), s_QGraphicsRectItem);
    state.QGraphicsLineItem = getattr(widgets.get(), s_QGraphicsLineItem);
    state.QGraphicsSimpleTextItem = getattr(widgets.get(), s_QGraphicsSimpleTextItem);
    state.ClipsChildren = getattr(getattr(getattr(widgets.get(), s_QGraphicsItem).get(), s_GraphicsItemFlag).get(),
                                  s_ItemClipsChildrenToShape);
    state.QPen = getattr(gui.get(), s_QPen);
    state.QColor = getattr(gui.get(), s_QColor);
    Ref qt = getattr(core.get(), s_Qt);
    state.NoPen = getattr(getattr(qt.get(), s_PenStyle).get(), s_NoPen);
    state.DashLine = getattr(getattr(qt.get(), s_PenStyle).get(), s_DashLine);
    state.NoButton = getattr(getattr(qt.get(), s_MouseButton).get(), s_NoButton);
    state.partial = getattr(m.import_module("functools").get(), s_partial);
    Ref shiboken = m.import_module("shiboken6");
    state.is_valid = getattr(shiboken.get(), s_isValid);
    state.shiboken_delete = getattr(shiboken.get(), s_delete);
}

// type(QObject)("LiveView", (QObject,), namespace): the namespace holds every member and the
// signals from the start, since PySide6 registers signals, and finds overrides, as a class is made.
Ref live_view_type(Module& m, State& state, Module::Members members) {
    Ref core = m.import_module("PySide6.QtCore");
    Ref qobject = getattr(core.get(), s_QObject);
    Ref signal = getattr(core.get(), s_Signal);
    Ref ns = Ref::steal(PyDict_New());
    check(PyDict_SetItem(ns.get(), s_module.get(), Ref::steal(PyUnicode_FromString(m.full_name())).get()));
    check(PyDict_SetItem(ns.get(), s_qualname.get(), Ref::steal(PyUnicode_FromString("LiveView")).get()));
    check(PyDict_SetItem(ns.get(), s_doc.get(), Ref::steal(PyUnicode_FromString(LiveView_doc)).get()));
    for (const auto& [name, value] : members) {
        check(PyDict_SetItemString(ns.get(), name, value.get()));
        // The slots are connected through functools.partial: a bound method of this function type
        // is no Python function, which PySide6's connect cannot take.
        const std::string_view n(name);
        if (n == "_plot_area_changed") state.on_plot_area = value;
        else if (n == "_destroyed") state.on_destroyed = value;
        else if (n == "_chart_destroyed") state.on_chart_destroyed = value;
    }
    PyObject* float_type = reinterpret_cast<PyObject*>(&PyFloat_Type);
    check(PyDict_SetItem(ns.get(), s_paused.get(), call(signal).get()));
    check(PyDict_SetItem(ns.get(), s_resumed.get(), call(signal).get()));
    check(PyDict_SetItem(ns.get(), s_viewRangeChanged.get(), call(signal, float_type, float_type).get()));
    Ref bases = Ref::steal(PyTuple_Pack(1, qobject.get()));
    Ref metaclass = Ref::borrow(reinterpret_cast<PyObject*>(Py_TYPE(qobject.get())));
    Ref cls = call(metaclass, Ref::steal(PyUnicode_FromString("LiveView")), bases, ns);
    state.QObject_init = own_class_entry(qobject.get(), s_init);
    if (!state.QObject_init) raise_format(PyExc_RuntimeError, "QObject has no __init__ of its own");
    return cls;
}

// ---- what sync_stream_chart and the members use

LiveStateObject* live_state_of_chart(const Env& env, PyObject* chart, bool make) {
    if (!state_of(env).LiveState || !is_instance(chart, state_of(env).QChart.get())) return nullptr;
    LiveStateObject* s = kept_state(env, chart);
    if (s && s->attached && s->chart == chart) {
        // A chart another view took (setChart) has left the scene it was attached in.
        if (call_method(chart, s_scene).get() == s->scene) return s;
        detach(env, s);
    }
    if (!make) return nullptr;
    Ref scene;
    Ref view = view_of(env, chart, scene);
    if (!view) return nullptr;
    if (LiveStateObject* found = child_state(env, view.get(), chart)) {
        keep_state(chart, reinterpret_cast<PyObject*>(found));
        return found;
    }
    return attach(env, chart, view.get(), scene.get());
}

void note_sync(LiveStateObject* s, PyObject* buffers, PyObject* axX, PyObject* axY, double window, bool fixed,
               double fixed_lo, double fixed_hi, double margin_ratio) {
    if (s->buffers != buffers) Py_XSETREF(s->buffers, Py_NewRef(buffers));
    if (s->axX != axX) Py_XSETREF(s->axX, Py_NewRef(axX));
    if (s->axY != axY) Py_XSETREF(s->axY, Py_NewRef(axY));
    s->window = window;
    s->fixed = fixed;
    s->fixed_lo = fixed_lo;
    s->fixed_hi = fixed_hi;
    s->margin_ratio = margin_ratio;
    s->synced = true;
}

LiveStateObject* live_state_of_owner(const Env& env, PyObject* owner) noexcept {
    if (!state_of(env).LiveView || !PyObject_TypeCheck(owner, reinterpret_cast<PyTypeObject*>(state_of(env).LiveView.get())))
        return nullptr;
    LiveStateObject* s = nullptr;
    if (!guarded_slot([&] { s = kept_state(env, owner); })) PyErr_Clear();
    return s && s->owner == owner ? s : nullptr;
}

Ref members_of(LiveStateObject* s) {
    if (!s->linked) return Ref::steal(PyTuple_Pack(1, reinterpret_cast<PyObject*>(s)));
    return Ref::steal(PyList_AsTuple(s->linked));
}

bool current_x_range(LiveStateObject* s, double& lo, double& hi) {
    if (s->paused && std::isfinite(s->view_lo)) {
        lo = s->view_lo;
        hi = s->view_hi;
        return true;
    }
    if (!s->axX) return false;
    Ref axis = Ref::borrow(s->axX);
    lo = number_of(call_method(axis, s_min));
    hi = number_of(call_method(axis, s_max));
    return true;
}

namespace {

LiveStateObject* member(PyObject* members, Py_ssize_t i) noexcept { return as_live(PyTuple_GET_ITEM(members, i)); }

// The newest finite x of the member's buffers, NaN when they hold none.
double newest_x(const Env& env, LiveStateObject* s) {
    double newest = NAN;
    if (!s->buffers) return newest;
    Ref buffers = Ref::borrow(s->buffers);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(buffers.get()); ++i) {
        PyObject* o = PyTuple_GET_ITEM(buffers.get(), i);
        if (!PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(state_of(env).StreamBuffer.get()))) continue;
        double oldest, last;
        if (held_x_extent(reinterpret_cast<StreamBufferObject*>(o)->ring, oldest, last))
            newest = std::isnan(newest) ? last : std::fmax(newest, last);
    }
    return newest;
}

// Writes the member's live window now, as sync_stream_chart does with the arguments of its last call.
void write_live(const Env& env, LiveStateObject* s) {
    if (!s->synced || !s->buffers || !s->axX || !s->axY) return;
    Ref buffers = Ref::borrow(s->buffers), axX = Ref::borrow(s->axX), axY = Ref::borrow(s->axY);
    sync_chart(env, buffers.get(), axX.get(), axY.get(), s->window, s->fixed, s->fixed_lo, s->fixed_hi,
               s->margin_ratio);
}

// Whether the member's x axis shows something else than [lo, hi].
bool axis_differs(LiveStateObject* s, double lo, double hi) {
    if (!s->axX) return true;
    Ref axis = Ref::borrow(s->axX);
    return number_of(call_method(axis, s_min)) != lo || number_of(call_method(axis, s_max)) != hi;
}

// The members' paused states, as Python sees them change: pausing the ones that are live.
// Returns which ones were paused now.
std::vector<bool> pause_members(const Env& env, PyObject* members, double lo, double hi) {
    const Py_ssize_t n = PyTuple_GET_SIZE(members);
    std::vector<bool> changed(static_cast<std::size_t>(n), false);
    for (Py_ssize_t i = 0; i < n; ++i) {
        LiveStateObject* m = member(members, i);
        ++m->epoch;
        if (!m->attached || m->paused) continue;
        m->paused = true;
        m->view_lo = m->pause_lo = lo;
        m->view_hi = m->pause_hi = hi;
        m->pause_x = newest_x(env, m);
        m->y_zoomed = false;
        changed[static_cast<std::size_t>(i)] = true;
    }
    return changed;
}

}  // namespace

void pause_group(const Env& env, LiveStateObject* s) {
    if (!s->attached) not_attached();
    if (s->paused) return;
    double lo = NAN, hi = NAN;
    current_x_range(s, lo, hi);
    Ref members = members_of(s);
    const std::vector<bool> changed = pause_members(env, members.get(), lo, hi);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(members.get()); ++i) {
        LiveStateObject* m = member(members.get(), i);
        if (!changed[static_cast<std::size_t>(i)] || !m->attached || !m->paused) continue;
        show_marker(env, m, true);
        // A linked chart's own live window may differ: it is shown at the group's range.
        if (m != s && std::isfinite(lo) && axis_differs(m, lo, hi)) write_view(env, m);
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(members.get()); ++i)
        if (changed[static_cast<std::size_t>(i)]) emit(member(members.get(), i), s_paused);
}

void resume_group(const Env& env, LiveStateObject* s) {
    if (!s->attached) not_attached();
    if (!s->paused) return;
    Ref members = members_of(s);
    const Py_ssize_t n = PyTuple_GET_SIZE(members.get());
    std::vector<bool> changed(static_cast<std::size_t>(n), false);
    for (Py_ssize_t i = 0; i < n; ++i) {
        LiveStateObject* m = member(members.get(), i);
        ++m->epoch;
        if (!m->attached || !m->paused) continue;
        m->paused = false;
        m->y_zoomed = false;
        m->drag = Drag::none;
        changed[static_cast<std::size_t>(i)] = true;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        LiveStateObject* m = member(members.get(), i);
        if (!changed[static_cast<std::size_t>(i)] || !m->attached || m->paused) continue;
        show_marker(env, m, false);
        hide_band(m);
        write_live(env, m);
    }
    for (Py_ssize_t i = 0; i < n; ++i)
        if (changed[static_cast<std::size_t>(i)]) emit(member(members.get(), i), s_resumed);
}

void set_group_range(const Env& env, LiveStateObject* s, double lo, double hi, bool y_follow) {
    if (!s->attached) not_attached();
    make_usable(lo, hi);
    Ref members = members_of(s);
    const Py_ssize_t n = PyTuple_GET_SIZE(members.get());
    // A live group is paused first, at the range it is to show: nothing is written twice.
    const std::vector<bool> paused_now =
        s->paused ? std::vector<bool>(static_cast<std::size_t>(n), false) : pause_members(env, members.get(), lo, hi);
    std::vector<bool> moved(static_cast<std::size_t>(n), false);
    for (Py_ssize_t i = 0; i < n; ++i) {
        LiveStateObject* m = member(members.get(), i);
        if (!m->attached || !m->paused) continue;
        const bool was_paused = !paused_now[static_cast<std::size_t>(i)];
        moved[static_cast<std::size_t>(i)] = was_paused && (m->view_lo != lo || m->view_hi != hi || (y_follow && m->y_zoomed));
        if (y_follow) m->y_zoomed = false;
        m->view_lo = lo;
        m->view_hi = hi;
        ++m->epoch;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        LiveStateObject* m = member(members.get(), i);
        if (!m->attached || !m->paused) continue;
        if (paused_now[static_cast<std::size_t>(i)]) show_marker(env, m, true);
        if (paused_now[static_cast<std::size_t>(i)] || moved[static_cast<std::size_t>(i)]) write_view(env, m);
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        LiveStateObject* m = member(members.get(), i);
        if (paused_now[static_cast<std::size_t>(i)]) emit(m, s_paused);
        if (paused_now[static_cast<std::size_t>(i)] || moved[static_cast<std::size_t>(i)]) emit_range(m, lo, hi);
    }
}

void show_all_group(const Env& env, LiveStateObject* s) {
    if (!s->attached) not_attached();
    Ref members = members_of(s);
    double lo = NAN, hi = NAN;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(members.get()); ++i) {
        LiveStateObject* m = member(members.get(), i);
        if (!m->attached || !m->buffers) continue;
        Ref buffers = Ref::borrow(m->buffers);
        for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(buffers.get()); ++k) {
            PyObject* o = PyTuple_GET_ITEM(buffers.get(), k);
            if (!PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(state_of(env).StreamBuffer.get()))) continue;
            double oldest, newest;
            if (!held_x_extent(reinterpret_cast<StreamBufferObject*>(o)->ring, oldest, newest)) continue;
            lo = std::isnan(lo) ? oldest : std::fmin(lo, oldest);
            hi = std::isnan(hi) ? newest : std::fmax(hi, newest);
        }
    }
    if (std::isnan(lo)) {
        // Nothing stored: the chart pauses where it is.
        if (!s->paused) pause_group(env, s);
        return;
    }
    set_group_range(env, s, lo, hi, true);
}

// ---- the bodies

namespace {

LiveStateObject* attached_state(const Env& env, PyObject* self, const char* member) {
    check_self(self, state_of(env).LiveView.get(), "LiveView", member);
    LiveStateObject* s = live_state_of_owner(env, self);
    if (!s || !s->attached) not_attached();
    return s;
}

// The same, held for the length of a member's call: a slot it emits may let go of the LiveView.
Ref attached_state_kept(const Env& env, PyObject* self, const char* member) {
    return Ref::borrow(reinterpret_cast<PyObject*>(attached_state(env, self, member)));
}

// The state of a LiveView that may be detached (its properties still answer), or null.
LiveStateObject* any_state(const Env& env, PyObject* self, const char* member) {
    check_self(self, state_of(env).LiveView.get(), "LiveView", member);
    LiveStateObject* s = live_state_of_owner(env, self);
    return s && s->attached ? s : nullptr;
}

// The state of the LiveView of `obj`: a LiveView, a chart or a chart view.
LiveStateObject* state_for(const Env& env, PyObject* obj) {
    const State& st = state_of(env);
    if (PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(st.LiveView.get()))) {
        LiveStateObject* s = live_state_of_owner(env, obj);
        if (!s || !s->attached) not_attached();
        return s;
    }
    Ref chart;
    if (is_instance(obj, st.QChartView.get())) chart = call_method(obj, s_chart);
    else if (is_instance(obj, st.QChart.get())) chart = Ref::borrow(obj);
    else {
        // A Qt Graphs graph, or the QQuickWidget whose root item it is.
        Ref widget_class = loaded("PySide6.QtQuickWidgets", s_QQuickWidget);
        Ref graph = widget_class && is_instance(obj, widget_class.get()) ? call_method(obj, s_rootObject)
                                                                          : Ref::borrow(obj);
        if (!graph.is_none() && is_graph_view(graph.get())) return live_state_of_graph(env, graph.get(), true);
        // The message charts have always had; graphs are named in live_view's documentation.
        raise_format(PyExc_TypeError, "live_view takes a QChart, a QChartView or a LiveView (got %.200s)",
                     Py_TYPE(obj)->tp_name);
    }
    LiveStateObject* s = chart.is_none() ? nullptr : live_state_of_chart(env, chart.get(), true);
    if (!s) raise_format(PyExc_RuntimeError, "live_view needs a chart shown in a QChartView");
    return s;
}

Ref or_none(PyObject* o) { return o ? Ref::borrow(o) : Ref::none(); }

}  // namespace

Ref live_view(const Env& env, const args::live_view& a) { return Ref::borrow(state_for(env, a.chart)->owner); }

Ref live_view_init(const Env&, const args::live_view_init&) {
    raise_format(PyExc_TypeError, "LiveView objects are made by live_view(chart)");
}

Ref live_view_pause(const Env& env, const args::live_view_pause& a) {
    Ref keep = attached_state_kept(env, a.self, "pause");
    pause_group(env, as_live(keep.get()));
    return none();
}

Ref live_view_resume(const Env& env, const args::live_view_resume& a) {
    Ref keep = attached_state_kept(env, a.self, "resume");
    resume_group(env, as_live(keep.get()));
    return none();
}

Ref live_view_toggle(const Env& env, const args::live_view_toggle& a) {
    Ref keep = attached_state_kept(env, a.self, "toggle");
    LiveStateObject* s = as_live(keep.get());
    if (s->paused) resume_group(env, s);
    else pause_group(env, s);
    return Ref::of(s->paused);
}

Ref live_view_is_paused(const Env& env, const args::live_view_is_paused& a) {
    LiveStateObject* s = any_state(env, a.self, "is_paused");
    return Ref::of(s && s->paused);
}

Ref live_view_x_range(const Env& env, const args::live_view_x_range& a) {
    LiveStateObject* s = any_state(env, a.self, "x_range");
    if (!s) return none();
    Ref keep = Ref::borrow(reinterpret_cast<PyObject*>(s));
    double lo, hi;
    if (!current_x_range(s, lo, hi) || !std::isfinite(lo)) return none();
    return Ref::steal(Py_BuildValue("(dd)", lo, hi));
}

Ref live_view_set_x_range(const Env& env, const args::live_view_set_x_range& a) {
    Ref keep = attached_state_kept(env, a.self, "set_x_range");
    const double lo = a.lo.value, hi = a.hi.value;
    if (!(std::isfinite(lo) && std::isfinite(hi) && lo < hi))
        raise_format(PyExc_ValueError, "set_x_range takes two finite numbers, the first below the second (got %R, %R)",
                     a.lo.given, a.hi.given);
    set_group_range(env, as_live(keep.get()), lo, hi, false);
    return none();
}

Ref live_view_reset_view(const Env& env, const args::live_view_reset_view& a) {
    Ref keep = attached_state_kept(env, a.self, "reset_view");
    LiveStateObject* s = as_live(keep.get());
    if (s->paused && std::isfinite(s->pause_lo)) set_group_range(env, s, s->pause_lo, s->pause_hi, true);
    return none();
}

Ref live_view_show_all(const Env& env, const args::live_view_show_all& a) {
    Ref keep = attached_state_kept(env, a.self, "show_all");
    show_all_group(env, as_live(keep.get()));
    return none();
}

Ref live_view_link_x(const Env& env, const args::live_view_link_x& a) {
    Ref keep = attached_state_kept(env, a.self, "link_x");
    LiveStateObject* s = as_live(keep.get());
    if (a.other == Py_None) {
        leave_group(s);
        return none();
    }
    Ref other = Ref::borrow(reinterpret_cast<PyObject*>(state_for(env, a.other)));
    LiveStateObject* o = as_live(other.get());
    if (!s->attached) not_attached();
    if (o == s || (o->linked && o->linked == s->linked)) return none();
    leave_group(s);
    check(PyList_Append(o->linked, keep.get()));
    Py_XSETREF(s->linked, Py_NewRef(o->linked));
    // The chart takes the group's state: paused at its range, or live.
    if (o->paused && !s->paused && std::isfinite(o->view_lo)) {
        Ref alone = Ref::steal(PyTuple_Pack(1, keep.get()));
        pause_members(env, alone.get(), o->pause_lo, o->pause_hi);
        s->view_lo = o->view_lo;
        s->view_hi = o->view_hi;
        show_marker(env, s, true);
        write_view(env, s);
        emit(s, s_paused);
    } else if (o->paused && s->paused) {
        if (s->view_lo != o->view_lo || s->view_hi != o->view_hi) {
            s->view_lo = o->view_lo;
            s->view_hi = o->view_hi;
            s->pause_lo = o->pause_lo;
            s->pause_hi = o->pause_hi;
            ++s->epoch;
            write_view(env, s);
            emit_range(s, s->view_lo, s->view_hi);
        }
    } else if (!o->paused && s->paused) {
        s->paused = false;
        s->y_zoomed = false;
        ++s->epoch;
        show_marker(env, s, false);
        hide_band(s);
        write_live(env, s);
        emit(s, s_resumed);
    }
    return none();
}

Ref live_view_linked(const Env& env, const args::live_view_linked& a) {
    LiveStateObject* s = any_state(env, a.self, "linked");
    if (!s) return Ref::steal(PyTuple_New(0));
    Ref members = members_of(s);
    Ref out = Ref::steal(PyList_New(0));
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(members.get()); ++i) {
        LiveStateObject* m = member(members.get(), i);
        if (m->attached && m->owner) check(PyList_Append(out.get(), m->owner));
    }
    return Ref::steal(PyList_AsTuple(out.get()));
}

Ref live_view_readout(const Env& env, const args::live_view_readout& a) {
    LiveStateObject* s = any_state(env, a.self, "readout");
    return s ? Ref::borrow(s->readout) : none();
}

Ref live_view_chart(const Env& env, const args::live_view_chart& a) {
    LiveStateObject* s = any_state(env, a.self, "chart");
    return or_none(s ? s->chart : nullptr);
}

Ref live_view_view(const Env& env, const args::live_view_view& a) {
    LiveStateObject* s = any_state(env, a.self, "view");
    return or_none(s ? s->view : nullptr);
}

// The slots: PySide6 reports what a slot raises, but nothing of theirs should reach it.
Ref live_view_plot_area_changed(const Env& env, const args::live_view_plot_area_changed& a) {
    if (!guarded_slot([&] {
            LiveStateObject* s = live_state_of_owner(env, a.self);
            if (!s || !s->attached) return;
            Ref keep = Ref::borrow(reinterpret_cast<PyObject*>(s));
            place_marker(env, s);
            // A paused view follows a resized plot (a live one is written at every tick).
            if (s->paused && !s->writing) write_view(env, s);
            else if (s->hovered) refresh_readout(env, s);
        }))
        PyErr_WriteUnraisable(a.self);
    return none();
}

Ref live_view_destroyed(const Env& env, const args::live_view_destroyed& a) {
    LiveStateObject* s = live_state_of_owner(env, a.self);
    if (s) {
        Ref keep = Ref::borrow(reinterpret_cast<PyObject*>(s));
        // Its view is going: nothing of the Qt side may be called any more.
        s->attached = false;
        detach(env, s);
        if (Py_TYPE(a.self)->tp_dictoffset) {
            Ref dict = Ref::steal_nullable(PyObject_GenericGetDict(a.self, nullptr));
            if (!dict || PyDict_DelItem(dict.get(), s_key.get()) < 0) PyErr_Clear();
        }
    }
    return none();
}

Ref live_view_chart_destroyed(const Env& env, const args::live_view_chart_destroyed& a) {
    LiveStateObject* s = live_state_of_owner(env, a.self);
    if (s) {
        Ref keep = Ref::borrow(reinterpret_cast<PyObject*>(s));
        // The overlay (a graph's marker) goes with the chart; the LiveView is deleted later.
        Py_CLEAR(s->clip);
        if (s->graphs) {
            Py_CLEAR(s->marker_box);
            Py_CLEAR(s->chart_slot);  // a signal of a graph being deleted cannot be disconnected
        }
        Py_CLEAR(s->plot_slot);
        detach(env, s);
    }
    return none();
}

}  // namespace streaming
