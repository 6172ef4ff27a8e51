from typing import TypeVar

from PySide6.QtCore import QObject

T = TypeVar("T", bound=QObject)

def find_child_safe(parent: QObject, widget_type: type[T], name: str) -> T:
    """Return the child of `parent` of class `widget_type` named `name`, or raise RuntimeError."""
