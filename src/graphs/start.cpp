// How Qt Quick starts for a graph: its renderer, chosen once per process, and the messages it
// prints while it falls back to software rendering.
#include "graphs.hpp"
#include "names.hpp"

#include <cstdio>
#include <cstdlib>

namespace graphs {

using namespace lark;

namespace {

const Name s_qInstallMessageHandler{"qInstallMessageHandler"}, s_qFormatLogMessage{"qFormatLogMessage"},
    s_QSGRendererInterface{"QSGRendererInterface"}, s_QOpenGLContext{"QOpenGLContext"};
const Name s_setGraphicsApi{"setGraphicsApi"}, s_GraphicsApi{"GraphicsApi"}, s_Software{"Software"},
    s_platformName{"platformName"}, s_at{"at"};
const Name s_offscreen{"offscreen"}, s_minimal{"minimal"};

// What Qt prints, once per process, while Qt Quick and Qt Graphs start without a GPU context:
// QGraphsTheme tries an OpenGL context for its gradients, a renderer asked for after Qt Quick has
// started is refused (use_software_renderer reports that itself), and the xcb platform reports
// the probe context that found no OpenGL (the minimal platform reports the theme's attempt).
const Name s_noise_rhi{"QRhiGles2: Failed to create"},
    s_noise_backend{"Scenegraph already initialized, setBackend() request ignored"},
    s_noise_xcb{"QXcbIntegration: Cannot create platform OpenGL context"},
    s_noise_minimal{"This plugin does not support createPlatformOpenGLContext"};

bool starts_with(PyObject* text, const Name& prefix) {
    const Py_ssize_t found = PyUnicode_Tailmatch(text, prefix.get(), 0, PY_SSIZE_T_MAX, -1);
    if (found < 0) throw_error();
    return found == 1;
}

bool is_noise(PyObject* message) {
    if (!PyUnicode_Check(message)) return false;
    return starts_with(message, s_noise_rhi) || starts_with(message, s_noise_backend) ||
           starts_with(message, s_noise_xcb) || starts_with(message, s_noise_minimal);
}

bool env_set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

Ref scene_graph_backend(const Env& env) { return call_method(env.global(s_QQuickWindow), s_sceneGraphBackend); }

bool is_text(PyObject* value, const Name& text) {
    return PyUnicode_Check(value) && PyUnicode_Compare(value, text.get()) == 0;
}

// QQuickWindow.setGraphicsApi(Software), and whether Qt Quick now uses (or will use) the software
// renderer: Qt ignores the request once a Qt Quick window has started its scene graph.
bool software_renderer_taken(const Env& env) {
    Ref api = getattr(getattr(env.global(s_QSGRendererInterface).get(), s_GraphicsApi).get(), s_Software);
    call_method(env.global(s_QQuickWindow), s_setGraphicsApi, api);
    return is_text(scene_graph_backend(env).get(), s_software);
}

}  // namespace

QuietStart::QuietStart(const Env& env) : state_(state_of(env)) {
    install_ = env.global(s_qInstallMessageHandler);
    outer_previous_ = state_.previous_handler;
    state_.previous_handler = call(install_, state_.message_filter);
}

QuietStart::~QuietStart() {
    // The handler goes back whatever happened; an error on the way out stays the one raised.
    Ref pending = take_error();
    PyObject* previous = state_.previous_handler ? state_.previous_handler.get() : Py_None;
    if (!Ref::steal_nullable(PyObject_CallOneArg(install_.get(), previous))) PyErr_WriteUnraisable(install_.get());
    state_.previous_handler = outer_previous_;
    restore_error(std::move(pending));
}

void choose_renderer(const Env& env) {
    const State& state = state_of(env);
    if (state.renderer_checked) return;
    // A renderer the application chose (by the environment or by QQuickWindow) stands.
    if (env_set("QT_QUICK_BACKEND") || env_set("QSG_RHI_BACKEND") || length(scene_graph_backend(env).get()) != 0) {
        state.renderer_checked = Ref::of(true);
        return;
    }
    // The offscreen and minimal platforms never give Qt Quick a GPU; elsewhere an OpenGL context
    // made and dropped here says whether one can draw (Qt Quick does not fall back by itself).
    Ref platform = call_method(env.global(s_QGuiApplication), s_platformName);
    bool gpu = false;
    if (!is_text(platform.get(), s_offscreen) && !is_text(platform.get(), s_minimal)) {
        Ref context = call(env.global(s_QOpenGLContext));
        gpu = truth(call_method(context, s_create).get());
    }
    state.renderer_checked = Ref::of(true);
    if (gpu || software_renderer_taken(env)) return;
    if (PyErr_WarnEx(PyExc_RuntimeWarning,
                     "Qt Quick started before larkui.graphs could choose its software renderer and there is no "
                     "GPU context to draw with: graphs may stay blank. Call larkui.graphs.use_software_renderer() "
                     "before the first Qt Quick widget or window is made.",
                     1) < 0)
        throw_error();
}

// use_software_renderer() -> bool
Ref use_software_renderer(const Env& env, const args::use_software_renderer&) {
    QuietStart quiet(env);
    const bool taken = software_renderer_taken(env);
    state_of(env).renderer_checked = Ref::of(true);  // the application has chosen
    return Ref::of(taken);
}

// _forward_qt_message(mode, context, message): the message handler while a QuietStart lives.
Ref forward_qt_message(const Env& env, const args::forward_qt_message& a) {
    if (is_noise(a.message)) return none();
    const Ref& previous = state_of(env).previous_handler;
    if (previous && !previous.is_none()) return call(previous, a.mode, a.context, a.message);
    // Qt's own handler was the one installed: write the message as it does.
    Ref text = str_of(call(env.global(s_qFormatLogMessage), a.mode, a.context, a.message).get());
    const char* utf8 = PyUnicode_AsUTF8(text.get());
    if (!utf8) throw_error();
    std::fprintf(stderr, "%s\n", utf8);
    std::fflush(stderr);
    return none();
}

// _release_theme(view, destroyed=None): a graph's theme is gone; the view must not draw with it.
Ref release_theme(const Env& env, const args::release_theme& a) {
    // During the view's own destruction its wrapper is already invalid: nothing to release.
    if (!truth(call(state_of(env).isValid, a.view).get())) return none();
    call_method(a.view, s_setProperty, s_theme, Py_None);
    return none();
}

// _drop_legend_entry(legend, destroyed=None): a series of the legend is gone. The legend's list
// already reads None for it (QML guards the objects of a list property); the others stay, in order.
Ref drop_legend_entry(const Env& env, const args::drop_legend_entry& a) {
    if (!truth(call(state_of(env).isValid, a.legend).get())) return none();
    Ref entries = call(env.global(s_QQmlListReference), a.legend, s_entries);
    const Py_ssize_t n = PyNumber_AsSsize_t(call_method(entries, s_count).get(), PyExc_OverflowError);
    if (n == -1 && PyErr_Occurred()) throw_error();
    Ref kept = Ref::steal(PyList_New(0));
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref entry = call_method(entries, s_at, static_cast<long long>(i));
        if (!entry.is_none()) check(PyList_Append(kept.get(), entry.get()));
    }
    if (PyList_GET_SIZE(kept.get()) == n) return none();
    call_method(entries, s_clear);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(kept.get()); ++i) call_method(entries, s_append, PyList_GET_ITEM(kept.get(), i));
    return none();
}

}  // namespace graphs
