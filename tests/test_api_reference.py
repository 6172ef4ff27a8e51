"""docs/api.md and the type stubs document every public name of the modules, as the modules really are.

A public name is what a user imports or reaches through an object: a function or class that a
module binds under a name without a leading underscore and whose `__module__` is that module
(so the Qt classes, typing names, `np`, `math`, `Path`, `filedesk` and `T` that the modules
re-export are not), and, of such a class, every member it defines itself whose name has no
leading underscore (methods, properties, and attributes such as slot members and getters),
plus its constructor `__init__`, plus the public attributes its instances carry.

For each public name the stub installed beside the module (`larkui/<module>.pyi`, read with `ast`) carries an English
docstring whose first line is a sentence, with more below it, and whose "Args:" section lists
exactly the parameters of the runtime callable; every overload carries the same docstring
(editors show the one of the overload a call matches); the defaults written in the stub equal
the runtime's (stubtest skips enum defaults such as a pen style). An attribute is declared in
the stub class either as an annotated name or, when it is read-only, as a property, with a
docstring; the special methods that make a class a sequence, a container or comparable are
declared too, so that mypy sees what the class really supports. docs/api.md has a section per
module with a heading that holds the real signature of each callable, rendered from the runtime
(the bare name for a class that cannot be instantiated), and a row in an "attribute" table for
each attribute.
"""
import ast
import enum
import importlib
import inspect
import re
from dataclasses import dataclass
from pathlib import Path

import pytest

# Every module of the package; a module listed here that cannot be imported fails.
MODULES = ["larkui.plotdeck", "larkui.choosers", "larkui.finders", "larkui.streaming", "larkui.graphs"]

ROOT = Path(__file__).resolve().parent.parent
API_MD = ROOT / "docs" / "api.md"
# The stubs as installed beside the modules: the ones an editor reads.
STUB_DIR = Path(importlib.import_module("larkui").__file__).resolve().parent


def _make_buffer():
    from PySide6.QtCharts import QLineSeries

    from larkui.plotdeck import TimeSeriesBuffer

    return TimeSeriesBuffer(QLineSeries())


def _make_stream_buffer():
    from PySide6.QtCharts import QLineSeries

    from larkui.streaming import StreamBuffer

    return StreamBuffer(QLineSeries(), 100)


# Classes whose instances can be made here, to see which attributes a real instance carries;
# the attributes of other classes are the ones their stub declares.
INSTANCES = {"larkui.plotdeck.TimeSeriesBuffer": _make_buffer, "larkui.streaming.StreamBuffer": _make_stream_buffer}

# The special methods a stub must declare whenever the runtime class defines them: without them
# mypy refuses len(), indexing, iteration or comparison that work, or misses that a class is
# unhashable.
# (The order comparisons are left out: a compiled class that compares for equality has all six
# slots, and the four it does not support return NotImplemented.)
PROTOCOL_DUNDERS = ["__len__", "__getitem__", "__setitem__", "__delitem__", "__iter__", "__reversed__",
                    "__contains__", "__eq__", "__ne__", "__hash__", "__call__", "__enter__", "__exit__"]


@dataclass(frozen=True)
class Entry:
    module: str
    qualname: str  # "make_line", "TimeSeriesBuffer", "TimeSeriesBuffer.flush"
    kind: str  # "function", "class", "method", "property", "attribute"

    @property
    def id(self):
        return f"{self.module}.{self.qualname}"


def _import(modname):
    try:
        return importlib.import_module(modname)
    except ImportError:
        return None  # test_module_is_documented fails for it


def _is_public_member(name):
    return name == "__init__" or not name.startswith("_")


def _instantiable(cls):
    """False for a compiled class that refuses to be called (its instances come from elsewhere)."""
    return not cls.__flags__ & (1 << 7)  # Py_TPFLAGS_DISALLOW_INSTANTIATION


def _stub_path(modname):
    return STUB_DIR / (modname.rpartition(".")[2] + ".pyi")


def _stub_tree(modname):
    return ast.parse(_stub_path(modname).read_text(encoding="utf-8"))


def _stub_class(modname, class_name):
    tree = _stub_tree(modname)
    found = [n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == class_name]
    assert found, f"{_stub_path(modname).name} has no class {class_name}"
    return found[0]


def _is_property(node):
    return isinstance(node, ast.FunctionDef) and any(
        isinstance(d, ast.Name) and d.id == "property" for d in node.decorator_list)


def _stub_attributes(class_node, with_properties=False):
    """Attributes declared in a stub class body: name -> the docstring that follows, or None.

    With `with_properties`, read-only attributes declared as properties count too (a slot member
    or a getter of a compiled class is an attribute at runtime, and a property in a stub).
    """
    declared = {}
    body = class_node.body
    for i, node in enumerate(body):
        if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            after = body[i + 1] if i + 1 < len(body) else None
            doc = None
            if isinstance(after, ast.Expr) and isinstance(after.value, ast.Constant) and isinstance(after.value.value, str):
                doc = after.value.value
            declared[node.target.id] = doc
        elif with_properties and _is_property(node):
            declared[node.name] = ast.get_docstring(node, clean=False)
    return declared


def _is_signal(value):
    from PySide6.QtCore import Signal

    return isinstance(value, Signal)


def public_entries(modname):
    module = _import(modname)
    if module is None:
        return []
    entries = []
    for name, value in vars(module).items():
        if name.startswith("_") or not callable(value) or getattr(value, "__module__", None) != modname:
            continue
        if not inspect.isclass(value):
            entries.append(Entry(modname, name, "function"))
            continue
        entries.append(Entry(modname, name, "class"))
        for member, member_value in vars(value).items():
            if not _is_public_member(member):
                continue
            if isinstance(member_value, property):
                kind = "property"
            elif _is_signal(member_value):
                kind = "attribute"  # a Qt signal of a QObject subclass: connected, not called
            elif callable(member_value):
                kind = "method"
            else:
                kind = "attribute"
            entries.append(Entry(modname, f"{name}.{member}", kind))
        if _stub_path(modname).exists():
            names = {e.qualname for e in entries}
            for attr in _stub_attributes(_stub_class(modname, name)):
                if not attr.startswith("_") and f"{name}.{attr}" not in names:
                    entries.append(Entry(modname, f"{name}.{attr}", "attribute"))
    return entries


ENTRIES = [entry for modname in MODULES for entry in public_entries(modname)]
CALLABLES = [e for e in ENTRIES if e.kind != "attribute"]
ATTRIBUTES = [e for e in ENTRIES if e.kind == "attribute"]
CLASSES = [e for e in ENTRIES if e.kind == "class"]


def runtime_object(entry):
    module = importlib.import_module(entry.module)
    head, _, member = entry.qualname.partition(".")
    obj = getattr(module, head)
    return vars(obj)[member] if member else obj


# ---- the stubs ----


def stub_defs(entry):
    """The stub nodes that document an entry: every overload of a function, the class node."""
    tree = _stub_tree(entry.module)
    head, _, member = entry.qualname.partition(".")
    body = tree.body
    if member:
        body = _stub_class(entry.module, head).body
        head = member
    kinds = (ast.ClassDef,) if entry.kind == "class" else (ast.FunctionDef,)
    nodes = [n for n in body if isinstance(n, kinds) and n.name == head]
    assert nodes, f"{_stub_path(entry.module).name} does not declare {entry.qualname}"
    return nodes


def runtime_parameters(entry):
    """The parameter names a caller passes, without `self`."""
    obj = runtime_object(entry)
    if entry.kind == "property":
        return []
    params = list(inspect.signature(obj).parameters)
    return params[1:] if entry.kind == "method" else params


def args_section(doc):
    """The parameter names listed under "Args:", or None when there is no such section."""
    lines = inspect.cleandoc(doc).splitlines()
    try:
        start = next(i for i, line in enumerate(lines) if line.strip() == "Args:")
    except StopIteration:
        return None
    indent = len(lines[start]) - len(lines[start].lstrip())
    names, entry_indent = [], None
    for line in lines[start + 1:]:
        if not line.strip():
            continue
        depth = len(line) - len(line.lstrip())
        if depth <= indent:
            break
        if entry_indent is None:
            entry_indent = depth
        if depth == entry_indent:
            m = re.match(r"\s*(\w+)(?: \([^)]*\))?:", line)
            assert m, f"an Args entry is not 'name: text': {line.strip()!r}"
            names.append(m.group(1))
    return names


def assert_sound_docstring(doc, what):
    assert doc, f"{what} has no docstring in the stub"
    lines = inspect.cleandoc(doc).splitlines()
    summary = lines[0].strip()
    assert len(summary) >= 20 and summary.endswith("."), f"{what}: the first line is not a sentence: {summary!r}"
    assert any(line.strip() for line in lines[1:]), f"{what}: the docstring is one line; say more"
    assert len(doc) >= 80, f"{what}: the docstring is too short to document anything"


@pytest.mark.parametrize("modname", MODULES)
def test_module_is_documented(modname):
    module = importlib.import_module(modname)  # a listed module that is missing fails here
    assert _stub_path(modname).exists(), f"no stub {_stub_path(modname)}"
    assert_sound_docstring(ast.get_docstring(_stub_tree(modname), clean=False), f"the stub of {modname}")
    assert [e for e in ENTRIES if e.module == modname], f"{module} has no public names"
    assert modname in module_sections(), f"docs/api.md has no section headed `{modname}`"


@pytest.mark.parametrize("entry", CALLABLES, ids=lambda e: e.id)
def test_stub_docstring_documents_every_parameter(entry):
    nodes = stub_defs(entry)
    docs = [ast.get_docstring(n, clean=False) for n in nodes]
    assert len(set(docs)) == 1, f"the overloads of {entry.qualname} carry different docstrings"
    doc = docs[0]
    assert_sound_docstring(doc, entry.qualname)
    params = runtime_parameters(entry)
    if entry.kind == "class":
        return  # the constructor's parameters are documented on __init__
    listed = args_section(doc)
    if params:
        assert listed is not None, f"{entry.qualname}: no 'Args:' section for {params}"
        assert listed == params, f"{entry.qualname}: 'Args:' lists {listed}, the callable takes {params}"
    else:
        assert not listed, f"{entry.qualname} takes no arguments but documents {listed}"
    returns = nodes[0].returns
    returns_none = isinstance(returns, ast.Constant) and returns.value is None
    if entry.kind in ("function", "method") and entry.qualname.rpartition(".")[2] != "__init__" and not returns_none:
        assert re.search(r"^\s*Returns:$", doc, re.M), f"{entry.qualname}: no 'Returns:' section"


def _stub_namespace(modname):
    """The objects the stub's imports name, to evaluate defaults such as Qt.PenStyle.SolidLine."""
    names = {}
    for node in _stub_tree(modname).body:
        if isinstance(node, ast.ImportFrom):
            source = importlib.import_module(node.module)
            for alias in node.names:
                # a typing helper that this typing_extensions lacks is no default anyway
                if hasattr(source, alias.name):
                    names[alias.asname or alias.name] = getattr(source, alias.name)
        elif isinstance(node, ast.Import):
            for alias in node.names:
                names[alias.asname or alias.name] = importlib.import_module(alias.name)
    return names


def stub_default(node, namespace):
    try:
        return ast.literal_eval(node)
    except ValueError:
        pass
    parts = []
    while isinstance(node, ast.Attribute):
        parts.append(node.attr)
        node = node.value
    assert isinstance(node, ast.Name), f"a default the test cannot read: {ast.unparse(node)}"
    value = namespace[node.id]
    for part in reversed(parts):
        value = getattr(value, part)
    return value


def _has_defaults(entry):
    parameters = inspect.signature(runtime_object(entry)).parameters.values()
    return any(p.default is not p.empty for p in parameters)


@pytest.mark.parametrize("entry", [e for e in CALLABLES if e.kind in ("function", "method") and _has_defaults(e)],
                         ids=lambda e: e.id)
def test_stub_defaults_are_the_real_ones(entry):
    runtime = inspect.signature(runtime_object(entry)).parameters
    namespace = _stub_namespace(entry.module)
    for node in stub_defs(entry):
        args = node.args
        positional = args.posonlyargs + args.args
        pairs = list(zip(positional[len(positional) - len(args.defaults):], args.defaults))
        pairs += [(a, d) for a, d in zip(args.kwonlyargs, args.kw_defaults) if d is not None]
        for arg, default in pairs:
            written = stub_default(default, namespace)
            real = runtime[arg.arg].default
            assert written is not Ellipsis, f"{entry.qualname}({arg.arg}=...): write the real default, {real!r}"
            assert type(written) is type(real) and written == real, (
                f"{entry.qualname}: the stub's default of {arg.arg} is {ast.unparse(default)}, the module's {real!r}")


@pytest.mark.parametrize("class_id", sorted(INSTANCES))
def test_stub_declares_the_instance_attributes(class_id):
    modname, _, class_name = class_id.rpartition(".")
    assert Entry(modname, class_name, "class") in CLASSES, f"{class_id} is not a public class"
    declared = _stub_attributes(_stub_class(modname, class_name))
    real = {name for name in vars(INSTANCES[class_id]()) if not name.startswith("_")}
    missing = real - set(declared)
    assert not missing, f"the stub of {class_name} does not declare {sorted(missing)}"


@pytest.mark.parametrize("entry", ATTRIBUTES, ids=lambda e: e.id)
def test_stub_attribute_has_a_docstring(entry):
    class_name, _, attr = entry.qualname.partition(".")
    declared = _stub_attributes(_stub_class(entry.module, class_name), with_properties=True)
    assert attr in declared, f"the stub of {class_name} does not declare {attr}"
    doc = declared[attr]
    assert doc and len(doc) >= 20, f"{entry.qualname}: no docstring under its declaration in the stub"


@pytest.mark.parametrize("entry", CLASSES, ids=lambda e: e.id)
def test_stub_declares_the_special_methods(entry):
    cls = runtime_object(entry)
    node = _stub_class(entry.module, entry.qualname)
    declared = {n.name for n in node.body if isinstance(n, ast.FunctionDef)}
    declared |= {n.target.id for n in node.body if isinstance(n, ast.AnnAssign) and isinstance(n.target, ast.Name)}
    # `__hash__ = None` at runtime is what makes a class unhashable; a stub says so with a declaration
    missing = [name for name in PROTOCOL_DUNDERS if name in vars(cls) and name not in declared]
    assert not missing, f"the stub of {entry.qualname} does not declare {missing}"


# ---- docs/api.md ----


def module_sections():
    """The text of docs/api.md by module: each `## `larkui.x`` heading to the next `## ` heading."""
    sections, current = {}, None
    for line in API_MD.read_text(encoding="utf-8").splitlines():
        m = re.match(r"^## `([\w.]+)`\s*$", line)
        if m:
            current = m.group(1)
            sections[current] = []
        elif line.startswith("## "):
            current = None
        elif current is not None:
            sections[current].append(line)
    return sections


def heading_spans(lines):
    return {span for line in lines if line.startswith("#") for span in re.findall(r"`([^`]+)`", line)}


def render_default(value):
    if isinstance(value, str) and '"' not in value:
        return f'"{value}"'
    if isinstance(value, enum.Enum):
        return f"{type(value).__qualname__}.{value.name}"  # Qt.PenStyle.SolidLine
    return repr(value)


def render_signature(entry):
    """The signature line docs/api.md must carry, from the runtime: `make_line(chart, ..., width=2.0, ...)`."""
    obj = runtime_object(entry)
    head, _, member = entry.qualname.partition(".")
    if entry.kind == "property":
        return entry.qualname
    if entry.kind == "class" and not _instantiable(obj):
        return head
    if entry.kind == "class" or member == "__init__":
        name, signature = head, inspect.signature(runtime_object(Entry(entry.module, head, "class")))
        params = list(signature.parameters.values())
    else:
        name, params = entry.qualname, list(inspect.signature(obj).parameters.values())
        if entry.kind == "method":
            params = params[1:]
    parts, star = [], False
    for p in params:
        if p.kind is p.KEYWORD_ONLY and not star:
            parts.append("*")
            star = True
        if p.kind is p.VAR_POSITIONAL:
            star = True
        text = {p.VAR_POSITIONAL: "*", p.VAR_KEYWORD: "**"}.get(p.kind, "") + p.name
        if p.default is not p.empty:
            text += "=" + render_default(p.default)
        parts.append(text)
        if p.kind is p.POSITIONAL_ONLY and (params.index(p) + 1 == len(params)
                                             or params[params.index(p) + 1].kind is not p.POSITIONAL_ONLY):
            parts.append("/")
    return f"{name}({', '.join(parts)})"


@pytest.mark.parametrize("entry", CALLABLES, ids=lambda e: e.id)
def test_api_md_has_the_real_signature(entry):
    section = module_sections().get(entry.module)
    assert section is not None, f"docs/api.md has no section headed `{entry.module}`"
    expected = render_signature(entry)
    assert expected in heading_spans(section), f"docs/api.md has no heading `{expected}` under `{entry.module}`"


def class_section(entry):
    """The lines of docs/api.md under the class's constructor heading, up to the next heading."""
    class_name = entry.qualname.partition(".")[0]
    signature = render_signature(Entry(entry.module, class_name, "class"))
    lines, inside = [], False
    for line in module_sections().get(entry.module, []):
        if line.startswith("#"):
            inside = f"`{signature}`" in line
        elif inside:
            lines.append(line)
    return lines


def attribute_table_names(lines):
    """The first cells of the tables whose header's first cell is "attribute"."""
    names, in_table = set(), False
    for line in lines:
        cells = [c.strip() for c in line.strip().strip("|").split("|")] if line.lstrip().startswith("|") else None
        if cells is None:
            in_table = False
        elif cells[0] == "attribute":
            in_table = True
        elif in_table and not set(cells[0]) <= set("-: "):
            names.update(re.findall(r"^`(\w+)`$", cells[0]))
    return names


@pytest.mark.parametrize("entry", ATTRIBUTES, ids=lambda e: e.id)
def test_api_md_lists_the_attribute(entry):
    attr = entry.qualname.partition(".")[2]
    assert attr in attribute_table_names(class_section(entry)), (
        f"docs/api.md has no row for `{attr}` in an 'attribute' table under {entry.qualname.partition('.')[0]}")
