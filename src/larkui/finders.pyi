"""Checked widget lookup: `find_child_safe`, a `findChild` that fails at once and says what is missing.

Where a bare `findChild` returns None for a missing widget, `find_child_safe` raises
RuntimeError on the spot, naming the object name and the class it expected, and its result is
typed as the class you asked for. The module keeps no state; call it on the GUI thread, like
the widgets it searches.
"""

from typing import TypeVar

from PySide6.QtCore import QObject

T = TypeVar("T", bound=QObject)

def find_child_safe(parent: QObject, widget_type: type[T], name: str) -> T:
    """Return the child of `parent` of class `widget_type` whose object name is `name`, or raise.

    A bare `findChild` returns None for a missing widget (a renamed object in the Designer file, a
    typo) and the window fails later, far from the cause. This makes one call,
    `parent.findChild(widget_type, name)`, with Qt's default recursive search, and returns the very
    object it gives when that object is an instance of `widget_type`; anything else it gives (None
    when nothing matches) counts as not found. The stubs type the result as an instance of
    `widget_type`: `find_child_safe(window, QLineEdit, "pathEdit")` is a `QLineEdit` to your editor
    and to mypy.

    Args:
        parent: the object to search under, normally a window or a widget; any object with a
            `findChild` method works (not checked).
        widget_type: the class of the child, for example `QLineEdit` or `QPushButton`; the
            result is typed as an instance of it (not checked; Qt matches the class).
        name: the child's Qt object name; must be exactly a `str` (None and instances of str
            subclasses are refused). It is passed on as it is: an empty name finds a child
            whose object name is empty.

    Returns:
        The child widget, the identical object that `findChild` returned.

    Raises:
        RuntimeError: ``[UI Load Error] Cannot find widget: 'NAME' (Expected type: CLASS)``,
            with `name` as given and `widget_type.__name__`, when no child of that class has
            that name (a child with the right name but another class is not found either).
        TypeError: ``Argument 'name' has incorrect type (expected str, got TYPE)`` when `name`
            is not exactly a `str`, raised before any lookup; ``find_child_safe() takes
            exactly 3 positional arguments (N given)`` for a wrong count.
        AttributeError: when `parent` has no `findChild`; any error of the lookup itself
            propagates unchanged.
    """
