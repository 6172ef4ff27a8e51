"""What introspection reports about the modules, their functions and the buffer class.

Every public callable has one row in SIGNATURES; the other test modules check behaviour only.
"""
import builtins
import copy
import inspect
import math
import pathlib
import pickle
import re
import types
import typing
import weakref

import numpy
import pytest
from PySide6 import QtCharts, QtWidgets
from PySide6.QtCharts import QLineSeries
from PySide6.QtCore import QObject, Qt

import larkui.choosers as choosers
import larkui.finders as finders
import larkui.graphs as graphs
import larkui.plotdeck as plotdeck
import larkui.streaming as streaming
from fernkit import filedesk
from support import run_python

find = finders.find_child_safe
build = plotdeck.build_sample_value_chart
TSB = plotdeck.TimeSeriesBuffer
SB = streaming.StreamBuffer
LV = streaming.LiveView

BUILD_DOC = ("\n    在 ui_root 底下找到 objectName=host_name 的 QWidget，放入一張\n"
             "    『SampleValueChart（X=sample, Y=value）』。\n"
             "\n"
             "    回傳: (chart, axX, axY)\n    ")
BUFFER_DOC = ('\n    Encapsulates buffering logic for both "Scrolling Time Series" (Append) \n'
              '    and "Frame Snapshot" (Replace).\n    ')
SCROLL_DOC = ("\n    將多個『圖表宿主 host』(objectName 在 host_names) 收編到一個 QScrollArea 裡。\n"
              "    - cols: 佈局幾欄（其餘自動往下一列排）\n"
              "    - root_margins: 整個 ScrollArea 與視窗周邊的邊距（可用來「往下移一些」）\n"
              "    - min_cell_size: 每格最小尺寸，視窗變小時就會出捲軸\n    ")
TABS_DOC = ('\n    layout_config範例: {"Chirp 1": ["w_c1_mag", "w_c1_a1"], "Chirp 2": [...]}\n'
            '    回傳: {"w_c1_mag": QWidget實體, ...} 方便後續 build_sample_value_chart 使用\n    ')
FOLDER_DOC = ("開資料夾選擇器。選到後：\n    - 如果給了 line_edit，就把文字寫回去\n"
              "    - 如果給了 last_dir_obj/attr，就更新最後使用的目錄\n    - 回傳字串或 Path（依 return_pathlib）\n    ")
FILE_DOC = FOLDER_DOC.replace("開資料夾選擇器", "開檔案選擇器")
COLLECT_DOC = "\n    讀取 line_edit 內的路徑，蒐集符合的檔案。\n    新增 sort_datecode 參數：控制是否依檔名時間排序。\n    "
SOLID = "<PenStyle.SolidLine: 1>"

# callable, qualified name, signature as inspect prints it, docstring, __defaults__, __kwdefaults__
SIGNATURES = {
    "find_child_safe": (
        find, "find_child_safe", "(parent: 'QObject', widget_type: 'Type[T]', name: 'str') -> 'T'",
        "\n    安全地尋找 UI 子元件：找不到時立即拋出明確的錯誤，\n    並支援編輯器的型別推斷 (Type Hinting)。\n    ",
        None, None),
    "build_sample_value_chart": (
        build, "build_sample_value_chart",
        "(ui_root: 'QWidget', host_name: 'str', *, y_title: 'str' = 'Value', x_title: 'str' = 'Sample', "
        "show_legend: 'bool' = True, antialias: 'bool' = False, minimal_viewport: 'bool' = True, "
        "return_view: 'bool' = False) -> 'tuple'", BUILD_DOC, None,
        {"y_title": "Value", "x_title": "Sample", "show_legend": True, "antialias": False, "minimal_viewport": True,
         "return_view": False}),
    "make_scatter": (
        plotdeck.make_scatter, "make_scatter",
        "(chart: 'QChart', name: 'str', size: 'float', fill: 'QColor | str', stroke: 'QColor | str', "
        "stroke_w: 'float') -> 'QScatterSeries'", "建立一條樣式一致的 QScatterSeries，並加入 chart。", None, None),
    "make_line": (
        plotdeck.make_line, "make_line",
        f"(chart: 'QChart', name: 'str', color: 'QColor | str', width: 'float' = 2.0, "
        f"style: 'Qt.PenStyle' = {SOLID}) -> 'QLineSeries'", "建立一條樣式一致的 QLineSeries，並加入 chart。",
        (2.0, Qt.SolidLine), None),
    "add_line_to_chart": (
        plotdeck.add_line_to_chart, "add_line_to_chart",
        f"(chart: 'QChart', axX: 'QValueAxis', axY: 'QValueAxis', name: 'str', color: 'QColor | str', "
        f"width: 'float' = 2.0, style: 'Qt.PenStyle' = {SOLID}) -> 'QLineSeries'",
        "建立 LineSeries、加入 Chart 並自動附加到指定的 X, Y 軸。", (2.0, Qt.SolidLine), None),
    "wrap_hosts_in_scroll": (
        plotdeck.wrap_hosts_in_scroll, "wrap_hosts_in_scroll",
        "(ui_root: 'QWidget', host_names: 'Sequence[str]', *, cols: 'int' = 2, "
        "root_margins: 'tuple[int, int, int, int]' = (6, 50, 6, 6), "
        "grid_margins: 'tuple[int, int, int, int]' = (6, 6, 6, 6), grid_hgap: 'int' = 6, grid_vgap: 'int' = 6, "
        "min_cell_size: 'tuple[int, int]' = (800, 500), host_heights: 'int | dict[str, int] | None' = None) "
        "-> 'QScrollArea | None'", SCROLL_DOC, None,
        {"cols": 2, "root_margins": (6, 50, 6, 6), "grid_margins": (6, 6, 6, 6), "grid_hgap": 6, "grid_vgap": 6,
         "min_cell_size": (800, 500), "host_heights": None}),
    "wrap_dynamic_charts_into_tabs": (
        plotdeck.wrap_dynamic_charts_into_tabs, "wrap_dynamic_charts_into_tabs",
        "(ui_root: 'QWidget', layout_config: 'dict[str, list[str]]', *, cols: 'int' = 2, "
        "root_margins: 'tuple[int, int, int, int]' = (6, 50, 6, 6), min_cell_size: 'tuple[int, int]' = (500, 350)) "
        "-> 'dict[str, QWidget]'", TABS_DOC, None,
        {"cols": 2, "root_margins": (6, 50, 6, 6), "min_cell_size": (500, 350)}),
    "sync_scrolling_chart": (
        plotdeck.sync_scrolling_chart, "sync_scrolling_chart",
        "(buffers: 'list[TimeSeriesBuffer]', axX: 'QValueAxis', axY: 'QValueAxis', window_size: 'int', "
        "fixed_y_range: 'tuple[float, float] | None' = None, margin_ratio: 'float' = 0.1, "
        "y_tick_cnt: 'int' = None, small_span_padding: 'int' = 1)",
        "\n    [修正版 V5] \n    加入 small_span_padding 參數，讓小範圍模式下的留白可控。\n    ", (None, 0.1, None, 1), None),
    "sync_snapshot_chart": (
        plotdeck.sync_snapshot_chart, "sync_snapshot_chart",
        "(buffers: 'list[TimeSeriesBuffer]', axX: 'QValueAxis', axY: 'QValueAxis', "
        "fixed_y_range: 'tuple[float, float] | None' = None, margin_ratio: 'float' = 0.1)",
        "\n    支援 X 軸偏移 (Start Index)。\n    ", (None, 0.1), None),
    "TimeSeriesBuffer.__init__": (
        TSB.__init__, "TimeSeriesBuffer.__init__", "(self, series: 'QLineSeries', max_history: 'int' = 10000)", None,
        (10000,), None),
    "TimeSeriesBuffer.add_point": (
        TSB.add_point, "TimeSeriesBuffer.add_point", "(self, x: 'float', y: 'float')",
        "Producer: Append a single point (Scrolling mode)", None, None),
    "TimeSeriesBuffer.set_data": (
        TSB.set_data, "TimeSeriesBuffer.set_data", "(self, data: 'np.ndarray', x_offset: 'float' = 0.0)",
        "Producer: Replace entire series with new data (Snapshot mode)", (0.0,), None),
    "TimeSeriesBuffer.flush": (
        TSB.flush, "TimeSeriesBuffer.flush", "(self) -> 'bool'",
        "Consumer: Writes buffer to Series. Returns True if updated.", None, None),
    "TimeSeriesBuffer.clear": (TSB.clear, "TimeSeriesBuffer.clear", "(self)", "Clear all data", None, None),
    "TimeSeriesBuffer.is_visible": (
        TSB.is_visible.fget, "TimeSeriesBuffer.is_visible", "(self) -> 'bool'", None, None, None),
    "StreamBuffer.__init__": (
        SB.__init__, "StreamBuffer.__init__",
        "(self, series: 'QXYSeries', window: 'int', *, display_budget: \"int | Literal['auto'] | None\" = 'auto', "
        "max_history: 'int | None' = None)", SB.__init__.__doc__, None, {"display_budget": "auto", "max_history": None}),
    "StreamBuffer.add_point": (
        SB.add_point, "StreamBuffer.add_point", "(self, x: 'float', y: 'float')", SB.add_point.__doc__, None, None),
    "StreamBuffer.add_points": (
        SB.add_points, "StreamBuffer.add_points", "(self, x: 'ArrayLike', y: 'ArrayLike')", SB.add_points.__doc__,
        None, None),
    "StreamBuffer.flush": (SB.flush, "StreamBuffer.flush", "(self) -> 'bool'", SB.flush.__doc__, None, None),
    "StreamBuffer.clear": (SB.clear, "StreamBuffer.clear", "(self)", SB.clear.__doc__, None, None),
    "StreamBuffer.is_visible": (
        SB.is_visible.fget, "StreamBuffer.is_visible", "(self) -> 'bool'", SB.is_visible.fget.__doc__, None, None),
    "StreamBuffer.history": (
        SB.history.fget, "StreamBuffer.history", "(self) -> 'StreamHistory'", SB.history.fget.__doc__, None, None),
    "sync_stream_chart": (
        streaming.sync_stream_chart, "sync_stream_chart",
        "(buffers: 'list[StreamBuffer] | tuple[StreamBuffer, ...]', axX: 'QValueAxis', axY: 'QValueAxis', "
        "window: 'float', *, fixed_y_range: 'tuple[float, float] | None' = None, margin_ratio: 'float' = 0.1)",
        streaming.sync_stream_chart.__doc__, None, {"fixed_y_range": None, "margin_ratio": 0.1}),
    "use_software_renderer": (
        graphs.use_software_renderer, "use_software_renderer", "() -> 'bool'", graphs.use_software_renderer.__doc__,
        None, None),
    "build_sample_value_graph": (
        graphs.build_sample_value_graph, "build_sample_value_graph",
        "(ui_root: 'QWidget', host_name: 'str', *, y_title: 'str' = 'Value', x_title: 'str' = 'Sample', "
        "show_legend: 'bool' = True, return_widget: 'bool' = False) -> 'tuple'",
        graphs.build_sample_value_graph.__doc__, None,
        {"y_title": "Value", "x_title": "Sample", "show_legend": True, "return_widget": False}),
    "add_line_to_graph": (
        graphs.add_line_to_graph, "add_line_to_graph",
        "(graph: 'QQuickItem', axX: 'QValueAxis', axY: 'QValueAxis', name: 'str', color: 'QColor | str', "
        "width: 'float | None' = None) -> 'QLineSeries'", graphs.add_line_to_graph.__doc__, (None,), None),
    "add_scatter_to_graph": (
        graphs.add_scatter_to_graph, "add_scatter_to_graph",
        "(graph: 'QQuickItem', axX: 'QValueAxis', axY: 'QValueAxis', name: 'str', color: 'QColor | str', "
        "size: 'float' = 8.0) -> 'QScatterSeries'", graphs.add_scatter_to_graph.__doc__, (8.0,), None),
    "_forward_qt_message": (
        graphs._forward_qt_message, "_forward_qt_message",
        "(mode: 'QtMsgType', context: 'QMessageLogContext', message: 'str') -> 'None'",
        graphs._forward_qt_message.__doc__, None, None),
    "_release_theme": (
        graphs._release_theme, "_release_theme", "(view: 'QQuickItem', destroyed: 'object' = None) -> 'None'",
        graphs._release_theme.__doc__, (None,), None),
    "_drop_legend_entry": (
        graphs._drop_legend_entry, "_drop_legend_entry", "(legend: 'QQuickItem', destroyed: 'object' = None) -> 'None'",
        graphs._drop_legend_entry.__doc__, (None,), None),
    "live_view": (
        streaming.live_view, "live_view", "(chart: 'QChart | QChartView | QQuickItem | QQuickWidget | LiveView') -> 'LiveView'",
        streaming.live_view.__doc__, None, None),
    "LiveView.__init__": (
        LV.__init__, "LiveView.__init__", "(self, parent: 'QObject | None' = None)", LV.__init__.__doc__, (None,),
        None),
    "LiveView.eventFilter": (
        LV.eventFilter, "LiveView.eventFilter", "(self, watched: 'QObject', event: 'QEvent') -> 'bool'",
        LV.eventFilter.__doc__, None, None),
    "LiveView.pause": (LV.pause, "LiveView.pause", "(self)", LV.pause.__doc__, None, None),
    "LiveView.resume": (LV.resume, "LiveView.resume", "(self)", LV.resume.__doc__, None, None),
    "LiveView.toggle": (LV.toggle, "LiveView.toggle", "(self) -> 'bool'", LV.toggle.__doc__, None, None),
    "LiveView.is_paused": (
        LV.is_paused.fget, "LiveView.is_paused", "(self) -> 'bool'", LV.is_paused.fget.__doc__, None, None),
    "LiveView.x_range": (
        LV.x_range.fget, "LiveView.x_range", "(self) -> 'tuple[float, float] | None'", LV.x_range.fget.__doc__,
        None, None),
    "LiveView.set_x_range": (
        LV.set_x_range, "LiveView.set_x_range", "(self, lo: 'float', hi: 'float')", LV.set_x_range.__doc__, None,
        None),
    "LiveView.reset_view": (LV.reset_view, "LiveView.reset_view", "(self)", LV.reset_view.__doc__, None, None),
    "LiveView.show_all": (LV.show_all, "LiveView.show_all", "(self)", LV.show_all.__doc__, None, None),
    "LiveView.link_x": (
        LV.link_x, "LiveView.link_x", "(self, other: 'LiveView | QChart | QChartView | QQuickItem | QQuickWidget | None')", LV.link_x.__doc__,
        None, None),
    "LiveView.linked": (
        LV.linked.fget, "LiveView.linked", "(self) -> 'tuple[LiveView, ...]'", LV.linked.fget.__doc__, None, None),
    "LiveView.readout": (
        LV.readout.fget, "LiveView.readout",
        "(self) -> 'tuple[float, tuple[tuple[QXYSeries, float, float], ...]] | None'", LV.readout.fget.__doc__,
        None, None),
    "LiveView.chart": (
        LV.chart.fget, "LiveView.chart", "(self) -> 'QChart | QQuickItem | None'", LV.chart.fget.__doc__, None, None),
    "LiveView.view": (
        LV.view.fget, "LiveView.view", "(self) -> 'QChartView | QQuickWidget | None'", LV.view.fget.__doc__, None, None),
    "LiveView._plot_area_changed": (
        vars(LV)["_plot_area_changed"], "LiveView._plot_area_changed", "(self, area=None)",
        vars(LV)["_plot_area_changed"].__doc__, (None,), None),
    "LiveView._destroyed": (
        vars(LV)["_destroyed"], "LiveView._destroyed", "(self, obj=None)", vars(LV)["_destroyed"].__doc__, (None,),
        None),
    "LiveView._chart_destroyed": (
        vars(LV)["_chart_destroyed"], "LiveView._chart_destroyed", "(self, obj=None)",
        vars(LV)["_chart_destroyed"].__doc__, (None,), None),
    "_get_start_dir": (
        choosers._get_start_dir, "_get_start_dir", "(obj: 'object | None', attr: 'str', fallback: 'Path') -> 'Path'",
        None, None, None),
    "_set_last_dir": (
        choosers._set_last_dir, "_set_last_dir", "(obj: 'object | None', attr: 'str', path: 'str | Path') -> 'None'",
        None, None, None),
    "pick_folder_path": (
        choosers.pick_folder_path, "pick_folder_path",
        "(parent: 'QWidget', *, line_edit: 'QLineEdit | None' = None, title: 'str' = 'Select Folder', "
        "last_dir_obj: 'object | None' = None, last_dir_attr: 'str' = '_last_dir', return_pathlib: 'bool' = False)"
        " -> 'str | Path | None'", FOLDER_DOC, None,
        {"line_edit": None, "title": "Select Folder", "last_dir_obj": None, "last_dir_attr": "_last_dir",
         "return_pathlib": False}),
    "pick_file_path": (
        choosers.pick_file_path, "pick_file_path",
        "(parent: 'QWidget', *, line_edit: 'QLineEdit | None' = None, title: 'str' = 'Select File', "
        "name_filter: 'str' = 'All Files (*)', last_dir_obj: 'object | None' = None, "
        "last_dir_attr: 'str' = '_last_dir', return_pathlib: 'bool' = False) -> 'str | Path | None'", FILE_DOC, None,
        {"line_edit": None, "title": "Select File", "name_filter": "All Files (*)", "last_dir_obj": None,
         "last_dir_attr": "_last_dir", "return_pathlib": False}),
    "collect_files_from_lineEdit": (
        choosers.collect_files_from_lineEdit, "collect_files_from_lineEdit",
        "(parent: 'QWidget', line_edit: 'QLineEdit', out_dir_name: 'str', name_filter: 'List[str]', "
        "sort_datecode: 'bool' = False) -> 'Tuple[List[str], List[str], Path] | None'", COLLECT_DOC, (False,), None),
}


@pytest.mark.parametrize("func, qualname, signature, doc, defaults, kwdefaults", SIGNATURES.values(),
                         ids=SIGNATURES.keys())
def test_signature_table(func, qualname, signature, doc, defaults, kwdefaults):
    assert type(func).__name__ == "function" and type(func) is not types.FunctionType
    assert func.__qualname__ == qualname and func.__name__ == qualname.rpartition(".")[2]
    assert str(inspect.signature(func)) == signature
    assert func.__doc__ == doc
    assert func.__defaults__ == defaults and type(func.__defaults__) is type(defaults)
    if defaults:
        assert [type(d) for d in func.__defaults__] == [type(d) for d in defaults]
    assert func.__kwdefaults__ == kwdefaults
    if kwdefaults:
        assert list(func.__kwdefaults__) == list(kwdefaults)
    # annotations are strings, in parameter order, "return" last; `self` has none
    params = [p for p in inspect.signature(func).parameters if p != "self"]
    annotated = [p for p in params if inspect.signature(func).parameters[p].annotation is not inspect.Parameter.empty]
    keys = list(func.__annotations__)
    assert keys == annotated + (["return"] if "return" in keys else [])
    assert all(type(v) is str for v in func.__annotations__.values())
    module = {"larkui.finders": finders, "larkui.choosers": choosers, "larkui.streaming": streaming,
              "larkui.graphs": graphs}.get(func.__module__, plotdeck)
    if module in (streaming, graphs):  # English docstrings, a summary line first
        assert func.__doc__ and func.__doc__.split("\n")[0].endswith(".")
    assert func.__module__ == module.__name__ and func.__globals__ is vars(module)


def test_every_public_callable_has_a_row():
    rows = {row[0] for row in SIGNATURES.values()}
    for module in (plotdeck, choosers, finders, streaming, graphs):
        for name, value in vars(module).items():
            if type(value).__name__ == "function" and type(value) is not types.FunctionType:
                assert value in rows, name
    for cls in (TSB, SB, LV):
        members = {v.fget if isinstance(v, property) else v for k, v in vars(cls).items()
                   if (k == "__init__" or not k.startswith("__")) and (type(v).__name__ == "function"
                                                                       or isinstance(v, property))}
        assert members <= rows, members - rows


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
    assert func.__builtins__ is vars(builtins)


@pytest.mark.parametrize("attr, value, message", [
    ("__name__", 5, "__name__ must be set to a string object"),
    ("__qualname__", None, "__qualname__ must be set to a string object"),
    ("__annotations__", [], "__annotations__ must be set to a dict object"),
])
def test_writable_attributes_as_on_a_python_function(hooks, attr, value, message):
    f = hooks.needs_keyword
    saved = getattr(f, attr)
    new = {"__name__": "renamed", "__qualname__": "Owner.renamed", "__annotations__": {"key": "int"}}[attr]
    try:
        setattr(f, attr, new)
        assert getattr(f, attr) is new
        for bad in (lambda: setattr(f, attr, value), lambda: delattr(f, attr)):
            with pytest.raises(TypeError) as info:
                bad()
            assert str(info.value) == message and getattr(f, attr) is new
        if attr == "__qualname__":
            assert repr(f).startswith("<function Owner.renamed at ") and f.__reduce__() == "Owner.renamed"
    finally:
        setattr(f, attr, saved)


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


NAMESPACES = {
    "larkui.finders": ["TypeVar", "Type", "QObject", "T", "find_child_safe"],
    "larkui.plotdeck": [
        "Qt", "QPointF", "QPainter", "QPen", "QColor", "QWidget", "QVBoxLayout", "QGraphicsView", "QScrollArea",
        "QGridLayout", "QLayout", "QSizePolicy", "QTabWidget", "QChart", "QChartView", "QValueAxis",
        "QScatterSeries", "QLineSeries", "Sequence", "math", "np", "build_sample_value_chart", "make_scatter",
        "make_line", "add_line_to_chart", "wrap_hosts_in_scroll", "wrap_dynamic_charts_into_tabs",
        "TimeSeriesBuffer", "sync_scrolling_chart", "sync_snapshot_chart"],
    "larkui.streaming": ["QPointF", "np", "StreamBuffer", "StreamHistory", "sync_stream_chart", "_C_API"],
    "larkui.graphs": ["Qt", "QUrl", "qInstallMessageHandler", "qFormatLogMessage", "QColor", "QFont",
                      "QGuiApplication", "QOpenGLContext", "QWidget", "QVBoxLayout", "QSizePolicy", "QQmlComponent",
                      "QQmlListReference", "qmlEngine", "QQuickItem", "QQuickWindow", "QSGRendererInterface",
                      "QQuickWidget", "QValueAxis", "QLineSeries", "QScatterSeries", "QGraphsTheme", "QGraphsLine",
                      "_forward_qt_message", "_release_theme", "_drop_legend_entry", "use_software_renderer",
                      "build_sample_value_graph", "add_line_to_graph", "add_scatter_to_graph"],
    "larkui.streaming": ["QPointF", "np", "StreamBuffer", "StreamHistory", "sync_stream_chart", "LiveView",
                         "live_view", "_C_API"],
    "larkui.choosers": ["Path", "Tuple", "List", "QFileDialog", "QWidget", "QLineEdit", "QMessageBox", "filedesk",
                        "_get_start_dir", "_set_last_dir", "pick_folder_path", "pick_file_path",
                        "collect_files_from_lineEdit"],
}


def test_namespaces_in_binding_order():
    # in a fresh interpreter: tests that rebind module names change the order in this one
    out = run_python("""
        import importlib
        for name in %r:
            module = importlib.import_module(name)
            print(name, module.__doc__, *[n for n in vars(module) if not n.startswith("__")])
    """ % list(NAMESPACES))
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == [" ".join([name, "None", *names]) for name, names in NAMESPACES.items()]

    assert finders.TypeVar is typing.TypeVar and finders.Type is typing.Type and finders.QObject is QObject
    assert finders.T.__name__ == "T" and finders.T.__bound__ is QObject
    assert plotdeck.Qt is Qt and plotdeck.math is math and plotdeck.np is numpy
    assert plotdeck.Sequence is typing.Sequence
    assert plotdeck.QLayout is QtWidgets.QLayout and plotdeck.QLineSeries is QtCharts.QLineSeries
    assert (choosers.Path, choosers.Tuple, choosers.List, choosers.filedesk) == (
        pathlib.Path, typing.Tuple, typing.List, filedesk)
    assert choosers.QFileDialog is QtWidgets.QFileDialog and choosers.QMessageBox is QtWidgets.QMessageBox


def test_buffer_class_shape():
    assert type(TSB) is type and TSB.__bases__ == (object,)
    assert TSB.__module__ == "larkui.plotdeck" and TSB.__qualname__ == TSB.__name__ == "TimeSeriesBuffer"
    assert TSB.__doc__ == BUFFER_DOC
    members = [n for n in vars(TSB) if not n.startswith("__") or n == "__init__"]
    assert members == ["__init__", "add_point", "set_data", "flush", "clear", "is_visible"]
    prop = vars(TSB)["is_visible"]
    assert type(prop) is property and prop.fset is None and prop.fdel is None
    for name in members[:-1]:
        assert type(vars(TSB)[name]) is type(build) and getattr(TSB, name) is vars(TSB)[name]


def test_buffer_members_on_an_instance():
    series = QLineSeries()
    buf = TSB(series)
    assert str(inspect.signature(TSB)) == "(series: 'QLineSeries', max_history: 'int' = 10000)"
    bound = buf.add_point
    assert isinstance(bound, types.MethodType) and bound.__func__ is TSB.add_point and bound.__self__ is buf
    assert str(inspect.signature(buf.set_data)) == "(data: 'np.ndarray', x_offset: 'float' = 0.0)"
    assert buf.is_visible is series.isVisible()
    with pytest.raises(AttributeError):
        buf.is_visible = False


def test_defaults_are_import_time_objects_shared_like_constants():
    # built once: every call uses the same objects
    default = TSB.__init__.__defaults__[0]
    assert TSB(QLineSeries()).max_history is default
    assert build.__kwdefaults__ is build.__kwdefaults__
    # equal constants of one module are one object, as in a compiled Python module
    scroll = plotdeck.wrap_hosts_in_scroll.__kwdefaults__
    tabs = plotdeck.wrap_dynamic_charts_into_tabs.__kwdefaults__
    assert scroll["root_margins"] is tabs["root_margins"]
    assert plotdeck.make_line.__defaults__[0] is plotdeck.add_line_to_chart.__defaults__[0]
    assert plotdeck.sync_scrolling_chart.__defaults__[1] is plotdeck.sync_snapshot_chart.__defaults__[1]
    assert plotdeck.make_line.__defaults__[1] == plotdeck.add_line_to_chart.__defaults__[1] == Qt.SolidLine
