"""Worlds of fresh objects, hostile objects made from descriptions, and recording doubles for
the differential tests of test_hostile.py.

A scenario describes its objects as plain data ("@h", "float-raises") so that each world makes its
own: larkui and the plain steps never share a mutable object, and the reference counts of the
objects a world made can be compared between the two runs.
"""
import atexit
import contextlib
import ctypes
import gc
import shutil
import sys
import tempfile
import types
from pathlib import Path

import numpy as np
import shiboken6
from PySide6.QtCharts import QValueAxis
from PySide6.QtCore import QPointF
from PySide6.QtWidgets import QLineEdit, QWidget

import larkui.choosers as ch
import larkui.finders as fi
import larkui.plotdeck as pd
import plain_steps as steps
from plain_steps import MISSING, tp_name

TSB = pd.TimeSeriesBuffer
LARK = types.SimpleNamespace(
    TimeSeriesBuffer=TSB, scrolling=pd.sync_scrolling_chart, snapshot=pd.sync_snapshot_chart, find=fi.find_child_safe,
    pick_folder=ch.pick_folder_path, pick_file=ch.pick_file_path, collect=ch.collect_files_from_lineEdit,
    get_start_dir=ch._get_start_dir, set_last_dir=ch._set_last_dir)
PLAIN = types.SimpleNamespace(
    TimeSeriesBuffer=steps.TimeSeriesBuffer, scrolling=steps.sync_scrolling_chart, snapshot=steps.sync_snapshot_chart,
    find=steps.find_child_safe, pick_folder=steps.pick_folder_path, pick_file=steps.pick_file_path,
    collect=steps.collect_files_from_lineEdit, get_start_dir=steps._get_start_dir, set_last_dir=steps._set_last_dir)


# ---- worlds of fresh objects, and what two runs compare ----

@contextlib.contextmanager
def kept(*modules):
    """Whatever a scenario does to these module namespaces is undone afterwards."""
    saved = [(vars(m), dict(vars(m))) for m in modules]
    try:
        yield
    finally:
        for d, copy in saved:
            d.clear()
            d.update(copy)


class Stop(BaseException):
    """Outside the Exception family: no guard may swallow it."""


class Plain:
    pass


class World:
    """The objects of one run, labelled in the order they are made, so that two runs compare."""

    def __init__(self, impl):
        self.impl, self.log, self.objs, self.labels = impl, [], [], {}
        if impl is PLAIN:  # the pickers reach the memory helpers through the namespace
            vars(ch).update(_get_start_dir=steps._get_start_dir, _set_last_dir=steps._set_last_dir)

    def keep(self, obj):
        self.labels[id(obj)] = f"o{len(self.objs)}"
        self.objs.append(obj)
        return obj


def norm(v, w, depth=0):
    """A comparable picture of v: objects of the world by label, plain values by type and value."""
    t, label = type(v), w.labels.get(id(v))
    if label and t not in (list, dict):
        return label
    if v is None or t in (bool, int, str):
        return t.__name__, v
    if t is float:
        return "float", repr(v)
    if t is QPointF:
        return "QPointF", repr(v.x()), repr(v.y())
    if t is np.ndarray:
        return "ndarray", str(v.dtype), norm(v.tolist(), w, depth + 1)
    if issubclass(t, np.generic):
        return tp_name(v), repr(v.item())
    if issubclass(t, Path):
        return t.__name__, str(v)
    if t in (list, tuple, dict) and depth < 4:
        return label, t.__name__, [norm(i, w, depth + 1) for i in (v.items() if t is dict else v)]
    return label, t.__name__


def num(v, w):
    """Axis arguments by kind and value: a NumPy int counts as an int, any real as a double."""
    if isinstance(v, (int, np.integer)) and not isinstance(v, (bool, np.bool_)):
        return "int", int(v)
    if isinstance(v, (float, np.floating)):
        return "real", repr(float(v))
    return norm(v, w)


def outcome(fn, w):
    try:
        return "ok", norm(fn(), w)
    except (Exception, Stop) as e:
        try:
            text = str(e)
        except Exception:
            text = "<unprintable>"
        return "raise", type(e).__name__, text


def differential(build, act, state):
    """One scenario in a larkui world and in a plain-steps world: everything must agree."""
    runs = []
    for impl in (LARK, PLAIN):
        with kept(pd, ch):
            w = World(impl)
            build(w)
            result = act(w)
            picture = state(w)
            gc.collect()
            runs.append((result, picture, [(w.labels[id(o)], sys.getrefcount(o)) for o in w.objs]))
            del w
    for what, got, want in zip(("outcome", "state", "reference counts"), *runs):
        agree(what, got, want)


def agree(what, got, want):
    """got == want, or an error that shows where larkui and the plain steps part."""
    if got == want:
        return
    while type(got) in (list, tuple) and type(want) in (list, tuple) and len(got) == len(want):
        i = next(i for i, (a, b) in enumerate(zip(got, want)) if a != b)
        if len(repr(got[:i + 1])) < 700:
            got, want = got[:i + 1], want[:i + 1]
            break
        got, want = got[i], want[i]
    raise AssertionError(f"{what} differs\n larkui: {got!r}\n  steps: {want!r}")


# ---- hostile objects, made afresh in each world from a description ----

def _raise(tag, kind=ValueError):
    def method(self, *args):
        raise kind(tag)
    return method


class Liar:
    def __bool__(self):
        raise ValueError("truth")


CMP = ("__eq__", "__ne__", "__lt__", "__le__", "__gt__", "__ge__")
KINDS = {
    "float-raises": {"__float__": _raise("float")}, "float-lies": {"__float__": lambda s: 1},
    "index-only": {"__index__": lambda s: 3}, "index-huge": {"__index__": lambda s: 2 ** 70},
    "int-lies": {"__int__": lambda s: "7", "__index__": lambda s: 7},
    "bool-raises": {"__bool__": _raise("bool")}, "bool-lies": {"__bool__": lambda s: 1},
    "len-raises": {"__len__": _raise("len"), "__iter__": lambda s: iter([1.0])},
    "len-lies": {"__len__": lambda s: -1, "__iter__": lambda s: iter([1.0])},
    "iter-raises": {"__len__": lambda s: 2, "__iter__": _raise("iter")},
    "iter-lies": {"__len__": lambda s: 5, "__iter__": lambda s: iter([1.0, "x"])},
    "cmp-raises": {**{m: _raise("cmp") for m in CMP}, "__hash__": object.__hash__},
    "cmp-lies": {**{m: (lambda s, o: Liar()) for m in CMP}, "__hash__": object.__hash__},
    "mutates-buffer": {"__float__": lambda s: (s.w.buf.__dict__.clear(), 2.0)[1]},
    "mutates-module": {"__float__": lambda s: (vars(pd).pop("QPointF", None), 2.0)[1]},
    "setattr-raises": {"__setattr__": _raise("setattr")}, "getattr-raises": {"__getattribute__": _raise("getattr")},
    "setattr-stops": {"__setattr__": _raise("stop", Stop)}, "getattr-stops": {"__getattribute__": _raise("stop", Stop)},
    "str-empty": {"__str__": lambda s: ""},
}


def hostile(kind, w):
    obj = type(kind.title().replace("-", ""), (), dict(KINDS[kind]))()
    object.__setattr__(obj, "w", w)
    return w.keep(obj)


class LyingList(list):
    def __len__(self):
        return 0


class StrSub(str):
    def __str__(self):
        return ""


class Unprintable(Exception):
    def __str__(self):
        raise ValueError("no text")


class FsPath:
    def __init__(self, result):
        self.result = result

    def __fspath__(self):
        return self.result if self.result is not None else _raise("no path", OSError)(self)


class Fmt:
    def __format__(self, how):
        return 5


class Haunted(str):
    """A namespace key equal in hash to a real name, whose comparison raises."""

    __hash__ = str.__hash__

    def __eq__(self, other):
        raise ValueError("haunted")


def haunt(module, name):
    """Replaces module.name by a key that no lookup of the name gets past."""
    value = vars(module).pop(name)
    vars(module)[Haunted(name)] = value


class Trap:
    """Any body that gets past the binding fails at once on it, touching nothing."""

    def __getattr__(self, name):
        raise LookupError("trap")


def rec_qpointf(w):
    def QPointF_(x, y):  # noqa: N802  (stands in for the class)
        w.log.append(("QPointF", norm(x, w), norm(y, w)))
        return QPointF(x, y)
    return w.keep(QPointF_)


def holder(w, memory):
    h = w.keep(type("Holder", (), {})())
    if memory is not MISSING:
        h._last_dir = make(memory, w)
    return h


def edit(w, text, deleted=False):
    e = w.keep(QLineEdit())
    e.setText(text)
    if deleted:
        shiboken6.delete(e)
    return e


def tree(w, deleted=False):
    root = w.keep(QWidget())
    w.keep(QLineEdit(root)).setObjectName("edit")
    if deleted:
        shiboken6.delete(root)
    return root


META = {
    "check-raises": {"__instancecheck__": _raise("check")}, "check-lies": {"__instancecheck__": lambda c, o: Liar()},
    "check-true": {"__instancecheck__": lambda c, o: True}, "name-raises": {"__name__": property(_raise("name"))},
    "name-formats-badly": {"__name__": property(lambda c: Fmt())},
    "name-lies": {"__name__": property(lambda c: StrSub("Shown"))},
    "name-stops": {"__name__": property(_raise("stop", Stop))},
}

MAKERS = {
    "@h": lambda w, kind: hostile(kind, w),
    "@nd": lambda w, dtype, vals: w.keep(_array(vals, dtype)),
    "@list": lambda w, vals: w.keep([make(v, w) for v in vals]),
    "@2d": lambda w: w.keep(np.ones((2, 2))), "@0d": lambda w: w.keep(np.array(1.5)),
    "@lying": lambda w: w.keep(LyingList([QPointF(1, 1)])), "@points": lambda w: w.keep([QPointF(9, 9)]),
    "@other": lambda w: w.other, "@plain": lambda w: w.plain, "@bare": lambda w: w.keep(object()),
    "@rec-qpointf": rec_qpointf, "@trap": lambda w: w.keep(Trap()),
    "@exc": lambda w, name, text: {"ValueError": ValueError, "OSError": OSError, "Stop": Stop}[name](text),
    "@unprintable": lambda w: Unprintable(),
    "@gen": lambda w, items: w.keep(iter([make(i, w) for i in items])),
    "@strsub": lambda w, text: w.keep(StrSub(text)), "@path": lambda w, text: w.keep(Path(text)),
    "@fspath": lambda w, result: w.keep(FsPath(result)), "@holder": holder, "@edit": edit,
    "@deleted-edit": lambda w: edit(w, str(DATA), True),
    "@edit-none": lambda w: w.keep(types.SimpleNamespace(text=lambda: None)),
    "@edit-raises": lambda w: w.keep(types.SimpleNamespace(text=lambda: _raise("text")(None))),
    "@tree": tree, "@deleted-tree": lambda w: tree(w, True), "@qedit": lambda w: w.keep(QLineEdit()),
    "@finder": lambda w, child: w.keep(Finder(w, make(child, w))),
    "@meta": lambda w, kind: w.keep(type(kind, (type,), dict(META[kind]))("Hostile", (), {})),
}


def _array(vals, dtype):
    with np.errstate(all="ignore"):
        return np.array(vals, dtype=float).astype(dtype)


def make(desc, w):
    """The object that a description names, made afresh for world w; plain values are shared."""
    if type(desc) is tuple and desc and type(desc[0]) is str and desc[0] in MAKERS:
        return MAKERS[desc[0]](w, *desc[1:])
    return tuple(make(v, w) for v in desc) if type(desc) is tuple else desc


class Double:
    """A series or axis double: records each call as it arrives, and a hook runs on the first call of
    its method. With a Qt twin it also drives a real series or axis, so Qt's answers and failures count."""

    METHODS = ("append", "replace", "clear", "isVisible", "setVisible", "setRange", "setTickCount", "tickCount")

    def __init__(self, w, tag, qt=None):
        self.w, self.tag, self.qt, self.hooks, self.answers = w, tag, qt, {}, {"isVisible": True, "tickCount": 5}

    def __getattr__(self, name):
        if name not in Double.METHODS:
            raise AttributeError(name)

        def call(*args):
            picture = num if self.tag.startswith("ax") else norm
            self.w.log.append((self.tag, name) + tuple(picture(a, self.w) for a in args))
            hook = self.hooks.pop(name, None)
            lie = HOOKS[hook](self.w) if hook else None
            if name in ("setVisible", "setTickCount"):
                self.answers["isVisible" if name == "setVisible" else "tickCount"] = args[0]
            answer = getattr(self.qt, name)(*args) if self.qt is not None else self.answers.get(name)
            return answer if lie is None else lie
        return call


def qt_state(d):
    q = d.qt
    if q is None or not shiboken6.isValid(q):
        return None
    if isinstance(q, QValueAxis):
        return repr((q.min(), q.max(), q.tickCount()))
    return repr([(p.x(), p.y()) for p in q.points()] + [q.isVisible()])


def fed_buffer(w, tag):
    b = w.keep(w.impl.TimeSeriesBuffer(w.keep(Double(w, tag))))
    b.add_point(1, 3.0)
    return b


HOOKS = {
    "raise": lambda w: _raise("hook")(None), "clear": lambda w: w.buf.clear(),
    "set": lambda w: w.buf.set_data(w.keep([7.0, 8.0]), 1.5), "add": lambda w: w.buf.add_point(9, 9),
    "swap-points": lambda w: setattr(w.buf, "_pending_points", w.keep([QPointF(9, 9)])),
    "swap-series": lambda w: setattr(w.buf, "series", w.other), "wipe": lambda w: w.buf.__dict__.clear(),
    "drop-qpointf": lambda w: vars(pd).pop("QPointF", None), "liar": lambda w: hostile("bool-raises", w),
    "falsy": lambda w: np.bool_(False),
    # for the synchronisers
    "six": lambda w: np.int64(6), "text": lambda w: "6", "cmp": lambda w: hostile("cmp-raises", w),
    "grow": lambda w: w.buffers.append(fed_buffer(w, "g")), "shrink": lambda w: w.buffers.clear(),
    "reenter": lambda w: w.sync(w.buffers, w.axX, w.axY, *w.args),
}


DATA = Path(tempfile.mkdtemp(prefix="larkui-hostile-"))  # a folder and a file for the choosers
atexit.register(shutil.rmtree, DATA, True)
(DATA / "sub").mkdir()
(DATA / "f.txt").write_text("x")


class Stub:
    """Stands in for QFileDialog, QMessageBox or filedesk: records each call and answers as told."""

    def __init__(self, w, tag, answers):
        self.w, self.tag, self.answers = w, tag, answers

    def __getattr__(self, name):
        if name not in self.answers:
            raise AttributeError(name)

        def method(*args, **kwargs):
            self.w.log.append((self.tag, name, norm(args, self.w), norm(kwargs, self.w)))
            answer = make(self.answers[name], self.w)
            if isinstance(answer, BaseException):
                raise answer
            return answer
        return method


class Finder:
    def __init__(self, w, child):
        self.w, self.child = w, child

    def findChild(self, *args, **kwargs):
        self.w.log.append(("findChild", norm(args, self.w), norm(kwargs, self.w)))
        return self.child


@contextlib.contextmanager
def module_entry(name, value):
    saved = sys.modules[name]
    sys.modules[name] = value
    try:
        yield
    finally:
        sys.modules[name] = saved


def stub_module(name):
    m = types.ModuleType(name)
    m.__getattr__ = lambda attr: _raise("stub")(None)
    return m


def vectorcall(func, positional, kwnames, kwvalues):
    """Calls func through PyObject_Vectorcall, which lets a keyword name that is not a str reach it."""
    api = ctypes.pythonapi.PyObject_Vectorcall
    api.restype, api.argtypes = ctypes.py_object, [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object]
    items = list(positional) + list(kwvalues)
    stack = (ctypes.py_object * max(len(items), 1))(*items)
    return api(func, ctypes.cast(stack, ctypes.c_void_p), len(positional), tuple(kwnames))


def raised(fn):
    try:
        fn()
    except Exception as e:
        return type(e).__name__, str(e)


class StandIn:
    """Offers only the methods named, records their calls, and answers as told."""

    def __init__(self, *methods, **answers):
        self.calls = []
        for m in methods + tuple(answers):
            setattr(self, m, lambda *args, m=m: self.calls.append((m,) + args) or answers.get(m, lambda: None)())


