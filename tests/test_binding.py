"""Argument binding of the library's callables: the messages of a bad call and the conversions."""
import ctypes
import math

import numpy as np
import pytest
from PySide6.QtWidgets import QWidget

import larkui.finders as finders
import larkui.plotdeck as plotdeck

find = finders.find_child_safe
build = plotdeck.build_sample_value_chart

BAD_TYPE = "Argument '{}' has incorrect type (expected {}, got {})"


class StrChild(str):
    pass


class BadTruth:
    def __init__(self, tag):
        self.tag = tag

    def __bool__(self):
        raise ValueError(f"no truth for {self.tag}")


# (callable, args, kwargs, exception type, exact message)
CASES = {
    # counts: too few, too many, the 0-based position of the first missing parameter
    "find-none": (find, (), {}, TypeError, "find_child_safe() takes exactly 3 positional arguments (0 given)"),
    "find-one": (find, (1,), {}, TypeError, "find_child_safe() takes exactly 3 positional arguments (1 given)"),
    "find-two": (find, (1, 2), {}, TypeError, "find_child_safe() takes exactly 3 positional arguments (2 given)"),
    "find-four": (find, (1, 2, "a", 4), {}, TypeError,
                  "find_child_safe() takes exactly 3 positional arguments (4 given)"),
    "find-missing-middle": (find, (), {"parent": 1, "name": "a"}, TypeError,
                            "find_child_safe() takes exactly 3 positional arguments (1 given)"),
    "find-missing-first": (find, (), {"widget_type": 1, "name": "a"}, TypeError,
                           "find_child_safe() takes exactly 3 positional arguments (0 given)"),
    # order: too many, then missing, then keyword faults in keyword order, then types
    "too-many-before-keyword": (find, (1, 2, "a", 4), {"x": 1}, TypeError,
                                "find_child_safe() takes exactly 3 positional arguments (4 given)"),
    "missing-before-unexpected": (find, (1, 2), {"nme": "a"}, TypeError,
                                  "find_child_safe() takes exactly 3 positional arguments (2 given)"),
    "missing-before-duplicate": (find, (1,), {"parent": 2}, TypeError,
                                 "find_child_safe() takes exactly 3 positional arguments (1 given)"),
    "unexpected": (find, (1, 2, "a"), {"x": 1}, TypeError, "find_child_safe() got an unexpected keyword argument 'x'"),
    "unexpected-first-in-order": (find, (1, 2, "a"), {"x": 1, "name": "b"}, TypeError,
                                  "find_child_safe() got an unexpected keyword argument 'x'"),
    "duplicate-first-in-order": (find, (1, 2, "a"), {"name": "b", "x": 1}, TypeError,
                                 "find_child_safe() got multiple values for keyword argument 'name'"),
    "duplicate-positional": (find, (1, 2), {"name": "a", "parent": 3}, TypeError,
                             "find_child_safe() got multiple values for keyword argument 'parent'"),
    "keyword-fault-before-type": (find, (1, 2, None), {"x": 1}, TypeError,
                                  "find_child_safe() got an unexpected keyword argument 'x'"),
    # exact str
    "name-none": (find, (1, 2, None), {}, TypeError, BAD_TYPE.format("name", "str", "NoneType")),
    "name-int": (find, (1, 2), {"name": 5}, TypeError, BAD_TYPE.format("name", "str", "int")),
    "name-bytes": (find, (1, 2, b"a"), {}, TypeError, BAD_TYPE.format("name", "str", "bytes")),
    "name-subclass": (find, (1, 2, StrChild("a")), {}, TypeError, BAD_TYPE.format("name", "str", "StrChild")),
    "name-numpy-str": (find, (1, 2, np.str_("a")), {}, TypeError, BAD_TYPE.format("name", "str", "numpy.str_")),
    # build_sample_value_chart: two positional parameters, the titles keyword-only
    "build-none": (build, (), {}, TypeError,
                   "build_sample_value_chart() takes exactly 2 positional arguments (0 given)"),
    "build-one": (build, (1,), {}, TypeError,
                  "build_sample_value_chart() takes exactly 2 positional arguments (1 given)"),
    "build-title-positional": (build, (1, "h", "Value"), {}, TypeError,
                               "build_sample_value_chart() takes exactly 2 positional arguments (3 given)"),
    "build-missing-root": (build, (), {"host_name": "h"}, TypeError,
                           "build_sample_value_chart() takes exactly 2 positional arguments (0 given)"),
    "build-missing-before-unexpected": (build, (1,), {"y_title": "v", "zz": 1}, TypeError,
                                        "build_sample_value_chart() takes exactly 2 positional arguments (1 given)"),
    "build-unexpected": (build, (1, "h"), {"y_title": "a", "z": 1}, TypeError,
                         "build_sample_value_chart() got an unexpected keyword argument 'z'"),
    "build-duplicate": (build, (1, "h"), {"host_name": "x"}, TypeError,
                        "build_sample_value_chart() got multiple values for keyword argument 'host_name'"),
    "host-none": (build, (1, None), {}, TypeError, BAD_TYPE.format("host_name", "str", "NoneType")),
    "y-title-none": (build, (1, "h"), {"y_title": None}, TypeError, BAD_TYPE.format("y_title", "str", "NoneType")),
    "x-title-int": (build, (1, "h"), {"x_title": 3}, TypeError, BAD_TYPE.format("x_title", "str", "int")),
    "checks-in-parameter-order": (build, (1, "h"), {"x_title": None, "y_title": 1.5}, TypeError,
                                  BAD_TYPE.format("y_title", "str", "float")),
    "host-checked-before-titles": (build, (1, 5), {"y_title": None}, TypeError,
                                   BAD_TYPE.format("host_name", "str", "int")),
    # truth conversion runs before any exact-type check, in parameter order
    "truth-before-exact": (build, (1, None), {"show_legend": BadTruth("legend")}, ValueError, "no truth for legend"),
    "truth-in-parameter-order": (build, (1, "h"), {"antialias": BadTruth("aa"), "show_legend": BadTruth("legend")},
                                 ValueError, "no truth for legend"),
    "truth-return-view": (build, (1, "h"), {"return_view": BadTruth("rv")}, ValueError, "no truth for rv"),
}


@pytest.mark.parametrize("func, args, kwargs, exc_type, message", CASES.values(), ids=CASES.keys())
def test_bad_call_message(func, args, kwargs, exc_type, message):
    with pytest.raises(exc_type) as info:
        func(*args, **kwargs)
    assert type(info.value) is exc_type
    assert str(info.value) == message


TSB = plotdeck.TimeSeriesBuffer
MEMBER_CASES = {
    "getter-singular": (lambda: TSB.is_visible.fget(), "is_visible() takes exactly 1 positional argument (0 given)"),
    "getter-too-many": (lambda: TSB.is_visible.fget(1, 2), "is_visible() takes exactly 1 positional argument (2 given)"),
    "init-none": (lambda: TSB(), "__init__() takes at least 2 positional arguments (1 given)"),
    "init-too-many": (lambda: TSB(1, 2, 3), "__init__() takes at most 3 positional arguments (4 given)"),
    "flush-unbound": (lambda: TSB.flush(), "flush() takes exactly 1 positional argument (0 given)"),
    "add-point-missing-y": (lambda: TSB.add_point(1, x=2.0), "add_point() takes exactly 3 positional arguments (2 given)"),
    "line-at-least": (lambda: plotdeck.make_line(1), "make_line() takes at least 3 positional arguments (1 given)"),
    "line-at-most": (lambda: plotdeck.make_line(1, "n", 3, 4.0, 5, 6),
                     "make_line() takes at most 5 positional arguments (6 given)"),
    # keyword-only parameters are refused positionally, also when every argument is given
    "build-all-positional": (lambda: build(1, "h", "Y", "X", True, False, True, False),
                             "build_sample_value_chart() takes exactly 2 positional arguments (8 given)"),
}


@pytest.mark.parametrize("call, message", MEMBER_CASES.values(), ids=MEMBER_CASES.keys())
def test_count_wording(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_subclass_refusal_carries_a_note():
    with pytest.raises(TypeError) as info:
        find(1, 2, StrChild("a"))
    notes = getattr(info.value, "__notes__", [])
    assert len(notes) == 1 and "subclass" in notes[0]

    with pytest.raises(TypeError) as info:
        find(1, 2, None)
    assert not hasattr(info.value, "__notes__")


def test_exact_str_accepts_only_str_itself():
    class Parent:
        def findChild(self, widget_type, name):
            self.seen = name
            return None

    parent = Parent()
    with pytest.raises(RuntimeError):
        find(parent, QWidget, "plain")
    assert type(parent.seen) is str and parent.seen == "plain"


def vectorcall(func, positional, kwnames, kwvalues):
    """Calls func through PyObject_Vectorcall, which lets a non-str keyword name reach it."""
    api = ctypes.pythonapi.PyObject_Vectorcall
    api.restype = ctypes.py_object
    api.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object]
    items = list(positional) + list(kwvalues)
    stack = (ctypes.py_object * max(len(items), 1))(*items)
    return api(func, ctypes.cast(stack, ctypes.c_void_p), len(positional), tuple(kwnames))


@pytest.mark.parametrize("func, positional, kwnames, message", [
    (find, (1, 2, "a"), (1,), "find_child_safe() keywords must be strings"),
    (find, (1, 2), (1,), "find_child_safe() takes exactly 3 positional arguments (2 given)"),
    (find, (1, 2, "a"), (3, "x"), "find_child_safe() keywords must be strings"),
    (find, (1, 2, "a"), ("x", 3), "find_child_safe() got an unexpected keyword argument 'x'"),
    (build, (1, "h"), (b"y_title",), "build_sample_value_chart() keywords must be strings"),
])
def test_non_string_keyword_from_c(func, positional, kwnames, message):
    with pytest.raises(TypeError) as info:
        vectorcall(func, positional, kwnames, [None] * len(kwnames))
    assert str(info.value) == message


def test_vectorcall_keywords_bind_by_name():
    class Parent:
        def findChild(self, widget_type, name):
            return widget_type()

    assert type(vectorcall(find, (Parent(),), ("name", "widget_type"), ("n", dict))) is dict


# ---- int and float conversions ----


@pytest.fixture
def series():
    from PySide6.QtCharts import QLineSeries

    return QLineSeries()


@pytest.mark.parametrize("given, expected", [
    (7, 7), (3.9, 3), (-3.9, -3), (True, 1), (False, 0), (np.int64(12), 12), (np.float32(2.5), 2),
    (2 ** 70, 2 ** 70),
])
def test_int_conversion(series, given, expected):
    buf = plotdeck.TimeSeriesBuffer(series, given)
    assert type(buf.max_history) is int and buf.max_history == expected


def test_int_taken_unchanged(series):
    big = 10 ** 30 + 1
    assert plotdeck.TimeSeriesBuffer(series, big).max_history is big


@pytest.mark.parametrize("given, exc_type, message", [
    ("5", TypeError, BAD_TYPE.format("max_history", "int", "str")),
    (None, TypeError, BAD_TYPE.format("max_history", "int", "NoneType")),
    ([1], TypeError, BAD_TYPE.format("max_history", "int", "list")),
    (math.inf, OverflowError, None),
    (math.nan, ValueError, None),
])
def test_int_refusals(series, given, exc_type, message):
    with pytest.raises(exc_type) as info:
        plotdeck.TimeSeriesBuffer(series, max_history=given)
    if message:
        assert str(info.value) == message


class HasFloat:
    def __float__(self):
        return 4.25


class HasIndex:
    def __index__(self):
        return 3


@pytest.mark.parametrize("given, expected", [(2, 2.0), (True, 1.0), (HasFloat(), 4.25), (HasIndex(), 3.0),
                                             (np.float32(0.5), 0.5)])
def test_float_conversion(series, given, expected):
    buf = plotdeck.TimeSeriesBuffer(series)
    buf.add_point(given, given)
    assert buf.history == [expected] and type(buf.history[0]) is float


@pytest.mark.parametrize("given", ["1.0", None, [1.0], 1j])
def test_float_refusal_changes_nothing(series, given):
    buf = plotdeck.TimeSeriesBuffer(series)
    with pytest.raises(TypeError):
        buf.add_point(1.0, given)
    with pytest.raises(TypeError):
        buf.set_data([1], given)
    assert buf.history == [] and buf._pending_points == [] and buf._pending_snapshot is None


@pytest.mark.parametrize("type_name, shown", [
    ("Größe", "Größe"),                      # non-ASCII type names come through whole
    ("T" * 250, "T" * 200),                  # the type name is cut at 200 bytes
    ("é" * 150, "é" * 100),                  # two-byte characters: 100 of them fill the 200 bytes
    ("x" + "é" * 150, "x" + "é" * 99 + "\ufffd"),  # a character cut in half shows as a replacement
])
def test_refusal_message_type_names(type_name, shown):
    given = type(type_name, (), {})()
    with pytest.raises(TypeError) as info:
        find(object(), object, given)
    assert str(info.value) == f"Argument 'name' has incorrect type (expected str, got {shown})"
