"""What introspection reports about the modules, their functions and the buffer class."""
import copy
import inspect
import pickle
import re
import types
import weakref

import pytest
from PySide6.QtCore import QObject, Qt

import larkui.finders as finders
import larkui.plotdeck as plotdeck

find = finders.find_child_safe
build = plotdeck.build_sample_value_chart
TSB = plotdeck.TimeSeriesBuffer

BUILD_DOC = ("\n    在 ui_root 底下找到 objectName=host_name 的 QWidget，放入一張\n"
             "    『SampleValueChart（X=sample, Y=value）』。\n"
             "\n"
             "    回傳: (chart, axX, axY)\n    ")
BUFFER_DOC = ('\n    Encapsulates buffering logic for both "Scrolling Time Series" (Append) \n'
              '    and "Frame Snapshot" (Replace).\n    ')


def landed(func):
    return func.__doc__ is not None


def buffer_landed():
    return bool(TSB.__doc__)


needs_buffer = pytest.mark.skipif(not buffer_landed(), reason="TimeSeriesBuffer members not built yet")

P = inspect.Parameter
POK, KWO = P.POSITIONAL_OR_KEYWORD, P.KEYWORD_ONLY


def params(sig):
    return [(p.name, p.kind, p.default, p.annotation) for p in sig.parameters.values()]


def test_find_child_safe_attributes():
    assert find.__name__ == find.__qualname__ == "find_child_safe"
    assert find.__module__ == "larkui.finders"
    assert find.__defaults__ is None and find.__kwdefaults__ is None
    assert list(find.__annotations__.items()) == [
        ("parent", "QObject"), ("widget_type", "Type[T]"), ("name", "str"), ("return", "T")]
    assert isinstance(find.__doc__, str) and "Type Hinting" in find.__doc__
    sig = inspect.signature(find)
    assert params(sig) == [("parent", POK, P.empty, "QObject"), ("widget_type", POK, P.empty, "Type[T]"),
                           ("name", POK, P.empty, "str")]
    assert sig.return_annotation == "T"


def test_build_sample_value_chart_attributes():
    assert build.__name__ == build.__qualname__ == "build_sample_value_chart"
    assert build.__module__ == "larkui.plotdeck"
    assert build.__doc__ == BUILD_DOC
    assert build.__defaults__ is None
    assert list(build.__kwdefaults__.items()) == [
        ("y_title", "Value"), ("x_title", "Sample"), ("show_legend", True), ("antialias", False),
        ("minimal_viewport", True), ("return_view", False)]
    assert list(build.__annotations__.items()) == [
        ("ui_root", "QWidget"), ("host_name", "str"), ("y_title", "str"), ("x_title", "str"),
        ("show_legend", "bool"), ("antialias", "bool"), ("minimal_viewport", "bool"), ("return_view", "bool"),
        ("return", "tuple")]
    sig = inspect.signature(build)
    assert params(sig) == [
        ("ui_root", POK, P.empty, "QWidget"), ("host_name", POK, P.empty, "str"),
        ("y_title", KWO, "Value", "str"), ("x_title", KWO, "Sample", "str"),
        ("show_legend", KWO, True, "bool"), ("antialias", KWO, False, "bool"),
        ("minimal_viewport", KWO, True, "bool"), ("return_view", KWO, False, "bool")]
    assert sig.return_annotation == "tuple"
    assert str(sig).startswith("(ui_root: 'QWidget', host_name: 'str', *, y_title: 'str' = 'Value'")


@pytest.mark.parametrize("func", [find, build], ids=["find", "build"])
def test_behaves_like_a_python_function(func):
    assert re.fullmatch(rf"<function {func.__qualname__} at 0x[0-9a-f]+>", repr(func))
    for proto in range(4, pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(func, proto)) is func
    assert copy.copy(func) is func and copy.deepcopy(func) is func
    assert weakref.ref(func)() is func
    assert type(func.__dict__) is dict
    func.extra = 1
    try:
        assert func.__dict__ == {"extra": 1}
    finally:
        del func.extra
    assert func.__dict__ == {}
    # the annotations are the function's own dictionary, never evaluated
    assert func.__annotations__ is func.__annotations__


def test_binds_like_a_function_in_a_class():
    class Window:
        lookup = find

        def findChild(self, widget_type, name):
            return widget_type()

    assert Window.lookup is find
    window = Window()
    bound = window.lookup
    assert isinstance(bound, types.MethodType)
    assert bound.__self__ is window and bound.__func__ is find
    assert type(bound(dict, "n")) is dict
    assert list(inspect.signature(bound).parameters) == ["widget_type", "name"]


def test_finders_namespace():
    names = [n for n in vars(finders) if not n.startswith("__")]
    assert names == ["TypeVar", "Type", "QObject", "T", "find_child_safe"]
    import typing

    assert finders.TypeVar is typing.TypeVar and finders.Type is typing.Type
    assert finders.QObject is QObject
    assert finders.T.__name__ == "T" and finders.T.__bound__ is QObject


def test_plotdeck_namespace():
    assert plotdeck.__doc__ is None
    names = [n for n in vars(plotdeck) if not n.startswith("__")]
    assert names == [
        "Qt", "QPointF", "QPainter", "QPen", "QColor", "QWidget", "QVBoxLayout", "QGraphicsView", "QScrollArea",
        "QGridLayout", "QLayout", "QSizePolicy", "QTabWidget", "QChart", "QChartView", "QValueAxis",
        "QScatterSeries", "QLineSeries", "Sequence", "math", "np", "build_sample_value_chart", "make_scatter",
        "make_line", "add_line_to_chart", "wrap_hosts_in_scroll", "wrap_dynamic_charts_into_tabs",
        "TimeSeriesBuffer", "sync_scrolling_chart", "sync_snapshot_chart"]
    import math
    import typing

    import numpy
    from PySide6 import QtCharts, QtWidgets

    assert plotdeck.Qt is Qt and plotdeck.math is math and plotdeck.np is numpy
    assert plotdeck.Sequence is typing.Sequence
    assert plotdeck.QLayout is QtWidgets.QLayout and plotdeck.QLineSeries is QtCharts.QLineSeries
    functions = [build, plotdeck.make_scatter, plotdeck.make_line, plotdeck.add_line_to_chart,
                 plotdeck.wrap_hosts_in_scroll, plotdeck.wrap_dynamic_charts_into_tabs,
                 plotdeck.sync_scrolling_chart, plotdeck.sync_snapshot_chart]
    assert {type(f) for f in functions} == {type(build)}
    assert all(f.__module__ == "larkui.plotdeck" for f in functions)


def test_buffer_class_shape():
    assert type(TSB) is type and TSB.__bases__ == (object,)
    assert TSB.__module__ == "larkui.plotdeck" and TSB.__qualname__ == TSB.__name__ == "TimeSeriesBuffer"
    members = [n for n in vars(TSB) if not n.startswith("__") or n == "__init__"]
    assert members == ["__init__", "add_point", "set_data", "flush", "clear", "is_visible"]
    prop = vars(TSB)["is_visible"]
    assert type(prop) is property and prop.fset is None and prop.fdel is None
    assert type(prop.fget) is type(build)
    for name in ["__init__", "add_point", "set_data", "flush", "clear"]:
        member = vars(TSB)[name]
        assert type(member) is type(build)
        assert getattr(TSB, name) is member
        assert member.__qualname__ == f"TimeSeriesBuffer.{name}" and member.__name__ == name
    assert prop.fget.__qualname__ == "TimeSeriesBuffer.is_visible"


@needs_buffer
def test_buffer_class_documentation():
    assert TSB.__doc__ == BUFFER_DOC
    docs = {
        "__init__": None,
        "add_point": "Producer: Append a single point (Scrolling mode)",
        "set_data": "Producer: Replace entire series with new data (Snapshot mode)",
        "flush": "Consumer: Writes buffer to Series. Returns True if updated.",
        "clear": "Clear all data",
    }
    for name, doc in docs.items():
        assert getattr(TSB, name).__doc__ == doc
    assert TSB.is_visible.fget.__doc__ is None


@needs_buffer
def test_buffer_signatures():
    assert params(inspect.signature(TSB)) == [("series", POK, P.empty, "QLineSeries"),
                                              ("max_history", POK, 10000, "int")]
    expected = {
        "__init__": ([("self", POK, P.empty, P.empty), ("series", POK, P.empty, "QLineSeries"),
                      ("max_history", POK, 10000, "int")], P.empty),
        "add_point": ([("self", POK, P.empty, P.empty), ("x", POK, P.empty, "float"),
                       ("y", POK, P.empty, "float")], P.empty),
        "set_data": ([("self", POK, P.empty, P.empty), ("data", POK, P.empty, "np.ndarray"),
                      ("x_offset", POK, 0.0, "float")], P.empty),
        "flush": ([("self", POK, P.empty, P.empty)], "bool"),
        "clear": ([("self", POK, P.empty, P.empty)], P.empty),
    }
    for name, (plist, ret) in expected.items():
        sig = inspect.signature(getattr(TSB, name))
        assert params(sig) == plist, name
        assert sig.return_annotation == ret, name
    assert TSB.clear.__annotations__ == {}
    assert TSB.flush.__annotations__ == {"return": "bool"}
    assert TSB.is_visible.fget.__annotations__ == {"return": "bool"}
    assert TSB.__init__.__defaults__ == (10000,) and TSB.set_data.__defaults__ == (0.0,)
    for name in ["flush", "clear", "add_point", "set_data"]:
        assert TSB.__dict__[name].__defaults__ in (None, (0.0,))


@needs_buffer
def test_buffer_members_on_an_instance():
    from PySide6.QtCharts import QLineSeries

    series = QLineSeries()
    buf = TSB(series)
    bound = buf.add_point
    assert isinstance(bound, types.MethodType) and bound.__func__ is TSB.add_point and bound.__self__ is buf
    assert params(inspect.signature(bound)) == [("x", POK, P.empty, "float"), ("y", POK, P.empty, "float")]
    assert params(inspect.signature(buf.set_data)) == [("data", POK, P.empty, "np.ndarray"),
                                                       ("x_offset", POK, 0.0, "float")]
    assert inspect.signature(buf.flush).return_annotation == "bool"
    assert buf.is_visible is series.isVisible()
    with pytest.raises(AttributeError):
        buf.is_visible = False


def test_defaults_built_once_and_shared():
    assert build.__kwdefaults__ is build.__kwdefaults__
    if buffer_landed():
        from PySide6.QtCharts import QLineSeries

        default = TSB.__init__.__defaults__[0]
        assert TSB(QLineSeries()).max_history is default
        assert TSB(QLineSeries()).max_history is default


@pytest.mark.skipif(not landed(plotdeck.make_line), reason="series factories not built yet")
def test_line_factory_defaults():
    assert plotdeck.make_scatter.__defaults__ is None and plotdeck.make_scatter.__kwdefaults__ is None
    for func in (plotdeck.make_line, plotdeck.add_line_to_chart):
        width, style = func.__defaults__
        assert type(width) is float and width == 2.0
        assert style == Qt.SolidLine
        assert func.__kwdefaults__ is None
    assert plotdeck.make_scatter.__annotations__["fill"] == "QColor | str"
    assert list(plotdeck.make_scatter.__annotations__)[-1] == "return"


@pytest.mark.skipif(not landed(plotdeck.wrap_hosts_in_scroll) or not landed(plotdeck.wrap_dynamic_charts_into_tabs),
                    reason="layout functions not built yet")
def test_layout_defaults_share_the_margin_tuple():
    scroll = plotdeck.wrap_hosts_in_scroll.__kwdefaults__
    tabs = plotdeck.wrap_dynamic_charts_into_tabs.__kwdefaults__
    assert list(scroll) == ["cols", "root_margins", "grid_margins", "grid_hgap", "grid_vgap", "min_cell_size",
                            "host_heights"]
    assert list(tabs) == ["cols", "root_margins", "min_cell_size"]
    assert scroll["root_margins"] == (6, 50, 6, 6) and scroll["root_margins"] is tabs["root_margins"]
    assert scroll["grid_margins"] == (6, 6, 6, 6) and scroll["min_cell_size"] == (800, 500)
    assert tabs["min_cell_size"] == (500, 350)


@pytest.mark.skipif(not landed(plotdeck.sync_scrolling_chart), reason="sync functions not built yet")
def test_sync_defaults():
    assert plotdeck.sync_scrolling_chart.__defaults__ == (None, 0.1, None, 1)
    assert plotdeck.sync_snapshot_chart.__defaults__ == (None, 0.1)
    assert list(inspect.signature(plotdeck.sync_scrolling_chart).parameters)[:4] == [
        "buffers", "axX", "axY", "window_size"]
