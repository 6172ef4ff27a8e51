// larkui.graphs: Qt Graphs 2D graphs (a GraphsView in a QQuickWidget) in named host widgets.
#pragma once

#include "callables.gen.hpp"

namespace graphs {

// While it lives, Qt's messages go through the module's filter, which drops the few that Qt Quick
// prints once per process while it starts without a GPU context (they announce a fallback that
// works) and hands every other message on, unchanged, to the handler that was installed before.
// Nested uses keep to stack order.
class QuietStart {
public:
    explicit QuietStart(const lark::Env& env);
    QuietStart(const QuietStart&) = delete;
    QuietStart& operator=(const QuietStart&) = delete;
    ~QuietStart();

private:
    const State& state_;
    lark::Ref install_;         // qInstallMessageHandler, as looked up when the guard started
    lark::Ref outer_previous_;  // the handler an enclosing guard hands messages on to
};

// Once per process, before the first Qt Quick widget of a graph: Qt Quick's software renderer when
// there is no GPU context to draw with (see use_software_renderer's documentation).
void choose_renderer(const lark::Env& env);

}  // namespace graphs
