"""wrap_hosts_in_scroll and wrap_dynamic_charts_into_tabs, read back from real widgets."""
import gc

import pytest
from PySide6.QtCore import QSize, Qt
from PySide6.QtWidgets import QGridLayout, QHBoxLayout, QLabel, QScrollArea, QSizePolicy, QTabWidget, QVBoxLayout, QWidget
from shiboken6 import isValid

from larkui import plotdeck
from support import assert_no_leak, call_swallowing

scroll_fn = plotdeck.wrap_hosts_in_scroll
tabs_fn = plotdeck.wrap_dynamic_charts_into_tabs
P = QSizePolicy.Policy


def make_root(*names):
    root = QWidget()
    for name in names:
        QWidget(root).setObjectName(name)
    return root


def host(root, name):
    return root.findChild(QWidget, name)


def margins(layout):
    m = layout.contentsMargins()
    return m.left(), m.top(), m.right(), m.bottom()


def cell(grid, widget):
    return grid.getItemPosition(grid.indexOf(widget))[:2]


# ---- interface ----------------------------------------------------------------------------------


@pytest.mark.parametrize("call, exc, text", [
    (lambda r: scroll_fn(r, ["a"], cols="2"), TypeError, "Argument 'cols' has incorrect type (expected int, got str)"),
    (lambda r: scroll_fn(r, ["a"], root_margins=[1, 2, 3, 4]), TypeError, "expected tuple, got list"),
    (lambda r: scroll_fn(r, ["a"], 2), TypeError, "takes exactly 2 positional arguments (3 given)"),
    (lambda r: scroll_fn(r, ["a"], min_cell_size=(10,)), IndexError, "tuple index out of range"),
    (lambda r: scroll_fn(r, ["a"], host_heights={"a": "tall"}), TypeError, "Expected int, got str"),
    (lambda r: scroll_fn(r, ["a"], host_heights={"a": 1j}), TypeError, "int()"),
    (lambda r: tabs_fn(r, [("T", ["a"])]), TypeError, "expected dict, got list"),
    (lambda r: tabs_fn(r, {"T": ["a"]}, min_cell_size=[1, 2]), TypeError, "'min_cell_size'"),
    (lambda r: tabs_fn(r, {"T": 5}), TypeError, "len()"),
])
def test_argument_errors(call, exc, text):
    root = make_root("a")
    with pytest.raises(exc) as info:
        call(root)
    assert text in str(info.value)


@pytest.mark.parametrize("fn", [lambda r, t: scroll_fn(r, ["a"], root_margins=t),
                                lambda r, t: scroll_fn(r, ["a"], grid_margins=t),
                                lambda r, t: tabs_fn(r, {}, root_margins=t)],
                         ids=["scroll-root", "scroll-grid", "tabs"])
@pytest.mark.parametrize("size", [5, 7, 8, 12])
def test_margins_of_any_length_fail_as_the_unpacked_call(fn, size):
    # Up to seven margins are passed on the stack, more through a tuple call: either way the
    # error is the one `layout.setContentsMargins(*margins)` raises.
    margins = tuple(range(size))
    with pytest.raises(TypeError) as direct:
        QGridLayout().setContentsMargins(*margins)
    with pytest.raises(TypeError) as info:
        fn(make_root("a"), margins)
    assert str(info.value) == str(direct.value)


def test_failing_host_names_iterator_propagates():
    def names():
        yield "a"
        raise OSError("names failed")

    root = make_root("a")
    with pytest.raises(OSError, match="names failed"):
        scroll_fn(root, names())
    assert root.layout() is None and host(root, "a").parent() is root


@pytest.mark.parametrize("fn", [lambda r: scroll_fn(r, ["a"]), lambda r: tabs_fn(r, {})], ids=["scroll", "tabs"])
def test_removed_layout_class_on_a_root_without_layout(monkeypatch, fn):
    monkeypatch.delattr(plotdeck, "QVBoxLayout")
    root = make_root("a")
    with pytest.raises(NameError, match="name 'QVBoxLayout' is not defined"):
        fn(root)
    assert root.layout() is None


# ---- placement --------------------------------------------------------------------------------


def place_in_scroll(names, cols, missing):
    root = make_root(*(n for n in names if n not in missing))
    grid = scroll_fn(root, names, cols=cols).widget().layout()
    return {n: cell(grid, host(root, n)) for n in names if n not in missing}


def place_in_tabs(names, cols, missing):
    root = make_root(*(n for n in names if n not in missing))
    result = tabs_fn(root, {"T": names}, cols=cols)
    grid = next(iter(result.values())).parentWidget().layout()
    return {n: cell(grid, w) for n, w in result.items()}


N5 = ["h0", "h1", "h2", "h3", "h4"]


@pytest.mark.parametrize("place, names, cols, missing, cells", [
    # grid of the scroll area: row by row, found hosts only
    (place_in_scroll, N5, 2, (), [(0, 0), (0, 1), (1, 0), (1, 1), (2, 0)]),
    (place_in_scroll, N5, 3, (), [(0, 0), (0, 1), (0, 2), (1, 0), (1, 1)]),
    (place_in_scroll, N5, 0, (), [(0, 0), (1, 0), (2, 0), (3, 0), (4, 0)]),
    (place_in_scroll, N5, -4, (), [(0, 0), (1, 0), (2, 0), (3, 0), (4, 0)]),
    (place_in_scroll, N5, -1, (), [(0, 0), (1, 0), (2, 0), (3, 0), (4, 0)]),
    (place_in_scroll, N5, -10**30, (), [(0, 0), (1, 0), (2, 0), (3, 0), (4, 0)]),
    (place_in_scroll, N5, 2.9, (), [(0, 0), (0, 1), (1, 0), (1, 1), (2, 0)]),
    (place_in_scroll, N5, True, (), [(0, 0), (1, 0), (2, 0), (3, 0), (4, 0)]),
    (place_in_scroll, N5, 10**30, (), [(0, 0), (0, 1), (0, 2), (0, 3), (0, 4)]),
    (place_in_scroll, ["a", "b", "c"], 2, ("b",), [(0, 0), (0, 1)]),
    # grids of the tabs: column by column, names that do not exist are created in place
    (place_in_tabs, ["a", "b"], 2, (), [(0, 0), (0, 1)]),
    (place_in_tabs, N5, 2, (), [(0, 0), (1, 0), (2, 0), (0, 1), (1, 1)]),
    (place_in_tabs, N5[:4], 3, (), [(0, 0), (1, 0), (0, 1), (1, 1)]),
    (place_in_tabs, N5 + ["h5", "h6"], 3, (), [(0, 0), (1, 0), (2, 0), (0, 1), (1, 1), (2, 1), (0, 2)]),
    (place_in_tabs, N5[:3], 1, (), [(0, 0), (1, 0), (2, 0)]),
    (place_in_tabs, N5[:3], 0, (), [(0, 0), (1, 0), (2, 0)]),
    (place_in_tabs, N5[:3], -2, (), [(0, 0), (1, 0), (2, 0)]),
    (place_in_tabs, N5, 2.9, (), [(0, 0), (1, 0), (2, 0), (0, 1), (1, 1)]),
    (place_in_tabs, ["a", "b", "c"], 2, ("b",), [(0, 0), (1, 0), (0, 1)]),
])
def test_placement(place, names, cols, missing, cells):
    assert list(place(names, cols, missing).values()) == cells


@pytest.mark.parametrize("fn", [place_in_scroll, place_in_tabs], ids=["scroll", "tabs"])
def test_names_of_any_iterable_place_alike(fn):
    # Lists and tuples are read by index, any other iterable through its iterator.
    cells = [fn(kind(N5), 2, ()) for kind in (list, tuple, lambda names: dict.fromkeys(names).keys())]
    assert cells == [cells[0]] * 3


# ---- the scroll grid --------------------------------------------------------------------------


def test_scroll_tree():
    root = make_root("a", "b")
    scroll = scroll_fn(root, iter(["a", "b"]), root_margins=(1, 2, 3, 4), grid_margins=(5, 6, 7, 8),
                       grid_hgap=9.5, grid_vgap=11, min_cell_size=(120, 90))
    lay = root.layout()
    assert isinstance(lay, QVBoxLayout) and lay.count() == 1 and lay.itemAt(0).widget() is scroll
    assert margins(lay) == (1, 2, 3, 4) and lay.spacing() == 6
    assert scroll.parent() is root and not scroll.widgetResizable()
    assert scroll.horizontalScrollBarPolicy() == scroll.verticalScrollBarPolicy() == Qt.ScrollBarAsNeeded
    content = scroll.widget()
    grid = content.layout()
    assert isinstance(grid, QGridLayout)
    assert margins(grid) == (5, 6, 7, 8)
    assert (grid.horizontalSpacing(), grid.verticalSpacing()) == (9, 11)
    assert content.minimumSize() == content.sizeHint() == content.size()
    assert content.size().width() >= 2 * 120 + 9 + 5 + 7
    for h in (host(root, "a"), host(root, "b")):
        assert h.parent() is content
        assert (h.minimumWidth(), h.minimumHeight(), h.maximumHeight()) == (120, 90, 16777215)
        assert (h.sizePolicy().horizontalPolicy(), h.sizePolicy().verticalPolicy()) == (P.Preferred, P.Preferred)
    assert all(grid.rowStretch(r) == 0 for r in range(grid.rowCount()))


@pytest.mark.parametrize("heights, fixed", [
    (300, {"a": 300, "b": 300}),
    (0, {"a": 0, "b": 0}),
    (True, {"a": 1, "b": 1}),
    ({"a": 300}, {"a": 300}),
    ({"a": 120.7, "b": None}, {"a": 120}),
    ({"b": False}, {"b": 0}),
    ("300", {}),
    ([300], {}),
])
def test_host_heights(heights, fixed):
    root = make_root("a", "b")
    scroll_fn(root, ["a", "b"], min_cell_size=(50, 70), host_heights=heights)
    for name in "ab":
        h = host(root, name)
        if name in fixed:
            assert (h.minimumHeight(), h.maximumHeight()) == (fixed[name], fixed[name])
            assert h.sizePolicy().verticalPolicy() == P.Fixed
        else:
            assert (h.minimumHeight(), h.maximumHeight()) == (70, 16777215)
            assert h.sizePolicy().verticalPolicy() == P.Preferred
        assert h.minimumWidth() == 50 and h.sizePolicy().horizontalPolicy() == P.Preferred


def test_scroll_nothing_found_touches_nothing():
    root = make_root("a")
    assert scroll_fn(root, []) is None
    assert scroll_fn(root, ["x", "y"]) is None
    assert root.layout() is None and host(root, "a").parent() is root


def test_scroll_empties_a_root_layout_that_held_other_widgets():
    root = QWidget()
    lay = QHBoxLayout(root)
    panel, label = QWidget(), QLabel("x")
    lay.addWidget(panel)
    lay.addStretch()
    inner = QVBoxLayout()
    lay.addLayout(inner)
    lay.addWidget(label)
    nested = QWidget()
    nested.setObjectName("nested")
    inner.addWidget(nested)
    # A host inside a detached widget other than the last one must survive until it is placed.
    QWidget(panel).setObjectName("in_panel")
    del nested, panel
    scroll = scroll_fn(root, ["in_panel", "nested"], cols=1)
    assert root.layout() is lay and lay.count() == 1 and lay.itemAt(0).widget() is scroll
    assert label.parent() is None
    content = scroll.widget()
    assert host(root, "in_panel").parent() is content and host(root, "nested").parent() is content


def test_scroll_twice_moves_hosts_and_detaches_the_first_area():
    root = make_root("a", "b", "c")
    first = scroll_fn(root, ["a", "b"])
    second = scroll_fn(root, ["b", "a"])
    assert first.parent() is None and root.layout().count() == 1
    grid = second.widget().layout()
    assert cell(grid, host(root, "b")) == (0, 0) and cell(grid, host(root, "a")) == (0, 1)
    # An earlier area nobody holds goes away on return, with the hosts this call does not name.
    a, c = host(root, "a"), host(root, "c")
    del first, second
    third = scroll_fn(root, ["c"])
    gc.collect()
    assert not isValid(a) and isValid(c) and c.parent() is third.widget()


def test_scroll_same_name_twice_keeps_one_placement():
    root = make_root("a", "b")
    grid = scroll_fn(root, ("a", "a", "b")).widget().layout()
    assert grid.count() == 2
    assert cell(grid, host(root, "a")) == (0, 1) and cell(grid, host(root, "b")) == (1, 0)


# ---- the tabs ---------------------------------------------------------------------------------


def test_tabs_tree():
    root = make_root("w_b")
    result = tabs_fn(root, {"Chirp 1": ["w_a", "w_b", "w_c"], "Chirp 2": ["w_d"], "Empty": []},
                     root_margins=(1, 2, 3, 4), min_cell_size=(40, 30))
    lay = root.layout()
    assert margins(lay) == (1, 2, 3, 4) and lay.count() == 1
    tabs = lay.itemAt(0).widget()
    assert isinstance(tabs, QTabWidget) and tabs.parent() is root
    assert [tabs.tabText(i) for i in range(tabs.count())] == ["Chirp 1", "Chirp 2", "Empty"]
    assert list(result) == ["w_a", "w_b", "w_c", "w_d"]
    for i, (names, rows) in enumerate([(["w_a", "w_b", "w_c"], 2), (["w_d"], 1), ([], 0)]):
        page = tabs.widget(i)
        assert isinstance(page, QScrollArea) and page.widgetResizable()
        grid = page.widget().layout()
        assert [grid.rowStretch(r) for r in range(rows + 1)] == [0] * rows + [1]
        plain = QGridLayout(plain_widget := QWidget(page))
        assert (grid.horizontalSpacing(), margins(grid)) == (plain.horizontalSpacing(), margins(plain))
        plain_widget.setParent(None)
        for name in names:
            w = result[name]
            assert w.objectName() == name and w.parent() is page.widget()
            assert w.minimumSize() == QSize(40, 30)
            assert (w.sizePolicy().horizontalPolicy(), w.sizePolicy().verticalPolicy()) == (
                P.MinimumExpanding, P.MinimumExpanding)
    assert result["w_b"] is host(root, "w_b")


def test_tabs_empty_config_and_nested_hosts():
    root = QWidget()
    lay = QVBoxLayout(root)
    inner = QHBoxLayout()
    lay.addLayout(inner)
    label = QLabel("gone")
    lay.addWidget(label)
    nested, in_label = QWidget(), QWidget(label)
    nested.setObjectName("nested")
    in_label.setObjectName("in_label")
    inner.addWidget(nested)
    del in_label
    result = tabs_fn(root, {"T": ["nested", "in_label"]})
    assert result["nested"] is nested and label.parent() is None
    assert result["in_label"].parent() is result["nested"].parent()
    assert tabs_fn(root, {}) == {} and root.layout().itemAt(0).widget().count() == 0


def test_tabs_names_in_two_tabs_and_twice_in_one():
    root = QWidget()
    result = tabs_fn(root, {"A": ["x", "y"], "B": ["x", "y", "y"]})
    tabs = root.layout().itemAt(0).widget()
    page_a, page_b = (tabs.widget(i).widget() for i in range(2))
    x, ys = result["x"], page_b.findChildren(QWidget, "y")
    assert x.parent() is page_b and page_a.findChildren(QWidget) == []
    assert len(ys) == 2 and result["y"] is ys[1]
    assert cell(page_b.layout(), x) == (0, 0) and cell(page_b.layout(), ys[1]) == (0, 1)


def test_tab_widget_parts_are_never_hosts():
    # "" names the tab widget itself; moving it or its page stack into a page would hang Qt.
    root = QWidget()
    result = tabs_fn(root, {"A": ["a"], "B": ["", "qt_tabwidget_stackedwidget", "qt_tabwidget_tabbar"]})
    tabs = root.layout().itemAt(0).widget()
    assert tabs.count() == 2 and tabs.parent() is root
    assert all(w.parent() is tabs.widget(1).widget() for n, w in result.items() if n != "a")


def test_rebound_tab_widget_class_is_asked_only_documented_calls(monkeypatch):
    asked = []

    class Tabs(QTabWidget):
        def children(self):
            asked.append("children")
            return super().children()

    monkeypatch.setattr(plotdeck, "QTabWidget", Tabs)
    root = make_root("a")
    result = tabs_fn(root, {"A": ["a", "b"]})
    tabs = root.layout().itemAt(0).widget()
    assert type(tabs) is Tabs and tabs.count() == 1 and asked == []
    assert result["a"] is host(root, "a") and result["b"].objectName() == "b"


class LengthZero:
    """Names whose length claims none: the column height comes out 0, as len() gives it."""

    def __len__(self):
        return 0

    def __iter__(self):
        return iter(["a"])


def test_names_longer_than_their_length_divide_by_zero():
    root = make_root("a")
    with pytest.raises(ZeroDivisionError, match="integer division or modulo by zero"):
        tabs_fn(root, {"A": LengthZero()})


class Mutating(list):
    pass


@pytest.mark.parametrize("change, message, tabs_made", [
    (lambda d: d.update(extra=[]), "dictionary changed size during iteration", 1),
    (lambda d: (d.pop("A"), d.update(C=[])), "dictionary keys changed during iteration", 2),
])
def test_layout_config_changed_during_the_walk(change, message, tabs_made):
    # raised as iterating layout_config.items() raises it; the tabs finished so far stay
    config = {"A": ["a"], "B": ["b"]}

    class Changing:
        def __len__(self):
            change(config)
            return 1

        def __iter__(self):
            return iter(["a"])

    config["A"] = Changing()
    root = QWidget()
    with pytest.raises(RuntimeError) as info:
        tabs_fn(root, config)
    assert str(info.value) == message
    assert root.layout().itemAt(0).widget().count() == tabs_made


class StandInHost:
    """Offers only the calls the tab builder documents for a host found by name."""

    def __init__(self):
        self.calls = []

    def setMinimumSize(self, w, h):
        self.calls.append(("setMinimumSize", w, h))

    def setSizePolicy(self, h, v):
        self.calls.append("setSizePolicy")


def test_found_host_is_asked_only_documented_calls():
    root = QWidget()
    stand_in = StandInHost()
    found = []

    class Root(QWidget):
        def findChild(self, cls, name):
            found.append(name)
            return stand_in if name == "s" else super().findChild(cls, name)

    root = Root()

    class Grid(QGridLayout):
        def addWidget(self, w, r, c):  # a stand-in cannot sit in a real grid
            if w is stand_in:
                stand_in.calls.append(("placed", r, c))
            else:
                super().addWidget(w, r, c)

    saved = plotdeck.QGridLayout
    plotdeck.QGridLayout = Grid
    try:
        result = tabs_fn(root, {"T": ["s"]})
    finally:
        plotdeck.QGridLayout = saved
    assert result == {"s": stand_in} and found == ["s"]
    assert stand_in.calls == [("setMinimumSize", 500, 350), "setSizePolicy", ("placed", 0, 0)]


# ---- lifetimes --------------------------------------------------------------------------------


def test_tabs_twice_rebuilds_and_drops_the_first_hosts():
    root = QWidget()
    first = tabs_fn(root, {"A": ["a", "b"]})
    second = tabs_fn(root, {"A": ["a"]})
    gc.collect()
    # the first tab widget was never handed out, so it and its hosts are gone
    assert not any(isValid(w) for w in first.values())
    assert isValid(second["a"]) and host(root, "a") is second["a"] and host(root, "b") is None


def test_scroll_after_tabs_keeps_the_named_hosts_only():
    root = QWidget()
    made = tabs_fn(root, {"A": ["a", "b"], "B": ["c"]})
    scroll = scroll_fn(root, ["c", "a"])
    gc.collect()
    assert {n: isValid(w) for n, w in made.items()} == {"a": True, "b": False, "c": True}
    assert made["a"].parent() is scroll.widget()


def test_stress_alternating_calls():
    root = QWidget()
    QWidget(root).setObjectName("loose")
    for k in range(100):
        names = [f"h{(k + j) % 7}" for j in range(4)] + ["loose"]
        made = tabs_fn(root, {"A": names[:2], "B": names[1:], "C": []}, cols=k % 3)
        assert all(isValid(w) for w in made.values())
        scroll = scroll_fn(root, names[::-1] + ["nope"], cols=k % 4, min_cell_size=(10, 10),
                           host_heights={names[0]: 20} if k % 2 else 15)
        if k % 5 == 0:
            gc.collect()
        content = scroll.widget()
        assert all(isValid(w) and w.parent() is content for w in made.values())
        for name in made:
            plotdeck.build_sample_value_chart(root, name)
    gc.collect()
    assert isValid(scroll) and all(isValid(w) for w in made.values())


def test_no_leaks():
    root = make_root("a", "b")

    def both():
        tabs_fn(root, {"T": ["a", "b"], "U": ["c"]})
        scroll_fn(root, ["a", "c"], host_heights={"a": 10})

    for fn in (both,
               call_swallowing(scroll_fn, root, ["a"], host_heights={"a": "x"}),
               call_swallowing(scroll_fn, root, ["a"], cols="x"),
               call_swallowing(tabs_fn, root, {"T": ["a"], 5: ["b"]}),
               call_swallowing(tabs_fn, root, {"T": None})):
        assert_no_leak(fn, warmup=300, rounds=300)
