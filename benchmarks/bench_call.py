"""Cost of a larkui call against a plain-Python function doing the same work.

Run by hand:  python benchmarks/bench_call.py
Prints the best time per call of each, side by side in one run, and their ratio
(target: the larkui call costs at most 0.7 of the plain-Python one).
"""
import os
import sys
import timeit

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

from larkui.finders import find_child_safe  # noqa: E402


def find_child_safe_py(parent, widget_type, name):
    """The same steps in plain Python: exact-str check, lookup, instance check, message."""
    if type(name) is not str:
        raise TypeError("Argument '%.200s' has incorrect type (expected %.200s, got %.200s)"
                        % ("name", "str", type(name).__name__))
    child = parent.findChild(widget_type, name)
    if isinstance(child, widget_type):
        return child
    raise RuntimeError(f"[UI Load Error] Cannot find widget: '{name}' (Expected type: {widget_type.__name__})")


class Widget:
    pass


class Parent(dict):
    """A parent whose findChild costs next to nothing: a C-level lookup of the class."""

    findChild = dict.get


class PyParent:
    """A parent whose findChild is a one-line Python method."""

    def __init__(self, child):
        self.child = child

    def findChild(self, widget_type, name):
        return self.child


def side_by_side(stmt, namespace, number, repeat=9):
    """Best time per call of each function, the two timed in alternation so that load hits both alike."""
    timers = [timeit.Timer(stmt, globals=dict(namespace, f=f)) for f in (find_child_safe, find_child_safe_py)]
    best = [float("inf"), float("inf")]
    for _ in range(repeat):
        for i, timer in enumerate(timers):
            best[i] = min(best[i], timer.timeit(number) / number)
    return best


def main():
    child = Widget()
    namespace = {"parent": Parent({Widget: child}), "py_parent": PyParent(child), "Widget": Widget}
    cases = [
        ("found", "f(parent, Widget, 'child')", 500_000),
        ("found, keywords", "f(parent, widget_type=Widget, name='child')", 500_000),
        ("found, Python lookup", "f(py_parent, Widget, 'child')", 500_000),
        ("name=None refused", "try:\n    f(parent, Widget, None)\nexcept TypeError:\n    pass", 100_000),
        ("too few arguments", "try:\n    f(parent, Widget)\nexcept TypeError:\n    pass", 100_000),
        ("not found", "try:\n    f(parent, int, 'child')\nexcept RuntimeError:\n    pass", 100_000),
    ]
    print(f"Python {sys.version.split()[0]}")
    print(f"{'case':<24}{'larkui ns':>12}{'python ns':>12}{'ratio':>8}")
    for label, stmt, number in cases:
        lark, plain = side_by_side(stmt, namespace, number)
        print(f"{label:<24}{lark * 1e9:>12.1f}{plain * 1e9:>12.1f}{lark / plain:>8.2f}")


if __name__ == "__main__":
    main()
