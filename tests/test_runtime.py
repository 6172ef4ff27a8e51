"""The runtime layer under the three modules: what its rules promise when they are pushed.

Several cases use the test-only hook module (tests/native/hooks.cpp), whose bodies break the
layer's rules on purpose; the rest push the real modules.
"""
import ctypes
import math
import textwrap
import traceback

import numpy as np
import pytest
from PySide6.QtCharts import QLineSeries, QValueAxis

import larkui.finders as finders
import larkui.plotdeck as plotdeck
from support import run_python

find = finders.find_child_safe


def run_ok(code, hooks_dir=None):
    """Runs code in a fresh interpreter, with the hook modules importable when hooks_dir is given."""
    prelude = f"import larkui; larkui.__path__.append({str(hooks_dir)!r})\n" if hooks_dir else ""
    proc = run_python(prelude + textwrap.dedent(code))
    assert proc.returncode == 0, proc.stderr
    return proc.stdout.splitlines()


# ---- the call boundary ----

@pytest.mark.parametrize("name, exc_type, message", [
    ("fail_silently", SystemError, "larkui._hooks.fail_silently failed without setting an exception"),
    ("throw_silently", SystemError, "larkui._hooks.throw_silently failed without setting an exception"),
    ("throw_bad_alloc", MemoryError, ""),
    ("throw_unknown", SystemError, "unexpected C++ exception"),
])
def test_every_failure_reaches_python_as_an_exception(hooks, name, exc_type, message):
    with pytest.raises(exc_type) as info:
        getattr(hooks, name)()
    assert type(info.value) is exc_type and str(info.value) == message
    entry = traceback.extract_tb(info.tb)[-1]
    assert (entry.name, entry.filename) == (f"larkui._hooks.{name}", "larkui/_hooks")


def test_defaults_are_converted_once_as_a_call_would(hooks):
    f = hooks.converted_defaults
    assert f.__defaults__ == (2.75, 3, 7, "int")  # shown as written
    assert hooks.converted_defaults() == (2, 3, 3.0, True, "int")
    assert f() == f(2.75, 3, 7, "int") == f(count=2.75, real=3, flag=7)
    assert type(f()[0]) is int and f()[1] is f.__defaults__[1]


def test_required_keyword_only_parameter(hooks):
    assert hooks.needs_keyword(key=5) == 5
    for call in (lambda: hooks.needs_keyword(), lambda: hooks.needs_keyword(kee=5)):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == "needs_keyword() needs keyword-only argument key"
    with pytest.raises(TypeError, match=r"takes exactly 0 positional arguments \(1 given\)"):
        hooks.needs_keyword(5)


# ---- a function left over from a failed module body ----

def test_function_from_a_failed_body_keeps_its_own_namespace():
    # Qt without SolidLine fails the body after the first two functions were bound; the traceback's
    # frame globals still reach them. Calling one must work with that body's namespace, and a retry
    # of the import makes new functions with the new module's namespace.
    out = run_ok("""
        import sys, gc
        import PySide6.QtCore as core
        real_qt = core.Qt
        core.Qt = type("Qt", (), {"AlignBottom": real_qt.AlignBottom, "AlignLeft": real_qt.AlignLeft})
        try:
            import larkui.plotdeck
        except AttributeError as e:
            tb = e.__traceback__
            while tb.tb_next:
                tb = tb.tb_next
            old_globals = tb.tb_frame.f_globals
        del tb
        gc.collect()
        old_build = old_globals["build_sample_value_chart"]
        print(sorted(k for k in old_globals if k.startswith("make") or k.startswith("build")))
        print("larkui.plotdeck" in sys.modules)
        from PySide6.QtWidgets import QApplication, QWidget
        app = QApplication([])
        root = QWidget(); QWidget(root).setObjectName("host")
        chart, ax, ay = old_build(root, "host")
        print(type(chart).__name__, ax.titleText(), old_build.__globals__ is old_globals)
        core.Qt = real_qt
        import larkui.plotdeck as fresh
        print(fresh.build_sample_value_chart is not old_build, fresh.build_sample_value_chart.__globals__ is vars(fresh))
        del old_globals["QChart"]
        try:
            old_build(root, "host")
        except NameError as e:
            print(e)
        print(type(fresh.build_sample_value_chart(root, "host")[0]).__name__)
    """)
    assert out == ["['build_sample_value_chart', 'make_scatter']", "False", "QChart Sample True", "True True",
                   "name 'QChart' is not defined", "QChart"]


def test_weak_references_end_with_the_function(hooks_dir):
    out = run_ok("""
        import gc, weakref
        import larkui._hooks as hooks
        f = hooks.needs_keyword
        ended = []
        ref = weakref.ref(f, lambda r: ended.append(r))
        del hooks.needs_keyword, f
        gc.collect()
        print(ref() is None, ended == [ref])
    """, hooks_dir)
    assert out == ["True True"]


# ---- messages of a bad call, from the name object ----

@pytest.mark.parametrize("name, shown", [
    ("\udc80", "\udc80"),                 # not encodable as UTF-8
    ("größe", "größe"),
    ("n" * 250, "n" * 200),               # cut at 200 bytes
    ("é" * 150, "é" * 100),
])
@pytest.mark.parametrize("call, tail", [
    (lambda f: f(), "() takes at least 3 positional arguments (0 given)"),
    (lambda f: f(1, 2, 3, "t", None, 7), "() takes at most 5 positional arguments (6 given)"),
    (lambda f: f(1, 2, 3, bogus=1), None),
    (lambda f: f(1, 2, 3, number=1), None),
], ids=["too-few", "too-many", "unexpected", "duplicate"])
def test_renamed_function_messages(hooks, name, shown, call, tail):
    probe = hooks.probe
    saved = probe.__name__
    probe.__name__ = name
    try:
        with pytest.raises(TypeError) as info:
            call(probe)
    finally:
        probe.__name__ = saved
    text = str(info.value)
    if tail is None:  # the keyword messages print the whole name
        assert text.startswith(name + "() got ")
    else:
        assert text == shown + tail


def test_renamed_real_function_with_a_bad_keyword(hooks):
    out = run_ok("""
        import larkui.finders as f
        f.find_child_safe.__name__ = "\\udc80"
        for call in (lambda: f.find_child_safe(1, 2, 3, bogus=1), lambda: f.find_child_safe(1)):
            try:
                call()
            except TypeError as e:
                print(ascii(str(e)))
    """)
    assert out == [ascii("\udc80() got an unexpected keyword argument 'bogus'"),
                   ascii("\udc80() takes exactly 3 positional arguments (1 given)")]


def test_version_warning_as_error_fails_the_import_and_leaves_no_trace(hooks_dir):
    out = run_ok("""
        import sys, warnings
        warnings.simplefilter("error", RuntimeWarning)
        try:
            import larkui._hooks_other_minor
        except RuntimeWarning as e:
            print("refused", "larkui._hooks_other_minor" in sys.modules)
        warnings.simplefilter("ignore", RuntimeWarning)
        import larkui._hooks_other_minor as m
        print(m.probe(1, 2.0, 0)[0])
    """, hooks_dir)
    assert out == ["refused False", "1"]


# ---- the binder's rules ----

class BadTruth:
    def __init__(self, tag):
        self.tag = tag

    def __bool__(self):
        raise ValueError(f"no truth for {self.tag}")


class FloatOf:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class IndexOf:
    def __index__(self):
        return -1


@pytest.mark.parametrize("given", [-1, -1.0, True, np.float64(-1), np.int8(-1), np.float32(-1), FloatOf(-1.0),
                                   IndexOf(), 2 ** 53 + 1, -0.0])
def test_float_conversion_of_values_equal_to_the_error_value(hooks, given):
    expected = float(given)
    _, real_given, real_value, *_ = hooks.probe(0, given, 0)
    assert real_given is given and real_value == expected and math.copysign(1, real_value) == math.copysign(1, expected)
    buf = plotdeck.TimeSeriesBuffer(QLineSeries())
    buf.add_point(given, given)
    assert buf.history == [expected] and type(buf.history[0]) is float
    assert buf._pending_points[0].x() == expected


@pytest.mark.parametrize("given, expected", [(3.9, 3), (-3.9, -3), (True, 1), (np.uint8(200), 200), (2 ** 80, 2 ** 80)])
def test_int_conversion(hooks, given, expected):
    number = hooks.probe(given, 0.0, 0)[0]
    assert type(number) is int and number == expected


@pytest.mark.parametrize("kwargs, message", [
    ({"number": None}, "Argument 'number' has incorrect type (expected int, got NoneType)"),
    ({"pair": []}, "Argument 'pair' has incorrect type (expected tuple, got list)"),
    ({"text": None}, "Argument 'text' has incorrect type (expected str, got NoneType)"),
    ({"count": None}, "Argument 'count' has incorrect type (expected int, got NoneType)"),
])
def test_none_passes_only_where_the_default_is_none(hooks, kwargs, message):
    args = dict(number=1, real=1.0, truth=0) | kwargs
    with pytest.raises(TypeError) as info:
        hooks.probe(**args)
    assert str(info.value) == message
    assert hooks.probe(1, 1.0, 0, "t", None)[5] is None


class BadFloat:
    def __float__(self):
        raise ArithmeticError("no float")


def outcome(call):
    try:
        result = call()
    except Exception as e:
        return type(e), str(e)
    return result


@pytest.mark.parametrize("args", [
    (4, 1.5, 0, "x"), (2.9, np.float32(2), [], None), ("x", 1.0, 1, 1), (1, "y", 1, 1), ("x", "y", 1, 1),
    (1, BadFloat(), 1, 1), (1, 1.0, BadTruth("flag"), 1), ("x", 1.0, BadTruth("flag"), 1), (None, None, None, None),
])
def test_all_positional_shortcut_binds_as_the_general_path(hooks, args):
    # A call that gives every parameter positionally skips the keyword and default handling;
    # with one of them by keyword, or fewer given, the same arguments go the general way.
    f = hooks.converted_defaults
    names = ["count", "real", "flag", "type_name"]
    shortcut = outcome(lambda: f(*args))
    assert outcome(lambda: f(*args[:3], type_name=args[3])) == shortcut
    assert outcome(lambda: f(**dict(zip(names, args)))) == shortcut
    assert outcome(lambda: f(*args[:2], **dict(zip(names[2:], args[2:])))) == shortcut


@pytest.mark.parametrize("args", [
    ([], None, None, (0, 1), 0.5), ((), None, None, None, 0.1), ([], None, None, [0, 1], 0.1),
    ([], None, None, (0, 1), "x"), ([], None, None, None, BadFloat()),
])
def test_all_positional_shortcut_on_a_library_function(args):
    axis = QValueAxis()
    args = tuple(axis if a is None and i in (1, 2) else a for i, a in enumerate(args))
    shortcut = outcome(lambda: plotdeck.sync_snapshot_chart(*args))
    assert outcome(lambda: plotdeck.sync_snapshot_chart(*args[:4], margin_ratio=args[4])) == shortcut
    assert outcome(lambda: plotdeck.sync_snapshot_chart(*args[:3], fixed_y_range=args[3],
                                                        margin_ratio=args[4])) == shortcut


def test_keyword_names_built_at_run_time_bind_like_interned_ones(hooks):
    name = "".join(["na", "me"])
    assert name == "name" and name is not "name"  # noqa: F632 - the point is that they differ

    class Parent:
        def findChild(self, widget_type, n):
            return widget_type()

    assert type(find(Parent(), **{name: "x", "".join(["widget_", "type"]): dict})) is dict
    assert hooks.probe(**{"".join(["num", "ber"]): 5, "real": 1, "truth": 1, "".join(["co", "unt"]): 9})[-1] == 9


def test_defaults_keep_their_own_references():
    # Dropping the functions and the module must give back exactly the references they held:
    # the default objects nothing else holds end with only the test's own.
    out = run_ok("""
        import gc, sys
        import larkui.plotdeck as p, larkui.choosers as c
        objects = [p.wrap_hosts_in_scroll.__kwdefaults__[k] for k in ("root_margins", "grid_margins", "min_cell_size")]
        objects += [p.wrap_dynamic_charts_into_tabs.__kwdefaults__["min_cell_size"], p.make_line.__defaults__[0],
                    p.sync_scrolling_chart.__defaults__[1], p.TimeSeriesBuffer.set_data.__defaults__[0],
                    p.TimeSeriesBuffer.__init__.__defaults__]
        for _ in range(1000):
            p.wrap_hosts_in_scroll(None, [])
            p.sync_scrolling_chart([], p.QValueAxis(), p.QValueAxis(), 10)
        del p, c
        for name in [n for n in sys.modules if n.startswith("larkui.")]:
            del sys.modules[name]
        import larkui
        for name in ("plotdeck", "choosers"):
            delattr(larkui, name)
        gc.collect()
        print([sys.getrefcount(o) for o in objects])
    """)
    # the list, the loop variable and getrefcount's own argument
    assert out == [str([3] * 8)]


def test_exec_slot_again_on_the_same_module_does_nothing():
    api = ctypes.pythonapi
    api.PyModule_GetDef.restype = ctypes.c_void_p
    api.PyModule_GetDef.argtypes = [ctypes.py_object]
    api.PyModule_ExecDef.restype = ctypes.c_int
    api.PyModule_ExecDef.argtypes = [ctypes.py_object, ctypes.c_void_p]
    for module in (plotdeck, finders):
        before = dict(vars(module))
        assert api.PyModule_ExecDef(module, api.PyModule_GetDef(module)) == 0
        assert list(vars(module)) == list(before) and all(vars(module)[k] is v for k, v in before.items())


@pytest.mark.parametrize("module, warning", [
    ("_hooks", None),
    ("_hooks_other_minor", "compile time Python version 3.{m1} of module 'larkui._hooks_other_minor' "
                           "does not match runtime version 3.{m}"),
    ("_hooks_other_major", "compile time Python version 4.{m} of module 'larkui._hooks_other_major' "
                           "does not match runtime version 3.{m}"),
])
def test_version_warning_compares_major_and_minor(hooks_dir, module, warning):
    import sys

    out = run_ok(f"""
        import warnings
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            import larkui.{module}
        print([str(w.message) for w in caught if w.category is RuntimeWarning])
    """, hooks_dir)
    minor = sys.version_info.minor
    expected = [warning.format(m=minor, m1=minor + 1)] if warning else []
    assert out == [str(expected)]


# ---- module state ----

def test_functions_reach_their_module_state(hooks):
    assert hooks.kept_marker() == "kept at import"


def test_what_a_cast_trusts_is_out_of_python_reach():
    # Every dictionary a member's function holds but the builtins is filled with float, the state
    # object is probed; the type check that guards StreamBuffer's casts still refuses a float.
    out = run_ok("""
        import builtins, gc, os, sys
        import larkui.streaming as s
        flush = s.StreamBuffer.flush
        state = [o for o in gc.get_referents(flush) if type(o).__name__ == "state"]
        print(len(state), type(state[0]).__module__)
        for probe in (lambda: type(state[0])(), lambda: setattr(state[0], "StreamBuffer", float)):
            try:
                probe()
            except TypeError as e:
                print("TypeError")
            except AttributeError as e:
                print("AttributeError")
        for holder in gc.get_referents(flush):
            if isinstance(holder, dict) and holder is not vars(builtins):
                for key in list(holder):
                    holder[key] = float
        try:
            flush(1.5)
        except TypeError as e:
            print(e)
        sys.stdout.flush()
        os._exit(0)  # the module namespace is wrecked: no orderly shutdown
    """)
    assert out == ["1 larkui.streaming", "TypeError", "AttributeError",
                   "descriptor 'flush' for 'StreamBuffer' objects doesn't apply to a 'float' object"]
