"""find_child_safe on real widget trees, and its failure paths."""
import pytest
from PySide6.QtCore import QObject, QTimer
from PySide6.QtWidgets import QLineEdit, QPushButton, QWidget

from larkui.finders import find_child_safe


def not_found(name, type_name):
    return f"[UI Load Error] Cannot find widget: '{name}' (Expected type: {type_name})"


@pytest.fixture
def window():
    window = QWidget()
    panel = QWidget(window)
    panel.setObjectName("panel")
    edit = QLineEdit(panel)
    edit.setObjectName("path_edit")
    button = QPushButton(window)
    button.setObjectName("go")
    return window


class Recorder:
    def __init__(self, result=None):
        self.calls = []
        self.result = result

    def findChild(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return self.result


def test_finds_nested_child_as_the_same_object(window):
    edit = window.findChild(QLineEdit, "path_edit")
    assert find_child_safe(window, QLineEdit, "path_edit") is edit
    assert find_child_safe(window, QWidget, "path_edit") is edit  # a base class matches too
    assert find_child_safe(parent=window, widget_type=QPushButton, name="go").objectName() == "go"


def test_findchild_gets_exactly_two_positional_arguments():
    child = QLineEdit()
    parent = Recorder(child)
    name = "x" * 3
    assert find_child_safe(parent, QLineEdit, name) is child
    assert parent.calls == [((QLineEdit, name), {})]
    assert parent.calls[0][0][1] is name


@pytest.mark.parametrize("name", ["absent", "it's", "", "名稱", "a' (Expected type: X)"])
def test_absent_name(name):
    window = QWidget()  # no children, so even the empty name matches nothing
    with pytest.raises(RuntimeError) as info:
        find_child_safe(window, QLineEdit, name)
    assert info.value.args == (not_found(name, "QLineEdit"),)


def test_empty_name_follows_the_lookup(window):
    with pytest.raises(RuntimeError):  # every line edit here has a name
        find_child_safe(window, QLineEdit, "")
    unnamed = QLineEdit(window)
    assert window.findChild(QLineEdit, "") is unnamed
    assert find_child_safe(window, QLineEdit, "") is unnamed


def test_right_name_other_class(window):
    with pytest.raises(RuntimeError) as info:
        find_child_safe(window, QPushButton, "path_edit")
    assert str(info.value) == not_found("path_edit", "QPushButton")


def test_non_widget_child_is_found_by_its_own_class(window):
    timer = QTimer(window)
    timer.setObjectName("tick")
    assert find_child_safe(window, QTimer, "tick") is timer
    with pytest.raises(RuntimeError):
        find_child_safe(window, QWidget, "tick")


def test_result_not_an_instance_is_refused():
    with pytest.raises(RuntimeError) as info:
        find_child_safe(Recorder(QObject()), QLineEdit, "x")
    assert str(info.value) == not_found("x", "QLineEdit")


class Checker:
    """Stands in for a class: its own instance check, and a __name__ that is not text."""

    def __init__(self, verdict, name):
        self.verdict = verdict
        if name is not None:
            self.__name__ = name

    def __instancecheck__(self, obj):
        if isinstance(self.verdict, Exception):
            raise self.verdict
        return self.verdict


class Formatted:
    def __format__(self, format_spec):
        return f"Formatted[{format_spec}]"


@pytest.mark.parametrize("type_name, shown", [(42, "42"), (Formatted(), "Formatted[]"), ("Plain", "Plain")])
def test_type_name_is_formatted_with_an_empty_spec(type_name, shown):
    with pytest.raises(RuntimeError) as info:
        find_child_safe(Recorder(), Checker(False, type_name), "n")
    assert str(info.value) == not_found("n", shown)


def test_type_name_read_only_on_failure():
    child = object()
    assert find_child_safe(Recorder(child), Checker(True, None), "n") is child
    with pytest.raises(AttributeError):
        find_child_safe(Recorder(), Checker(False, None), "n")


@pytest.mark.parametrize("parent, widget_type, exc_type", [
    (object(), QWidget, AttributeError),
    (Recorder(object()), 5, TypeError),
    (Recorder(), Checker(KeyError("check"), "X"), KeyError),
], ids=["no-findChild", "not-a-class", "check-raises"])
def test_lookup_errors_propagate(parent, widget_type, exc_type):
    with pytest.raises(exc_type):
        find_child_safe(parent, widget_type, "n")


class Derived(str):
    pass


@pytest.mark.parametrize("name", [None, Derived("path_edit"), b"path_edit"])
def test_bad_name_fails_before_the_lookup(name):
    parent = Recorder(QWidget())
    with pytest.raises(TypeError):
        find_child_safe(parent, QWidget, name)
    assert parent.calls == []
