import os
import pathlib
from pathlib import Path

import pytest
from PySide6.QtWidgets import QLineEdit, QWidget

import larkui.choosers as ch
from support import allocated_growth, call_swallowing, run_python

class Dialogs:
    """Stands in for QFileDialog's static functions: records each call, answers from a queue."""

    def __init__(self):
        self.calls = []
        self.answers = []

    def _answer(self, kind, args, kwargs):
        self.calls.append((kind, args, kwargs))
        return self.answers.pop(0)

    def getExistingDirectory(self, *args, **kwargs):
        return self._answer("folder", args, kwargs)

    def getOpenFileName(self, *args, **kwargs):
        return self._answer("file", args, kwargs)


class Boxes:
    def __init__(self):
        self.shown = []

    def warning(self, *args, **kwargs):
        assert not kwargs
        self.shown.append(("warning",) + args)

    def critical(self, *args, **kwargs):
        assert not kwargs
        self.shown.append(("critical",) + args)


class Desk:
    """Stands in for fernkit.filedesk, recording the exact arguments it is given."""

    def __init__(self, found=None, out="OUT"):
        self.found = (["f1"], ["b1"]) if found is None else found
        self.out = out
        self.finds, self.outputs = [], []

    def find_files_with_extensions(self, *args, **kwargs):
        self.finds.append((args, kwargs))
        if isinstance(self.found, BaseException):
            raise self.found
        return self.found

    def generate_output_path(self, *args, **kwargs):
        self.outputs.append((args, kwargs))
        return self.out


class Holder:
    pass


@pytest.fixture
def dialogs(monkeypatch):
    d = Dialogs()
    monkeypatch.setattr(ch, "QFileDialog", d)
    return d


@pytest.fixture
def boxes(monkeypatch):
    b = Boxes()
    monkeypatch.setattr(ch, "QMessageBox", b)
    return b


@pytest.fixture
def desk(monkeypatch):
    d = Desk()
    monkeypatch.setattr(ch, "filedesk", d)
    return d


@pytest.fixture
def parent():
    w = QWidget()
    yield w
    w.deleteLater()


def line(text=""):
    e = QLineEdit()
    e.setText(text)
    return e


# ---- module interface ----

@pytest.mark.parametrize("block, exc_type", [
    ("sys.modules['fernkit'] = None", "ModuleNotFoundError"),
    ("import types; sys.modules['fernkit'] = types.ModuleType('fernkit')", "ImportError"),
], ids=["missing", "without-filedesk"])
def test_import_without_fernkit_says_what_to_install(block, exc_type):
    proc = run_python(f"""
        import sys
        {block}
        try:
            import larkui.choosers
        except ImportError as e:
            print(type(e).__name__, e.__notes__)
    """)
    assert proc.returncode == 0, proc.stderr
    name, notes = proc.stdout.split(" ", 1)
    assert name == exc_type and "pip install ./fernkit" in notes and "not on PyPI" in notes


# ---- last-directory memory ----

class Slotted:
    __slots__ = ("other",)


class Guarded:
    def __init__(self, exc):
        self.exc = exc

    @property
    def _last_dir(self):
        raise self.exc

    @_last_dir.setter
    def _last_dir(self, value):
        raise self.exc


class BadText(str):
    def __str__(self):
        raise ValueError("no text")


@pytest.mark.parametrize("stored, expected", [
    ("", None), (0, None), (None, None), (["x"], None), (pathlib.PurePosixPath("p"), None), (BadText("x"), None),
    ("data", Path("data")), ("   ", Path("   ")), (Path("/tmp/x"), Path("/tmp/x")), (type("S", (str,), {})("s"), Path("s")),
])
def test_get_start_dir_reads_only_usable_memories(stored, expected):
    h, fallback = Holder(), Path("/fallback")
    h._last_dir = stored
    got = ch._get_start_dir(h, "_last_dir", fallback)
    if expected is None:
        assert got is fallback
    else:
        assert type(got) is type(expected) and got == expected and got is not stored


@pytest.mark.parametrize("obj", [None, Holder(), Slotted(), Guarded(ValueError("boom"))])
def test_missing_or_unreadable_memory_gives_the_fallback_itself(obj):
    fallback = object()
    assert ch._get_start_dir(obj, "_last_dir", fallback) is fallback


def test_set_last_dir_stores_a_path_and_swallows_only_ordinary_errors():
    h = Holder()
    assert ch._set_last_dir(h, "_last_dir", "a b/ü") is None
    assert h._last_dir == Path("a b/ü") and type(h._last_dir) is type(Path())
    ch._set_last_dir(h, "_last_dir", None)  # not a path: memory kept
    assert h._last_dir == Path("a b/ü")
    assert ch._set_last_dir(None, "_last_dir", "x") is None
    assert ch._set_last_dir(Slotted(), "_last_dir", "x") is None
    assert ch._set_last_dir(Guarded(OSError()), "_last_dir", "x") is None


@pytest.mark.parametrize("fn, args", [(ch._get_start_dir, ("_last_dir", Path("/f"))),
                                      (ch._set_last_dir, ("_last_dir", "x"))])
@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit])
def test_memory_lets_base_exceptions_through(fn, args, exc):
    with pytest.raises(exc):
        fn(Guarded(exc()), *args)


@pytest.mark.parametrize("fn", [ch._get_start_dir, ch._set_last_dir])
def test_memory_attr_must_be_exact_str(fn):
    with pytest.raises(TypeError, match=r"^Argument 'attr' has incorrect type \(expected str, got NoneType\)$"):
        fn(Holder(), None, "x")
    with pytest.raises(TypeError) as info:
        fn(Holder(), type("S", (str,), {})("a"), "x")
    assert "subclasses of built-in types" in info.value.__notes__[0]
    with pytest.raises(TypeError, match=r"takes exactly 3 positional arguments \(2 given\)"):
        fn(None, "a")


# ---- choosers ----

@pytest.mark.parametrize("pick, answer", [(ch.pick_folder_path, ""), (ch.pick_file_path, ("", ""))])
def test_cancel_changes_nothing(dialogs, parent, pick, answer):
    h, edit = Holder(), line("before")
    h._last_dir = "/remembered"
    dialogs.answers = [answer]
    assert pick(parent, line_edit=edit, last_dir_obj=h) is None
    assert edit.text() == "before" and h._last_dir == "/remembered"


def test_memory_round_trip_across_both_choosers(dialogs, parent, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    h, edit = Holder(), line()
    data, calib = tmp_path / "dáta dir", tmp_path / "calib"
    dialogs.answers = [str(data), (str(calib / "c 1.ini"), "Ini (*.ini)"), str(data) + "/", ("", "")]

    assert ch.pick_folder_path(parent, line_edit=edit, last_dir_obj=h) == str(data)
    assert h._last_dir == data and edit.text() == str(data)
    got = ch.pick_file_path(parent, line_edit=edit, title="T", name_filter="Ini (*.ini)", last_dir_obj=h,
                            return_pathlib=True)
    assert got == calib / "c 1.ini" and edit.text() == str(calib / "c 1.ini") and h._last_dir == calib
    assert ch.pick_folder_path(None, last_dir_obj=h, last_dir_attr="_cal") == str(data) + "/"
    ch.pick_file_path(None, last_dir_obj=h)

    assert dialogs.calls == [
        ("folder", (parent, "Select Folder", str(tmp_path)), {}),  # no memory yet: the working directory
        ("file", (parent, "T", str(data), "Ini (*.ini)"), {}),
        ("folder", (None, "Select Folder", str(tmp_path)), {}),  # a separate memory under its own name
        ("file", (None, "Select File", str(calib), "All Files (*)"), {}),
    ]
    assert h._cal == data  # the trailing separator does not survive in the memory
    assert vars(h).keys() == {"_last_dir", "_cal"}


def test_deleted_remembered_folder_is_still_offered(dialogs, tmp_path):
    h = Holder()
    h._last_dir = tmp_path / "gone"
    dialogs.answers = [""]
    ch.pick_folder_path(None, last_dir_obj=h)
    assert dialogs.calls[0][1][2] == str(tmp_path / "gone")


@pytest.mark.parametrize("flag, as_path", [(1, True), ("x", True), (object(), True), (None, False), (0, False),
                                           ("", False)])
@pytest.mark.parametrize("pick, answer", [(ch.pick_folder_path, "/a b/ü"), (ch.pick_file_path, ("/a b/ü", "f"))])
def test_return_pathlib_by_truth_and_line_edit_gets_text(dialogs, pick, answer, flag, as_path):
    dialogs.answers = [answer]
    edit = line()
    got = pick(None, line_edit=edit, return_pathlib=flag)
    assert got == Path("/a b/ü") if as_path else got == "/a b/ü"
    assert edit.text() == "/a b/ü"


class NoTruth:
    def __bool__(self):
        raise ZeroDivisionError("truth")


@pytest.mark.parametrize("pick, kwargs, message", [
    (ch.pick_folder_path, dict(return_pathlib=NoTruth(), title=None), "truth"),
    (ch.pick_file_path, dict(title=1, name_filter=None, last_dir_attr=None), "'title'.*got int"),
    (ch.pick_file_path, dict(name_filter=b"", last_dir_attr=None), "'name_filter'.*got bytes"),
    (ch.pick_folder_path, dict(last_dir_attr=None), "'last_dir_attr'.*got NoneType"),
])
def test_checks_run_before_any_dialog_in_order(dialogs, pick, kwargs, message):
    with pytest.raises((ZeroDivisionError, TypeError), match=message):
        pick(None, **kwargs)
    assert dialogs.calls == []


@pytest.mark.parametrize("pick", [ch.pick_folder_path, ch.pick_file_path])
def test_second_positional_argument_is_refused(dialogs, pick):
    with pytest.raises(TypeError, match=r"^%s\(\) takes exactly 1 positional argument \(2 given\)$" % pick.__name__):
        pick(None, line())
    assert dialogs.calls == []


@pytest.mark.parametrize("answer, message", [
    (("a",), "need more than 1 value to unpack"), ([], "need more than 0 values to unpack"),
    (("a", "b", "c"), r"too many values to unpack \(expected 2\)"), (iter("abc"), "too many"), (5, "not iterable"),
])
def test_file_dialog_result_must_be_a_pair(dialogs, answer, message):
    h = Holder()
    dialogs.answers = [answer]
    with pytest.raises((ValueError, TypeError), match=message):
        ch.pick_file_path(None, last_dir_obj=h)
    assert not hasattr(h, "_last_dir")


def test_failures_propagate_and_keep_an_earlier_memory(dialogs, tmp_path, monkeypatch):
    class BadEdit(QLineEdit):
        def setText(self, text):
            raise KeyboardInterrupt

    h = Holder()
    dialogs.answers = ["/chosen"]
    with pytest.raises(KeyboardInterrupt):
        ch.pick_folder_path(None, line_edit=BadEdit(), last_dir_obj=h)
    assert h._last_dir == Path("/chosen")

    gone = tmp_path / "gone"
    gone.mkdir()
    monkeypatch.chdir(gone)
    gone.rmdir()
    h._last_dir = "/elsewhere"
    with pytest.raises(FileNotFoundError):
        ch.pick_file_path(None, last_dir_obj=h)
    assert len(dialogs.calls) == 1


def test_rebinding_module_names_changes_later_calls(dialogs, monkeypatch):
    seen = []
    monkeypatch.setattr(ch, "_get_start_dir", lambda *a: seen.append(a) or "/start")
    monkeypatch.setattr(ch, "_set_last_dir", lambda *a: seen.append(a))
    dialogs.answers = ["/x"]
    obj = Holder()
    ch.pick_folder_path(None, last_dir_obj=obj, last_dir_attr="m")
    assert seen == [(obj, "m", Path.cwd()), (obj, "m", "/x")]
    assert dialogs.calls[0][1][2] == "/start"
    monkeypatch.delattr(ch, "QFileDialog")
    with pytest.raises(NameError, match="^name 'QFileDialog' is not defined$"):
        ch.pick_folder_path(None)


# ---- collection ----

class Edit(QLineEdit):
    """A line edit whose text() answers with a given value or error."""

    def __init__(self, value):
        super().__init__()
        self.value = value

    def text(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


def explode(exc):
    def f(*a, **k):
        raise exc
    return f


@pytest.fixture
def tree(tmp_path):
    data = tmp_path / "dáta  1"
    data.mkdir()
    for n in ("b.csv", "a.CSV", "c.txt"):
        (data / n).write_text("x")
    return data


# (line text, change to the stand-in filedesk, box shown, result or exception type)
FAILURES = [
    pytest.param("", None, ("warning", "No path", "Please choose a file or a folder first."), None, id="empty"),
    pytest.param(" \t ", None, ("warning", "No path", "Please choose a file or a folder first."), None, id="blank"),
    pytest.param(None, None, ("warning", "No path", "Please choose a file or a folder first."), None, id="text-None"),
    pytest.param("  {tmp}/nope ", None, ("warning", "Invalid path", "Path not found:\n{tmp}/nope"), None,
                 id="not-found"),
    pytest.param("{tree}", dict(found=([], [])), None, None, id="no-match"),
    pytest.param("{tree}", dict(found=PermissionError("denied")), ("critical", "I/O error", "denied"), None,
                 id="find-raises"),
    pytest.param("{tree}", dict(found=("a", "b", "c")),
                 ("critical", "I/O error", "too many values to unpack (expected 2)"), None, id="three-values"),
    pytest.param("{tree}", dict(found=[["a"]]), ("critical", "I/O error", "need more than 1 value to unpack"),
                 None, id="one-value"),
    pytest.param("{tree}", dict(out=3), ("critical", "I/O error", lambda: Path(3)), None, id="bad-out"),
    pytest.param("x" * 5000, None, ("critical", "I/O error", lambda: os.stat("x" * 5000)), None, id="is-dir-raises"),
    pytest.param(ValueError("text"), None, None, ValueError, id="text-raises"),
    pytest.param(5, None, None, AttributeError, id="strip-fails"),
    pytest.param("a\0b", None, ("warning", "Invalid path", "Path not found:\na\0b"), None, id="nul-in-path"),
]


def error_text(text, tmp_path):
    if isinstance(text, str):
        return text.format(tmp=tmp_path)
    try:  # the library's own text for that failure
        text()
    except Exception as e:
        return str(e)


@pytest.mark.parametrize("text, change, box, result", FAILURES)
def test_failure_table(boxes, desk, parent, tmp_path, tree, text, change, box, result):
    for key, value in (change or {}).items():
        setattr(desk, key, value)
    if isinstance(text, str):
        text = text.format(tmp=tmp_path, tree=tree)
    if isinstance(result, type):
        with pytest.raises(result):
            ch.collect_files_from_lineEdit(parent, Edit(text), "out", [])
    else:
        assert ch.collect_files_from_lineEdit(parent, Edit(text), "out", []) is result
    expected = [] if box is None else [(box[0], parent, box[1], error_text(box[2], tmp_path))]
    assert boxes.shown == expected


@pytest.mark.parametrize("args, message", [
    (("p", "e", None, []), "'out_dir_name'.*expected str, got NoneType"),
    (("p", "e", "o", ("",)), "'name_filter'.*expected list, got tuple"),
    (("p", "e", "o", None), "'name_filter'.*expected list, got NoneType"),
    (("p", "e", "o", type("L", (list,), {})()), "'name_filter'.*expected list"),
    (("p", "e", None, None, NoTruth()), "truth"),
    (("p", "e", "o"), r"takes at least 4 positional arguments \(3 given\)"),
    (("p", "e", "o", [], 1, 2), r"takes at most 5 positional arguments \(6 given\)"),
])
def test_collect_refuses_bad_calls_before_reading(boxes, args, message):
    edit = Edit(AssertionError("read"))
    args = tuple(edit if a == "e" else a for a in args)
    with pytest.raises((TypeError, ZeroDivisionError), match=message):
        ch.collect_files_from_lineEdit(*args)
    assert boxes.shown == []


@pytest.mark.parametrize("flag, sent", [(1, True), (object(), True), (None, False), ("", False)])
def test_folder_call_arguments(boxes, desk, tree, flag, sent):
    filters = [".csv"]
    got = ch.collect_files_from_lineEdit(None, line(f" {tree}/ "), "res", filters, flag)
    (args, kwargs), = desk.finds
    assert args == (str(tree), filters) and args[1] is filters and kwargs == {"sort_datecode": sent}
    assert type(kwargs["sort_datecode"]) is bool
    assert desk.outputs == [((str(tree), "res"), {})]
    assert got == (["f1"], ["b1"], Path("OUT")) and got[0] is desk.found[0] and got[1] is desk.found[1]


def test_single_file_and_empty_filter(boxes, desk, tree):
    filters = []
    ch.collect_files_from_lineEdit(None, line(str(tree / "a.CSV")), "res", filters)
    (args, kwargs), = desk.finds
    assert args == (str(tree / "a.CSV"), [""]) and kwargs == {"sort_datecode": False}
    assert filters == [] and args[1] is not filters
    assert desk.outputs == [((str(tree), "res"), {})]


def test_collect_with_the_real_library(boxes, tree, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    got = ch.collect_files_from_lineEdit(None, line(tree.name), "ünits out", [".csv"], True)
    assert got == ([os.path.join(tree.name, "a.CSV"), os.path.join(tree.name, "b.csv")], ["a.CSV", "b.csv"],
                   Path(tree.name) / "ünits out")
    assert not (tree / "ünits out").exists() and boxes.shown == []


def test_non_exception_errors_propagate_and_report_errors_chain(boxes, desk, tree, parent, monkeypatch):
    desk.found = KeyboardInterrupt()
    with pytest.raises(KeyboardInterrupt):
        ch.collect_files_from_lineEdit(parent, line(str(tree)), "o", [])
    assert boxes.shown == []

    desk.found = OSError("disk")
    monkeypatch.setattr(boxes, "critical", explode(RuntimeError("box")))
    with pytest.raises(RuntimeError, match="box") as info:
        ch.collect_files_from_lineEdit(parent, line(str(tree)), "o", [])
    assert str(info.value.__context__) == "disk"


def test_warning_box_failure_is_reported_as_io_error(boxes, desk, parent, monkeypatch):
    monkeypatch.setattr(boxes, "warning", explode(KeyError("no box")))
    assert ch.collect_files_from_lineEdit(parent, line("/no/such/place"), "o", []) is None
    assert boxes.shown == [("critical", parent, "I/O error", "'no box'")]


# ---- reference leaks ----

def test_no_leaks(monkeypatch, tree, tmp_path):
    monkeypatch.setattr(ch, "QFileDialog", type("D", (), {"getExistingDirectory": staticmethod(lambda *a: "/d"),
                                                          "getOpenFileName": staticmethod(lambda *a: ("/d/f", "*"))}))
    monkeypatch.setattr(ch, "QMessageBox", type("B", (), {"warning": staticmethod(lambda *a: 0),
                                                          "critical": staticmethod(lambda *a: 0)}))
    # setText on a real line edit is left out: under 3.11 the binding's void methods drop a
    # reference to None on each call, which thousands of calls turn into a crash at exit.
    h, edit, fallback = Holder(), type("Edit", (), {"setText": lambda self, text: None})(), Path("/f")
    folder, one_file, blank, missing = line(str(tree)), line(str(tree / "b.csv")), line(" "), line(str(tmp_path / "x"))
    h._last_dir = "/m"
    cases = (
        lambda: ch._get_start_dir(h, "_last_dir", fallback),
        lambda: ch._get_start_dir(Guarded(ValueError()), "_last_dir", fallback),
        lambda: ch._set_last_dir(h, "_last_dir", "/s"),
        lambda: ch._set_last_dir(Slotted(), "_last_dir", "/s"),
        lambda: ch.pick_folder_path(None, line_edit=edit, last_dir_obj=h, return_pathlib=True),
        lambda: ch.pick_file_path(None, line_edit=edit, last_dir_obj=h),
        call_swallowing(ch.pick_folder_path, None, title=None),
        lambda: ch.collect_files_from_lineEdit(None, folder, "out", [], True),
        lambda: ch.collect_files_from_lineEdit(None, one_file, "out", [".csv"]),
        lambda: ch.collect_files_from_lineEdit(None, blank, "out", []),
        lambda: ch.collect_files_from_lineEdit(None, missing, "out", []),
        lambda: ch.collect_files_from_lineEdit(None, folder, "/abs", []),  # reported error
        call_swallowing(ch.collect_files_from_lineEdit, None, Edit(5), "out", []),
    )
    # A leak grows in every round; warm-up noise of the interpreter (seen in pure-Python
    # code too) grows in one, so the smaller of two rounds is what counts.
    growth = [min(allocated_growth(fn, rounds=1000), allocated_growth(fn, warmup=0, rounds=1000)) for fn in cases]
    assert max(growth) <= 40, str(growth)
